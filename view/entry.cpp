#include "view/entry.h"

#include "common/frame_clock.h"
#include "platform/sys/paths.h"
#include "platform/ui/window.h"
#include "view/cockpit_app.h"
#include "view/controller.h"
#include "view/link.h"
#include "view/link_session.h"
#include "view/log_file.h"
#include "view/state.h"

#include <cstdio>
#include <memory>

namespace {

constexpr double DEGREES_TO_RADIANS = 0.017453292;
constexpr float DEFAULT_FIELD_OF_VIEW = 0.34906587f;
constexpr int HOST_ADDRESS_LENGTH = sizeof HostAddress / sizeof HostAddress[0];

HRESULT StartApplication(CockpitApplication& app, HINSTANCE instance) { return app.StartUp(instance); }
int RunLoop(CockpitApplication& app) { return app.RunMessageLoop(); }
void CloseClient()
{
    if (DirectPlayClient) DirectPlayClient->Close(0);
}

EntryServices g_services = DefaultEntryServices();

void SetHostAddress(const char* narrow)
{
    int i = 0;
    for (; narrow[i] && i < HOST_ADDRESS_LENGTH - 1; ++i)
        HostAddress[i] = static_cast<char16_t>(static_cast<unsigned char>(narrow[i]));
    HostAddress[i] = u'\0';
}

bool ScanFloat(std::FILE* file, float& value) { return std::fscanf(file, "%f", &value) == 1; }
bool ScanInt(std::FILE* file, int& value) { return std::fscanf(file, "%i", &value) == 1; }

// One whitespace-free token, cut to what HostAddress holds; the rest of a longer
// token is skipped.
bool ScanAddress(std::FILE* file)
{
    char token[HOST_ADDRESS_LENGTH] = {};
    if (std::fscanf(file, "%127s", token) != 1) return false;
    std::fscanf(file, "%*[^ \t\n\v\f\r]");
    SetHostAddress(token);
    return true;
}

// The address as the bytes it was read from (each character holds one byte), so
// the log line never depends on the locale.
void AddressForLog(char (&out)[HOST_ADDRESS_LENGTH])
{
    int i = 0;
    for (; HostAddress[i] && i < HOST_ADDRESS_LENGTH - 1; ++i) out[i] = static_cast<char>(HostAddress[i]);
    out[i] = '\0';
}

void ShowError(const char* text, const char* caption) { MessageBoxA(MainWindow.load(), text, caption, MB_ICONERROR); }

// Closes the window through the framework, which shuts the device and the scene
// down in its order; no frame runs.
void ShutDownWithoutFrames(CockpitApplication& app)
{
    if (app.MainWindow && IsWindow(app.MainWindow)) SendMessageA(app.MainWindow, WM_CLOSE, 0, 0);
}

}  // namespace

EntryServices DefaultEntryServices()
{
    EntryServices services{};
    services.startUp = StartApplication;
    services.initGameController = InitGameController;
    services.releaseGameController = ReleaseGameController;
    services.initDirectPlay = InitDirectPlay;
    services.createDeviceAddress = CreateDeviceAddress;
    services.enumHosts = EnumDirectPlayHosts;
    services.connectToSession = ConnectToSession;
    services.sendPacket = SendPacket;
    services.waitForInitialState = WaitForInitialState;
    services.runMessageLoop = RunLoop;
    services.closeLink = CloseClient;
    return services;
}

void SetEntryServices(const EntryServices& services) { g_services = services; }

int ReadConfiguration(const char* path)
{
    std::FILE* file = std::fopen(ResolvePath(path).c_str(), "rt");
    if (!file) {
        ViewOffset = 0.0f;
        FieldOfView = DEFAULT_FIELD_OF_VIEW;
        SetHostAddress("127.0.0.1");
        PropulsionEnabled = 0;
        JoystickEnabled = 0;
        WriteLogText("Could not open \"Panorel.cfg\" file, using defaults...\n");
        return CONFIGURATION_VERSION;
    }
    WriteLogText("Reading \"Panorel.cfg\" file...\n");
    float offset = 0.0f, fieldOfView = 0.0f;
    if (ScanFloat(file, offset)) ViewOffset = static_cast<float>(offset * DEGREES_TO_RADIANS);
    WriteLog("Offset: %f\n", static_cast<double>(ViewOffset));
    if (ScanFloat(file, fieldOfView)) FieldOfView = static_cast<float>(fieldOfView * DEGREES_TO_RADIANS);
    WriteLog("FOV: %f\n", static_cast<double>(FieldOfView));
    ScanAddress(file);
    char address[HOST_ADDRESS_LENGTH];
    AddressForLog(address);
    WriteLog("IP address: (%s)\n", address);
    int propulsion = 0, joystick = 0, version = 0;
    if (ScanInt(file, propulsion)) PropulsionEnabled = propulsion == 1 ? 1 : 0;
    WriteLog("Propulsion: %i\n", PropulsionEnabled);
    if (ScanInt(file, joystick)) JoystickEnabled = joystick == 1 ? 1 : 0;
    WriteLog("Joystick: %i\n", JoystickEnabled);
    if (!ScanInt(file, version)) version = 0;
    WriteLog("Configuration version: %i\n", version);
    std::fclose(file);
    return version;
}

int WinMain(HINSTANCE instance, HINSTANCE, char*, int)
{
    const int version = ReadConfiguration();
    auto app = std::make_unique<CockpitApplication>();
    if (FAILED(g_services.startUp(*app, instance))) return 0;
    MainWindow.store(app->MainWindow);

    if (JoystickEnabled && FAILED(g_services.initGameController(MainWindow.load()))) {
        ShutDownWithoutFrames(*app);
        return 0;
    }

    if (version == CONFIGURATION_VERSION)
        MessageBoxA(MainWindow.load(), "The program will normally take a moment to load.", "Initializing...",
                    MB_ICONINFORMATION);
    else
        MessageBoxA(MainWindow.load(), "The configuration file version does not match the application build...",
                    "Caution!", MB_ICONINFORMATION);

    bool connected = false;
    if (FAILED(g_services.initDirectPlay()))
        ShowError("Failed on InitDirectPlay, please report this error.", "Fatal Error!");
    else if (FAILED(g_services.createDeviceAddress()))
        ShowError("Failed on CreateDeviceAddress, please report this error.", "Fatal Error!");
    else if (FAILED(g_services.enumHosts()))
        ShowError("Failed on EnumDirectPlayHosts, please report this error.", "Fatal Error!");
    else if (FAILED(g_services.connectToSession()))
        ShowError("Failed on ConnectToSession.\n\nPlease verify your Console Client program is running and is "
                  "currently\nconnected to the Meridax Industries server and try again.",
                  "Check Connection");
    else
        connected = true;

    if (connected) {
        StatusPacket announcement{};
        announcement.Type = 7;
        announcement.X = 1.0f;
        announcement.Y = static_cast<float>(CONFIGURATION_VERSION);
        announcement.Z = 1.0f;
        announcement.W = PropulsionEnabled ? 1.0f : 0.0f;
        g_services.sendPacket(&announcement, sizeof announcement, 1, 0);

        for (VesselState& vessel : Vessels) vessel.LastUpdate = FrameClock(CLOCK_SINCE_RESET);

        if (g_services.waitForInitialState())
            g_services.runMessageLoop(*app);
        else
            ShutDownWithoutFrames(*app);
    } else {
        ShutDownWithoutFrames(*app);
    }

    g_services.closeLink();
    if (JoystickEnabled) g_services.releaseGameController();
    return 0;
}
