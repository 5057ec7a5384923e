// Panorel.cfg and the start-up sequence with fakes for the framework's start,
// the controller and the link.
#include "../view/view_test_support.h"
#include "app_fixture.h"
#include "platform/ui/window.h"
#include "view/cockpit_app.h"
#include "view/entry.h"
#include "view/log_file.h"
#include "view/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::u16string Address()
{
    return std::u16string(HostAddress);
}

class Configuration : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewtest::ResetViewState();
        std::memset(HostAddress, 0, sizeof HostAddress);
        FieldOfView = ViewOffset = 0.0f;
        viewtest::CaptureLog();
        path_ = viewtest::ScratchFolder() + "/Panorel.cfg";
    }
    int Read(const std::string& text)
    {
        viewtest::WriteBytes(path_, std::vector<std::uint8_t>(text.begin(), text.end()));
        return ReadConfiguration(path_.c_str());
    }
    std::string path_;
};

TEST_F(Configuration, MissingFileGivesTheDefaultsAndOneLine)
{
    EXPECT_EQ(ReadConfiguration(path_.c_str()), 142);
    EXPECT_EQ(viewtest::LogText(), "Could not open \"Panorel.cfg\" file, using defaults...\r\n");
    EXPECT_EQ(FieldOfView, 0.34906587f);
    EXPECT_EQ(ViewOffset, 0.0f);
    EXPECT_EQ(Address(), u"127.0.0.1");
    EXPECT_EQ(PropulsionEnabled, 0);
    EXPECT_EQ(JoystickEnabled, 0);
}

TEST_F(Configuration, CompleteFileWithCrLfLogsEveryValue)
{
    EXPECT_EQ(Read("10 30\r\nhost-7.example 1\r\n1 142\r\n"), 142);
    EXPECT_EQ(viewtest::LogText(),
              "Reading \"Panorel.cfg\" file...\r\n"
              "Offset: 0.174533\r\n"
              "FOV: 0.523599\r\n"
              "IP address: (host-7.example)\r\n"
              "Propulsion: 1\r\n"
              "Joystick: 1\r\n"
              "Configuration version: 142\r\n");
    EXPECT_EQ(ViewOffset, static_cast<float>(10.0 * 0.017453292));
    EXPECT_EQ(FieldOfView, static_cast<float>(30.0 * 0.017453292));
    EXPECT_EQ(Address(), u"host-7.example");
}

TEST_F(Configuration, NameMatchesInAnyLetterCase)
{
    const std::string upper = path_.substr(0, path_.size() - 11) + "PANOREL.CFG";
    viewtest::WriteBytes(upper, {'0', ' ', '1', '0', ' ', 'h', ' ', '1', ' ', '0', ' ', '9'});
    EXPECT_EQ(ReadConfiguration(path_.c_str()), 9);
    EXPECT_EQ(PropulsionEnabled, 1);
}

TEST_F(Configuration, FileEndingAfterTheAddressLeavesTheRestAtProgramStart)
{
    EXPECT_EQ(Read("-5 20 10.0.0.7"), 0);
    EXPECT_EQ(ViewOffset, static_cast<float>(-5.0 * 0.017453292));
    EXPECT_EQ(FieldOfView, static_cast<float>(20.0 * 0.017453292));
    EXPECT_EQ(Address(), u"10.0.0.7");
    EXPECT_EQ(PropulsionEnabled, 0);
    EXPECT_EQ(JoystickEnabled, 0);
    const std::string log = viewtest::LogText();
    EXPECT_NE(log.find("Propulsion: 0\r\nJoystick: 0\r\nConfiguration version: 0\r\n"), std::string::npos);
}

TEST_F(Configuration, IntegersScanInCNotation)
{
    struct Case {
        const char* text;
        int propulsion, version;
    };
    // "08" scans as 0 and leaves the 8 for the next value.
    for (const Case& c : {Case{"0 20 h 0x1 0 141", 1, 141}, Case{"0 20 h 01 0 0x8E", 1, 142},
                          Case{"0 20 h 2 0 142", 0, 142}, Case{"0 20 h -1 0 142", 0, 142},
                          Case{"0 20 h 08 1 142", 0, 1}}) {
        SCOPED_TRACE(c.text);
        PropulsionEnabled = 0;
        JoystickEnabled = 1;
        EXPECT_EQ(Read(c.text), c.version);
        EXPECT_EQ(PropulsionEnabled, c.propulsion);
        EXPECT_EQ(JoystickEnabled, 0);
    }
}

TEST_F(Configuration, LongAddressIsCutAndTheValuesAfterItStillScan)
{
    const std::string address(200, 'a');
    EXPECT_EQ(Read("0 20 " + address + "b 1 0 142"), 142);
    EXPECT_EQ(Address(), std::u16string(127, u'a'));
    EXPECT_EQ(HostAddress[127], u'\0');
    EXPECT_EQ(PropulsionEnabled, 1);
    EXPECT_NE(viewtest::LogText().find("IP address: (" + std::string(127, 'a') + ")\r\n"), std::string::npos);
}

TEST_F(Configuration, AddressBeyondAsciiKeepsItsLogLine)
{
    EXPECT_EQ(Read("0 20 h\xC3\xB4st 1 0 142"), 142);
    EXPECT_EQ(Address(), std::u16string(u"h\u00C3\u00B4st"));
    EXPECT_NE(viewtest::LogText().find("IP address: (h\xC3\xB4st)\r\nPropulsion: 1\r\n"), std::string::npos)
        << viewtest::LogText();
}

// ---- the start-up with fakes

std::vector<std::string> g_calls;
std::vector<std::string> g_boxes;
std::vector<std::uint8_t> g_sent;
std::string g_failing;
bool g_initialState = true;

HRESULT Step(const char* name)
{
    g_calls.push_back(name);
    return g_failing == name ? E_FAIL : S_OK;
}

EntryServices Fakes()
{
    EntryServices s{};
    s.startUp = [](CockpitApplication&, HINSTANCE) { return Step("startUp"); };
    s.initGameController = [](HWND) { return Step("initGameController"); };
    s.releaseGameController = [] { Step("releaseGameController"); };
    s.initDirectPlay = [] { return Step("initDirectPlay"); };
    s.createDeviceAddress = [] { return Step("createDeviceAddress"); };
    s.enumHosts = [] { return Step("enumHosts"); };
    s.connectToSession = [] { return Step("connectToSession"); };
    s.sendPacket = [](const void* buffer, DWORD size, std::uint8_t guaranteed, DWORD timeout) {
        Step("sendPacket");
        const auto* p = static_cast<const std::uint8_t*>(buffer);
        g_sent.assign(p, p + size);
        EXPECT_EQ(guaranteed, 1);
        EXPECT_EQ(timeout, 0u);
    };
    s.waitForInitialState = [] {
        Step("wait");
        return g_initialState;
    };
    s.runMessageLoop = [](CockpitApplication&) { return static_cast<int>(Step("runMessageLoop")); };
    s.closeLink = [] { Step("closeLink"); };
    return s;
}

void RecordBox(const char* text, const char* caption, UINT type)
{
    g_boxes.push_back(std::string(caption) + ": " + text + (type == MB_ICONERROR ? " (error)" : " (information)"));
}

const std::string INITIALIZING = "Initializing...: The program will normally take a moment to load. (information)";

class StartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewtest::ResetViewState();
        g_calls.clear();
        g_boxes.clear();
        g_sent.clear();
        g_failing.clear();
        g_initialState = true;
        SetEntryServices(Fakes());
        SetMessageBoxRecorder(RecordBox);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        previous_ = cwd;
        folder_ = viewtest::ScratchFolder();
        ASSERT_EQ(chdir(folder_.c_str()), 0);
    }
    void TearDown() override
    {
        SetEntryServices(DefaultEntryServices());
        SetMessageBoxRecorder(nullptr);
        EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    void Configure(const std::string& text)
    {
        viewtest::WriteBytes(folder_ + "/Panorel.cfg", std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::string previous_, folder_;
};

using Calls = std::vector<std::string>;

TEST_F(StartUp, ConnectedRunRegistersWaitsAndLoops)
{
    Configure("0 20 127.0.0.1 1 0 142");
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(g_calls, (Calls{"startUp", "initDirectPlay", "createDeviceAddress", "enumHosts", "connectToSession",
                              "sendPacket", "wait", "runMessageLoop", "closeLink"}));
    EXPECT_EQ(g_boxes, (Calls{INITIALIZING}));
    // Type 7, no vessel, X 1, Y 142, Z 1, W the propulsion flag.
    const std::vector<std::uint8_t> expected = {7, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x0E, 0x43,
                                                0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(g_sent, expected);
}

TEST_F(StartUp, EachFailingLinkStepShowsItsBoxThenClosesTheLink)
{
    struct Case {
        const char* step;
        const char* box;
    };
    Configure("0 20 127.0.0.1 0 0 141");
    for (const Case& c :
         {Case{"initDirectPlay", "Fatal Error!: Failed on InitDirectPlay, please report this error. (error)"},
          Case{"createDeviceAddress", "Fatal Error!: Failed on CreateDeviceAddress, please report this error. (error)"},
          Case{"enumHosts", "Fatal Error!: Failed on EnumDirectPlayHosts, please report this error. (error)"},
          Case{"connectToSession",
               "Check Connection: Failed on ConnectToSession.\n\nPlease verify your Console Client program is running "
               "and is currently\nconnected to the Meridax Industries server and try again. (error)"}}) {
        SCOPED_TRACE(c.step);
        g_calls.clear();
        g_boxes.clear();
        g_failing = c.step;
        EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
        EXPECT_EQ(g_calls.end()[-2], c.step);
        EXPECT_EQ(g_calls.back(), "closeLink");
        EXPECT_EQ(g_boxes, (Calls{"Caution!: The configuration file version does not match the application build... "
                                  "(information)",
                                  c.box}));
    }
}

TEST_F(StartUp, FailedStartEndsAtOnceAndAMissingControllerBeforeAnyBox)
{
    g_failing = "startUp";
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(g_calls, (Calls{"startUp"}));

    Configure("0 20 127.0.0.1 0 1 142");
    g_calls.clear();
    g_failing = "initGameController";
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(g_calls, (Calls{"startUp", "initGameController"}));
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(StartUp, ARefusalDuringTheWaitRunsNoFrameAndReleasesTheController)
{
    Configure("0 20 127.0.0.1 1 1 142");
    g_initialState = false;
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(g_calls, (Calls{"startUp", "initGameController", "initDirectPlay", "createDeviceAddress", "enumHosts",
                              "connectToSession", "sendPacket", "wait", "closeLink", "releaseGameController"}));
}

}  // namespace

namespace {

// The real framework start on headless windows and graphics, in a folder with the
// model files; the link is faked and refuses.
class RefusedStart : public viewapp::AppTest {};

TEST_F(RefusedStart, ShutsTheFrameworkDownWithoutAFrame)
{
    viewtest::WriteBytes(folder_ + "/universe.dat", viewtest::UniverseImage({}));
    viewtest::WriteBytes(folder_ + "/Panorel.cfg", {'0', ' ', '2', '0', ' ', 'h', ' ', '1', ' ', '0', ' ', '1', '4', '2'});
    SetHeadlessGraphics(true);
    SetHeadlessWindows(true);
    g_calls.clear();
    g_boxes.clear();
    g_failing.clear();
    g_initialState = false;
    EntryServices services = Fakes();
    services.startUp = [](CockpitApplication& app, HINSTANCE instance) {
        Step("startUp");
        return app.StartUp(instance);
    };
    SetEntryServices(services);
    SetMessageBoxRecorder(RecordBox);

    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    SetEntryServices(DefaultEntryServices());
    SetMessageBoxRecorder(nullptr);

    EXPECT_EQ(g_calls, (Calls{"startUp", "initDirectPlay", "createDeviceAddress", "enumHosts", "connectToSession",
                              "sendPacket", "wait", "closeLink"}));
    EXPECT_EQ(g_boxes, (Calls{INITIALIZING}));
    // The scene was loaded, no frame ran, and the scene's shut-down closed the log.
    EXPECT_NE(viewtest::LogText().find("InitDeviceObjects() exiting sucessfully!\r\n"), std::string::npos);
    EXPECT_EQ(FirstFrameDone, 0);
    EXPECT_EQ(LogDescriptor.load(), -1);
    EXPECT_FALSE(IsWindow(MainWindow.load()));
}

}  // namespace
