#pragma once
// The console client's side of the universe server's session: the handler of
// everything the server sends. The session objects, finding and joining the server
// and sending are in session_objects.
#include "client/session_objects.h"

#include <cstddef>

// Handler of DirectPlayClient (declared with the session objects):
// ServerMessageHandler. Its received-data part, for a buffer of the given size: 20
// bytes are a StatusPacket, any other size an EventPacket of which at most 82 bytes
// are read. Returns E_FAIL for a refused configuration, else S_OK.
HRESULT HandleServerData(const void* data, std::size_t size);
