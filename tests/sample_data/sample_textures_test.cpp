// The sample texture set through the platform loader: every file where the
// view program looks for it, loaded with its row's arguments, decoding to its
// pattern. MERIDAX_SAMPLE_PNG=<folder> also writes the decoded pictures.
#include "tools/sample-data/sample_data.h"

#include "framework/d3d_helpers.h"
#include "platform/gfx/d3dx_texture.h"
#include "platform/gfx/dds_reader.h"
#include "platform/gfx/texture_codec.h"
#include "tests/gfx_draw/draw_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A loaded texture's levels, decoded.
struct Picture {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT levelCount = 0;
    std::vector<UINT> sides;
    std::vector<std::vector<std::uint32_t>> levels;
    std::uint32_t At(int level, UINT x, UINT y) const { return levels[level][y * sides[level] + x]; }
};

// The headless device of the drawing tests, working in a folder of sample data.
class SampleTextures : public DrawTest {
protected:
    static void SetUpTestSuite()
    {
        previous_ = fs::current_path();
        folder_ = fs::path(testing::TempDir()) / ("sample_textures_" + std::to_string(getpid()));
        fs::remove_all(folder_);
        std::string error;
        ASSERT_TRUE(sample_data::WriteSampleData(folder_.string(), &error)) << error;
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    void SetUp() override
    {
        fs::current_path(folder_);
        DrawTest::SetUp();
    }
    void TearDown() override
    {
        DrawTest::TearDown();
        fs::current_path(previous_);
    }

    Picture Decode(IDirect3DTexture8* t, const std::string& name)
    {
        Picture p;
        p.levelCount = t->GetLevelCount();
        for (UINT level = 0; level < p.levelCount; ++level) {
            D3DSURFACE_DESC desc{};
            t->GetLevelDesc(level, &desc);
            p.format = desc.Format;
            EXPECT_EQ(desc.Width, desc.Height) << name;
            D3DLOCKED_RECT lr{};
            std::vector<std::uint32_t> argb;
            EXPECT_EQ(t->LockRect(level, &lr, nullptr, D3DLOCK_READONLY), D3D_OK) << name;
            EXPECT_TRUE(DecodeLevel(desc.Format, desc.Width, desc.Height, static_cast<const std::uint8_t*>(lr.pBits),
                                    static_cast<size_t>(lr.Pitch), &argb))
                << name;
            t->UnlockRect(level);
            p.sides.push_back(desc.Width);
            p.levels.push_back(argb);
        }
        t->Release();
        if (const char* png = std::getenv("MERIDAX_SAMPLE_PNG")) {
            std::string file = name;
            std::replace(file.begin(), file.end(), '\\', '_');
            WritePng(std::string(png) + "/" + file + ".png", p.levels[0], p.sides[0], p.sides[0]);
            std::vector<std::uint32_t> alpha(p.levels[0].size());
            for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = (p.levels[0][i] >> 24) * 0x10101u;
            WritePng(std::string(png) + "/" + file + ".alpha.png", alpha, p.sides[0], p.sides[0]);
        }
        return p;
    }

    // The view program's two ways of loading.
    Picture Direct(const std::string& name, UINT levels, D3DFORMAT format, DWORD mipFilter)
    {
        IDirect3DTexture8* t = nullptr;
        HRESULT hr = D3DXCreateTextureFromFileExA(device_, name.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, levels, 0, format,
                                                  D3DPOOL_MANAGED, D3DX_FILTER_NONE, mipFilter, 0, nullptr, nullptr,
                                                  &t);
        EXPECT_EQ(hr, D3D_OK) << name;
        return t ? Decode(t, name) : Picture{};
    }
    Picture ThroughMedia(const std::string& name, D3DFORMAT format)
    {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(LoadTextureFile(device_, name.c_str(), &t, format), D3D_OK) << name;
        return t ? Decode(t, name) : Picture{};
    }

    static fs::path previous_, folder_;
};
fs::path SampleTextures::previous_, SampleTextures::folder_;

constexpr DWORD kBox = D3DX_FILTER_BOX, kBoxMirrorU = D3DX_FILTER_BOX | D3DX_FILTER_MIRROR_U;
constexpr std::uint32_t kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;

bool PowerOfTwo(UINT n) { return n != 0 && (n & (n - 1)) == 0; }

TEST(SampleDdsWriter, LevelsDecodeToThePatternExactly)
{
    // Colour by quarter (constant over every block down to 8 x 8), alpha by
    // sixteenths of the width: texel column x of the 16-texel level has x.
    sample_data::TexturePattern pattern{
        [](double u, double v) {
            const std::uint16_t quarters[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
            return sample_data::Colour565{quarters[(u < 0.5 ? 0 : 1) + (v < 0.5 ? 0 : 2)]};
        },
        [](double u, double) { return static_cast<int>(u * 16); }};
    const std::uint32_t quarterArgb[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    for (auto format : {sample_data::DxtFormat::DXT1, sample_data::DxtFormat::DXT3}) {
        bool dxt3 = format == sample_data::DxtFormat::DXT3;
        std::vector<std::uint8_t> file = sample_data::EncodeDds(format, 16, 5, pattern);
        DdsImage image;
        std::string error;
        ASSERT_TRUE(ReadDds(file.data(), file.size(), &image, &error)) << error;
        EXPECT_EQ(image.format, dxt3 ? D3DFMT_DXT3 : D3DFMT_DXT1);
        ASSERT_EQ(image.levels.size(), 5u);
        EXPECT_EQ(file.size(), 128u + (dxt3 ? 16u : 8u) * (16 + 4 + 1 + 1 + 1));
        for (UINT side : {16u, 8u}) {
            const DdsLevel& level = image.levels[side == 16 ? 0 : 1];
            ASSERT_EQ(level.width, side);
            for (UINT y = 0; y < side; ++y) {
                for (UINT x = 0; x < side; ++x) {
                    std::uint32_t alpha = dxt3 ? 0x11u * (16 / side * x + (side == 8 ? 1 : 0)) : 0xFFu;
                    std::uint32_t rgb = quarterArgb[(x < side / 2 ? 0 : 1) + (y < side / 2 ? 0 : 2)];
                    EXPECT_EQ(level.argb[y * side + x], alpha << 24 | rgb) << side << ": " << x << "," << y;
                }
            }
        }
        // The 1 x 1 level: one texel, sampled at the centre (white quarter).
        EXPECT_EQ(image.levels[4].argb[0] & 0xFFFFFF, 0xFFFFFFu);
    }
}

TEST_F(SampleTextures, EveryRowLoadsWhereTheProgramLooks)
{
    struct Row {
        const char* name;
        bool direct;
        UINT levels;
        D3DFORMAT format;
        DWORD mipFilter;
        UINT side;  // 0: any power of two
    };
    std::vector<Row> rows = {
        {"textures\\bluemars.dds", true, 7, D3DFMT_DXT3, kBoxMirrorU, 256},
        {"wall.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"floor.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"World2a1.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"sunmap.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"E-10.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"E-10engine.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"E-10light.dds", false, 1, D3DFMT_DXT1, kBox, 0},
        {"textures\\o-4.dds", true, 4, D3DFMT_DXT1, kBox, 64},
        {"textures\\tactical.dds", true, 4, D3DFMT_DXT1, kBox, 64},
        {"textures\\facet01.dds", true, 6, D3DFMT_DXT1, kBoxMirrorU, 64},
        {"cloud8.dds", false, 1, D3DFMT_DXT3, kBox, 0},
    };
    std::vector<std::string> frames;
    for (int k = 1; k <= 20; ++k) frames.push_back("textures\\Weapons\\weapon" + std::to_string(k) + ".dds");
    for (int k = 1; k <= 43; ++k) frames.push_back("textures\\Explosions\\blast" + std::to_string(k) + ".dds");
    for (const std::string& f : frames) rows.push_back({f.c_str(), true, 1, D3DFMT_DXT1, D3DX_FILTER_NONE, 0});
    ASSERT_EQ(rows.size(), 75u);

    for (const Row& row : rows) {
        Picture p = row.direct ? Direct(row.name, row.levels, row.format, row.mipFilter)
                               : ThroughMedia(row.name, row.format);
        ASSERT_EQ(p.levelCount, row.levels) << row.name;
        EXPECT_EQ(p.format, row.format) << row.name;
        EXPECT_TRUE(PowerOfTwo(p.sides[0])) << row.name << " " << p.sides[0];
        EXPECT_GE(p.sides[0], 32u) << row.name;
        EXPECT_EQ(p.sides[0], row.side ? row.side : p.sides[0]) << row.name;
    }
}

TEST_F(SampleTextures, MipmappedFilesHoldTheirFullChainAndTheLoaderUsesIt)
{
    for (const char* name : {"bluemars", "o-4", "tactical", "facet01"}) {
        std::ifstream in(std::string("textures/") + name + ".dds", std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        DdsImage image;
        std::string error;
        ASSERT_TRUE(ReadDds(bytes.data(), bytes.size(), &image, &error)) << name << ": " << error;
        UINT full = 1;
        while ((1u << (full - 1)) < image.width) ++full;
        EXPECT_EQ(image.levels.size(), full) << name;
        EXPECT_EQ(image.levels.back().width, 1u) << name;
        Picture loaded = Direct(std::string("textures\\") + name + ".dds", 4, image.format, kBox);
        ASSERT_EQ(loaded.levels.size(), 4u) << name;
        for (int level = 0; level < 4; ++level) EXPECT_EQ(loaded.levels[level], image.levels[level].argb) << name;
    }
}

TEST_F(SampleTextures, PlanetAtlasHasOneColourPerTileRegion)
{
    Picture p = Direct("textures\\bluemars.dds", 7, D3DFMT_DXT3, kBoxMirrorU);
    ASSERT_EQ(p.levels.size(), 7u);
    // Atlas triangles (texels of 2048); tiles 4 and 8 run past the right edge.
    const double tiles[9][3][2] = {
        {{517, 841}, {515, 843}, {516, 843}},      {{511.5, 1}, {1020, 883}, {3, 883}},
        {{1023.5, 883}, {515, 1}, {1532, 1}},      {{1535.5, 1}, {2044, 883}, {1027, 883}},
        {{2047.5, 883}, {1539, 1}, {2556, 1}},     {{511.5, 886}, {1020, 1768}, {3, 1768}},
        {{1023.5, 1768}, {515, 886}, {1532, 886}}, {{1535.5, 886}, {2044, 1768}, {1027, 1768}},
        {{2047.5, 1768}, {1539, 886}, {2556, 886}},
    };
    auto sample = [&](int level, double x, double y) {
        UINT side = p.sides[level];
        auto texel = [&](double a) { return static_cast<UINT>(a / 2048 * side) % side; };
        return p.At(level, texel(x), texel(y));
    };
    // Tile 0's texels under bilinear filtering at the top level, and its
    // colour's own: not tile 1's.
    std::uint32_t sea = p.At(0, 63, 104);
    for (UINT y : {104u, 105u})
        for (UINT x : {63u, 64u}) EXPECT_EQ(p.At(0, x, y), sea) << x << "," << y;
    std::set<std::uint32_t> colours = {sea};
    for (int tile = 1; tile < 9; ++tile) {
        const auto& t = tiles[tile];
        double cx = (t[0][0] + t[1][0] + t[2][0]) / 3, cy = (t[0][1] + t[1][1] + t[2][1]) / 3;
        std::uint32_t c = sample(0, cx, cy);
        EXPECT_EQ(c >> 24, 0xFFu) << tile;
        colours.insert(c);
        // The centre down to 32 x 32 texels, and half way toward each corner
        // on the two top levels.
        for (int level = 1; level < 4; ++level) EXPECT_EQ(sample(level, cx, cy), c) << tile << " " << level;
        for (int level = 0; level < 2; ++level) {
            for (const auto& corner : t) {
                EXPECT_EQ(sample(level, (cx + corner[0]) / 2, (cy + corner[1]) / 2), c) << tile << " " << level;
            }
        }
    }
    EXPECT_EQ(colours.size(), 9u);
    // Wrapped parts of tiles 4 and 8 continue on the left.
    EXPECT_EQ(sample(0, 2300 - 2048, 200), sample(0, 2047, 300));
    EXPECT_EQ(sample(0, 2300 - 2048, 1085), sample(0, 2047, 1185));
    EXPECT_NE(sample(0, 2300 - 2048, 200), sample(0, 511.5, 600));
}

TEST_F(SampleTextures, FlatAndSingleFigurePatterns)
{
    // Detail texture: the 565 grey nearest neutral under MODULATE2X, every level.
    Picture detail = Direct("textures\\facet01.dds", 6, D3DFMT_DXT1, kBoxMirrorU);
    ASSERT_EQ(detail.levels.size(), 6u);
    EXPECT_EQ(detail.sides[5], 2u);
    for (const auto& level : detail.levels) {
        EXPECT_EQ(std::count(level.begin(), level.end(), 0xFF848284u), static_cast<long>(level.size()));
    }

    // Sun: a white disc on black, symmetric about both axes.
    Picture sun = ThroughMedia("sunmap.dds", D3DFMT_DXT1);
    UINT n = sun.sides[0];
    EXPECT_EQ(sun.At(0, n / 2, n / 2), kWhite);
    EXPECT_EQ(sun.At(0, 0, 0), kBlack);
    EXPECT_EQ(sun.At(0, n - 1, n / 2), kBlack);
    long white = 0;
    for (UINT y = 0; y < n; ++y) {
        for (UINT x = 0; x < n; ++x) {
            std::uint32_t c = sun.At(0, x, y);
            EXPECT_TRUE(c == kWhite || c == kBlack) << std::hex << c;
            EXPECT_EQ(c, sun.At(0, n - 1 - x, y));
            EXPECT_EQ(c, sun.At(0, x, n - 1 - y));
            white += c == kWhite;
        }
    }
    EXPECT_GT(white, long(n) * n / 8);
    EXPECT_LT(white, long(n) * n / 2);

    // Engine and light maps: black but one filled bright rectangle.
    for (const char* name : {"E-10engine.dds", "E-10light.dds"}) {
        Picture m = ThroughMedia(name, D3DFMT_DXT1);
        UINT side = m.sides[0], x0 = side, y0 = side, x1 = 0, y1 = 0;
        long bright = 0;
        std::set<std::uint32_t> brights;
        for (UINT y = 0; y < side; ++y) {
            for (UINT x = 0; x < side; ++x) {
                if (m.At(0, x, y) == kBlack) continue;
                ++bright;
                brights.insert(m.At(0, x, y));
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
        }
        EXPECT_GT(bright, 0) << name;
        EXPECT_EQ(brights.size(), 1u) << name;
        EXPECT_EQ(bright, long(x1 - x0 + 1) * (y1 - y0 + 1)) << name;
        EXPECT_LT(bright, long(side) * side / 4) << name;
    }
}

TEST_F(SampleTextures, CloudPuffsInTheThreeQuartersThePuffsUse)
{
    Picture c = ThroughMedia("cloud8.dds", D3DFMT_DXT3);
    UINT n = c.sides[0], h = n / 2;
    std::set<std::uint32_t> alphas;
    for (UINT y = 0; y < n; ++y) {
        for (UINT x = 0; x < n; ++x) {
            std::uint32_t t = c.At(0, x, y);
            EXPECT_EQ(t & 0xFFFFFF, 0xFFFFFFu);
            alphas.insert(t >> 24);
            bool unused = x >= h && y >= h;
            bool border = x % h == 0 || y % h == 0 || x % h == h - 1 || y % h == h - 1;
            EXPECT_TRUE(!(unused || border) || (t >> 24) == 0) << x << "," << y;
        }
    }
    EXPECT_EQ(alphas, (std::set<std::uint32_t>{0x00, 0xFF}));  // 4-bit 0 and 15
    for (auto [x, y] : {std::pair{h / 2, h / 2}, std::pair{h + h / 2, h / 2}, std::pair{h / 2, h + h / 2}}) {
        EXPECT_EQ(c.At(0, x, y) >> 24, 0xFFu) << x << "," << y;
    }
}

TEST_F(SampleTextures, ProjectileAndExplosionFramesAreFiguresOnBlackAllDifferent)
{
    for (auto [folder, stem, count] : {std::tuple{"Weapons", "weapon", 20}, std::tuple{"Explosions", "blast", 43}}) {
        std::set<std::vector<std::uint32_t>> seen;
        for (int k = 1; k <= count; ++k) {
            std::string name = std::string("textures\\") + folder + "\\" + stem + std::to_string(k) + ".dds";
            Picture f = Direct(name, 1, D3DFMT_DXT1, D3DX_FILTER_NONE);
            UINT n = f.sides[0];
            long figure = 0;
            for (UINT y = 0; y < n; ++y) {
                for (UINT x = 0; x < n; ++x) {
                    bool edge = x == 0 || y == 0 || x == n - 1 || y == n - 1;
                    EXPECT_TRUE(!edge || f.At(0, x, y) == kBlack) << name;
                    figure += f.At(0, x, y) != kBlack;
                }
            }
            EXPECT_GT(figure, 16) << name;
            seen.insert(f.levels[0]);
        }
        EXPECT_EQ(seen.size(), static_cast<size_t>(count)) << folder;
    }
}

}  // namespace
