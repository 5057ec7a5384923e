#pragma once
// The local session for at most two view programs: hosting, sending to them, and
// the handler of their messages (joining, leaving, registration with its slot and
// the initial state, and the reports of the view that flies the own vessel).
#include "platform/net/dplay8.h"

// Hosts the local session; on success SessionOnline becomes 1 unless the server
// session ended meanwhile.
HRESULT HostSession();

// Sends to one view program, or to every attached one with dpnid 0. Sends nothing
// while SessionOnline is 0.
HRESULT SendToPeer(DPNID dpnid, const void* buffer, DWORD size, bool guaranteed, DWORD timeoutMs);

// Handler of DirectPlayServer; always S_OK.
HRESULT PeerMessageHandler(PVOID context, DWORD messageId, PVOID message);
