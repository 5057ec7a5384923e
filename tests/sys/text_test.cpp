#include "platform/sys/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(Utf8Test, EncodesEveryLengthAndReplacesWhatHasNoForm)
{
    std::string out;
    for (char32_t cp : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) AppendUtf8(out, cp);
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    out.clear();
    AppendUtf8(out, 0xD800);
    AppendUtf8(out, 0x110000);
    EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
    // Every code point survives the round trip.
    for (char32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x1000 ? 1 : 0x3F)) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        out.clear();
        AppendUtf8(out, cp);
        char32_t back = 0;
        ASSERT_EQ(DecodeUtf8Char(out.data(), out.size(), &back), static_cast<int>(out.size()))
            << static_cast<unsigned>(cp);
        ASSERT_EQ(back, cp);
        ASSERT_EQ(Utf8SequenceLength(static_cast<unsigned char>(out[0])), static_cast<int>(out.size()));
    }
}

TEST(Utf8Test, BrokenSequencesDecodeToNothing)
{
    struct Case {
        const char* bytes;
        std::size_t len;
    };
    const Case broken[] = {
        {"\x80", 1},                 // continuation byte first
        {"\xC0\xAF", 2},             // overlong '/'
        {"\xC1\xBF", 2},             // overlong
        {"\xE0\x80\xAF", 3},         // overlong in three
        {"\xF0\x80\x80\xAF", 4},     // overlong in four
        {"\xED\xA0\x80", 3},         // surrogate
        {"\xF4\x90\x80\x80", 4},     // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 4},     // no such lead
        {"\xFF", 1},
        {"\xC3", 1},                 // cut short by the end
        {"\xE2\x82", 2},
        {"\xC3" "A", 2},             // cut short by a byte that does not continue it
        {"", 0},
    };
    for (const Case& c : broken) {
        char32_t cp = 0;
        EXPECT_EQ(DecodeUtf8Char(c.bytes, c.len, &cp), 0) << c.len;
        EXPECT_EQ(cp, kReplacementCharacter);
    }
    EXPECT_EQ(Utf8SequenceLength(0x80), 0);
    EXPECT_EQ(Utf8SequenceLength(0xC1), 0);
    EXPECT_EQ(Utf8SequenceLength(0xF5), 0);
    EXPECT_TRUE(IsUtf8Continuation(0xBF));
    EXPECT_FALSE(IsUtf8Continuation(0xC0));
    EXPECT_FALSE(IsUtf8Continuation('A'));
    // Only the first character is looked at.
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8Char("\xC3\xA9\xFF", 3, &cp), 2);
    EXPECT_EQ(cp, U'\u00E9');
}

TEST(Utf8Test, WholeTextIsAllOrNothing)
{
    std::u32string points;
    EXPECT_TRUE(DecodeUtf8("a\xC3\xA9\xE2\x82\xAC", &points));
    EXPECT_EQ(points, U"a\u00E9\u20AC");
    points.clear();
    EXPECT_TRUE(DecodeUtf8("", &points));
    EXPECT_TRUE(points.empty());
    // A genuine U+FFFD is well-formed.
    EXPECT_TRUE(DecodeUtf8("\xEF\xBF\xBD", &points));
    EXPECT_EQ(points, U"\uFFFD");
    points.clear();
    EXPECT_FALSE(DecodeUtf8("ab\xE9", &points));
    EXPECT_FALSE(DecodeUtf8("\xC3", &points));
    EXPECT_FALSE(DecodeUtf8("x\xED\xBF\xBFy", &points));
}

TEST(Utf8Test, Utf16PairsSurrogatesAndReplacesLoneOnes)
{
    EXPECT_EQ(Utf16ToUtf8(u"host-\u00E9\u4E2D"), "host-\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xD83D};
    EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 5)), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD");
    // Reversed pair: two lone surrogates.
    const char16_t reversed[] = {0xDE00, 0xD83D};
    EXPECT_EQ(Utf16ToUtf8(std::u16string_view(reversed, 2)), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u""), "");

    EXPECT_EQ(Utf8ToUtf16("127.0.0.1"), u"127.0.0.1");
    EXPECT_EQ(Utf8ToUtf16("\xC3\xA9\xF0\x9F\x98\x80"), u"\u00E9\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xF4\x8F\xBF\xBFz")), "a\xF4\x8F\xBF\xBFz");
    // Each byte that starts no character becomes one U+FFFD; what follows is kept.
    EXPECT_EQ(Utf8ToUtf16("\xC3" "A"), u"\uFFFDA");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("ok\xE2\x82"), u"ok\uFFFD\uFFFD");
}

}  // namespace
