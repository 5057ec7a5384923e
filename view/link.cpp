#include "view/link.h"

#include "common/frame_clock.h"
#include "platform/sys/crt.h"
#include "view/ground.h"
#include "view/log_file.h"
#include "view/state.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

std::atomic<std::uint8_t> CloseRequested{0};

namespace {

std::mutex g_hooksMutex;
LinkHooks g_hooks;

LinkHooks Hooks()
{
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    return g_hooks;
}

D3DXMATRIX InverseRotation(const D3DXQUATERNION& attitude)
{
    D3DXMATRIX rotation, inverse;
    D3DXMatrixRotationQuaternion(&rotation, &attitude);
    D3DXMatrixIdentity(&inverse);
    D3DXMatrixInverse(&inverse, nullptr, &rotation);
    return inverse;
}

ProjectileRecord RecordOf(const Projectile& shot)
{
    ProjectileRecord r;
    r.Position[0] = shot.Position.x;
    r.Position[1] = shot.Position.y;
    r.Position[2] = shot.Position.z;
    r.Velocity[0] = shot.Velocity.x;
    r.Velocity[1] = shot.Velocity.y;
    r.Velocity[2] = shot.Velocity.z;
    r.LaunchTime = shot.LaunchTime;
    return r;
}

void StoreRecord(Projectile& shot, const ProjectileRecord& r)
{
    shot.Position = D3DXVECTOR3(r.Position[0], r.Position[1], r.Position[2]);
    shot.Velocity = D3DXVECTOR3(r.Velocity[0], r.Velocity[1], r.Velocity[2]);
    shot.LaunchTime = r.LaunchTime;
}

bool IsFiniteRecord(const ProjectileRecord& r)
{
    for (float f : {r.Position[0], r.Position[1], r.Position[2], r.Velocity[0], r.Velocity[1], r.Velocity[2],
                    r.LaunchTime})
        if (!std::isfinite(f)) return false;
    return true;
}

// Initial set-up: the own vessel number, the universe clock and every vessel's
// drawing values.
void HandleSetup(const StatusPacket& p)
{
    DWORD roundTrip = 0;
    if (auto hooks = Hooks(); hooks.roundTripMs) roundTrip = hooks.roundTripMs();
    const std::uint8_t v = p.Vessel;
    if (v == VESSEL_NONE) {
        RequestClose();
        return;
    }
    // A vessel number outside the table, a clock that is not a number, or a repeated
    // set-up once the initial state is complete, is not acted on.
    if (!IsVesselIndex(v) || !std::isfinite(p.X) || !std::isfinite(p.Z) || InitialStateComplete.load()) return;

    LocalTimeAtSetup = FrameClock(CLOCK_SINCE_RESET);
    UniverseSecondsAtSetup = p.X + static_cast<float>(roundTrip) * 0.0005f;
    FrameClock(CLOCK_DELTA);
    UniverseHours = p.Z;
    {
        ScopedSection lock(Vessels[v].Lock);
        Vessels[v].Registration = p.W;
    }
    for (VesselState& vessel : Vessels) {
        ScopedSection lock(vessel.Lock);
        vessel.Model = 0;
        vessel.HitRadius = VESSEL_HIT_RADIUS;
        vessel.Scale = VESSEL_MODEL_SCALE;
        D3DXMATRIX identity, scaling;
        D3DXMatrixIdentity(&identity);
        D3DXMatrixScaling(&scaling, vessel.Scale, vessel.Scale, vessel.Scale);
        D3DXMatrixMultiply(&vessel.ModelMatrix, &identity, &scaling);
        vessel.BlinkBits = 0x80000000u >> (crt::Rand() % 32);
        vessel.BlinkInterval = static_cast<float>(crt::Rand() / 32767.0 / 100.0 + 0.045);
        vessel.LastBlink = 0.0f;
    }
    OwnVesselIndex = v;
}

// End of the initial state: place every vessel relative to the own one, then
// release the start-up wait.
void HandleSetupComplete()
{
    if (InitialStateComplete.load()) return;
    const std::uint8_t own = OwnVesselIndex.load();
    if (!IsVesselIndex(own)) {
        // The initial state cannot complete without the set-up: end the start-up.
        RequestClose();
        return;
    }
    double ownPosition[3];
    {
        ScopedSection lock(Vessels[own].Lock);
        std::memcpy(ownPosition, Vessels[own].DoublePosition, sizeof ownPosition);
    }
    for (VesselState& vessel : Vessels) {
        ScopedSection lock(vessel.Lock);
        D3DXMATRIX inverse = InverseRotation(vessel.Attitude);
        D3DXMATRIX translation, placed;
        D3DXMatrixTranslation(&translation, static_cast<float>(ownPosition[0] - vessel.DoublePosition[0]),
                              static_cast<float>(ownPosition[1] - vessel.DoublePosition[1]),
                              static_cast<float>(ownPosition[2] - vessel.DoublePosition[2]));
        D3DXMatrixMultiply(&placed, &vessel.ModelMatrix, &inverse);
        D3DXMatrixMultiply(&vessel.WorldMatrix, &placed, &translation);
    }
    InitialStateComplete = 1;
}

void HandlePosition(const StatusPacket& p)
{
    VesselState& vessel = Vessels[p.Vessel];
    ScopedSection lock(vessel.Lock);
    if (!InitialStateComplete.load()) {
        vessel.DoublePosition[0] = p.X;
        vessel.DoublePosition[1] = p.Y;
        vessel.DoublePosition[2] = p.Z;
        IntegrateVesselPosition(p.Vessel, 0.0f);
        ApplyGravityAndGround(p.Vessel, 0.0f);
        vessel.TargetPosition = vessel.Position;
        vessel.PreviousPosition = vessel.Position;
        return;
    }
    const float dt =
        WrapReportDelay(UniverseSecondsAtSetup.load() + vessel.LastUpdate - LocalTimeAtSetup.load() - p.W);
    vessel.PreviousPosition = vessel.Position;
    vessel.TargetPosition = (vessel.Velocity - vessel.SurfaceVelocity) * dt + D3DXVECTOR3(p.X, p.Y, p.Z);
}

}  // namespace

void SetLinkHooks(const LinkHooks& hooks)
{
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    g_hooks = hooks;
}

LinkHooks GetLinkHooks() { return Hooks(); }

void RequestClose()
{
    CloseRequested = 1;
    if (auto hooks = Hooks(); hooks.postClose) hooks.postClose();
}

bool WaitForInitialState()
{
    // No sleep and no window messages: the handler threads end the wait.
    for (;;) {
        if (InitialStateComplete.load()) return true;
        if (CloseRequested.load()) return false;
        std::this_thread::yield();
    }
}

float WrapReportDelay(float seconds)
{
    if (!std::isfinite(seconds)) return 0.0f;
    double d = std::fmod(static_cast<double>(seconds) + 1800.0, 3600.0);
    if (d < 0.0) d += 3600.0;
    float wrapped = static_cast<float>(d - 1800.0);
    if (wrapped >= 1800.0f) wrapped -= 3600.0f;
    return wrapped;
}

void SendPacket(const void* buffer, DWORD size, std::uint8_t guaranteed, DWORD timeoutMs)
{
    const LinkHooks hooks = Hooks();
    HRESULT hr = hooks.send ? hooks.send(buffer, size, guaranteed != 0, timeoutMs) : E_FAIL;
    if (SUCCEEDED(hr)) return;
    if (hooks.messageBox)
        hooks.messageBox("Failed sending data on SendPacket, please report this error.", "Communication Error!",
                         MB_ICONWARNING);
    if (hooks.exitProcess) hooks.exitProcess(0);
}

void HandleReceivedData(const void* data, std::size_t size)
{
    switch (ClassifyPacket(size)) {
    case WIRE_STATUS: {
        StatusPacket packet;
        if (ReadStatusPacket(data, size, &packet)) HandleStatusPacket(packet);
        break;
    }
    case WIRE_EVENT: {
        EventPacket packet;
        if (ReadEventPacket(data, size, &packet)) HandleEventPacket(packet, size);
        break;
    }
    default:
        break;
    }
}

void HandleStatusPacket(const StatusPacket& p)
{
    if (!InitialStateComplete.load())
        WriteLog("Initial setup of %i sent T:%i X:%f Y:%f Z:%f W:%f\n", p.Vessel, p.Type, p.X, p.Y, p.Z, p.W);

    switch (p.Type) {
    case STATUS_CONFIGURATION:
        HandleSetup(p);
        return;
    case STATUS_SETUP_COMPLETE:
        HandleSetupComplete();
        return;
    case STATUS_SHUTDOWN:
        RequestClose();
        return;
    default:
        break;
    }
    if (p.Type > STATUS_TYPE_LAST || !IsVesselIndex(p.Vessel)) return;
    // Positions, velocities, ground radii, attitudes and rates that are not numbers
    // never reach a vessel (a bad sample time is bounded where it is used).
    const bool finite = std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z);
    if (!finite && p.Type != STATUS_PLAYER_ONLINE && p.Type != STATUS_PLAYER_OFFLINE) return;
    if ((p.Type == STATUS_ATTITUDE || p.Type == STATUS_VELOCITY) && !std::isfinite(p.W)) return;

    VesselState& vessel = Vessels[p.Vessel];
    switch (p.Type) {
    case STATUS_PLAYER_ONLINE: {
        ScopedSection lock(vessel.Lock);
        vessel.Present = 1;
        vessel.Registration = p.W;
        break;
    }
    case STATUS_POSITION:
        HandlePosition(p);
        break;
    case STATUS_VELOCITY: {
        ScopedSection lock(vessel.Lock);
        vessel.Velocity = D3DXVECTOR3(p.X, p.Y, p.Z);
        // Bounded below as the console client bounds its own, so no vessel falls
        // through, and above so that none is thrown out to an absurd height.
        vessel.GroundRadius = p.W < REPORTED_GROUND_RADIUS_MIN   ? REPORTED_GROUND_RADIUS_FALLBACK
                              : p.W > REPORTED_GROUND_RADIUS_MAX ? REPORTED_GROUND_RADIUS_MAX
                                                                 : p.W;
        break;
    }
    case STATUS_PLAYER_OFFLINE: {
        ScopedSection lock(vessel.Lock);
        vessel.Present = 0;
        if (!vessel.Landed) vessel.GroundRadius = DEFAULT_GROUND_RADIUS;
        break;
    }
    case STATUS_ATTITUDE: {
        ScopedSection lock(vessel.Lock);
        vessel.Attitude = D3DXQUATERNION(p.X, p.Y, p.Z, p.W);
        break;
    }
    case STATUS_RATES: {
        {
            ScopedSection lock(vessel.Lock);
            vessel.Rates = D3DXVECTOR3(p.X, p.Y, p.Z);
        }
        if (p.Vessel == OwnVesselIndex.load()) {
            StickPitch = p.X / 3.0f;
            StickRoll = p.Y / 3.0f;
            StickYaw = p.Z / 3.0f;
        }
        break;
    }
    default:
        break;
    }
}

void FormatChatLine(char (&line)[80], float registration, const char* text)
{
    // The text is an argument, never the format; a long line is cut to 79 characters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"
    std::snprintf(line, sizeof line, "IVR 52%3.0f: %s", registration, text);
#pragma GCC diagnostic pop
}

void HandleEventPacket(const EventPacket& packet, std::size_t receivedSize)
{
    if (!IsVesselIndex(packet.Vessel)) return;
    if (packet.Kind == EVENT_CHAT) {
        char text[EVENT_PAYLOAD_SIZE + 1];
        ReadChatText(packet, text);
        ScopedSection boardLock(Board.Lock);
        for (int k = BOARD_LINE_COUNT - 1; k > 0; --k) {
            std::memcpy(Board.Lines[k], Board.Lines[k - 1], BOARD_LINE_LENGTH);
            Board.Brightness[k] = Board.Brightness[k - 1];
        }
        {
            ScopedSection vesselLock(Vessels[packet.Vessel].Lock);
            FormatChatLine(Board.Lines[0], Vessels[packet.Vessel].Registration, text);
        }
        Board.Brightness[0] = 255.0f;
    } else if (packet.Kind == EVENT_PROJECTILE) {
        // A shot whose record did not arrive whole, or holds a value that is not a
        // number (it would never expire and would hold its slot), is dropped.
        if (receivedSize < 2 + PROJECTILE_RECORD_SIZE) return;
        const ProjectileRecord record = ReadProjectile(packet);
        if (!IsFiniteRecord(record)) return;
        for (Projectile& shot : Projectiles) {
            ScopedSection lock(shot.Lock);
            if (shot.Active) continue;
            shot.Active = 1;
            shot.Exploded = 0;
            shot.FrameCounter = static_cast<std::uint8_t>(crt::Rand() * 19 / 32767);
            StoreRecord(shot, record);
            shot.Owner = packet.Vessel;
            return;
        }
    }
}

void FireWeapon()
{
    const std::uint8_t own = OwnVesselIndex.load();
    if (!IsVesselIndex(own)) return;
    D3DXVECTOR3 position, velocity;
    D3DXQUATERNION attitude;
    float lastUpdate;
    {
        ScopedSection lock(Vessels[own].Lock);
        position = Vessels[own].Position;
        velocity = Vessels[own].Velocity;
        attitude = Vessels[own].Attitude;
        lastUpdate = Vessels[own].LastUpdate;
    }
    const D3DXMATRIX inverse = InverseRotation(attitude);
    const D3DXVECTOR3 muzzle(0.0f, 0.0f, -0.5f);
    D3DXVECTOR3 launch;
    D3DXVec3TransformNormal(&launch, &muzzle, &inverse);

    for (Projectile& shot : Projectiles) {
        ScopedSection lock(shot.Lock);
        if (shot.Active) continue;
        shot.Active = 1;
        shot.Exploded = 0;
        shot.FrameCounter = static_cast<std::uint8_t>(crt::Rand() * 19 / 32767);
        shot.Position = position;
        shot.Velocity = launch + velocity;
        // Seconds within the hour, as every universe time on the wire.
        float launch = std::fmod(UniverseSecondsAtSetup.load() + lastUpdate - LocalTimeAtSetup.load(), 3600.0f);
        if (launch < 0.0f) launch += 3600.0f;
        shot.LaunchTime = launch;
        shot.Owner = own;
        const EventPacket packet = MakeProjectilePacket(own, RecordOf(shot));
        SendPacket(&packet, EVENT_PACKET_SIZE, 1, 0);
        return;
    }
}
