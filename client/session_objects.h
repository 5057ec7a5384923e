#pragma once
// The console client's two sessions beneath both message handlers: the client
// object of the universe server's session and the host object of the local
// session, the addresses, finding and joining the server, and sending on either
// session. The handlers themselves live in server_link (server) and session_host
// (local session).
#include "common/host_list.h"
#include "platform/net/dplay8.h"

#include <atomic>
#include <cstdint>

// Host name of the universe server, compiled in.
extern const WCHAR* const DefaultServerHost;

// Build number of this console client, and its date in the banner.
constexpr float CLIENT_BUILD = 142.0f;
inline constexpr const char* CLIENT_BUILD_DATE = "11/01/2002";

extern IDirectPlay8Client* DirectPlayClient;  // server session; handler ServerMessageHandler
extern IDirectPlay8Server* DirectPlayServer;  // local session; handler PeerMessageHandler
extern IDirectPlay8Address* DeviceAddress;
extern IDirectPlay8Address* RemoteAddress;

// Set by the server handler: the server announced its shut-down or the session
// ended (ends the start-up wait; keeps SessionOnline at 0 when it comes while the
// local session is being set up), or the configuration was refused.
extern std::atomic<std::int32_t> ServerSessionEnded;
extern std::atomic<std::int32_t> ConfigurationRefused;

// The handlers the two objects are initialised with (server_link, session_host).
HRESULT ServerMessageHandler(PVOID context, DWORD messageId, PVOID message);
HRESULT PeerMessageHandler(PVOID context, DWORD messageId, PVOID message);

// Set-up, in the order start-up calls them. Each prints its own failure line and
// returns the failing result.
HRESULT InitDirectPlay();
bool ValidateServiceProvider();
HRESULT CreateDeviceAddress();
HRESULT CreateHostAddress(const WCHAR* host);
HRESULT EnumDirectPlayHosts();
HRESULT ConnectToSession();

// Every message to the server goes through here. A non-zero time-out gets half the
// measured round trip added.
HRESULT SendToServer(const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs);

// Sends to one view program, or to every attached one with dpnid 0. Sends nothing
// while SessionOnline is 0.
HRESULT SendToPeer(DPNID dpnid, const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs);

// What the handlers need of the two sessions and the process. The session-backed
// set is installed at start; tests install their own.
struct ClientSessionHooks {
    // One buffer on the server session (flags DPNSEND_*); a negative result is a failure.
    HRESULT (*sendToServer)(const void* data, DWORD size, DWORD timeoutMs, DWORD flags) = nullptr;
    // One buffer to a view program, or to all with dpnid 0.
    HRESULT (*sendToPeer)(DPNID dpnid, const void* data, DWORD size, DWORD timeoutMs, DWORD flags) = nullptr;
    // Round trip of the server connection in ms; 0 when unknown.
    DWORD (*serverRoundTripMs)() = nullptr;
    // Ends the process at once from a handler thread (status 0).
    void (*endProcess)() = nullptr;
};
void SetClientSessionHooks(const ClientSessionHooks& hooks);
ClientSessionHooks GetClientSessionHooks();
ClientSessionHooks SessionBackedHooks();

// Round trip of the server connection in ms through the hooks.
DWORD ServerRoundTrip();

// Ends the process at once from a handler thread (status 0) through the hooks; the
// session-backed one closes the local session's host object, the log and the
// console and does not return or run destructors.
void EndProcessFromHandler();
