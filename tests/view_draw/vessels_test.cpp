// The other vessels and the projectiles: helper formulas, the recorded steps and
// the three-stage ship in pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include "tests/view_draw/draw_scene_support.h"
#include "view/draw_vessels.h"

namespace {

// What the device holds when a draw is issued.
struct DrawState {
    D3DXMATRIX world;
    D3DLIGHT8 sun{};
    D3DLIGHT8 shine{};
    BOOL shineOn = FALSE;
    IDirect3DBaseTexture8* texture0 = nullptr;
    DWORD factor = 0, op0 = 0, op1 = 0, op2 = 0, arg10 = 0, arg11 = 0, arg12 = 0;
    DWORD blend = 0, src = 0, dest = 0, mag2 = 0, min2 = 0;
    D3DMATERIAL8 material{};
};

void ExpectColour(const D3DCOLORVALUE& c, float r, float g, float b, const char* what)
{
    EXPECT_NEAR(c.r, r, 1e-4f) << what;
    EXPECT_NEAR(c.g, g, 1e-4f) << what;
    EXPECT_NEAR(c.b, b, 1e-4f) << what;
}

void ExpectMatrix(const D3DXMATRIX& m, const D3DXMATRIX& expected, float tol = 1e-5f)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.m[r][c], expected.m[r][c], tol) << "row " << r << " col " << c;
}

}  // namespace

TEST(SceneVessels, EngineGlowFollowsTheClockAndStaysAByte)
{
    EXPECT_EQ(EngineGlow(0.0f), 255);
    EXPECT_EQ(EngineGlow(2.0f * D3DX_PI), 255);
    EXPECT_EQ(EngineGlow(1.0f), 196);   // 128 cos 1 = 69.16
    EXPECT_EQ(EngineGlow(2.0f), 74);    // 128 cos 2 = -53.27 truncates to -53
    EXPECT_EQ(EngineGlow(D3DX_PI), 0);  // -128 + 127 held at 0
    EXPECT_EQ(GlowFactor(196), 0x00C4C4C4u);
    EXPECT_EQ(GlowFactor(255), 0x00FFFFFFu);
}

TEST(SceneVessels, NavLightSizeBothRulesMeetAtTheThreshold)
{
    EXPECT_NEAR(NavLightSize(1.9f), 1.3784049f, 1e-6f);
    EXPECT_NEAR(NavLightSize(1.9001f), 1.3784775f, 1e-5f);
    EXPECT_NEAR(NavLightSize(4.0f), 2.9019049f, 1e-5f);
    EXPECT_EQ(NavLightSize(0.25f), 0.5f);
}

TEST(SceneVessels, BlinkPatternsOverTheWalkingBit)
{
    int ff = 0, fiftyFive = 0;
    for (int k = 0; k < 32; ++k) {
        const std::uint32_t bit = 0x80000000u >> k;  // bit 31 - k
        const bool low = 31 - k < 8;
        EXPECT_EQ(NavLightShows(0xFF, bit), low) << "bit " << 31 - k;
        EXPECT_EQ(NavLightShows(0x55, bit), low && (31 - k) % 2 == 0) << "bit " << 31 - k;
        ff += NavLightShows(0xFF, bit) ? 1 : 0;
        fiftyFive += NavLightShows(0x55, bit) ? 1 : 0;
    }
    EXPECT_EQ(ff, 8);
    EXPECT_EQ(fiftyFive, 4);
}

TEST(SceneVessels, LightingInTheSunAndInTheShadow)
{
    const ColorRgb step{0.3f, 0.2f, 0.1f};
    // 10 km up at the terminator: fully lit; the surface under the sun is up and back.
    VesselLighting lit = ComputeVesselLighting({2949.6f, 0, 0}, {0, 1, 0}, step);
    EXPECT_EQ(lit.Lit, 1.0f);
    ExpectColour(lit.SunDiffuse, 0.9f, 0.95f, 1.0f, "sun diffuse");
    EXPECT_TRUE(lit.PlanetShine);
    EXPECT_EQ(lit.PlanetShineLight.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_NEAR(lit.PlanetShineLight.Direction.x, -0.7083064f, 1e-5f);
    EXPECT_NEAR(lit.PlanetShineLight.Direction.y, 0.7059051f, 1e-5f);
    ExpectColour(lit.PlanetShineLight.Diffuse, 0.2103150f, 0.2219992f, 0.2336833f, "planet shine");
    ExpectColour(lit.SunAmbient, 0.3104771f, 0.1703181f, 0.2101590f, "ambient near the ground");

    // At 100 km the ambient is the standard one.
    lit = ComputeVesselLighting({3039.6f, 0, 0}, {0, 1, 0}, step);
    ExpectColour(lit.SunAmbient, 0.13f, 0.05f, 0.15f, "ambient above the air");

    // Straight behind the planet: no sun, no planet shine, standard ambient.
    const VesselLighting dark = ComputeVesselLighting({0, -2950.0f, 0}, {0, 1, 0}, step);
    EXPECT_EQ(dark.Lit, 0.0f);
    EXPECT_FALSE(dark.PlanetShine);
    ExpectColour(dark.SunDiffuse, 0, 0, 0, "sun diffuse in shadow");
    ExpectColour(dark.SunAmbient, 0.13f, 0.05f, 0.15f, "ambient in shadow");
}

TEST(SceneVessels, ProjectileTextureIndexKeepsToTheSets)
{
    EXPECT_EQ(ProjectileTextureIndex(0, 19), 19);  // weapon20.dds
    EXPECT_EQ(ProjectileTextureIndex(1, 0), 0);    // blast1.dds
    EXPECT_EQ(ProjectileTextureIndex(1, 42), 42);
    EXPECT_EQ(ProjectileTextureIndex(0, 20), -1);
    EXPECT_EQ(ProjectileTextureIndex(1, 43), -1);
    EXPECT_EQ(ProjectileTextureIndex(1, 200), -1);  // a negative signed byte
}

class VesselStep : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        if (HasFatalFailure()) return;
        recorder_->onCall = [this](const DeviceCall& c) {
            if (c.name != "DrawPrimitive") return;
            DrawState s;
            device_->GetTransform(D3DTS_WORLD, &s.world);
            device_->GetLight(0, &s.sun);
            device_->GetLight(2, &s.shine);
            device_->GetLightEnable(2, &s.shineOn);
            s.texture0 = StageTexture(0);
            device_->GetRenderState(D3DRS_TEXTUREFACTOR, &s.factor);
            device_->GetTextureStageState(0, D3DTSS_COLOROP, &s.op0);
            device_->GetTextureStageState(1, D3DTSS_COLOROP, &s.op1);
            device_->GetTextureStageState(2, D3DTSS_COLOROP, &s.op2);
            device_->GetTextureStageState(1, D3DTSS_COLORARG0, &s.arg10);
            device_->GetTextureStageState(1, D3DTSS_COLORARG1, &s.arg11);
            device_->GetTextureStageState(1, D3DTSS_COLORARG2, &s.arg12);
            device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &s.blend);
            device_->GetRenderState(D3DRS_SRCBLEND, &s.src);
            device_->GetRenderState(D3DRS_DESTBLEND, &s.dest);
            device_->GetMaterial(&s.material);
            device_->GetTextureStageState(2, D3DTSS_MAGFILTER, &s.mag2);
            device_->GetTextureStageState(2, D3DTSS_MINFILTER, &s.min2);
            draws_.push_back(s);
        };
    }
    std::vector<DrawState> draws_;
};

TEST_F(VesselStep, EverySlotButTheOwnIsMeasuredAndDrawn)
{
    SetModel(0, FacingSquare());
    SetModel(POLYGON_LIGHT_SPHERE, FacingSquare());
    app_->ShipLightTexture = Texture(0xFF112233);
    app_->ShipEngineTexture = Texture(0xFF445566);
    app_->ShipTexture = Texture(0xFF778899);
    app_->PolygonObjects[0].NavLightCount = 2;
    app_->PolygonObjects[0].NavLights =
        new NavLight[2]{{{0, 2, 0}, 1.0f, 0.5f, 0.25f, 0xFF}, {{0, -2, 0}, 0.0f, 1.0f, 0.0f, 0x100}};
    app_->SunLight.Type = D3DLIGHT_DIRECTIONAL;
    app_->AppTime = 0.0f;
    Atmosphere.FrameSunDirection = {0, 1, 0};
    Atmosphere.SunAmbientStep = {0.3f, 0.2f, 0.1f};
    FogEnabled = 1;
    recorder_->Inner()->SetRenderState(D3DRS_FOGENABLE, TRUE);

    OwnVesselIndex = 3;
    Vessels[3].Position = {3000, 0, 0};
    Vessels[3].Distance = -7.0f;
    Vessels[0].Position = {3038, 0, 0};  // exactly the near limit, absent
    Vessels[1].Position = {3019, 0, 0};  // near, present, first light showing
    Vessels[1].Present = 1;
    Vessels[1].BlinkBits = 0x00000001;
    Vessels[2].Position = {3100, 0, 0};  // far
    Vessels[4].Position = {2949.6f, 0, 0};  // lit, 10 km up
    Vessels[5].Position = {0, -3000, 0};    // in the planet's shadow
    Vessels[6].Position = {0, 3000, 0};
    Vessels[7].Position = {0, 3000, 10};
    D3DXMatrixTranslation(&Vessels[1].WorldMatrix, 0, 0, 5);

    ASSERT_EQ(DrawVessels(*app_), S_OK);

    EXPECT_EQ(Vessels[3].Distance, -7.0f);
    EXPECT_FLOAT_EQ(Vessels[0].Distance, 38.0f);
    EXPECT_FLOAT_EQ(Vessels[1].Distance, 19.0f);
    EXPECT_FLOAT_EQ(Vessels[2].Distance, 100.0f);
    EXPECT_NEAR(Vessels[5].Distance, 4242.6406f, 1e-3f);
    EXPECT_FLOAT_EQ(Vessels[6].Distance, Vessels[5].Distance);

    // 0 model, 1 model and one nav light, 2, 4, 5, 6, 7 spheres.
    ASSERT_EQ(draws_.size(), 8u);
    const DrawState& absent = draws_[0];
    EXPECT_EQ(absent.texture0, nullptr);
    EXPECT_EQ(absent.factor, 0u);
    EXPECT_EQ(absent.op0, static_cast<DWORD>(D3DTOP_ADDSMOOTH));
    EXPECT_EQ(absent.op1, static_cast<DWORD>(D3DTOP_MULTIPLYADD));
    EXPECT_EQ(absent.op2, static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(absent.arg10, D3DTA_CURRENT);
    EXPECT_EQ(absent.arg11, D3DTA_TEXTURE);
    EXPECT_EQ(absent.arg12, D3DTA_TFACTOR);

    const DrawState& present = draws_[1];
    EXPECT_EQ(present.texture0, app_->ShipLightTexture);
    EXPECT_EQ(present.factor, 0x00FFFFFFu);
    EXPECT_EQ(present.blend, 0u);

    const DrawState& light = draws_[2];
    EXPECT_EQ(light.op0, static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(light.op1, static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(light.texture0, nullptr);
    EXPECT_EQ(light.blend, 1u);
    EXPECT_EQ(light.src, static_cast<DWORD>(D3DBLEND_SRCCOLOR));
    EXPECT_EQ(light.dest, static_cast<DWORD>(D3DBLEND_ONE));
    ExpectColour(light.material.Emissive, 0.5f, 0.25f, 0.125f, "nav light at fade 0.5");
    ExpectColour(light.material.Diffuse, 0, 0, 0, "nav light diffuse");
    const float size = 19.0f / 1.3784049f;
    ExpectMatrix(light.world, D3DXMATRIX(size, 0, 0, 0, 0, size, 0, 0, 0, 0, size, 0, 0, 2, 5, 1), 1e-4f);

    const DrawState& far = draws_[3];
    EXPECT_EQ(far.texture0, nullptr);
    // The white material is back after the nav light.
    EXPECT_EQ(far.material.Power, 70.0f);
    ExpectColour(far.material.Diffuse, 1, 1, 1, "material after a nav light");
    ExpectColour(far.material.Emissive, 0, 0, 0, "emissive after a nav light");
    EXPECT_EQ(present.mag2, static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(present.min2, static_cast<DWORD>(D3DTEXF_LINEAR));
    ExpectMatrix(far.world, D3DXMATRIX(19, 0, 0, 0, 0, 19, 0, 0, 0, 0, 19, 0, 0, 0, 0, 1), 1e-4f);

    // Light 2 is on exactly for the lit vessels, each with its own planet shine.
    const bool shineExpected[] = {true, true, true, true, true, false, true, true};
    for (size_t i = 0; i < draws_.size(); ++i) EXPECT_EQ(draws_[i].shineOn != 0, shineExpected[i]) << "draw " << i;
    ExpectColour(draws_[4].sun.Ambient, 0.3104771f, 0.1703181f, 0.2101590f, "vessel 10 km up");
    ExpectColour(draws_[5].sun.Ambient, 0.13f, 0.05f, 0.15f, "vessel in shadow after a low one");
    ExpectColour(draws_[5].sun.Diffuse, 0, 0, 0, "vessel in shadow");
    ExpectColour(draws_[4].shine.Diffuse, 0.2103150f, 0.2219992f, 0.2336833f, "planet shine");
    // Straight above the point under the sun the shine falls along the sunlight: none.
    ExpectColour(draws_[6].shine.Diffuse, 0, 0, 0, "planet shine above the point under the sun");

    // Restored after the loop.
    D3DLIGHT8 sun{};
    device_->GetLight(0, &sun);
    ExpectColour(sun.Diffuse, 0.9f, 0.95f, 1.0f, "sun diffuse after");
    ExpectColour(sun.Ambient, 0.13f, 0.05f, 0.15f, "sun ambient after");
    BOOL shine = TRUE;
    device_->GetLightEnable(2, &shine);
    EXPECT_FALSE(shine);
    DWORD v = 0;
    device_->GetTextureStageState(2, D3DTSS_MAGFILTER, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_POINT));
    device_->GetTextureStageState(2, D3DTSS_MINFILTER, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_POINT));
    device_->GetRenderState(D3DRS_FOGENABLE, &v);
    EXPECT_EQ(v, 0u);
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, 0u);
}

TEST_F(VesselStep, ProjectilesByCounterUnderTheirLocks)
{
    for (int k = 0; k < WEAPON_TEXTURE_COUNT; ++k) app_->WeaponTextures[k] = Texture(0xFF000000u + k);
    for (int k = 0; k < BLAST_TEXTURE_COUNT; ++k) app_->BlastTextures[k] = Texture(0xFF000100u + k);
    IDirect3DVertexBuffer8* quad = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(4 * sizeof(ModelVertex), 0, MODEL_VERTEX_FVF, D3DPOOL_MANAGED, &quad),
              D3D_OK);
    owned_.push_back(quad);
    app_->SunQuadBuffer = quad;
    Atmosphere.EyeOffset = {-10, 0, 0};
    FogEnabled = 1;

    struct Shot {
        std::uint8_t active, exploded, counter;
    };
    const Shot shots[8] = {{1, 0, 19}, {1, 1, 0}, {0, 0, 3}, {1, 0, 25}, {1, 1, 200}, {1, 0, 0}, {0, 1, 1}, {1, 1, 42}};
    for (int j = 0; j < 8; ++j) {
        Projectiles[j].Active = shots[j].active;
        Projectiles[j].Exploded = shots[j].exploded;
        Projectiles[j].FrameCounter = shots[j].counter;
        Projectiles[j].Position = {12.0f + j, 3, 4};
    }
    std::vector<bool> heldElsewhere;
    recorder_->onCall = [&](const DeviceCall& c) {
        if (c.name != "DrawPrimitive") return;
        DrawState s;
        device_->GetTransform(D3DTS_WORLD, &s.world);
        s.texture0 = StageTexture(0);
        device_->GetTextureStageState(0, D3DTSS_COLOROP, &s.op0);
        device_->GetRenderState(D3DRS_SRCBLEND, &s.src);
        device_->GetRenderState(D3DRS_DESTBLEND, &s.dest);
        draws_.push_back(s);
        // The projectile drawn is the one whose translation this is.
        const int j = static_cast<int>(std::lround(-s.world._41 - 2.0f));
        ASSERT_TRUE(j >= 0 && j < 8);
        heldElsewhere.push_back(!std::async(std::launch::async, [j] {
                                    const bool got = Projectiles[j].Lock.TryEnter();
                                    if (got) Projectiles[j].Lock.Leave();
                                    return got;
                                }).get());
    };

    ASSERT_EQ(DrawProjectiles(*app_), S_OK);

    ASSERT_EQ(draws_.size(), 4u);  // shots 0, 1, 5, 7
    EXPECT_EQ(draws_[0].texture0, app_->WeaponTextures[19]);
    EXPECT_EQ(draws_[1].texture0, app_->BlastTextures[0]);
    EXPECT_EQ(draws_[2].texture0, app_->WeaponTextures[0]);
    EXPECT_EQ(draws_[3].texture0, app_->BlastTextures[42]);
    EXPECT_EQ(heldElsewhere, std::vector<bool>(4, true));
    EXPECT_EQ(draws_[0].op0, static_cast<DWORD>(D3DTOP_SELECTARG1));
    EXPECT_EQ(draws_[0].src, static_cast<DWORD>(D3DBLEND_ONE));
    EXPECT_EQ(draws_[0].dest, static_cast<DWORD>(D3DBLEND_INVSRCCOLOR));
    // Facing the nose-forward viewer at one two-hundredth, drawn at -(p + eye offset).
    const float s = 0.005f;
    ExpectMatrix(draws_[0].world, D3DXMATRIX(0, s, 0, 0, 0, 0, s, 0, s, 0, 0, 0, -2, -3, -4, 1), 1e-6f);
    const auto strips = recorder_->Named("DrawPrimitive");
    EXPECT_EQ(strips[0].args, (std::vector<DWORD>{static_cast<DWORD>(D3DPT_TRIANGLESTRIP), 0, 2}));

    DWORD v = 0;
    device_->GetTextureStageState(0, D3DTSS_COLOROP, &v);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTOP_MODULATE));
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &v);
    EXPECT_EQ(v, 0u);
    const auto fog = recorder_->Named("SetRenderState");
    EXPECT_EQ(fog.back().args, (std::vector<DWORD>{D3DRS_FOGENABLE, 0}));
}

class ShipPixels : public SceneTest {};

TEST_F(ShipPixels, ThreeStagesOfFlatTexturesWorkedByHand)
{
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 2, 1.0f, 1.0f, 100.0f);
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_LIGHTING, TRUE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device_->SetVertexShader(MODEL_VERTEX_FVF);
    device_->SetMaterial(&WhiteMaterial);
    device_->LightEnable(0, TRUE);

    SetModel(0, FacingSquare());
    SetModel(POLYGON_LIGHT_SPHERE, FacingSquare());
    app_->ShipLightTexture = Texture(0xFF336699);   // (0.2, 0.4, 0.6)
    app_->ShipEngineTexture = Texture(0xFF402010);  // (64, 32, 16) / 255
    app_->ShipTexture = Texture(0xFFC0C0C0);        // 192 / 255
    app_->SunLight.Type = D3DLIGHT_DIRECTIONAL;
    app_->SunLight.Direction = {0, 0, 1};  // straight onto the square
    app_->AppTime = 2.0f;                  // glow 74
    Atmosphere.FrameSunDirection = {0, 1, 0};
    Atmosphere.SunAmbientStep = {0.1f, 0.2f, 0.05f};

    OwnVesselIndex = 1;
    Vessels[1].Position = {2939.6f, 0, -5};
    Vessels[0].Position = {2939.6f, 0, 0};  // on the ground at the terminator, 5 away
    Vessels[0].Present = 1;
    D3DXMatrixTranslation(&Vessels[0].WorldMatrix, 0, 0, 5);
    for (int i = 2; i < VESSEL_COUNT; ++i) Vessels[i].Position = {0, 0, -1.0e6f};  // far spheres off screen

    ASSERT_EQ(DrawVessels(*app_), S_OK);
    SaveScreenshot("ship-three-stages.ppm", Pixels(), kSize, kSize);

    // Vertex colour: ambient (0.23, 0.25, 0.20) + 0.4895091 x (0.9, 0.95, 1.0);
    // light 2 lies in the square's plane and adds nothing.
    // Stage 0 L + D - L D: (0.73645, 0.82902, 0.87580); stage 1 + E x 74 / 255:
    // (0.80928, 0.86544, 0.89401); stage 2 x 192 / 255: (155.4, 166.2, 171.6).
    EXPECT_RGB_NEAR(Pixel(32, 32), 155, 166, 172, 2);
    EXPECT_RGB_NEAR(Pixel(28, 36), 155, 166, 172, 2);
    EXPECT_EQ(Pixel(2, 2), 0u);
}
