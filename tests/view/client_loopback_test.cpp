// The view's link against the real console client, itself connected to a scripted
// universe server: enumerate, connect, register, the initial state, a refusal, and
// the console client's exit. Each test process has its own network namespace.
#include "tests/client_app/harness.h"

#include "platform/net/net_tuning.h"
#include "tests/support/isolate.h"
#include "view/link_session.h"
#include "view/log_file.h"
#include "session_link_support.h"
#include "view_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>

namespace {

constexpr auto npos = std::string::npos;
std::atomic<int> g_closePosts{0};

class ClientLoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewtest::ResetViewState();
        viewtest::CaptureLog();
        viewtest::UseLoopbackHost();
        ASSERT_TRUE(apptest::StartClient(server, scratch, client));
    }
    void TearDown() override { viewtest::CloseLink(); }

    // The link's set-up as the start-up runs it, with the window parts recorded.
    HRESULT Join()
    {
        return viewtest::JoinLocalSession([] { ++g_closePosts; }, [](const char* text, const char*, UINT) {
            ADD_FAILURE() << "box: " << text;
        });
    }

    void Register(bool propulsion)
    {
        const StatusPacket p = MakeStatusPacket(STATUS_SHUTDOWN, 0, 1.0f, 142.0f, 1.0f, propulsion ? 1.0f : 0.0f);
        SendPacket(&p, sizeof p, 1, 0);
    }

    apptest::ScriptedServer server;
    apptest::Scratch scratch;
    apptest::ClientProcess client;
};

TEST_F(ClientLoopback, RegisterReceiveTheInitialStateAndCloseWhenTheClientExits)
{
    g_closePosts = 0;
    // Vessel 5 is online with a state before the view attaches.
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_PLAYER_ONLINE, 5, 0, 0, 0, 7777.0f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_VELOCITY, 5, 0.1f, 0.2f, 0.3f, 2945.0f), true), S_OK);
    ASSERT_EQ(server.SendStatus(MakeStatusPacket(STATUS_POSITION, 5, 0.0f, 2990.0f, 0.0f, 100.0f), true), S_OK);
    ASSERT_NE(client.WaitFor("] New player online (IVR: 527777):  5\n"), npos) << client.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    ASSERT_EQ(Join(), S_OK);
    Register(true);
    auto wait = std::async(std::launch::async, [] { return WaitForInitialState(); });
    ASSERT_EQ(wait.wait_for(std::chrono::seconds(5)), std::future_status::ready) << client.Output();
    EXPECT_TRUE(wait.get());

    // The registration reached the server unchanged.
    apptest::Received reg;
    ASSERT_TRUE(server.inbox.WaitFor([](const apptest::Received& r) { return apptest::IsStatus(r, STATUS_SHUTDOWN); },
                                     3000, &reg));
    EXPECT_EQ(reg.Status().X, 1.0f);
    EXPECT_EQ(reg.Status().Y, 142.0f);
    EXPECT_EQ(reg.Status().Z, 1.0f);
    EXPECT_EQ(reg.Status().W, 1.0f);

    // The scripted server gave the console client vessel 2 at 5 h 100 s.
    EXPECT_EQ(OwnVesselIndex.load(), 2);
    EXPECT_FLOAT_EQ(UniverseHours.load(), 5.0f);
    EXPECT_GE(UniverseSecondsAtSetup.load(), 100.0f);
    EXPECT_LT(UniverseSecondsAtSetup.load(), 200.0f);
    EXPECT_FLOAT_EQ(Vessels[2].Registration, 3001.0f);
    EXPECT_EQ(Vessels[5].Present, 1);
    EXPECT_FLOAT_EQ(Vessels[5].Registration, 7777.0f);
    EXPECT_FLOAT_EQ(Vessels[5].GroundRadius, 2945.0f);
    EXPECT_NEAR(Vessels[5].Position.y, 2990.0f, 1.0f);
    EXPECT_NE(viewtest::LogText().find("Initial setup of 2 sent T:0 "), npos);
    EXPECT_EQ(g_closePosts.load(), 0);

    // The console client exits: its leave notice closes the view's window.
    client.Type("\x1b");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_closePosts.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(g_closePosts.load(), 1) << client.Output();
    EXPECT_EQ(CloseRequested.load(), 1);
    ASSERT_NE(client.WaitFor("\nPress any key to exit...\n"), npos) << client.Output();
    client.Type("x");
    EXPECT_EQ(client.WaitExit(), 0);
}

TEST_F(ClientLoopback, RefusalEndsTheStartUpWaitWithinASecond)
{
    g_closePosts = 0;
    // Another view already flies the own vessel.
    apptest::TestView pilot;
    ASSERT_EQ(pilot.Join(), S_OK);
    ASSERT_EQ(pilot.Register(true), S_OK);
    ASSERT_TRUE(pilot.inbox.WaitFor(
        [](const apptest::Received& r) { return apptest::IsStatus(r, STATUS_SETUP_COMPLETE); }));

    ASSERT_EQ(Join(), S_OK);
    auto wait = std::async(std::launch::async, [] { return WaitForInitialState(); });
    const auto start = std::chrono::steady_clock::now();
    Register(true);
    ASSERT_EQ(wait.wait_for(std::chrono::seconds(1)), std::future_status::ready) << client.Output();
    EXPECT_FALSE(wait.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(g_closePosts.load(), 1);
    EXPECT_EQ(OwnVesselIndex.load(), VESSEL_NONE);
    EXPECT_EQ(InitialStateComplete.load(), 0);
    EXPECT_NE(client.WaitFor("] Propulsion already enabled through another peer!\n", 5000), npos);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!IsolateTestNetwork())
        setenv("MERIDAX_NET_TEST_PORT_BASE", std::to_string(GetNetTuning().basePort).c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
