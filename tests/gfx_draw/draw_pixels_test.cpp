// Pixels drawn through the device compared with values worked out by hand.
#include <algorithm>
#include <cmath>

#include "tests/gfx_draw/draw_fixture.h"

namespace {

using PixelTest = DrawTest;

// Texture T = (a 128, r 64, g 128, b 192), diffuse D = (255, 128, 128, 64),
// texture factor F = (a 64, r 255, g 0, b 0).
constexpr std::uint32_t kTexel = 0x804080C0;
constexpr D3DCOLOR kDiffuse = 0xFF808040;
constexpr D3DCOLOR kFactor = 0x40FF0000;

class StageTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        texture_ = SolidTexture(D3DFMT_A8R8G8B8, kTexel);
        device_->SetTexture(0, texture_);
        device_->SetTexture(1, texture_);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    }
    void TearDown() override {
        device_->SetTexture(0, nullptr);
        device_->SetTexture(1, nullptr);
        texture_->Release();
        DrawTest::TearDown();
    }
    std::uint32_t Draw() {
        FullScreen(kDiffuse);
        return Pixel(32, 32);
    }
    void Colour(DWORD stage, DWORD op, DWORD arg1, DWORD arg2) {
        device_->SetTextureStageState(stage, D3DTSS_COLOROP, op);
        device_->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
        device_->SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
    }
    IDirect3DTexture8* texture_ = nullptr;
};

TEST_F(StageTest, EachOperationGivesTheWorkedValue) {
    Colour(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 32, 64, 48, 2);  // T x D
    Colour(0, D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 64, 128, 96, 2);
    Colour(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 64, 128, 192, 1);
    Colour(0, D3DTOP_ADDSMOOTH, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 160, 192, 208, 2);  // T + D - T D
    Colour(0, D3DTOP_BLENDFACTORALPHA, D3DTA_TFACTOR, D3DTA_TEXTURE);
    EXPECT_RGB_NEAR(Draw(), 112, 96, 144, 2);  // F a + T (1 - a), a = 64/255
    Colour(0, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 128, 128, 64, 1);  // the diffuse colour alone
}

TEST_F(StageTest, MultiplyAddInTheSecondStage) {
    Colour(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_TEXTURE);
    device_->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
    Colour(1, D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_TFACTOR);
    EXPECT_RGB_NEAR(Draw(), 192, 128, 64, 2);  // D + T x F
    // Stage 2 modulating what came before by the texture, its coordinates from set 0.
    device_->SetTexture(2, texture_);
    device_->SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, 0);
    Colour(2, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT);
    EXPECT_RGB_NEAR(Draw(), 48, 64, 48, 2);  // (192, 128, 64) x T
    device_->SetTexture(2, nullptr);
}

TEST_F(StageTest, AStageWithoutTextureReadsOpaqueWhite) {
    device_->SetTexture(0, nullptr);
    Colour(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 128, 128, 64, 1);
    Colour(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    EXPECT_RGB_NEAR(Draw(), 255, 255, 255, 0);
}

TEST_F(PixelTest, PreTransformedVerticesCoverExactlyTheirPixels) {
    ScreenRect(10, 20, 14, 23, 0xFFFFFFFF);
    for (int y = 18; y < 26; ++y) {
        for (int x = 8; x < 16; ++x) {
            const bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
            EXPECT_EQ(Pixel(x, y), inside ? 0xFFFFFFu : 0u) << x << "," << y;
        }
    }
}

TEST_F(PixelTest, TexturesOfEachFormatShowTheirTexels) {
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // A4R4G4B4: each 4-bit channel n shows as n x 17.
    IDirect3DTexture8* t = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &t), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    const std::uint16_t texels[4] = {0xFF00, 0xF0F0, 0xF00F, 0xF123};
    std::memcpy(lr.pBits, texels, 4);
    std::memcpy(static_cast<BYTE*>(lr.pBits) + lr.Pitch, texels + 2, 4);
    t->UnlockRect(0);
    device_->SetTexture(0, t);
    ScreenRect(0, 0, 2, 2, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(Pixel(1, 0), 0x00FF00u);
    EXPECT_EQ(Pixel(0, 1), 0x0000FFu);
    EXPECT_EQ(Pixel(1, 1), 0x112233u);
    t->Release();

    // DXT1: one block, colour 0 red, colour 1 blue, rows using indices 0, 1, 2, 3.
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t), D3D_OK);
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    const BYTE block[8] = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF};
    std::memcpy(lr.pBits, block, 8);
    t->UnlockRect(0);
    device_->SetTexture(0, t);
    ScreenRect(0, 0, 4, 4, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(2, 0), 0xFF0000u);
    EXPECT_EQ(Pixel(2, 1), 0x0000FFu);
    EXPECT_EQ(Pixel(2, 2), 0xAA0055u);
    EXPECT_EQ(Pixel(2, 3), 0x5500AAu);
    device_->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(PixelTest, StencilMasksTheSecondPass) {
    device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device_->SetRenderState(D3DRS_STENCILREF, 1);
    device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    ScreenRect(0, 0, 32, 64, 0xFFFFFFFF);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device_->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    FullScreen(0xFF0000FF);
    EXPECT_EQ(Pixel(31, 10), 0x0000FFu);
    EXPECT_EQ(Pixel(32, 10), 0u);
}

TEST_F(PixelTest, AlphaTestAndBlendFactors) {
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device_->SetRenderState(D3DRS_ALPHAREF, 0x80);
    ScreenRect(0, 0, 8, 8, 0x40FFFFFF);
    EXPECT_EQ(Pixel(4, 4), 0u) << "alpha 0x40 passed a test against 0x80";
    ScreenRect(0, 0, 8, 8, 0x80FFFFFF);
    EXPECT_EQ(Pixel(4, 4), 0xFFFFFFu);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);

    ScreenRect(16, 0, 24, 8, 0xFF0000FF);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ScreenRect(16, 0, 24, 8, 0x80FF0000);
    EXPECT_RGB_NEAR(Pixel(20, 4), 128, 0, 127, 1);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR);
    ScreenRect(32, 0, 40, 8, 0xFF404040);
    ScreenRect(32, 0, 40, 8, 0xFF804000);  // src + dst (1 - src)
    EXPECT_RGB_NEAR(Pixel(36, 4), 160, 112, 64, 1);
}

TEST_F(PixelTest, FrontFacesAreClockwise) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetVertexShader(0x42);
    const ColourVertex clockwise[3] = {{-0.5f, -0.5f, 0.5f, 0xFFFFFFFF}, {0.0f, 0.5f, 0.5f, 0xFFFFFFFF},
                                       {0.5f, -0.5f, 0.5f, 0xFFFFFFFF}};
    const ColourVertex counter[3] = {clockwise[0], clockwise[2], clockwise[1]};
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, counter, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0u) << "CCW culling kept a counter-clockwise face";
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, clockwise, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0xFFFFFFu);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, clockwise, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0u);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, counter, sizeof(ColourVertex));
    EXPECT_EQ(Pixel(32, 32), 0xFFFFFFu);
}

TEST_F(PixelTest, WBufferValueTestsDepth) {
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_USEW);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    ScreenRect(0, 0, 8, 8, 0xFFFF0000, 0.3f);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00, 0.6f);
    EXPECT_EQ(Pixel(4, 4), 0xFF0000u);
    ScreenRect(0, 0, 8, 8, 0xFF0000FF, 0.1f);
    EXPECT_EQ(Pixel(4, 4), 0x0000FFu);
}

TEST_F(PixelTest, ClearIgnoresTheWriteMasks) {
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    ScreenRect(0, 0, 8, 8, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(4, 4), 0u);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFF00FF, 0.25f, 0);
    EXPECT_EQ(Pixel(4, 4), 0xFF00FFu);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00, 0.5f);
    EXPECT_EQ(Pixel(4, 4), 0xFF00FFu) << "the depth clear to 0.25 did not happen";
}

TEST_F(PixelTest, LinearVertexFogByRangeOrByDepth) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 2, 1.0f, 1.0f, 100.0f);
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00FF0000);
    device_->SetRenderState(D3DRS_FOGSTART, FloatBits(0.0f));
    device_->SetRenderState(D3DRS_FOGEND, FloatBits(20.0f));
    device_->SetVertexShader(0x42);
    const ColourVertex quad[4] = {{-6, -6, 5, 0xFF00FF00}, {-6, 6, 5, 0xFF00FF00}, {6, -6, 5, 0xFF00FF00},
                                  {6, 6, 5, 0xFF00FF00}};
    // Each corner is sqrt(97) = 9.849 away: fog factor (20 - 9.849) / 20 = 0.5076.
    device_->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex));
    EXPECT_RGB_NEAR(Pixel(32, 32), 126, 129, 0, 2);
    EXPECT_RGB_NEAR(Pixel(3, 60), 126, 129, 0, 2);
    // By depth: 5 everywhere, factor 0.75.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device_->SetRenderState(D3DRS_RANGEFOGENABLE, FALSE);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex));
    EXPECT_RGB_NEAR(Pixel(32, 32), 64, 191, 0, 2);
    // Pre-transformed vertices are never fogged.
    FullScreen(0xFF0000FF, 0.0f);
    EXPECT_EQ(Pixel(32, 32), 0x0000FFu);
}

class LitTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        D3DMATERIAL8 m{};
        m.Diffuse = {1, 1, 1, 1};
        m.Ambient = {1, 1, 1, 1};
        m.Specular = {1, 1, 1, 1};
        m.Power = 1.0f;
        device_->SetMaterial(&m);
        device_->SetVertexShader(0x112);
    }
    void Quad() {
        const LitVertex q[4] = {{-1, -1, 0.5f, 0, 0, -1, 0, 0}, {-1, 1, 0.5f, 0, 0, -1, 0, 0},
                                {1, -1, 0.5f, 0, 0, -1, 0, 0}, {1, 1, 0.5f, 0, 0, -1, 0, 0}};
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LitVertex)), D3D_OK);
    }
    void Light(float x, float y, float z, float r, float g, float b) {
        D3DLIGHT8 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {r, g, b, 1};
        l.Specular = {1, 1, 1, 1};
        l.Direction = D3DXVECTOR3(x, y, z);
        device_->SetLight(0, &l);
        device_->LightEnable(0, TRUE);
    }
};

TEST_F(LitTest, NoLightAndNoAmbientIsBlack) {
    Quad();
    EXPECT_EQ(Pixel(32, 32), 0u) << "GL's own ambient leaked in";
    device_->SetRenderState(D3DRS_AMBIENT, 0xFF404040);
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 64, 64, 64, 1);
}

TEST_F(LitTest, DirectionalLightTravelsAlongItsDirection) {
    Light(0, 0, 1, 1.0f, 0.5f, 0.25f);
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 255, 128, 64, 2);
    Light(0.8660254f, 0, 0.5f, 1.0f, 0.5f, 0.25f);  // 60 degrees off: N.L = 0.5
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 128, 64, 32, 2);
    Light(0, 0, -1, 1.0f, 0.5f, 0.25f);  // from behind
    Quad();
    EXPECT_EQ(Pixel(32, 32), 0u);
}

TEST_F(LitTest, SpecularOnlyWhenEnabled) {
    Light(0, 0, 1, 0.5f, 0.25f, 0.125f);
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 128, 64, 32, 2);
    device_->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    Quad();
    EXPECT_GT(Channel(Pixel(32, 32), 0), 100) << "no specular highlight";
}

TEST_F(LitTest, LightsStayInWorldSpaceWhenTheViewTurns) {
    Light(0, 0, 1, 0.5f, 0.5f, 0.5f);
    D3DXMATRIX view;
    D3DXMatrixRotationY(&view, D3DX_PI / 6);
    device_->SetTransform(D3DTS_VIEW, &view);
    const LitVertex q[4] = {{-0.5f, -0.5f, 0.5f, 0, 0, -1, 0, 0}, {-0.5f, 0.5f, 0.5f, 0, 0, -1, 0, 0},
                            {0.5f, -0.5f, 0.5f, 0, 0, -1, 0, 0}, {0.5f, 0.5f, 0.5f, 0, 0, -1, 0, 0}};
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LitVertex));
    D3DXVECTOR3 centre(0, 0, 0.5f), projected;
    D3DXVec3TransformCoord(&projected, &centre, &view);
    const int px = static_cast<int>((projected.x + 1.0f) * 32.0f);
    EXPECT_RGB_NEAR(Pixel(px, 32), 128, 128, 128, 2);  // eye-space light would give 111
}

TEST_F(LitTest, LitSphereShadesByTheCosine) {
    Light(0, 0, 1, 1, 1, 1);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    std::vector<LitVertex> v;
    const int rings = 48, segments = 48;
    const float radius = 0.4f;
    auto point = [&](int i, int j) {
        const float theta = D3DX_PI * static_cast<float>(i) / rings, phi = 2 * D3DX_PI * static_cast<float>(j) / segments;
        const float nx = std::sin(theta) * std::cos(phi), ny = std::cos(theta), nz = std::sin(theta) * std::sin(phi);
        return LitVertex{radius * nx, radius * ny, 0.5f + radius * nz, nx, ny, nz, 0, 0};
    };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            v.push_back(point(i, j));
            v.push_back(point(i + 1, j));
            v.push_back(point(i, j + 1));
            v.push_back(point(i, j + 1));
            v.push_back(point(i + 1, j));
            v.push_back(point(i + 1, j + 1));
        }
    }
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(v.size() / 3), v.data(), sizeof(LitVertex)),
              D3D_OK);
    EXPECT_RGB_NEAR(Pixel(32, 32), 255, 255, 255, 3);  // facing the light
    // Column 38: x = 0.203, half the radius out; the normal's z is 0.861.
    EXPECT_RGB_NEAR(Pixel(38, 32), 220, 220, 220, 6);
    EXPECT_EQ(Pixel(55, 32), 0u);  // outside the sphere
}

}  // namespace

namespace {

struct TwoSetVertex {  // 0x212
    float x, y, z, nx, ny, nz, u0, v0, u1, v1;
};

class MoreTest : public DrawTest {
protected:
    IDirect3DTexture8* TwoTexels(std::uint32_t left, std::uint32_t right) {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
        D3DLOCKED_RECT lr{};
        t->LockRect(0, &lr, nullptr, 0);
        static_cast<std::uint32_t*>(lr.pBits)[0] = left;
        static_cast<std::uint32_t*>(lr.pBits)[1] = right;
        t->UnlockRect(0);
        return t;
    }
};

TEST_F(MoreTest, SecondTextureSetByCoordinateIndex) {
    IDirect3DTexture8* colours = TwoTexels(0xFFFF0000, 0xFF00FF00);
    IDirect3DTexture8* mask = TwoTexels(0xFFFFFFFF, 0xFF000000);
    device_->SetTexture(0, colours);
    device_->SetTexture(1, mask);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetVertexShader(0x212);
    // Set 0 samples the red texel, set 1 the black one.
    const TwoSetVertex q[4] = {{-1, -1, 0.5f, 0, 0, -1, 0.25f, 0.5f, 0.75f, 0.5f},
                               {-1, 1, 0.5f, 0, 0, -1, 0.25f, 0.5f, 0.75f, 0.5f},
                               {1, -1, 0.5f, 0, 0, -1, 0.25f, 0.5f, 0.75f, 0.5f},
                               {1, 1, 0.5f, 0, 0, -1, 0.25f, 0.5f, 0.75f, 0.5f}};
    device_->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TwoSetVertex));
    EXPECT_EQ(Pixel(32, 32), 0u);
    device_->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TwoSetVertex));
    EXPECT_EQ(Pixel(32, 32), 0xFF0000u);
    device_->SetTexture(0, nullptr);
    device_->SetTexture(1, nullptr);
    colours->Release();
    mask->Release();
}

TEST_F(MoreTest, PointAndLinearFiltersPerStage) {
    IDirect3DTexture8* t = TwoTexels(0xFF000000, 0xFFFFFFFF);
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    ScreenRect(0, 0, 64, 4, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(31, 2), 0u);
    EXPECT_EQ(Pixel(32, 2), 0xFFFFFFu);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    ScreenRect(0, 0, 64, 4, 0xFFFFFFFF);
    EXPECT_RGB_NEAR(Pixel(32, 2), 130, 130, 130, 3);  // u = 32.5 / 64: a little past the middle
    EXPECT_EQ(Pixel(0, 2), 0u);
    device_->SetTexture(0, nullptr);
    t->Release();
}

TEST_F(MoreTest, TriangleFanCoversItsDisc) {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetVertexShader(0x42);
    std::vector<ColourVertex> fan = {{0, 0, 0.5f, 0xFF00FFFF}};
    for (int i = 0; i <= 32; ++i) {
        const float a = 2 * D3DX_PI * static_cast<float>(i) / 32;
        fan.push_back({0.5f * std::cos(a), 0.5f * std::sin(a), 0.5f, 0xFF00FFFF});
    }
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 32, fan.data(), sizeof(ColourVertex)), D3D_OK);
    EXPECT_EQ(Pixel(32, 32), 0x00FFFFu);
    EXPECT_EQ(Pixel(32 + 14, 32), 0x00FFFFu);
    EXPECT_EQ(Pixel(32 + 18, 32), 0u);
    EXPECT_EQ(Pixel(32, 32 - 18), 0u);
}

}  // namespace

namespace {

TEST_F(LitTest, SpotLightLightsItsConeOnly) {
    const D3DLIGHT8 l = SpotLight(D3DXVECTOR3(0, 0, 1), 10.0f, 0.2f, 0.4f);
    device_->SetLight(0, &l);
    device_->LightEnable(0, TRUE);
    // A finely divided quad at z = 0.5: lighting is worked out per vertex.
    std::vector<LitVertex> v;
    const int n = 48;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            auto at = [&](int a, int b) {
                return LitVertex{-1 + 2.0f * static_cast<float>(a) / n, -1 + 2.0f * static_cast<float>(b) / n, 0.5f, 0, 0, -1, 0, 0};
            };
            v.push_back(at(i, j));
            v.push_back(at(i, j + 1));
            v.push_back(at(i + 1, j));
            v.push_back(at(i + 1, j));
            v.push_back(at(i, j + 1));
            v.push_back(at(i + 1, j + 1));
        }
    }
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(v.size() / 3), v.data(), sizeof(LitVertex)),
              D3D_OK);
    EXPECT_GT(Channel(Pixel(32, 32), 16), 200);  // on the axis
    // 0.3 out at depth 0.5 is 0.54 rad off the axis, beyond the outer half-angle 0.2.
    EXPECT_EQ(Pixel(32 + 10, 32), 0u);
    EXPECT_EQ(Pixel(32, 32 - 10), 0u);
}

}  // namespace

namespace {

TEST_F(LitTest, VertexColoursOfALitDrawDoNotStayInTheMaterial) {
    // A lit draw of coloured vertices takes its diffuse from them...
    device_->SetVertexShader(0x42);
    const ColourVertex coloured[4] = {{-1, -1, 0.5f, 0xFF00FF00}, {-1, 1, 0.5f, 0xFF00FF00},
                                      {1, -1, 0.5f, 0xFF00FF00}, {1, 1, 0.5f, 0xFF00FF00}};
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, coloured, sizeof(ColourVertex));
    // ...and the next lit draw without vertex colours uses the material again.
    D3DMATERIAL8 red{};
    red.Diffuse = {1, 0, 0, 1};
    device_->SetMaterial(&red);
    device_->SetVertexShader(0x112);
    Light(0, 0, 1, 1, 1, 1);
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 255, 0, 0, 1);
}

TEST_F(LitTest, ALightWithoutDirectionGivesItsAmbientOnly) {
    D3DLIGHT8 l{};
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {1, 1, 1, 0};
    l.Ambient = {0.25f, 0.25f, 0.25f, 0};
    device_->SetLight(0, &l);
    device_->LightEnable(0, TRUE);
    Quad();
    EXPECT_RGB_NEAR(Pixel(32, 32), 64, 64, 64, 1);
}

TEST_F(LitTest, PointLightsLightNothingBeyondTheirRange) {
    D3DLIGHT8 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1, 1, 1, 0};
    l.Position = D3DXVECTOR3(0, 0, 0);
    l.Range = 2.0f;
    l.Attenuation0 = 1.0f;
    device_->SetLight(0, &l);
    device_->LightEnable(0, TRUE);
    Quad();  // lit at the corners, 1.5 from the light: N.L = 0.5 / 1.5
    EXPECT_RGB_NEAR(Pixel(32, 32), 85, 85, 85, 2);
    // The same quad 2.5 farther away in the world (the view follows it): out of range.
    D3DXMATRIX world, view;
    D3DXMatrixTranslation(&world, 0, 0, 2.5f);
    D3DXMatrixTranslation(&view, 0, 0, -2.5f);
    device_->SetTransform(D3DTS_WORLD, &world);
    device_->SetTransform(D3DTS_VIEW, &view);
    Quad();
    EXPECT_EQ(Pixel(32, 32), 0u) << "lit beyond the range";
    l.Range = 10.0f;
    device_->SetLight(0, &l);
    Quad();  // corners sqrt(11) away: N.L = 3 / 3.317
    EXPECT_RGB_NEAR(Pixel(32, 32), 231, 231, 231, 2);
}

TEST_F(PixelTest, VertexFogIsWorkedOutAndClampedPerVertex) {
    D3DXMATRIX projection;  // orthographic: x and y as given, depth 0..100 to 0..1
    D3DXMatrixIdentity(&projection);
    projection._33 = 0.01f;
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device_->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    device_->SetRenderState(D3DRS_FOGCOLOR, 0x00FF0000);
    device_->SetRenderState(D3DRS_FOGSTART, FloatBits(0.0f));
    device_->SetRenderState(D3DRS_FOGEND, FloatBits(10.0f));
    device_->SetVertexShader(0x42);
    // Depth 2 on the left (fog factor 0.8), 30 on the right (-2, held at 0):
    // the factor runs from 0.8 to 0 across the quad.
    const ColourVertex quad[4] = {{-1, -1, 2, 0xFF00FF00}, {-1, 1, 2, 0xFF00FF00}, {1, -1, 30, 0xFF00FF00},
                                  {1, 1, 30, 0xFF00FF00}};
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColourVertex));
    const float f = 0.8f * (1.0f - 32.5f / 64.0f);
    EXPECT_RGB_NEAR(Pixel(32, 32), static_cast<int>(255 * (1 - f) + 0.5f), static_cast<int>(255 * f + 0.5f), 0, 3);
    EXPECT_RGB_NEAR(Pixel(63, 32), 255, 0, 0, 3);
}

}  // namespace

namespace {

// The landing light's cone (theta 0.1, phi 0.2, falloff 1) on a wall 1 away,
// seen through an orthographic window over x 0.04..0.12, y -0.04..0.04, so
// the band between the cones spans most of the picture.
TEST_F(LitTest, SpotConeIsFullInsideThetaDarkBeyondPhiAndLinearBetween) {
    D3DLIGHT8 l = SpotLight(D3DXVECTOR3(0, 0, 1), 2.0f, 0.1f, 0.2f);
    l.Diffuse = {1, 1, 0.75f, 0};
    l.Ambient = {0.2f, 0.2f, 0.2f, 0};
    device_->SetLight(1, &l);
    device_->LightEnable(1, TRUE);
    device_->SetRenderState(D3DRS_AMBIENT, 0x00101010);  // the global ambient adds 16
    D3DXMATRIX projection;
    D3DXMatrixIdentity(&projection);
    projection._11 = projection._22 = 25.0f;
    projection._41 = -2.0f;  // x 0.08 in the middle
    projection._33 = 0.5f;
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    std::vector<LitVertex> v;
    const int n = 64;
    auto at = [&](int a, int b) {
        return LitVertex{0.04f + 0.08f * static_cast<float>(a) / n, -0.04f + 0.08f * static_cast<float>(b) / n, 1.0f,
                         0.6f, 0, -0.8f, 0, 0};  // the normal leans away from the light
    };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            for (const auto& [a, b] : {std::pair{i, j}, {i, j + 1}, {i + 1, j}, {i + 1, j}, {i, j + 1}, {i + 1, j + 1}}) {
                v.push_back(at(a, b));
            }
        }
    }
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(v.size() / 3), v.data(), sizeof(LitVertex)),
              D3D_OK);
    Dump("spot_cone");
    // Worked by angle: off the axis by atan(x); lit fully to 0.05, not at all
    // past 0.1, in between by how far cos(angle) lies from cos 0.1 towards
    // cos 0.05. The cone scales the light's ambient 0.2 and its diffuse, which
    // goes by the incidence on the leaning normal: (0.8 - 0.6 x) / sqrt(1 + x^2).
    for (const int column : {4, 20, 32, 44, 60}) {
        const double x = 0.04 + 0.08 * (column + 0.5) / 64.0;
        const double angle = std::atan(x);
        double cone = angle <= 0.05 ? 1.0 : angle >= 0.1 ? 0.0 : (std::cos(angle) - std::cos(0.1)) / (std::cos(0.05) - std::cos(0.1));
        const double incidence = (0.8 - 0.6 * x) / std::sqrt(1 + x * x);
        const std::uint32_t p = Pixel(column, 32);
        EXPECT_NEAR(Channel(p, 16), std::min(255.0, 16 + 255 * cone * (0.2 + incidence)), 3)
            << "column " << column << " angle " << angle;
        EXPECT_NEAR(Channel(p, 0), 16 + 255 * cone * (0.2 + 0.75 * incidence), 3) << "column " << column;
    }
}

}  // namespace
