#include "client/server_link.h"

#include "client/client_state.h"
#include "client/session_host.h"
#include "client/vessel_motion.h"
#include "client/wire.h"
#include "common/frame_clock.h"
#include "common/registry_values.h"
#include "platform/console/console.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifndef MERIDAX_DEFAULT_SERVER_HOST
#define MERIDAX_DEFAULT_SERVER_HOST "localhost"
#endif

const WCHAR* const DefaultServerHost = u"" MERIDAX_DEFAULT_SERVER_HOST;

IDirectPlay8Client* DirectPlayClient = nullptr;
IDirectPlay8Server* DirectPlayServer = nullptr;
IDirectPlay8Address* DeviceAddress = nullptr;
IDirectPlay8Address* RemoteAddress = nullptr;
HostRecord* HostList = nullptr;
CriticalSectionLock HostListLock;

std::atomic<std::int32_t> ServerSessionEnded{0};
std::atomic<std::int32_t> ConfigurationRefused{0};

namespace {

constexpr float kReplacedGroundRadius = std::bit_cast<float>(0x4537B99Eu);  // 2939.601
constexpr float kLoggedOffGroundRadius = std::bit_cast<float>(0x4537B9AAu); // 2939.604
constexpr float kTwoPi = std::bit_cast<float>(0x40C90FDBu);

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// Round trip of the server connection in ms; 0 when the query fails.
DWORD ServerRoundTrip()
{
    DPN_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    if (DirectPlayClient == nullptr || FAILED(DirectPlayClient->GetConnectionInfo(&info, 0))) return 0;
    return info.dwRoundTripLatencyMS;
}

std::size_t WideLength(const WCHAR* s)
{
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

void ReleaseHostRecord(HostRecord* r)
{
    if (r == nullptr) return;
    if (r->address != nullptr) r->address->Release();
    delete r->description;
    delete[] r->sessionName;
    delete r;
}

HRESULT HandleEnumHostsResponse(const DPNMSG_ENUM_HOSTS_RESPONSE* m)
{
    if (m == nullptr || m->pApplicationDescription == nullptr || m->pAddressSender == nullptr) return S_OK;
    const DPN_APPLICATION_DESC* desc = m->pApplicationDescription;
    ScopedSection lock(HostListLock);
    for (HostRecord* r = HostList; r != nullptr; r = r->next) {
        if (std::memcmp(&r->description->guidInstance, &desc->guidInstance, sizeof(GUID)) == 0) return S_OK;
    }
    auto* record = new HostRecord{};
    if (FAILED(m->pAddressSender->Duplicate(&record->address))) {
        ReleaseHostRecord(record);
        return S_OK;
    }
    record->description = new DPN_APPLICATION_DESC(*desc);
    record->description->pwszSessionName = nullptr;
    record->description->pwszPassword = nullptr;
    record->description->pvReservedData = nullptr;
    record->description->dwReservedDataSize = 0;
    record->description->pvApplicationReservedData = nullptr;
    record->description->dwApplicationReservedDataSize = 0;
    if (desc->pwszSessionName != nullptr) {
        const std::size_t n = WideLength(desc->pwszSessionName);
        record->sessionName = new WCHAR[n + 1];
        std::memcpy(record->sessionName, desc->pwszSessionName, (n + 1) * sizeof(WCHAR));
    }
    record->next = HostList;
    HostList = record;
    return S_OK;
}

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

HRESULT OnReceive(const DPNMSG_RECEIVE* m)
{
    if (m == nullptr || m->pReceiveData == nullptr) return S_OK;
    const DWORD size = m->dwReceiveDataSize;
    switch (ClassifyPacket(size)) {
    case WIRE_STATUS: {
        StatusPacket p;
        ReadStatusPacket(m->pReceiveData, size, &p);
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
        OnStatus(m->pReceiveData, p);
        return S_OK;
    }
    case WIRE_EVENT: {
        EventPacket e;
        ReadEventPacket(m->pReceiveData, size, &e);
        if (VerboseTrace.load() == 1) std::printf("%iBf%i ", e.Kind, e.Vessel);
        if ((e.Kind == EVENT_CHAT || e.Kind == EVENT_PROJECTILE) && !IsVesselIndex(e.Vessel)) return S_OK;
        OnEvent(e);
        return S_OK;
    }
    default:
        return S_OK;
    }
}

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

float StoreReportedPosition(std::uint8_t vessel, float x, float y, float z, float interval)
{
    ShipRecord& s = Ships[vessel];
    const D3DXVECTOR3 velocity = s.velocity;
    s.doublePosition[0] = x;
    s.doublePosition[1] = y;
    s.doublePosition[2] = z;
    if (std::isfinite(interval)) IntegrateVesselPosition(vessel, interval);
    if (!std::isfinite(interval) || !Finite(s.position.x, s.position.y, s.position.z) ||
        !Finite(s.velocity.x, s.velocity.y, s.velocity.z)) {
        s.doublePosition[0] = x;
        s.doublePosition[1] = y;
        s.doublePosition[2] = z;
        s.position = D3DXVECTOR3(x, y, z);
        s.velocity = velocity;
        return 0.0f;
    }
    return interval;
}

int ConsoleSeconds() { return static_cast<int>(CheckedTruncate(FrameClock(CLOCK_SINCE_RESET), INT32_MIN, INT32_MAX)); }

std::int64_t CheckedTruncate(float value, std::int64_t low, std::int64_t high)
{
    if (!std::isfinite(value)) return 0;
    const double t = std::trunc(static_cast<double>(value));
    if (t < static_cast<double>(low) || t > static_cast<double>(high)) return 0;
    return static_cast<std::int64_t>(t);
}

void EndProcessFromHandler()
{
    std::fflush(stdout);
    if (DirectPlayServer != nullptr) DirectPlayServer->Close(0);
    CloseLogFile();
    console::Restore();
    std::fflush(stdout);
    _exit(0);
}

// ---------------------------------------------------------------- set-up

HRESULT InitDirectPlay()
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Client, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Client,
                                  reinterpret_cast<void**>(&DirectPlayClient));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Client instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = CoCreateInstance(CLSID_DirectPlay8Server, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Server,
                          reinterpret_cast<void**>(&DirectPlayServer));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Server instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = DirectPlayClient->Initialize(nullptr, ServerMessageHandler, 0);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on Initialize for our client:  %X\n", Hex(hr));
        return hr;
    }
    hr = DirectPlayServer->Initialize(nullptr, PeerMessageHandler, 0);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on Initialize for our peers:  %X\n", Hex(hr));
        return hr;
    }
    if (!ValidateServiceProvider()) {
        std::printf("[Error!] Failed validating CLSID_DP8SP_TCPIP");
        return E_FAIL;
    }
    return S_OK;
}

namespace {

template <class Object>
bool ProviderPresent(Object* object, const char* who)
{
    DWORD size = 0, count = 0;
    HRESULT hr = object->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, nullptr, &size, &count, 0);
    if (hr != DPNERR_BUFFERTOOSMALL) {
        std::printf("[Error!] Failed on EnumServiceProviders for our %s (1):  %x\n", who, Hex(hr));
        return false;
    }
    auto* buffer = static_cast<DPN_SERVICE_PROVIDER_INFO*>(std::calloc(1, size > 0 ? size : 1));
    if (buffer == nullptr) return false;
    hr = object->EnumServiceProviders(&CLSID_DP8SP_TCPIP, nullptr, buffer, &size, &count, 0);
    std::free(buffer);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed on EnumServiceProviders for our %s (2):  %x\n", who, Hex(hr));
        return false;
    }
    return count > 0;
}

}  // namespace

bool ValidateServiceProvider()
{
    return ProviderPresent(DirectPlayClient, "client") && ProviderPresent(DirectPlayServer, "peers");
}

HRESULT CreateDeviceAddress()
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                                  reinterpret_cast<void**>(&DeviceAddress));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to co-create the IDirectPlay8Address instance:  %X\n", Hex(hr));
        return hr;
    }
    hr = DeviceAddress->SetSP(&CLSID_DP8SP_TCPIP);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed setting the service provider:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT CreateHostAddress(const WCHAR* host)
{
    HRESULT hr = CoCreateInstance(CLSID_DirectPlay8Address, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectPlay8Address,
                                  reinterpret_cast<void**>(&RemoteAddress));
    if (FAILED(hr)) {
        std::printf("[Error!] Failed co-creating the IDirectPlay8Address instance (3):  %X\n", Hex(hr));
        return hr;
    }
    hr = RemoteAddress->SetSP(&CLSID_DP8SP_TCPIP);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed setting the service provider:  %X\n", Hex(hr));
        return hr;
    }
    const DWORD bytes = static_cast<DWORD>((WideLength(host) + 1) * 2);
    hr = RemoteAddress->AddComponent(DPNA_KEY_HOSTNAME, host, bytes, DPNA_DATATYPE_STRING);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed adding host name to host address:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT EnumDirectPlayHosts()
{
    WCHAR host[256] = {};
    const std::size_t n = WideLength(DefaultServerHost);
    std::memcpy(host, DefaultServerHost, (n < 255 ? n : 255) * sizeof(WCHAR));

    std::printf("Console Client (build %3.0f on %s)\n\n", static_cast<double>(CLIENT_BUILD), CLIENT_BUILD_DATE);
    std::printf("\"1\" or ESC to exit, \"2\" for statistics, \"3\" for verbose, ENTER to send message\n\n");
    std::printf("[%06i] Connecting to the Meridax Industries host computer...\n", ConsoleSeconds());

    HRESULT hr = CreateHostAddress(host);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to create host address:  %X\n", Hex(hr));
        return hr;
    }
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = ServerApplicationGuid;
    hr = DirectPlayClient->EnumHosts(&desc, RemoteAddress, DeviceAddress, nullptr, 0, 5, 0, 0, nullptr, nullptr,
                                     DPNENUMHOSTS_SYNC);
    if (FAILED(hr)) {
        std::printf("[Error!] Failed to enumerate the host:  %X\n", Hex(hr));
        return hr;
    }
    return S_OK;
}

HRESULT ConnectToSession()
{
    DPN_APPLICATION_DESC desc{};
    desc.dwSize = sizeof desc;
    desc.guidApplication = ServerApplicationGuid;
    HRESULT hr = E_FAIL;
    IDirectPlay8Address* address = nullptr;
    {
        ScopedSection lock(HostListLock);
        if (HostList == nullptr) {
            std::printf("[Error!] Server may have changed IP addresses, please download newer version...\n");
        } else {
            hr = HostList->address->Duplicate(&address);
        }
        if (FAILED(hr)) {
            std::printf("[Error!] Failed to duplicate host address:  %x\n", Hex(hr));
        } else {
            hr = DirectPlayClient->Connect(&desc, address, DeviceAddress, nullptr, nullptr, nullptr, 0, nullptr,
                                           nullptr, DPNCONNECT_SYNC);
            if (FAILED(hr)) std::printf("[Error!] Failed connecting to the host:  %x\n", Hex(hr));
        }
    }
    if (address != nullptr) address->Release();
    return hr;
}

// ---------------------------------------------------------------- sending and receiving

HRESULT SendToServer(const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs)
{
    if (DirectPlayClient == nullptr) return E_FAIL;
    if (timeoutMs != 0) timeoutMs += ServerRoundTrip() / 2;
    DPN_BUFFER_DESC b{size, static_cast<BYTE*>(const_cast<void*>(buffer))};
    DPNHANDLE handle = 0;
    const DWORD flags = (guaranteed ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE) | DPNSEND_NOLOOPBACK;
    const HRESULT hr = DirectPlayClient->Send(&b, 1, timeoutMs, nullptr, &handle, flags);
    if (FAILED(hr)) std::printf("[Error!] Failed sending data to server:  %x\n", Hex(hr));
    return hr;
}

HRESULT ServerMessageHandler(PVOID, DWORD messageId, PVOID message)
{
    switch (messageId) {
    case DPN_MSGID_ENUM_HOSTS_RESPONSE:
        return HandleEnumHostsResponse(static_cast<const DPNMSG_ENUM_HOSTS_RESPONSE*>(message));
    case DPN_MSGID_RECEIVE:
        return OnReceive(static_cast<const DPNMSG_RECEIVE*>(message));
    case DPN_MSGID_TERMINATE_SESSION:
        return OnTerminateSession();
    default:
        return S_OK;
    }
}
