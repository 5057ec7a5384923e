#include "platform/sys/registry.h"
#include "platform/sys/registry_test_hooks.h"
#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("XDG_CONFIG_HOME", scratch_.Path().c_str(), 1);
        ResetRegistryCorruptionReport();
        SetRegistryBeforeRenameHook(nullptr);
    }
    void TearDown() override { SetRegistryBeforeRenameHook(nullptr); }

    std::string StoreFile() const { return scratch_.Path() + "/meridax/registry"; }

    HKEY Create(const char* name, REGSAM access = KEY_ALL_ACCESS)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, name, 0, nullptr, 0, access, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    static LSTATUS SetDword(HKEY key, const char* name, DWORD v)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }

    static DWORD GetDword(HKEY key, const char* name, LSTATUS* status = nullptr)
    {
        DWORD v = 0xDEADBEEF, size = 4, type = 0;
        LSTATUS st = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
        if (status) *status = st;
        return v;
    }

    testsupport::ScratchFolder scratch_;
};

TEST_F(RegistryTest, ValuesKeepTypeAndBytesAcrossHandles)
{
    DWORD disposition = 0;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Meridax Industries", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const char text[] = "hello\xE9";
    const BYTE blob[5] = {0, 1, 0xFF, 0, 7};
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "IVR", 4711), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Another handle, names in other letter case.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "MERIDAX industries", 0, nullptr, 0, KEY_READ, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    char buf[32] = {};
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "name", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(std::memcmp(buf, text, sizeof text), 0);

    LSTATUS st = 0;
    EXPECT_EQ(GetDword(key, "ivr", &st), 4711u);
    EXPECT_EQ(st, ERROR_SUCCESS);

    BYTE out[8] = {};
    size = sizeof out;
    ASSERT_EQ(RegQueryValueExA(key, "Blob", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);

    size = 99;
    EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    RegCloseKey(key);
    EXPECT_TRUE(fs::exists(StoreFile()));
}

TEST_F(RegistryTest, OverwriteChangesTypeAndSize)
{
    HKEY key = Create("K");
    ASSERT_EQ(SetDword(key, "V", 1), ERROR_SUCCESS);
    const BYTE two[2] = {9, 8};
    ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, two, 2), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "V", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 2u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, TooSmallBufferFailsAndLeavesItUntouched)
{
    HKEY key = Create("K");
    const char text[] = "twelve chars";
    ASSERT_EQ(RegSetValueExA(key, "T", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    DWORD size = sizeof buf, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "T", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(type, REG_SZ);
    for (char c : buf) EXPECT_EQ(c, 'x');

    // Exactly the size fits.
    char exact[sizeof text];
    size = sizeof exact;
    EXPECT_EQ(RegQueryValueExA(key, "T", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size), ERROR_SUCCESS);
    EXPECT_STREQ(exact, text);

    // A DWORD read of a longer value fails too.
    LSTATUS st = 0;
    EXPECT_EQ(GetDword(key, "T", &st), 0xDEADBEEFu);
    EXPECT_EQ(st, ERROR_MORE_DATA);
    RegCloseKey(key);
}

TEST_F(RegistryTest, MissingValuesKeysAndBadHandles)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Nowhere", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);

    key = Create("Somewhere\\Deeper");
    LSTATUS st = 0;
    EXPECT_EQ(GetDword(key, "Missing", &st), 0xDEADBEEFu);
    EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);

    // The parent exists, and a relative open finds the child.
    HKEY parent = nullptr, child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "somewhere", 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "X", 5), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent, "DEEPER", 0, KEY_READ, &child), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(child, "x"), 5u);

    // A read-only handle cannot write.
    EXPECT_EQ(SetDword(child, "X", 6), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetDword(key, "X"), 5u);

    // Closed and made-up handles are refused, never dereferenced.
    ASSERT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetDword(child, "X", &st), 0xDEADBEEFu);
    EXPECT_EQ(st, ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(reinterpret_cast<HKEY>(0x1234567), "X", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetDword(nullptr, "X", &st), 0xDEADBEEFu);
    EXPECT_EQ(st, ERROR_INVALID_HANDLE);

    // Parameter checks.
    DWORD v = 0;
    EXPECT_EQ(RegQueryValueExA(key, "X", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(parent);
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnusableStoreFolderFailsCreateAndWrite)
{
    // A plain file where the store's folder should be.
    std::string blocked = scratch_.Path() + "/blocked";
    fs::create_directory(blocked);
    { std::ofstream(blocked + "/meridax") << "not a folder"; }
    ::setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(key, nullptr);
    EXPECT_NE(SetDword(HKEY_CURRENT_USER, "V", 1), ERROR_SUCCESS);
    LSTATUS st = 0;
    GetDword(HKEY_CURRENT_USER, "V", &st);
    EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, FallsBackToHomeConfigWhenXdgIsUnsetOrRelative)
{
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", scratch_.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "V", 3), ERROR_SUCCESS);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(GetDword(HKEY_CURRENT_USER, "V"), 3u);
    EXPECT_TRUE(fs::exists(scratch_.Path() + "/.config/meridax/registry"));
    ::setenv("HOME", savedHome.c_str(), 1);
}

// Ends the writing process between the finished temporary file and the rename.
void DieBeforeRename(const char*) { ::_exit(0); }

TEST_F(RegistryTest, CrashBetweenWriteAndRenameKeepsTheOldValue)
{
    HKEY key = Create("K");
    ASSERT_EQ(SetDword(key, "V", 1), ERROR_SUCCESS);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetRegistryBeforeRenameHook(DieBeforeRename);
        SetDword(key, "V", 2);
        ::_exit(3);  // not reached when the hook fires
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(StoreFile() + ".tmp"));  // the unfinished write was left behind

    EXPECT_EQ(GetDword(key, "V"), 1u);
    ASSERT_EQ(SetDword(key, "V", 3), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key, "V"), 3u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DamagedStoreIsReportedOnceMovedAsideAndReadsAsEmpty)
{
    HKEY key = Create("K");
    ASSERT_EQ(SetDword(key, "V", 7), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "W", 8), ERROR_SUCCESS);
    // Cut the file short.
    auto full = fs::file_size(StoreFile());
    fs::resize_file(StoreFile(), full - 5);

    ::testing::internal::CaptureStderr();
    LSTATUS st = 0;
    EXPECT_EQ(GetDword(key, "V", &st), 0xDEADBEEFu);
    EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
    GetDword(key, "W", &st);
    EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
    // Damage it again: still reported only once in this process.
    { std::ofstream(StoreFile(), std::ios::binary) << "garbage"; }
    GetDword(key, "W", &st);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("is damaged"), std::string::npos) << err;
    EXPECT_EQ(err.find("is damaged"), err.rfind("is damaged")) << err;

    int aside = 0;
    for (const auto& e : fs::directory_iterator(scratch_.Path() + "/meridax"))
        if (e.path().filename().string().rfind("registry.corrupt-", 0) == 0) ++aside;
    EXPECT_GE(aside, 1);
    EXPECT_FALSE(fs::exists(StoreFile()));

    // Writing works again and the key comes back.
    ASSERT_EQ(SetDword(key, "V", 9), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key, "V"), 9u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, FlippedByteInStoreIsDetected)
{
    ASSERT_EQ(SetDword(HKEY_CURRENT_USER, "V", 0x01020304), ERROR_SUCCESS);
    std::string image;
    {
        std::ifstream in(StoreFile(), std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(image.size(), 20u);
    image[image.size() - 8] ^= 0x40;  // inside the value's bytes
    { std::ofstream(StoreFile(), std::ios::binary) << image; }
    ::testing::internal::CaptureStderr();
    LSTATUS st = 0;
    GetDword(HKEY_CURRENT_USER, "V", &st);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing)
{
    HKEY key = Create("Shared");
    constexpr int kWrites = 20;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failures = 0;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
                if (SetDword(key, name.c_str(), static_cast<DWORD>(c * 1000 + i)) != ERROR_SUCCESS) ++failures;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kWrites; ++i) {
            std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
            LSTATUS st = 0;
            EXPECT_EQ(GetDword(key, name.c_str(), &st), static_cast<DWORD>(c * 1000 + i)) << name;
            EXPECT_EQ(st, ERROR_SUCCESS) << name;
        }
    RegCloseKey(key);
}

}  // namespace
