// The per-frame simulation: its steps on explicit inputs, and whole frames with the
// scripted controller and the recorded link.
#include "fly_fixture.h"
#include "view/ground.h"
#include "view/link.h"

#include <cstring>
#include <vector>

using flytest::Deg;

namespace {

class SimulationTest : public ::testing::Test {
protected:
    void SetUp() override { flytest::ResetFlightState(); }
    void TearDown() override
    {
        flytest::DropController();
        RemoveFakeInput();
    }
    // A frame at time t without the device, the sleep or the first-frame hook.
    HRESULT Frame(float t, float dt)
    {
        FrameContext f;
        f.t = t;
        f.dt = dt;
        f.framesPerSecond = 59.9f;
        f.sleep = false;
        f.prepareFirstFrame = [](void* count) { ++*static_cast<int*>(count); };
        f.prepareContext = &prepared;
        return SimulateFrame(f);
    }
    // The scripted stick, created and acquired as the first frame does.
    FakeInputSystem& Stick(bool forceFeedback)
    {
        FakeInputSystem& fake = InstallFakeInput();
        FakeController c;
        c.forceFeedback = forceFeedback;
        for (DWORD& pov : c.state.rgdwPOV) pov = POV_CENTERED;
        fake.controllers = {c};
        EXPECT_EQ(InitGameController(nullptr), S_OK);
        Controller.device->Acquire();
        JoystickEnabled = 1;
        return fake;
    }
    int prepared = 0;
};

}  // namespace

TEST(ControllerTick, OneTickAtMostPerFrameAndTheSurplusCarries)
{
    auto ticksInOneSecond = [](int fps) {
        float acc = 0.0f;
        int ticks = 0;
        for (int i = 0; i < fps; ++i) ticks += AdvanceControllerTick(acc, 1.0f / static_cast<float>(fps)) ? 1 : 0;
        return ticks;
    };
    EXPECT_EQ(ticksInOneSecond(120), 29);   // 29 * 0.0333667 = 0.968, 30 ticks need 1.001 s
    EXPECT_EQ(ticksInOneSecond(60), 29);
    EXPECT_EQ(ticksInOneSecond(20), 20);    // every frame below 29.97 frames a second
    EXPECT_EQ(ticksInOneSecond(5), 5);

    float acc = 0.0f;
    EXPECT_TRUE(AdvanceControllerTick(acc, 0.1f));    // 0.0666 left over
    EXPECT_TRUE(AdvanceControllerTick(acc, 0.0f));    // 0.0333 left over
    EXPECT_FALSE(AdvanceControllerTick(acc, 0.0f));
    EXPECT_NEAR(acc, 0.1f - 2 * 0.0333667f, 1e-6f);

    acc = 0.0f;   // exactly one tick length is not yet past it
    EXPECT_FALSE(AdvanceControllerTick(acc, 0.0333667f));
    EXPECT_TRUE(AdvanceControllerTick(acc, 1e-6f));
}

TEST(ControllerAxes, DeadBandThenSquareLaw)
{
    EXPECT_EQ(AxisCommand(100), 0.0f);
    EXPECT_EQ(AxisCommand(-100), 0.0f);
    EXPECT_NEAR(AxisCommand(101), 0.0053413f, 1e-7f);
    EXPECT_NEAR(AxisCommand(-101), -0.0053413f, 1e-7f);
    EXPECT_NEAR(AxisCommand(1000), Deg(30.0f), 1e-6f);
    EXPECT_NEAR(AxisCommand(-1000), -Deg(30.0f), 1e-6f);
    EXPECT_NEAR(AxisCommand(-500), -Deg(30.0f) / 4, 1e-6f);
}

TEST_F(SimulationTest, StickButtonsHatAndFire)
{
    FakeInputSystem& fake = Stick(false);
    DIJOYSTATE& s = fake.controllers[0].state;
    s.lX = 1000;
    s.lY = -500;
    s.lRz = 101;
    StickCommands sticks;
    ControllerRead r = ReadController(*Controller.device, 0.05f, sticks);
    EXPECT_FALSE(r.endFrame);
    EXPECT_NEAR(sticks.pitch, -Deg(30.0f) / 4, 1e-6f);
    EXPECT_NEAR(sticks.roll, Deg(30.0f), 1e-6f);
    EXPECT_NEAR(sticks.yaw, 0.0053413f, 1e-7f);
    EXPECT_EQ(sticks.trim, 0.0f);
    EXPECT_FALSE(r.fire);

    s.rgbButtons[1] = BUTTON_DOWN;   // button 1 swaps roll and yaw
    s.rgdwPOV[0] = 0;                // hat forward: nose-down trim
    ReadController(*Controller.device, 0.05f, sticks);
    EXPECT_NEAR(sticks.roll, 0.0053413f, 1e-7f);
    EXPECT_NEAR(sticks.yaw, Deg(30.0f), 1e-6f);
    EXPECT_FLOAT_EQ(sticks.trim, -0.0005f);
    s.rgdwPOV[0] = 18000;
    ReadController(*Controller.device, 0.02f, sticks);
    ReadController(*Controller.device, 0.02f, sticks);
    EXPECT_FLOAT_EQ(sticks.trim, -0.0001f);
    s.rgdwPOV[0] = 9000;
    ReadController(*Controller.device, 0.02f, sticks);
    s.rgdwPOV[0] = POV_CENTERED;
    ReadController(*Controller.device, 0.02f, sticks);
    EXPECT_FLOAT_EQ(sticks.trim, -0.0001f);

    // One shot a press: held and released buttons fire nothing.
    std::vector<bool> fired;
    for (BYTE b : {BYTE(0x80), BYTE(0x80), BYTE(0), BYTE(0x80)}) {
        s.rgbButtons[0] = b;
        fired.push_back(ReadController(*Controller.device, 0.02f, sticks).fire);
    }
    EXPECT_EQ(fired, (std::vector<bool>{true, false, false, true}));
}

TEST_F(SimulationTest, LostControllerEndsTheFrameQuietly)
{
    FakeInputSystem& fake = Stick(false);
    fake.lost = true;
    fake.reacquireResults = {DIERR_INPUTLOST, DIERR_INPUTLOST, DIERR_INPUTLOST, DIERR_INPUTLOST, DIERR_INPUTLOST};
    const int acquiresBefore = fake.Count("Acquire");
    EXPECT_EQ(Frame(1.0f, 0.04f), S_OK);
    EXPECT_EQ(fake.Count("Acquire") - acquiresBefore, REACQUIRE_TRIES);
    EXPECT_EQ(prepared, 0);
    EXPECT_EQ(FirstFrameDone, 0);

    // Once it is back the next tick reads it and the frame completes.
    fake.reacquireResults.clear();
    EXPECT_EQ(Frame(1.04f, 0.04f), S_OK);   // re-acquired, still ends early
    EXPECT_EQ(FirstFrameDone, 0);
    fake.controllers[0].state.lY = 1000;
    EXPECT_EQ(Frame(1.08f, 0.04f), S_OK);
    EXPECT_EQ(prepared, 1);
    EXPECT_EQ(FirstFrameDone, 1);
    EXPECT_NEAR(StickPitch.load(), Deg(30.0f), 1e-6f);

    fake.failures["GetDeviceState"] = DIERR_NOTACQUIRED;
    EXPECT_EQ(Frame(1.12f, 0.04f), DIERR_NOTACQUIRED);
}

TEST_F(SimulationTest, ForceFeedbackFailureEndsTheFrameWithoutFinishingIt)
{
    FakeInputSystem& fake = Stick(true);
    fake.failures["SetParameters"] = DIERR_INPUTLOST;
    EXPECT_EQ(Frame(1.0f, 0.01f), S_OK);    // no tick: no update
    EXPECT_EQ(FirstFrameDone, 1);
    FirstFrameDone = 0;
    EXPECT_EQ(Frame(1.04f, 0.04f), E_FAIL);
    EXPECT_EQ(FirstFrameDone, 0);
    fake.failures.clear();
    EXPECT_EQ(Frame(1.08f, 0.04f), S_OK);
    EXPECT_EQ(FirstFrameDone, 1);
}

TEST(ShotStep, HitsLaterWinsObjectsLastOwnerOutAbsentIn)
{
    ShotInputs in;
    in.dt = 0.0f;
    const D3DXVECTOR3 here(100.0f, 0.0f, 0.0f);
    for (HitTarget& v : in.vessels) v = {D3DXVECTOR3(5000, 0, 0), D3DXVECTOR3(), VESSEL_HIT_RADIUS, true};
    for (HitTarget& o : in.objects) o = {D3DXVECTOR3(5000, 0, 0), D3DXVECTOR3(), 1.0f, false};
    in.vessels[1] = {here + D3DXVECTOR3(0.01f, 0, 0), D3DXVECTOR3(1, 0, 0), VESSEL_HIT_RADIUS, true};   // owner
    in.vessels[3] = {here + D3DXVECTOR3(0, 0.03f, 0), D3DXVECTOR3(3, 0, 0), VESSEL_HIT_RADIUS, true};   // absent
    in.vessels[6] = {here + D3DXVECTOR3(0, 0, -0.037f), D3DXVECTOR3(6, 0, 0), VESSEL_HIT_RADIUS, true};
    in.vessels[7] = {here + D3DXVECTOR3(0, 0, 0.039f), D3DXVECTOR3(7, 0, 0), VESSEL_HIT_RADIUS, true};  // outside

    Projectile p;
    auto shotAt = [&](std::uint8_t owner) {
        p.Position = here;
        p.Velocity = D3DXVECTOR3(0, 0, -0.5f);
        p.Active = 1;
        p.Exploded = 0;
        p.FrameCounter = 7;
        p.Owner = owner;
    };
    shotAt(1);
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Exploded, 1);
    EXPECT_EQ(p.FrameCounter, 0);
    EXPECT_EQ(p.Velocity, D3DXVECTOR3(6, 0, 0));

    in.objects[4] = {here + D3DXVECTOR3(0.5f, 0, 0), D3DXVECTOR3(40, 0, 0), 0.6f, true};
    in.objects[5] = {here, D3DXVECTOR3(50, 0, 0), 0.6f, false};   // kind 0 or below: not hittable
    shotAt(1);
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Velocity, D3DXVECTOR3(40, 0, 0));

    // Only the owner in reach: the shot flies on.
    for (int v : {3, 6}) in.vessels[v].position = D3DXVECTOR3(5000, 0, 0);
    in.objects[4].position = D3DXVECTOR3(5000, 0, 0);
    shotAt(1);
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Exploded, 0);
    EXPECT_EQ(p.Velocity, D3DXVECTOR3(0, 0, -0.5f));
    shotAt(2);
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Velocity, D3DXVECTOR3(1, 0, 0));
}

TEST(ShotStep, AnimationLifetimeAcrossTheHourAndMotion)
{
    ShotInputs in;
    for (HitTarget& v : in.vessels) v.hittable = false, v.hitRadius = 0.0f;
    in.tick = true;
    in.universeSeconds = 100.0f;
    Projectile p;
    p.Active = 1;
    p.LaunchTime = 90.0f;
    p.FrameCounter = 19;
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.FrameCounter, 0);
    in.tick = false;
    p.FrameCounter = 19;
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.FrameCounter, 19);

    in.tick = true;
    p.Exploded = 1;
    p.FrameCounter = 41;
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Active, 1);
    AdvanceProjectile(p, in);
    EXPECT_EQ(p.Active, 0);

    // Fired 10 s before the hour: still flying 20 s into the new hour, gone at 31 s.
    in.tick = false;
    auto aliveAt = [&](float launch, float now) {
        Projectile s;
        s.Active = 1;
        s.LaunchTime = launch;
        in.universeSeconds = now;
        AdvanceProjectile(s, in);
        return s.Active == 1;
    };
    EXPECT_TRUE(aliveAt(3590.0f, 10.0f));
    EXPECT_TRUE(aliveAt(3590.0f, 20.0f));    // 30 s is not yet above the lifetime
    EXPECT_FALSE(aliveAt(3590.0f, 21.0f));
    EXPECT_TRUE(aliveAt(3560.0f, 3589.0f));
    EXPECT_FALSE(aliveAt(3560.0f, 3591.0f));
    EXPECT_TRUE(aliveAt(5.0f, 3595.0f));   // a sender's clock a little ahead across the hour
    EXPECT_FLOAT_EQ(ShotAge(10.0f, 3590.0f), 20.0f);
    EXPECT_FLOAT_EQ(ShotAge(3590.0f, 10.0f), -20.0f);

    // Motion: along the velocity, then turned with the planet about -Z... by -rate * dt.
    in.spinRate = 0.5f;
    in.dt = 0.2f;
    in.universeSeconds = 0.0f;
    Projectile m;
    m.Active = 1;
    m.Position = D3DXVECTOR3(10, 0, 3);
    m.Velocity = D3DXVECTOR3(0, 5, 0);
    in.ownPosition = D3DXVECTOR3(0, 0, 3);
    const float d2 = AdvanceProjectile(m, in);
    // (10, 1, 3) turned by -0.1 rad about Z.
    const double c = std::cos(0.1), s = std::sin(0.1);
    EXPECT_NEAR(m.Position.x, 10 * c + 1 * s, 1e-4);
    EXPECT_NEAR(m.Position.y, -10 * s + 1 * c, 1e-4);
    EXPECT_NEAR(m.Position.z, 3.0f, 1e-6);
    EXPECT_NEAR(d2, 101.0f, 1e-3);
    EXPECT_EQ(m.Velocity, D3DXVECTOR3(0, 5, 0));
}

TEST(UniverseStep, ClockAngleHasNoDriftAcrossTheHour)
{
    const float rate = 6.2831855f / 600.0f;   // one turn in ten minutes
    EXPECT_NEAR(ClockAngle(rate, 1.0f, 100.0f), 6.2831855f / 6.0f, 1e-5f);   // 3700 s = 6 turns + 1/6
    const float planet = 7.2921e-5f;
    EXPECT_NEAR(ClockAngle(planet, 5.0f, 3650.0f), ClockAngle(planet, 6.0f, 50.0f), 2e-5f);
    const double exact = std::fmod((7.0 * 3600.0 + 1234.5) * planet, 2 * 3.14159265358979);
    EXPECT_NEAR(ClockAngle(planet, 7.0f, 1234.5f), exact, 1e-4);
}

TEST(UniverseStep, StationOnItsOrbitBeforeTheFirstDrawnFrame)
{
    UniverseObject home;
    home.Kind = KIND_HOME_PLANET;
    UniverseObject station;
    station.Kind = KIND_STATION;
    station.Distance = 3300.0f;
    station.RateA = 6.2831855f / 5000.0f;
    station.BeaconInterval = 1.0f;
    D3DXMatrixTranslation(&station.BaseMatrix, 0.0f, 1.0f, 0.0f);

    UniverseInputs in;
    in.t = 5.0f;
    in.dt = 0.02f;
    in.universeSeconds = 625.0f;   // an eighth of a turn: A = 45 degrees
    in.altitudeMSL = -1.0f;
    const double a = 3.14159265358979 / 4;
    const double sx = 3300.0 * std::sin(a), sy = -3300.0 * std::cos(a);
    in.ownDoublePosition[0] = sx + 0.5;
    in.ownDoublePosition[1] = sy;
    in.ownDoublePosition[2] = 0.25;
    AdvanceUniverseObject(station, home, in);

    EXPECT_NEAR(station.DoublePosition[0], sx, 2e-3);
    EXPECT_NEAR(station.DoublePosition[1], sy, 2e-3);
    EXPECT_EQ(station.DoublePosition[2], 0.0);
    EXPECT_NEAR(station.Position.x, sx, 2e-3);
    // Drawn relative to the own vessel, right to a metre.
    EXPECT_NEAR(station.WorldMatrix._41, 0.5f, 1e-3f);
    EXPECT_NEAR(station.WorldMatrix._42, 0.0f, 1e-3f);
    EXPECT_NEAR(station.WorldMatrix._43, 0.25f, 1e-3f);
    // Circular speed along the orbit.
    const double v = std::sqrt(97386.87 / 3300.0);
    EXPECT_NEAR(station.Velocity.x, v * std::cos(a), 1e-4);
    EXPECT_NEAR(station.Velocity.y, v * std::sin(a), 1e-4);
    // The beacon moved on once.
    EXPECT_EQ(station.BeaconBits, 0x80000000u);
    EXPECT_EQ(station.LastBeacon, 5.0f);
}

TEST(UniverseStep, CityVelocityIsSetBeforeTheFirstFrameOnly)
{
    UniverseObject home;
    home.Kind = KIND_HOME_PLANET;
    home.RateB = 0.001f;
    UniverseObject city;
    city.Kind = KIND_CITY;
    city.Distance = 2939.6f;
    D3DXMatrixTranslation(&city.BaseMatrix, 0.0f, 2939.6f, 0.0f);
    UniverseInputs in;
    in.ownPosition = D3DXVECTOR3(0, -2939.0f, 0);
    AdvanceUniverseObject(city, home, in);
    // On the equator below -Y the ground moves along +X at rate * radius.
    EXPECT_NEAR(city.Velocity.x, 2.9396f, 1e-4f);
    EXPECT_NEAR(city.Velocity.y, 0.0f, 1e-6f);
    EXPECT_NEAR(city.Velocity.z, 0.0f, 1e-6f);
    EXPECT_EQ(city.Position, D3DXVECTOR3(0, -2939.6f, 0));
    EXPECT_NEAR(city.WorldMatrix._42, 2939.6f - 2939.0f, 1e-3f);

    home.RateB = 0.002f;
    in.firstFrameDone = true;
    AdvanceUniverseObject(city, home, in);
    EXPECT_NEAR(city.Velocity.x, 2.9396f, 1e-4f);
}

TEST(OwnAttitudeStep, HorizonFollowingKeepsTheNoseOnACircularOrbit)
{
    const float radius = 3100.0f;
    const float speed = std::sqrt(97386.87f / radius);
    VesselState v;
    v.DoublePosition[0] = radius;
    v.Position = D3DXVECTOR3(radius, 0, 0);
    v.Velocity = D3DXVECTOR3(0, speed, 0);
    // Nose (ship -Z) along +Y: the attitude turns +Y into ship -Z.
    D3DXQUATERNION q;
    const D3DXVECTOR3 xAxis(1, 0, 0);
    D3DXQuaternionRotationAxis(&q, &xAxis, -1.5707964f);
    D3DXMATRIX m, w;
    D3DXMatrixRotationQuaternion(&m, &q);
    D3DXMatrixInverse(&w, nullptr, &m);
    D3DXVECTOR3 nose;
    const D3DXVECTOR3 forward(0, 0, -1);
    D3DXVec3TransformNormal(&nose, &forward, &w);
    ASSERT_NEAR(nose.y, 1.0f, 1e-6f);

    GroundEnvironment env;   // no spin, no terrain
    D3DXMatrixIdentity(&env.homeWorld);
    TouchdownState touchdown;
    const float dt = 1.0f / 60.0f;
    const int frames = static_cast<int>(2 * 3.14159265 * radius / speed / 4 / dt);
    double worst = 0.0;
    for (int i = 0; i < frames; ++i) {
        IntegratePosition(v, dt, 0.0f);
        GravityAndGround(v, dt, env, touchdown);
        const OwnAttitude turned = TurnOwnAttitude(q, D3DXVECTOR3(), false, v.Position, v.Velocity,
                                                   v.SurfaceVelocity, dt);
        q = turned.attitude;
        D3DXVec3TransformNormal(&nose, &forward, &turned.world);
        // The angle between nose and velocity, in double (a float dot product cannot
        // tell angles below 0.02 degrees apart).
        const double n[3] = {nose.x, nose.y, nose.z}, u[3] = {v.Velocity.x, v.Velocity.y, v.Velocity.z};
        const double cx = n[1] * u[2] - n[2] * u[1], cy = n[2] * u[0] - n[0] * u[2], cz = n[0] * u[1] - n[1] * u[0];
        const double dot = n[0] * u[0] + n[1] * u[1] + n[2] * u[2];
        worst = std::max(worst, std::atan2(std::sqrt(cx * cx + cy * cy + cz * cz), dot) * 180.0 / 3.14159265358979);
    }
    EXPECT_EQ(v.Landed, 0);
    EXPECT_NEAR(v.Position.y, radius, 5.0f);   // a quarter turn on
    EXPECT_LT(worst, 0.01);
}

TEST_F(SimulationTest, ReportsOnTheirTimersWithWrappedUniverseTimes)
{
    flytest::MakeOwnVessel(3);
    PropulsionEnabled = 1;
    UniverseSecondsAtSetup = 3599.75f;
    LocalTimeAtSetup = 0.25f;   // universe seconds 3599.5 + t
    VesselState& own = Vessels[3];
    own.DoublePosition[0] = 3000.0;
    own.Velocity = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    own.Rates = D3DXVECTOR3(0.01f, 0.02f, 0.03f);
    own.GroundRadius = 2939.604f;

    // Frames 0.0167 s apart (just under 60 a second, so no report is on a boundary).
    struct Seen {
        int frame;
        StatusPacket packet;
        DWORD timeout;
        bool guaranteed;
        StatusPacket expected;   // built from the own record after the frame
        DWORD expectedTimeout;
    };
    std::vector<Seen> seen;
    std::size_t before = 0;
    for (int k = 0; k < 180; ++k) {
        const float t = static_cast<float>(k) * 0.0167f;
        ASSERT_EQ(Frame(t, k == 0 ? 0.0f : 0.0167f), S_OK);
        const auto& sent = viewtest::Recorder().sent;
        for (std::size_t i = before; i < sent.size(); ++i) {
            Seen s{k, {}, sent[i].timeout, sent[i].guaranteed, {}, 0};
            ASSERT_EQ(sent[i].bytes.size(), STATUS_PACKET_SIZE);
            std::memcpy(&s.packet, sent[i].bytes.data(), sizeof s.packet);
            ScopedSection lock(own.Lock);
            // Universe seconds of the last update: 3599.5 + t, carried into the new hour.
            const double u = std::fmod(3599.5 + static_cast<double>(own.LastUpdate), 3600.0);
            const float w = static_cast<float>(u);
            const StatusPacket reports[9] = {
                MakeStatusPacket(0, 3, 59.9f, 0.0f, 1.0f, 0.0f), {}, 
                MakeStatusPacket(2, 3, own.Position.x, own.Position.y, own.Position.z, w), {},
                MakeStatusPacket(4, 3, own.Velocity.x, own.Velocity.y, own.Velocity.z, 2939.604f), {},
                MakeStatusPacket(6, 3, own.Attitude.x, own.Attitude.y, own.Attitude.z, own.Attitude.w), {},
                MakeStatusPacket(8, 3, 0.01f, 0.02f, 0.03f, w)};
            const DWORD timeouts[9] = {1000, 0, 1000, 0, 83, 0, 1000, 0, 42};
            s.expected = reports[s.packet.Type % 9];
            s.expectedTimeout = timeouts[s.packet.Type % 9];
            seen.push_back(s);
        }
        before = sent.size();
    }
    for (const Seen& s : seen) {
        SCOPED_TRACE(testing::Message() << "frame " << s.frame << " type " << int(s.packet.Type));
        EXPECT_EQ(s.packet.Type, s.expected.Type);
        EXPECT_NEAR(s.packet.X, s.expected.X, 1e-4f);
        EXPECT_NEAR(s.packet.Y, s.expected.Y, 1e-4f);
        EXPECT_NEAR(s.packet.Z, s.expected.Z, 1e-4f);
        EXPECT_NEAR(s.packet.W, s.expected.W, 1e-3f);
        EXPECT_EQ(s.timeout, s.expectedTimeout);
        EXPECT_FALSE(s.guaranteed);
    }
    // Velocity and rates every 5th frame (0.0835 s), position and frame rate after
    // 1.01 s, attitude after 1.02 s, each then once a second.
    std::vector<std::pair<int, int>> expected;
    for (int k = 1; k < 180; ++k) {
        if (k % 5 == 0) expected.push_back({k, 4});
        if (k == 61 || k == 121) {
            expected.push_back({k, 2});
            expected.push_back({k, 0});
        }
        if (k == 62 || k == 122) expected.push_back({k, 6});
        if (k % 5 == 0) expected.push_back({k, 8});
    }
    std::vector<std::pair<int, int>> got;
    for (const Seen& s : seen) got.push_back({s.frame, s.packet.Type});
    EXPECT_EQ(got, expected);
    // The first position report is 3599.5 + 1.0187 carried into the new hour.
    ASSERT_GE(seen.size(), 25u);
    EXPECT_EQ(seen[24].frame, 61);
    EXPECT_EQ(seen[24].packet.Type, 2);
    EXPECT_NEAR(seen[24].packet.W, 0.5187f, 1e-3f);
}

TEST_F(SimulationTest, NoReportsWithoutPropulsion)
{
    flytest::MakeOwnVessel(3);
    Vessels[3].DoublePosition[0] = 3000.0;
    for (int k = 0; k < 180; ++k) ASSERT_EQ(Frame(static_cast<float>(k) / 60.0f, 1.0f / 60.0f), S_OK);
    EXPECT_TRUE(viewtest::Recorder().sent.empty());
    EXPECT_EQ(prepared, 1);
}

TEST_F(SimulationTest, ShotFiredAfterTheHourCarriesItsTimeWithinTheHour)
{
    flytest::MakeOwnVessel(3);
    UniverseSecondsAtSetup = 3599.0f;
    LocalTimeAtSetup = 1.0f;
    Vessels[3].LastUpdate = 3.5f;   // 3601.5 universe seconds
    FireWeapon();
    EXPECT_FLOAT_EQ(Projectiles[0].LaunchTime, 1.5f);
    ASSERT_EQ(viewtest::Recorder().sent.size(), 1u);
    EventPacket e;
    std::memcpy(&e, viewtest::Recorder().sent[0].bytes.data(), sizeof e);
    float sentTime;
    std::memcpy(&sentTime, e.Payload + 24, sizeof sentTime);
    EXPECT_FLOAT_EQ(sentTime, 1.5f);
}

TEST(UniverseStep, TurnsBodiesAndStationsFollowTheirOrbit)
{
    UniverseObject home;
    home.Kind = KIND_HOME_PLANET;
    home.Tilt = 0.3f;
    home.AngleB = 0.2f;
    UniverseInputs in;
    in.universeSeconds = 125.0f;   // an eighth of a 1000 s turn: A = 45 degrees
    in.ownPosition = D3DXVECTOR3(1.0f, 2.0f, 3.0f);
    const double a = 3.14159265358979 / 4, ca = std::cos(a), sa = std::sin(a);
    const double ct = std::cos(0.3), st = std::sin(0.3), cb = std::cos(0.2), sb = std::sin(0.2);

    // A body tilted with the planet: its own turn B, then A, the tilt and back by the
    // planet's turn. Base: 100 km along +Y.
    UniverseObject body;
    body.Kind = KIND_SURFACE_MESH;
    body.AngleB = 0.1f;
    body.RateA = 6.2831855f / 1000.0f;
    D3DXMatrixTranslation(&body.BaseMatrix, 0.0f, 100.0f, 0.0f);
    AdvanceUniverseObject(body, home, in);
    const double x = -100 * sa, y = 100 * ca * ct, z = 100 * ca * st;
    EXPECT_NEAR(body.Position.x, -(x * cb + y * sb), 1e-3);
    EXPECT_NEAR(body.Position.y, -(-x * sb + y * cb), 1e-3);
    EXPECT_NEAR(body.Position.z, -z, 1e-3);
    const double c1 = std::cos(0.1 + a), s1 = std::sin(0.1 + a);   // the body's X axis
    EXPECT_NEAR(body.CurrentMatrix._11, c1 * cb + s1 * ct * sb, 1e-5);
    EXPECT_NEAR(body.CurrentMatrix._12, -c1 * sb + s1 * ct * cb, 1e-5);
    EXPECT_NEAR(body.CurrentMatrix._13, s1 * st, 1e-5);
    EXPECT_NEAR(body.WorldMatrix._41, -body.Position.x + 1.0f, 1e-3f);
    EXPECT_NEAR(body.WorldMatrix._43, -body.Position.z + 3.0f, 1e-3f);

    // The sun is tilted likewise but not placed relative to the own vessel.
    UniverseObject sun = body;
    sun.Kind = KIND_SUN;
    AdvanceUniverseObject(sun, home, in);
    EXPECT_EQ(sun.Position, body.Position);
    EXPECT_EQ(sun.WorldMatrix, sun.CurrentMatrix);

    // Any other kind turns by A less the planet's turn, without the tilt.
    UniverseObject other = body;
    other.Kind = 3;
    AdvanceUniverseObject(other, home, in);
    EXPECT_NEAR(other.Position.x, 100 * std::sin(a - 0.2), 1e-3);
    EXPECT_NEAR(other.Position.y, -100 * std::cos(a - 0.2), 1e-3);
    EXPECT_NEAR(other.Position.z, 0.0, 1e-4);
    EXPECT_NEAR(other.WorldMatrix._42, -other.Position.y + 2.0f, 1e-3f);

    // A station after the first drawn frame: on by its velocity, then pulled a tenth
    // a second toward its orbit. Off its orbit by (10, 0, 5) at the start.
    UniverseObject station;
    station.Kind = KIND_STATION;
    station.Distance = 3300.0f;
    station.RateA = 6.2831855f / 1000.0f;
    D3DXMatrixTranslation(&station.BaseMatrix, 0.0f, 1.0f, 0.0f);
    const double sx = 3300 * sa, sy = -3300 * ca, v = std::sqrt(97386.87 / 3300.0);
    station.DoublePosition[0] = sx + 10.0;
    station.DoublePosition[1] = sy;
    station.DoublePosition[2] = 5.0;
    in.altitudeMSL = 12.0f;
    in.dt = 1.0f;
    AdvanceUniverseObject(station, UniverseObject{}, in);
    EXPECT_NEAR(station.DoublePosition[0], sx + 9.0 + 0.9 * v * ca, 2e-3);
    EXPECT_NEAR(station.DoublePosition[1], sy + 0.9 * v * sa, 2e-3);
    EXPECT_NEAR(station.DoublePosition[2], 4.5, 1e-4);
    EXPECT_NEAR(station.Position.x, sx + 9.0 + 0.9 * v * ca, 2e-3);
}

TEST(OtherVesselStep, ReckonsMovesTurnsAndPlacesTheVessel)
{
    VesselState vessel;
    vessel.Present = 1;
    vessel.DoublePosition[0] = 5000.0;
    vessel.Velocity = D3DXVECTOR3(0.0f, 0.2f, 0.0f);
    vessel.PreviousPosition = D3DXVECTOR3(1.0f, 0.0f, 0.0f);
    vessel.TargetPosition = D3DXVECTOR3(11.0f, 0.0f, 0.0f);   // pulled 0.1 * dt of 10 km
    // A quarter turn about X, not yet normalised; yawing at 0.4 rad/s.
    vessel.Attitude = D3DXQUATERNION(2.0f * std::sin(-0.7853982f), 0.0f, 0.0f, 2.0f * std::cos(-0.7853982f));
    vessel.Rates = D3DXVECTOR3(0.0f, 0.0f, 0.4f);
    D3DXMatrixTranslation(&vessel.ModelMatrix, 0.0f, 0.0f, 1.0f);
    vessel.BlinkBits = 1;
    vessel.BlinkInterval = 0.25f;
    D3DXMATRIX homeWorld;
    D3DXMatrixIdentity(&homeWorld);
    const double own[3] = {5010.0, 1.0, 2.0};
    AdvanceOtherVessel(vessel, 3.0f, 0.5f, 0.0f, homeWorld, own);

    EXPECT_EQ(vessel.LastUpdate, 3.0f);
    EXPECT_NEAR(vessel.DoublePosition[0], 5000.5, 1e-6);
    EXPECT_NEAR(vessel.DoublePosition[1], 0.1, 1e-6);
    EXPECT_NEAR(vessel.Velocity.x, -0.01127 * std::pow(2939.6 / 5000.5, 2) * 0.5, 1e-7);   // gravity
    // Attitude: the quarter turn, then 0.2 rad of yaw about Y.
    EXPECT_NEAR(vessel.Attitude.x, std::sin(-0.7853982) * std::cos(0.1), 1e-6);
    EXPECT_NEAR(vessel.Attitude.z, -std::sin(-0.7853982) * std::sin(0.1), 1e-6);
    EXPECT_NEAR(vessel.Attitude.w, std::cos(-0.7853982) * std::cos(0.1), 1e-6);
    // World: model, then the inverse attitude (-0.2 about Y, then +90 degrees about X),
    // then the offset from the own vessel (9.5, 0.9, 2).
    D3DXMATRIX yaw, pitch, expected;
    D3DXMatrixRotationY(&yaw, -0.2f);
    D3DXMatrixRotationX(&pitch, 1.5707964f);
    D3DXMatrixMultiply(&expected, &yaw, &pitch);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(vessel.WorldMatrix.m[r][c], expected.m[r][c], 1e-5) << r << c;
    }
    EXPECT_NEAR(vessel.WorldMatrix._41, expected._31 + 9.5f, 1e-4f);
    EXPECT_NEAR(vessel.WorldMatrix._42, expected._32 + 0.9f, 1e-4f);
    EXPECT_NEAR(vessel.WorldMatrix._43, expected._33 + 2.0f, 1e-4f);
    EXPECT_EQ(vessel.BlinkBits, 0x80000000u);
    EXPECT_EQ(vessel.LastBlink, 3.0f);

    vessel.Present = 0;   // an absent vessel's lights stay as they are
    AdvanceOtherVessel(vessel, 4.0f, 0.5f, 0.0f, homeWorld, own);
    EXPECT_EQ(vessel.BlinkBits, 0x80000000u);
}

TEST(OwnAttitudeStep, RatesTurnAboutTheirOwnAxes)
{
    const D3DXQUATERNION level(0.0f, 0.0f, 0.0f, 1.0f);
    const D3DXVECTOR3 where(3000.0f, 0.0f, 0.0f), still;
    // x pitches about X, y rolls about Z, z yaws about Y: 0.2 rad in 0.5 s.
    const OwnAttitude p = TurnOwnAttitude(level, D3DXVECTOR3(0.4f, 0, 0), true, where, still, still, 0.5f);
    const OwnAttitude r = TurnOwnAttitude(level, D3DXVECTOR3(0, 0.4f, 0), true, where, still, still, 0.5f);
    const OwnAttitude y = TurnOwnAttitude(level, D3DXVECTOR3(0, 0, 0.4f), true, where, still, still, 0.5f);
    const float s = std::sin(0.1f), c = std::cos(0.1f);
    EXPECT_NEAR(p.attitude.x, s, 1e-6f);
    EXPECT_NEAR(p.attitude.w, c, 1e-6f);
    EXPECT_NEAR(r.attitude.z, s, 1e-6f);
    EXPECT_NEAR(y.attitude.y, s, 1e-6f);
    // The world matrix undoes the attitude: the rotation M of a pitch, transposed.
    EXPECT_NEAR(p.rotation._23, std::sin(0.2f), 1e-6f);
    EXPECT_NEAR(p.world._23, -std::sin(0.2f), 1e-6f);
}

TEST_F(SimulationTest, FrameHandsEachStepItsInputs)
{
    flytest::MakeOwnVessel(3);
    VesselState& own = Vessels[3];
    own.DoublePosition[0] = 5000.0;
    own.TargetPosition = D3DXVECTOR3(10.0f, 0.0f, 0.0f);   // not reckoned: the own vessel is flown here
    own.Attitude = D3DXQUATERNION(std::sin(0.25f), 0.0f, 0.0f, std::cos(0.25f));   // 0.5 rad about X
    own.Velocity = D3DXVECTOR3(0.0f, 0.1f, 0.0f);
    UniverseSecondsAtSetup = 100.0f;
    LocalTimeAtSetup = 50.0f;   // T = 110 at t = 60
    // Flown matching a still object: the velocity relative to it in ship axes.
    PropulsionEnabled = 1;
    TvmMode = 1;
    TargetIndex = -3;

    // Two shots 10 s old: one flies on, one inside vessel 5 takes its velocity.
    for (int i : {0, 1}) {
        Projectiles[i].Active = 1;
        Projectiles[i].Owner = 3;
        Projectiles[i].LaunchTime = 100.0f;
        Projectiles[i].Position = D3DXVECTOR3(0.0f, i == 0 ? 9000.0f : 7000.0f, 0.0f);
    }
    Vessels[5].Position = D3DXVECTOR3(0.0f, 7000.0f, 0.0f);
    Vessels[5].Velocity = D3DXVECTOR3(0.3f, 0.0f, 0.0f);
    Vessels[5].SurfaceVelocity = D3DXVECTOR3(0.7f, 0.0f, 0.0f);

    HomeObjectIndex = 1;
    UniverseObjects[1].Kind = KIND_HOME_PLANET;
    UniverseObjects[1].RateB = 0.001f;
    UniverseObjects[0].Kind = KIND_CITY;   // its velocity stays once the first frame is done
    UniverseObjects[0].Distance = 2939.6f;
    D3DXMatrixTranslation(&UniverseObjects[0].BaseMatrix, 0.0f, 2939.6f, 0.0f);
    UniverseObjects[0].Velocity = D3DXVECTOR3(9.0f, 9.0f, 9.0f);
    FirstFrameDone = 1;

    ASSERT_EQ(Frame(60.0f, 0.01f), S_OK);
    EXPECT_NEAR(own.DoublePosition[0], 5000.0, 1e-4);
    EXPECT_EQ(Projectiles[0].Active, 1);
    EXPECT_EQ(Projectiles[1].Exploded, 1);
    EXPECT_EQ(Projectiles[1].Velocity, D3DXVECTOR3(0.3f, 0.0f, 0.0f));
    EXPECT_EQ(UniverseObjects[0].Velocity, D3DXVECTOR3(9.0f, 9.0f, 9.0f));
    // The view turns the scene by the own attitude (its rotation, not the inverse).
    EXPECT_NEAR(ViewMatrix._23, std::sin(0.5f), 1e-5f);
    EXPECT_NEAR(ViewMatrix._32, -std::sin(0.5f), 1e-5f);
    EXPECT_EQ(prepared, 0);
    // Turned into ship axes by the attitude's rotation (gravity adds 4e-5 along -X).
    EXPECT_NEAR(RelativeVelocity.x, 0.0f, 1e-4f);
    EXPECT_NEAR(RelativeVelocity.y, 0.1f * std::cos(0.5f), 1e-4f);
    EXPECT_NEAR(RelativeVelocity.z, 0.1f * std::sin(0.5f), 1e-4f);
}
