// The application object's device objects through a recording device: states,
// projection, material and lights; caps; release; re-creation.
#include "app_fixture.h"

#include "../view/view_test_support.h"
#include "view/log_file.h"
#include "view/state.h"

#include <cmath>
#include <cstring>
#include <filesystem>

namespace viewapp {
namespace {

using DeviceObjects = AppTest;
using Pairs = std::vector<std::pair<DWORD, DWORD>>;

Pairs LastArgs(const std::vector<DeviceCall>& calls, std::size_t count, std::size_t first = 0)
{
    Pairs out;
    for (std::size_t i = calls.size() - count; i < calls.size(); ++i)
        out.push_back({calls[i].args[first], calls[i].args[first + 1]});
    return out;
}

void ExpectColour(const D3DCOLORVALUE& c, float r, float g, float b, float a)
{
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

TEST_F(DeviceObjects, PrepareSetsStatesProjectionMaterialAndLights)
{
    for (float degrees : {0.0f, 10.0f}) {
        SCOPED_TRACE(degrees);
        MakeDevice(800, 600);
        ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
        ViewOffset = degrees * 0.017453292f;
        FieldOfView = 0.6f;
        FogEnabled = 1;
        device_->Clear();
        ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);

        EXPECT_EQ(LastArgs(device_->Named("SetRenderState"), 7),
                  (Pairs{{D3DRS_ZENABLE, D3DZB_USEW}, {D3DRS_ZFUNC, D3DCMP_LESS}, {D3DRS_STENCILENABLE, 1},
                         {D3DRS_LIGHTING, 1}, {D3DRS_NORMALIZENORMALS, 1}, {D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR},
                         {D3DRS_RANGEFOGENABLE, 1}}));
        EXPECT_EQ(FogEnabled, 0);
        const std::vector<DeviceCall> stages = device_->Named("SetTextureStageState");
        ASSERT_GE(stages.size(), 2u);
        EXPECT_EQ(stages[stages.size() - 2].args, (std::vector<DWORD>{0, D3DTSS_ALPHAOP, D3DTOP_DISABLE}));
        EXPECT_EQ(stages.back().args, (std::vector<DWORD>{0, D3DTSS_COLORARG2, D3DTA_DIFFUSE}));

        // Lift by 0.001, turn by -offset about Y, then the perspective (row vectors).
        const double s = std::sin(double(ViewOffset)), c = std::cos(double(ViewOffset));
        const double ys = 1.0 / std::tan(0.3), xs = ys / double(1.3333334f);
        const double q = 524288.0 / (524288.0 - 0.001);
        const double expected[4][4] = {{c * xs, 0, s * q, s}, {0, ys, 0, 0}, {-s * xs, 0, c * q, c},
                                       {0, -0.001 * ys, -0.001 * q, 0}};
        D3DMATRIX projection;
        ASSERT_EQ(gl_->GetTransform(D3DTS_PROJECTION, &projection), D3D_OK);
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(projection.m[r][k], expected[r][k], 1e-5 * (1.0 + std::fabs(expected[r][k])))
                    << r << "," << k;
        EXPECT_EQ(std::memcmp(&projection, &ProjectionMatrix, sizeof projection), 0);
        // A point 500000 km ahead, inside the sky box, is still inside the depth range.
        const double depth = 500000.0 * projection.m[2][2] + projection.m[3][2];
        const double w = 500000.0 * projection.m[2][3] + projection.m[3][3];
        EXPECT_GT(depth, 0.0);
        EXPECT_LE(depth, w);

        D3DMATERIAL8 material{};
        ASSERT_EQ(gl_->GetMaterial(&material), D3D_OK);
        ExpectColour(material.Diffuse, 1, 1, 1, 0);
        ExpectColour(material.Ambient, 1, 1, 1, 0);
        ExpectColour(material.Specular, 1, 1, 1, 0);
        ExpectColour(material.Emissive, 0, 0, 0, 0);
        EXPECT_FLOAT_EQ(material.Power, 70.0f);

        EXPECT_EQ(app_->SunLight.Type, D3DLIGHT_DIRECTIONAL);
        ExpectColour(app_->SunLight.Ambient, 0.13f, 0.05f, 0.15f, 0);
        ExpectColour(app_->SunLight.Diffuse, 0.9f, 0.95f, 1.0f, 0);
        EXPECT_EQ(app_->SunLight.Direction, D3DXVECTOR3());
        const D3DLIGHT8& spot = app_->LandingLight;
        EXPECT_EQ(spot.Type, D3DLIGHT_SPOT);
        ExpectColour(spot.Diffuse, 1, 1, 0.75f, 0);
        EXPECT_EQ((std::vector<float>{spot.Range, spot.Falloff, spot.Attenuation0, spot.Attenuation1,
                                      spot.Attenuation2, spot.Theta, spot.Phi}),
                  (std::vector<float>{2.0f, 1.0f, 0.0f, 15.0f, 0.0f, 0.1f, 0.2f}));
        const D3DLIGHT8& point = app_->ProjectileLight;
        EXPECT_EQ(point.Type, D3DLIGHT_POINT);
        ExpectColour(point.Diffuse, 0.5f, 1, 1, 0);
        EXPECT_EQ((std::vector<float>{point.Range, point.Attenuation0, point.Attenuation1, point.Attenuation2}),
                  (std::vector<float>{2.0f, 0.0f, 15.0f, 0.0f}));
        ASSERT_TRUE(ReleaseDevice());
    }
}

TEST_F(DeviceObjects, LandingLightIsOnAfterAResetExactlyWhenSwitchedOn)
{
    MakeDevice(800, 600);
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    for (std::uint8_t on : {std::uint8_t(1), std::uint8_t(0), std::uint8_t(2)}) {
        SCOPED_TRACE(int(on));
        LandingLightOn = on;
        device_->Clear();
        app_->ReleaseVolatileObjects();
        ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);
        Pairs enables;
        for (const DeviceCall& call : device_->Named("LightEnable")) enables.push_back({call.args[0], call.args[1]});
        EXPECT_EQ(enables, on == 1 ? (Pairs{{0, 1}, {1, 1}}) : (Pairs{{0, 1}}));
    }
}

TEST_F(DeviceObjects, DevicesWithoutTheWBufferAreRefusedWithTheLogLine)
{
    D3DCAPS8 caps{};
    caps.RasterCaps = D3DPRASTERCAPS_WBUFFER | 0x10;
    EXPECT_EQ(app_->ValidateDeviceCaps(&caps, 0, D3DFMT_X8R8G8B8), S_OK);
    EXPECT_EQ(viewtest::LogText(), "");
    caps.RasterCaps = ~D3DPRASTERCAPS_WBUFFER;
    EXPECT_EQ(app_->ValidateDeviceCaps(&caps, 0, D3DFMT_X8R8G8B8), E_FAIL);
    EXPECT_EQ(viewtest::LogText(), "Fatal: D3DPRASTERCAPS_WBUFFER not supported by hardware!\r\n");
}

TEST_F(DeviceObjects, FreeReleasesEverythingAlsoAfterAPartialLoad)
{
    for (bool complete : {true, false}) {
        SCOPED_TRACE(complete);
        if (!complete) std::filesystem::remove(folder_ + "/Meshes/facet04.DAW");
        MakeDevice();
        EXPECT_EQ(app_->InitDeviceObjects(), complete ? S_OK : APP_E_MEDIA_MISSING);
        for (IDirect3DTexture8** texture : {&app_->BlastTextures[42], &app_->StationTexture, &app_->CloudTexture,
                                            &app_->WeaponTextures[19], &app_->TerrainDetailTexture})
            ASSERT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture), D3D_OK);
        app_->PrepareDeviceObjects();
        app_->ReleaseVolatileObjects();
        device_->SetStreamSource(0, app_->PolygonObjects[1].VertexBuffer, 32);
        device_->SetTexture(2, app_->StationTexture);
        ASSERT_TRUE(ReleaseDevice()) << "something still holds the device";
        EXPECT_EQ(app_->SkyWallBuffer, nullptr);
        EXPECT_EQ(app_->TerrainPatchBuffers[31], nullptr);
        EXPECT_EQ(app_->PolygonObjects[7].VertexBuffer, nullptr);
        EXPECT_EQ(app_->BlastTextures[42], nullptr);
        EXPECT_EQ(app_->StationTexture, nullptr);
        EXPECT_EQ(app_->WeaponTextures[19], nullptr);
    }
}

TEST_F(DeviceObjects, ARecreatedDeviceGetsFilledBuffersAndFreshArrays)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    app_->PrepareFirstFrame();
    FirstFrameDone = 1;
    ASSERT_TRUE(ReleaseDevice());
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);

    const ModelVertex v = ReadVertices(app_->SkyWallBuffer, 4)[3];
    EXPECT_EQ(v.Position, D3DXVECTOR3(524288.0f, 524288.0f, 524288.0f));
    EXPECT_EQ(v.Normal, D3DXVECTOR3(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(v.U, 2.0f);
    EXPECT_EQ(v.V, 0.0f);
    // The ship's two lights and the station's five: position, colour, pattern.
    struct Light {
        int object;
        float x, y, z, r, g, b;
        std::int32_t pattern;
    };
    const Light lights[] = {{0, 0, 7, -27.375f, 1, 1, 1, 0x55}, {0, 0.125f, -4, 6.125f, 1, 0, 0, 0x6a},
                            {1, 0, 0, 31, 1, 1, 1, 0x0d},       {1, -3, -3, -39, 1, 0, 0, 0xff},
                            {1, -3, 3, -39, 1, 0, 0, 0xff},     {1, 3, -3, -39, 1, 0, 0, 0xff},
                            {1, 3, 3, -39, 1, 0, 0, 0xff}};
    ASSERT_EQ(app_->PolygonObjects[0].NavLightCount, 2);
    ASSERT_EQ(app_->PolygonObjects[1].NavLightCount, 5);
    for (std::size_t i = 0; i < std::size(lights); ++i) {
        SCOPED_TRACE(i);
        const Light& e = lights[i];
        const NavLight& l = app_->PolygonObjects[e.object].NavLights[e.object == 0 ? i : i - 2];
        EXPECT_EQ(l.Position, D3DXVECTOR3(e.x, e.y, e.z));
        EXPECT_EQ((std::vector<float>{l.Red, l.Green, l.Blue}), (std::vector<float>{e.r, e.g, e.b}));
        EXPECT_EQ(l.Pattern, e.pattern);
    }
    for (int object = 2; object < 8; ++object) {
        EXPECT_EQ(app_->PolygonObjects[object].NavLightCount, 0);
        EXPECT_EQ(app_->PolygonObjects[object].NavLights, nullptr);
    }
}

TEST_F(DeviceObjects, SceneShutdownFreesTheArraysAndClosesTheLog)
{
    MakeDevice();
    ASSERT_EQ(app_->InitDeviceObjects(), S_OK);
    ASSERT_TRUE(ReleaseDevice());
    EXPECT_EQ(app_->OneTimeSceneShutdown(), S_OK);
    EXPECT_EQ(app_->HudFont, nullptr);
    EXPECT_EQ(app_->Planet.Sphere, nullptr);
    EXPECT_EQ(app_->PolygonObjects[0].NavLights, nullptr);
    EXPECT_EQ(LogDescriptor.load(), -1);
}

}  // namespace
}  // namespace viewapp
