#pragma once
// The local session for at most two view programs: hosting, and the handler of
// their messages (joining, leaving, registration with its slot and the initial
// state, and the reports of the view that flies the own vessel). Sending to them is
// SendToPeer of the session objects.
#include "client/session_objects.h"

// Hosts the local session on the loopback interface; on success SessionOnline
// becomes 1 unless the server session ended meanwhile.
HRESULT HostSession();

// PeerMessageHandler, the handler of DirectPlayServer, is declared with the session
// objects; it always returns S_OK.
