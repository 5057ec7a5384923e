// The server message handler in-process, through the session hooks: what it stores,
// computes and passes on for single messages.
#include "client/client_state.h"
#include "client/console_app.h"
#include "client/server_link.h"
#include "client/wire.h"
#include "common/frame_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Sent {
    bool toServer;
    DPNID to;
    std::vector<BYTE> data;
    DWORD timeoutMs, flags;
};
std::vector<Sent> g_sent;

class ServerLink : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = GetClientSessionHooks();
        ClientSessionHooks h;
        h.sendToServer = [](const void* d, DWORD n, DWORD t, DWORD f) {
            g_sent.push_back({true, 0, {static_cast<const BYTE*>(d), static_cast<const BYTE*>(d) + n}, t, f});
            return S_OK;
        };
        h.sendToPeer = [](DPNID to, const void* d, DWORD n, DWORD t, DWORD f) {
            g_sent.push_back({false, to, {static_cast<const BYTE*>(d), static_cast<const BYTE*>(d) + n}, t, f});
            return S_OK;
        };
        h.serverRoundTripMs = [] { return DWORD{40}; };
        h.endProcess = [] {};
        SetClientSessionHooks(h);
        g_sent.clear();
        FrameClock(CLOCK_RESUME);
    }
    void TearDown() override
    {
        SetClientSessionHooks(saved_);
        SessionOnline.store(0);
        ScopedSection rotation(PlanetRotation.lock);
        PlanetRotation.angle = PlanetRotation.rate = 0.0f;
    }
    static void Deliver(const StatusPacket& p) { HandleServerData(&p, sizeof p); }
    ClientSessionHooks saved_;
};

// On configuration the planet is turned on from its universe.dat angle, first by the
// seconds, then by the hours of the universe clock, each step kept below 2 pi.
TEST_F(ServerLink, ConfigurationTurnsThePlanetToTheUniverseTimeAndAnswers)
{
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.registration = 5.0f;  // assigned: nothing goes to the registry
    }
    {
        ScopedSection rotation(PlanetRotation.lock);
        PlanetRotation.angle = 1.0f;
        PlanetRotation.rate = 0.001f;
    }
    testing::internal::CaptureStdout();
    Deliver(MakeStatusPacket(STATUS_CONFIGURATION, 3, 100.0f, 142.0f, 2.0f, 7.0f));
    testing::internal::GetCapturedStdout();
    float secondsNow;
    {
        ScopedSection time(UniverseClock.lock);
        EXPECT_EQ(UniverseClock.ownVessel, 3);
        EXPECT_EQ(UniverseClock.hours, 2.0f);
        EXPECT_NEAR(UniverseClock.secondsAtSetup, 100.02f, 1e-4f);  // plus half of 40 ms
        secondsNow = UniverseSecondsNow();
    }
    // Seconds: 1.0 + 100.02 * 0.001; hours: + 2 * 3600 * 0.001 = 8.30002, less 2 pi.
    ASSERT_LT(secondsNow, 100.1f);
    const double expected = 1.0 + 100.02 * 0.001 + 7.2 - 6.2831855;
    {
        ScopedSection rotation(PlanetRotation.lock);
        EXPECT_NEAR(PlanetRotation.angle, expected, 1e-4);
    }
    // The answer: build 142 and the kept registration, guaranteed, no time-out.
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_TRUE(g_sent[0].toServer);
    const StatusPacket answer = MakeStatusPacket(STATUS_CONFIGURATION, 0, 0.0f, 142.0f, 0.0f, 5.0f);
    const auto* bytes = reinterpret_cast<const BYTE*>(&answer);
    EXPECT_EQ(g_sent[0].data, std::vector<BYTE>(bytes, bytes + sizeof answer));
    EXPECT_EQ(g_sent[0].timeoutMs, 0u);
    EXPECT_EQ(g_sent[0].flags, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
}

// A position from the server is carried forward by d = T - W, the vessel's universe
// time T less the sample time W, at the velocity relative to the ground.
TEST_F(ServerLink, PositionIsCarriedForwardToTheVesselsTime)
{
    ShipRecord& s = Ships[4];
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.secondsAtSetup = 200.0f;
        UniverseClock.localReference = 10.0f;
    }
    {
        ScopedSection ship(s.lock);
        s.lastUpdate = 30.0f;  // T = 200 + 30 - 10 = 220
        s.velocity = D3DXVECTOR3(0.1f, -0.2f, 0.05f);
        s.surfaceVelocity = D3DXVECTOR3(0.02f, 0.0f, 0.0f);
        s.onGround = 1;  // the velocity is not turned
    }
    Deliver(MakeStatusPacket(STATUS_POSITION, 4, 3000.0f, 100.0f, -50.0f, 215.0f));
    ScopedSection ship(s.lock);
    EXPECT_NEAR(s.doublePosition[0], 3000.0 + 0.08 * 5, 1e-4);
    EXPECT_NEAR(s.doublePosition[1], 100.0 - 0.2 * 5, 1e-4);
    EXPECT_NEAR(s.doublePosition[2], -50.0 + 0.05 * 5, 1e-4);
    EXPECT_NEAR(s.position.x, 3000.4f, 1e-3f);
}

// Messages from the server reach the views unchanged in their mode before they are
// stored; a vessel number outside the table or a value that is not a number stops a
// message whole; a velocity below 1000 km stores the replacement radius.
TEST_F(ServerLink, RelaysBeforeStoringAndDropsWhatCannotBeUsed)
{
    SessionOnline.store(1);
    const StatusPacket velocity = MakeStatusPacket(STATUS_VELOCITY, 6, 0.5f, 0.25f, 0.125f, 999.9f);
    Deliver(velocity);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_FALSE(g_sent[0].toServer);
    EXPECT_EQ(g_sent[0].to, 0u);  // every view
    EXPECT_EQ(g_sent[0].flags, DPNSEND_GUARANTEED | DPNSEND_NOLOOPBACK);
    EXPECT_EQ(g_sent[0].timeoutMs, 1000u);
    const auto* bytes = reinterpret_cast<const BYTE*>(&velocity);
    EXPECT_EQ(g_sent[0].data, std::vector<BYTE>(bytes, bytes + sizeof velocity));
    {
        ScopedSection ship(Ships[6].lock);
        EXPECT_EQ(Ships[6].velocity, D3DXVECTOR3(0.5f, 0.25f, 0.125f));
        EXPECT_EQ(Ships[6].groundRadius, 2939.601f);
    }
    Deliver(MakeStatusPacket(STATUS_VELOCITY, 7, 0.0f, 0.0f, 0.0f, 1000.0f));
    {
        ScopedSection ship(Ships[7].lock);
        EXPECT_EQ(Ships[7].groundRadius, 1000.0f);  // 1000 itself is kept
    }
    g_sent.clear();
    Deliver(MakeStatusPacket(STATUS_VELOCITY, 8, 9.0f, 9.0f, 9.0f, 3000.0f));
    Deliver(MakeStatusPacket(STATUS_VELOCITY, 6, 9.0f, NAN, 9.0f, 3000.0f));
    Deliver(MakeStatusPacket(STATUS_ATTITUDE, 6, 0.0f, 0.0f, 0.0f, INFINITY));
    EXPECT_TRUE(g_sent.empty());
    ScopedSection ship(Ships[6].lock);
    EXPECT_EQ(Ships[6].velocity, D3DXVECTOR3(0.5f, 0.25f, 0.125f));
    EXPECT_EQ(Ships[6].groundRadius, 2939.601f);
}

// Each pass rolls the hour once the universe seconds pass 3600 and turns the planet
// by dt times its rate, wrapping once at 2 pi.
TEST_F(ServerLink, EachPassRollsTheHourAndTurnsThePlanet)
{
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.hours = 4.0f;
        UniverseClock.secondsAtSetup = 3599.0f;
        UniverseClock.localReference = FrameClock(CLOCK_SINCE_RESET) - 2.0f;  // now 3601 s
    }
    {
        ScopedSection rotation(PlanetRotation.lock);
        PlanetRotation.angle = 6.2f;
        PlanetRotation.rate = 0.2f;
    }
    AdvanceUniverseClockAndPlanet(0.5f);
    {
        ScopedSection time(UniverseClock.lock);
        EXPECT_EQ(UniverseClock.hours, 5.0f);
        EXPECT_NEAR(UniverseSecondsNow(), 1.0f, 0.5f);
    }
    {
        ScopedSection rotation(PlanetRotation.lock);
        EXPECT_NEAR(PlanetRotation.angle, 6.3 - 6.2831855, 1e-5);
        PlanetRotation.angle = 0.05f;
        PlanetRotation.rate = -0.2f;
    }
    AdvanceUniverseClockAndPlanet(0.5f);  // within the hour: no roll; negative: not wrapped
    {
        ScopedSection time(UniverseClock.lock);
        EXPECT_EQ(UniverseClock.hours, 5.0f);
    }
    ScopedSection rotation(PlanetRotation.lock);
    EXPECT_NEAR(PlanetRotation.angle, -0.05f, 1e-6f);
}

}  // namespace
