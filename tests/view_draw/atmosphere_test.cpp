// Atmosphere values of a frame and the horizon disc. Expected values come from a
// separate double-precision working of the formulas and from hand arithmetic.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/gfx_draw/draw_fixture.h"
#include "tests/view_draw/draw_scene_support.h"
#include "view/atmosphere.h"
#include "view/state.h"

namespace {

AtmosphereInputs Inputs(D3DXVECTOR3 position, D3DXVECTOR3 sun, D3DXVECTOR3 forward, float rvr, float h,
                        std::uint8_t fog)
{
    AtmosphereInputs in;
    in.OwnPosition = position;
    D3DXVec3Normalize(&in.SunDirection, &sun);
    in.ForwardAxis = forward;
    D3DXMatrixIdentity(&in.OwnWorld);
    in.Rvr = rvr;
    in.HorizonSunFactor = h;
    in.SunAmbient = {0.13f, 0.05f, 0.15f, 0.0f};
    in.FogEnabled = fog;
    D3DXMatrixIdentity(&in.PreviousHorizonFrame);
    return in;
}

bool Finite(const D3DXMATRIX& m)
{
    for (const auto& row : m.m)
        for (float v : row)
            if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

TEST(Atmosphere, SunlightFactorOnTheSunSideAtTheTerminatorAndInShadow)
{
    const D3DXVECTOR3 ground(2939.6f, 0.0f, 0.0f);
    EXPECT_EQ(SunlightFactor(ground, D3DXVECTOR3(1, 0, 0)), 1.0f);
    // c = 0 at r = 2939.6: 0.5 x 2939.6 / 3002.6.
    EXPECT_NEAR(SunlightFactor(ground, D3DXVECTOR3(0, 1, 0)), 0.4895091f, 1e-6f);
    EXPECT_EQ(SunlightFactor(ground, D3DXVECTOR3(-1, 0, 0)), 0.0f);
    // Above the shadow edge the offset is a flat 0.5: 2 km outside the shadow at r 3100.
    const float r = 3100.0f, off = 2941.6f;
    const D3DXVECTOR3 high(off, -std::sqrt(r * r - off * off), 0.0f);
    EXPECT_NEAR(SunlightFactor(high, D3DXVECTOR3(0, 1, 0)), 0.7f, 1e-3f);
}

TEST(Atmosphere, SunlightFactorIsNeverNaNStraightBehindThePlanet)
{
    int checked = 0;
    for (int i = 1; i < 400; ++i) {
        const float a = 0.0157f * static_cast<float>(i), b = 0.0311f * static_cast<float>(i);
        const D3DXVECTOR3 p(2000.0f * std::cos(a) * std::cos(b), 2000.0f * std::sin(a) * std::cos(b),
                            2000.0f * std::sin(b));
        D3DXVECTOR3 away;
        D3DXVec3Normalize(&away, &p);
        const float f = SunlightFactor(p, -away);
        EXPECT_EQ(f, 0.0f) << "direction " << i;
        ++checked;
    }
    EXPECT_EQ(checked, 399);
}

TEST(Atmosphere, AtTheGroundFacingTheSun)
{
    const AtmosphereFrame f =
        ComputeAtmosphere(Inputs({2939.5f, 0, 0}, {1, 0, 0}, {1, 0, 0}, 2.0f, 0.5f, 0));
    EXPECT_NEAR(f.AltitudeMSL, -0.1f, 1e-3f);
    EXPECT_EQ(f.FogEnabled, 1);
    EXPECT_NEAR(f.NadirAngle, 1.5699813f, 1e-5f);
    EXPECT_EQ(f.SunElevation, 1.0f);
    EXPECT_FLOAT_EQ(f.VisibilityFactor, 2.0f);
    EXPECT_FLOAT_EQ(f.HorizonDistance, 64.0f);
    EXPECT_EQ(f.FogStart, 0.0f);
    EXPECT_FLOAT_EQ(f.FogEnd, 64.0f);
    EXPECT_FLOAT_EQ(f.SunColor.r, 191.25f);
    EXPECT_FLOAT_EQ(f.SunColor.b, 255.0f);
    EXPECT_FLOAT_EQ(f.HazeColor.r, 191.125f);
    EXPECT_FLOAT_EQ(f.HazeColor.b, 223.0f);
    EXPECT_NEAR(f.SunAmbientStep.r, 0.2678571f, 1e-6f);
    EXPECT_EQ(f.FogColor, 0x005F5F6Fu);
    EXPECT_EQ(f.SunDiscTint, 0x006F6F7Fu);
    EXPECT_NEAR(f.HorizonRadius, 258.39591f, 0.01f);
    EXPECT_NEAR(f.HorizonDepth, 2939.0903f, 0.01f);
    EXPECT_NEAR(f.RingRadius, 258.44726f, 0.01f);
    EXPECT_NEAR(f.RingDrop, -62.99998f, 1e-3f);
    EXPECT_NEAR(f.SkyColor.g, 1.0f, 1e-6f);
    EXPECT_FLOAT_EQ(f.EyeOffset.x, -2939.5f);
}

TEST(Atmosphere, TwentyKilometresUpWithTheSunLowAndBehind)
{
    const AtmosphereFrame f =
        ComputeAtmosphere(Inputs({2959.6f, 0, 0}, {0.3f, 1, 0}, {0, -1, 0}, 3.0f, 0.75f, 1));
    EXPECT_EQ(f.FogEnabled, 1);
    EXPECT_NEAR(f.SunElevation, 0.40367184f, 1e-5f);
    EXPECT_NEAR(f.VisibilityFactor, 4.243629f, 1e-4f);
    EXPECT_NEAR(f.SunColor.g, 241.93789f, 1e-3f);
    EXPECT_NEAR(f.SunColor.b, 52.248425f, 1e-3f);
    EXPECT_EQ(f.FogColor, 0x00989876u);
    EXPECT_NEAR(f.HazeColor.r, 203.00338f, 1e-3f);
    EXPECT_NEAR(f.HazeColor.b, 158.30356f, 1e-3f);
    EXPECT_EQ(f.SunDiscTint, 0x007C7C4Cu);
    EXPECT_NEAR(f.HorizonDistance, 341.93739f, 0.01f);
    EXPECT_NEAR(f.FogStart, 34.460811f, 0.01f);
    EXPECT_NEAR(f.FogEnd, 78.23156f, 0.01f);
    EXPECT_EQ(f.SkyBoxTint, 0xFF75757Cu);
    EXPECT_EQ(f.RingTint, 0x00737378u);
    EXPECT_NEAR(f.HorizonRadius, 595.44521f, 0.02f);
    EXPECT_NEAR(f.HorizonDepth, 2888.3632f, 0.02f);
    EXPECT_NEAR(f.RingRadius, 602.7571f, 0.02f);
    EXPECT_NEAR(f.RingDrop, -62.574246f, 1e-3f);
}

TEST(Atmosphere, AtSixtyThreeKilometresFogIsOffAndTheTintsAreFixed)
{
    const AtmosphereFrame f =
        ComputeAtmosphere(Inputs({3002.6f, 0, 0}, {0, 1, 0}, {0, 0, 1}, 2.0f, 0.6f, 1));
    EXPECT_EQ(f.AltitudeMSL, 63.0f);
    EXPECT_EQ(f.FogEnabled, 0);
    EXPECT_FLOAT_EQ(f.VisibilityFactor, 1.0f);
    EXPECT_EQ(f.RingTint, 0u);
    EXPECT_EQ(f.SunDiscTint, 0x007F7F7Fu);
    EXPECT_EQ(f.SkyBoxTint, 0x00210C26u);
    EXPECT_EQ(f.FogColor, 0x00998300u);  // unchanged by the fog switch
    EXPECT_NEAR(f.FogStart, 603.23574f, 0.02f);
    EXPECT_NEAR(f.FogEnd, 603.23574f, 0.02f);
    EXPECT_NEAR(f.HorizonDepth, 2821.173f, 0.02f);  // lift 4.1
}

TEST(Atmosphere, BelowTheGroundTheHorizonIsTheGroundOne)
{
    const AtmosphereFrame below =
        ComputeAtmosphere(Inputs({2934.6f, 0, 0}, {1, 0, 0}, {1, 0, 0}, 2.0f, 0.5f, 1));
    EXPECT_NEAR(below.AltitudeMSL, -5.0f, 1e-3f);
    EXPECT_NEAR(below.NadirAngle, 1.5699813f, 1e-5f);
    EXPECT_NEAR(below.HorizonRadius, 258.39591f, 0.01f);
    EXPECT_NEAR(below.HorizonDepth, 2939.0903f, 0.01f);
    EXPECT_FLOAT_EQ(below.HorizonDistance, 64.0f);
    EXPECT_EQ(below.FogStart, 0.0f);
    EXPECT_FLOAT_EQ(below.FogEnd, 64.0f);
}

TEST(Atmosphere, ANearCloudThickensTheHazeAtMostTenfold)
{
    AtmosphereInputs in = Inputs({2939.5f, 0, 0}, {1, 0, 0}, {1, 0, 0}, 2.0f, 0.5f, 0);
    in.NearestCloudDistanceSq = 0.0025f;  // 0.05 km: divided by 0.1
    AtmosphereFrame f = ComputeAtmosphere(in);
    EXPECT_FLOAT_EQ(f.VisibilityFactor, 20.0f);
    EXPECT_FLOAT_EQ(f.FogEnd, 0.64f);
    EXPECT_EQ(f.FogColor, 0x005F5F61u);
    in.NearestCloudDistanceSq = 0.25f;
    EXPECT_FLOAT_EQ(ComputeAtmosphere(in).VisibilityFactor, 4.0f);
    in.NearestCloudDistanceSq = 1.0f;
    EXPECT_FLOAT_EQ(ComputeAtmosphere(in).VisibilityFactor, 2.0f);
}

TEST(Atmosphere, SunBelowTheHorizonThinsTheAir)
{
    // e = 0.0008151 + dot: dot -0.0458151 gives e -0.045, T = 5 / 2.5.
    const float dot = -0.0458151f;
    AtmosphereFrame f = ComputeAtmosphere(
        Inputs({2939.5f, 0, 0}, {dot, std::sqrt(1 - dot * dot), 0}, {0, 0, 1}, 5.0f, 0.5f, 1));
    EXPECT_NEAR(f.SunElevation, -0.045f, 1e-5f);
    EXPECT_NEAR(f.VisibilityFactor, 2.0f, 1e-3f);
    // Sun green 0.155 / 0.29 x 127.5 = 68.147, half way from the haze grey 191.
    EXPECT_NEAR(f.HazeColor.g, 129.5733f, 0.01f);
    // Deep night: T / 4, sun red, sky hue (100, 50, 100) at density 0.01: alpha 2.
    f = ComputeAtmosphere(Inputs({2939.5f, 0, 0}, {-1, 0, 0}, {0, 0, 1}, 12.0f, 0.0f, 1));
    EXPECT_LT(f.SunElevation, -0.99f);
    EXPECT_FLOAT_EQ(f.VisibilityFactor, 3.0f);
    EXPECT_FLOAT_EQ(f.SunColor.r, 255.0f);
    EXPECT_EQ(f.SunColor.g, 0.0f);
    // Sky (31, 15, 31) alpha 2 a third of the way from opaque black.
    EXPECT_EQ(f.SkyBoxTint, 0xAB0A050Au);
}

TEST(Atmosphere, SkyLightIsSampledTenKilometresUp)
{
    // The sun just below the horizon: the point 10 km up still catches a little.
    const AtmosphereFrame f =
        ComputeAtmosphere(Inputs({2939.5f, 0, 0}, {-0.1f, 1, 0}, {0, 0, 1}, 2.0f, 0.5f, 1));
    EXPECT_NEAR(f.SkyLight, 0.0273342f, 1e-3f);
    EXPECT_NEAR(f.SkyColor.r, 0.1537807f, 1e-3f);
    EXPECT_NEAR(f.SkyColor.g, 0.0759675f, 1e-3f);
    EXPECT_NEAR(f.SkyColor.b, 0.1732340f, 1e-3f);
}

TEST(Atmosphere, TenKilometresUpTheSkyTintThins)
{
    const AtmosphereFrame f =
        ComputeAtmosphere(Inputs({2949.6f, 0, 0}, {1, 0, 0}, {1, 0, 0}, 2.0f, 1.0f, 0));
    EXPECT_NEAR(f.VisibilityFactor, 1.8412714f, 1e-4f);
    EXPECT_EQ(f.SkyBoxTint, 0xFF7F7FA8u);  // sky hue at brightness 0.7448
}

TEST(Atmosphere, ColoursAtTheElevationEdges)
{
    const ColorRgb red = SunColorAt(-0.2f);
    EXPECT_EQ(red.r, 255.0f);
    EXPECT_NEAR(red.g, 0.0f, 1e-4f);
    EXPECT_EQ(SunColorAt(-0.5f).g, 0.0f);
    EXPECT_NEAR(SunColorAt(0.09f).g, 127.5f, 1e-3f);
    EXPECT_NEAR(SunColorAt(0.0f).g, 87.931f, 1e-3f);  // 0.2 / 0.29 x 127.5
    const ColorRgb noon = SunColorAt(0.25f);
    EXPECT_NEAR(noon.g, 255.0f, 1e-3f);
    EXPECT_EQ(noon.b, 0.0f);
    EXPECT_GT(SunColorAt(0.2501f).b, 0.0f);
    EXPECT_NEAR(SunColorAt(1.0f).r, 191.25f, 1e-3f);

    const ColorRgb dusk = SkyHueAt(-0.09f);
    EXPECT_NEAR(dusk.r, 100.0f, 1e-3f);
    EXPECT_NEAR(dusk.g, 50.0f, 1e-3f);
    EXPECT_NEAR(dusk.b, 100.0f, 1e-3f);
    EXPECT_NEAR(SkyHueAt(-0.06f).b, 50.0f, 1e-3f);
    const ColorRgb early = SkyHueAt(-0.02f);
    EXPECT_NEAR(early.r, 50.0f, 1e-3f);
    EXPECT_NEAR(early.b, 100.0f, 1e-3f);
    const ColorRgb day = SkyHueAt(0.5f);
    EXPECT_NEAR(day.r, 75.490196f, 1e-3f);  // 0.52 x 50 / 1.02 + 50
    EXPECT_NEAR(day.b, 150.98039f, 1e-3f);

    // Packing truncates toward zero and keeps the low byte.
    EXPECT_EQ(PackColor(256.5f, -1.5f, 37.9f), 0x0000FF25u);

    EXPECT_EQ(AirDensity(0.0f, -0.09f), 0.01f);
    EXPECT_NEAR(AirDensity(0.0f, -0.045f), 15.75f, 1e-3f);
    EXPECT_NEAR(AirDensity(-8.0f, 0.3f), 11.588f, 1e-3f);  // 31.5 / e
}

TEST(Atmosphere, HazeNeverThinnerThanClearAir)
{
    // Deep night with RVR 2: 2 / 4 is held at 1, so the clear range is 256 / 1.
    AtmosphereFrame f = ComputeAtmosphere(Inputs({2939.5f, 0, 0}, {-1, 0, 0}, {0, 0, 1}, 2.0f, 0.0f, 1));
    EXPECT_EQ(f.VisibilityFactor, 1.0f);
    EXPECT_FLOAT_EQ(f.FogEnd, 256.0f);
    // 100 km up, RVR 5 and facing away from the sun (T 10 below the air): 1.
    f = ComputeAtmosphere(Inputs({3039.6f, 0, 0}, {1, 0, 0}, {-1, 0, 0}, 5.0f, 0.0f, 0));
    EXPECT_EQ(f.VisibilityFactor, 1.0f);
}

TEST(Atmosphere, FogSwitchesAtSixtyThreeKilometres)
{
    const float altitudes[] = {100.0f, 63.0f, 62.5f, 10.0f, 63.0f, 63.5f, -1.0f, 0.0f};
    const std::uint8_t expected[] = {0, 0, 1, 1, 0, 0, 1, 1};
    std::uint8_t fog = 0;
    for (int i = 0; i < 8; ++i) {
        const AtmosphereFrame f = ComputeAtmosphere(
            Inputs({0, 0, -(PLANET_RADIUS + altitudes[i])}, {0, 1, 0}, {0, 1, 0}, 2.0f, 0.0f, fog));
        fog = f.FogEnabled;
        EXPECT_EQ(fog, expected[i]) << "altitude " << altitudes[i];
    }
}

TEST(Atmosphere, HighAboveTheDiscIsThePlanetsSize)
{
    AtmosphereFrame f = ComputeAtmosphere(Inputs({0, 0, -30000}, {0, 1, 0}, {0, 1, 0}, 2.0f, 0.6f, 0));
    EXPECT_EQ(f.HorizonRadius, PLANET_RADIUS);
    EXPECT_NEAR(f.HorizonDepth, 20.98f, 0.05f);
    EXPECT_NEAR(f.RingRadius, 3002.2968f, 0.01f);
    // So far out that the depth's square root would go negative: held at 0.
    f = ComputeAtmosphere(Inputs({0, 0, -3.0e6f}, {0, 1, 0}, {0, 1, 0}, 2.0f, 0.6f, 0));
    EXPECT_FLOAT_EQ(f.HorizonDepth, -4.1f);
}

TEST(Atmosphere, HorizonFrameFollowsTheNoseAndSurvivesSingularPoses)
{
    AtmosphereInputs in = Inputs({3000, 0, 0}, {0, 1, 0}, {0, 1, 0}, 2.0f, 0.0f, 1);
    AtmosphereFrame f = ComputeAtmosphere(in);
    // Rows: side (0, 1, 0), level forward (0, 0, 1), vertical (1, 0, 0).
    const D3DXMATRIX expected(0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(f.HorizonFrame.m[r][c], expected.m[r][c], 1e-6f) << r << c;

    D3DXMATRIX last;
    D3DXMatrixRotationX(&last, 0.7f);
    in.PreviousHorizonFrame = last;
    in.OwnPosition = {0, 0, -3000};  // nose (0, 0, 1) along the vertical
    f = ComputeAtmosphere(in);
    EXPECT_EQ(f.HorizonFrame, last);
    in.OwnPosition = {0, 0, 0};  // at the planet centre
    f = ComputeAtmosphere(in);
    EXPECT_EQ(f.HorizonFrame, last);
    EXPECT_TRUE(std::isfinite(f.HorizonDepth));
    EXPECT_TRUE(Finite(f.HorizonFrame));
}

TEST(Atmosphere, DiscFanVertices)
{
    AtmosphereFrame f;
    f.HorizonRadius = 100.0f;
    f.HorizonDepth = 50.0f;
    HorizonVertex v[HORIZON_DISC_VERTICES];
    for (auto& x : v) x = {D3DXVECTOR3(9, 9, 9), 0xFFFFFFFF};
    FillHorizonDisc(f, v);
    EXPECT_EQ(v[0].Position, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(v[1].Position, D3DXVECTOR3(100, 0, -50));
    EXPECT_NEAR(v[1 + 97].Position.x, -100.0f, 1e-3f);  // 97 steps: half a turn
    EXPECT_NEAR(v[1 + 97].Position.y, 0.0f, 1e-3f);
    EXPECT_NEAR(v[1 + 48].Position.y, 99.99f, 0.02f);   // 48.5 steps a quarter
    EXPECT_NEAR(v[194].Position.y, -3.2382f, 1e-3f);     // last rim point, one step short
    EXPECT_EQ(v[195].Position, D3DXVECTOR3(100, 0, -50));
    for (const auto& x : v) {
        EXPECT_EQ(x.Colour, 0u);
        EXPECT_EQ(x.Position.z, x.Position == D3DXVECTOR3(0, 0, 0) ? 0.0f : -50.0f);
    }
}

class HorizonDiscPixels : public DrawTest {};

TEST_F(HorizonDiscPixels, DiscMarksTheStencilAndLeavesDepth)
{
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 2, 1.0f, 1.0f, 100.0f);
    device_->SetTransform(D3DTS_PROJECTION, &projection);
    device_->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00808080, 1.0f, 0);

    // The fan's centre 10 ahead, its rim of radius 1 at 3 ahead: 32 / 3 pixels
    // around the centre of the screen.
    AtmosphereFrame f;
    D3DXMatrixIdentity(&f.HorizonFrame);
    f.EyeOffset = {0, 0, -10};
    f.HorizonRadius = 1.0f;
    f.HorizonDepth = 7.0f;
    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(HORIZON_VERTICES * sizeof(HorizonVertex), 0, HORIZON_VERTEX_FVF,
                                          D3DPOOL_MANAGED, &buffer),
              D3D_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    FillHorizonDisc(f, reinterpret_cast<HorizonVertex*>(data));
    buffer->Unlock();
    DrawHorizonDisc(device_, buffer, f);
    const auto disc = Pixels();
    SaveScreenshot("horizon-disc.ppm", disc, kSize, kSize);

    int inside = 0;
    for (std::uint32_t p : disc) inside += p == 0 ? 1 : 0;
    // pi x (32 / 3)^2 = 357 pixels.
    EXPECT_NEAR(inside, 357, 25);
    EXPECT_EQ(Pixel(32, 32), 0u);
    EXPECT_EQ(Pixel(32, 19), 0x808080u);
    EXPECT_EQ(Pixel(2, 2), 0x808080u);

    // Red only where the stencil holds the reference 1 the disc left set.
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    FullScreen(0xFFFF0000, 0.95f);
    const auto masked = Pixels();
    SaveScreenshot("horizon-disc-stencil.ppm", masked, kSize, kSize);
    for (size_t i = 0; i < masked.size(); ++i) {
        EXPECT_EQ(masked[i], disc[i] == 0 ? 0xFF0000u : 0x808080u) << "pixel " << i;
    }
    // The disc (depth 0.67 to 0.91 here) wrote no depth: a quad at 0.95 passes
    // the LESS test everywhere.
    device_->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    FullScreen(0xFF00FF00, 0.95f);
    for (std::uint32_t p : Pixels()) EXPECT_EQ(p, 0x00FF00u);
    buffer->Release();
}

class AtmosphereStep : public SceneTest {};

TEST_F(AtmosphereStep, SwitchesFogDrawsTheDiscAndHandsOverTheFogStates)
{
    IDirect3DVertexBuffer8* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(HORIZON_VERTICES * sizeof(HorizonVertex), 0, HORIZON_VERTEX_FVF,
                                          D3DPOOL_MANAGED, &buffer),
              D3D_OK);
    owned_.push_back(buffer);
    app_->HorizonBuffer = buffer;
    app_->SunLight.Direction = {1, 0, 0};
    app_->LandingLight.Direction = {1, 0, 0};
    Vessels[0].Position = {2949.6f, 0, 0};
    RvrSetting = 2.0f;
    HorizonSunFactor = 1.0f;
    WhiteMaterial = D3DMATERIAL8{};

    // States the disc changes, set to something else first: restored after it.
    IDirect3DDevice8* real = recorder_->Inner();
    real->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    real->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    real->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
    real->SetRenderState(D3DRS_LIGHTING, FALSE);
    real->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    struct DiscState {
        DWORD shader, lighting, zfunc, zwrite, ref, pass, op, cull;
        D3DXMATRIX world;
    } disc{};
    recorder_->onCall = [&](const DeviceCall& c) {
        if (c.name != "DrawPrimitive") return;
        real->GetVertexShader(&disc.shader);
        real->GetRenderState(D3DRS_LIGHTING, &disc.lighting);
        real->GetRenderState(D3DRS_ZFUNC, &disc.zfunc);
        real->GetRenderState(D3DRS_ZWRITEENABLE, &disc.zwrite);
        real->GetRenderState(D3DRS_STENCILREF, &disc.ref);
        real->GetRenderState(D3DRS_STENCILPASS, &disc.pass);
        real->GetTextureStageState(0, D3DTSS_COLOROP, &disc.op);
        real->GetRenderState(D3DRS_CULLMODE, &disc.cull);
        real->GetTransform(D3DTS_WORLD, &disc.world);
    };

    ASSERT_EQ(DrawAtmosphere(*app_), S_OK);
    recorder_->onCall = nullptr;
    EXPECT_EQ(disc.shader, HORIZON_VERTEX_FVF);
    EXPECT_EQ(disc.lighting, 0u);
    EXPECT_EQ(disc.zfunc, static_cast<DWORD>(D3DCMP_ALWAYS));
    EXPECT_EQ(disc.zwrite, 0u);
    EXPECT_EQ(disc.ref, 1u);
    EXPECT_EQ(disc.pass, static_cast<DWORD>(D3DSTENCILOP_REPLACE));
    EXPECT_EQ(disc.op, static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(disc.cull, static_cast<DWORD>(D3DCULL_NONE));
    // The planet centre drawn at P - 0.
    EXPECT_EQ(disc.world._41, 2949.6f);
    EXPECT_EQ(disc.world._42, 0.0f);
    EXPECT_EQ(disc.world._43, 0.0f);
    DWORD after = 0;
    real->GetVertexShader(&after);
    EXPECT_EQ(after, MODEL_VERTEX_FVF);
    real->GetRenderState(D3DRS_CULLMODE, &after);
    EXPECT_EQ(after, static_cast<DWORD>(D3DCULL_CCW));
    real->GetRenderState(D3DRS_ZFUNC, &after);
    EXPECT_EQ(after, static_cast<DWORD>(D3DCMP_LESS));
    real->GetRenderState(D3DRS_STENCILPASS, &after);
    EXPECT_EQ(after, static_cast<DWORD>(D3DSTENCILOP_KEEP));
    real->GetRenderState(D3DRS_LIGHTING, &after);
    EXPECT_EQ(after, 1u);
    real->GetTextureStageState(0, D3DTSS_COLOROP, &after);
    EXPECT_EQ(after, static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_NEAR(AltitudeMSL, 10.0f, 1e-3f);
    EXPECT_EQ(FogEnabled, 1);
    // No cloud pass yet: the cloud-free haze of the same place as above.
    EXPECT_NEAR(Atmosphere.VisibilityFactor, 1.8412714f, 1e-4f);
    EXPECT_EQ(WhiteMaterial.Power, 70.0f);
    EXPECT_EQ(WhiteMaterial.Diffuse.g, 1.0f);

    const auto& calls = recorder_->calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "SetVertexShader");
    EXPECT_EQ(calls[0].args, std::vector<DWORD>{MODEL_VERTEX_FVF});
    EXPECT_EQ(calls[1].name, "SetRenderState");
    EXPECT_EQ(calls[1].args, (std::vector<DWORD>{D3DRS_FOGENABLE, TRUE}));
    const auto draws = recorder_->Named("DrawPrimitive");
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].args, (std::vector<DWORD>{static_cast<DWORD>(D3DPT_TRIANGLEFAN), 0, 194}));
    const auto states = recorder_->Named("SetRenderState");
    ASSERT_GE(states.size(), 4u);
    const size_t n = states.size();
    EXPECT_EQ(states[n - 4].args, (std::vector<DWORD>{D3DRS_FOGCOLOR, Atmosphere.FogColor}));
    EXPECT_EQ(states[n - 3].args, (std::vector<DWORD>{D3DRS_FOGEND, FloatBits(Atmosphere.FogEnd)}));
    EXPECT_EQ(states[n - 2].args, (std::vector<DWORD>{D3DRS_FOGSTART, FloatBits(Atmosphere.FogStart)}));
    EXPECT_EQ(states[n - 1].args, (std::vector<DWORD>{D3DRS_FOGENABLE, TRUE}));
    std::vector<DWORD> refs;
    for (const auto& s : states) {
        if (s.args[0] == D3DRS_STENCILREF) refs.push_back(s.args[1]);
    }
    EXPECT_EQ(refs, std::vector<DWORD>{1});
    DWORD v = 0;
    device_->GetRenderState(D3DRS_STENCILREF, &v);
    EXPECT_EQ(v, 1u);
    device_->GetRenderState(D3DRS_ZWRITEENABLE, &v);
    EXPECT_EQ(v, 1u);

    // Above the air: fog switched off first and not on again.
    Vessels[0].Position = {3039.6f, 0, 0};
    recorder_->Clear();
    ASSERT_EQ(DrawAtmosphere(*app_), S_OK);
    EXPECT_EQ(FogEnabled, 0);
    const auto above = recorder_->Named("SetRenderState");
    EXPECT_EQ(above[0].args, (std::vector<DWORD>{D3DRS_FOGENABLE, FALSE}));
    EXPECT_EQ(above.back().args, (std::vector<DWORD>{D3DRS_FOGSTART, FloatBits(Atmosphere.FogStart)}));
}
