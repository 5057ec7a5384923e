#pragma once
// Session layer: client, server (host) and address objects over UDP (ENet).
//
// Threads: each client or server object runs one service thread from Initialize to
// Close. The message handler given to Initialize runs on that thread only, one call
// at a time, in arrival order. Send, SendTo, GetConnectionInfo and DestroyClient may
// be called from any thread, inside handlers and with locks held; they queue work
// and never wait for the service thread. EnumHosts, Connect, Host and Close wait for
// it and must not be called from the object's own handler.
//
// Ordering: a player's create-player message comes before any receive from it and
// its destroy-player message after the last one; no enumeration answer is delivered
// after EnumHosts returns; an object's own Close delivers no terminate-session; no
// handler runs after Close returns; messages queued before Close are sent before the
// connection is closed.
#include <cstdint>

#include "platform/sys/guid.h"
#include "platform/sys/hresult.h"

using WCHAR = char16_t;
using ULONG = std::uint32_t;
using PVOID = void*;
using DPNID = DWORD;
using DPNHANDLE = DWORD;
using REFCLSID = const GUID&;
using REFIID = const GUID&;

// ---------------------------------------------------------------- result codes
constexpr HRESULT DPNERR_GENERIC = E_FAIL;
constexpr HRESULT DPNERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DPNERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DPNERR_INVALIDPOINTER = E_POINTER;
constexpr HRESULT DPNERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DPNERR_ALREADYCLOSING = MakeHResult(0x80158010u);
constexpr HRESULT DPNERR_ALREADYCONNECTED = MakeHResult(0x80158020u);
constexpr HRESULT DPNERR_ALREADYINITIALIZED = MakeHResult(0x80158030u);
constexpr HRESULT DPNERR_BUFFERTOOSMALL = MakeHResult(0x80158060u);
constexpr HRESULT DPNERR_CONNECTING = MakeHResult(0x801580B0u);
constexpr HRESULT DPNERR_CONNECTIONLOST = MakeHResult(0x801580C0u);
constexpr HRESULT DPNERR_DOESNOTEXIST = MakeHResult(0x801580F0u);
constexpr HRESULT DPNERR_HOSTREJECTEDCONNECTION = MakeHResult(0x80158140u);
constexpr HRESULT DPNERR_HOSTTERMINATEDSESSION = MakeHResult(0x80158150u);
constexpr HRESULT DPNERR_INVALIDAPPLICATION = MakeHResult(0x80158180u);
constexpr HRESULT DPNERR_INVALIDDEVICEADDRESS = MakeHResult(0x801581A0u);
constexpr HRESULT DPNERR_INVALIDFLAGS = MakeHResult(0x801581B0u);
constexpr HRESULT DPNERR_INVALIDHOSTADDRESS = MakeHResult(0x801581E0u);
constexpr HRESULT DPNERR_INVALIDINSTANCE = MakeHResult(0x801581F0u);
constexpr HRESULT DPNERR_INVALIDPLAYER = MakeHResult(0x80158240u);
constexpr HRESULT DPNERR_NOCONNECTION = MakeHResult(0x80158300u);
constexpr HRESULT DPNERR_NORESPONSE = MakeHResult(0x80158330u);
constexpr HRESULT DPNERR_NOTALLOWED = MakeHResult(0x80158340u);
constexpr HRESULT DPNERR_NOTHOST = MakeHResult(0x80158350u);
constexpr HRESULT DPNERR_SENDTOOLARGE = MakeHResult(0x80158410u);
constexpr HRESULT DPNERR_SESSIONFULL = MakeHResult(0x80158420u);
constexpr HRESULT DPNERR_UNINITIALIZED = MakeHResult(0x80158480u);

// ---------------------------------------------------------------- flags and keys
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

constexpr DPNID DPNID_ALL_PLAYERS_GROUP = 0;

constexpr DWORD DPNSEND_SYNC = 0x80000000u;
constexpr DWORD DPNSEND_NOCOPY = 0x0001;
constexpr DWORD DPNSEND_NOCOMPLETE = 0x0002;
constexpr DWORD DPNSEND_COMPLETEONPROCESS = 0x0004;
constexpr DWORD DPNSEND_GUARANTEED = 0x0008;
constexpr DWORD DPNSEND_NONSEQUENTIAL = 0x0010;
constexpr DWORD DPNSEND_NOLOOPBACK = 0x0020;
constexpr DWORD DPNSEND_PRIORITY_LOW = 0x0040;
constexpr DWORD DPNSEND_PRIORITY_HIGH = 0x0080;

constexpr DWORD DPNENUMHOSTS_SYNC = 0x80000000u;
constexpr DWORD DPNCONNECT_SYNC = 0x80000000u;
constexpr DWORD DPNSETSERVERINFO_SYNC = 0x80000000u;

constexpr DWORD DPNSESSION_CLIENT_SERVER = 0x0001;
constexpr DWORD DPNINFO_NAME = 0x0001;
constexpr DWORD DPNINFO_DATA = 0x0002;

// Set in DPNMSG_RECEIVE::dwReceiveFlags when the sender used DPNSEND_GUARANTEED.
constexpr DWORD DPNRECEIVE_GUARANTEED = 0x0001;

constexpr DWORD DPNDESTROYPLAYERREASON_NORMAL = 0x0001;
constexpr DWORD DPNDESTROYPLAYERREASON_CONNECTIONLOST = 0x0002;
constexpr DWORD DPNDESTROYPLAYERREASON_SESSIONTERMINATED = 0x0003;
constexpr DWORD DPNDESTROYPLAYERREASON_HOSTDESTROYEDPLAYER = 0x0004;

constexpr DWORD DPNA_DATATYPE_STRING = 0x0001;       // UTF-16, NUL-terminated
constexpr DWORD DPNA_DATATYPE_DWORD = 0x0002;
constexpr DWORD DPNA_DATATYPE_GUID = 0x0003;
constexpr DWORD DPNA_DATATYPE_BINARY = 0x0004;
constexpr DWORD DPNA_DATATYPE_STRING_ANSI = 0x0005;  // 8-bit, NUL-terminated

inline constexpr const WCHAR* DPNA_KEY_HOSTNAME = u"hostname";
inline constexpr const WCHAR* DPNA_KEY_PORT = u"port";

// ---------------------------------------------------------------- message ids
constexpr DWORD DPN_MSGID_OFFSET = 0xFFFF0000u;
constexpr DWORD DPN_MSGID_CREATE_PLAYER = DPN_MSGID_OFFSET | 0x0007;
constexpr DWORD DPN_MSGID_DESTROY_PLAYER = DPN_MSGID_OFFSET | 0x0009;
constexpr DWORD DPN_MSGID_ENUM_HOSTS_RESPONSE = DPN_MSGID_OFFSET | 0x000C;
constexpr DWORD DPN_MSGID_RECEIVE = DPN_MSGID_OFFSET | 0x0011;
constexpr DWORD DPN_MSGID_TERMINATE_SESSION = DPN_MSGID_OFFSET | 0x0016;

// ---------------------------------------------------------------- class ids
// Service provider of UDP/IP sessions.
constexpr GUID CLSID_DP8SP_TCPIP = {0x6D0C5E41, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x01}};
constexpr GUID CLSID_DirectPlay8Client = {0x6D0C5E42, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x02}};
constexpr GUID CLSID_DirectPlay8Server = {0x6D0C5E43, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x03}};
constexpr GUID CLSID_DirectPlay8Address = {0x6D0C5E44, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x04}};
constexpr GUID IID_IDirectPlay8Client = {0x6D0C5E52, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x12}};
constexpr GUID IID_IDirectPlay8Server = {0x6D0C5E53, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x13}};
constexpr GUID IID_IDirectPlay8Address = {0x6D0C5E54, 0x2B7A, 0x4C1E, {0x9A, 0x3F, 0x51, 0x0B, 0x7E, 0x24, 0xC8, 0x14}};

// ---------------------------------------------------------------- records
struct DPN_APPLICATION_DESC {
    DWORD dwSize;  // sizeof(DPN_APPLICATION_DESC)
    DWORD dwFlags;
    GUID guidInstance;
    GUID guidApplication;
    DWORD dwMaxPlayers;  // 0 = no limit
    DWORD dwCurrentPlayers;
    WCHAR* pwszSessionName;
    WCHAR* pwszPassword;
    PVOID pvReservedData;
    DWORD dwReservedDataSize;
    PVOID pvApplicationReservedData;
    DWORD dwApplicationReservedDataSize;
};

struct DPN_PLAYER_INFO {
    DWORD dwSize;  // sizeof(DPN_PLAYER_INFO)
    DWORD dwInfoFlags;
    WCHAR* pwszName;
    PVOID pvData;
    DWORD dwDataSize;
    DWORD dwPlayerFlags;
};

struct DPN_CONNECTION_INFO {
    DWORD dwSize;  // sizeof(DPN_CONNECTION_INFO)
    DWORD dwRoundTripLatencyMS;
    DWORD dwThroughputBPS;
    DWORD dwPeakThroughputBPS;
    DWORD dwBytesSentGuaranteed;
    DWORD dwPacketsSentGuaranteed;
    DWORD dwBytesSentNonGuaranteed;
    DWORD dwPacketsSentNonGuaranteed;
    DWORD dwBytesRetried;
    DWORD dwPacketsRetried;
    DWORD dwBytesDropped;
    DWORD dwPacketsDropped;
    DWORD dwMessagesTransmittedHighPriority;
    DWORD dwMessagesTimedOutHighPriority;
    DWORD dwMessagesTransmittedNormalPriority;
    DWORD dwMessagesTimedOutNormalPriority;
    DWORD dwMessagesTransmittedLowPriority;
    DWORD dwMessagesTimedOutLowPriority;
    DWORD dwBytesReceivedGuaranteed;
    DWORD dwPacketsReceivedGuaranteed;
    DWORD dwBytesReceivedNonGuaranteed;
    DWORD dwPacketsReceivedNonGuaranteed;
    DWORD dwMessagesReceived;
};
static_assert(sizeof(DPN_CONNECTION_INFO) == 92);

struct DPN_BUFFER_DESC {
    DWORD dwBufferSize;
    BYTE* pBufferData;
};

struct DPN_SERVICE_PROVIDER_INFO {
    DWORD dwFlags;
    GUID guid;
    WCHAR* pwszName;
    PVOID pvReserved;
    DWORD dwReserved;
};

struct DPN_SECURITY_DESC;
struct DPN_SECURITY_CREDENTIALS;

class IDirectPlay8Address;

// ---------------------------------------------------------------- handler messages
struct DPNMSG_ENUM_HOSTS_RESPONSE {
    DWORD dwSize;
    IDirectPlay8Address* pAddressSender;  // valid during the call; Duplicate to keep
    IDirectPlay8Address* pAddressDevice;
    const DPN_APPLICATION_DESC* pApplicationDescription;
    PVOID pvResponseData;
    DWORD dwResponseDataSize;
    PVOID pvUserContext;  // the context given to EnumHosts
    DWORD dwRoundTripLatencyMS;
};

struct DPNMSG_RECEIVE {
    DWORD dwSize;
    DPNID dpnidSender;
    PVOID pvPlayerContext;
    BYTE* pReceiveData;  // valid during the call
    DWORD dwReceiveDataSize;
    DPNHANDLE hBufferHandle;
    DWORD dwReceiveFlags;  // DPNRECEIVE_GUARANTEED
};

struct DPNMSG_CREATE_PLAYER {
    DWORD dwSize;
    DPNID dpnidPlayer;
    PVOID pvPlayerContext;  // the handler may set it; later messages carry it
};

struct DPNMSG_DESTROY_PLAYER {
    DWORD dwSize;
    DPNID dpnidPlayer;
    PVOID pvPlayerContext;
    DWORD dwReason;
};

struct DPNMSG_TERMINATE_SESSION {
    DWORD dwSize;
    HRESULT hResultCode;
    PVOID pvTerminateData;
    DWORD dwTerminateDataSize;
};

using PFNDPNMESSAGEHANDLER = HRESULT (*)(PVOID pvUserContext, DWORD dwMessageType, PVOID pMessage);

// ---------------------------------------------------------------- objects
// Reference-counted; Release deletes at zero (closing a client or server first).
class IDirectPlay8Address {
public:
    ULONG AddRef();
    ULONG Release();
    HRESULT SetSP(const GUID* pguidSP);
    HRESULT GetSP(GUID* pguidSP) const;
    // Components: "hostname" (DPNA_DATATYPE_STRING or _STRING_ANSI), "port" (DWORD),
    // others kept as given. A name added again replaces the earlier value.
    HRESULT AddComponent(const WCHAR* pwszName, const void* lpvData, DWORD dwDataSize, DWORD dwDataType);
    // Two-pass: with a too small buffer answers DPNERR_BUFFERTOOSMALL and the size.
    HRESULT GetComponentByName(const WCHAR* pwszName, void* pvBuffer, DWORD* pdwBufferSize, DWORD* pdwDataType) const;
    HRESULT Duplicate(IDirectPlay8Address** ppdpaNewAddress) const;

    // A new empty address (reference count 1).
    static IDirectPlay8Address* Create();

    struct Impl;
    Impl* impl() const { return impl_; }

private:
    IDirectPlay8Address();
    ~IDirectPlay8Address();
    Impl* impl_;
};

class IDirectPlay8Client {
public:
    ULONG AddRef();
    ULONG Release();
    HRESULT Initialize(PVOID pvUserContext, PFNDPNMESSAGEHANDLER pfn, DWORD dwFlags);
    // Two-pass: size query answers DPNERR_BUFFERTOOSMALL with the size needed.
    HRESULT EnumServiceProviders(const GUID* pguidServiceProvider, const GUID* pguidApplication,
                                 DPN_SERVICE_PROVIDER_INFO* pSPInfoBuffer, DWORD* pcbEnumData,
                                 DWORD* pcReturned, DWORD dwFlags);
    // Synchronous only (DPNENUMHOSTS_SYNC). Without a port in pAddrHost every port of
    // the session range is asked. 0 for count, interval or time-out picks the defaults
    // (5 rounds, 200 ms apart, 200 ms after the last). Success also when nobody answers.
    HRESULT EnumHosts(DPN_APPLICATION_DESC* pApplicationDesc, IDirectPlay8Address* pAddrHost,
                      IDirectPlay8Address* pDeviceInfo, PVOID pUserEnumData, DWORD dwUserEnumDataSize,
                      DWORD dwEnumCount, DWORD dwRetryInterval, DWORD dwTimeOut, PVOID pvUserContext,
                      DPNHANDLE* pAsyncHandle, DWORD dwFlags);
    // Synchronous only (DPNCONNECT_SYNC). On success the round trip is measured.
    HRESULT Connect(const DPN_APPLICATION_DESC* pdnAppDesc, IDirectPlay8Address* pHostAddr,
                    IDirectPlay8Address* pDeviceInfo, const DPN_SECURITY_DESC* pdnSecurity,
                    const DPN_SECURITY_CREDENTIALS* pdnCredentials, const void* pvUserConnectData,
                    DWORD dwUserConnectDataSize, void* pvAsyncContext, DPNHANDLE* phAsyncHandle, DWORD dwFlags);
    // Guaranteed sends are reliable; others may be lost but never arrive out of order.
    // A non-zero time-out drops a message still queued when it runs out.
    HRESULT Send(const DPN_BUFFER_DESC* prgBufferDesc, DWORD cBufferDesc, DWORD dwTimeOut,
                 void* pvAsyncContext, DPNHANDLE* phAsyncHandle, DWORD dwFlags);
    HRESULT GetConnectionInfo(DPN_CONNECTION_INFO* pdpConnectionInfo, DWORD dwFlags);
    HRESULT Close(DWORD dwFlags);

    struct Impl;

private:
    friend HRESULT CoCreateInstance(REFCLSID, void*, DWORD, REFIID, void**);
    IDirectPlay8Client();
    ~IDirectPlay8Client();
    Impl* impl_;
};

class IDirectPlay8Server {
public:
    ULONG AddRef();
    ULONG Release();
    HRESULT Initialize(PVOID pvUserContext, PFNDPNMESSAGEHANDLER pfn, DWORD dwFlags);
    HRESULT EnumServiceProviders(const GUID* pguidServiceProvider, const GUID* pguidApplication,
                                 DPN_SERVICE_PROVIDER_INFO* pSPInfoBuffer, DWORD* pcbEnumData,
                                 DWORD* pcReturned, DWORD dwFlags);
    HRESULT SetServerInfo(const DPN_PLAYER_INFO* pdpnPlayerInfo, PVOID pvAsyncContext,
                          DPNHANDLE* phAsyncHandle, DWORD dwFlags);
    // Without a port in the device address the first free port of the session range
    // is taken; with a "hostname" the session listens on that interface only, else
    // on every one. The host's own player is created (create-player message) before
    // Host returns.
    HRESULT Host(const DPN_APPLICATION_DESC* pdnAppDesc, IDirectPlay8Address** prgpDeviceInfo,
                 DWORD cDeviceInfo, const DPN_SECURITY_DESC* pdnSecurity,
                 const DPN_SECURITY_CREDENTIALS* pdnCredentials, void* pvPlayerContext, DWORD dwFlags);
    // dpnid 0 (DPNID_ALL_PLAYERS_GROUP) addresses every player; without
    // DPNSEND_NOLOOPBACK the host's own handler receives a copy too.
    HRESULT SendTo(DPNID dpnid, const DPN_BUFFER_DESC* prgBufferDesc, DWORD cBufferDesc, DWORD dwTimeOut,
                   void* pvAsyncContext, DPNHANDLE* phAsyncHandle, DWORD dwFlags);
    HRESULT GetConnectionInfo(DPNID dpnid, DPN_CONNECTION_INFO* pdpConnectionInfo, DWORD dwFlags);
    // Ends one client's connection; the client gets terminate-session.
    HRESULT DestroyClient(DPNID dpnidClient, const void* pvDestroyData, DWORD dwDestroyDataSize, DWORD dwFlags);
    // One address: "hostname" 127.0.0.1 and the "port" the session listens on.
    HRESULT GetLocalHostAddresses(IDirectPlay8Address** prgpAddress, DWORD* pcAddress, DWORD dwFlags);
    // Players destroyed by Close get their destroy-player messages before it returns.
    HRESULT Close(DWORD dwFlags);

    struct Impl;

private:
    friend HRESULT CoCreateInstance(REFCLSID, void*, DWORD, REFIID, void**);
    IDirectPlay8Server();
    ~IDirectPlay8Server();
    Impl* impl_;
};

// The object system needs no set-up here; kept for the start-up and shut-down order.
inline HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*coInit*/) { return S_OK; }
inline void CoUninitialize() {}

// Creates a client, server or address object (the class ids above; the interface id
// must match, else E_NOINTERFACE; an unknown class gives 0x80040154).
HRESULT CoCreateInstance(REFCLSID rclsid, void* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);
