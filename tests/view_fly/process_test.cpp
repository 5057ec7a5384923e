// The real programs together under a private X server: the stand-in universe
// server (in this process), the console client and Panorel as child processes, keys
// pressed through the X server's test extension (xdotool).
#include "tests/client_app/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One message the stand-in server logged as received from a player.
struct Logged {
    double time = 0.0;
    bool event = false;      // EventPacket (projectile) rather than StatusPacket
    unsigned type = 0;
    float x = 0, y = 0, z = 0, w = 0;
};

std::vector<Logged> Received(const UniverseStandin& server)
{
    std::vector<Logged> out;
    for (const std::string& line : server.LogLines()) {
        Logged m;
        unsigned byte1 = 0, player = 0;
        int vessel = 0;
        char mode[32];
        if (std::sscanf(line.c_str(), "[%lf] recv %31s player %X vessel %d: StatusPacket type %u byte1 %u X %f Y %f Z %f W %f",
                        &m.time, mode, &player, &vessel, &m.type, &byte1, &m.x, &m.y, &m.z, &m.w) == 10) {
            out.push_back(m);
        } else if (line.find("EventPacket (82 bytes) projectile") != std::string::npos) {
            std::sscanf(line.c_str(), "[%lf]", &m.time);
            m.event = true;
            out.push_back(m);
        }
    }
    return out;
}

int CountOf(const std::vector<Logged>& all, unsigned type, double after = 0.0)
{
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const Logged& m) {
        return !m.event && m.type == type && m.time >= after;
    }));
}

// When the view's registration (type 7, X 1.0) reached the server.
double Joined(const std::vector<Logged>& all)
{
    for (const Logged& m : all) {
        if (!m.event && m.type == 7 && m.x == 1.0f) return m.time;
    }
    return 1e9;
}

int Shots(const std::vector<Logged>& all)
{
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](const Logged& m) { return m.event; }));
}

// Smallest gap between consecutive messages of a type.
double SmallestGap(const std::vector<Logged>& all, unsigned type)
{
    double last = -1.0, smallest = 1e9;
    for (const Logged& m : all) {
        if (m.event || m.type != type) continue;
        if (last >= 0.0) smallest = std::min(smallest, m.time - last);
        last = m.time;
    }
    return smallest;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

// Panorel in the scratch folder, its window given the keyboard.
class ViewProcess : public apptest::ViewProcess {
public:
    bool Start(const std::string& folder) { return apptest::ViewProcess::Start(PANOREL_PROGRAM, folder); }
    // The window, found by its title and given the keyboard.
    bool Focus()
    {
        window_ = apptest::PanorelWindow(30);
        if (window_.empty()) return false;
        return std::system(("xdotool windowfocus --sync " + window_).c_str()) == 0;
    }
    static void Key(const std::string& action) { std::system(("xdotool " + action).c_str()); }

private:
    std::string window_;
};

class PanorelProcess : public apptest::StandinRun {
protected:
    void Configure(int propulsion, int joystick)
    {
        std::ofstream(scratch.Path() + "/Panorel.cfg") << "0 20 127.0.0.1 " << propulsion << ' ' << joystick << " 142\n";
    }
    // Server, console client and view, up to the view's window having the keyboard.
    void StartAll()
    {
        ASSERT_NO_FATAL_FAILURE(StartServerAndClient());
        ASSERT_TRUE(view.Start(scratch.Path()));
        ASSERT_NE(client.WaitFor("Sent new peer application all ship position data", 90000), std::string::npos)
            << client.Output() << view.Output();
        ASSERT_TRUE(view.Focus()) << view.Output();
    }
    ViewProcess view;
};

}  // namespace

TEST_F(PanorelProcess, FliesReportsFiresAndEndsWithEscape)
{
    Configure(1, 0);
    StartAll();

    // Reports flow: wait for three attitude reports, then look at all of them.
    ASSERT_TRUE(WaitUntil([&] { return CountOf(Received(*server), 6) >= 3; }, 60s)) << view.Output();
    std::vector<Logged> seen = Received(*server);
    ASSERT_LT(Joined(seen), 1e9);
    EXPECT_GE(CountOf(seen, 0, Joined(seen)), 2);
    EXPECT_GE(SmallestGap(seen, 6), 0.9);   // once a second
    EXPECT_GE(SmallestGap(seen, 0), 0.9);
    EXPECT_GE(CountOf(seen, 8), 3 * CountOf(seen, 6));   // twelve a second at most, many per second
    EXPECT_GE(CountOf(seen, 4), 3 * CountOf(seen, 6));

    // One shot a press.
    const int shots = Shots(seen);
    ViewProcess::Key("key F6");
    ASSERT_TRUE(WaitUntil([&] { return Shots(Received(*server)) == shots + 1; }, 30s));
    ViewProcess::Key("key F6");
    ViewProcess::Key("key F6");
    ASSERT_TRUE(WaitUntil([&] { return Shots(Received(*server)) >= shots + 3; }, 30s));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Shots(Received(*server)), shots + 3);

    // Held F9 lifts the vessel: the reported velocity changes.
    seen = Received(*server);
    Logged before;
    for (const Logged& m : seen) {
        if (!m.event && m.type == 4) before = m;
    }
    const double pressed = before.time;
    ViewProcess::Key("keydown F9");
    const bool moved = WaitUntil(
        [&] {
            for (const Logged& m : Received(*server)) {
                const double change = std::fabs(m.x - before.x) + std::fabs(m.y - before.y) + std::fabs(m.z - before.z);
                if (!m.event && m.type == 4 && m.time > pressed && change > 0.005) return true;
            }
            return false;
        },
        20s);
    ViewProcess::Key("keyup F9");
    EXPECT_TRUE(moved);

    ViewProcess::Key("key Escape");
    EXPECT_EQ(view.WaitExit(30s), 0) << view.Output();
    EXPECT_EQ(view.Output().find("controller"), std::string::npos) << view.Output();
}

TEST_F(PanorelProcess, WithoutPropulsionNothingIsReportedButShotsFly)
{
    Configure(0, 0);
    StartAll();
    const int shots = Shots(Received(*server));
    ViewProcess::Key("key F6");
    ASSERT_TRUE(WaitUntil([&] { return Shots(Received(*server)) == shots + 1; }, 30s)) << view.Output();
    std::this_thread::sleep_for(2s);
    const std::vector<Logged> seen = Received(*server);
    const double joined = Joined(seen);
    ASSERT_LT(joined, 1e9);
    EXPECT_EQ(CountOf(seen, 0, joined), 0);
    EXPECT_EQ(CountOf(seen, 6, joined), 0);
    EXPECT_EQ(CountOf(seen, 8, joined), 0);
    ViewProcess::Key("key Escape");
    EXPECT_EQ(view.WaitExit(30s), 0) << view.Output();
}

TEST_F(PanorelProcess, JoystickWithoutAControllerShowsTheBoxAndEnds)
{
    Configure(1, 1);
    ASSERT_TRUE(view.Start(scratch.Path()));
    EXPECT_EQ(view.WaitExit(60s), 0) << view.Output();
    EXPECT_NE(view.Output().find("[error box] Fatal Error!: Game controller not found. Check the device or disable "
                                 "it in the configuration.\n"),
              std::string::npos)
        << view.Output();
}
