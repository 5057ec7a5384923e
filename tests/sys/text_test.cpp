#include "platform/sys/text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CodePageTest, Windows1252MapsBothWaysIncludingTheHighBlock)
{
    // Every byte survives the round trip.
    for (int b = 1; b < 256; ++b) {
        char in[2] = {static_cast<char>(b), 0};
        WCHAR wide[2] = {};
        char back[2] = {};
        ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, in, -1, wide, 2), 2) << b;
        ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, back, 2, nullptr, nullptr), 2) << b;
        EXPECT_EQ(static_cast<unsigned char>(back[0]), b);
    }
    EXPECT_EQ(Windows1252ToUnicode(0x80), u'\u20AC');
    EXPECT_EQ(Windows1252ToUnicode(0x9F), u'\u0178');
    EXPECT_EQ(Windows1252ToUnicode(0x8D), u'\u008D');
    EXPECT_EQ(Windows1252ToUnicode(0xE9), u'\u00E9');
    EXPECT_EQ(UnicodeToWindows1252(u'\u2122'), 0x99);
    EXPECT_EQ(UnicodeToWindows1252(u'\u0100'), -1);
}

TEST(CodePageTest, CountsAndTooSmallBuffers)
{
    const char* text = "abc\x80";
    // Size query: with the terminator when the length is -1.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), 5);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 4, nullptr, 0), 4);
    // Exactly enough.
    WCHAR wide[8];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 5), 5);
    EXPECT_EQ(wide[3], u'\u20AC');
    EXPECT_EQ(wide[4], 0);
    EXPECT_EQ(wide[5], u'#');
    // One short: fails, what fits is written, nothing beyond.
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 4), 0);
    EXPECT_EQ(wide[2], u'c');
    EXPECT_EQ(wide[3], u'\u20AC');
    EXPECT_EQ(wide[4], u'#');

    char narrow[8];
    std::memset(narrow, '#', sizeof narrow);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"xyz", -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"xyz", -1, narrow, 3, nullptr, nullptr), 0);
    EXPECT_EQ(narrow[2], 'z');
    EXPECT_EQ(narrow[3], '#');

    // Bad arguments.
    EXPECT_EQ(MultiByteToWideChar(65001, 0, text, -1, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -2, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 8), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"x", 0, narrow, 8, nullptr, nullptr), 0);
}

TEST(CodePageTest, UnmappableCharactersUseTheDefault)
{
    char out[8] = {};
    BOOL used = TRUE;
    EXPECT_EQ(WideCharToMultiByte(CP_WINDOWS_1252, 0, u"a\u0100\u20AC", -1, out, 8, nullptr, &used), 4);
    EXPECT_STREQ(out, "a?\x80");
    EXPECT_EQ(used, TRUE);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u4E2D", -1, out, 8, "*", &used), 3);
    EXPECT_STREQ(out, "a*");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"plain", -1, out, 8, nullptr, &used), 6);
    EXPECT_EQ(used, FALSE);
}

}  // namespace
