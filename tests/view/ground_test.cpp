#include "view_test_support.h"

#include "view/ground.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using namespace viewtest;

namespace {

constexpr float kSpin = 7.27e-5f;

class Ground : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetViewState();
        vessel_ = &Vessels[5];
        env_.spinRate = kSpin;
        D3DXMatrixIdentity(&env_.homeWorld);
        D3DXMatrixIdentity(&vessel_->WorldMatrix);
    }
    void Place(const D3DXVECTOR3& p)
    {
        vessel_->Position = p;
        vessel_->DoublePosition[0] = p.x;
        vessel_->DoublePosition[1] = p.y;
        vessel_->DoublePosition[2] = p.z;
    }
    void Own(float altitude = 5.0f)
    {
        env_.ownVessel = true;
        env_.altitudeMSL = altitude;
    }
    VesselState* vessel_ = nullptr;
    GroundEnvironment env_;
    TouchdownState touchdown_;
};

TEST_F(Ground, ContactBandBoundaries)
{
    Own();
    const float ground = DEFAULT_GROUND_RADIUS;

    // Exactly one band width above the ground radius is airborne.
    Place(D3DXVECTOR3(ground + CONTACT_BAND, 0.0f, 0.0f));
    ASSERT_EQ(D3DXVec3Length(&vessel_->Position), ground + CONTACT_BAND);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Landed, 0);
    EXPECT_LT(vessel_->Velocity.x, 0.0f);

    // Inside the band: contact, position kept.
    const D3DXVECTOR3 inside(ground + 0.0005f, 0.0f, 0.0f);
    Place(inside);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Landed, 1);
    EXPECT_EQ(vessel_->Position, inside);
    EXPECT_EQ(vessel_->GroundRadius, ground);
}

TEST_F(Ground, BelowTheBandSnapsOntoTheGround)
{
    Own(-1.0f);
    Place(D3DXVECTOR3(0.0f, -2000.0f, -1000.0f));
    vessel_->Velocity = D3DXVECTOR3(0.1f, 0.1f, 0.1f);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_NEAR(D3DXVec3Length(&vessel_->Position), DEFAULT_GROUND_RADIUS, 1e-3f);
    EXPECT_NEAR(vessel_->Position.y / vessel_->Position.z, 2.0f, 1e-5f);  // same direction
    EXPECT_EQ(vessel_->DoublePosition[0], vessel_->Position.x);
    EXPECT_EQ(vessel_->DoublePosition[1], vessel_->Position.y);
    EXPECT_EQ(vessel_->DoublePosition[2], vessel_->Position.z);
    EXPECT_EQ(vessel_->Velocity, vessel_->SurfaceVelocity);
    EXPECT_EQ(vessel_->Landed, 1);
    // No frame drawn yet: no touchdown figure.
    EXPECT_FALSE(touchdown_.latched);
}

TEST_F(Ground, OwnGroundRadiusFromTheTerrainOnlyInItsRange)
{
    Own();
    Place(D3DXVECTOR3(3000.0f, 0.0f, 0.0f));
    env_.terrainRadius = 2941.0f;
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_FLOAT_EQ(vessel_->GroundRadius, 2941.004f);

    env_.terrainRadius = 1000.0f;  // not measured yet
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_FLOAT_EQ(vessel_->GroundRadius, DEFAULT_GROUND_RADIUS);

    env_.terrainRadius = 2941.0f;
    Place(D3DXVECTOR3(3002.6f, 0.0f, 0.0f));  // too high for terrain
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_FLOAT_EQ(vessel_->GroundRadius, DEFAULT_GROUND_RADIUS);
}

TEST_F(Ground, OtherVesselsKeepTheirReportedGroundRadius)
{
    vessel_->GroundRadius = 2950.0f;
    Place(D3DXVECTOR3(2949.0f, 0.0f, 0.0f));
    env_.terrainRadius = 2941.0f;
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_FLOAT_EQ(vessel_->GroundRadius, 2950.0f);
    EXPECT_NEAR(vessel_->Position.x, 2950.0f, 1e-3f);

    // Never reported: it stands on the default ground instead of falling through.
    vessel_->GroundRadius = 0.0f;
    Place(D3DXVECTOR3(0.0f, 2900.0f, 0.0f));
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_NEAR(vessel_->Position.y, DEFAULT_GROUND_RADIUS, 1e-3f);
}

TEST_F(Ground, TakeOffClearsRatesAndLandedFlag)
{
    vessel_->GroundRadius = DEFAULT_GROUND_RADIUS;
    vessel_->Landed = 1;
    vessel_->Rates = D3DXVECTOR3(0.1f, 0.2f, 0.3f);
    Place(D3DXVECTOR3(0.0f, 0.0f, 2945.0f));
    GravityAndGround(*vessel_, 0.5f, env_, touchdown_);
    EXPECT_EQ(vessel_->Landed, 0);
    EXPECT_EQ(vessel_->Rates, D3DXVECTOR3(0, 0, 0));
}

TEST_F(Ground, GravityFallsWithTheSquareOfTheDistance)
{
    vessel_->GroundRadius = DEFAULT_GROUND_RADIUS;
    for (float k : {1.5f, 2.0f, 4.0f}) {
        vessel_->Velocity = D3DXVECTOR3(0, 0, 0);
        Place(D3DXVECTOR3(0.0f, PLANET_RADIUS * k, 0.0f));
        GravityAndGround(*vessel_, 2.0f, env_, touchdown_);
        EXPECT_NEAR(vessel_->Velocity.y, -0.01127f / (k * k) * 2.0f, 1e-7f) << k;
        EXPECT_EQ(vessel_->Velocity.x, 0.0f);
    }
    // A time step of 0 adds nothing.
    vessel_->Velocity = D3DXVECTOR3(0.1f, 0, 0);
    GravityAndGround(*vessel_, 0.0f, env_, touchdown_);
    EXPECT_EQ(vessel_->Velocity, D3DXVECTOR3(0.1f, 0, 0));
}

TEST_F(Ground, SurfaceVelocityFromThePlanetsSpin)
{
    // Equator: omega r along the east direction, sign as the spin about -Z gives it.
    const D3DXVECTOR3 equator = SurfaceVelocityAt(D3DXVECTOR3(3000.0f, 0.0f, 0.0f), kSpin);
    EXPECT_NEAR(equator.x, 0.0f, 1e-9f);
    EXPECT_NEAR(equator.y, kSpin * 3000.0f, 1e-7f);
    EXPECT_NEAR(equator.z, 0.0f, 1e-9f);

    // Latitude 60: half the equator's speed at that radius.
    const D3DXVECTOR3 north = SurfaceVelocityAt(D3DXVECTOR3(1500.0f, 0.0f, -2598.0762f), kSpin);
    EXPECT_NEAR(D3DXVec3Length(&north), kSpin * 3000.0f * 0.5f, 1e-6f);

    // Poles and the centre: zero, never NaN.
    for (const D3DXVECTOR3& p : {D3DXVECTOR3(0, 0, 3000.0f), D3DXVECTOR3(0, 0, -3000.0f), D3DXVECTOR3(0, 0, 0),
                                 D3DXVECTOR3(1e-30f, 0, -3000.0f)}) {
        const D3DXVECTOR3 s = SurfaceVelocityAt(p, kSpin);
        EXPECT_TRUE(std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z));
        EXPECT_LT(D3DXVec3Length(&s), 1e-6f);
    }
}

TEST_F(Ground, PoleLandingStaysFinite)
{
    Own();
    Place(D3DXVECTOR3(0.0f, 0.0f, -2939.0f));
    vessel_->Velocity = D3DXVECTOR3(0.0f, 0.0f, 0.01f);
    IntegratePosition(*vessel_, 0.1f, kSpin);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Landed, 1);
    for (float f : {vessel_->Position.x, vessel_->Position.y, vessel_->Position.z, vessel_->Velocity.x,
                    vessel_->Velocity.y, vessel_->Velocity.z, touchdown_.impactForce})
        EXPECT_TRUE(std::isfinite(f));
}

TEST_F(Ground, ImpactFigure)
{
    const D3DXVECTOR3 p(0.0f, 2940.0f, 0.0f), v(0.0f, -0.002f, 0.0f);
    const float drop = 0.002f;
    // Vertical descent (c = -1).
    EXPECT_NEAR(ImpactFigure(p, v, D3DXVECTOR3(0.0f, -0.3f, 0.0f)), drop / 0.0049f, 1e-4f);
    // No vertical air flow (c = 0), rising air flow (c > 0 counts as 0) and still air.
    EXPECT_NEAR(ImpactFigure(p, v, D3DXVECTOR3(0.0f, 0.0f, 0.2f)), drop / 0.000784f, 1e-3f);
    EXPECT_NEAR(ImpactFigure(p, v, D3DXVECTOR3(0.0f, 0.5f, 0.2f)), drop / 0.000784f, 1e-3f);
    const float still = ImpactFigure(p, v, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    EXPECT_TRUE(std::isfinite(still));
    EXPECT_NEAR(still, drop / 0.000784f, 1e-3f);
    // A 45-degree glide lies between.
    const float c = -std::sqrt(0.5f);
    const float expected = drop / std::sqrt((0.0049f * c) * (0.0049f * c) + ((c + 1) * 0.000784f) * ((c + 1) * 0.000784f));
    EXPECT_NEAR(ImpactFigure(p, v, D3DXVECTOR3(0.0f, -1.0f, 1.0f)), expected, 1e-3f);
}

TEST_F(Ground, TouchdownLatchesTheFigureOnce)
{
    Own();
    Place(D3DXVECTOR3(0.0f, DEFAULT_GROUND_RADIUS - 0.01f, 0.0f));
    vessel_->Velocity = D3DXVECTOR3(0.0f, -0.003f, 0.0f);
    env_.apparentVelocity = D3DXVECTOR3(0.0f, 0.1f, 0.0f);  // rising air: c = 0
    touchdown_.dorMode = touchdown_.tvmMode = true;
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_TRUE(touchdown_.latched);
    EXPECT_NEAR(touchdown_.impactForce, 0.003f / 0.000784f, 1e-3f);
    EXPECT_FALSE(touchdown_.dorMode);
    EXPECT_FALSE(touchdown_.tvmMode);

    // Already latched (or already landed): the figure stays.
    vessel_->Landed = 0;
    touchdown_.impactForce = 9.0f;
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(touchdown_.impactForce, 9.0f);

    // Other vessels never touch the own touchdown values.
    TouchdownState other;
    other.dorMode = true;
    env_.ownVessel = false;
    vessel_->Landed = 0;
    GravityAndGround(*vessel_, 0.1f, env_, other);
    EXPECT_FALSE(other.latched);
    EXPECT_TRUE(other.dorMode);
}

TEST_F(Ground, LevellingOnTheTerrain)
{
    Own();
    Place(D3DXVECTOR3(0.0f, 2939.0f, 0.0f));
    vessel_->Rates = D3DXVECTOR3(0.5f, 0.5f, 1.0f);
    env_.terrainSlope = D3DXVECTOR3(0.1f, 1.0f, -0.2f);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_NEAR(vessel_->Rates.x, std::atan(0.2f), 1e-6f);
    EXPECT_NEAR(vessel_->Rates.y, std::atan(0.1f), 1e-6f);
    EXPECT_NEAR(vessel_->Rates.z, 0.7f, 1e-6f);

    // The vessel's own attitude enters through its world matrix.
    D3DXMatrixRotationZ(&vessel_->WorldMatrix, 0.3f);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    D3DXMATRIX inverse;
    D3DXMatrixInverse(&inverse, nullptr, &vessel_->WorldMatrix);
    D3DXVECTOR3 u;
    D3DXVec3TransformCoord(&u, &env_.terrainSlope, &inverse);
    EXPECT_NEAR(vessel_->Rates.x, std::atan(-u.z / u.y), 1e-6f);
    EXPECT_NEAR(vessel_->Rates.y, std::atan(u.x / u.y), 1e-6f);
    EXPECT_NEAR(vessel_->Rates.z, 0.49f, 1e-6f);

    // A terrain vector without a vertical part gives no tilt.
    D3DXMatrixIdentity(&vessel_->WorldMatrix);
    env_.terrainSlope = D3DXVECTOR3(1.0f, FLT_EPSILON, 0.0f);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Rates.x, 0.0f);
    EXPECT_EQ(vessel_->Rates.y, 0.0f);

    // Not before the first drawn frame.
    env_.altitudeMSL = -1.0f;
    vessel_->Rates = D3DXVECTOR3(0.5f, 0.5f, 1.0f);
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Rates, D3DXVECTOR3(0.5f, 0.5f, 1.0f));
}

// The terrain vector is carried by the home planet's matrix first and then back
// through the vessel's world matrix; both are turned and moved here, so the order
// matters. Expected values by hand: the planet turns about Z by 0.3 and moves by h,
// the vessel is turned about X by 0.2 and placed at t.
TEST_F(Ground, LevellingCarriesTheTerrainThroughThePlanetThenBackThroughTheVessel)
{
    Own();
    Place(D3DXVECTOR3(0.0f, 2939.0f, 0.0f));
    const float b = 0.3f, a = 0.2f;
    const D3DXVECTOR3 h(1.0f, 2.0f, 3.0f), t(5.0f, 40.0f, -7.0f), slope(10.0f, 60.0f, -5.0f);
    D3DXMATRIX turn, move;
    D3DXMatrixRotationZ(&turn, b);
    D3DXMatrixTranslation(&move, h.x, h.y, h.z);
    D3DXMatrixMultiply(&env_.homeWorld, &turn, &move);
    D3DXMatrixRotationX(&turn, a);
    D3DXMatrixTranslation(&move, t.x, t.y, t.z);
    D3DXMatrixMultiply(&vessel_->WorldMatrix, &turn, &move);
    env_.terrainSlope = slope;
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);

    // Through the planet: turned about Z (x cos - y sin, x sin + y cos), then moved.
    const double w[3] = {slope.x * std::cos(b) - slope.y * std::sin(b) + h.x,
                         slope.x * std::sin(b) + slope.y * std::cos(b) + h.y, slope.z + h.z};
    // Back through the vessel: moved back, then turned about X by -a.
    const double m[3] = {w[0] - t.x, w[1] - t.y, w[2] - t.z};
    const double u[3] = {m[0], m[1] * std::cos(a) + m[2] * std::sin(a), -m[1] * std::sin(a) + m[2] * std::cos(a)};
    EXPECT_NEAR(vessel_->Rates.x, std::atan(-u[2] / u[1]), 1e-5);
    EXPECT_NEAR(vessel_->Rates.y, std::atan(u[0] / u[1]), 1e-5);
}

TEST_F(Ground, LandedOtherVesselsStopPitchAndRoll)
{
    env_.altitudeMSL = 5.0f;
    vessel_->GroundRadius = DEFAULT_GROUND_RADIUS;
    Place(D3DXVECTOR3(0.0f, 2939.0f, 0.0f));
    vessel_->Rates = D3DXVECTOR3(0.5f, -0.5f, 1.0f);
    env_.terrainSlope = D3DXVECTOR3(0.1f, 1.0f, -0.2f);  // the own vessel's, not used
    GravityAndGround(*vessel_, 0.1f, env_, touchdown_);
    EXPECT_EQ(vessel_->Rates.x, 0.0f);
    EXPECT_EQ(vessel_->Rates.y, 0.0f);
    EXPECT_NEAR(vessel_->Rates.z, 0.7f, 1e-6f);
}

TEST_F(Ground, IntegrationMovesRelativeToTheGroundAndTurnsAirborneVelocity)
{
    Place(D3DXVECTOR3(3000.0f, 0.0f, 0.0f));
    vessel_->DoublePosition[0] = 3000.000000001;
    vessel_->Velocity = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    vessel_->SurfaceVelocity = D3DXVECTOR3(0.0f, 0.25f, 0.0f);
    IntegratePosition(*vessel_, 2.0f, 0.1f);
    EXPECT_DOUBLE_EQ(vessel_->DoublePosition[1], 1.5);
    EXPECT_EQ(vessel_->DoublePosition[0], 3000.000000001);  // double precision kept
    EXPECT_EQ(vessel_->Position, D3DXVECTOR3(3000.0f, 1.5f, 0.0f));
    // Turned about -Z by 0.2 rad: +Y turns toward +X.
    EXPECT_NEAR(vessel_->Velocity.x, std::sin(0.2f), 1e-6f);
    EXPECT_NEAR(vessel_->Velocity.y, std::cos(0.2f), 1e-6f);

    vessel_->Landed = 1;
    vessel_->Velocity = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    IntegratePosition(*vessel_, 2.0f, 0.1f);
    EXPECT_EQ(vessel_->Velocity, D3DXVECTOR3(0.0f, 1.0f, 0.0f));

    // A zero step changes nothing.
    const D3DXVECTOR3 before = vessel_->Position;
    vessel_->Landed = 0;
    IntegratePosition(*vessel_, 0.0f, 0.1f);
    EXPECT_EQ(vessel_->Position, before);
    EXPECT_EQ(vessel_->Velocity, D3DXVECTOR3(0.0f, 1.0f, 0.0f));
}

TEST_F(Ground, EntryPointsUseTheSharedState)
{
    UniverseObjects[2].Kind = KIND_HOME_PLANET;
    UniverseObjects[2].RateB = kSpin;
    D3DXMatrixIdentity(&UniverseObjects[2].WorldMatrix);
    HomeObjectIndex = 2;
    OwnVesselIndex = 5;
    AltitudeMSL = 3.0f;
    DorMode = 1;
    ApparentVelocity = D3DXVECTOR3(0.0f, -1.0f, 0.0f);
    Place(D3DXVECTOR3(2939.0f, 0.0f, 0.0f));
    vessel_->Velocity = D3DXVECTOR3(-0.002f, 0.0f, 0.0f);
    IntegrateVesselPosition(5, 0.0f);
    ApplyGravityAndGround(5, 0.1f);
    EXPECT_EQ(TouchdownLatched, 1);
    EXPECT_EQ(DorMode, 0);
    EXPECT_GT(ImpactForce, 0.0f);
    EXPECT_NEAR(vessel_->SurfaceVelocity.y, kSpin * 2939.0f, 1e-6f);  // taken before the snap

    // Numbers outside the table do nothing.
    IntegrateVesselPosition(-1, 1.0f);
    ApplyGravityAndGround(8, 1.0f);
    ApplyGravityAndGround(255, 1.0f);
}

}  // namespace
