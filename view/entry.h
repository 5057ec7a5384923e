#pragma once
// The view program's start-up: Panorel.cfg, the application object, the link to
// the console client, the frame loop and the shut-down.
#include "platform/sys/hresult.h"
#include "platform/ui/win_types.h"

class CockpitApplication;

constexpr int CONFIGURATION_VERSION = 142;

// Reads the configuration file into ViewOffset, FieldOfView, HostAddress,
// PropulsionEnabled and JoystickEnabled and writes its log lines. Returns the
// configuration version: 142 when the file is missing, 0 when it was not read.
int ReadConfiguration(const char* path = "Panorel.cfg");

// What the start-up calls outside itself; tests install fakes.
struct EntryServices {
    HRESULT (*startUp)(CockpitApplication& app, HINSTANCE instance);
    HRESULT (*initGameController)(HWND window);
    void (*releaseGameController)();
    HRESULT (*initDirectPlay)();
    HRESULT (*createDeviceAddress)();
    HRESULT (*enumHosts)();
    HRESULT (*connectToSession)();
    void (*sendPacket)(const void* buffer, DWORD size, std::uint8_t guaranteed, DWORD timeoutMs);
    bool (*waitForInitialState)();
    int (*runMessageLoop)(CockpitApplication& app);
    void (*closeLink)();
};
EntryServices DefaultEntryServices();
void SetEntryServices(const EntryServices& services);

int WinMain(HINSTANCE instance, HINSTANCE previous, char* commandLine, int showCommand);
