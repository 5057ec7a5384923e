#pragma once
// Helpers shared by the address and session code.
#include <cstdint>
#include <string>

#include "platform/net/dplay8.h"
#include "platform/sys/text.h"

namespace netimpl {

// The "hostname" component as UTF-8; false when there is none.
bool AddressHostname(const IDirectPlay8Address* address, std::string* host);
// The "port" component; false when there is none or it is out of range.
bool AddressPort(const IDirectPlay8Address* address, std::uint16_t* port);
// True when the address names the UDP/IP service provider.
bool AddressIsIp(const IDirectPlay8Address* address);
// A new address with the provider, "hostname" and "port".
IDirectPlay8Address* MakeAddress(const std::string& host, std::uint16_t port);

}  // namespace netimpl
