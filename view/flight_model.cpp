#include "view/flight_model.h"

#include "view/state.h"
#include "view/universe.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {

constexpr float KM_TO_FT = 3280.8f;
constexpr float HALF_AIR_DENSITY = 0.0011885f;   // slug/ft^3, sea level, halved
constexpr float STANDARD_GRAVITY = 0.00980665f;  // km/s^2
constexpr float MASS = 265000.0f;
constexpr float WING_AREA = 3180.375f;
constexpr float AILERON_AREA = 1006.2375f;
constexpr float TAIL_AREA = 1108.668f;
constexpr float ELEVATOR_AREA = 895.372f;
constexpr float FIN_AREA = 990.33f;
constexpr float RUDDER_AREA = 387.83603f;
constexpr float WEAK_WING_LIFT = 0.957f;
constexpr float WING_ROLL_ARM = 17.301342f;
constexpr float WING_PITCH_ARM = -5.575904f;
constexpr float TAIL_ARM = 29.713083f;
constexpr float FIN_ARM = 29.485f;
constexpr float ROLL_INERTIA = 60208260.0f;
constexpr float PITCH_INERTIA = 55301856.0f;
constexpr float YAW_INERTIA = 110861472.0f;
constexpr float RATE_LIMIT = 12.566371f;
constexpr float SCALE_HEIGHT = 8.0f;

constexpr float WING_STALL = 0.2618f;
constexpr float TAIL_STALL = 0.20943952f;
constexpr float FULL_STICK = 0.5235988f;
constexpr float FULL_DEFLECTION = 0.05235988f;
constexpr float AIRSPEED_LIMIT = 0.04f;

constexpr float ORBIT_SPEED_SQ_AT_SURFACE = 33.12929f;  // 97386.87 / 2939.6
constexpr float HALF_PI = 1.5707964f;

float Clamp(float x, float a) { return x > a ? a : (x < -a ? -a : x); }

// Dynamic pressure of a speed component (km/s) at relative density rho.
float DynamicPressure(float u, float rho)
{
    float f = u * KM_TO_FT;
    return f * f * rho * HALF_AIR_DENSITY;
}


D3DXVECTOR3 Transform(const D3DXVECTOR3& v, const D3DXMATRIX& m)
{
    D3DXVECTOR3 out;
    D3DXVec3TransformNormal(&out, &v, &m);
    return out;
}

float ForceValue(float qbar, float stick, float airspeed)
{
    return airspeed > AIRSPEED_LIMIT ? qbar * stick * 300.0f : stick * 195493.0f;
}

}  // namespace

float WingLiftCoefficient(float alpha)
{
    return std::fabs(alpha) < WING_STALL ? alpha / WING_STALL * 1.575f + 0.35f : 0.0f;
}

float TailLiftCoefficient(float alpha) { return std::fabs(alpha) < TAIL_STALL ? alpha / TAIL_STALL * 1.2f : 0.0f; }

std::int32_t TruncateToInt32(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

D3DXVECTOR3 DorReferenceVelocity(const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                                 const D3DXMATRIX& world)
{
    const float radius = D3DXVec3Length(&position);
    if (!(radius > 0.0f)) return velocity;
    const float speed = -std::sqrt(ORBIT_SPEED_SQ_AT_SURFACE / (radius / PLANET_RADIUS));

    D3DXVECTOR3 p, u, axis;
    D3DXVec3Normalize(&p, &position);
    D3DXVec3Normalize(&u, &velocity);
    D3DXVec3Cross(&axis, &p, &u);
    if (D3DXVec3Length(&axis) > 1e-6f) {
        // Turn the velocity direction down past the local vertical: the result is the
        // horizontal direction opposite the ground track, hence the negative speed.
        const float cosine = std::clamp(D3DXVec3Dot(&p, &u), -1.0f, 1.0f);
        D3DXMATRIX g;
        D3DXMatrixRotationAxis(&g, &axis, -std::acos(cosine) - HALF_PI);
        D3DXVECTOR3 d;
        D3DXVec3TransformCoord(&d, &u, &g);
        D3DXVec3Normalize(&d, &d);
        return d * speed;
    }

    // Vertical flight (or standing still): use the horizontal part of the nose direction.
    const D3DXVECTOR3 forward = Transform(D3DXVECTOR3(0.0f, 0.0f, -1.0f), world);
    D3DXVECTOR3 horizontal = forward - p * D3DXVec3Dot(&p, &forward);
    if (D3DXVec3Length(&horizontal) > 1e-6f) {
        D3DXVec3Normalize(&horizontal, &horizontal);
        return horizontal * -speed;
    }
    return velocity;
}

FlightOutputs FlightModelStep(const FlightInputs& in, FlightState& st)
{
    FlightOutputs out;
    out.velocity = in.velocity;
    out.rates = in.rates;
    const float dt = in.dt;

    // 1. Modes only work at low airspeed.
    if (st.indicatedAirspeed > AIRSPEED_LIMIT) {
        st.dorMode = false;
        st.tvmMode = false;
    }

    // 2. Reference velocity.
    D3DXVECTOR3 reference = in.velocity;
    if (st.tvmMode) {
        if (in.targetValid) reference = in.targetVelocity;
    } else if (st.dorMode) {
        reference = DorReferenceVelocity(in.position, in.velocity, in.world);
    }

    // 3. Relative and body velocity in ship axes.
    st.relativeVelocity = Transform(in.velocity - reference, in.rotation);
    D3DXVECTOR3 vb = Transform(in.velocity, in.rotation);

    // 4. Velocity hold at limited rates.
    vb.z += Clamp(-in.thrustSetting - st.relativeVelocity.z, 0.06f) * dt;
    vb.y += Clamp(-st.relativeVelocity.y, 0.02f) * dt;
    vb.x += Clamp(-st.relativeVelocity.x, 0.01f) * dt;

    // 5. Nothing moves before the first drawn frame.
    if (in.altitudeMSL == -1.0f) return out;

    const float rho = std::exp(-std::fabs(in.altitudeMSL) / SCALE_HEIGHT);
    D3DXVECTOR3 rates = in.rates;

    // 6. The air flowing past the ship.
    const D3DXVECTOR3 a = Transform(in.surfaceVelocity, in.rotation) - vb;
    st.apparentVelocity = a;

    // 7. Dynamic pressure and indicated airspeed.
    const float qbar = DynamicPressure(a.z, rho);
    st.indicatedAirspeed = rho * a.z;
    const float ias = st.indicatedAirspeed;
    const bool lowSpeed = ias < AIRSPEED_LIMIT;
    const bool forceTick = in.forceFeedbackAvailable && in.controllerTick;

    // 8. Reaction control, fading out with airspeed.
    float torqueRoll = 0.0f, torqueYaw = 0.0f, torquePitch = 0.0f;
    if (in.thrustAugEnabled) {
        const float k = std::clamp((ias - AIRSPEED_LIMIT) / 0.275f, 0.0f, 1.0f);
        st.thrustAugAuthority = 1.0f - k;
        const float authority = st.thrustAugAuthority;
        torqueRoll = Clamp((3.0f * in.stickRoll - rates.y) * authority, 0.1f) * 10000000.0f;
        torqueYaw = Clamp((3.0f * in.stickYaw + rates.z) * authority, 0.1f) * 10000000.0f;
        torquePitch = Clamp((3.0f * in.stickPitch - rates.x) * authority, 0.1f) * 10000000.0f;
    } else {
        st.thrustAugAuthority = 0.0f;
    }

    // 9. Angle of attack.
    st.angleOfAttack = a.z == 0.0f ? 6.2831855f : -std::atan(a.y / a.z);
    const float aoa = st.angleOfAttack;

    // 10. Wings: lift and roll.
    const float wr = -17.301342f * rates.y * 0.001f;
    const float wy = -17.896837f * rates.z * 0.001f;
    const float f = in.stickRoll / FULL_STICK;

    const float v1 = a.z - wy;
    const float q1 = DynamicPressure(v1, rho);
    const float alpha1 = v1 == 0.0f ? FLT_MAX : -std::atan((a.y + wr) / v1);
    float lift1 = WingLiftCoefficient(alpha1) * q1 * WING_AREA;
    const float aileron1 = alpha1 - f * FULL_DEFLECTION;
    if (std::fabs(aileron1) < WING_STALL)
        lift1 += (aileron1 / WING_STALL * 1.575f + 0.35f - 0.65f * f) * q1 * AILERON_AREA;

    const float v2 = a.z + wy;
    const float q2 = DynamicPressure(v2, rho);
    const float alpha2 = v2 == 0.0f ? FLT_MAX : -std::atan((a.y - wr) / v2);
    float lift2 = WingLiftCoefficient(alpha2) * q2 * WING_AREA;
    const float aileron2 = alpha2 + f * FULL_DEFLECTION;
    if (std::fabs(aileron2) < WING_STALL)
        lift2 += (aileron2 / WING_STALL * 1.575f + 0.35f + 0.65f * f) * q2 * AILERON_AREA;

    const float lift = lift2 < lift1 ? lift2 : lift1;
    vb.y -= (2.0f * WEAK_WING_LIFT * lift) * STANDARD_GRAVITY / MASS * dt;
    float momentPitch = 2.0f * (WING_PITCH_ARM * lift);

    float momentRoll = (lift2 - lift1) * WING_ROLL_ARM;
    if (lowSpeed) momentRoll += WING_ROLL_ARM * torqueRoll;
    const float rollDamp = 51.412037f * rates.y;
    momentRoll += rollDamp * rollDamp * 434.96613f * rho;
    rates.y = Clamp(rates.y + momentRoll / ROLL_INERTIA * dt, RATE_LIMIT);
    if (forceTick) st.forceFeedbackRoll = TruncateToInt32(ForceValue(qbar, in.stickRoll, ias));

    // 11. Horizontal tail: pitch.
    float tail = TailLiftCoefficient(aoa + 0.08f) * qbar * TAIL_AREA;
    const float e = (in.stickPitch + in.pitchTrim) / FULL_STICK;
    const float elevator = e * FULL_DEFLECTION + aoa - rates.x;
    if (std::fabs(elevator) < TAIL_STALL)
        tail += (elevator / TAIL_STALL * 1.2f + 0.7f * e) * qbar * ELEVATOR_AREA;
    momentPitch += TAIL_ARM * tail;
    if (lowSpeed) momentPitch += TAIL_ARM * torquePitch;
    if (rates.x >= 0.0f) {
        const float r = 47.2571f * rates.x;
        momentPitch += r * r * 30.15978f * rho;
    } else {
        const float r = 50.3674f * rates.x;
        momentPitch += r * r * 16.2104f * rho;
    }
    const float ay = a.y * KM_TO_FT;
    const float pitchFlow = ay * ay * rho;
    if (a.y >= 0.0f)
        momentPitch += 201.87f * pitchFlow;
    else
        momentPitch -= 201.87f * pitchFlow;
    rates.x = Clamp(rates.x + momentPitch / PITCH_INERTIA * dt, RATE_LIMIT);
    if (forceTick) st.forceFeedbackPitch = TruncateToInt32(ForceValue(qbar, in.stickPitch, ias));

    // 12. Fin: yaw.
    const float beta = a.z == 0.0f ? FLT_MAX : std::atan(a.x / a.z);
    float fin = TailLiftCoefficient(beta) * qbar * FIN_AREA;
    const float g = in.stickYaw / FULL_STICK;
    const float rudder = beta + rates.z + g * FULL_DEFLECTION;
    if (std::fabs(rudder) < TAIL_STALL)
        fin += (rudder / TAIL_STALL * 1.2f + 0.7f * g) * qbar * RUDDER_AREA;
    float momentYaw = FIN_ARM * fin;
    if (in.yawFromThrust) momentYaw += 162183.7f * in.displayedThrust;
    if (lowSpeed) momentYaw += FIN_ARM * torqueYaw;
    const float yawDamp = 70.80189f * rates.z;
    momentYaw += yawDamp * yawDamp * 262.3469f * rho;
    const float ax = a.x * KM_TO_FT;
    const float yawFlow = ax * ax * rho;
    if (a.x > 0.0f)
        momentYaw += 118.42336f * yawFlow;
    else
        momentYaw -= 118.42336f * yawFlow;
    rates.z = Clamp(rates.z - momentYaw / YAW_INERTIA * dt, RATE_LIMIT);

    // 13. Quadratic drag toward the surface velocity.
    const float d = rho * 3.7006224e-08f * dt;
    const auto drag = [d](float& component, float air, float c) {
        const float s = air * KM_TO_FT;
        if (air > 0.0f)
            component += c * d * s * s;
        else
            component -= c * d * s * s;
    };
    drag(vb.z, a.z, 2.0619044f);
    drag(vb.y, a.y, 28.85818f);
    drag(vb.x, a.x, 12.365324f);

    // 14. Back to the universe frame.
    out.velocity = Transform(vb, in.world);
    out.rates = rates;
    out.moved = true;
    return out;
}

void FlyOwnVessel(const D3DXMATRIX& M, float dt, bool controllerTick)
{
    const std::uint8_t own = OwnVesselIndex.load();
    if (!IsVesselNumber(own)) return;
    VesselState& self = Vessels[own];

    // The TVM target is read first, under its own lock, so no two vessel locks are
    // ever held together.
    D3DXVECTOR3 targetVelocity;
    bool targetValid = false;
    if (TvmMode) {
        const int target = TargetIndex;
        if (target >= -3 && target <= -1) {
            targetVelocity = UniverseObjects[-target - 1].Velocity;
            targetValid = true;
        } else if (IsVesselNumber(target)) {
            ScopedSection lock(Vessels[target].Lock);
            targetVelocity = Vessels[target].Velocity;
            targetValid = true;
        }
    }

    // The link may write the own record too (reports relayed for the own vessel).
    ScopedSection ownLock(self.Lock);
    FlightInputs in;
    in.position = self.Position;
    in.velocity = self.Velocity;
    in.surfaceVelocity = self.SurfaceVelocity;
    in.rates = self.Rates;
    in.rotation = M;
    in.world = self.WorldMatrix;
    in.dt = dt;
    in.controllerTick = controllerTick;
    in.thrustSetting = ThrustSetting;
    in.tvmMode = TvmMode != 0;
    in.dorMode = DorMode != 0;
    in.stickPitch = StickPitch.load();
    in.stickRoll = StickRoll.load();
    in.stickYaw = StickYaw.load();
    in.pitchTrim = PitchTrim;
    in.thrustAugEnabled = ThrustAugEnabled != 0;
    in.yawFromThrust = YawFromThrust != 0;
    in.displayedThrust = DisplayedThrust;
    in.altitudeMSL = AltitudeMSL;
    in.forceFeedbackAvailable = ForceFeedbackAvailable != 0;

    in.targetVelocity = targetVelocity;
    in.targetValid = targetValid;

    FlightState st;
    st.dorMode = DorMode != 0;
    st.tvmMode = TvmMode != 0;
    st.relativeVelocity = RelativeVelocity;
    st.apparentVelocity = ApparentVelocity;
    st.indicatedAirspeed = IndicatedAirspeed;
    st.thrustAugAuthority = ThrustAugAuthority;
    st.angleOfAttack = AngleOfAttack;
    st.forceFeedbackRoll = ForceFeedbackRoll;
    st.forceFeedbackPitch = ForceFeedbackPitch;

    const FlightOutputs out = FlightModelStep(in, st);

    DorMode = st.dorMode ? 1 : 0;
    TvmMode = st.tvmMode ? 1 : 0;
    RelativeVelocity = st.relativeVelocity;
    ApparentVelocity = st.apparentVelocity;
    IndicatedAirspeed = st.indicatedAirspeed;
    ThrustAugAuthority = st.thrustAugAuthority;
    AngleOfAttack = st.angleOfAttack;
    ForceFeedbackRoll = st.forceFeedbackRoll;
    ForceFeedbackPitch = st.forceFeedbackPitch;
    if (out.moved) {
        self.Velocity = out.velocity;
        self.Rates = out.rates;
    }
}
