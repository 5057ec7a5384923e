// The DDS reader against hand-made files: each format's known blocks and
// texels, mip levels, damaged and truncated files, a random-mutation run; and
// the texture loader on the headless device.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/gfx/d3dx_texture.h"
#include "platform/gfx/dds_reader.h"
#include "platform/gfx/gl_device.h"
#include "platform/gfx/texture_codec.h"

namespace {

void Put32(std::vector<std::uint8_t>* out, size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*out)[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct PixelFormat {
    std::uint32_t flags, fourCC, bits, r, g, b, a;
};
const PixelFormat kDxt1{0x4, MakeFourCC('D', 'X', 'T', '1'), 0, 0, 0, 0, 0};
const PixelFormat kDxt3{0x4, MakeFourCC('D', 'X', 'T', '3'), 0, 0, 0, 0, 0};
const PixelFormat kDxt5{0x4, MakeFourCC('D', 'X', 'T', '5'), 0, 0, 0, 0, 0};
const PixelFormat kArgb32{0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000};
const PixelFormat kXrgb32{0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
const PixelFormat kAbgr32{0x41, 0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000};
const PixelFormat kRgb565{0x40, 0, 16, 0xF800, 0x07E0, 0x001F, 0};
const PixelFormat kArgb1555{0x41, 0, 16, 0x7C00, 0x03E0, 0x001F, 0x8000};
const PixelFormat kArgb4444{0x41, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000};
const PixelFormat kRgb24{0x40, 0, 24, 0xFF0000, 0xFF00, 0xFF, 0};

std::vector<std::uint8_t> Dds(unsigned w, unsigned h, unsigned mips, const PixelFormat& pf,
                              const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> f(128, 0);
    Put32(&f, 0, 0x20534444);
    Put32(&f, 4, 124);
    Put32(&f, 8, 0x1007 | (mips > 1 ? 0x20000u : 0u));
    Put32(&f, 12, h);
    Put32(&f, 16, w);
    Put32(&f, 28, mips);
    Put32(&f, 76, 32);
    Put32(&f, 80, pf.flags);
    Put32(&f, 84, pf.fourCC);
    Put32(&f, 88, pf.bits);
    Put32(&f, 92, pf.r);
    Put32(&f, 96, pf.g);
    Put32(&f, 100, pf.b);
    Put32(&f, 104, pf.a);
    Put32(&f, 108, 0x1000);
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

DdsImage Read(const std::vector<std::uint8_t>& file) {
    DdsImage image;
    std::string error;
    EXPECT_TRUE(ReadDds(file.data(), file.size(), &image, &error)) << error;
    return image;
}

// DXT1 colour 0 red (0xF800), colour 1 blue (0x001F); rows use indices 0, 1, 2, 3.
const std::vector<std::uint8_t> kFourColourBlock = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF};

TEST(DdsReader, Dxt1FourAndThreeColourModes) {
    DdsImage image = Read(Dds(4, 4, 1, kDxt1, kFourColourBlock));
    ASSERT_EQ(image.format, D3DFMT_DXT1);
    ASSERT_EQ(image.levels.size(), 1u);
    const auto& t = image.levels[0].argb;
    EXPECT_EQ(t[0], 0xFFFF0000u);
    EXPECT_EQ(t[4], 0xFF0000FFu);
    EXPECT_EQ(t[8], 0xFFAA0055u);   // (2 red + blue) / 3
    EXPECT_EQ(t[12], 0xFF5500AAu);  // (red + 2 blue) / 3
    // Colour 0 <= colour 1: index 2 is the mean, index 3 transparent black.
    const std::vector<std::uint8_t> three = {0x1F, 0x00, 0x00, 0xF8, 0x00, 0x55, 0xAA, 0xFF};
    image = Read(Dds(4, 4, 1, kDxt1, three));
    const auto& u = image.levels[0].argb;
    EXPECT_EQ(u[0], 0xFF0000FFu);
    EXPECT_EQ(u[4], 0xFFFF0000u);
    EXPECT_EQ(u[8], 0xFF7F007Fu);
    EXPECT_EQ(u[12], 0x00000000u);
}

TEST(DdsReader, Dxt3ExplicitAndDxt5InterpolatedAlpha) {
    std::vector<std::uint8_t> block(8);
    for (int i = 0; i < 8; ++i) block[static_cast<size_t>(i)] = static_cast<std::uint8_t>((2 * i) | (2 * i + 1) << 4);
    block.insert(block.end(), kFourColourBlock.begin(), kFourColourBlock.end());
    DdsImage image = Read(Dds(4, 4, 1, kDxt3, block));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(image.levels[0].argb[static_cast<size_t>(i)] >> 24, static_cast<unsigned>(i * 17)) << i;
    }
    EXPECT_EQ(image.levels[0].argb[8] & 0xFFFFFF, 0xAA0055u);

    // a0 255 > a1 0: 8 values; texel 0 index 0, 1 index 1, 2 index 2, 3 index 7.
    std::vector<std::uint8_t> five = {255, 0, 0, 0, 0, 0, 0, 0};
    const std::uint64_t bits = 0ull | 1ull << 3 | 2ull << 6 | 7ull << 9;
    for (int i = 0; i < 6; ++i) five[2 + static_cast<size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    five.insert(five.end(), kFourColourBlock.begin(), kFourColourBlock.end());
    image = Read(Dds(4, 4, 1, kDxt5, five));
    const auto& t = image.levels[0].argb;
    EXPECT_EQ(t[0] >> 24, 255u);
    EXPECT_EQ(t[1] >> 24, 0u);
    EXPECT_EQ(t[2] >> 24, 218u);  // (6 x 255 + 0) / 7
    EXPECT_EQ(t[3] >> 24, 36u);   // (255 + 6 x 0) / 7
    // a0 0 <= a1 255: 6 values, then 0 and 255.
    five[0] = 0;
    five[1] = 255;
    image = Read(Dds(4, 4, 1, kDxt5, five));
    EXPECT_EQ(image.levels[0].argb[2] >> 24, 51u);  // (4 x 0 + 255) / 5
    EXPECT_EQ(image.levels[0].argb[3] >> 24, 255u);
}

TEST(DdsReader, UncompressedFormatsByTheirMasks) {
    const std::vector<std::uint8_t> argb = {0x30, 0x20, 0x10, 0x80};  // B G R A
    DdsImage image = Read(Dds(1, 1, 1, kArgb32, argb));
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(image.levels[0].argb[0], 0x80102030u);
    image = Read(Dds(1, 1, 1, kXrgb32, argb));
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(image.levels[0].argb[0], 0xFF102030u);
    image = Read(Dds(1, 1, 1, kAbgr32, argb));
    EXPECT_EQ(image.levels[0].argb[0], 0x80302010u);
    image = Read(Dds(1, 1, 1, kRgb24, {0x30, 0x20, 0x10}));
    EXPECT_EQ(image.levels[0].argb[0], 0xFF102030u);
    image = Read(Dds(2, 1, 1, kRgb565, {0x00, 0xF8, 0xE0, 0x07}));
    EXPECT_EQ(image.format, D3DFMT_R5G6B5);
    EXPECT_EQ(image.levels[0].argb[0], 0xFFFF0000u);
    EXPECT_EQ(image.levels[0].argb[1], 0xFF00FF00u);
    image = Read(Dds(2, 1, 1, kArgb1555, {0x1F, 0x80, 0xE0, 0x03}));
    EXPECT_EQ(image.format, D3DFMT_A1R5G5B5);
    EXPECT_EQ(image.levels[0].argb[0], 0xFF0000FFu);
    EXPECT_EQ(image.levels[0].argb[1], 0x0000FF00u);
    image = Read(Dds(1, 1, 1, kArgb4444, {0x23, 0xF1}));
    EXPECT_EQ(image.format, D3DFMT_A4R4G4B4);
    EXPECT_EQ(image.levels[0].argb[0], 0xFF112233u);
}

TEST(DdsReader, MipLevelsFollowTheFile) {
    // 8 x 4 DXT1 with 4 levels: 8x4, 4x2, 2x1, 1x1; each level one or two blocks.
    std::vector<std::uint8_t> payload;
    for (int block = 0; block < 2 + 1 + 1 + 1; ++block) payload.insert(payload.end(), kFourColourBlock.begin(), kFourColourBlock.end());
    DdsImage image = Read(Dds(8, 4, 4, kDxt1, payload));
    ASSERT_EQ(image.levels.size(), 4u);
    EXPECT_EQ(image.levels[1].width, 4u);
    EXPECT_EQ(image.levels[1].height, 2u);
    EXPECT_EQ(image.levels[3].width, 1u);
    EXPECT_EQ(image.levels[3].argb.size(), 1u);
    EXPECT_EQ(image.levels[3].argb[0], 0xFFFF0000u);
}

TEST(DdsReader, DamagedFilesFailWithAReason) {
    const std::vector<std::uint8_t> good = Dds(8, 4, 1, kDxt1, std::vector<std::uint8_t>(16, 0));
    DdsImage image;
    std::string error;
    auto fails = [&](std::vector<std::uint8_t> file, const char* expected) {
        error.clear();
        EXPECT_FALSE(ReadDds(file.data(), file.size(), &image, &error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_TRUE(image.levels.empty());
    };
    // Every cut short of the whole file fails.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ReadDds(cut.data(), cut.size(), &image, &error)) << n;
    }
    fails({good.begin(), good.begin() + 136}, "truncated");
    std::vector<std::uint8_t> bad = good;
    bad[0] = 'X';
    fails(bad, "not a DDS");
    bad = good;
    Put32(&bad, 4, 100);
    fails(bad, "corrupt header");
    bad = good;
    Put32(&bad, 16, 0);
    fails(bad, "corrupt size");
    bad = good;
    Put32(&bad, 16, 0x7FFFFFFF);
    fails(bad, "corrupt size");
    bad = good;
    Put32(&bad, 8, 0x21007);
    Put32(&bad, 28, 40);  // more levels than an 8 x 4 image has
    fails(bad, "mip count");
    bad = good;
    Put32(&bad, 8, 0x21007);
    Put32(&bad, 28, 3);  // levels promised but not in the file
    fails(bad, "truncated");
    bad = good;
    Put32(&bad, 84, MakeFourCC('A', 'T', 'I', '2'));
    fails(bad, "unsupported");
    bad = Dds(1, 1, 1, PixelFormat{0x40, 0, 16, 0xF8000, 0x07E0, 0x1F, 0}, {0, 0});
    fails(bad, "masks");
    EXPECT_FALSE(ReadDds(nullptr, 0, &image, &error));
}

// Random changes to valid files: the reader answers every one without
// reading outside the data (the sanitizers watch), and a success is whole.
TEST(DdsReader, RandomlyMutatedFilesNeverOverRead) {
    std::vector<std::vector<std::uint8_t>> seeds = {
        Dds(8, 8, 4, kDxt1, std::vector<std::uint8_t>(8 * 4 + 8 + 8 + 8, 0x5A)),
        Dds(4, 4, 3, kDxt5, std::vector<std::uint8_t>(48, 0xA5)),
        Dds(3, 5, 1, kArgb32, std::vector<std::uint8_t>(60, 7)),
        Dds(2, 2, 2, kRgb565, std::vector<std::uint8_t>(10, 9)),
    };
    std::mt19937 random(1234);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> file = seeds[static_cast<size_t>(round) % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            switch (random() % 4) {
                case 0: file[random() % file.size()] = static_cast<std::uint8_t>(random()); break;
                case 1: file.resize(random() % (file.size() + 1)); break;
                case 2: file.push_back(static_cast<std::uint8_t>(random())); break;
                default:  // a header field
                    if (file.size() >= 128) Put32(&file, 4 + 4 * (random() % 31), static_cast<std::uint32_t>(random()) >> (random() % 32));
                    break;
            }
            if (file.empty()) break;
        }
        // The data is copied to its exact size so any over-read is caught.
        std::vector<std::uint8_t> exact(file);
        DdsImage image;
        std::string error;
        if (ReadDds(exact.data(), exact.size(), &image, &error)) {
            ++accepted;
            ASSERT_FALSE(image.levels.empty());
            for (const auto& level : image.levels) {
                ASSERT_EQ(level.argb.size(), static_cast<size_t>(level.width) * level.height);
            }
        } else {
            ASSERT_FALSE(error.empty());
        }
    }
    EXPECT_GT(accepted, 0);
}

TEST(TextureCodec, EncodingFlatBlocksDecodesExactly) {
    std::uint32_t in[16], out[16];
    std::uint8_t block[16];
    for (auto& c : in) c = 0xFFFF0000;
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], 0xFFFF0000u);
    in[5] = 0x00000000;  // one transparent texel: the 3-colour mode
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    EXPECT_EQ(out[5], 0u);
    EXPECT_EQ(out[0], 0xFFFF0000u);
    for (auto& c : in) c = 0x8800FF00;
    EncodeDxtBlock(D3DFMT_DXT3, in, block);
    DecodeDxtBlock(D3DFMT_DXT3, block, out);
    EXPECT_EQ(out[3], 0x8800FF00u);
    EncodeDxtBlock(D3DFMT_DXT5, in, block);
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    EXPECT_EQ(out[3], 0x8800FF00u);
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessGraphics(true);
        d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = 16;
        p.BackBufferHeight = 16;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_),
                  D3D_OK);
        dir_ = std::filesystem::temp_directory_path() / ("dds_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "textures");
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        if (device_) device_->Release();
        if (d3d_) d3d_->Release();
    }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = (dir_ / name).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }
    std::vector<std::uint32_t> Level(IDirect3DTexture8* t, UINT level) {
        D3DSURFACE_DESC desc{};
        t->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT lr{};
        std::vector<std::uint32_t> argb;
        if (SUCCEEDED(t->LockRect(level, &lr, nullptr, D3DLOCK_READONLY))) {
            DecodeLevel(desc.Format, desc.Width, desc.Height, static_cast<const std::uint8_t*>(lr.pBits),
                        static_cast<size_t>(lr.Pitch), &argb);
            t->UnlockRect(level);
        }
        return argb;
    }
    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
    std::filesystem::path dir_;
};

TEST_F(Loader, PadsToPowersOfTwoAndBoxFiltersMissingLevels) {
    // 3 x 2 image of white texels, loaded with default size: 4 x 2, image top-left.
    std::vector<std::uint8_t> px;
    for (int i = 0; i < 6; ++i) px.insert(px.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    const std::string path = Write("textures/white.dds", Dds(3, 2, 1, kArgb32, px));
    IDirect3DTexture8* t = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 3, 0, D3DFMT_A8R8G8B8,
                                           D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, &info, nullptr, &t),
              D3D_OK);
    EXPECT_EQ(info.Width, 3u);
    EXPECT_EQ(info.Format, D3DFMT_A8R8G8B8);
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(t->GetLevelCount(), 3u);
    const auto top = Level(t, 0);
    EXPECT_EQ(top[2], 0xFFFFFFFFu);
    EXPECT_EQ(top[3], 0u) << "padding is zero";
    const auto next = Level(t, 1);  // 2 x 1: the right texel averages two white and two zero texels
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0], 0xFFFFFFFFu);
    EXPECT_EQ(next[1], 0x80808080u);
    t->Release();
}

TEST_F(Loader, KeepsTheFileBlocksAndTheRequestedFormat) {
    const std::string path = Write("textures/Wall.dds", Dds(4, 4, 1, kDxt1, kFourColourBlock));
    IDirect3DTexture8* t = nullptr;
    // The name as the program writes it: back-slashes and other letter case.
    const std::string windows = (dir_ / "TEXTURES").string() + "\\wall.dds";
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, windows.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, D3DFMT_DXT1,
                                           D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr, &t),
              D3D_OK);
    D3DSURFACE_DESC desc{};
    t->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_DXT1);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(std::memcmp(lr.pBits, kFourColourBlock.data(), 8), 0);
    t->UnlockRect(0);
    t->Release();
    // The same file into DXT3: re-encoded, same colours where they are flat.
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, D3DFMT_DXT3,
                                           D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr, &t),
              D3D_OK);
    const auto texels = Level(t, 0);
    EXPECT_EQ(texels[0], 0xFFFF0000u);
    EXPECT_EQ(texels[4], 0xFF0000FFu);
    t->Release();
}

// Random changes to valid files, loaded the ways the program loads them: a
// failure leaves no texture, a success a whole one; nothing is read outside
// the file's bytes (the sanitizers watch).
TEST_F(Loader, RandomlyMutatedFilesLoadWholeOrNotAtAll) {
    const std::vector<std::vector<std::uint8_t>> seeds = {
        Dds(8, 8, 4, kDxt1, std::vector<std::uint8_t>(8 * 4 + 8 + 8 + 8, 0x5A)),
        Dds(8, 4, 2, kDxt3, std::vector<std::uint8_t>(16 * 2 + 16, 0xA5)),
        Dds(3, 5, 1, kArgb32, std::vector<std::uint8_t>(60, 7)),
        Dds(6, 2, 2, kRgb565, std::vector<std::uint8_t>(24 + 6, 9)),
    };
    const struct {
        UINT levels;
        D3DFORMAT format;
    } ways[] = {{7, D3DFMT_DXT3}, {1, D3DFMT_DXT1}, {4, D3DFMT_DXT1}, {1, D3DFMT_A8R8G8B8}};
    std::mt19937 random(4321);
    int loaded = 0;
    testing::internal::CaptureStderr();
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> file = seeds[static_cast<size_t>(round) % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !file.empty(); ++e) {
            switch (random() % 3) {
                case 0: file[random() % file.size()] = static_cast<std::uint8_t>(random()); break;
                case 1: file.resize(random() % (file.size() + 1)); break;
                default:
                    if (file.size() >= 128) Put32(&file, 4 + 4 * (random() % 31), static_cast<std::uint32_t>(random()) >> (random() % 32));
                    break;
            }
        }
        if (file.empty()) continue;
        const std::vector<std::uint8_t> exact(file);
        const auto& way = ways[static_cast<size_t>(round / 4) % 4];
        IDirect3DTexture8* t = reinterpret_cast<IDirect3DTexture8*>(1);
        const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(device_, exact.data(), static_cast<UINT>(exact.size()),
                                                               D3DX_DEFAULT, D3DX_DEFAULT, way.levels, 0, way.format,
                                                               D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0,
                                                               nullptr, nullptr, &t);
        if (FAILED(hr)) {
            ASSERT_EQ(t, nullptr);
            continue;
        }
        ++loaded;
        ASSERT_NE(t, nullptr);
        ASSERT_GE(t->GetLevelCount(), 1u);
        ASSERT_LE(t->GetLevelCount(), way.levels);
        D3DSURFACE_DESC desc{};
        t->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, way.format);
        t->Release();
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(loaded, 400) << "too few mutations load to exercise the loader";
}

TEST_F(Loader, DamagedOrMissingFilesFailWithNoTexture) {
    std::vector<std::uint8_t> file = Dds(8, 8, 1, kDxt1, std::vector<std::uint8_t>(32, 0));
    file.resize(file.size() - 1);
    const std::string path = Write("textures/short.dds", file);
    IDirect3DTexture8* t = reinterpret_cast<IDirect3DTexture8*>(1);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileExA(device_, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                                    D3DFMT_DXT1, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0,
                                                    nullptr, nullptr, &t)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(t, nullptr);
    EXPECT_NE(log.find("short.dds"), std::string::npos) << log;
    EXPECT_NE(log.find("truncated"), std::string::npos) << log;
    EXPECT_EQ(D3DXCreateTextureFromFileExA(device_, (dir_ / "none.dds").c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                           D3DFMT_DXT1, D3DPOOL_MANAGED, D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr,
                                           nullptr, &t),
              D3DERR_NOTFOUND);
    EXPECT_EQ(t, nullptr);
}

}  // namespace
