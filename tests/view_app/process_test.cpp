// The real Panorel with the real console client and the stand-in universe server
// under a private X server: each view in its own folder of generated sample data.
#include "tests/client_app/harness.h"
#include "tools/sample-data/sample_data.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto npos = std::string::npos;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Panorel in its own folder of sample data.
class Panorel : public apptest::ViewProcess {
public:
    explicit Panorel(std::string folder) : folder_(std::move(folder)) {}
    // Sample data in the folder; `configuration` empty: no Panorel.cfg.
    bool Prepare(const std::string& configuration)
    {
        std::string error;
        if (!sample_data::WriteSampleData(folder_, &error)) return false;
        std::filesystem::remove(folder_ + "/Panorel.cfg");
        if (!configuration.empty()) std::ofstream(folder_ + "/Panorel.cfg") << configuration;
        return true;
    }
    bool Start() { return ViewProcess::Start(PANOREL_PROGRAM, folder_); }
    std::string Log() const { return Slurp(folder_ + "/logfile.txt"); }
    bool OutputHas(const std::string& text, std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        while (Output().find(text) == npos) {
            if (Clock::now() > end) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    std::string Diagnosis() const { return "--- Panorel output:\n" + Output() + "--- log:\n" + Log(); }

private:
    std::string folder_;
};

// What a window manager sends when the user closes the window.
void RequestClose(unsigned long window)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

// Position of `line` in `text` after `from`; npos when missing.
std::size_t After(const std::string& text, const std::string& line, std::size_t from)
{
    return from == npos ? npos : text.find(line, from);
}

class PanorelRun : public apptest::StandinRun {
protected:
    // A view with propulsion started and given slot 0 by the client.
    void Join(Panorel& view)
    {
        ASSERT_TRUE(view.Prepare("0 20 127.0.0.1 1 0 142\n"));
        ASSERT_TRUE(view.Start());
        ASSERT_NE(client.WaitFor("] Peer program application instance assigned slot:  0\n", 60000), npos)
            << client.Output() << view.Diagnosis();
    }
    // Frames run: the loading screen loads the texture set.
    static void WaitLoaded(const Panorel& view)
    {
        for (int i = 0; i < 600 && view.Log().find("blast43.dds loaded") == npos; ++i) std::this_thread::sleep_for(50ms);
    }
};

TEST_F(PanorelRun, JoinsTheClientAndEndsOnACloseRequest)
{
    StartServerAndClient();
    Panorel view(scratch.Path() + "/view");
    ASSERT_NO_FATAL_FAILURE(Join(view));
    // The registration relayed: type 7, X 1, Y the build, Z 1, W propulsion.
    EXPECT_TRUE(ServerLogHas("StatusPacket type 7 byte1 0 X 1.000 Y 142.000 Z 1.000 W 1.000"));
    const std::string window = apptest::PanorelWindow(60);
    ASSERT_FALSE(window.empty()) << view.Diagnosis();
    EXPECT_TRUE(view.OutputHas("[information box] Initializing...: The program will normally take a moment to load.\n",
                               1s))
        << view.Diagnosis();
    WaitLoaded(view);

    RequestClose(std::stoul(window));
    EXPECT_EQ(view.WaitExit(30s), 0) << view.Diagnosis();

    const std::string log = view.Log();
    std::size_t at = After(log, "Reading \"Panorel.cfg\" file...\r\nOffset: 0.000000\r\nFOV: 0.349066\r\n"
                                "IP address: (127.0.0.1)\r\nPropulsion: 1\r\nJoystick: 0\r\n"
                                "Configuration version: 142\r\n", 0);
    EXPECT_EQ(at, 0u) << log;
    at = After(log, "OneTimeSceneInit() called!\r\nOneTimeSceneInit() exiting successfully!\r\nBuild: 142 (11/01/2002)  Mode: ",
               at);
    at = After(log, "\r\nInitDeviceObjects() called!\r\nInitDeviceObjects() font for HUD loaded!\r\n"
                    "InitDeviceObjects() created all vertex buffers!\r\n"
                    "Creating memory (", at);
    at = After(log, " vertices) for polygon object number 0...\r\n", at);
    at = After(log, "Creating memory (6750 vertices) for polygon object number 2...\r\n", at);
    at = After(log, "Creating memory (13500 vertices) for polygon object number 5...\r\n", at);
    at = After(log, " vertices) for polygon object number 7...\r\nInitDeviceObjects() exiting sucessfully!\r\n", at);
    at = After(log, "InitDeviceObjects() blast43.dds loaded!\r\n", at);
    EXPECT_NE(at, npos) << log;
}

TEST_F(PanorelRun, ASecondViewAskingForPropulsionIsRefusedAndEnds)
{
    StartServerAndClient();
    Panorel first(scratch.Path() + "/first");
    ASSERT_NO_FATAL_FAILURE(Join(first));
    WaitLoaded(first);

    Panorel second(scratch.Path() + "/second");
    ASSERT_TRUE(second.Prepare("0 20 127.0.0.1 1 0 142\n"));
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitExit(60s), 0) << client.Output() << second.Diagnosis();
    // Refused before its first frame: the loading screen never ran.
    EXPECT_NE(second.Log().find("InitDeviceObjects() exiting sucessfully!"), npos) << second.Diagnosis();
    EXPECT_EQ(second.Log().find("cloud8.dds loaded"), npos) << second.Diagnosis();
    EXPECT_EQ(client.Output().find("slot:  1"), npos) << client.Output();

    // The first view goes on until the console client ends; then it ends too.
    EXPECT_EQ(first.WaitExit(0ms), -1);
    apptest::LeaveWithEscape(client);
    EXPECT_EQ(first.WaitExit(30s), 0) << first.Diagnosis();
}

TEST(PanorelAlone, WithoutAClientOrConfigurationItAsksToCheckTheConnection)
{
    apptest::Scratch scratch;
    Panorel view(scratch.Path() + "/view");
    ASSERT_TRUE(view.Prepare(""));
    ASSERT_TRUE(view.Start());
    EXPECT_EQ(view.WaitExit(90s), 0) << view.Diagnosis();
    const std::string output = view.Output();
    EXPECT_NE(output.find("[information box] Initializing...: "), npos) << output;
    EXPECT_NE(output.find("[error box] Check Connection: Failed on ConnectToSession.\n\nPlease verify your Console "
                          "Client program is running and is currently\nconnected to the Meridax Industries server "
                          "and try again.\n"),
              npos)
        << output;
    EXPECT_EQ(view.Log().rfind("Could not open \"Panorel.cfg\" file, using defaults...\r\nOneTimeSceneInit() called!", 0),
              0u)
        << view.Log();
}

}  // namespace
