#include "view_test_support.h"

#include "platform/sys/crt.h"
#include "view/ground.h"
#include "view/link.h"
#include "view/log_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <random>
#include <thread>

using namespace viewtest;

namespace {

int CountLines(const std::string& text, const std::string& prefix)
{
    int n = 0;
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) ++n;
    return n;
}

class Link : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        CaptureLog();
    }
    void TearDown() override { CloseLogFile(); }

    // The state after a completed start-up with the given own vessel.
    void Started(std::uint8_t own)
    {
        OwnVesselIndex = own;
        InitialStateComplete = 1;
    }
};

TEST_F(Link, InitialStateSequence)
{
    Recorder().roundTrip = 40;
    Deliver(STATUS_CONFIGURATION, 3, 100.0f, 0.0f, 5.0f, 1234.0f);
    Deliver(STATUS_PLAYER_ONLINE, 6, 0, 0, 0, 506.0f);
    for (std::uint8_t i = 0; i < 8; ++i) {
        Deliver(STATUS_VELOCITY, i, 0.01f * i, 0.0f, 0.0f, 2950.0f);
        const float height = i == 7 ? 2000.0f : 2960.0f + i;  // vessel 7 reported under ground
        Deliver(STATUS_POSITION, i, 0.0f, height, 0.0f, 99.0f);
        Deliver(STATUS_ATTITUDE, i, 0.0f, 0.0f, 0.0f, 1.0f);
        Deliver(STATUS_RATES, i, 0.0f, 0.0f, 0.0f, 99.0f);
    }
    EXPECT_EQ(InitialStateComplete.load(), 0);
    Deliver(STATUS_SETUP_COMPLETE, 0);

    EXPECT_EQ(InitialStateComplete.load(), 1);
    EXPECT_TRUE(WaitForInitialState());
    EXPECT_EQ(OwnVesselIndex.load(), 3);
    EXPECT_FLOAT_EQ(UniverseHours.load(), 5.0f);
    EXPECT_FLOAT_EQ(UniverseSecondsAtSetup.load(), 100.02f);
    EXPECT_FLOAT_EQ(Vessels[3].Registration, 1234.0f);
    EXPECT_FLOAT_EQ(Vessels[6].Registration, 506.0f);
    EXPECT_EQ(Vessels[6].Present, 1);
    EXPECT_EQ(Vessels[3].Present, 0);

    D3DXMATRIX scaling;
    D3DXMatrixScaling(&scaling, 0.001f, 0.001f, 0.001f);
    for (int i = 0; i < 8; ++i) {
        const VesselState& v = Vessels[i];
        EXPECT_EQ(v.Model, 0);
        EXPECT_FLOAT_EQ(v.HitRadius, 0.038f);
        EXPECT_FLOAT_EQ(v.Scale, 0.001f);
        EXPECT_EQ(v.ModelMatrix, scaling);
        EXPECT_EQ(__builtin_popcount(v.BlinkBits), 1) << i;
        EXPECT_GE(v.BlinkInterval, 0.045f);
        EXPECT_LE(v.BlinkInterval, 0.055f);
        EXPECT_EQ(v.LastBlink, 0.0f);
        // The own vessel's ground radius comes from the terrain (none measured yet).
        EXPECT_FLOAT_EQ(v.GroundRadius, i == 3 ? 2939.604f : 2950.0f) << i;
        EXPECT_EQ(v.TargetPosition, v.Position);
        EXPECT_EQ(v.PreviousPosition, v.Position);
        if (i < 7) {
            EXPECT_EQ(v.Position, D3DXVECTOR3(0.0f, 2960.0f + i, 0.0f));
        }
        // Placed relative to the own vessel (3 at 2963 km).
        EXPECT_FLOAT_EQ(v.WorldMatrix._11, 0.001f);
        EXPECT_FLOAT_EQ(v.WorldMatrix._42, static_cast<float>(v.DoublePosition[1] - 2963.0) * -1.0f) << i;
    }
    // Put onto its ground radius during the start-up.
    EXPECT_NEAR(Vessels[7].Position.y, 2950.0f, 1e-3f);
    EXPECT_EQ(Vessels[7].Landed, 1);

    // Every status message up to and including type 3 was logged, none after.
    const std::string log = LogText();
    EXPECT_EQ(CountLines(log, "Initial setup of "), 1 + 1 + 8 * 4 + 1);
    EXPECT_EQ(log.rfind("Initial setup of 3 sent T:0 X:100.000000 Y:0.000000 Z:5.000000 W:1234.000000\r\n", 0), 0u);
    Deliver(STATUS_ATTITUDE, 2, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(LogText(), log);
    EXPECT_EQ(Recorder().closePosts, 0);
    EXPECT_TRUE(Recorder().sent.empty());
}

TEST_F(Link, SetupDrawsBlinkValuesFromTheRuntimeGenerator)
{
    crt::Srand(1);
    Deliver(STATUS_CONFIGURATION, 0, 0, 0, 0, 1.0f);
    crt::RandomGenerator expected;
    for (const VesselState& v : Vessels) {
        EXPECT_EQ(v.BlinkBits, 0x80000000u >> (expected.Next() % 32));
        EXPECT_FLOAT_EQ(v.BlinkInterval, static_cast<float>(expected.Next() / 32767.0 / 100.0 + 0.045));
    }
}

TEST_F(Link, DeadReckoningAcrossTheHour)
{
    Started(0);
    VesselState& v = Vessels[2];
    v.Position = D3DXVECTOR3(5.0f, 6.0f, 7.0f);
    v.Velocity = D3DXVECTOR3(0.15f, 0.0f, 0.0f);
    v.SurfaceVelocity = D3DXVECTOR3(0.05f, 0.0f, 0.0f);

    // Own time 3598 s, sample taken at 2 s of the next hour: 4 s in the future.
    UniverseSecondsAtSetup = 3590.0f;
    LocalTimeAtSetup = 0.0f;
    v.LastUpdate = 8.0f;
    Deliver(STATUS_POSITION, 2, 100.0f, 200.0f, 300.0f, 2.0f);
    EXPECT_EQ(v.PreviousPosition, D3DXVECTOR3(5.0f, 6.0f, 7.0f));
    EXPECT_NEAR(v.TargetPosition.x, 100.0f - 0.4f, 1e-4f);
    EXPECT_FLOAT_EQ(v.TargetPosition.y, 200.0f);
    // The master position is left to the simulation's pull.
    EXPECT_EQ(v.DoublePosition[0], 0.0);

    // Own time 5 s, sample from 3595 s of the previous hour: 10 s old.
    UniverseSecondsAtSetup = 0.0f;
    v.LastUpdate = 5.0f;
    Deliver(STATUS_POSITION, 2, 100.0f, 200.0f, 300.0f, 3595.0f);
    EXPECT_NEAR(v.TargetPosition.x, 101.0f, 1e-4f);

    // Within the hour.
    UniverseSecondsAtSetup = 90.0f;
    v.LastUpdate = 10.0f;
    Deliver(STATUS_POSITION, 2, 100.0f, 200.0f, 300.0f, 98.0f);
    EXPECT_NEAR(v.TargetPosition.x, 100.2f, 1e-4f);
}

TEST_F(Link, ReportDelayWrapsIntoHalfAnHourEitherWay)
{
    EXPECT_EQ(WrapReportDelay(0.0f), 0.0f);
    EXPECT_EQ(WrapReportDelay(-1800.0f), -1800.0f);
    EXPECT_EQ(WrapReportDelay(1800.0f), -1800.0f);
    EXPECT_EQ(WrapReportDelay(1799.5f), 1799.5f);
    EXPECT_EQ(WrapReportDelay(-1800.5f), 1799.5f);
    EXPECT_EQ(WrapReportDelay(3596.0f), -4.0f);
    EXPECT_EQ(WrapReportDelay(-3590.0f), 10.0f);
    EXPECT_EQ(WrapReportDelay(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(WrapReportDelay(std::numeric_limits<float>::infinity()), 0.0f);
    const float big = WrapReportDelay(1e12f);
    EXPECT_GE(big, -1800.0f);
    EXPECT_LT(big, 1800.0f);
}

TEST_F(Link, VesselReports)
{
    Started(1);
    Deliver(STATUS_PLAYER_ONLINE, 4, 9, 9, 9, 77.0f);
    EXPECT_EQ(Vessels[4].Present, 1);
    EXPECT_FLOAT_EQ(Vessels[4].Registration, 77.0f);

    Deliver(STATUS_VELOCITY, 4, 0.1f, 0.2f, 0.3f, 2941.5f);
    EXPECT_EQ(Vessels[4].Velocity, D3DXVECTOR3(0.1f, 0.2f, 0.3f));
    EXPECT_FLOAT_EQ(Vessels[4].GroundRadius, 2941.5f);
    // Below 1000 km the ground radius is replaced as the console client does; above
    // the top of the atmosphere (3002.6 km) it is held there.
    const float tooHigh[] = {3002.7f, 1e30f, std::numeric_limits<float>::max()};
    const float tooLow[] = {999.9f, 0.0f, -5000.0f, -1e30f};
    for (float w : tooLow) {
        Deliver(STATUS_VELOCITY, 4, 0.1f, 0.2f, 0.3f, w);
        EXPECT_EQ(Vessels[4].GroundRadius, 2939.601f) << w;
    }
    for (float w : tooHigh) {
        Deliver(STATUS_VELOCITY, 4, 0.1f, 0.2f, 0.3f, w);
        EXPECT_EQ(Vessels[4].GroundRadius, 3002.6f) << w;
    }
    for (float w : {1000.0f, 3002.6f}) {
        Deliver(STATUS_VELOCITY, 4, 0.1f, 0.2f, 0.3f, w);
        EXPECT_EQ(Vessels[4].GroundRadius, w);
    }
    // A radius that is not a number drops the whole report.
    for (float w : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        Deliver(STATUS_VELOCITY, 4, 0.5f, 0.6f, 0.7f, w);
        EXPECT_EQ(Vessels[4].GroundRadius, 3002.6f) << w;
        EXPECT_EQ(Vessels[4].Velocity, D3DXVECTOR3(0.1f, 0.2f, 0.3f)) << w;
    }
    Deliver(STATUS_VELOCITY, 4, 0.1f, 0.2f, 0.3f, 2941.5f);

    Deliver(STATUS_ATTITUDE, 4, 0.1f, 0.2f, 0.3f, 0.9f);
    EXPECT_EQ(Vessels[4].Attitude, D3DXQUATERNION(0.1f, 0.2f, 0.3f, 0.9f));

    Deliver(STATUS_RATES, 4, 0.3f, 0.6f, 0.9f, 1.0f);
    EXPECT_EQ(Vessels[4].Rates, D3DXVECTOR3(0.3f, 0.6f, 0.9f));
    EXPECT_EQ(StickPitch.load(), 0.0f);
    // A rates report for the own vessel also sets the sticks to a third.
    Deliver(STATUS_RATES, 1, 0.3f, 0.6f, -0.9f, 1.0f);
    EXPECT_FLOAT_EQ(StickPitch.load(), 0.1f);
    EXPECT_FLOAT_EQ(StickRoll.load(), 0.2f);
    EXPECT_FLOAT_EQ(StickYaw.load(), -0.3f);

    // Types above 8 are ignored.
    Deliver(9, 4, 5, 5, 5, 5);
    Deliver(200, 4, 5, 5, 5, 5);
    EXPECT_EQ(Vessels[4].Rates, D3DXVECTOR3(0.3f, 0.6f, 0.9f));
}

TEST_F(Link, LogOff)
{
    Started(0);
    Vessels[5].Present = Vessels[6].Present = 1;
    Vessels[5].GroundRadius = Vessels[6].GroundRadius = 2945.0f;
    Vessels[6].Landed = 1;
    Deliver(STATUS_PLAYER_OFFLINE, 5);
    Deliver(STATUS_PLAYER_OFFLINE, 6);
    EXPECT_EQ(Vessels[5].Present, 0);
    EXPECT_EQ(Vessels[6].Present, 0);
    EXPECT_FLOAT_EQ(Vessels[5].GroundRadius, 2939.604f);
    EXPECT_FLOAT_EQ(Vessels[6].GroundRadius, 2945.0f);  // on the ground: kept
}

TEST_F(Link, VesselNumbersOutsideTheTableAreIgnored)
{
    Started(0);
    for (std::uint8_t v : {std::uint8_t(8), std::uint8_t(100), std::uint8_t(254), std::uint8_t(255)}) {
        for (std::uint8_t type : {1, 2, 4, 5, 6, 8}) Deliver(type, v, 1, 2, 3, 4);
    }
    for (const VesselState& v : Vessels) {
        EXPECT_EQ(v.Present, 0);
        EXPECT_EQ(v.Velocity, D3DXVECTOR3());
        EXPECT_EQ(v.Rates, D3DXVECTOR3());
        EXPECT_EQ(v.TargetPosition, D3DXVECTOR3());
    }
    EXPECT_EQ(StickPitch.load(), 0.0f);
    EXPECT_EQ(Recorder().closePosts, 0);
}

TEST_F(Link, ValuesThatAreNotNumbersNeverReachAVessel)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Started(0);
    VesselState& v = Vessels[3];
    v.Velocity = D3DXVECTOR3(0.1f, 0.2f, 0.3f);
    v.Attitude = D3DXQUATERNION(0, 0, 0, 1);
    v.Rates = D3DXVECTOR3(0.01f, 0.02f, 0.03f);
    v.GroundRadius = 2945.0f;
    for (int axis = 0; axis < 4; ++axis) {
        for (float bad : {nan, inf, -inf}) {
            float f[4] = {1.0f, 2.0f, 3.0f, 4.0f};
            f[axis] = bad;
            if (axis < 3) {
                Deliver(STATUS_POSITION, 3, f[0], f[1], f[2], 5.0f);
                Deliver(STATUS_VELOCITY, 3, f[0], f[1], f[2], 2950.0f);
                Deliver(STATUS_RATES, 3, f[0], f[1], f[2], 5.0f);
                Deliver(STATUS_RATES, 0, f[0], f[1], f[2], 5.0f);  // own: the sticks too
            }
            Deliver(STATUS_ATTITUDE, 3, f[0], f[1], f[2], f[3]);
        }
    }
    EXPECT_EQ(v.TargetPosition, D3DXVECTOR3());
    EXPECT_EQ(v.Velocity, D3DXVECTOR3(0.1f, 0.2f, 0.3f));
    EXPECT_FLOAT_EQ(v.GroundRadius, 2945.0f);
    EXPECT_EQ(v.Attitude, D3DXQUATERNION(0, 0, 0, 1));
    EXPECT_EQ(v.Rates, D3DXVECTOR3(0.01f, 0.02f, 0.03f));
    EXPECT_EQ(Vessels[0].Rates, D3DXVECTOR3());
    EXPECT_EQ(StickPitch.load(), 0.0f);
    EXPECT_EQ(StickYaw.load(), 0.0f);

    // Before the start-up ends a position places the vessel directly: never as NaN.
    ResetViewState();
    Deliver(STATUS_CONFIGURATION, 1, 10.0f, 0.0f, 2.0f, 5.0f);
    Deliver(STATUS_POSITION, 4, nan, 2950.0f, 0.0f, 5.0f);
    EXPECT_EQ(Vessels[4].DoublePosition[0], 0.0);
    EXPECT_EQ(Vessels[4].Position, D3DXVECTOR3());

    // A set-up whose clock is not a number is not acted on; the end of the initial
    // state then ends the start-up.
    ResetViewState();
    Deliver(STATUS_CONFIGURATION, 1, nan, 0.0f, 2.0f, 5.0f);
    Deliver(STATUS_CONFIGURATION, 1, 10.0f, 0.0f, inf, 5.0f);
    EXPECT_EQ(OwnVesselIndex.load(), VESSEL_NONE);
    EXPECT_EQ(UniverseSecondsAtSetup.load(), 0.0f);
    Deliver(STATUS_SETUP_COMPLETE, 0);
    EXPECT_FALSE(WaitForInitialState());
}

TEST_F(Link, SetupWithAVesselNumberOutsideTheTableIsIgnored)
{
    for (std::uint8_t v : {std::uint8_t(8), std::uint8_t(254)}) Deliver(STATUS_CONFIGURATION, v, 1, 2, 3, 4);
    EXPECT_EQ(OwnVesselIndex.load(), VESSEL_NONE);
    EXPECT_EQ(Vessels[0].Scale, 0.0f);
    EXPECT_EQ(CloseRequested.load(), 0);
}

TEST_F(Link, SetupCompleteBeforeSetupEndsTheStartUp)
{
    Deliver(STATUS_SETUP_COMPLETE, 0);
    EXPECT_EQ(InitialStateComplete.load(), 0);
    EXPECT_EQ(Recorder().closePosts, 1);
    EXPECT_FALSE(WaitForInitialState());
}

TEST_F(Link, RefusalEndsTheWaitWithoutTouchingVessels)
{
    auto waiting = std::async(std::launch::async, [] { return WaitForInitialState(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    std::thread handler([] { Deliver(STATUS_CONFIGURATION, VESSEL_NONE); });
    handler.join();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    EXPECT_FALSE(waiting.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Recorder().closePosts, 1);
    EXPECT_EQ(OwnVesselIndex.load(), VESSEL_NONE);
    for (const VesselState& v : Vessels) EXPECT_EQ(v.Scale, 0.0f);
}

TEST_F(Link, ShutdownNoticeClosesTheWindow)
{
    Deliver(STATUS_SHUTDOWN, 0);
    EXPECT_EQ(Recorder().closePosts, 1);
    EXPECT_FALSE(WaitForInitialState());
    // Also after the start-up.
    ResetViewState();
    Started(2);
    Deliver(STATUS_SHUTDOWN, 0);
    EXPECT_EQ(Recorder().closePosts, 1);
}

TEST_F(Link, RepeatedSetupAfterTheStartUpIsIgnored)
{
    Started(2);
    UniverseHours = 4.0f;
    Deliver(STATUS_CONFIGURATION, 5, 1, 2, 3, 4);
    EXPECT_EQ(OwnVesselIndex.load(), 2);
    EXPECT_EQ(UniverseHours.load(), 4.0f);
}

EventPacket Chat(std::uint8_t vessel, const char* text) { return MakeChatPacket(vessel, text); }

TEST_F(Link, ChatLinesShiftTheBoard)
{
    Started(0);
    Vessels[2].Registration = 7.0f;
    for (int i = 1; i <= 6; ++i) DeliverEvent(Chat(2, ("line " + std::to_string(i)).c_str()));
    for (int k = 0; k < 6; ++k) Board.Brightness[k] = 10.0f * (k + 1);
    DeliverEvent(Chat(2, "line 7"));
    EXPECT_STREQ(Board.Lines[0], "IVR 52  7: line 7");
    EXPECT_STREQ(Board.Lines[1], "IVR 52  7: line 6");
    EXPECT_STREQ(Board.Lines[5], "IVR 52  7: line 2");  // line 1 dropped
    const float expected[6] = {255.0f, 10.0f, 20.0f, 30.0f, 40.0f, 50.0f};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(Board.Brightness[k], expected[k]) << k;
}

TEST_F(Link, ChatLineFormatAndLimits)
{
    Started(0);
    Vessels[3].Registration = 1234567.0f;
    DeliverEvent(Chat(3, "hi"));
    EXPECT_STREQ(Board.Lines[0], "IVR 521234567: hi");

    // The text is never a format.
    Vessels[3].Registration = 42.6f;
    DeliverEvent(Chat(3, "%s%n%x%%"));
    EXPECT_STREQ(Board.Lines[0], "IVR 52 43: %s%n%x%%");

    // 80 characters and no NUL: read up to the payload's end, cut to fit the line.
    EventPacket full{};
    full.Kind = EVENT_CHAT;
    full.Vessel = 3;
    std::memset(full.Payload, 'A', sizeof full.Payload);
    DeliverEvent(full);
    EXPECT_EQ(std::strlen(Board.Lines[0]), 79u);
    EXPECT_EQ(std::string(Board.Lines[0]), "IVR 52 43: " + std::string(68, 'A'));

    // A short packet without a NUL is read only as far as it goes.
    std::uint8_t shortChat[11] = {EVENT_CHAT, 3, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'};
    HandleReceivedData(shortChat, sizeof shortChat);
    EXPECT_STREQ(Board.Lines[0], "IVR 52 43: abcdefghi");

    // A sender outside the table shows nothing.
    std::string before = Board.Lines[0];
    DeliverEvent(Chat(8, "ghost"));
    DeliverEvent(Chat(255, "ghost"));
    EXPECT_EQ(std::string(Board.Lines[0]), before);
    // Other kinds are ignored; a single byte is no message.
    EventPacket other = Chat(3, "other");
    other.Kind = 1;
    DeliverEvent(other);
    HandleReceivedData(shortChat, 1);
    HandleReceivedData(shortChat, 0);
    EXPECT_EQ(std::string(Board.Lines[0]), before);
}

ProjectileRecord Shot(float n)
{
    ProjectileRecord r{};
    for (int i = 0; i < 3; ++i) {
        r.Position[i] = n + i;
        r.Velocity[i] = -n - i;
    }
    r.LaunchTime = 100.0f + n;
    return r;
}

TEST_F(Link, IncomingShotsFillFreeSlotsAndTheNinthIsDropped)
{
    Started(0);
    for (int i = 0; i < 8; ++i) {
        EventPacket p = MakeProjectilePacket(static_cast<std::uint8_t>(i), Shot(static_cast<float>(i)));
        std::memset(p.Payload + PROJECTILE_RECORD_SIZE, 0xFF, EVENT_PAYLOAD_SIZE - PROJECTILE_RECORD_SIZE);
        DeliverEvent(p);
    }
    for (int i = 0; i < 8; ++i) {
        const Projectile& s = Projectiles[i];
        EXPECT_EQ(s.Active, 1);
        EXPECT_EQ(s.Exploded, 0);
        EXPECT_LE(s.FrameCounter, 19);
        EXPECT_EQ(s.Owner, i);
        const ProjectileRecord r = Shot(static_cast<float>(i));
        EXPECT_EQ(std::memcmp(&s, &r, PROJECTILE_RECORD_SIZE), 0) << i;
    }
    DeliverEvent(MakeProjectilePacket(1, Shot(50.0f)));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Projectiles[i].LaunchTime, 100.0f + i);

    // A free slot in the middle is the one taken.
    Projectiles[5].Active = 0;
    DeliverEvent(MakeProjectilePacket(2, Shot(60.0f)));
    EXPECT_EQ(Projectiles[5].LaunchTime, 160.0f);
    EXPECT_EQ(Projectiles[5].Owner, 2);

    // Nothing fires while every slot is busy.
    Vessels[0].Attitude = D3DXQUATERNION(0, 0, 0, 1);
    FireWeapon();
    EXPECT_TRUE(Recorder().sent.empty());
}

TEST_F(Link, MalformedShotsAreDropped)
{
    Started(0);
    DeliverEvent(MakeProjectilePacket(8, Shot(1.0f)));
    DeliverEvent(MakeProjectilePacket(255, Shot(1.0f)));
    DeliverEvent(MakeProjectilePacket(1, Shot(1.0f)), 25);  // record cut short
    // A value that is not a number would keep its slot for ever: dropped.
    for (int field = 0; field < 7; ++field) {
        for (float bad : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
            ProjectileRecord r = Shot(1.0f);
            float* values[7] = {&r.Position[0], &r.Position[1], &r.Position[2], &r.Velocity[0],
                                &r.Velocity[1], &r.Velocity[2], &r.LaunchTime};
            *values[field] = bad;
            DeliverEvent(MakeProjectilePacket(1, r));
        }
    }
    for (const Projectile& s : Projectiles) EXPECT_EQ(s.Active, 0);
    DeliverEvent(MakeProjectilePacket(1, Shot(1.0f)), 30);  // just whole
    EXPECT_EQ(Projectiles[0].Active, 1);
}

TEST_F(Link, FireWeaponLaunchesAlongTheNoseAndSends)
{
    Started(1);
    VesselState& own = Vessels[1];
    own.Position = D3DXVECTOR3(1.0f, 2.0f, 3.0f);
    own.Velocity = D3DXVECTOR3(0.1f, 0.0f, 0.0f);
    own.Attitude = D3DXQUATERNION(0, 0, 0, 1);
    own.LastUpdate = 10.0f;
    UniverseSecondsAtSetup = 100.0f;
    LocalTimeAtSetup = 4.0f;
    Projectiles[0].Active = 1;
    FireWeapon();

    const Projectile& s = Projectiles[1];
    EXPECT_EQ(s.Active, 1);
    EXPECT_EQ(s.Exploded, 0);
    EXPECT_LE(s.FrameCounter, 19);
    EXPECT_EQ(s.Owner, 1);
    EXPECT_EQ(s.Position, own.Position);
    EXPECT_NEAR(s.Velocity.x, 0.1f, 1e-6f);
    EXPECT_NEAR(s.Velocity.z, -0.5f, 1e-6f);
    EXPECT_FLOAT_EQ(s.LaunchTime, 106.0f);

    ASSERT_EQ(Recorder().sent.size(), 1u);
    const SentMessage& m = Recorder().sent[0];
    ASSERT_EQ(m.bytes.size(), EVENT_PACKET_SIZE);
    EXPECT_TRUE(m.guaranteed);
    EXPECT_EQ(m.timeout, 0u);
    EXPECT_EQ(m.bytes[0], EVENT_PROJECTILE);
    EXPECT_EQ(m.bytes[1], 1);
    EXPECT_EQ(std::memcmp(m.bytes.data() + 2, &s, PROJECTILE_RECORD_SIZE), 0);

    // Nose turned to universe +x: the shot leaves along +x.
    const D3DXVECTOR3 up(0.0f, 1.0f, 0.0f);
    D3DXQuaternionRotationAxis(&own.Attitude, &up, 1.5707964f);
    FireWeapon();
    EXPECT_NEAR(Projectiles[2].Velocity.x, 0.6f, 1e-5f);
    EXPECT_NEAR(Projectiles[2].Velocity.z, 0.0f, 1e-5f);

    // No own vessel yet: nothing fires.
    OwnVesselIndex = VESSEL_NONE;
    FireWeapon();
    EXPECT_EQ(Projectiles[3].Active, 0);
}

TEST_F(Link, FailedSendShowsItsBoxAndEndsTheProgram)
{
    Recorder().sendResult = E_FAIL;
    const StatusPacket p = MakeStatusPacket(7, 0, 1.0f, 142.0f, 1.0f, 0.0f);
    SendPacket(&p, sizeof p, 1, 0);
    ASSERT_EQ(Recorder().boxes.size(), 1u);
    EXPECT_EQ(Recorder().boxes[0].text, "Failed sending data on SendPacket, please report this error.");
    EXPECT_EQ(Recorder().boxes[0].caption, "Communication Error!");
    EXPECT_EQ(Recorder().boxes[0].type, MB_ICONWARNING);
    EXPECT_EQ(Recorder().exits, std::vector<int>{0});

    Recorder().sendResult = S_OK;
    SendPacket(&p, sizeof p, 0, 83);
    EXPECT_EQ(Recorder().boxes.size(), 1u);
    ASSERT_EQ(Recorder().sent.size(), 2u);
    EXPECT_FALSE(Recorder().sent[1].guaranteed);
    EXPECT_EQ(Recorder().sent[1].timeout, 83u);
}

TEST_F(Link, TenThousandRandomBuffers)
{
    std::mt19937 gen(20021101);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uint8_t buffer[128];
    for (int n = 0; n < 10000; ++n) {
        if (n % 1000 == 0) {
            ResetViewState();
            CaptureLog();
            if (n % 2000 == 0) Started(static_cast<std::uint8_t>(n / 1000 % 8));
        }
        for (auto& b : buffer) b = static_cast<std::uint8_t>(byte(gen));
        const int kindPick = pick(gen);
        std::size_t size = kindPick < 40 ? 20 : kindPick < 70 ? 82 : static_cast<std::size_t>(pick(gen) + 1);
        if (pick(gen) < 80) buffer[0] = static_cast<std::uint8_t>(pick(gen) % 10);  // mostly known types
        if (pick(gen) < 70) buffer[1] = static_cast<std::uint8_t>(pick(gen) % 9);   // mostly vessel numbers
        HandleReceivedData(buffer, size);
        ASSERT_TRUE(OwnVesselIndex.load() < 8 || OwnVesselIndex.load() == VESSEL_NONE);
        ASSERT_LT(std::strlen(Board.Lines[0]), 80u);
    }
    // The handler itself never sends.
    EXPECT_TRUE(Recorder().sent.empty());
}

}  // namespace
