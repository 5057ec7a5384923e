#include "client/server_link.h"

#include "client/client_state.h"
#include "client/session_objects.h"
#include "client/vessel_motion.h"
#include "client/wire.h"
#include "common/frame_clock.h"
#include "common/registry_values.h"
#include "platform/console/console.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr float kReplacedGroundRadius = std::bit_cast<float>(0x4537B99Eu);  // 2939.601
constexpr float kLoggedOffGroundRadius = std::bit_cast<float>(0x4537B9AAu); // 2939.604
constexpr float kTwoPi = std::bit_cast<float>(0x40C90FDBu);



void RelayToPeers(const void* data, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    SendToPeer(0, data, size, guaranteed, timeoutMs);
}

bool Finite(float a) { return std::isfinite(a); }
bool Finite(float a, float b, float c) { return Finite(a) && Finite(b) && Finite(c); }
bool Finite(float a, float b, float c, float d) { return Finite(a, b, c) && Finite(d); }

// False when a float that the handler stores or computes with is not finite: such a
// message is ignored whole, relay included. Of the configuration only the times
// count: Y is only compared, and a registration that is not finite is stored as the 0
// that the registry gets.
bool FiniteWhereUsed(const StatusPacket& p)
{
    switch (p.Type) {
    case STATUS_CONFIGURATION: return Finite(p.X) && Finite(p.Z);  // seconds, hours
    case STATUS_PLAYER_ONLINE: return Finite(p.W);            // registration
    case STATUS_POSITION:                                      // position, sample time
    case STATUS_VELOCITY:                                      // velocity, ground radius
    case STATUS_ATTITUDE: return Finite(p.X, p.Y, p.Z, p.W);   // quaternion
    case STATUS_RATES: return Finite(p.X, p.Y, p.Z);
    default: return true;
    }
}

// Vessel numbers that index the tables.
bool UsesVesselIndex(std::uint8_t type)
{
    switch (type) {
    case STATUS_PLAYER_ONLINE:
    case STATUS_POSITION:
    case STATUS_VELOCITY:
    case STATUS_PLAYER_OFFLINE:
    case STATUS_ATTITUDE:
    case STATUS_RATES:
        return true;
    default:
        return false;
    }
}

HRESULT OnConfiguration(const StatusPacket& p)
{
    const DWORD roundTrip = ServerRoundTrip();
    const int v = p.Vessel;
    if (v == VESSEL_NONE) {
        std::printf("[Error!] Maximum number of players, please try again soon!  %i\n", 255);
        ConfigurationRefused.store(1);
        return E_FAIL;
    }
    std::printf("[%06i] Configuration received, our vessel number:  %i\n", ConsoleSeconds(), v);
    const float delay = static_cast<float>(roundTrip) * 0.0005f;
    {
        ScopedSection time(UniverseClock.lock);
        UniverseClock.localReference = FrameClock(CLOCK_SINCE_RESET);
        UniverseClock.ownVessel = static_cast<std::uint8_t>(v);
        UniverseClock.secondsAtSetup = p.X + delay;
        UniverseClock.hours = p.Z;
        std::printf("[%06i] Universe has been running:  %.0f:%f (delay %.3f)\n", ConsoleSeconds(),
                    static_cast<double>(p.Z), static_cast<double>(p.X), static_cast<double>(delay));
    }
    if (p.Y > CLIENT_BUILD) {
        // One call, so that no other thread's line comes between the two.
        std::printf("[%06i] --- Newer Console Client version available:\n"
                    "         Please download it from \"https://www.meridax-industries.example/\"\n",
                    ConsoleSeconds());
    }
    float registration;
    std::uint8_t own;
    bool saveFailed = false;
    {
        ScopedSection time(UniverseClock.lock);
        if (UniverseClock.registration == 1.0f) {
            UniverseClock.registration = Finite(p.W) ? p.W : 0.0f;
            const auto number = static_cast<std::int32_t>(CheckedTruncate(UniverseClock.registration, 0, INT32_MAX));
            std::printf("[%06i] Server assigned Intergalactic Vessel Registration:  52%i\n", ConsoleSeconds(), number);
            HKEY key = nullptr;
            RegCreateKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
            const HRESULT hr = RegWriteDword(key, "IVR", static_cast<DWORD>(number));
            if (key != nullptr) RegCloseKey(key);
            if (FAILED(hr)) {
                std::printf("[Error!] Could not save assigned IVR to registry!");
                saveFailed = true;
            }
        } else {
            const auto number = static_cast<std::int32_t>(CheckedTruncate(UniverseClock.registration, 0, INT32_MAX));
            std::printf("[%06i] Our Intergalactic Vessel Registration number:  52%i\n", ConsoleSeconds(), number);
        }
        registration = UniverseClock.registration;
        own = UniverseClock.ownVessel;
    }
    // Outside every lock: the handler threads of the host object may wait for one.
    if (saveFailed) EndProcessFromHandler();
    {
        ScopedSection ship(Ships[own].lock);
        Ships[own].registration = registration;
        Ships[own].present = 1;
    }
    float secondsNow, hours;
    {
        ScopedSection time(UniverseClock.lock);
        secondsNow = UniverseSecondsNow();
        hours = UniverseClock.hours;
        registration = UniverseClock.registration;
    }
    {
        ScopedSection rotation(PlanetRotation.lock);
        D3DXMatrixIdentity(&PlanetRotation.universeMatrix);
        // A product too large for a float (absurd hours) would leave NaN: that step is skipped.
        float angle = std::fmod(secondsNow * PlanetRotation.rate + PlanetRotation.angle, kTwoPi);
        if (std::isfinite(angle)) PlanetRotation.angle = angle;
        angle = std::fmod(hours * 3600.0f * PlanetRotation.rate + PlanetRotation.angle, kTwoPi);
        if (std::isfinite(angle)) PlanetRotation.angle = angle;
    }
    const StatusPacket answer = MakeStatusPacket(STATUS_CONFIGURATION, 0, 0.0f, CLIENT_BUILD, 0.0f, registration);
    SendToServer(&answer, sizeof answer, true, 0);
    return S_OK;
}

void OnStatus(const BYTE* data, const StatusPacket& p)
{
    const int v = p.Vessel;
    switch (p.Type) {
    case STATUS_PLAYER_ONLINE: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 0);
        std::printf("[%06i] New player online (IVR: 52%.0f):  %i\n", ConsoleSeconds(), static_cast<double>(p.W), v);
        {
            ScopedSection time(UniverseClock.lock);
            UniverseClock.playersOnline = static_cast<std::int16_t>(UniverseClock.playersOnline + 1);
            std::printf("[%06i] Other players online:  %i\n", ConsoleSeconds(), UniverseClock.playersOnline);
        }
        ScopedSection ship(Ships[v].lock);
        Ships[v].present = 1;
        Ships[v].registration = p.W;
        break;
    }
    case STATUS_POSITION: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 1000);
        ShipRecord& s = Ships[v];
        ScopedSection ship(s.lock);
        const float t = VesselUniverseTime(s);
        LogOldPosition(s.position.x, s.position.y, s.position.z, t);
        LogServerPosition(p.X, p.Y, p.Z, v, p.W);
        const float d = StoreReportedPosition(static_cast<std::uint8_t>(v), p.X, p.Y, p.Z, t - p.W);
        LogAdjustedPosition(p.X, p.Y, p.Z, d);
        break;
    }
    case STATUS_SETUP_COMPLETE:
        SetupConfirmed.store(1);
        break;
    case STATUS_VELOCITY: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 1000);
        ShipRecord& s = Ships[v];
        ScopedSection ship(s.lock);
        s.velocity = D3DXVECTOR3(p.X, p.Y, p.Z);
        s.groundRadius = p.W < 1000.0f ? kReplacedGroundRadius : p.W;
        LogServerVelocity(p.X, p.Y, p.Z, s.groundRadius);
        break;
    }
    case STATUS_PLAYER_OFFLINE: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 0);
        std::printf("[%06i] Player logged off:  %i\n", ConsoleSeconds(), v);
        {
            ScopedSection time(UniverseClock.lock);
            UniverseClock.playersOnline = static_cast<std::int16_t>(UniverseClock.playersOnline - 1);
            std::printf("[%06i] Other players online:  %i\n", ConsoleSeconds(), UniverseClock.playersOnline);
        }
        ShipRecord& s = Ships[v];
        ScopedSection ship(s.lock);
        s.present = 0;
        if (s.onGround == 0) s.groundRadius = kLoggedOffGroundRadius;
        break;
    }
    case STATUS_ATTITUDE: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 1000);
        ScopedSection ship(Ships[v].lock);
        Ships[v].attitude = D3DXQUATERNION(p.X, p.Y, p.Z, p.W);
        break;
    }
    case STATUS_SHUTDOWN:
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 0);
        std::printf("[Error!] Server is shutting down, please reconnect in a few minutes...\n");
        ServerSessionEnded.store(1);
        SessionOnline.store(0);
        break;
    case STATUS_RATES: {
        RelayToPeers(data, STATUS_PACKET_SIZE, true, 1000);
        ScopedSection ship(Ships[v].lock);
        Ships[v].pitchRate = p.X;
        Ships[v].rollRate = p.Y;
        Ships[v].yawRate = p.Z;
        break;
    }
    default:
        break;
    }
}

void OnEvent(const EventPacket& e)
{
    if (e.Kind == EVENT_CHAT) {
        RelayToPeers(&e, EVENT_PACKET_SIZE, false, 1000);
        char text[EVENT_PAYLOAD_SIZE + 1];
        ReadChatText(e, text);
        ScopedSection ship(Ships[e.Vessel].lock);
        std::printf("[%06i] --- Incoming message from IVR:  52%.0f\n", ConsoleSeconds(),
                    static_cast<double>(Ships[e.Vessel].registration));
        std::printf("         %s\n", console::ToTerminalText(text).c_str());
        std::printf("[%06i] Was player number:  %i\n", ConsoleSeconds(), e.Vessel);
    } else if (e.Kind == EVENT_PROJECTILE) {
        RelayToPeers(&e, EVENT_PACKET_SIZE, true, 0);
    }
}

}  // namespace

HRESULT HandleServerData(const void* data, std::size_t size)
{
    if (data == nullptr) return S_OK;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    switch (ClassifyPacket(static_cast<DWORD>(size))) {
    case WIRE_STATUS: {
        StatusPacket p;
        ReadStatusPacket(bytes, static_cast<DWORD>(size), &p);
        if (VerboseTrace.load() == 1) std::printf("%if%i ", p.Type, p.Vessel);
        if (p.Type == STATUS_CONFIGURATION) {
            if (p.Vessel != VESSEL_NONE && !IsVesselIndex(p.Vessel)) return S_OK;
            // Taken as never received: the start-up wait goes on until the server
            // completes the configuration, refuses, shuts down or goes away.
            if (p.Vessel != VESSEL_NONE && !FiniteWhereUsed(p)) return S_OK;
            return OnConfiguration(p);
        }
        if (p.Type > STATUS_TYPE_LAST) return S_OK;
        if (UsesVesselIndex(p.Type) && !IsVesselIndex(p.Vessel)) return S_OK;
        if (!FiniteWhereUsed(p)) return S_OK;
        OnStatus(bytes, p);
        return S_OK;
    }
    case WIRE_EVENT: {
        EventPacket e;
        ReadEventPacket(bytes, static_cast<DWORD>(size), &e);
        if (VerboseTrace.load() == 1) std::printf("%iBf%i ", e.Kind, e.Vessel);
        if ((e.Kind == EVENT_CHAT || e.Kind == EVENT_PROJECTILE) && !IsVesselIndex(e.Vessel)) return S_OK;
        OnEvent(e);
        return S_OK;
    }
    default:
        return S_OK;
    }
}

namespace {

HRESULT OnTerminateSession()
{
    std::printf("[Error!] The connection to the server has been lost!\n");
    ServerSessionEnded.store(1);
    const StatusPacket p = MakeStatusPacket(STATUS_SHUTDOWN, 0, 0.0f, 0.0f, 0.0f, 0.0f);
    SendToPeer(0, &p, sizeof p, true, 0);
    SessionOnline.store(0);
    return S_OK;
}

}  // namespace

HRESULT ServerMessageHandler(PVOID, DWORD messageId, PVOID message)
{
    switch (messageId) {
    case DPN_MSGID_ENUM_HOSTS_RESPONSE:
        AddHostRecord(static_cast<const DPNMSG_ENUM_HOSTS_RESPONSE*>(message));
        return S_OK;
    case DPN_MSGID_RECEIVE: {
        const auto* m = static_cast<const DPNMSG_RECEIVE*>(message);
        return m == nullptr ? S_OK : HandleServerData(m->pReceiveData, m->dwReceiveDataSize);
    }
    case DPN_MSGID_TERMINATE_SESSION:
        return OnTerminateSession();
    default:
        return S_OK;
    }
}
