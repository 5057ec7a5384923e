#include "platform/sys/crt.h"
#include "platform/sys/files.h"
#include "platform/sys/paths.h"
#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs a test inside a scratch folder as the current folder.
class InScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fs::current_path();
        fs::current_path(scratch_.Path());
    }
    void TearDown() override { fs::current_path(saved_); }
    static void Touch(const std::string& p, const std::string& contents = "x")
    {
        fs::create_directories(fs::path(p).parent_path().empty() ? "." : fs::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << contents;
    }
    std::string Here() const { return fs::current_path().string(); }

    testsupport::ScratchFolder scratch_;
    fs::path saved_;
};

TEST_F(InScratchDir, ResolvePathMatchesEachLevelIgnoringCase)
{
    Touch("Meshes/sphere.DAW");
    Touch("textures/Weapons/weapon1.dds");
    EXPECT_EQ(ResolvePath("meshes\\SPHERE.daw"), "Meshes/sphere.DAW");
    EXPECT_EQ(ResolvePath("Textures\\weapons\\WEAPON1.DDS"), "textures/Weapons/weapon1.dds");
    EXPECT_EQ(ResolvePath(Here() + "/MESHES/Sphere.daw"), Here() + "/Meshes/sphere.DAW");
    // Exact names win over case-insensitive ones.
    Touch("Textures/a.dds");
    EXPECT_EQ(ResolvePath("Textures\\a.dds"), "Textures/a.dds");
    // Nothing matches: separators mapped, the rest as given.
    EXPECT_EQ(ResolvePath("Textures\\Missing\\x.dds"), "Textures/Missing/x.dds");
    EXPECT_EQ(ResolvePath(""), "");
}

TEST_F(InScratchDir, FullPathNameFoldsDotsAndPointsAtTheName)
{
    char buf[1024];
    char* part = nullptr;
    DWORD n = GetFullPathNameA("Textures\\sub\\..\\.\\Foo.DDS", sizeof buf, buf, &part);
    std::string expect = Here() + "/Textures/Foo.DDS";
    ASSERT_EQ(n, expect.size());
    EXPECT_EQ(std::string(buf), expect);
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part, "Foo.DDS");

    n = GetFullPathNameA("/a//b/../c", sizeof buf, buf, &part);
    EXPECT_STREQ(buf, "/a/c");
    EXPECT_EQ(n, 4u);
    EXPECT_STREQ(part, "c");

    // A folder name ends in a separator and has no name part.
    n = GetFullPathNameA("dir\\", sizeof buf, buf, &part);
    EXPECT_EQ(std::string(buf), Here() + "/dir/");
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameA("/../..", sizeof buf, buf, &part), 1u);
    EXPECT_STREQ(buf, "/");

    // Too small: the size needed with the terminator, nothing written.
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetFullPathNameA("/abc/def", 8, buf, &part), 9u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(GetFullPathNameA("/abc/def", 9, buf, nullptr), 8u);
    EXPECT_EQ(GetFullPathNameA("", sizeof buf, buf, &part), 0u);
    EXPECT_EQ(GetFullPathNameA(nullptr, sizeof buf, buf, &part), 0u);
}

TEST_F(InScratchDir, ReadProbeOpensOnlyExistingFiles)
{
    Touch("Textures/Sky.dds");
    std::string found;
    EXPECT_TRUE(ProbeFileForReading("textures\\SKY.DDS", &found));
    EXPECT_EQ(found, "Textures/Sky.dds");
    EXPECT_FALSE(ProbeFileForReading("textures\\none.dds"));
    EXPECT_FALSE(ProbeFileForReading("Textures"));  // a folder is not a file
    EXPECT_FALSE(ProbeFileForReading(""));
    EXPECT_FALSE(ProbeFileForReading(nullptr));
    if (::geteuid() != 0) {
        fs::permissions("Textures/Sky.dds", fs::perms::none);
        EXPECT_FALSE(ProbeFileForReading("Textures/Sky.dds"));
    }
}

TEST_F(InScratchDir, RuntimeTextModeWritesCrLfInOneWrite)
{
    int fd = crt::Open("Log.TXT", crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_TRUNC_);
    ASSERT_GE(fd, 0);
    const char line[] = "a\nb\n\n";
    EXPECT_EQ(crt::Write(fd, line, 5), 5);
    crt::Close(fd);
    // Reopened by another letter case, binary mode: bytes as stored.
    fd = crt::Open("log.txt", crt::O_RDONLY_ | crt::O_BINARY_);
    ASSERT_GE(fd, 0);
    char buf[16] = {};
    EXPECT_EQ(crt::Read(fd, buf, sizeof buf), 8);
    EXPECT_EQ(std::string(buf, 8), "a\r\nb\r\n\r\n");
    EXPECT_EQ(crt::Seek(fd, 3, crt::SEEK_SET_), 3);
    EXPECT_EQ(crt::Read(fd, buf, 1), 1);
    EXPECT_EQ(buf[0], 'b');
    crt::Close(fd);

    // Binary mode writes the bytes unchanged.
    fd = crt::Open("bin.dat", crt::O_WRONLY_ | crt::O_CREAT_ | crt::O_BINARY_);
    EXPECT_EQ(crt::Write(fd, "\n\n", 2), 2);
    crt::Close(fd);
    EXPECT_EQ(fs::file_size("bin.dat"), 2u);
    EXPECT_EQ(crt::Open("missing.dat", crt::O_RDONLY_), -1);
}

TEST(RuntimeRandomTest, SequenceMatchesTheRuntimeGenerator)
{
    crt::Srand(1);
    EXPECT_EQ(crt::Rand(), 41);
    EXPECT_EQ(crt::Rand(), 18467);
    EXPECT_EQ(crt::Rand(), 6334);
    crt::RandomGenerator g;
    EXPECT_EQ(g.Next(), 41);
    EXPECT_EQ(g.Next(), 18467);
    crt::Srand(1);
    for (int i = 0; i < 1000; ++i) {
        int r = crt::Rand();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, crt::RAND_MAX_);
    }
}

}  // namespace
