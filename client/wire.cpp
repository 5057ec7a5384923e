#include "client/wire.h"

#include <algorithm>
#include <cstring>

const GUID ServerApplicationGuid = {0x1AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};
const GUID PeerApplicationGuid = {0x2AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};

WirePacketKind ClassifyPacket(std::size_t size)
{
    if (size == STATUS_PACKET_SIZE) return WIRE_STATUS;
    if (size < 2) return WIRE_IGNORED;
    return WIRE_EVENT;
}

bool ReadStatusPacket(const void* data, std::size_t size, StatusPacket* out)
{
    if (data == nullptr || out == nullptr || ClassifyPacket(size) != WIRE_STATUS) return false;
    std::memcpy(out, data, STATUS_PACKET_SIZE);
    return true;
}

bool ReadEventPacket(const void* data, std::size_t size, EventPacket* out)
{
    if (data == nullptr || out == nullptr || ClassifyPacket(size) != WIRE_EVENT) return false;
    const std::size_t n = std::min(size, EVENT_PACKET_SIZE);
    std::memset(out, 0, sizeof(EventPacket));
    std::memcpy(out, data, n);
    return true;
}

StatusPacket MakeStatusPacket(std::uint8_t type, std::uint8_t vessel, float x, float y, float z, float w)
{
    StatusPacket p{};
    p.Type = type;
    p.Vessel = vessel;
    p.X = x;
    p.Y = y;
    p.Z = z;
    p.W = w;
    return p;
}

EventPacket MakeChatPacket(std::uint8_t vessel, const char* text)
{
    EventPacket p{};
    p.Kind = EVENT_CHAT;
    p.Vessel = vessel;
    if (text != nullptr) {
        std::size_t n = 0;
        while (n < CHAT_TEXT_MAX && text[n] != '\0') ++n;
        std::memcpy(p.Payload, text, n);
        p.Payload[n] = 0;
    }
    return p;
}

std::size_t ReadChatText(const EventPacket& packet, char (&out)[EVENT_PAYLOAD_SIZE + 1])
{
    std::size_t n = 0;
    while (n < EVENT_PAYLOAD_SIZE && packet.Payload[n] != 0) ++n;
    std::memcpy(out, packet.Payload, n);
    out[n] = '\0';
    return n;
}

EventPacket MakeProjectilePacket(std::uint8_t vessel, const ProjectileRecord& record)
{
    EventPacket p{};
    p.Kind = EVENT_PROJECTILE;
    p.Vessel = vessel;
    std::memcpy(p.Payload, &record, PROJECTILE_RECORD_SIZE);
    return p;
}

ProjectileRecord ReadProjectile(const EventPacket& packet)
{
    ProjectileRecord r;
    std::memcpy(&r, packet.Payload, PROJECTILE_RECORD_SIZE);
    return r;
}
