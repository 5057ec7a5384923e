// The texture font through a recording device on the headless GL device:
// the atlas, the state blocks, batching, measuring, the vertex table, and
// one glyph drawn pixel for pixel.
#include <cstring>
#include <string>

#include "framework/texture_font.h"
#include "tests/font/font_fixture.h"

namespace {

using FontTest = RecordedDevice;

float CellWidth(const TextureFont& f, int c) { return (f.Glyph(c)[2] - f.Glyph(c)[0]) * static_cast<float>(f.AtlasWidth()); }
float CellHeight(const TextureFont& f, int c) { return (f.Glyph(c)[3] - f.Glyph(c)[1]) * static_cast<float>(f.AtlasHeight()); }

TEST(TextureFontObject, ConstructionCutsTheNameAndReleasesAreHarmless) {
    const std::string longName(100, 'x');
    TextureFont font(longName.c_str(), 12, FONT_BOLD);
    EXPECT_EQ(std::strlen(font.FaceName()), 79u);
    EXPECT_EQ(font.ReleaseBuffers(), S_OK);
    EXPECT_EQ(font.ReleaseAtlas(), S_OK);
    EXPECT_EQ(font.ReleaseBuffers(), S_OK);
    SIZE extent{};
    EXPECT_EQ(font.MeasureText("abc", &extent), S_OK);
    EXPECT_EQ(extent.cx, 0);
    EXPECT_EQ(font.MeasureText(nullptr, &extent), E_FAIL);
    EXPECT_EQ(font.MeasureText("a", nullptr), E_FAIL);
    EXPECT_EQ(font.DrawText2D(0, 0, 0xFFFFFFFF, "a"), E_FAIL);
    EXPECT_EQ(font.DrawText3D("a"), E_FAIL);
}

TEST_F(FontTest, AtlasSizeFollowsTheHeightAndTheDeviceLimit) {
    const struct {
        DWORD height;
        DWORD size;
    } cases[] = {{20, 256}, {21, 512}, {40, 512}, {41, 1024}};
    for (const auto& c : cases) {
        TextureFont font("Arial", c.height, 0);
        ASSERT_EQ(font.BuildGlyphAtlas(device_), S_OK);
        EXPECT_EQ(font.AtlasWidth(), c.size) << c.height;
        EXPECT_EQ(font.AtlasHeight(), c.size);
        EXPECT_EQ(font.TextScale(), 1.0f);
    }
    // A device limited to 256 texels: a 30-point font is built at half size,
    // the size a 15-point font has at full scale.
    device_->maxTextureSize = 256;
    TextureFont big("Arial", 30, 0);
    ASSERT_EQ(big.BuildGlyphAtlas(device_), S_OK);
    EXPECT_EQ(big.AtlasWidth(), 256u);
    EXPECT_EQ(big.TextScale(), 0.5f);
    TextureFont half("Arial", 15, 0);
    half.BuildGlyphAtlas(device_);
    EXPECT_EQ(CellHeight(big, ' '), CellHeight(half, ' '));
    EXPECT_EQ(CellWidth(big, 'W'), CellWidth(half, 'W'));
}

TEST_F(FontTest, HudFontAtlasLayout) {
    TextureFont font("Arial", 12, FONT_BOLD);
    ASSERT_EQ(font.BuildGlyphAtlas(device_), S_OK);
    EXPECT_EQ(font.AtlasWidth(), 256u);
    EXPECT_EQ(font.TextScale(), 1.0f);
    const float row = CellHeight(font, ' ');
    EXPECT_GE(row, 16.0f);  // ascent + descent of a 16-pixel font
    EXPECT_LE(row, 20.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(font.Glyph(127)[i], 0.0f) << "code 127 is never rasterised";
    // Cells run left to right with one free column, and a new row starts with
    // x = 0 one free row lower when the cell and its gap would not fit.
    for (int c = 33; c < 127; ++c) {
        EXPECT_EQ(CellHeight(font, c), row) << c;
        const float* prev = font.Glyph(c - 1);
        const float* cur = font.Glyph(c);
        if (cur[1] == prev[1]) {
            EXPECT_FLOAT_EQ(cur[0] * 256.0f, prev[2] * 256.0f + 1.0f) << c;
        } else {
            EXPECT_EQ(cur[0], 0.0f) << c;
            EXPECT_FLOAT_EQ(cur[1] * 256.0f, prev[1] * 256.0f + row + 1.0f) << c;
            EXPECT_GT(prev[2] * 256.0f + 1.0f + CellWidth(font, c) + 1.0f, 256.0f) << c;
        }
        EXPECT_LE(cur[2], 1.0f);
    }
    EXPECT_GT(CellWidth(font, 'W'), CellWidth(font, 'i'));
    // Texels are white with a 4-bit alpha, or fully transparent black.
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(font.Atlas()->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    int opaque = 0, clear = 0;
    for (int y = 0; y < 256; ++y) {
        const auto* row16 = reinterpret_cast<const std::uint16_t*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch);
        for (int x = 0; x < 256; ++x) {
            const std::uint16_t t = row16[x];
            if (t == 0) {
                ++clear;
            } else {
                EXPECT_EQ(t & 0x0FFF, 0x0FFF);
                if (t == 0xFFFF) ++opaque;
            }
        }
    }
    font.Atlas()->UnlockRect(0);
    EXPECT_GT(opaque, 100) << "bold strokes reach full coverage";
    EXPECT_GT(clear, 256 * 128) << "below the last row the atlas stays empty";
}

TEST_F(FontTest, StateBlockRecordsTheThirtySettingsInOrderTwice) {
    TextureFont font("Arial", 12, FONT_BOLD);
    font.BuildGlyphAtlas(device_);
    device_->Clear();
    ASSERT_EQ(font.CreateBuffers(), S_OK);
    const auto& calls = device_->calls;
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "CreateVertexBuffer");
    EXPECT_EQ(calls[0].args, (std::vector<DWORD>{8400, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT}));
    const std::vector<std::vector<DWORD>> expected = {
        {0, 1},
        {D3DRS_ZENABLE, FALSE},
        {D3DRS_ALPHABLENDENABLE, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
        {D3DRS_ALPHATESTENABLE, TRUE},
        {D3DRS_ALPHAREF, 8},
        {D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL},
        {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_STENCILENABLE, FALSE},
        {D3DRS_CLIPPING, TRUE},
        {D3DRS_EDGEANTIALIAS, FALSE},
        {D3DRS_CLIPPLANEENABLE, 0},
        {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
        {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
        {D3DRS_FOGENABLE, FALSE},
        {0, D3DTSS_COLOROP, D3DTOP_MODULATE},
        {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
        {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
        {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
        {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
        {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
        {0, D3DTSS_MINFILTER, D3DTEXF_POINT},
        {0, D3DTSS_MAGFILTER, D3DTEXF_POINT},
        {0, D3DTSS_MIPFILTER, D3DTEXF_NONE},
        {0, D3DTSS_TEXCOORDINDEX, 0},
        {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
        {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
        {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
    };
    const char* kinds[] = {"SetTexture", "SetRenderState", "SetTextureStageState"};
    ASSERT_EQ(calls.size(), 1u + 2u * 32u);
    for (int block = 0; block < 2; ++block) {
        const size_t base = 1 + static_cast<size_t>(block) * 32;
        EXPECT_EQ(calls[base].name, "BeginStateBlock");
        for (size_t i = 0; i < expected.size(); ++i) {
            const DeviceCall& c = calls[base + 1 + i];
            const char* kind = i == 0 ? kinds[0] : i < 17 ? kinds[1] : kinds[2];
            EXPECT_EQ(c.name, kind) << i;
            EXPECT_EQ(c.args, expected[i]) << "setting " << i + 1;
        }
        EXPECT_EQ(calls[base + 31].name, "EndStateBlock");
    }
    EXPECT_NE(font.SavedStateBlock(), 0u);
    EXPECT_NE(font.DrawingStateBlock(), 0u);
    EXPECT_NE(font.SavedStateBlock(), font.DrawingStateBlock());
    // Released before a reset: the buffer and both blocks.
    device_->Clear();
    font.ReleaseBuffers();
    EXPECT_EQ(device_->Named("DeleteStateBlock").size(), 2u);
    EXPECT_EQ(font.VertexBuffer(), nullptr);
    EXPECT_EQ(font.SavedStateBlock(), 0u);
}

class DrawingFont : public FontTest {
protected:
    void SetUp() override {
        FontTest::SetUp();
        font_ = std::make_unique<TextureFont>("Arial", 12, FONT_BOLD);
        ASSERT_EQ(font_->BuildGlyphAtlas(device_), S_OK);
        ASSERT_EQ(font_->CreateBuffers(), S_OK);
        device_->Clear();
    }
    void TearDown() override {
        font_.reset();
        FontTest::TearDown();
    }
    std::vector<DeviceCall> Draws() const { return device_->Named("DrawPrimitive"); }
    std::unique_ptr<TextureFont> font_;
};

TEST_F(DrawingFont, TheVertexTableWithItsHalfPixelOffset) {
    ASSERT_EQ(font_->DrawText2D(10, 20, 0xFF102030, "A"), S_OK);
    const auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args, (std::vector<DWORD>{D3DPT_TRIANGLELIST, 0, 2}));
    EXPECT_EQ(draws[0].fvf, 0x144u);
    ASSERT_EQ(draws[0].vertices.size(), 6 * sizeof(ScreenVertex));
    ScreenVertex v[6];
    std::memcpy(v, draws[0].vertices.data(), sizeof(v));
    const float* g = font_->Glyph('A');
    const float w = CellWidth(*font_, 'A'), h = CellHeight(*font_, 'A');
    const float ex[6] = {10 - 0.5f, 10 - 0.5f, 10 + w - 0.5f, 10 + w - 0.5f, 10 + w - 0.5f, 10 - 0.5f};
    const float ey[6] = {20 + h - 0.5f, 20 - 0.5f, 20 + h - 0.5f, 20 - 0.5f, 20 + h - 0.5f, 20 - 0.5f};
    const float eu[6] = {g[0], g[0], g[2], g[2], g[2], g[0]};
    const float ev[6] = {g[3], g[1], g[3], g[1], g[3], g[1]};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, ex[i]) << i;
        EXPECT_FLOAT_EQ(v[i].y, ey[i]) << i;
        EXPECT_FLOAT_EQ(v[i].z, 0.9f);
        EXPECT_FLOAT_EQ(v[i].rhw, 1.0f);
        EXPECT_EQ(v[i].colour, 0xFF102030u);
        EXPECT_EQ(v[i].tu, eu[i]) << i;
        EXPECT_EQ(v[i].tv, ev[i]) << i;
    }
    // The call sequence around the drawing.
    const auto& c = device_->calls;
    ASSERT_GE(c.size(), 5u);
    EXPECT_EQ(c[0].name, "CaptureStateBlock");
    EXPECT_EQ(c[0].args[0], font_->SavedStateBlock());
    EXPECT_EQ(c[1].name, "ApplyStateBlock");
    EXPECT_EQ(c[1].args[0], font_->DrawingStateBlock());
    EXPECT_EQ(c[2].name, "SetVertexShader");
    EXPECT_EQ(c[2].args[0], 0x144u);
    EXPECT_EQ(c.back().name, "ApplyStateBlock");
    EXPECT_EQ(c.back().args[0], font_->SavedStateBlock());
}

TEST_F(DrawingFont, FiftyGlyphsADrawAndSpacesDoNotCount) {
    font_->DrawText2D(0, 0, 0xFFFFFFFF, std::string(50, 'x').c_str());
    auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args[2], 100u);
    device_->Clear();
    font_->DrawText2D(0, 0, 0xFFFFFFFF, std::string(51, 'x').c_str());
    draws = Draws();
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].args[2], 100u);
    EXPECT_EQ(draws[1].args[2], 2u);
    EXPECT_EQ(device_->Named("Lock").size(), 0u);  // buffer locks are not device calls
    device_->Clear();
    std::string spaced;
    for (int i = 0; i < 50; ++i) spaced += "x ";
    font_->DrawText2D(0, 0, 0xFFFFFFFF, spaced.c_str());
    draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args[2], 100u);
    device_->Clear();
    font_->DrawText2D(0, 0, 0xFFFFFFFF, "");
    EXPECT_TRUE(Draws().empty());
}

TEST_F(DrawingFont, TextIn3DBatchesFortyThreeGlyphs) {
    font_->DrawText3D(std::string(43, 'x').c_str());
    auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args[2], 86u);
    EXPECT_EQ(draws[0].fvf, 0x112u);
    device_->Clear();
    font_->DrawText3D(std::string(44, 'x').c_str());
    draws = Draws();
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].args[2], 86u);
    EXPECT_EQ(draws[1].args[2], 2u);
}

TEST_F(DrawingFont, CentredTextIn3DSitsOnTheOrigin) {
    font_->DrawText3D("WWW", TEXT_CENTERED | TEXT_TWO_SIDED);
    const auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    const auto* v = reinterpret_cast<const MeshVertex*>(draws[0].vertices.data());
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (int i = 0; i < 18; ++i) {
        minX = std::min(minX, v[i].position.x);
        maxX = std::max(maxX, v[i].position.x);
        minY = std::min(minY, v[i].position.y);
        maxY = std::max(maxY, v[i].position.y);
        EXPECT_EQ(v[i].normal.z, -1.0f);
    }
    EXPECT_NEAR(minX + maxX, 0.0f, 0.1f);  // the extent is cut to whole texels
    EXPECT_NEAR(minY + maxY, 0.0f, 0.1f);
    EXPECT_FLOAT_EQ(maxY - minY, CellHeight(*font_, 'W') / 10.0f);
    // Two-sided: culling off after the drawing block, restored by the saved one.
    bool sawCullNone = false;
    for (const auto& c : device_->calls) {
        if (c.name == "SetRenderState" && c.args == std::vector<DWORD>{D3DRS_CULLMODE, D3DCULL_NONE}) sawCullNone = true;
    }
    EXPECT_TRUE(sawCullNone);
    DWORD cull = 0;
    gl_->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, static_cast<DWORD>(D3DCULL_CCW));
}

TEST_F(DrawingFont, MeasuringRowsAndSkippedCodes) {
    SIZE ab{}, abc{}, c{}, empty{}, skipped{};
    ASSERT_EQ(font_->MeasureText("AB", &ab), S_OK);
    ASSERT_EQ(font_->MeasureText("AB\nC", &abc), S_OK);
    ASSERT_EQ(font_->MeasureText("C", &c), S_OK);
    const LONG row = static_cast<LONG>(CellHeight(*font_, ' '));
    EXPECT_EQ(ab.cx, static_cast<LONG>(CellWidth(*font_, 'A') + CellWidth(*font_, 'B')));
    EXPECT_EQ(abc.cx, std::max(ab.cx, c.cx));
    EXPECT_EQ(abc.cy, 2 * row);
    ASSERT_EQ(font_->MeasureText("", &empty), S_OK);
    EXPECT_EQ(empty.cx, 0);
    EXPECT_EQ(empty.cy, row);
    ASSERT_EQ(font_->MeasureText("A\tB\r\x80\xff", &skipped), S_OK);
    EXPECT_EQ(skipped.cx, ab.cx);
    EXPECT_EQ(skipped.cy, row);

    // Drawn: the third letter starts at the same x, one row lower.
    font_->DrawText2D(10, 20, 0xFFFFFFFF, "AB\nC\t\x90");
    const auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    ASSERT_EQ(draws[0].args[2], 6u);
    const auto* v = reinterpret_cast<const ScreenVertex*>(draws[0].vertices.data());
    EXPECT_FLOAT_EQ(v[12 + 1].x, 9.5f);
    EXPECT_FLOAT_EQ(v[12 + 1].y, 20.0f + static_cast<float>(row) - 0.5f);
}

TEST_F(DrawingFont, FilteredDrawingRestoresTheCallersFilters) {
    gl_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_ANISOTROPIC);
    gl_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    gl_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    font_->DrawText2D(0, 0, 0xFFFFFFFF, "abc", TEXT_FILTERED);
    bool linear = false;
    for (const auto& c : device_->calls) {
        if (c.name == "SetTextureStageState" && c.args == std::vector<DWORD>{0, D3DTSS_MINFILTER, D3DTEXF_LINEAR}) linear = true;
    }
    EXPECT_TRUE(linear);
    DWORD v = 0;
    gl_->GetTextureStageState(0, D3DTSS_MINFILTER, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_ANISOTROPIC));
    gl_->GetTextureStageState(0, D3DTSS_MAGFILTER, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_POINT));
    gl_->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, static_cast<DWORD>(FALSE));
    IDirect3DBaseTexture8* t = reinterpret_cast<IDirect3DBaseTexture8*>(1);
    gl_->GetTexture(0, &t);
    EXPECT_EQ(t, nullptr) << "the atlas stayed bound";
}

TEST_F(DrawingFont, OneGlyphDrawnWithPointSamplingMatchesItsCell) {
    gl_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(font_->DrawText2D(10, 20, 0xFFFFFFFF, "R"), S_OK);
    const auto pixels = Pixels();
    const float* g = font_->Glyph('R');
    const int cx = static_cast<int>(g[0] * 256.0f + 0.5f), cy = static_cast<int>(g[1] * 256.0f + 0.5f);
    const int w = static_cast<int>(CellWidth(*font_, 'R') + 0.5f), h = static_cast<int>(CellHeight(*font_, 'R') + 0.5f);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(font_->Atlas()->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    int covered = 0;
    for (int y = -1; y <= h; ++y) {
        for (int x = -1; x <= w; ++x) {
            unsigned expected = 0;
            if (x >= 0 && y >= 0 && x < w && y < h) {
                const auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<const BYTE*>(lr.pBits) + (cy + y) * lr.Pitch);
                expected = (row[cx + x] >> 12) * 17u;  // white at the texel's alpha over black
                if (expected) ++covered;
            }
            const unsigned red = (pixels[static_cast<size_t>(20 + y) * 128 + static_cast<size_t>(10 + x)] >> 16) & 0xFF;
            EXPECT_NEAR(static_cast<int>(red), static_cast<int>(expected), 1) << x << "," << y;
        }
    }
    font_->Atlas()->UnlockRect(0);
    EXPECT_GT(covered, 20);
}

TEST_F(DrawingFont, ColourAlphaBelowTheReferenceDrawsNothing) {
    gl_->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    font_->DrawText2D(10, 20, 0x00FFFFFF, "RRRR");
    font_->DrawText2D(10, 40, 0x07FFFFFF, "RRRR");  // at most 7 after modulation
    for (std::uint32_t p : Pixels()) ASSERT_EQ(p & 0xFFFFFF, 0u);
}

TEST_F(DrawingFont, ScaledTextSpansTheViewport) {
    // A row as tall as the whole viewport, starting at the top-left corner.
    font_->DrawScaledText(-1.0f, -1.0f, 0.25f, 0.5f, 1.0f, 0xFFFFFFFF, "H");
    const auto draws = Draws();
    ASSERT_EQ(draws.size(), 1u);
    const auto* v = reinterpret_cast<const ScreenVertex*>(draws[0].vertices.data());
    const float row = CellHeight(*font_, ' ');
    EXPECT_FLOAT_EQ(v[1].x, -0.5f);
    EXPECT_FLOAT_EQ(v[1].y, -0.5f);
    EXPECT_FLOAT_EQ(v[0].y, 64.0f * 1.0f / row * CellHeight(*font_, 'H') - 0.5f);
    EXPECT_FLOAT_EQ(v[2].x, 128.0f * 0.5f / row * CellWidth(*font_, 'H') - 0.5f);
    EXPECT_FLOAT_EQ(v[0].z, 0.25f);
}

TEST_F(FontTest, FailuresAreReportedAndNeverWrittenThrough) {
    {
        TextureFont font("Arial", 12, 0);
        device_->failTextureLocks = true;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(FAILED(font.BuildGlyphAtlas(device_)));
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("atlas cannot be locked"), std::string::npos);
        device_->failTextureLocks = false;
        EXPECT_GT(CellWidth(font, 'A'), 0.0f) << "the glyph table is still filled";
    }
    {
        TextureFont font("Arial", 12, 0);
        device_->failures["CreateTexture"] = E_OUTOFMEMORY;
        EXPECT_EQ(font.BuildGlyphAtlas(device_), E_OUTOFMEMORY);
        EXPECT_EQ(font.Atlas(), nullptr);
        device_->failures.clear();
        device_->failures["CreateVertexBuffer"] = D3DERR_OUTOFVIDEOMEMORY;
        EXPECT_EQ(font.CreateBuffers(), D3DERR_OUTOFVIDEOMEMORY);
        EXPECT_EQ(font.SavedStateBlock(), 0u);
        EXPECT_EQ(device_->Named("BeginStateBlock").size(), 0u);
        EXPECT_EQ(font.DrawText2D(0, 0, 0xFFFFFFFF, "x"), E_FAIL);
        device_->failures.clear();
    }
    // The device's reset goes through once the buffers are released.
    TextureFont font("Arial", 12, 0);
    font.BuildGlyphAtlas(device_);
    font.CreateBuffers();
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.BackBufferWidth = 128;
    p.BackBufferHeight = 64;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    EXPECT_TRUE(FAILED(device_->Reset(&p)));
    font.ReleaseBuffers();
    EXPECT_EQ(device_->Reset(&p), D3D_OK);
    EXPECT_EQ(font.CreateBuffers(), S_OK);
    EXPECT_EQ(font.DrawText2D(0, 0, 0xFFFFFFFF, "ok"), S_OK);
}

}  // namespace

#include "framework/glyph_raster.h"

namespace {

TEST_F(FontTest, AFontThatCannotBeMadeLeavesAZeroedAtlas) {
    TextureFont font("Arial", 0, 0);
    EXPECT_EQ(font.BuildGlyphAtlas(device_), E_FAIL);
    ASSERT_NE(font.Atlas(), nullptr);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(font.Atlas()->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (int y = 0; y < 256; ++y) {
        const auto* row = reinterpret_cast<const std::uint16_t*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch);
        for (int x = 0; x < 256; ++x) ASSERT_EQ(row[x], 0u) << x << "," << y;
    }
    font.Atlas()->UnlockRect(0);
    for (int c = 32; c < 128; ++c) EXPECT_EQ(font.Glyph(c)[2], 0.0f);
    ASSERT_EQ(font.CreateBuffers(), S_OK);
    EXPECT_EQ(font.DrawText2D(0, 0, 0xFFFFFFFF, "zero-sized glyphs"), S_OK);
    EXPECT_EQ(font.DrawScaledText(0, 0, 0.5f, 0.1f, 0.1f, 0xFFFFFFFF, "no division by a zero row"), S_OK);
}

TEST(GlyphRasterClip, GlyphsAtTheEdgesStayInsideTheBuffer) {
    auto raster = GlyphRaster::Create("Arial", 16, true, false, 24, 12);
    ASSERT_NE(raster, nullptr);
    raster->DrawChar(18, 4, 'W');   // past the right and bottom edges
    raster->DrawChar(-6, -9, 'g');  // past the left and top edges
    ASSERT_EQ(raster->Pixels().size(), 24u * 12u);
    int lit = 0;
    for (std::uint32_t p : raster->Pixels()) lit += (p & 0xFF) != 0;
    EXPECT_GT(lit, 0);
}

}  // namespace
