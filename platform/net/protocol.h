#pragma once
// Datagram and message formats of the session layer (all integers little-endian).
//
// Enumeration travels outside ENet on the session's UDP port. Its datagrams begin
// with bytes no ENet datagram for our hosts can begin with (peer id 0xFFE with the
// compressed flag), so the receive hook can tell them apart:
//   query:  magic(5) 'Q' version app-guid(16) nonce(4) stamp(4)                  = 31 bytes
//   answer: magic(5) 'A' version app-guid(16) instance-guid(16) nonce(4) stamp(4)
//           max-players(4) current-players(4) name-units(1) name(UTF-16LE, <= 64 units)
//
// Every ENet message on channel 0 begins with one tag byte:
//   data (non-guaranteed / guaranteed) followed by the application bytes;
//   hello  client->host: version app-guid(16) instance-guid(16) stamp(4)
//   welcome host->client: player-id(4) host-player-id(4) echoed-stamp(4) stamp(4)
//   ready  client->host: echoed-stamp(4)
//   reject host->client: result code(4)
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/sys/guid.h"

namespace netproto {

constexpr std::uint8_t kMagic[5] = {0xCF, 0xFE, 'M', 'D', 'X'};
constexpr std::uint8_t kVersion = 1;
constexpr std::uint8_t kQuery = 'Q';
constexpr std::uint8_t kAnswer = 'A';
constexpr std::size_t kQuerySize = 31;
constexpr std::size_t kAnswerFixedSize = 56;
constexpr std::size_t kMaxNameUnits = 64;

constexpr std::uint8_t kTagData = 0x00;
constexpr std::uint8_t kTagDataGuaranteed = 0x01;
constexpr std::uint8_t kTagHello = 0x10;
constexpr std::uint8_t kTagWelcome = 0x11;
constexpr std::uint8_t kTagReady = 0x12;
constexpr std::uint8_t kTagReject = 0x13;
constexpr std::size_t kHelloSize = 1 + 1 + 16 + 16 + 4;
constexpr std::size_t kWelcomeSize = 1 + 16;
constexpr std::size_t kReadySize = 1 + 4;
constexpr std::size_t kRejectSize = 1 + 4;

// ENet disconnect data: why a connection ended.
constexpr std::uint32_t kByeTimeout = 0;
constexpr std::uint32_t kByeClosed = 1;
constexpr std::uint32_t kByeDropped = 2;
constexpr std::uint32_t kByeRejected = 3;

inline void Put32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint32_t Get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline void PutGuid(std::uint8_t* p, const GUID& g)
{
    Put32(p, g.Data1);
    p[4] = static_cast<std::uint8_t>(g.Data2);
    p[5] = static_cast<std::uint8_t>(g.Data2 >> 8);
    p[6] = static_cast<std::uint8_t>(g.Data3);
    p[7] = static_cast<std::uint8_t>(g.Data3 >> 8);
    std::memcpy(p + 8, g.Data4, 8);
}
inline GUID GetGuid(const std::uint8_t* p)
{
    GUID g;
    g.Data1 = Get32(p);
    g.Data2 = static_cast<std::uint16_t>(p[4] | p[5] << 8);
    g.Data3 = static_cast<std::uint16_t>(p[6] | p[7] << 8);
    std::memcpy(g.Data4, p + 8, 8);
    return g;
}
inline bool HasMagic(const std::uint8_t* p, std::size_t n)
{
    return n >= sizeof kMagic && std::memcmp(p, kMagic, sizeof kMagic) == 0;
}

}  // namespace netproto
