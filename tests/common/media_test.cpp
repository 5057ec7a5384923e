#include "common/media.h"
#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fs::current_path();
        fs::current_path(scratch_.Path());
    }
    void TearDown() override { fs::current_path(saved_); }
    static void Touch(const std::string& p)
    {
        if (fs::path(p).has_parent_path()) fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p) << "x";
    }
    std::string Here() const { return fs::current_path().string(); }

    testsupport::ScratchFolder scratch_;
    fs::path saved_;
    char path_[MAX_PATH];
};

TEST_F(MediaTest, MediaFolderIsTextures) { EXPECT_STREQ(MediaFolder(), "Textures\\"); }

TEST_F(MediaTest, FullPathIsTriedFirst)
{
    Touch("data/Meshes/sphere.DAW");
    Touch("sphere.daw");
    EXPECT_EQ(LocateMediaFile(path_, "DATA\\meshes\\Sphere.daw"), S_OK);
    EXPECT_EQ(std::string(path_), Here() + "/data/Meshes/sphere.DAW");
}

TEST_F(MediaTest, BareNameInCurrentFolderIsSecond)
{
    Touch("Sky.DDS");
    Touch("Textures/sky.dds");
    EXPECT_EQ(LocateMediaFile(path_, "elsewhere\\SKY.dds"), S_OK);
    EXPECT_STREQ(path_, "Sky.DDS");
}

TEST_F(MediaTest, MediaFolderIsThirdWithMixedCase)
{
    Touch("textures/Weapons/weapon1.dds");
    Touch("textures/Explosion.dds");
    EXPECT_EQ(LocateMediaFile(path_, "EXPLOSION.DDS"), S_OK);
    EXPECT_STREQ(path_, "textures/Explosion.dds");
    // Only the bare name goes into the media folder, not its sub-folders.
    EXPECT_EQ(LocateMediaFile(path_, "Weapons\\weapon1.dds"), E_FAIL);
    EXPECT_STREQ(path_, "Weapons\\weapon1.dds");
    // The full path finds the sub-folder.
    EXPECT_EQ(LocateMediaFile(path_, "Textures\\weapons\\WEAPON1.dds"), S_OK);
    EXPECT_EQ(std::string(path_), Here() + "/textures/Weapons/weapon1.dds");
}

TEST_F(MediaTest, NotFoundReturnsTheNameUnchanged)
{
    EXPECT_EQ(LocateMediaFile(path_, "Textures\\nothing.dds"), E_FAIL);
    EXPECT_STREQ(path_, "Textures\\nothing.dds");
    // A folder is not a media file.
    fs::create_directory("Textures");
    fs::create_directory("Textures/dir.dds");
    EXPECT_EQ(LocateMediaFile(path_, "dir.dds"), E_FAIL);
    // A name ending in a separator has no file part: only the full path is probed.
    EXPECT_EQ(LocateMediaFile(path_, "Textures\\"), E_FAIL);
    EXPECT_STREQ(path_, "Textures\\");
}

TEST_F(MediaTest, BadArgumentsAndOverlongNames)
{
    EXPECT_EQ(LocateMediaFile(nullptr, "a.dds"), E_INVALIDARG);
    EXPECT_EQ(LocateMediaFile(path_, nullptr), E_INVALIDARG);
    // Longer than the caller's buffer: not found, and the copy is cut to fit.
    std::string longName(400, 'n');
    EXPECT_EQ(LocateMediaFile(path_, longName.c_str()), E_FAIL);
    EXPECT_EQ(std::strlen(path_), MAX_PATH - 1);
    // A file whose full path is too long is still found by its bare name.
    std::string deep = std::string(150, 'd') + "/" + std::string(150, 'e');
    Touch(deep + "/Tex.dds");
    Touch("Tex.dds");
    EXPECT_EQ(LocateMediaFile(path_, (deep + "/Tex.dds").c_str()), S_OK);
    EXPECT_STREQ(path_, "Tex.dds");
    // Beyond what the absolute-path buffer holds: not found.
    std::string huge(1100, 'h');
    EXPECT_EQ(LocateMediaFile(path_, huge.c_str()), E_FAIL);
}

}  // namespace
