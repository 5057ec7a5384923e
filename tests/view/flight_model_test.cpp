#include "view_test_support.h"

#include "view/flight_model.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

using namespace viewtest;

namespace {

constexpr float kVacuum = 100000.0f;  // altitude where the air density is 0
constexpr float kRateLimit = 12.566371f;

FlightInputs Level(D3DXVECTOR3 velocity, float altitude = kVacuum)
{
    FlightInputs in;
    in.position = D3DXVECTOR3(0.0f, 2950.0f, 0.0f);
    in.velocity = velocity;
    D3DXMatrixIdentity(&in.rotation);
    D3DXMatrixIdentity(&in.world);
    in.dt = 0.1f;
    in.altitudeMSL = altitude;
    return in;
}

bool Finite(const D3DXVECTOR3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

TEST(FlightHold, EachAxisMovesTowardTheReferenceAtItsOwnRate)
{
    FlightInputs in = Level(D3DXVECTOR3(0.005f, 0.03f, 0.5f));
    in.tvmMode = true;
    in.targetValid = true;  // target at rest
    FlightState st;
    st.tvmMode = true;
    FlightOutputs out = FlightModelStep(in, st);
    ASSERT_TRUE(out.moved);
    EXPECT_NEAR(st.relativeVelocity.z, 0.5f, 1e-6f);
    EXPECT_NEAR(out.velocity.z, 0.5f - 0.06f * 0.1f, 1e-6f);    // z: limited to 0.06
    EXPECT_NEAR(out.velocity.y, 0.03f - 0.02f * 0.1f, 1e-6f);   // y: limited to 0.02
    EXPECT_NEAR(out.velocity.x, 0.005f - 0.005f * 0.1f, 1e-7f); // x: within its 0.01 limit
    EXPECT_EQ(out.rates, D3DXVECTOR3(0.0f, 0.0f, 0.0f));

    // Commanded relative forward speed: forward is -z, so 0.2 wants z = -0.2.
    in.velocity = D3DXVECTOR3(0.0f, 0.0f, -0.19f);
    in.thrustSetting = 0.2f;
    out = FlightModelStep(in, st);
    EXPECT_NEAR(out.velocity.z, -0.19f - 0.01f * 0.1f, 1e-6f);
}

TEST(FlightHold, WorksInShipAxes)
{
    // Yaw by 90 degrees: universe +x is the ship's forward (-z).
    FlightInputs in = Level(D3DXVECTOR3(0.5f, 0.0f, 0.0f));
    D3DXMatrixRotationY(&in.rotation, 1.5707964f);
    D3DXMatrixInverse(&in.world, nullptr, &in.rotation);
    in.tvmMode = in.targetValid = true;
    in.thrustSetting = 0.2f;
    FlightState st;
    st.tvmMode = true;
    const FlightOutputs out = FlightModelStep(in, st);
    EXPECT_NEAR(st.relativeVelocity.z, -0.5f, 1e-6f);
    EXPECT_NEAR(out.velocity.x, 0.5f - 0.006f, 1e-6f);
    EXPECT_NEAR(out.velocity.y, 0.0f, 1e-6f);
    EXPECT_NEAR(out.velocity.z, 0.0f, 1e-6f);
}

TEST(FlightHold, WithoutModeThrustIsAnAccelerationCappedAt006)
{
    for (float thrust : {0.06f, 1.0f}) {
        FlightInputs in = Level(D3DXVECTOR3(0.1f, 0.2f, -0.3f));
        in.thrustSetting = thrust;
        FlightState st;
        const FlightOutputs out = FlightModelStep(in, st);
        EXPECT_EQ(st.relativeVelocity, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        EXPECT_NEAR(out.velocity.z, -0.3f - 0.006f, 1e-6f) << thrust;
        EXPECT_FLOAT_EQ(out.velocity.x, 0.1f);
        EXPECT_FLOAT_EQ(out.velocity.y, 0.2f);
    }
    FlightInputs idle = Level(D3DXVECTOR3(0.1f, 0.2f, -0.3f));
    FlightState st;
    EXPECT_EQ(FlightModelStep(idle, st).velocity, idle.velocity);
}

TEST(FlightHold, TvmWithoutTargetHoldsNothing)
{
    FlightInputs in = Level(D3DXVECTOR3(0.3f, 0.0f, 0.0f));
    in.tvmMode = true;
    in.targetValid = false;
    in.targetVelocity = D3DXVECTOR3(9.0f, 9.0f, 9.0f);
    FlightState st;
    st.tvmMode = true;
    FlightModelStep(in, st);
    EXPECT_EQ(st.relativeVelocity, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
}

TEST(FlightDor, ReferenceIsCircularOrbitAlongTheGroundTrack)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> radius(2940.0f, 9000.0f);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    for (int i = 0; i < 500; ++i) {
        D3DXVECTOR3 p(unit(gen), unit(gen), unit(gen)), v(unit(gen), unit(gen), unit(gen));
        if (D3DXVec3Length(&p) < 0.1f) continue;
        D3DXVec3Normalize(&p, &p);
        const float r = radius(gen);
        const D3DXVECTOR3 position = p * r;
        const D3DXVECTOR3 ref = DorReferenceVelocity(position, v, identity);

        // Perpendicular to the position.
        D3DXVECTOR3 dir;
        D3DXVec3Normalize(&dir, &ref);
        EXPECT_NEAR(D3DXVec3Dot(&dir, &p), 0.0f, 2e-3f);
        // Circular-orbit speed at that radius.
        EXPECT_NEAR(D3DXVec3Length(&ref), std::sqrt(97386.87f / r), 1e-3f);
        // Along the horizontal part of the velocity.
        D3DXVECTOR3 horizontal = v - p * D3DXVec3Dot(&v, &p);
        if (D3DXVec3Length(&horizontal) < 0.05f) continue;
        D3DXVec3Normalize(&horizontal, &horizontal);
        EXPECT_NEAR(D3DXVec3Dot(&dir, &horizontal), 1.0f, 2e-3f);
    }
}

TEST(FlightDor, VerticalOrStillFlightGivesAFiniteReference)
{
    D3DXMATRIX noseEast;  // ship forward (-z) turned to universe +x
    D3DXMATRIX rotation;
    D3DXMatrixRotationY(&rotation, 1.5707964f);
    D3DXMatrixInverse(&noseEast, nullptr, &rotation);
    const D3DXVECTOR3 position(0.0f, 3000.0f, 0.0f);
    for (const D3DXVECTOR3& v : {D3DXVECTOR3(0, 0.2f, 0), D3DXVECTOR3(0, -0.2f, 0), D3DXVECTOR3(0, 0, 0),
                                 D3DXVECTOR3(0, 1.0f, 1e-9f)}) {
        const D3DXVECTOR3 ref = DorReferenceVelocity(position, v, noseEast);
        ASSERT_TRUE(Finite(ref));
        EXPECT_NEAR(ref.x, std::sqrt(97386.87f / 3000.0f), 1e-3f);  // along the nose, orbit speed
        EXPECT_NEAR(ref.y, 0.0f, 1e-4f);
    }
    // Nose pointing straight up as well: nothing to hold across the radius.
    D3DXMATRIX noseUp, pitch;
    D3DXMatrixRotationX(&pitch, 1.5707964f);
    D3DXMatrixInverse(&noseUp, nullptr, &pitch);
    const D3DXVECTOR3 up(0.0f, 0.3f, 0.0f);
    D3DXVECTOR3 forward, minusZ(0, 0, -1);
    D3DXVec3TransformNormal(&forward, &minusZ, &noseUp);
    ASSERT_NEAR(std::fabs(forward.y), 1.0f, 1e-5f);
    EXPECT_EQ(DorReferenceVelocity(position, up, noseUp), up);

    // A whole step in DOR mode straight up at the pole stays finite.
    FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -0.4f), 20.0f);
    in.position = D3DXVECTOR3(0.0f, 0.0f, -2960.0f);
    in.dorMode = true;
    FlightState st;
    st.dorMode = true;
    const FlightOutputs out = FlightModelStep(in, st);
    EXPECT_TRUE(Finite(out.velocity));
    EXPECT_TRUE(Finite(out.rates));
    EXPECT_TRUE(Finite(st.relativeVelocity));
}

TEST(FlightModes, ClearedOnlyAboveTheAirspeedLimit)
{
    FlightInputs in = Level(D3DXVECTOR3(0, 0, 0));
    FlightState st;
    st.dorMode = st.tvmMode = true;
    st.indicatedAirspeed = 0.04f;
    FlightModelStep(in, st);
    EXPECT_TRUE(st.dorMode);
    EXPECT_TRUE(st.tvmMode);

    st.indicatedAirspeed = 0.040001f;
    FlightModelStep(in, st);
    EXPECT_FALSE(st.dorMode);
    EXPECT_FALSE(st.tvmMode);
}

TEST(FlightModel, BeforeTheFirstFrameOnlyTheHoldReferenceIsUpdated)
{
    FlightInputs in = Level(D3DXVECTOR3(0.3f, 0.0f, -0.2f), -1.0f);
    in.tvmMode = in.targetValid = true;
    in.rates = D3DXVECTOR3(0.1f, 0.2f, 0.3f);
    in.stickRoll = 0.5f;
    in.forceFeedbackAvailable = in.controllerTick = true;
    FlightState st;
    st.tvmMode = true;
    st.indicatedAirspeed = 0.01f;
    st.angleOfAttack = 0.123f;
    st.thrustAugAuthority = 0.7f;
    st.forceFeedbackRoll = 11;
    st.forceFeedbackPitch = 22;
    st.apparentVelocity = D3DXVECTOR3(1, 2, 3);
    const FlightOutputs out = FlightModelStep(in, st);
    EXPECT_FALSE(out.moved);
    EXPECT_EQ(out.velocity, in.velocity);
    EXPECT_EQ(out.rates, in.rates);
    EXPECT_NEAR(st.relativeVelocity.x, 0.3f, 1e-6f);
    EXPECT_EQ(st.indicatedAirspeed, 0.01f);
    EXPECT_EQ(st.angleOfAttack, 0.123f);
    EXPECT_EQ(st.thrustAugAuthority, 0.7f);
    EXPECT_EQ(st.forceFeedbackRoll, 11);
    EXPECT_EQ(st.forceFeedbackPitch, 22);
    EXPECT_EQ(st.apparentVelocity, D3DXVECTOR3(1, 2, 3));
}

TEST(FlightAero, AirspeedAndReactionControlAuthority)
{
    struct Case {
        float speed, authority;
    } cases[] = {{0.0f, 1.0f}, {0.04f, 1.0f}, {0.1775f, 0.5f}, {0.315f, 0.0f}, {0.5f, 0.0f}};
    for (const Case& c : cases) {
        FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -c.speed), 0.0f);  // sea level: density 1
        FlightState st;
        FlightModelStep(in, st);
        EXPECT_NEAR(st.indicatedAirspeed, c.speed, 1e-7f);
        EXPECT_NEAR(st.apparentVelocity.z, c.speed, 1e-7f);
        EXPECT_NEAR(st.thrustAugAuthority, c.authority, 1e-5f) << c.speed;
    }
    FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -0.1f), 0.0f);
    in.thrustAugEnabled = false;
    FlightState st;
    st.thrustAugAuthority = 0.9f;
    FlightModelStep(in, st);
    EXPECT_EQ(st.thrustAugAuthority, 0.0f);

    // Higher up the same speed reads lower.
    FlightInputs high = Level(D3DXVECTOR3(0.0f, 0.0f, -0.1f), 8.0f);
    FlightModelStep(high, st);
    EXPECT_NEAR(st.indicatedAirspeed, 0.1f * std::exp(-1.0f), 1e-6f);
}

TEST(FlightAero, ReactionTorquesOnlyBelowTheAirspeedLimit)
{
    auto rollChange = [](float speed) {
        FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -speed), 0.0f);
        in.stickRoll = 0.3f;
        FlightState st;
        return FlightModelStep(in, st).rates.y;
    };
    const float below = rollChange(0.0399f);
    const float at = rollChange(0.04f);
    EXPECT_GT(std::fabs(below), 0.02f);
    EXPECT_NEAR(below - at, 17.301342f * 1e6f / 60208260.0f * 0.1f, 1e-3f);  // one full torque step
    EXPECT_LT(std::fabs(at) * 20.0f, std::fabs(below));
}

TEST(FlightAero, StallAngles)
{
    EXPECT_FLOAT_EQ(WingLiftCoefficient(0.0f), 0.35f);
    EXPECT_GT(WingLiftCoefficient(0.26f), 1.9f);
    EXPECT_EQ(WingLiftCoefficient(0.2618f), 0.0f);
    EXPECT_EQ(WingLiftCoefficient(-0.2618f), 0.0f);
    EXPECT_EQ(WingLiftCoefficient(FLT_MAX), 0.0f);
    EXPECT_NEAR(TailLiftCoefficient(0.2f), 0.2f / 0.20943952f * 1.2f, 1e-6f);
    EXPECT_EQ(TailLiftCoefficient(0.20943952f), 0.0f);
    EXPECT_EQ(TailLiftCoefficient(-0.20943952f), 0.0f);
}

TEST(FlightAero, StillAirGivesFullCircleAngleAndNoForces)
{
    FlightInputs in = Level(D3DXVECTOR3(0, 0, 0), 0.0f);
    FlightState st;
    const FlightOutputs out = FlightModelStep(in, st);
    EXPECT_EQ(st.angleOfAttack, 6.2831855f);
    EXPECT_EQ(out.velocity, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(out.rates, D3DXVECTOR3(0, 0, 0));
}

TEST(FlightAero, RollAndYawMomentsAreMirrorSymmetric)
{
    auto step = [](float stickRoll, float stickYaw, float slip) {
        FlightInputs in = Level(D3DXVECTOR3(slip, 0.0f, -0.2f), 2.0f);
        in.stickRoll = stickRoll;
        in.stickYaw = stickYaw;
        FlightState st;
        return FlightModelStep(in, st);
    };
    const FlightOutputs left = step(0.2f, 0.0f, 0.0f), right = step(-0.2f, 0.0f, 0.0f);
    EXPECT_GT(std::fabs(left.rates.y), 1e-4f);
    EXPECT_FLOAT_EQ(left.rates.y, -right.rates.y);
    EXPECT_FLOAT_EQ(left.rates.x, right.rates.x);
    EXPECT_FLOAT_EQ(left.velocity.y, right.velocity.y);

    const FlightOutputs yawLeft = step(0.0f, 0.1f, 0.01f), yawRight = step(0.0f, -0.1f, -0.01f);
    EXPECT_GT(std::fabs(yawLeft.rates.z), 1e-4f);
    EXPECT_FLOAT_EQ(yawLeft.rates.z, -yawRight.rates.z);
}

TEST(FlightAero, RatesNeverLeaveTheirLimit)
{
    for (float sign : {1.0f, -1.0f}) {
        FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -0.01f), 0.0f);
        in.stickPitch = in.stickRoll = in.stickYaw = 0.5236f * sign;
        in.dt = 60.0f;
        FlightState st;
        FlightOutputs out = FlightModelStep(in, st);
        for (float r : {out.rates.x, out.rates.y, out.rates.z}) {
            EXPECT_LE(std::fabs(r), kRateLimit);
        }
        EXPECT_EQ(std::fabs(out.rates.y), kRateLimit);
        // Starting beyond the limit comes back inside it.
        in.rates = D3DXVECTOR3(40.0f, -40.0f, 40.0f) * sign;
        in.dt = 0.01f;
        out = FlightModelStep(in, st);
        for (float r : {out.rates.x, out.rates.y, out.rates.z}) EXPECT_LE(std::fabs(r), kRateLimit);
    }
}

TEST(FlightAero, DragPullsTowardTheSurfaceVelocity)
{
    for (float excess : {0.05f, -0.05f}) {
        FlightInputs in = Level(D3DXVECTOR3(0.1f + excess, 0.0f, 0.0f), 0.0f);
        in.surfaceVelocity = D3DXVECTOR3(0.1f, 0.0f, 0.0f);
        in.dt = 0.01f;
        FlightState st;
        const FlightOutputs out = FlightModelStep(in, st);
        EXPECT_LT(std::fabs(out.velocity.x - 0.1f), std::fabs(excess)) << excess;
        EXPECT_GT((out.velocity.x - 0.1f) * excess, 0.0f) << "no overshoot";
    }
    for (float speed : {0.3f, -0.3f}) {
        FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, speed), 0.0f);
        in.dt = 0.01f;
        FlightState st;
        const FlightOutputs out = FlightModelStep(in, st);
        EXPECT_LT(std::fabs(out.velocity.z), 0.3f) << speed;
    }
}

TEST(FlightAero, ForceValuesChangeOnlyOnControllerTicks)
{
    FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -0.01f), 0.0f);
    in.stickRoll = 0.1f;
    in.stickPitch = -0.1f;
    in.forceFeedbackAvailable = true;
    FlightState st;
    st.forceFeedbackRoll = 1234;
    st.forceFeedbackPitch = 5678;
    FlightModelStep(in, st);
    EXPECT_EQ(st.forceFeedbackRoll, 1234);
    EXPECT_EQ(st.forceFeedbackPitch, 5678);

    in.controllerTick = true;
    FlightModelStep(in, st);
    EXPECT_EQ(st.forceFeedbackRoll, 19549);  // 0.1 x 195493, truncated
    EXPECT_EQ(st.forceFeedbackPitch, -19549);

    in.forceFeedbackAvailable = false;
    in.stickRoll = 0.3f;
    FlightModelStep(in, st);
    EXPECT_EQ(st.forceFeedbackRoll, 19549);

    // Above the limit the value follows the dynamic pressure, saturating at int32.
    FlightInputs fast = Level(D3DXVECTOR3(0.0f, 0.0f, -100.0f), 0.0f);
    fast.stickRoll = 0.5f;
    fast.stickPitch = -0.5f;
    fast.forceFeedbackAvailable = fast.controllerTick = true;
    FlightModelStep(fast, st);
    EXPECT_EQ(st.forceFeedbackRoll, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(st.forceFeedbackPitch, std::numeric_limits<std::int32_t>::min());
}

TEST(FlightAero, TruncationToInt32IsRangeChecked)
{
    EXPECT_EQ(TruncateToInt32(-2.7), -2);
    EXPECT_EQ(TruncateToInt32(2.7), 2);
    EXPECT_EQ(TruncateToInt32(3e9), 2147483647);
    EXPECT_EQ(TruncateToInt32(-3e9), -2147483647 - 1);
    EXPECT_EQ(TruncateToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(TruncateToInt32(std::numeric_limits<double>::infinity()), 2147483647);
}

class FlyOwn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        OwnVesselIndex = 1;
        D3DXMatrixIdentity(&Vessels[1].WorldMatrix);
        Vessels[1].Velocity = D3DXVECTOR3(0.2f, 0.0f, 0.0f);
        Vessels[1].Position = D3DXVECTOR3(0.0f, 3000.0f, 0.0f);
    }
    D3DXMATRIX Identity()
    {
        D3DXMATRIX m;
        D3DXMatrixIdentity(&m);
        return m;
    }
};

TEST_F(FlyOwn, TvmTargetsAreVesselsOrTheFirstThreeObjects)
{
    TvmMode = 1;
    Vessels[4].Velocity = D3DXVECTOR3(0.05f, 0.0f, 0.0f);
    TargetIndex = 4;
    FlyOwnVessel(Identity(), 0.1f, false);
    EXPECT_NEAR(RelativeVelocity.x, 0.15f, 1e-6f);

    UniverseObjects[1].Velocity = D3DXVECTOR3(0.0f, 0.1f, 0.0f);
    TargetIndex = -2;
    FlyOwnVessel(Identity(), 0.1f, false);
    EXPECT_NEAR(RelativeVelocity.x, 0.2f, 1e-6f);
    EXPECT_NEAR(RelativeVelocity.y, -0.1f, 1e-6f);

    TargetIndex = -9;  // no such target: nothing to hold
    FlyOwnVessel(Identity(), 0.1f, false);
    EXPECT_EQ(RelativeVelocity, D3DXVECTOR3(0, 0, 0));
    // Before the first drawn frame the vessel itself is untouched.
    EXPECT_EQ(Vessels[1].Velocity, D3DXVECTOR3(0.2f, 0.0f, 0.0f));
}

TEST_F(FlyOwn, WritesResultsBackOnceFramesAreDrawn)
{
    AltitudeMSL = 10.0f;
    ThrustSetting = 1.0f;
    ForceFeedbackAvailable = 1;
    StickRoll = 0.1f;
    FlyOwnVessel(Identity(), 0.1f, true);
    EXPECT_LT(Vessels[1].Velocity.z, 0.0f);
    EXPECT_GT(IndicatedAirspeed, 0.0f);
    EXPECT_EQ(ForceFeedbackRoll, 19549);
    EXPECT_NE(ApparentVelocity, D3DXVECTOR3(0, 0, 0));

    OwnVesselIndex = VESSEL_NONE;  // no own vessel: nothing runs
    const D3DXVECTOR3 before = Vessels[1].Velocity;
    FlyOwnVessel(Identity(), 0.1f, true);
    EXPECT_EQ(Vessels[1].Velocity, before);
}

}  // namespace

namespace {

// The aerodynamic step written out again, in double, from the vessel's data: for
// level ship axes (rotation and world the identity), no mode and thrust setting s
// (the hold then only adds -s, capped at 0.06, to the forward velocity).
struct AeroExpect {
    double velocity[3];
    double rates[3];
    double angleOfAttack, airspeed, authority;
};

AeroExpect ExpectedAero(const FlightInputs& in)
{
    const double dt = in.dt;
    const double sr = in.stickRoll, sp = in.stickPitch, sy = in.stickYaw;
    const double rx = in.rates.x, ry = in.rates.y, rz = in.rates.z;
    double vb[3] = {in.velocity.x, in.velocity.y, in.velocity.z};
    vb[2] += std::fmax(-0.06, std::fmin(0.06, -static_cast<double>(in.thrustSetting))) * dt;
    const double rho = std::exp(-std::fabs(static_cast<double>(in.altitudeMSL)) / 8.0);
    const double air[3] = {in.surfaceVelocity.x - vb[0], in.surfaceVelocity.y - vb[1], in.surfaceVelocity.z - vb[2]};
    auto pressure = [rho](double u) { return (u * 3280.8) * (u * 3280.8) * rho * 0.0011885; };
    auto wing = [](double a) { return std::fabs(a) < 0.2618 ? a / 0.2618 * 1.575 + 0.35 : 0.0; };
    auto tail = [](double a) { return std::fabs(a) < 0.20943952 ? a / 0.20943952 * 1.2 : 0.0; };
    auto limit = [](double x, double a) { return std::fmax(-a, std::fmin(a, x)); };

    AeroExpect e{};
    const double qbar = pressure(air[2]);
    e.airspeed = rho * air[2];
    const bool slow = e.airspeed < 0.04;
    double tRoll = 0, tYaw = 0, tPitch = 0;
    if (in.thrustAugEnabled) {
        e.authority = 1.0 - std::fmax(0.0, std::fmin(1.0, (e.airspeed - 0.04) / 0.275));
        tRoll = limit((3 * sr - ry) * e.authority, 0.1) * 1e7;
        tYaw = limit((3 * sy + rz) * e.authority, 0.1) * 1e7;
        tPitch = limit((3 * sp - rx) * e.authority, 0.1) * 1e7;
    }
    e.angleOfAttack = -std::atan(air[1] / air[2]);

    // Two wings, each with its aileron; the weaker one lifts the vessel.
    const double fromRoll = -17.301342 * ry * 0.001, fromYaw = -17.896837 * rz * 0.001;
    const double f = sr / 0.5235988;
    double lift[2];
    for (int side = 0; side < 2; ++side) {
        const double sign = side == 0 ? 1.0 : -1.0;  // wing 1, wing 2
        const double speed = air[2] - sign * fromYaw;
        const double q = pressure(speed);
        const double alpha = -std::atan((air[1] + sign * fromRoll) / speed);
        lift[side] = wing(alpha) * q * 3180.375;
        const double deflected = alpha - sign * f * 0.05235988;
        if (std::fabs(deflected) < 0.2618)
            lift[side] += (deflected / 0.2618 * 1.575 + 0.35 - sign * 0.65 * f) * q * 1006.2375;
    }
    const double weaker = std::fmin(lift[0], lift[1]);
    vb[1] -= 2 * 0.957 * weaker * 0.00980665 / 265000 * dt;

    double roll = (lift[1] - lift[0]) * 17.301342 + (slow ? 17.301342 * tRoll : 0.0) +
                  (51.412037 * ry) * (51.412037 * ry) * 434.96613 * rho;
    e.rates[1] = limit(ry + roll / 60208260 * dt, 12.566371);

    double tailLift = tail(e.angleOfAttack + 0.08) * qbar * 1108.668;
    const double elevator = (sp + in.pitchTrim) / 0.5235988;
    const double elevatorAngle = elevator * 0.05235988 + e.angleOfAttack - rx;
    if (std::fabs(elevatorAngle) < 0.20943952)
        tailLift += (elevatorAngle / 0.20943952 * 1.2 + 0.7 * elevator) * qbar * 895.372;
    double pitch = 2 * (-5.575904 * weaker) + 29.713083 * tailLift + (slow ? 29.713083 * tPitch : 0.0);
    pitch += rx >= 0 ? (47.2571 * rx) * (47.2571 * rx) * 30.15978 * rho : (50.3674 * rx) * (50.3674 * rx) * 16.2104 * rho;
    const double upFlow = (air[1] * 3280.8) * (air[1] * 3280.8) * rho * 201.87;
    pitch += air[1] >= 0 ? upFlow : -upFlow;
    e.rates[0] = limit(rx + pitch / 55301856 * dt, 12.566371);

    const double beta = std::atan(air[0] / air[2]);
    double finLift = tail(beta) * qbar * 990.33;
    const double rudder = sy / 0.5235988;
    const double rudderAngle = beta + rz + rudder * 0.05235988;
    if (std::fabs(rudderAngle) < 0.20943952)
        finLift += (rudderAngle / 0.20943952 * 1.2 + 0.7 * rudder) * qbar * 387.83603;
    double yaw = 29.485 * finLift + (in.yawFromThrust ? 162183.7 * in.displayedThrust : 0.0) +
                 (slow ? 29.485 * tYaw : 0.0) + (70.80189 * rz) * (70.80189 * rz) * 262.3469 * rho;
    const double sideFlow = (air[0] * 3280.8) * (air[0] * 3280.8) * rho * 118.42336;
    yaw += air[0] > 0 ? sideFlow : -sideFlow;
    e.rates[2] = limit(rz - yaw / 110861472 * dt, 12.566371);

    const double drag = rho * 3.7006224e-08 * dt;
    const double coefficient[3] = {12.365324, 28.85818, 2.0619044};
    for (int k = 0; k < 3; ++k) {
        const double amount = coefficient[k] * drag * (air[k] * 3280.8) * (air[k] * 3280.8);
        vb[k] += air[k] > 0 ? amount : -amount;
    }
    for (int k = 0; k < 3; ++k) e.velocity[k] = vb[k];
    return e;
}

double At(const D3DXVECTOR3& v, int k) { return k == 0 ? v.x : k == 1 ? v.y : v.z; }

// Compares what the step changed with what the written-out model changes, to a
// part in 10^5 of each change (and the float rounding of the value changed).
void ExpectStepMatches(const FlightInputs& in)
{
    FlightState st;
    st.indicatedAirspeed = 0.03f;  // modes stay
    const FlightOutputs out = FlightModelStep(in, st);
    const AeroExpect e = ExpectedAero(in);
    ASSERT_TRUE(out.moved);
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const double dv = e.velocity[k] - At(in.velocity, k), dr = e.rates[k] - At(in.rates, k);
        EXPECT_NEAR(At(out.velocity, k) - At(in.velocity, k), dv, 1e-5 * std::fabs(dv) + 3e-7 * std::fabs(e.velocity[k]) + 1e-9)
            << "velocity";
        EXPECT_NEAR(At(out.rates, k) - At(in.rates, k), dr, 1e-5 * std::fabs(dr) + 3e-7 * std::fabs(e.rates[k]) + 1e-9)
            << "rate";
    }
    EXPECT_NEAR(st.angleOfAttack, e.angleOfAttack, 1e-6 * std::fabs(e.angleOfAttack));
    EXPECT_NEAR(st.indicatedAirspeed, e.airspeed, 1e-6 * std::fabs(e.airspeed));
    EXPECT_NEAR(st.thrustAugAuthority, e.authority, 1e-6);
}

}  // namespace

// Cruising: wings, ailerons, tail with elevator and trim, fin with rudder, the
// angle-of-attack and sideslip terms, thrust yaw and drag on every axis.
TEST(FlightAero, CruiseStepMatchesTheModelWrittenOut)
{
    FlightInputs in = Level(D3DXVECTOR3(-0.004f, -0.008f, -0.153f), 2.0f);
    in.surfaceVelocity = D3DXVECTOR3(0.001f, 0.002f, -0.003f);
    in.rates = D3DXVECTOR3(0.02f, -0.03f, 0.04f);
    in.stickPitch = 0.1f;
    in.stickRoll = -0.2f;
    in.stickYaw = 0.15f;
    in.pitchTrim = 0.05f;
    in.yawFromThrust = true;
    in.displayedThrust = 0.3f;
    in.dt = 1.0f;
    ExpectStepMatches(in);
    // The other way round: air from below and from the left.
    in.velocity = D3DXVECTOR3(0.006f, 0.012f, -0.12f);
    in.stickRoll = 0.3f;
    in.rates = D3DXVECTOR3(-0.01f, 0.05f, -0.03f);
    in.thrustSetting = 0.02f;
    ExpectStepMatches(in);
}

// Slow flight: the reaction-control torques act, the aerodynamic forces are small.
TEST(FlightAero, SlowStepWithReactionControlMatchesTheModelWrittenOut)
{
    FlightInputs in = Level(D3DXVECTOR3(0.002f, -0.003f, -0.03f), 10.0f);
    in.rates = D3DXVECTOR3(-0.02f, 0.03f, 0.02f);
    in.stickPitch = 0.01f;
    in.stickRoll = 0.02f;
    in.stickYaw = -0.01f;
    in.dt = 0.5f;
    ExpectStepMatches(in);
}

// Fast rotation in still air: the rate terms of every axis dominate.
TEST(FlightAero, SpinningInStillAirMatchesTheModelWrittenOut)
{
    for (float sign : {1.0f, -1.0f}) {
        SCOPED_TRACE(sign);
        FlightInputs in = Level(D3DXVECTOR3(0.0f, 0.0f, -0.001f), 0.0f);
        in.rates = D3DXVECTOR3(2.0f * sign, -1.5f * sign, 1.2f * sign);
        in.thrustAugEnabled = false;
        in.dt = 0.25f;
        ExpectStepMatches(in);
    }
}
