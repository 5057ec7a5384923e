#include "client/session_host.h"

#include "client/client_state.h"
#include "client/vessel_motion.h"
#include "client/wire.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

std::uint8_t OwnVessel()
{
    ScopedSection time(UniverseClock.lock);
    return UniverseClock.ownVessel;
}

// To the other attached view programs (not the sender), each under its slot lock.
void RelayToOtherPeers(DPNID sender, const void* data, DWORD size, bool guaranteed, DWORD timeoutMs,
                       std::uint8_t type)
{
    for (int i = 0; i < MAX_PEER_SLOTS; ++i) {
        PeerSlot& slot = PeerSlots[i];
        ScopedSection lock(slot.lock);
        if (slot.occupied && slot.dpnid != sender) {
            SendToPeer(slot.dpnid, data, size, guaranteed, timeoutMs);
            if (VerboseTrace.load() == 1 && (type == STATUS_POSITION || type == STATUS_VELOCITY))
                std::printf("%ifCtP%i ", type, i);
        }
    }
}

void SendStatusTo(DPNID to, const StatusPacket& p) { SendToPeer(to, &p, sizeof p, true, 0); }

// True when the player holds one of the slots (it has registered).
bool HoldsSlot(DPNID player)
{
    for (PeerSlot& slot : PeerSlots) {
        ScopedSection lock(slot.lock);
        if (slot.occupied && slot.dpnid == player) return true;
    }
    return false;
}

// The console lines of joining and leaving keep their "%0.8x" as written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
void OnCreatePlayer(const DPNMSG_CREATE_PLAYER* m)
{
    std::printf("[%06i] DPNID peer program requesting connection:  %0.8x\n", ConsoleSeconds(), m->dpnidPlayer);
}

void OnDestroyPlayer(const DPNMSG_DESTROY_PLAYER* m)
{
    std::printf("[%06i] DPNID peer program disconnected:  %0.8x\n", ConsoleSeconds(), m->dpnidPlayer);
    bool found = false;
    for (int i = 0; i < MAX_PEER_SLOTS && !found; ++i) {
        PeerSlot& slot = PeerSlots[i];
        std::uint32_t value = 0;
        std::uint8_t propulsion = 0;
        {
            ScopedSection lock(slot.lock);
            if (!slot.occupied || slot.dpnid != m->dpnidPlayer) continue;
            slot.occupied = 0;
            value = slot.registrationValue;
            propulsion = slot.registrationZ;
            if (propulsion == 1) {
                ScopedSection time(UniverseClock.lock);
                std::printf("[%06i] Propulsion now disengaged...\n", ConsoleSeconds());
                UniverseClock.propulsionEngaged = 0;
            }
        }
        found = true;
        std::printf("[%06i] Peer application instance occupied slot:  %i\n", ConsoleSeconds(), i);
        float y;
        std::memcpy(&y, &value, sizeof y);
        const StatusPacket leave = MakeStatusPacket(STATUS_SHUTDOWN, 0, 0.0f, y, static_cast<float>(propulsion), 0.0f);
        SendToServer(&leave, sizeof leave, true, 0);
    }
    if (!found) std::printf("[%06i] Could not find the instance of that application!\n", ConsoleSeconds());
}
#pragma GCC diagnostic pop

void SendInitialState(DPNID to)
{
    StatusPacket granted;
    {
        ScopedSection time(UniverseClock.lock);
        granted = MakeStatusPacket(STATUS_CONFIGURATION, UniverseClock.ownVessel, UniverseSecondsNow(), 0.0f,
                                   UniverseClock.hours, UniverseClock.registration);
    }
    SendStatusTo(to, granted);
    for (int i = 0; i < MAX_VESSELS; ++i) {
        ShipRecord& s = Ships[i];
        ScopedSection ship(s.lock);
        const auto n = static_cast<std::uint8_t>(i);
        const float t = VesselUniverseTime(s);
        if (s.present) SendStatusTo(to, MakeStatusPacket(STATUS_PLAYER_ONLINE, n, 0.0f, 0.0f, 0.0f, s.registration));
        SendStatusTo(to, MakeStatusPacket(STATUS_VELOCITY, n, s.velocity.x, s.velocity.y, s.velocity.z, s.groundRadius));
        SendStatusTo(to, MakeStatusPacket(STATUS_POSITION, n, s.position.x, s.position.y, s.position.z, t));
        SendStatusTo(to, MakeStatusPacket(STATUS_ATTITUDE, n, s.attitude.x, s.attitude.y, s.attitude.z, s.attitude.w));
        SendStatusTo(to, MakeStatusPacket(STATUS_RATES, n, s.pitchRate, s.rollRate, s.yawRate, t));
    }
    std::printf("[%06i] Sent new peer application all ship position data...\n", ConsoleSeconds());
    SendStatusTo(to, MakeStatusPacket(STATUS_SETUP_COMPLETE, 0, 0.0f, 0.0f, 0.0f, 0.0f));
}

void OnRegistration(DPNID sender, const BYTE* data, const StatusPacket& p)
{
    // A view that holds a slot already gets no second one (nor another initial state).
    if (HoldsSlot(sender)) return;
    const bool wantsPropulsion = p.W != 0.0f;
    bool refused = false;
    if (wantsPropulsion) {
        ScopedSection time(UniverseClock.lock);
        if (UniverseClock.propulsionEngaged == 0) {
            std::printf("[%06i] Propulsion now engaged via connected peer...\n", ConsoleSeconds());
            UniverseClock.propulsionEngaged = 1;
        } else {
            std::printf("[%06i] Propulsion already enabled through another peer!\n", ConsoleSeconds());
            refused = true;
        }
    }
    int taken = -1;
    if (!refused) {
        for (int i = 0; i < MAX_PEER_SLOTS && taken < 0; ++i) {
            PeerSlot& slot = PeerSlots[i];
            ScopedSection lock(slot.lock);
            if (slot.occupied) continue;
            slot.occupied = 1;
            slot.dpnid = sender;
            std::memcpy(&slot.registrationValue, &p.Y, sizeof slot.registrationValue);
            slot.registrationZ = static_cast<std::uint8_t>(CheckedTruncate(p.Z, INT32_MIN, INT32_MAX) & 0xFF);
            taken = i;
        }
        if (taken >= 0) {
            std::printf("[%06i] Peer program application instance assigned slot:  %i\n", ConsoleSeconds(), taken);
            SendToServer(data, STATUS_PACKET_SIZE, true, 0);
        } else {
            std::printf("[%06i] Too many peer programs currently attached!\n", ConsoleSeconds());
            if (wantsPropulsion) {
                ScopedSection time(UniverseClock.lock);
                UniverseClock.propulsionEngaged = 0;
            }
        }
    }
    if (taken < 0) {
        SendStatusTo(sender, MakeStatusPacket(STATUS_CONFIGURATION, VESSEL_NONE, 0.0f, 0.0f, 0.0f, 0.0f));
        return;
    }
    SendInitialState(sender);
}

bool Finite(float a, float b, float c) { return std::isfinite(a) && std::isfinite(b) && std::isfinite(c); }

// False when a float that is stored or computed with is not finite: such a report is
// ignored whole (not stored, not passed on). The registration is checked where it is
// converted; the frame report only passes through.
bool FiniteWhereUsed(const StatusPacket& p)
{
    switch (p.Type) {
    case STATUS_POSITION:                                                // position, sample time
    case STATUS_VELOCITY:                                                // velocity, ground radius
    case STATUS_ATTITUDE: return Finite(p.X, p.Y, p.Z) && std::isfinite(p.W);  // quaternion
    case STATUS_RATES: return Finite(p.X, p.Y, p.Z);
    default: return true;
    }
}

void OnStatus(DPNID sender, const BYTE* data, const StatusPacket& p)
{
    if (p.Type == STATUS_SHUTDOWN) {
        OnRegistration(sender, data, p);
        return;
    }
    // Reports count only from a view that has registered.
    if (!FiniteWhereUsed(p) || !HoldsSlot(sender)) return;
    const std::uint8_t own = OwnVessel();
    StatusPacket relay = p;
    relay.Vessel = own;
    ShipRecord& s = Ships[own];
    switch (p.Type) {
    case STATUS_POSITION: {
        RelayToOtherPeers(sender, &relay, sizeof relay, false, 1000, p.Type);
        ScopedSection ship(s.lock);
        // Both times are seconds within an hour: the difference is taken the short way
        // round it, so a report from just across the hour moves the vessel by seconds.
        float d = std::fmod(VesselUniverseTime(s) - p.W + 1800.0f, 3600.0f);
        if (d < 0.0f) d += 3600.0f;
        StoreReportedPosition(own, p.X, p.Y, p.Z, d - 1800.0f);
        break;
    }
    case STATUS_VELOCITY: {
        SendToServer(data, STATUS_PACKET_SIZE, false, 83);
        RelayToOtherPeers(sender, &relay, sizeof relay, false, 83, p.Type);
        ScopedSection ship(s.lock);
        s.velocity = D3DXVECTOR3(p.X, p.Y, p.Z);
        s.groundRadius = p.W;
        LogPeerVelocity(p.X, p.Y, p.Z, p.W);
        break;
    }
    case STATUS_CONFIGURATION:
        SendToServer(data, STATUS_PACKET_SIZE, false, 1000);
        break;
    case STATUS_ATTITUDE: {
        SendToServer(data, STATUS_PACKET_SIZE, false, 1000);
        RelayToOtherPeers(sender, &relay, sizeof relay, true, 1000, p.Type);
        ScopedSection ship(s.lock);
        s.attitude = D3DXQUATERNION(p.X, p.Y, p.Z, p.W);
        break;
    }
    case STATUS_RATES: {
        SendToServer(data, STATUS_PACKET_SIZE, false, 42);
        RelayToOtherPeers(sender, &relay, sizeof relay, true, 1000, p.Type);
        ScopedSection ship(s.lock);
        s.pitchRate = p.X;
        s.rollRate = p.Y;
        s.yawRate = p.Z;
        break;
    }
    default:
        break;  // 1, 3, 5 and unknown types
    }
}

void OnReceive(const DPNMSG_RECEIVE* m)
{
    if (m->pReceiveData == nullptr) return;
    const DWORD size = m->dwReceiveDataSize;
    switch (ClassifyPacket(size)) {
    case WIRE_STATUS: {
        StatusPacket p;
        ReadStatusPacket(m->pReceiveData, size, &p);
        OnStatus(m->dpnidSender, m->pReceiveData, p);
        break;
    }
    case WIRE_EVENT: {
        EventPacket e;
        ReadEventPacket(m->pReceiveData, size, &e);
        if (VerboseTrace.load() == 1) std::printf("%iBf%i ", e.Kind, e.Vessel);
        if (e.Kind == EVENT_PROJECTILE && HoldsSlot(m->dpnidSender)) SendToServer(&e, EVENT_PACKET_SIZE, true, 0);
        break;
    }
    default:
        break;
    }
}

}  // namespace

HRESULT HostSession()
{
    DPN_PLAYER_INFO info{};
    info.dwSize = sizeof info;
    info.dwInfoFlags = DPNINFO_NAME;
    info.pwszName = const_cast<WCHAR*>(u"Individual Client");
    HRESULT hr = DirectPlayServer->SetServerInfo(&info, nullptr, nullptr, DPNSETSERVERINFO_SYNC);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on SetServerInfo:  %X\n", Hex(hr));
        return hr;
    }
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DPNSESSION_CLIENT_SERVER;
    desc.guidApplication = PeerApplicationGuid;
    desc.pwszSessionName = const_cast<WCHAR*>(u"Peer to Peer");
    // The views run on this machine: the session listens on the loopback interface only.
    IDirectPlay8Address* loopback = nullptr;
    hr = DeviceAddress->Duplicate(&loopback);
    if (SUCCEEDED(hr)) hr = loopback->AddComponent(DPNA_KEY_HOSTNAME, u"127.0.0.1", sizeof(u"127.0.0.1"), DPNA_DATATYPE_STRING);
    if (SUCCEEDED(hr)) hr = DirectPlayServer->Host(&desc, &loopback, 1, nullptr, nullptr, nullptr, 0);
    if (loopback != nullptr) loopback->Release();
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on Host:  %X\n", Hex(hr));
        return hr;
    }
    std::printf("[%06i] Ready to host peer programs...\n", ConsoleSeconds());
    SessionOnline.store(1);
    // A shut-down notice or the end of the server session meanwhile keeps it offline.
    if (ServerSessionEnded.load() != 0) SessionOnline.store(0);
    return S_OK;
}

HRESULT PeerMessageHandler(PVOID, DWORD messageId, PVOID message)
{
    if (SessionOnline.load() == 0 || message == nullptr) return S_OK;
    switch (messageId) {
    case DPN_MSGID_CREATE_PLAYER:
        OnCreatePlayer(static_cast<const DPNMSG_CREATE_PLAYER*>(message));
        break;
    case DPN_MSGID_DESTROY_PLAYER:
        OnDestroyPlayer(static_cast<const DPNMSG_DESTROY_PLAYER*>(message));
        break;
    case DPN_MSGID_RECEIVE:
        OnReceive(static_cast<const DPNMSG_RECEIVE*>(message));
        break;
    default:
        break;
    }
    return S_OK;
}
