// Pixels of the device features the cockpit view's drawing relies on: additive
// emissive lights, compressed textures with alpha and mip chains, the alpha
// test against reference 0, wrapped detail coordinates on the second set, and
// Present while a scene is open.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <array>

#include "tests/gfx_draw/draw_fixture.h"

namespace {

struct TwoSetVertex {  // 0x212
    float x, y, z, nx, ny, nz, u0, v0, u1, v1;
};

class SceneFeatureTest : public DrawTest {
protected:
    // A texture of 4x4 blocks, one level per entry of blocks (level k is
    // max(1, size >> k) texels wide); each block's bytes as given.
    IDirect3DTexture8* BlockTexture(D3DFORMAT format, UINT size, const std::vector<std::vector<BYTE>>& levels) {
        IDirect3DTexture8* t = nullptr;
        EXPECT_EQ(device_->CreateTexture(size, size, static_cast<UINT>(levels.size()), 0, format, D3DPOOL_MANAGED, &t),
                  D3D_OK);
        for (UINT k = 0; k < levels.size(); ++k) {
            D3DLOCKED_RECT lr{};
            EXPECT_EQ(t->LockRect(k, &lr, nullptr, 0), D3D_OK);
            const UINT blocks = std::max(1u, (size >> k) / 4);
            for (UINT by = 0; by < blocks; ++by) {
                for (UINT bx = 0; bx < blocks; ++bx) {
                    std::memcpy(static_cast<BYTE*>(lr.pBits) + by * static_cast<UINT>(lr.Pitch) + bx * levels[k].size(),
                                levels[k].data(), levels[k].size());
                }
            }
            t->UnlockRect(k);
        }
        return t;
    }
    // A one-colour DXT1 block: colour 0 everywhere.
    static std::vector<BYTE> FlatDxt1(std::uint16_t rgb565) {
        return {static_cast<BYTE>(rgb565), static_cast<BYTE>(rgb565 >> 8), 0, 0, 0, 0, 0, 0};
    }
    // A lit quad of 0x112 vertices over the whole view, facing the viewer.
    void LitQuad() {
        const LitVertex q[4] = {{-1, -1, 0.5f, 0, 0, -1, 0, 0}, {-1, 1, 0.5f, 0, 0, -1, 0, 0},
                                {1, -1, 0.5f, 0, 0, -1, 0, 0}, {1, 1, 0.5f, 0, 0, -1, 0, 0}};
        device_->SetVertexShader(0x112);
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(LitVertex)), D3D_OK);
    }
};

// A navigation light: lit, only emissive, added as source x source + dest.
TEST_F(SceneFeatureTest, EmissiveNavLightAddsItsColourSquared) {
    D3DMATERIAL8 m{};
    m.Emissive = {0.5f, 0.25f, 0.75f, 0};
    device_->SetMaterial(&m);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    // Lit by GL, then by the device (a spot light with a falloff band that
    // points away adds nothing but moves the draw to the device's lighting).
    for (const bool deviceLit : {false, true}) {
        const D3DLIGHT8 spot = SpotLight(D3DXVECTOR3(0, 0, -1), 10.0f, 0.1f, 0.2f);
        device_->SetLight(1, &spot);
        device_->LightEnable(1, deviceLit);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        FullScreen(0xFF202020);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_LIGHTING, TRUE);
        LitQuad();
        // 32 + 255 x (0.25, 0.0625, 0.5625)
        SCOPED_TRACE(deviceLit ? "lit by the device" : "lit by GL");
        EXPECT_RGB_NEAR(Pixel(32, 32), 96, 48, 175, 2);
        if (!deviceLit) Dump("nav_light");
    }
    // Beyond the fade distance the emissive turns negative: the light adds nothing.
    m.Emissive = {-0.1f, -0.2f, -0.3f, 0};
    device_->SetMaterial(&m);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    FullScreen(0xFF202020);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    LitQuad();
    EXPECT_EQ(Pixel(32, 32), 0x202020u);
}

// DXT3: colours as in DXT1's four-colour mode, each texel's alpha 4 bits.
TEST_F(SceneFeatureTest, Dxt3TextureShowsItsColoursUnderItsOwnAlpha) {
    // Alpha by column 15, 0, 5, 10; colour by row: red, blue, 2/3 red + 1/3 blue, 1/3 red + 2/3 blue.
    const std::vector<BYTE> block = {0x0F, 0xA5, 0x0F, 0xA5, 0x0F, 0xA5, 0x0F, 0xA5,
                                     0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0xFF};
    IDirect3DTexture8* t = BlockTexture(D3DFMT_DXT3, 4, {block});
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ScreenRect(0, 0, 4, 4, 0xFFFFFFFF);
    Dump("dxt3");
    EXPECT_EQ(Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(Pixel(1, 0), 0u);
    EXPECT_RGB_NEAR(Pixel(2, 0), 85, 0, 0, 1);   // 255 x 5/15
    EXPECT_RGB_NEAR(Pixel(3, 1), 0, 0, 170, 1);  // 255 x 10/15
    EXPECT_EQ(Pixel(0, 2), 0xAA0055u);
    EXPECT_RGB_NEAR(Pixel(3, 3), 57, 0, 113, 1);  // (85, 0, 170) x 10/15
    device_->SetTexture(0, nullptr);
    t->Release();
}

// A 16x16 DXT1 chain, each level one colour, drawn at 16, 8, 4 and 2 pixels:
// with a mip filter the level whose size matches shows, without one level 0.
TEST_F(SceneFeatureTest, MipLevelOfADxtChainFollowsTheDrawnSize) {
    const std::array<std::uint16_t, 5> colours = {0xF800, 0x07E0, 0x001F, 0xFFE0, 0xFFFF};
    const std::array<std::uint32_t, 5> shown = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFFFFFF};
    std::vector<std::vector<BYTE>> levels;
    for (const std::uint16_t c : colours) levels.push_back(FlatDxt1(c));
    IDirect3DTexture8* t = BlockTexture(D3DFMT_DXT1, 16, levels);
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    float x = 0;
    for (int k = 0; k < 4; ++k) {
        const float size = static_cast<float>(16 >> k);
        ScreenRect(x, 0, x + size, size, 0xFFFFFFFF);
        EXPECT_EQ(Pixel(static_cast<int>(x + size / 2), static_cast<int>(size / 2)), shown[static_cast<size_t>(k)])
            << "drawn " << size << " wide";
        x += size + 2;
    }
    Dump("mip_chain");
    // Between sizes the nearest level shows whole: 12 wide is level 0.415, 6 wide 1.415.
    ScreenRect(0, 24, 12, 36, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(6, 30), shown[0]);
    ScreenRect(16, 24, 22, 30, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(19, 27), shown[1]);
    device_->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
    ScreenRect(0, 40, 4, 44, 0xFFFFFFFF);
    EXPECT_EQ(Pixel(2, 42), shown[0]) << "without a mip filter level 0 shows";
    device_->SetTexture(0, nullptr);
    t->Release();
}

// A cloud puff: DXT3 texels of alpha 15 and 0, alpha test GREATER against
// the default reference 0. Its alpha-0 texels leave colour and depth alone,
// so a quad drawn behind it afterwards shows through them.
TEST_F(SceneFeatureTest, TexelsOfAlphaZeroWriteNeitherColourNorDepth) {
    DWORD reference = 1;
    device_->GetRenderState(D3DRS_ALPHAREF, &reference);
    EXPECT_EQ(reference, 0u);
    // Left two columns alpha 15, right two alpha 0; all white.
    const std::vector<BYTE> block = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    IDirect3DTexture8* t = BlockTexture(D3DFMT_DXT3, 4, {block});
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    ScreenRect(0, 0, 8, 8, 0xFFFFFFFF, 0.3f);  // each texel 2 x 2 pixels
    EXPECT_EQ(Pixel(1, 4), 0xFFFFFFu);
    EXPECT_EQ(Pixel(6, 4), 0u) << "a texel of alpha 0 wrote colour";
    device_->SetTexture(0, nullptr);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00, 0.6f);  // behind the puff
    Dump("cloud_alpha_test");
    EXPECT_EQ(Pixel(1, 4), 0xFFFFFFu) << "the opaque texels wrote no depth";
    EXPECT_EQ(Pixel(6, 4), 0x00FF00u) << "a texel of alpha 0 wrote depth";
    t->Release();
}

// A terrain patch's detail: the second set's coordinates run from 0.5 to 1.5
// across the quad and wrap, the detail doubling the base colour it modulates.
TEST_F(SceneFeatureTest, SecondSetWrapsBeyondOneUnderModulate2x) {
    IDirect3DTexture8* base = SolidTexture(D3DFMT_A8R8G8B8, 0xFF406030);
    IDirect3DTexture8* detail = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &detail), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(detail->LockRect(0, &lr, nullptr, 0), D3D_OK);
    // Texels A, B, C, D: grey (132, 130, 132), half, red, blue.
    const std::uint32_t texels[4] = {0xFF848284, 0xFF808080, 0xFFFF0000, 0xFF0000FF};
    std::memcpy(lr.pBits, texels, sizeof(texels));
    detail->UnlockRect(0);
    device_->SetTexture(0, base);
    device_->SetTexture(1, detail);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    device_->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device_->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    device_->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetVertexShader(0x212);
    const TwoSetVertex q[4] = {{-1, -1, 0.5f, 0, 0, -1, 0, 1, 0.5f, 0.5f}, {-1, 1, 0.5f, 0, 0, -1, 0, 0, 0.5f, 0.5f},
                               {1, -1, 0.5f, 0, 0, -1, 1, 1, 1.5f, 0.5f}, {1, 1, 0.5f, 0, 0, -1, 1, 0, 1.5f, 0.5f}};
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TwoSetVertex)), D3D_OK);
    Dump("detail_wrap");
    // Column c samples u = 0.5 + (c + 0.5) / 64: 8 -> 0.63 (C), 24 -> 0.88 (D),
    // 40 -> 1.13 (A), 56 -> 1.38 (B). Base (64, 96, 48) x 2 x texel / 255.
    EXPECT_RGB_NEAR(Pixel(8, 32), 128, 0, 0, 1);
    EXPECT_RGB_NEAR(Pixel(24, 32), 0, 0, 96, 1);
    EXPECT_RGB_NEAR(Pixel(40, 32), 66, 98, 50, 1);
    EXPECT_RGB_NEAR(Pixel(56, 32), 64, 96, 48, 1);
    device_->SetTexture(0, nullptr);
    device_->SetTexture(1, nullptr);
    base->Release();
    detail->Release();
}

// The loading screen presents each line inside its open scene and draws the
// next over what the back buffer holds.
TEST_F(SceneFeatureTest, PresentInsideAnOpenSceneKeepsTheSceneAndTheBuffer) {
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    ScreenRect(0, 0, 8, 8, 0xFFFF0000);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ScreenRect(8, 0, 16, 8, 0xFF00FF00);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL) << "Present closed the scene";
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(4, 4), 0xFF0000u);
    EXPECT_EQ(Pixel(12, 4), 0x00FF00u);
}

}  // namespace

namespace {

// Another user of the context changes GL behind the device's back; once told,
// the device gives its whole state again.
TEST_F(SceneFeatureTest, ForgottenGlStateIsGivenAgain) {
    IDirect3DTexture8* t = SolidTexture(D3DFMT_A8R8G8B8, 0xFFFF0000);
    device_->SetTexture(0, t);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    ScreenRect(0, 0, 8, 8, 0xFF00FF00);
    EXPECT_EQ(Pixel(4, 4), 0xFF0000u);
    glActiveTexture(GL_TEXTURE0);
    glDisable(GL_TEXTURE_2D);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDisableClientState(GL_VERTEX_ARRAY);
    static_cast<GlDevice*>(device_)->DrawState().ForgetApplied();
    ScreenRect(8, 0, 16, 8, 0xFF00FF00);
    EXPECT_EQ(Pixel(12, 4), 0xFF0000u);
    device_->SetTexture(0, nullptr);
    t->Release();
}

}  // namespace
