#include "view/ground.h"

#include "view/universe.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

constexpr float HALF_PI = 1.5707964f;
const D3DXVECTOR3 SPIN_AXIS(0.0f, 0.0f, -1.0f);

float HomeSpinRate()
{
    const unsigned home = HomeObjectIndex;
    return home < UNIVERSE_OBJECT_COUNT ? UniverseObjects[home].RateB : 0.0f;
}

}  // namespace

D3DXVECTOR3 SurfaceVelocityAt(const D3DXVECTOR3& position, float spinRate)
{
    const float r = D3DXVec3Length(&position);
    D3DXVECTOR3 n, east;
    D3DXVec3Normalize(&n, &position);
    D3DXVec3Cross(&east, &SPIN_AXIS, &n);
    D3DXVec3Normalize(&east, &east);
    const float latitude = std::acos(std::clamp(D3DXVec3Dot(&n, &SPIN_AXIS), -1.0f, 1.0f)) - HALF_PI;
    return east * (std::cos(latitude) * (-spinRate * r));
}

float ImpactFigure(const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                   const D3DXVECTOR3& apparentVelocity)
{
    const float airspeed = D3DXVec3Length(&apparentVelocity);
    float c = airspeed > 0.0f ? apparentVelocity.y / airspeed : 0.0f;
    if (!(c <= 0.0f)) c = 0.0f;  // also catches NaN
    c = std::max(c, -1.0f);
    // The drop is a small difference of two radii near 2940 km: taken in double.
    const double px = position.x, py = position.y, pz = position.z;
    const double nx = px + velocity.x, ny = py + velocity.y, nz = pz + velocity.z;
    const double drop = std::sqrt(px * px + py * py + pz * pz) - std::sqrt(nx * nx + ny * ny + nz * nz);
    const double vertical = 0.0049 * c;
    const double horizontal = (c + 1.0) * 0.000784;
    return static_cast<float>(drop / std::sqrt(vertical * vertical + horizontal * horizontal));
}

void IntegratePosition(VesselState& vessel, float dt, float spinRate)
{
    const D3DXVECTOR3 motion = vessel.Velocity - vessel.SurfaceVelocity;
    vessel.DoublePosition[0] += static_cast<double>(motion.x) * dt;
    vessel.DoublePosition[1] += static_cast<double>(motion.y) * dt;
    vessel.DoublePosition[2] += static_cast<double>(motion.z) * dt;
    vessel.Position = D3DXVECTOR3(static_cast<float>(vessel.DoublePosition[0]),
                                  static_cast<float>(vessel.DoublePosition[1]),
                                  static_cast<float>(vessel.DoublePosition[2]));
    if (!vessel.Landed) {
        D3DXMATRIX turn;
        D3DXMatrixRotationAxis(&turn, &SPIN_AXIS, dt * spinRate);
        D3DXVec3TransformNormal(&vessel.Velocity, &vessel.Velocity, &turn);
    }
}

void GravityAndGround(VesselState& vessel, float dt, const GroundEnvironment& env, TouchdownState& touchdown)
{
    const float r = D3DXVec3Length(&vessel.Position);
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &vessel.Position);

    vessel.SurfaceVelocity = SurfaceVelocityAt(vessel.Position, env.spinRate);

    if (env.ownVessel) {
        vessel.GroundRadius = env.terrainRadius > TERRAIN_MIN_RADIUS && r < TERRAIN_MAX_RADIUS
                                  ? env.terrainRadius + TERRAIN_OFFSET
                                  : DEFAULT_GROUND_RADIUS;
    }
    // A remote vessel whose ground radius never arrived stands on the default ground.
    if (!env.ownVessel && !(vessel.GroundRadius >= TERRAIN_MIN_RADIUS)) vessel.GroundRadius = DEFAULT_GROUND_RADIUS;
    const float ground = vessel.GroundRadius;

    if (r >= ground + CONTACT_BAND) {
        const float scaled = r / PLANET_RADIUS;
        vessel.Velocity -= n * (SURFACE_GRAVITY / (scaled * scaled) * dt);
        if (vessel.Landed) {
            vessel.Rates = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
            vessel.Landed = 0;
        }
        return;
    }

    if (r < ground - CONTACT_BAND) {
        vessel.Position = n * ground;
        vessel.DoublePosition[0] = vessel.Position.x;
        vessel.DoublePosition[1] = vessel.Position.y;
        vessel.DoublePosition[2] = vessel.Position.z;
    }

    const bool framesDrawn = env.altitudeMSL != -1.0f;
    if (env.ownVessel && !vessel.Landed && !touchdown.latched && framesDrawn) {
        touchdown.impactForce = ImpactFigure(vessel.Position, vessel.Velocity, env.apparentVelocity);
        touchdown.latched = true;
    }

    vessel.Velocity = vessel.SurfaceVelocity;

    if (env.ownVessel) {
        touchdown.dorMode = false;
        touchdown.tvmMode = false;
    }

    if (framesDrawn) {
        if (env.ownVessel) {
            D3DXMATRIX inverse, level;
            float pitch = 0.0f, roll = 0.0f;
            if (D3DXMatrixInverse(&inverse, nullptr, &vessel.WorldMatrix)) {
                D3DXMatrixMultiply(&level, &env.homeWorld, &inverse);
                D3DXVECTOR3 u;
                D3DXVec3TransformCoord(&u, &env.terrainSlope, &level);
                if (std::fabs(u.y) > FLT_EPSILON) {
                    pitch = std::atan(-u.z / u.y);
                    roll = std::atan(u.x / u.y);
                }
            }
            vessel.Rates.x = pitch;
            vessel.Rates.y = roll;
        } else {
            // No terrain vector under other vessels: they keep their reported attitude.
            vessel.Rates.x = 0.0f;
            vessel.Rates.y = 0.0f;
        }
        vessel.Rates.z *= CONTACT_YAW_DAMPING;
    }

    vessel.Landed = 1;
}

void IntegrateVesselPosition(std::int16_t v, float dt)
{
    if (!IsVesselNumber(v)) return;
    IntegratePosition(Vessels[v], dt, HomeSpinRate());
}

void ApplyGravityAndGround(std::int16_t v, float dt)
{
    if (!IsVesselNumber(v)) return;
    GroundEnvironment env;
    env.spinRate = HomeSpinRate();
    env.ownVessel = v == OwnVesselIndex.load();
    env.terrainRadius = GroundRadius;
    env.terrainSlope = TerrainSlopeVector;
    if (HomeObjectIndex < UNIVERSE_OBJECT_COUNT) env.homeWorld = UniverseObjects[HomeObjectIndex].WorldMatrix;
    env.altitudeMSL = AltitudeMSL;
    env.apparentVelocity = ApparentVelocity;

    TouchdownState touchdown;
    touchdown.latched = TouchdownLatched != 0;
    touchdown.impactForce = ImpactForce;
    touchdown.dorMode = DorMode != 0;
    touchdown.tvmMode = TvmMode != 0;

    GravityAndGround(Vessels[v], dt, env, touchdown);

    // Written back only when changed: the link also calls this during the start-up.
    if (env.ownVessel) {
        const std::uint8_t latched = touchdown.latched ? 1 : 0;
        const std::uint8_t dor = touchdown.dorMode ? 1 : 0;
        const std::uint8_t tvm = touchdown.tvmMode ? 1 : 0;
        if (TouchdownLatched != latched) TouchdownLatched = latched;
        if (ImpactForce != touchdown.impactForce) ImpactForce = touchdown.impactForce;
        if (DorMode != dor) DorMode = dor;
        if (TvmMode != tvm) TvmMode = tvm;
    }
}
