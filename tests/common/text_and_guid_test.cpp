#include "common/guid_text.h"
#include "common/text_convert.h"
#include "common/trace.h"
#include "platform/sys/debug_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TextConvertTest, AnsiToWideAtCountLimits)
{
    WCHAR w[16];
    // -1: the whole string.
    AnsiToWide(w, "Hello\x80", -1);
    EXPECT_EQ(std::u16string(w), u"Hello\u20AC");
    // A capacity smaller than the text: cut, terminated at count - 1.
    std::fill(std::begin(w), std::end(w), u'#');
    AnsiToWide(w, "Hello", 3);
    EXPECT_EQ(std::u16string(w), u"He");
    EXPECT_EQ(w[3], u'#');
    // Capacity 1: only the terminator.
    std::fill(std::begin(w), std::end(w), u'#');
    AnsiToWide(w, "Hello", 1);
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(w[1], u'#');
    // Zero and nonsense counts, null pointers: nothing at all.
    std::fill(std::begin(w), std::end(w), u'#');
    AnsiToWide(w, "Hello", 0);
    AnsiToWide(w, "Hello", -7);
    AnsiToWide(nullptr, "Hello", 5);
    AnsiToWide(w, nullptr, 5);
    TextToWide(w, "Hello", 0);
    EXPECT_EQ(w[0], u'#');
    TextToWide(w, "Hi", 8);
    EXPECT_EQ(std::u16string(w), u"Hi");
}

TEST(TextConvertTest, WideToAnsiAtCountLimits)
{
    char a[16];
    WideToAnsi(a, u"caf\u00E9 \u2122", -1);
    EXPECT_STREQ(a, "caf\xE9 \x99");
    std::memset(a, '#', sizeof a);
    WideToAnsi(a, u"abcdef", 4);
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(a[4], '#');
    WideToAnsi(a, u"\u4E2D", -1);
    EXPECT_STREQ(a, "?");
    std::memset(a, '#', sizeof a);
    WideToText(a, u"abc", 0);
    WideToAnsi(a, u"abc", 0);
    EXPECT_EQ(a[0], '#');
    WideToText(a, u"abc", 16);
    EXPECT_STREQ(a, "abc");
}

TEST(TextConvertTest, TextCopiesPadAndCut)
{
    char a[12];
    std::memset(a, '#', sizeof a);
    TextToAnsi(a, "abcdefgh", 5);
    EXPECT_STREQ(a, "abcd");
    EXPECT_EQ(a[5], '#');
    // A shorter source is padded with zeros up to count.
    std::memset(a, '#', sizeof a);
    AnsiToText(a, "ab", 6);
    EXPECT_EQ(std::memcmp(a, "ab\0\0\0\0#", 7), 0);
    TextToAnsi(a, "whole text", -1);
    EXPECT_STREQ(a, "whole text");
    std::memset(a, '#', sizeof a);
    TextToAnsi(a, "x", 0);
    TextToAnsi(a, "x", -2);
    TextToAnsi(nullptr, "x", 4);
    TextToAnsi(a, nullptr, 4);
    EXPECT_EQ(a[0], '#');
}

std::string g_captured;
void Capture(const char* text) { g_captured += text; }

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_captured.clear();
        SetDebugOutputSink(Capture);
    }
    void TearDown() override { SetDebugOutputSink(nullptr); }
};

TEST_F(TraceTest, HResultLinesEndInABlankLineOnFailure)
{
    EXPECT_EQ(TraceHResult("app.cpp", 42, E_FAIL, "CreateDevice failed"), E_FAIL);
    EXPECT_EQ(g_captured, "app.cpp(42): CreateDevice failed(hr=80004005)\n\n");
    g_captured.clear();
    EXPECT_EQ(TraceHResult("app.cpp", 7, S_OK, "done"), S_OK);
    EXPECT_EQ(g_captured, "app.cpp(7): done\n");
    // A very long file name is cut to the prefix buffer, not overrun.
    g_captured.clear();
    std::string longName(600, 'f');
    TraceHResult(longName.c_str(), 1, S_OK, "m");
    EXPECT_EQ(g_captured, std::string(255, 'f') + "m\n");
}

TEST_F(TraceTest, FormatIsCutAt511Characters)
{
    TraceFormat("%s=%d\n", "x", 5);
    EXPECT_EQ(g_captured, "x=5\n");
    g_captured.clear();
    std::string big(700, 'y');
    TraceFormat("%s", big.c_str());
    EXPECT_EQ(g_captured, std::string(511, 'y'));
}

TEST(GuidTextTest, FormatAndParseRoundTrip)
{
    const GUID g = {0x0123ABCD, 0x00EF, 0xA001, {0x00, 0x0F, 0xF0, 0xFF, 0x10, 0x20, 0x30, 0x4A}};
    char text[GUID_TEXT_SIZE];
    FormatGuid(g, text);
    EXPECT_STREQ(text, "{0123ABCD-00EF-A001-000F-F0FF1020304A}");
    GUID back = GUID_NULL;
    EXPECT_EQ(ParseGuid(text, &back), TRUE);
    EXPECT_EQ(back, g);

    FormatGuid(GUID_NULL, text);
    EXPECT_STREQ(text, "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(std::strlen(text), 38u);

    // Lower case parses; the closing brace is not needed.
    EXPECT_EQ(ParseGuid("{0123abcd-00ef-a001-000f-f0ff1020304a", &back), TRUE);
    EXPECT_EQ(back, g);
}

TEST(GuidTextTest, MalformedTextGivesTheZeroGuid)
{
    const GUID filled = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const char* bad[] = {
        "",
        "0123ABCD-00EF-A001-000F-F0FF1020304A",   // no opening brace
        "{0123ABCD-00EF-A001-000F-F0FF10203}",    // ten fields
        "{0123ABCD:00EF-A001-000F-F0FF1020304A}", // wrong separator
        "{XYZ}",
    };
    for (const char* text : bad) {
        GUID g = filled;
        EXPECT_EQ(ParseGuid(text, &g), FALSE) << text;
        EXPECT_EQ(g, GUID_NULL) << text;
    }
    GUID g = filled;
    EXPECT_EQ(ParseGuid(nullptr, &g), FALSE);
    EXPECT_EQ(g, GUID_NULL);
    EXPECT_EQ(ParseGuid("{0123ABCD-00EF-A001-000F-F0FF1020304A}", nullptr), FALSE);
}

}  // namespace
