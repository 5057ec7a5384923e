#pragma once
// The console client's link to the universe server: the two session objects, the
// addresses, the list of answering hosts, and sending to and receiving from the
// server.
#include "platform/net/dplay8.h"
#include "platform/sys/critical_section.h"

#include <atomic>
#include <cstdint>

// Host name of the universe server, compiled in.
extern const WCHAR* const DefaultServerHost;

// Build number of this console client, and its date in the banner.
constexpr float CLIENT_BUILD = 142.0f;
inline constexpr const char* CLIENT_BUILD_DATE = "11/01/2002";

// One answering session of the host enumeration.
struct HostRecord {
    DPN_APPLICATION_DESC* description = nullptr;  // owned copy, pointer fields cleared
    IDirectPlay8Address* address = nullptr;       // owned duplicate of the sender address
    WCHAR* sessionName = nullptr;                 // owned copy; null when the answer had none
    HostRecord* next = nullptr;                   // next older record
};

extern IDirectPlay8Client* DirectPlayClient;  // server session; handler ServerMessageHandler
extern IDirectPlay8Server* DirectPlayServer;  // local session; handler PeerMessageHandler
extern IDirectPlay8Address* DeviceAddress;
extern IDirectPlay8Address* RemoteAddress;
extern HostRecord* HostList;  // newest first
extern CriticalSectionLock HostListLock;

// Set by the server handler: the server announced its shut-down or the session
// ended (ends the start-up wait; keeps SessionOnline at 0 when it comes while the
// local session is being set up), or the configuration was refused.
extern std::atomic<std::int32_t> ServerSessionEnded;
extern std::atomic<std::int32_t> ConfigurationRefused;

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

// Handler of DirectPlayClient.
HRESULT ServerMessageHandler(PVOID context, DWORD messageId, PVOID message);

// A float from the network as an integer: truncated toward zero when finite and
// within [low, high], else 0.
std::int64_t CheckedTruncate(float value, std::int64_t low, std::int64_t high);

// Ends the process at once from a handler thread (status 0): closes the local
// session's host object, the log and the console, without running destructors.
[[noreturn]] void EndProcessFromHandler();

// Stores a reported position of Ships[vessel] (0..7, its ship lock held) and carries
// it forward by interval seconds with IntegrateVesselPosition. When that would leave
// the position or velocity not finite (an interval too long for the vessel's speed),
// the position is kept as reported. Returns the interval applied (0.0 then).
float StoreReportedPosition(std::uint8_t vessel, float x, float y, float z, float interval);

// Whole seconds of application time, for "[%06i] " lines.
int ConsoleSeconds();
