#pragma once
// The view program's session objects: the client of the console client's local
// session and its addresses (the answering hosts are in the common host list).
#include "common/host_list.h"
#include "platform/net/dplay8.h"
#include "platform/sys/critical_section.h"
#include "platform/sys/guid.h"

// Names the local session that the console client hosts (defined with the wire
// messages).
extern const GUID PeerApplicationGuid;

extern IDirectPlay8Client* DirectPlayClient;
extern IDirectPlay8Address* DeviceAddress;
extern IDirectPlay8Address* RemoteAddress;

// Set-up, in the order the start-up calls them: InitDirectPlay, CreateDeviceAddress,
// EnumDirectPlayHosts (uses HostAddress), ConnectToSession. Each shows its own
// "Communication Error!" box on failure and returns the failing result.
HRESULT InitDirectPlay();
bool ValidateServiceProvider();
HRESULT CreateDeviceAddress();
HRESULT CreateHostAddress(const WCHAR* host);
HRESULT EnumDirectPlayHosts();
HRESULT ConnectToSession();

// The handler given to the client object; always S_OK.
HRESULT DirectPlayMessageHandler(PVOID context, DWORD messageId, PVOID message);

// Installs the session- and window-backed link hooks (InitDirectPlay does this).
void InstallSessionLinkHooks();
