#include "view/simulation.h"

#include "platform/sys/timing.h"
#include "view/cockpit_app.h"
#include "view/controller.h"
#include "view/flight_model.h"
#include "view/link.h"

#include <cfloat>
#include <cmath>

float ControllerTickAccumulator = 0.0f;
std::uint8_t FireButtonState = 0;
ReportTimers SendTimers;

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kStationMu = 97386.87f;   // home planet's gravitational parameter, km^3/s^2
constexpr float kDeadBand = 100.0f;
constexpr float kAxisScale = 1.9098593f;
constexpr float kTrimRate = 0.01f;
constexpr DWORD kHatForward = 0;
constexpr DWORD kHatBack = 18000;
constexpr float kRateReportInterval = 0.083333336f;
constexpr float kSlowReportInterval = 1.0f;

D3DXVECTOR3 Row3(const D3DXMATRIX& m) { return D3DXVECTOR3(m._41, m._42, m._43); }

void SetRow3(D3DXMATRIX& m, const D3DXVECTOR3& v)
{
    m._41 = v.x;
    m._42 = v.y;
    m._43 = v.z;
}

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX out;
    D3DXMatrixMultiply(&out, &a, &b);
    return out;
}

D3DXMATRIX RotationZ(float angle)
{
    D3DXMATRIX m;
    D3DXMatrixRotationZ(&m, angle);
    return m;
}

// A bit pattern that walks one place right each interval and starts over when empty.
void Blink(std::uint32_t& bits, float& last, float interval, float t)
{
    if (t - last > interval) {
        bits >>= 1;
        if (bits == 0) bits = 0x80000000u;
        last = t;
    }
}

void SendStatus(std::uint8_t type, float x, float y, float z, float w, DWORD timeoutMs)
{
    const StatusPacket packet = MakeStatusPacket(type, OwnVesselIndex.load(), x, y, z, w);
    SendPacket(&packet, STATUS_PACKET_SIZE, 0, timeoutMs);
}

}  // namespace

bool AdvanceControllerTick(float& accumulator, float dt)
{
    accumulator += dt;
    if (accumulator > CONTROLLER_TICK) {
        accumulator -= CONTROLLER_TICK;
        return true;
    }
    return false;
}

float AxisCommand(LONG value)
{
    const float a = static_cast<float>(value);
    if (std::fabs(a) <= kDeadBand) return 0.0f;
    const float d = a * 0.001f;
    const float command = d * d / kAxisScale;
    return a < 0.0f ? -command : command;
}

ControllerRead ReadController(IDirectInputDevice8A& device, float dt, StickCommands& sticks)
{
    ControllerRead read;
    if (FAILED(device.Poll())) {
        for (int tries = 0; tries < REACQUIRE_TRIES && device.Acquire() == DIERR_INPUTLOST; ++tries) {
        }
        read.endFrame = true;
        return read;
    }
    DIJOYSTATE state{};
    const HRESULT hr = device.GetDeviceState(sizeof(state), &state);
    if (FAILED(hr)) {
        read.result = hr;
        read.endFrame = true;
        return read;
    }
    sticks.pitch = AxisCommand(state.lY);
    if (state.rgbButtons[1] == 0) {
        sticks.yaw = AxisCommand(state.lRz);
        sticks.roll = AxisCommand(state.lX);
    } else {
        sticks.roll = AxisCommand(state.lRz);
        sticks.yaw = AxisCommand(state.lX);
    }
    if (state.rgdwPOV[0] == kHatForward) sticks.trim -= kTrimRate * dt;
    else if (state.rgdwPOV[0] == kHatBack) sticks.trim += kTrimRate * dt;
    if (state.rgbButtons[0] != sticks.fireButton) {
        sticks.fireButton = state.rgbButtons[0];
        read.fire = sticks.fireButton != 0;
    }
    return read;
}

float ShotAge(float universeSeconds, float launchTime)
{
    float age = std::fmod(universeSeconds - launchTime + 1800.0f, 3600.0f);
    if (age < 0.0f) age += 3600.0f;
    return age - 1800.0f;
}

float WrapUniverseSeconds(float seconds)
{
    float s = std::fmod(seconds, 3600.0f);
    if (s < 0.0f) s += 3600.0f;
    return s >= 3600.0f ? 0.0f : s;
}

float AdvanceProjectile(Projectile& shot, const ShotInputs& in)
{
    if (!shot.Exploded) {
        auto test = [&shot](const HitTarget& target) {
            const D3DXVECTOR3 d = shot.Position - target.position;
            if (D3DXVec3Length(&d) < target.hitRadius) {
                shot.FrameCounter = 0;
                shot.Exploded = 1;
                shot.Velocity = target.velocity;
            }
        };
        for (int v = 0; v < VESSEL_COUNT; ++v) {
            if (v != shot.Owner) test(in.vessels[v]);
        }
        for (const HitTarget& object : in.objects) {
            if (object.hittable) test(object);
        }
    }
    if (in.tick) {
        ++shot.FrameCounter;
        if (!shot.Exploded && shot.FrameCounter == SHOT_FLIGHT_FRAMES) shot.FrameCounter = 0;
        if (shot.Exploded && shot.FrameCounter == SHOT_BLAST_FRAMES) shot.Active = 0;
    }
    if (!shot.Exploded && ShotAge(in.universeSeconds, shot.LaunchTime) > SHOT_LIFETIME) shot.Active = 0;

    shot.Position += shot.Velocity * in.dt;
    const D3DXMATRIX spin = RotationZ(-in.spinRate * in.dt);
    D3DXVECTOR3 turned;
    D3DXVec3TransformCoord(&turned, &shot.Position, &spin);
    shot.Position = turned;

    const D3DXVECTOR3 d = shot.Position - in.ownPosition;
    return D3DXVec3LengthSq(&d);
}

D3DCOLORVALUE ProjectileLightColour(bool exploded, int frameCounter)
{
    if (!exploded) return {0.5f, 1.0f, 1.0f, 0.0f};
    const float c = static_cast<float>(frameCounter);
    return {0.5f - c * 0.5f / 43.0f, 0.25f - c * 0.25f / 43.0f, 0.0f, 0.0f};
}

float ClockAngle(float rate, float hours, float universeSeconds)
{
    const float period = kTwoPi / rate;
    float x = hours * 3600.0f / period;
    x = x - std::floor(x);
    x = universeSeconds / period + x;
    x = x - std::floor(x);
    return x * kTwoPi;
}

void AdvanceUniverseObject(UniverseObject& object, const UniverseObject& home, const UniverseInputs& in)
{
    D3DXMATRIX world = object.BaseMatrix;
    if (object.RateB > 0.0f) object.AngleB = ClockAngle(object.RateB, in.hours, in.universeSeconds);
    if (object.Kind != KIND_HOME_PLANET && object.Kind != KIND_CITY) {
        world = Multiply(RotationZ(object.AngleB), world);
        if (object.RateA > 0.0f) object.AngleA = ClockAngle(object.RateA, in.hours, in.universeSeconds);
        if (object.Kind < 0) {
            D3DXMATRIX tilt;
            D3DXMatrixRotationX(&tilt, home.Tilt);
            world = Multiply(Multiply(Multiply(world, RotationZ(object.AngleA)), tilt), RotationZ(-home.AngleB));
        } else {
            world = Multiply(world, RotationZ(object.AngleA - home.AngleB));
        }
    }

    if (object.Kind == KIND_STATION) {
        const float speed = std::sqrt(kStationMu / object.Distance);
        object.Velocity = D3DXVECTOR3(speed * world._42, -speed * world._41, 0.0f);
        const D3DXVECTOR3 onOrbit = Row3(world) * -object.Distance;
        if (in.altitudeMSL == -1.0f) {
            for (int i = 0; i < 3; ++i) object.DoublePosition[i] = (&onOrbit.x)[i];
        } else {
            for (int i = 0; i < 3; ++i)
                object.DoublePosition[i] += static_cast<double>((&object.Velocity.x)[i]) * in.dt;
            object.Position = D3DXVECTOR3(static_cast<float>(object.DoublePosition[0]),
                                          static_cast<float>(object.DoublePosition[1]),
                                          static_cast<float>(object.DoublePosition[2]));
            const D3DXVECTOR3 pull = (onOrbit - object.Position) * (0.1f * in.dt);
            for (int i = 0; i < 3; ++i) object.DoublePosition[i] += (&pull.x)[i];
        }
        Blink(object.BeaconBits, object.LastBeacon, object.BeaconInterval, in.t);
        SetRow3(world, D3DXVECTOR3(static_cast<float>(-object.DoublePosition[0]),
                                   static_cast<float>(-object.DoublePosition[1]),
                                   static_cast<float>(-object.DoublePosition[2])));
    }

    object.CurrentMatrix = world;
    object.Position = -Row3(world);

    if (!in.firstFrameDone && object.Kind == KIND_CITY) {
        D3DXVECTOR3 n, e;
        D3DXVec3Normalize(&n, &object.Position);
        const D3DXVECTOR3 down(0.0f, 0.0f, -1.0f);
        D3DXVECTOR3 east;
        D3DXVec3Cross(&east, &down, &n);
        D3DXVec3Normalize(&e, &east);
        const float latitude = std::acos(D3DXVec3Dot(&n, &down)) - kHalfPi;
        object.Velocity = e * (std::cos(latitude) * (-home.RateB * object.Distance));
    }

    if (object.Kind == KIND_STATION) {
        SetRow3(world, D3DXVECTOR3(static_cast<float>(in.ownDoublePosition[0] - object.DoublePosition[0]),
                                   static_cast<float>(in.ownDoublePosition[1] - object.DoublePosition[1]),
                                   static_cast<float>(in.ownDoublePosition[2] - object.DoublePosition[2])));
    } else if (object.Kind != KIND_SUN) {
        D3DXMATRIX move;
        D3DXMatrixTranslation(&move, in.ownPosition.x, in.ownPosition.y, in.ownPosition.z);
        world = Multiply(world, move);
    }
    object.WorldMatrix = world;
}

void AdvanceOtherVessel(VesselState& vessel, float t, float dt, float spinRate, const D3DXMATRIX& homeWorld,
                        const double ownDoublePosition[3])
{
    vessel.LastUpdate = t;
    const D3DXVECTOR3 reckoned = (vessel.TargetPosition - vessel.PreviousPosition) * (0.1f * dt);
    for (int i = 0; i < 3; ++i) vessel.DoublePosition[i] += (&reckoned.x)[i];

    IntegratePosition(vessel, dt, spinRate);
    GroundEnvironment env;
    env.spinRate = spinRate;
    env.ownVessel = false;
    env.homeWorld = homeWorld;
    env.altitudeMSL = AltitudeMSL;
    TouchdownState untouched;
    GravityAndGround(vessel, dt, env, untouched);

    D3DXQUATERNION normal, delta, turned;
    D3DXQuaternionNormalize(&normal, &vessel.Attitude);
    D3DXQuaternionRotationYawPitchRoll(&delta, vessel.Rates.z * dt, vessel.Rates.x * dt, vessel.Rates.y * dt);
    D3DXQuaternionMultiply(&turned, &normal, &delta);
    vessel.Attitude = turned;

    D3DXMATRIX rotation, inverse, move;
    D3DXMatrixRotationQuaternion(&rotation, &vessel.Attitude);
    D3DXMatrixInverse(&inverse, nullptr, &rotation);
    D3DXMatrixTranslation(&move, static_cast<float>(ownDoublePosition[0] - vessel.DoublePosition[0]),
                          static_cast<float>(ownDoublePosition[1] - vessel.DoublePosition[1]),
                          static_cast<float>(ownDoublePosition[2] - vessel.DoublePosition[2]));
    vessel.WorldMatrix = Multiply(Multiply(vessel.ModelMatrix, inverse), move);

    if (vessel.Present == 1) Blink(vessel.BlinkBits, vessel.LastBlink, vessel.BlinkInterval, t);
}

OwnAttitude TurnOwnAttitude(const D3DXQUATERNION& attitude, const D3DXVECTOR3& rates, bool landed,
                            const D3DXVECTOR3& position, const D3DXVECTOR3& velocity,
                            const D3DXVECTOR3& surfaceVelocity, float dt)
{
    OwnAttitude out;
    D3DXQUATERNION delta;
    D3DXQuaternionRotationYawPitchRoll(&delta, rates.z * dt, rates.x * dt, rates.y * dt);
    D3DXQuaternionMultiply(&out.attitude, &attitude, &delta);

    if (!landed) {
        const D3DXVECTOR3 r = -position;
        const float R = D3DXVec3Length(&r);
        const D3DXVECTOR3 v = velocity - surfaceVelocity;
        const D3DXVECTOR3 w = r + v;
        const float across = D3DXVec3LengthSq(&v) - (D3DXVec3Length(&w) - R) * (D3DXVec3Length(&w) - R);
        const float s = std::sqrt(std::fabs(across));
        D3DXVECTOR3 axis;
        D3DXVec3Cross(&axis, &r, &v);
        if (R > 0.0f) {
            D3DXQUATERNION turn, turned;
            D3DXQuaternionRotationAxis(&turn, &axis, s / R * dt);
            D3DXQuaternionMultiply(&turned, &turn, &out.attitude);
            out.attitude = turned;
        }
    }

    D3DXMatrixRotationQuaternion(&out.rotation, &out.attitude);
    D3DXMatrixInverse(&out.world, nullptr, &out.rotation);
    D3DXQUATERNION normal;
    D3DXQuaternionNormalize(&normal, &out.attitude);
    out.attitude = normal;
    return out;
}

void SendReports(ReportTimers& timers, float t, float framesPerSecond, const OwnReport& own)
{
    if (!timers.set) {
        timers.position = t + 0.01f;
        timers.velocity = t;
        timers.attitude = t + 0.02f;
        timers.rates = t;
        timers.set = true;
    }
    const float w = WrapUniverseSeconds(own.universeSeconds);
    if (t - timers.velocity > kRateReportInterval) {
        SendStatus(4, own.velocity.x, own.velocity.y, own.velocity.z, own.groundRadius, 83);
        timers.velocity = t;
    }
    if (t - timers.position > kSlowReportInterval) {
        SendStatus(2, own.position.x, own.position.y, own.position.z, w, 1000);
        SendStatus(0, framesPerSecond, 0.0f, 1.0f, 0.0f, 1000);
        timers.position = t;
    }
    if (t - timers.attitude > kSlowReportInterval) {
        SendStatus(6, own.attitude.x, own.attitude.y, own.attitude.z, own.attitude.w, 1000);
        timers.attitude = t;
    }
    if (t - timers.rates > kRateReportInterval) {
        SendStatus(8, own.rates.x, own.rates.y, own.rates.z, w, 42);
        timers.rates = t;
    }
}

HRESULT SimulateFrame(const FrameContext& frame)
{
    // No x87 precision to set: floats and doubles are computed at their own precision.
    const float t = frame.t, dt = frame.dt;
    const bool tick = AdvanceControllerTick(ControllerTickAccumulator, dt);

    if (JoystickEnabled && tick && Controller.device != nullptr) {
        StickCommands sticks;
        sticks.pitch = StickPitch.load();
        sticks.roll = StickRoll.load();
        sticks.yaw = StickYaw.load();
        sticks.trim = PitchTrim;
        sticks.fireButton = FireButtonState;
        const ControllerRead read = ReadController(*Controller.device, dt, sticks);
        if (read.endFrame) return read.result;
        StickPitch = sticks.pitch;
        StickRoll = sticks.roll;
        StickYaw = sticks.yaw;
        PitchTrim = sticks.trim;
        FireButtonState = sticks.fireButton;
        if (read.fire) FireWeapon();
    }

    if (!FirstFrameDone && frame.prepareFirstFrame != nullptr) frame.prepareFirstFrame(frame.prepareContext);

    const std::uint8_t ownIndex = OwnVesselIndex.load();
    const bool haveOwn = IsVesselNumber(ownIndex);
    const float universeSeconds = UniverseSecondsAtSetup.load() + t - LocalTimeAtSetup.load();
    const UniverseObject& home = UniverseObjects[HomeObjectIndex < UNIVERSE_OBJECT_COUNT ? HomeObjectIndex : 0];
    const float spinRate = home.RateB;

    // Own vessel: moved under its lock; the rest of the frame works on this copy.
    D3DXVECTOR3 ownPosition;
    double ownDouble[3] = {0.0, 0.0, 0.0};
    if (haveOwn) {
        VesselState& own = Vessels[ownIndex];
        ScopedSection lock(own.Lock);
        own.LastUpdate = t;
        IntegrateVesselPosition(ownIndex, dt);
        ApplyGravityAndGround(ownIndex, dt);
        ownPosition = own.Position;
        for (int i = 0; i < 3; ++i) ownDouble[i] = own.DoublePosition[i];
    }

    // Projectiles, against snapshots of the vessels taken one lock at a time.
    ShotInputs shots;
    shots.dt = dt;
    shots.tick = tick;
    shots.universeSeconds = universeSeconds;
    shots.spinRate = spinRate;
    shots.ownPosition = ownPosition;
    for (int v = 0; v < VESSEL_COUNT; ++v) {
        ScopedSection lock(Vessels[v].Lock);
        shots.vessels[v] = {Vessels[v].Position, Vessels[v].Velocity, Vessels[v].HitRadius, true};
    }
    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        const UniverseObject& o = UniverseObjects[i];
        shots.objects[i] = {o.Position, o.Velocity, o.HitRadius, o.Kind > 0};
    }
    float best = FLT_MAX;
    bool haveNearest = false;
    bool nearestExploded = false;
    int nearestCounter = 0;
    D3DXVECTOR3 nearestPosition;
    for (Projectile& shot : Projectiles) {
        ScopedSection lock(shot.Lock);
        if (shot.Active != 1) continue;
        const float distance = AdvanceProjectile(shot, shots);
        if (distance < best) {
            best = distance;
            haveNearest = true;
            nearestExploded = shot.Exploded != 0;
            nearestCounter = shot.FrameCounter;
            nearestPosition = shot.Position;
        }
    }
    if (frame.device != nullptr) {
        if (!haveNearest || frame.projectileLight == nullptr) {
            frame.device->LightEnable(PROJECTILE_LIGHT_INDEX, FALSE);
        } else {
            frame.projectileLight->Position = ownPosition - nearestPosition;
            frame.projectileLight->Diffuse = ProjectileLightColour(nearestExploded, nearestCounter);
            frame.device->SetLight(PROJECTILE_LIGHT_INDEX, frame.projectileLight);
            frame.device->LightEnable(PROJECTILE_LIGHT_INDEX, TRUE);
        }
    }

    // Universe objects, in table order.
    UniverseInputs universe;
    universe.t = t;
    universe.dt = dt;
    universe.hours = UniverseHours.load();
    universe.universeSeconds = universeSeconds;
    universe.altitudeMSL = AltitudeMSL;
    universe.firstFrameDone = FirstFrameDone != 0;
    universe.ownPosition = ownPosition;
    for (int i = 0; i < 3; ++i) universe.ownDoublePosition[i] = ownDouble[i];
    for (UniverseObject& object : UniverseObjects) AdvanceUniverseObject(object, home, universe);

    // Other vessels, one lock at a time.
    for (int v = 0; v < VESSEL_COUNT; ++v) {
        if (v == ownIndex) continue;
        ScopedSection lock(Vessels[v].Lock);
        AdvanceOtherVessel(Vessels[v], t, dt, spinRate, home.WorldMatrix, ownDouble);
    }

    D3DXQUATERNION ownAttitude(0.0f, 0.0f, 0.0f, 1.0f);
    if (haveOwn) {
        VesselState& own = Vessels[ownIndex];
        OwnAttitude turned;
        {
            ScopedSection lock(own.Lock);
            turned = TurnOwnAttitude(own.Attitude, own.Rates, own.Landed != 0, own.Position, own.Velocity,
                                     own.SurfaceVelocity, dt);
            own.WorldMatrix = turned.world;
            own.Attitude = turned.attitude;
        }
        ownAttitude = turned.attitude;
        if (frame.landingLight != nullptr) {
            const D3DXVECTOR3 ahead(0.0f, 0.0f, 1.0f);
            D3DXVECTOR3 direction;
            D3DXVec3TransformNormal(&direction, &ahead, &turned.world);
            frame.landingLight->Direction = direction;
            if (LandingLightOn == 1 && frame.device != nullptr)
                frame.device->SetLight(LANDING_LIGHT_INDEX, frame.landingLight);
        }

        if (PropulsionEnabled == 1) {
            FlyOwnVessel(turned.rotation, dt, tick);
            OwnReport report;
            {
                ScopedSection lock(own.Lock);
                report.velocity = own.Velocity;
                report.position = own.Position;
                report.rates = own.Rates;
                report.attitude = own.Attitude;
                report.groundRadius = own.GroundRadius;
                report.universeSeconds = UniverseSecondsAtSetup.load() + own.LastUpdate - LocalTimeAtSetup.load();
            }
            SendReports(SendTimers, t, frame.framesPerSecond, report);
        }
    }

    if (ForceFeedbackAvailable && tick && FAILED(UpdateForceFeedback())) return E_FAIL;
    D3DXMatrixRotationQuaternion(&ViewMatrix, &ownAttitude);
    if (frame.device != nullptr) frame.device->SetTransform(D3DTS_VIEW, &ViewMatrix);
    FirstFrameDone = 1;
    if (frame.sleep) Sleep(1);
    return S_OK;
}

HRESULT CockpitApplication::AdvanceScene()
{
    FrameContext frame;
    frame.t = AppTime;
    frame.dt = ElapsedTime;
    frame.framesPerSecond = FramesPerSecond;
    frame.device = Device;
    frame.landingLight = &LandingLight;
    frame.projectileLight = &ProjectileLight;
    frame.prepareFirstFrame = [](void* app) { static_cast<CockpitApplication*>(app)->PrepareFirstFrame(); };
    frame.prepareContext = this;
    return SimulateFrame(frame);
}
