#include "common/registry_values.h"
#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

class RegistryValuesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("XDG_CONFIG_HOME", scratch_.Path().c_str(), 1);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key_); }

    testsupport::ScratchFolder scratch_;
    HKEY key_ = nullptr;
};

TEST_F(RegistryValuesTest, EachTypeRoundTrips)
{
    EXPECT_EQ(RegWriteString(key_, "Name", "Pilot \xE9"), S_OK);
    EXPECT_EQ(RegWriteDword(key_, "IVR", 123456), S_OK);
    EXPECT_EQ(RegWriteFlag(key_, "Flag", TRUE), S_OK);
    const GUID g = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(RegWriteGuid(key_, "Id", g), S_OK);

    char text[32];
    DWORD d = 0;
    BOOL f = FALSE;
    GUID out = GUID_NULL;
    EXPECT_EQ(RegReadString(key_, "Name", text, sizeof text, "dflt"), S_OK);
    EXPECT_STREQ(text, "Pilot \xE9");
    EXPECT_EQ(RegReadDword(key_, "IVR", &d, 1), S_OK);
    EXPECT_EQ(d, 123456u);
    EXPECT_EQ(RegReadFlag(key_, "Flag", &f, FALSE), S_OK);
    EXPECT_EQ(f, TRUE);
    EXPECT_EQ(RegReadGuid(key_, "Id", &out, GUID_NULL), S_OK);
    EXPECT_EQ(out, g);

    // Stored types and sizes: the string keeps its terminator, the flag is a DWORD.
    DWORD type = 0, size = 0;
    RegQueryValueExA(key_, "Name", nullptr, &type, nullptr, &size);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    RegQueryValueExA(key_, "Flag", nullptr, &type, nullptr, &size);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    RegQueryValueExA(key_, "Id", nullptr, &type, nullptr, &size);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 16u);
}

TEST_F(RegistryValuesTest, MissingOrUnfittingValuesGiveTheDefaults)
{
    DWORD d = 99;
    EXPECT_EQ(RegReadDword(key_, "IVR", &d, 1), S_OK);
    EXPECT_EQ(d, 1u);
    BOOL f = TRUE;
    EXPECT_EQ(RegReadFlag(key_, "Flag", &f, FALSE), S_OK);
    EXPECT_EQ(f, FALSE);
    const GUID def = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    GUID g = GUID_NULL;
    EXPECT_EQ(RegReadGuid(key_, "Id", &g, def), S_OK);
    EXPECT_EQ(g, def);

    // Text longer than the buffer gives the default.
    RegWriteString(key_, "Long", "0123456789");
    char text[8];
    EXPECT_EQ(RegReadString(key_, "Long", text, sizeof text, "short"), S_OK);
    EXPECT_STREQ(text, "short");
    // Eleven bytes fit exactly into eleven.
    char exact[11];
    RegReadString(key_, "Long", exact, sizeof exact, "short");
    EXPECT_STREQ(exact, "0123456789");
    // A default longer than the buffer is cut, never overruns it.
    char tiny[4];
    RegReadString(key_, "Missing", tiny, sizeof tiny, "defaulted");
    EXPECT_STREQ(tiny, "def");

    // A value too big for a DWORD gives the default.
    RegWriteGuid(key_, "Guid", def);
    RegReadDword(key_, "Guid", &d, 77);
    EXPECT_EQ(d, 77u);

    // An invalid key reads as defaults and fails on write.
    HKEY bad = reinterpret_cast<HKEY>(0x7777);
    RegReadDword(bad, "IVR", &d, 5);
    EXPECT_EQ(d, 5u);
    EXPECT_EQ(RegWriteDword(bad, "IVR", 3), E_FAIL);
    EXPECT_EQ(RegWriteString(key_, "Name", nullptr), E_FAIL);
}

TEST_F(RegistryValuesTest, TypeIsNotCheckedOnlyTheSize)
{
    // A REG_SZ of exactly 4 bytes reads as a number.
    const char four[4] = {'A', 'B', 'C', '\0'};
    RegSetValueExA(key_, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(four), 4);
    DWORD d = 0;
    RegReadDword(key_, "Text", &d, 1);
    EXPECT_EQ(d, 0x00434241u);
    // Shorter values are zero-extended.
    const BYTE two[2] = {0x34, 0x12};
    RegSetValueExA(key_, "Two", 0, REG_BINARY, two, 2);
    d = 0xFFFFFFFF;
    RegReadDword(key_, "Two", &d, 1);
    EXPECT_EQ(d, 0x1234u);
    // A DWORD read as text: terminated, not overrun.
    RegWriteDword(key_, "Num", 0x00636261);
    char text[8];
    std::memset(text, '#', sizeof text);
    RegReadString(key_, "Num", text, sizeof text, "x");
    EXPECT_STREQ(text, "abc");
    // Text stored without a terminator gets one when there is room ...
    RegSetValueExA(key_, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcd"), 4);
    std::memset(text, '#', sizeof text);
    RegReadString(key_, "Bare", text, sizeof text, "x");
    EXPECT_STREQ(text, "abcd");
    // ... and counts as too long when it fills the buffer.
    char four_buf[4];
    RegReadString(key_, "Bare", four_buf, sizeof four_buf, "no");
    EXPECT_STREQ(four_buf, "no");
}

}  // namespace
