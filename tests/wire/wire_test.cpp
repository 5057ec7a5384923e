#include "client/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// A heap buffer of exactly `size` bytes, so a read past its end is caught.
std::unique_ptr<std::uint8_t[]> ExactBuffer(std::size_t size, std::uint8_t fill)
{
    auto buf = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
    std::memset(buf.get(), fill, size == 0 ? 1 : size);
    return buf;
}

TEST(WireRecognition, SizesDecideTheRecord)
{
    struct Case { std::size_t size; WirePacketKind kind; };
    const Case cases[] = {{0, WIRE_IGNORED}, {1, WIRE_IGNORED}, {2, WIRE_EVENT}, {19, WIRE_EVENT},
                          {20, WIRE_STATUS}, {21, WIRE_EVENT}, {81, WIRE_EVENT}, {82, WIRE_EVENT},
                          {83, WIRE_EVENT}, {300, WIRE_EVENT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        auto buf = ExactBuffer(c.size, 0xA5);
        buf[0] = 2;  // looks like a projectile kind whatever the size
        EXPECT_EQ(ClassifyPacket(c.size), c.kind);

        StatusPacket s;
        std::memset(&s, 0x11, sizeof s);
        EXPECT_EQ(ReadStatusPacket(buf.get(), c.size, &s), c.kind == WIRE_STATUS);
        if (c.kind == WIRE_STATUS) {
            EXPECT_EQ(std::memcmp(&s, buf.get(), 20), 0);
        }

        EventPacket e;
        std::memset(&e, 0x11, sizeof e);
        const bool isEvent = ReadEventPacket(buf.get(), c.size, &e);
        EXPECT_EQ(isEvent, c.kind == WIRE_EVENT);
        if (isEvent) {
            const std::size_t n = c.size < 82 ? c.size : 82;
            EXPECT_EQ(std::memcmp(&e, buf.get(), n), 0);
            for (std::size_t i = n; i < 82; ++i) {
                EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&e)[i], 0) << i;
            }
        }
    }
}

TEST(WireRecognition, TwentyBytesIsAlwaysStatusWhateverTheFirstByte)
{
    std::uint8_t raw[20] = {2, 9};
    EXPECT_EQ(ClassifyPacket(sizeof raw), WIRE_STATUS);
    EventPacket e;
    EXPECT_FALSE(ReadEventPacket(raw, sizeof raw, &e));
    EXPECT_FALSE(ReadStatusPacket(nullptr, 20, nullptr));
}

TEST(WireLayout, StatusPacketBytesAreLittleEndian)
{
    StatusPacket p = MakeStatusPacket(4, 3, 1.0f, -2.0f, 0.5f, 2939.6f);
    std::uint8_t raw[20];
    std::memcpy(raw, &p, 20);
    EXPECT_EQ(raw[0], 4);
    EXPECT_EQ(raw[1], 3);
    EXPECT_EQ(raw[2], 0);
    EXPECT_EQ(raw[3], 0);
    const std::uint8_t one[4] = {0x00, 0x00, 0x80, 0x3F};
    const std::uint8_t minusTwo[4] = {0x00, 0x00, 0x00, 0xC0};
    EXPECT_EQ(std::memcmp(raw + 4, one, 4), 0);
    EXPECT_EQ(std::memcmp(raw + 8, minusTwo, 4), 0);
}

TEST(WireLayout, RefusalIsTypeZeroVessel255AllZero)
{
    StatusPacket p = MakeStatusPacket(STATUS_CONFIGURATION, VESSEL_NONE, 0, 0, 0, 0);
    std::uint8_t raw[20];
    std::memcpy(raw, &p, 20);
    EXPECT_EQ(raw[0], 0);
    EXPECT_EQ(raw[1], 255);
    for (int i = 2; i < 20; ++i) {
        EXPECT_EQ(raw[i], 0);
    }
    EXPECT_FALSE(IsVesselIndex(VESSEL_NONE));
    EXPECT_FALSE(IsVesselIndex(8));
    EXPECT_TRUE(IsVesselIndex(7));
}

TEST(WireChat, LongLinesAreCutTo79AndNul)
{
    const std::string eighty(80, 'x');
    EventPacket p = MakeChatPacket(5, eighty.c_str());
    EXPECT_EQ(p.Kind, EVENT_CHAT);
    EXPECT_EQ(p.Vessel, 5);
    EXPECT_EQ(p.Payload[78], 'x');
    EXPECT_EQ(p.Payload[79], 0);
    char text[81];
    EXPECT_EQ(ReadChatText(p, text), 79u);
    EXPECT_EQ(std::string(text), std::string(79, 'x'));

    EventPacket shortLine = MakeChatPacket(0, "hello");
    EXPECT_EQ(ReadChatText(shortLine, text), 5u);
    EXPECT_STREQ(text, "hello");
    for (std::size_t i = 5; i < 80; ++i) {
        EXPECT_EQ(shortLine.Payload[i], 0);
    }

    EventPacket empty = MakeChatPacket(0, nullptr);
    EXPECT_EQ(ReadChatText(empty, text), 0u);
}

TEST(WireChat, TextWithoutNulStopsAtEightyBytes)
{
    std::uint8_t raw[82];
    raw[0] = EVENT_CHAT;
    raw[1] = 1;
    std::memset(raw + 2, 'y', 80);
    EventPacket p;
    ASSERT_TRUE(ReadEventPacket(raw, sizeof raw, &p));
    char text[81];
    EXPECT_EQ(ReadChatText(p, text), 80u);
    EXPECT_EQ(std::string(text), std::string(80, 'y'));
}

TEST(WireProjectile, RecordSitsAtPacketOffsetTwo)
{
    ProjectileRecord r{{1, 2, 3}, {4, 5, 6}, 1234.5f};
    EventPacket p = MakeProjectilePacket(6, r);
    std::uint8_t raw[82];
    std::memcpy(raw, &p, 82);
    EXPECT_EQ(raw[0], EVENT_PROJECTILE);
    EXPECT_EQ(raw[1], 6);
    float f;
    std::memcpy(&f, raw + 2, 4);
    EXPECT_EQ(f, 1.0f);
    std::memcpy(&f, raw + 14, 4);
    EXPECT_EQ(f, 4.0f);
    std::memcpy(&f, raw + 26, 4);
    EXPECT_EQ(f, 1234.5f);
    for (int i = 30; i < 82; ++i) {
        EXPECT_EQ(raw[i], 0);
    }
    ProjectileRecord back = ReadProjectile(p);
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
}

}  // namespace

namespace {

// Both sessions are found by these identifiers; the server and the view program
// use the same bytes, so a changed digit means no session is ever found.
TEST(WireIdentifiers, ApplicationGuidsOfBothSessions)
{
    const GUID server = {0x1AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};
    const GUID peer = {0x2AD4CA3B, 0xAC68, 0x4D9B, {0x95, 0x22, 0xBE, 0x59, 0xCD, 0x48, 0x52, 0x76}};
    EXPECT_EQ(ServerApplicationGuid, server);
    EXPECT_EQ(PeerApplicationGuid, peer);
    // Stored little-endian: the first byte of each is what tells them apart.
    const auto* s = reinterpret_cast<const std::uint8_t*>(&ServerApplicationGuid);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&PeerApplicationGuid);
    EXPECT_EQ(s[3], 0x1A);
    EXPECT_EQ(p[3], 0x2A);
    EXPECT_EQ(std::memcmp(s + 4, p + 4, 12), 0);
}

}  // namespace
