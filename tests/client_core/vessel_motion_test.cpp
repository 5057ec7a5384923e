#include "client/vessel_motion.h"

#include "client/client_state.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kRadius = 2939.6f;

class VesselMotionTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetShip(kVessel);
        SetPlanet(0.0f);
        SessionOnline.store(0);
    }
    void TearDown() override
    {
        ResetShip(kVessel);
        SetPlanet(0.0f);
        SessionOnline.store(0);
    }

    static void ResetShip(int i)
    {
        ShipRecord& s = Ships[i];
        s.present = 0;
        s.onGround = 0;
        s.position = s.velocity = s.surfaceVelocity = D3DXVECTOR3();
        s.doublePosition[0] = s.doublePosition[1] = s.doublePosition[2] = 0.0;
        s.attitude = D3DXQUATERNION();
        s.viewMatrix = D3DXMATRIX();
        s.pitchRate = s.rollRate = s.yawRate = 0.0f;
        s.registration = s.lastUpdate = s.groundRadius = 0.0f;
    }
    static void SetPlanet(float rate)
    {
        ScopedSection rotation(PlanetRotation.lock);
        PlanetRotation.rate = rate;
        D3DXMatrixIdentity(&PlanetRotation.universeMatrix);
    }
    static void Place(ShipRecord& s, D3DXVECTOR3 p)
    {
        s.position = p;
        s.doublePosition[0] = p.x;
        s.doublePosition[1] = p.y;
        s.doublePosition[2] = p.z;
    }
    // The console loop's attitude step and view matrix after the motion step.
    static void TurnAndBuildView(ShipRecord& s, float dt)
    {
        D3DXQuaternionNormalize(&s.attitude, &s.attitude);
        D3DXQUATERNION delta;
        D3DXQuaternionRotationYawPitchRoll(&delta, s.yawRate * dt, s.pitchRate * dt, s.rollRate * dt);
        D3DXQuaternionMultiply(&s.attitude, &s.attitude, &delta);
        D3DXMATRIX r, t;
        D3DXMatrixRotationQuaternion(&r, &s.attitude);
        D3DXMatrixInverse(&s.viewMatrix, nullptr, &r);
        D3DXMatrixTranslation(&t, -s.position.x, -s.position.y, -s.position.z);
        D3DXMatrixMultiply(&s.viewMatrix, &s.viewMatrix, &t);
    }
    // Angle between the vessel's -Y axis and the planet's centre as the
    // levelling sees it (position * rotation(attitude)): 0 when upright,
    // whatever the heading.
    static float TiltFromUpright(const ShipRecord& s)
    {
        D3DXQUATERNION q;
        D3DXQuaternionNormalize(&q, &s.attitude);
        D3DXMATRIX r;
        D3DXMatrixRotationQuaternion(&r, &q);
        D3DXVECTOR3 local;
        D3DXVec3TransformNormal(&local, &s.position, &r);
        D3DXVec3Normalize(&local, &local);
        return std::acos(std::fmin(1.0f, -local.y));
    }

    static constexpr int kVessel = 1;
    ShipRecord& ship = Ships[kVessel];
};

TEST_F(VesselMotionTest, UnreportedVesselGroundRadiusZeroFallsWithInverseSquareGravity)
{
    // Twice the reference radius: a quarter of the surface gravity, along -n.
    Place(ship, {2.0f * kRadius, 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 2.0f);
    EXPECT_EQ(ship.onGround, 0);
    EXPECT_NEAR(ship.velocity.x, -0.01127f / 4.0f * 2.0f, 1e-8f);
    EXPECT_EQ(ship.velocity.y, 0.0f);
    EXPECT_EQ(ship.velocity.z, 0.0f);

    // At the reference radius one second lowers the velocity along n by 0.01127.
    ResetShip(kVessel);
    Place(ship, {0.0f, 0.0f, -kRadius});
    ship.velocity = {0.5f, 0.0f, 0.0f};
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_NEAR(ship.velocity.z, 0.01127f, 1e-7f);
    EXPECT_EQ(ship.velocity.x, 0.5f);

    // 0.0004 from the centre with ground radius 0: airborne.
    ResetShip(kVessel);
    Place(ship, {MOTION_GROUND_BAND, 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 0);
}

TEST_F(VesselMotionTest, VesselAtTheOriginIsLandedWithoutSurfaceVelocity)
{
    SetPlanet(0.001f);
    ship.velocity = {1.0f, 2.0f, 3.0f};
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 1);
    EXPECT_EQ(ship.surfaceVelocity, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(ship.velocity, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(ship.position, D3DXVECTOR3(0, 0, 0));
}

TEST_F(VesselMotionTest, ContactBandEdges)
{
    const float gr = 3000.0f;
    // Exactly at the ground radius: landed, no snap.
    ship.groundRadius = gr;
    Place(ship, {0.0f, gr, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 1);
    EXPECT_EQ(ship.position, D3DXVECTOR3(0.0f, gr, 0.0f));

    // Upper edge: r equal to ground radius + band is airborne; just below it landed.
    const float edge = gr + MOTION_GROUND_BAND;
    Place(ship, {edge, 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 0);
    Place(ship, {std::nextafter(edge, 0.0f), 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 1);

    // Within the band below the ground: no snap.
    const float inBand = std::nextafter(gr - MOTION_GROUND_BAND, gr);
    Place(ship, {inBand, 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.position.x, inBand);

    // Below the band: lifted onto the ground radius along n, double position too.
    Place(ship, {0.0f, -0.6f * (gr - 1.0f), 0.8f * (gr - 1.0f)});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 1);
    EXPECT_NEAR(ship.position.y, -0.6f * gr, 1e-3f);
    EXPECT_NEAR(ship.position.z, 0.8f * gr, 1e-3f);
    EXPECT_EQ(ship.doublePosition[1], static_cast<double>(ship.position.y));
    EXPECT_EQ(ship.doublePosition[2], static_cast<double>(ship.position.z));

    // The next airborne step clears the flag.
    Place(ship, {0.0f, gr + 1.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.onGround, 0);
}

TEST_F(VesselMotionTest, SurfaceVelocityFollowsTheSpin)
{
    const float rate = 7.0e-5f;
    SetPlanet(rate);
    ship.groundRadius = kRadius;
    // Equator on +X: the ground moves toward +Y (spin about -Z).
    Place(ship, {kRadius, 0.0f, 0.0f});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_NEAR(ship.surfaceVelocity.x, 0.0f, 1e-9f);
    EXPECT_NEAR(ship.surfaceVelocity.y, rate * kRadius, 1e-6f);
    EXPECT_EQ(ship.velocity, ship.surfaceVelocity);

    // 60 degrees from the equator: half the speed.
    Place(ship, {0.5f * kRadius, 0.0f, -0.8660254f * kRadius});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_NEAR(ship.surfaceVelocity.y, 0.5f * rate * kRadius, 1e-5f);

    // At the pole: none (and no NaN).
    Place(ship, {0.0f, 0.0f, -kRadius});
    ApplyGravityAndGround(kVessel, 1.0f);
    EXPECT_EQ(ship.surfaceVelocity, D3DXVECTOR3(0, 0, 0));
}

TEST_F(VesselMotionTest, IntegrationMovesByRelativeVelocityAndTurnsAirborneVelocity)
{
    const float rate = 0.01f;
    SetPlanet(rate);
    Place(ship, {5000.0f, 0.0f, 0.0f});
    ship.velocity = {0.0f, 2.0f, 0.0f};
    ship.surfaceVelocity = {0.0f, 0.5f, 0.0f};

    // dt 0: nothing moves, velocity turned by angle 0.
    IntegrateVesselPosition(kVessel, 0.0f);
    EXPECT_EQ(ship.doublePosition[0], 5000.0);
    EXPECT_EQ(ship.doublePosition[1], 0.0);
    EXPECT_EQ(ship.velocity, D3DXVECTOR3(0.0f, 2.0f, 0.0f));

    IntegrateVesselPosition(kVessel, 2.0f);
    EXPECT_EQ(ship.doublePosition[1], 3.0);
    EXPECT_EQ(ship.position.y, 3.0f);
    // Turned about -Z by rate * dt: +Y swings toward +X.
    EXPECT_NEAR(ship.velocity.x, 2.0f * std::sin(0.02f), 1e-6f);
    EXPECT_NEAR(ship.velocity.y, 2.0f * std::cos(0.02f), 1e-6f);

    // Negative dt carries the position back; velocity turns back.
    IntegrateVesselPosition(kVessel, -2.0f);
    EXPECT_NEAR(ship.doublePosition[0], 5000.0 - 2.0 * 2.0 * std::sin(0.02), 1e-4);
    EXPECT_NEAR(ship.velocity.x, 0.0f, 1e-6f);
    EXPECT_NEAR(ship.velocity.y, 2.0f, 1e-6f);

    // The double position keeps precision the float copy cannot hold.
    ResetShip(kVessel);
    Place(ship, {3000.0f, 0.0f, 0.0f});
    ship.velocity = {1.0e-5f, 0.0f, 0.0f};
    ship.onGround = 1;
    for (int i = 0; i < 10; ++i) IntegrateVesselPosition(kVessel, 0.1f);
    EXPECT_NEAR(ship.doublePosition[0], 3000.00001, 1e-9);
}

// One airborne pass off every axis, against the physics written out again in
// double: ground speed w x p for the spin w = rate about -Z, gravity 0.01127 at
// 2939.6 km falling with the square of the distance toward the centre, the move by
// the velocity relative to the ground, and the velocity turned with the planet.
TEST_F(VesselMotionTest, AirbornePassOffTheAxesMatchesTheMotionWrittenOutInDouble)
{
    const double rate = 0.001, dt = 2.0;
    const double p[3] = {1000.0, -2000.0, 2500.0};
    const double v[3] = {0.3, 0.2, -0.1};
    SetPlanet(static_cast<float>(rate));
    Place(ship, {1000.0f, -2000.0f, 2500.0f});
    ship.velocity = {0.3f, 0.2f, -0.1f};
    ship.groundRadius = 2939.6f;

    ApplyGravityAndGround(kVessel, static_cast<float>(dt));
    IntegrateVesselPosition(kVessel, static_cast<float>(dt));

    const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    const double pull = 0.01127 * (2939.6 / r) * (2939.6 / r) * dt;
    const double ground[3] = {-rate * p[1], rate * p[0], 0.0};  // (0, 0, -rate) x p
    double fell[3], moved[3];
    for (int k = 0; k < 3; ++k) {
        fell[k] = v[k] - p[k] / r * pull;
        moved[k] = p[k] + (fell[k] - ground[k]) * dt;
    }
    // Turning about -Z by a: x' = x cos a + y sin a, y' = y cos a - x sin a.
    const double a = rate * dt;
    const double turned[3] = {fell[0] * std::cos(a) + fell[1] * std::sin(a),
                              fell[1] * std::cos(a) - fell[0] * std::sin(a), fell[2]};
    EXPECT_EQ(ship.onGround, 0);
    auto at = [](const D3DXVECTOR3& u, int k) { return k == 0 ? u.x : k == 1 ? u.y : u.z; };
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(at(ship.surfaceVelocity, k), ground[k], 1e-6);
        EXPECT_NEAR(ship.doublePosition[k], moved[k], 1e-5);
        EXPECT_NEAR(at(ship.position, k), moved[k], 1e-3);
        EXPECT_NEAR(at(ship.velocity, k), turned[k], 1e-6);
    }
}

TEST_F(VesselMotionTest, LandedVelocityIsNotTurned)
{
    SetPlanet(0.5f);
    Place(ship, {kRadius, 0.0f, 0.0f});
    ship.onGround = 1;
    ship.velocity = {0.0f, 1.0f, 0.0f};
    IntegrateVesselPosition(kVessel, 1.0f);
    EXPECT_EQ(ship.velocity, D3DXVECTOR3(0.0f, 1.0f, 0.0f));
}

TEST_F(VesselMotionTest, LevellingOnlyWhileSessionOnline)
{
    ship.groundRadius = kRadius;
    Place(ship, {0.0f, -kRadius, 0.0f});
    D3DXVECTOR3 x(1, 0, 0);
    D3DXQuaternionRotationAxis(&ship.attitude, &x, 0.3f);
    TurnAndBuildView(ship, 0.0f);
    ship.pitchRate = 0.2f;
    ship.rollRate = -0.1f;
    ship.yawRate = 1.0f;

    ApplyGravityAndGround(kVessel, 0.1f);
    EXPECT_EQ(ship.onGround, 1);
    EXPECT_EQ(ship.pitchRate, 0.2f);
    EXPECT_EQ(ship.rollRate, -0.1f);
    EXPECT_EQ(ship.yawRate, 1.0f);

    SessionOnline.store(1);
    ApplyGravityAndGround(kVessel, 0.1f);
    EXPECT_EQ(ship.yawRate, 0.7f);
    ApplyGravityAndGround(kVessel, 0.1f);
    EXPECT_EQ(ship.yawRate, 0.7f * 0.7f);  // once per call
    // Pitched by 0.3 about X: a pitch rate of -0.3 rad/s turns it back.
    EXPECT_NEAR(ship.pitchRate, -0.3f, 1e-5f);
    EXPECT_NEAR(ship.rollRate, 0.0f, 1e-5f);
}

// The home planet's matrix is applied before the vessel's own frame: turning the
// planet about its centre leaves the centre where it is (an upright vessel stays
// level), while moving the centre by d along Z tilts the vertical by atan(d / r).
TEST_F(VesselMotionTest, LevellingTakesThePlanetMatrixFirst)
{
    SessionOnline.store(1);
    ship.groundRadius = kRadius;
    Place(ship, {0.0f, -kRadius, 0.0f});
    TurnAndBuildView(ship, 0.0f);  // upright, heading 0
    {
        ScopedSection rotation(PlanetRotation.lock);
        D3DXMatrixRotationZ(&PlanetRotation.universeMatrix, 0.3f);
    }
    ship.pitchRate = ship.rollRate = 1.0f;
    ApplyGravityAndGround(kVessel, 0.1f);
    EXPECT_NEAR(ship.pitchRate, 0.0f, 1e-5f);
    EXPECT_NEAR(ship.rollRate, 0.0f, 1e-5f);

    {
        ScopedSection rotation(PlanetRotation.lock);
        D3DXMatrixTranslation(&PlanetRotation.universeMatrix, 0.0f, 0.0f, kRadius * std::tan(0.2f));
    }
    ApplyGravityAndGround(kVessel, 0.1f);
    EXPECT_NEAR(ship.pitchRate, 0.2f, 1e-5f);
    EXPECT_NEAR(ship.rollRate, 0.0f, 1e-5f);
}

TEST_F(VesselMotionTest, TiltedLandedVesselIsLevelledTowardUpright)
{
    SessionOnline.store(1);
    ship.groundRadius = kRadius;
    Place(ship, {0.0f, -kRadius, 0.0f});
    D3DXQUATERNION pitch, roll;
    D3DXVECTOR3 x(1, 0, 0), z(0, 0, 1);
    D3DXQuaternionRotationAxis(&pitch, &x, 0.4f);
    D3DXQuaternionRotationAxis(&roll, &z, -0.25f);
    D3DXQuaternionMultiply(&ship.attitude, &pitch, &roll);
    TurnAndBuildView(ship, 0.0f);

    float tilt = TiltFromUpright(ship);
    ASSERT_GT(tilt, 0.4f);
    for (int pass = 0; pass < 50; ++pass) {
        const float dt = 0.1f;
        ApplyGravityAndGround(kVessel, dt);
        IntegrateVesselPosition(kVessel, dt);
        TurnAndBuildView(ship, dt);
        float now = TiltFromUpright(ship);
        EXPECT_LT(now, tilt) << "pass " << pass;
        tilt = now;
    }
    EXPECT_LT(tilt, 0.01f);
    EXPECT_EQ(ship.onGround, 1);
}

TEST_F(VesselMotionTest, UnbuiltViewMatrixAndBadInputDoNotProduceNaN)
{
    SessionOnline.store(1);
    ship.groundRadius = kRadius;
    Place(ship, {0.0f, -kRadius, 0.0f});
    ship.pitchRate = 1.0f;
    ApplyGravityAndGround(kVessel, 0.1f);  // view matrix still all zero
    EXPECT_EQ(ship.pitchRate, 0.0f);
    EXPECT_EQ(ship.rollRate, 0.0f);

    // A negative ground radius leaves a vessel at the centre "airborne".
    ResetShip(kVessel);
    ship.groundRadius = -5.0f;
    ApplyGravityAndGround(kVessel, 1.0f);
    IntegrateVesselPosition(kVessel, 1.0f);
    EXPECT_FALSE(std::isnan(ship.velocity.x) || std::isnan(ship.velocity.y) || std::isnan(ship.velocity.z));
    EXPECT_FALSE(std::isnan(ship.doublePosition[0]));

    // Vessel numbers outside the table are ignored.
    ApplyGravityAndGround(-1, 1.0f);
    ApplyGravityAndGround(MAX_VESSELS, 1.0f);
    IntegrateVesselPosition(255, 1.0f);
}

}  // namespace
