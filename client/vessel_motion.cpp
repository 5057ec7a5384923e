#include "client/vessel_motion.h"

#include "client/client_state.h"
#include "platform/math/d3dx_math.h"

#include <cmath>

namespace {

const D3DXVECTOR3 kSpinAxis(0.0f, 0.0f, -1.0f);

bool ValidVessel(std::int16_t vessel) { return vessel >= 0 && vessel < MAX_VESSELS; }

bool FiniteVector(const D3DXVECTOR3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Levels a landed vessel's pitch and roll rates.
// The local vertical chosen is the planet's centre (the model origin of the
// planet) carried into the vessel's own frame by
// M = universe matrix * Inverse(view matrix): v is then the vector from the
// vessel to the centre in vessel axes, and an upright vessel sees it along its
// -Y axis (v.x = v.z = 0), so both rates are 0. A vessel pitched or rolled by an
// angle gets a rate of the same angle per second turning it back upright. This
// matches the view program's choice of the ground point below the vessel.
void LevelRates(ShipRecord& ship, const D3DXMATRIX& universeMatrix)
{
    D3DXMATRIX inverseView, m;
    if (!D3DXMatrixInverse(&inverseView, nullptr, &ship.viewMatrix)) {
        // No attitude yet (view matrix never built): nothing to level against.
        ship.pitchRate = 0.0f;
        ship.rollRate = 0.0f;
        return;
    }
    D3DXMatrixMultiply(&m, &universeMatrix, &inverseView);
    const D3DXVECTOR3 centre(0.0f, 0.0f, 0.0f);
    D3DXVECTOR3 v;
    D3DXVec3TransformCoord(&v, &centre, &m);
    if (std::fabs(v.y) > MOTION_LEVELLING_THRESHOLD) {
        ship.pitchRate = std::atan(-v.z / v.y);
        ship.rollRate = std::atan(v.x / v.y);
    } else {
        ship.pitchRate = 0.0f;
        ship.rollRate = 0.0f;
    }
}

}  // namespace

void ApplyGravityAndGround(std::int16_t vessel, float dt)
{
    if (!ValidVessel(vessel)) return;
    ShipRecord& ship = Ships[vessel];

    float rate;
    D3DXMATRIX universeMatrix;
    {
        ScopedSection rotation(PlanetRotation.lock);
        rate = PlanetRotation.rate;
        universeMatrix = PlanetRotation.universeMatrix;
    }

    const D3DXVECTOR3& p = ship.position;
    float r = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &p);
    D3DXVECTOR3 e;
    D3DXVec3Cross(&e, &kSpinAxis, &n);
    D3DXVec3Normalize(&e, &e);
    float cosPolar = D3DXVec3Dot(&n, &kSpinAxis);
    // Rounding may carry the cosine a hair past 1; acos would give NaN.
    if (cosPolar > 1.0f) cosPolar = 1.0f;
    if (cosPolar < -1.0f) cosPolar = -1.0f;
    float latitude = std::acos(cosPolar) - MOTION_QUARTER_TURN;
    ship.surfaceVelocity = e * (std::cos(latitude) * (-rate * r));

    if (ship.groundRadius + MOTION_GROUND_BAND > r) {
        // Landed: within the contact band or below it.
        if (ship.groundRadius - MOTION_GROUND_BAND > r) {
            ship.position = n * ship.groundRadius;
            ship.doublePosition[0] = ship.position.x;
            ship.doublePosition[1] = ship.position.y;
            ship.doublePosition[2] = ship.position.z;
        }
        ship.velocity = ship.surfaceVelocity;
        if (SessionOnline.load() == 1) {
            LevelRates(ship, universeMatrix);
            ship.yawRate = ship.yawRate * MOTION_YAW_DAMPING;
        }
        ship.onGround = 1;
    } else {
        float ratio = r / MOTION_REFERENCE_RADIUS;
        float g = MOTION_SURFACE_GRAVITY / std::pow(ratio, 2.0f) * dt;
        // A negative ground radius can leave a vessel at the centre "airborne":
        // no direction to fall in, and an infinite pull must not poison the velocity.
        if (!std::isfinite(g)) g = 0.0f;
        ship.velocity.x = ship.velocity.x - n.x * g;
        ship.velocity.y = ship.velocity.y - n.y * g;
        ship.velocity.z = ship.velocity.z - n.z * g;
        if (ship.onGround == 1) ship.onGround = 0;
    }
}

void IntegrateVesselPosition(std::int16_t vessel, float dt)
{
    if (!ValidVessel(vessel)) return;
    ShipRecord& ship = Ships[vessel];

    float rate;
    {
        ScopedSection rotation(PlanetRotation.lock);
        rate = PlanetRotation.rate;
    }

    ship.doublePosition[0] += static_cast<float>((ship.velocity.x - ship.surfaceVelocity.x) * dt);
    ship.doublePosition[1] += static_cast<float>((ship.velocity.y - ship.surfaceVelocity.y) * dt);
    ship.doublePosition[2] += static_cast<float>((ship.velocity.z - ship.surfaceVelocity.z) * dt);
    ship.position = D3DXVECTOR3(static_cast<float>(ship.doublePosition[0]), static_cast<float>(ship.doublePosition[1]),
                                static_cast<float>(ship.doublePosition[2]));

    if (ship.onGround == 0) {
        D3DXMATRIX turn;
        D3DXMatrixRotationAxis(&turn, &kSpinAxis, rate * dt);
        D3DXVec3TransformNormal(&ship.velocity, &ship.velocity, &turn);
    }
}

float StoreReportedPosition(std::uint8_t vessel, float x, float y, float z, float interval)
{
    ShipRecord& s = Ships[vessel];
    const D3DXVECTOR3 velocity = s.velocity;
    s.doublePosition[0] = x;
    s.doublePosition[1] = y;
    s.doublePosition[2] = z;
    if (std::isfinite(interval)) IntegrateVesselPosition(vessel, interval);
    if (!std::isfinite(interval) || !FiniteVector(s.position) || !FiniteVector(s.velocity)) {
        s.doublePosition[0] = x;
        s.doublePosition[1] = y;
        s.doublePosition[2] = z;
        s.position = D3DXVECTOR3(x, y, z);
        s.velocity = velocity;
        return 0.0f;
    }
    return interval;
}
