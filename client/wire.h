#pragma once
// The two network messages shared by the universe server, the console client and
// the view program. Both are fixed-size little-endian records; a receiver tells
// them apart by the received size alone.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/sys/guid.h"

static_assert(std::endian::native == std::endian::little, "wire records are little-endian");
static_assert(sizeof(float) == 4, "wire floats are IEEE 754 single precision");

// One vessel's state or one control event.
struct StatusPacket {
    std::uint8_t Type;       // 0 to 8, meaning per direction
    std::uint8_t Vessel;     // 0 to 7, or VESSEL_NONE
    std::uint8_t Unused[2];  // never read; relays pass them on
    float X;
    float Y;
    float Z;
    float W;
};

// A chat line (kind 0) or a projectile (kind 2).
struct EventPacket {
    std::uint8_t Kind;
    std::uint8_t Vessel;        // originator
    std::uint8_t Payload[80];
};

// Position, velocity and launch time of a shot: the first 28 payload bytes of a
// kind 2 EventPacket, and the first 28 bytes of the view program's projectile.
struct ProjectileRecord {
    float Position[3];
    float Velocity[3];
    float LaunchTime;  // universe seconds within the hour
};

constexpr std::size_t STATUS_PACKET_SIZE = 20;
constexpr std::size_t EVENT_PACKET_SIZE = 82;
constexpr std::size_t EVENT_PAYLOAD_SIZE = 80;
constexpr std::size_t PROJECTILE_RECORD_SIZE = 28;
constexpr std::size_t CHAT_TEXT_MAX = 79;  // characters before the NUL

static_assert(sizeof(StatusPacket) == STATUS_PACKET_SIZE);
static_assert(offsetof(StatusPacket, Type) == 0);
static_assert(offsetof(StatusPacket, Vessel) == 1);
static_assert(offsetof(StatusPacket, Unused) == 2);
static_assert(offsetof(StatusPacket, X) == 4);
static_assert(offsetof(StatusPacket, Y) == 8);
static_assert(offsetof(StatusPacket, Z) == 12);
static_assert(offsetof(StatusPacket, W) == 16);
static_assert(sizeof(EventPacket) == EVENT_PACKET_SIZE);
static_assert(offsetof(EventPacket, Kind) == 0);
static_assert(offsetof(EventPacket, Vessel) == 1);
static_assert(offsetof(EventPacket, Payload) == 2);
static_assert(sizeof(ProjectileRecord) == PROJECTILE_RECORD_SIZE);
static_assert(offsetof(ProjectileRecord, Velocity) == 12);
static_assert(offsetof(ProjectileRecord, LaunchTime) == 24);

constexpr std::uint8_t VESSEL_COUNT = 8;
constexpr std::uint8_t VESSEL_NONE = 255;  // no vessel: refusal, server full

// StatusPacket types. Meanings differ per direction; the names give the main one.
constexpr std::uint8_t STATUS_CONFIGURATION = 0;   // also the view program's frame report
constexpr std::uint8_t STATUS_PLAYER_ONLINE = 1;
constexpr std::uint8_t STATUS_POSITION = 2;
constexpr std::uint8_t STATUS_SETUP_COMPLETE = 3;  // configuration complete / end of initial state
constexpr std::uint8_t STATUS_VELOCITY = 4;
constexpr std::uint8_t STATUS_PLAYER_OFFLINE = 5;
constexpr std::uint8_t STATUS_ATTITUDE = 6;
constexpr std::uint8_t STATUS_SHUTDOWN = 7;        // also registration and leave notice
constexpr std::uint8_t STATUS_RATES = 8;
constexpr std::uint8_t STATUS_TYPE_LAST = 8;       // higher types are ignored

// EventPacket kinds; every other kind is ignored.
constexpr std::uint8_t EVENT_CHAT = 0;
constexpr std::uint8_t EVENT_PROJECTILE = 2;

// What a received buffer is, judged by its size only.
enum WirePacketKind { WIRE_IGNORED = 0, WIRE_STATUS = 1, WIRE_EVENT = 2 };

// Exactly 20 bytes is a StatusPacket; fewer than 2 bytes is nothing; any other size
// is an EventPacket.
WirePacketKind ClassifyPacket(std::size_t size);

// Copies a received buffer when it is a StatusPacket (size exactly 20).
bool ReadStatusPacket(const void* data, std::size_t size, StatusPacket* out);

// Copies a received buffer when it is an EventPacket: at most the first 82 bytes,
// never past `size`; bytes the buffer lacks are zero.
bool ReadEventPacket(const void* data, std::size_t size, EventPacket* out);

// A StatusPacket with the unused bytes zero.
StatusPacket MakeStatusPacket(std::uint8_t type, std::uint8_t vessel, float x, float y, float z, float w);

// A chat EventPacket: the text cut to 79 characters and a NUL, the rest zero.
EventPacket MakeChatPacket(std::uint8_t vessel, const char* text);

// The text of a chat EventPacket: at most the 80 payload bytes, stopping at the
// first NUL, always NUL-terminated in `out`. Returns the length.
std::size_t ReadChatText(const EventPacket& packet, char (&out)[EVENT_PAYLOAD_SIZE + 1]);

// A projectile EventPacket: the record in the first 28 payload bytes, the rest zero.
EventPacket MakeProjectilePacket(std::uint8_t vessel, const ProjectileRecord& record);
ProjectileRecord ReadProjectile(const EventPacket& packet);

// True for a vessel number that may index the vessel tables.
constexpr bool IsVesselIndex(std::uint8_t vessel) { return vessel < VESSEL_COUNT; }

// Application identifiers of the two sessions: the universe server's session and
// the local session that the console client hosts for its view programs.
extern const GUID ServerApplicationGuid;
extern const GUID PeerApplicationGuid;
