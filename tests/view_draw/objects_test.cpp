// The universe object loop on a recording device and in pixels: stations and city
// near and far, fog along the loop, sky box, sun, horizon ring and clouds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/view_draw/draw_scene_support.h"
#include "view/draw_objects.h"
#include "view/terrain.h"
#include "view/universe.h"

namespace {

struct Drawn {
    D3DXMATRIX world;
    IDirect3DBaseTexture8* texture0 = nullptr;
    IDirect3DVertexBuffer8* stream = nullptr;
    DWORD start = 0, count = 0, mag = 0, fog = 0;
    D3DMATERIAL8 material{};
};

class ObjectLoop : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        if (HasFatalFailure()) return;
        for (int m : {POLYGON_STATION, POLYGON_FAR_SPHERE, POLYGON_LIGHT_SPHERE, POLYGON_DEOIS, POLYGON_TACTICAL})
            SetModel(m, FacingSquare());
        app_->PolygonObjects[POLYGON_STATION].NavLightCount = 2;
        app_->PolygonObjects[POLYGON_STATION].NavLights =
            new NavLight[2]{{{0, 0, 31}, 1, 1, 1, 0x0d}, {{-3, -3, -39}, 1, 0, 0, 0xff}};
        for (UniverseObject& o : UniverseObjects) o = UniverseObject{};
        HomeObjectIndex = 3;  // its kind is set where the planet takes part
        Vessels[0].Landed = 0;
        Atmosphere.FrameSunDirection = {0, 1, 0};
        app_->SunLight.Type = D3DLIGHT_DIRECTIONAL;
        app_->SunLight.Diffuse = {0.9f, 0.95f, 1.0f, 0};
        app_->SunLight.Ambient = {0.13f, 0.05f, 0.15f, 0};
        recorder_->onCall = [this](const DeviceCall& c) {
            if (c.name != "DrawPrimitive") return;
            Drawn d;
            d.start = c.args[1];
            d.count = c.args[2];
            device_->GetTransform(D3DTS_WORLD, &d.world);
            d.texture0 = StageTexture(0);
            UINT stride = 0;
            device_->GetStreamSource(0, &d.stream, &stride);
            if (d.stream) d.stream->Release();
            device_->GetTextureStageState(0, D3DTSS_MAGFILTER, &d.mag);
            device_->GetRenderState(D3DRS_FOGENABLE, &d.fog);
            device_->GetMaterial(&d.material);
            draws_.push_back(d);
        };
    }
    // A station at viewer distance d along +z, beacon bits showing both lights.
    UniverseObject& Station(int index, float d, std::uint8_t model)
    {
        UniverseObject& o = UniverseObjects[index];
        o.Kind = KIND_STATION;
        o.PolygonObject = model;
        o.BeaconBits = 0x01;
        o.Distance = 3339.6f;
        o.Position = {0, 3339.6f, 0};
        D3DXMatrixTranslation(&o.WorldMatrix, 0, 0, d);
        return o;
    }
    IDirect3DVertexBuffer8* Stream(int model) { return app_->PolygonObjects[model].VertexBuffer; }
    std::vector<DWORD> FogSwitches()
    {
        std::vector<DWORD> out;
        for (const DeviceCall& c : recorder_->Named("SetRenderState"))
            if (c.args[0] == D3DRS_FOGENABLE) out.push_back(c.args[1]);
        return out;
    }
    std::vector<Drawn> draws_;
};

TEST_F(ObjectLoop, NavLightSizeMeetsAtNineteenKilometres)
{
    EXPECT_NEAR(StationNavLightSize(19.0f), 0.87177979f, 1e-6f);   // 0.2 sqrt 19
    EXPECT_NEAR(StationNavLightSize(19.001f), 0.87182566f, 1e-6f); // 19.001 / 21.794495
    EXPECT_NEAR(StationNavLightSize(43.58899f), 2.0f, 1e-5f);
    EXPECT_NEAR(StationNavLightSize(4.0f), 0.4f, 1e-6f);
}

TEST_F(ObjectLoop, StationModelUpTo406Point2KilometresThenTheSphere)
{
    Station(0, 406.2f, POLYGON_STATION);
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_FLOAT_EQ(UniverseObjects[0].ViewerDistance, 406.2f);
    ASSERT_GE(draws_.size(), 1u);
    EXPECT_EQ(draws_[0].stream, Stream(POLYGON_STATION));
    EXPECT_EQ(draws_[0].texture0, app_->StationTexture);
    EXPECT_EQ(draws_[0].mag, static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_FLOAT_EQ(draws_[0].world._43, 406.2f);

    draws_.clear();
    Station(0, 406.3f, POLYGON_STATION);
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    ASSERT_EQ(draws_.size(), 1u);  // the sphere alone, no nav lights
    EXPECT_EQ(draws_[0].stream, Stream(POLYGON_LIGHT_SPHERE));
    EXPECT_EQ(draws_[0].texture0, nullptr);
    EXPECT_FLOAT_EQ(draws_[0].world._11, 40.62f);
    EXPECT_FLOAT_EQ(draws_[0].world._43, 406.3f);
}

TEST_F(ObjectLoop, NavLightsFadeNegativeBeyond380AndAModellessStationDrawsTheTacticalModel)
{
    app_->PolygonObjects[POLYGON_STATION].NavLights[1].Pattern = 0xfe;
    Station(0, 390.0f, POLYGON_STATION);
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    ASSERT_EQ(draws_.size(), 2u);  // the model and light 0 (0x0d shares the beacon bit 0x01, 0xfe does not)
    const float fade = 1.0f - 390.0f / 380.0f;
    EXPECT_NEAR(draws_[1].material.Emissive.r, fade, 1e-6f);
    EXPECT_LT(draws_[1].material.Emissive.r, 0.0f);
    EXPECT_EQ(draws_[1].stream, Stream(POLYGON_LIGHT_SPHERE));
    // Size d / 21.794495 = 17.894427 about the light at (0, 0, 31), then the station's place.
    EXPECT_NEAR(draws_[1].world._11, 17.894427f, 1e-4f);
    EXPECT_NEAR(draws_[1].world._43, 31.0f + 390.0f, 1e-3f);

    draws_.clear();
    Station(0, 10.0f, POLYGON_OBJECT_NONE);
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    ASSERT_EQ(draws_.size(), 1u);
    EXPECT_EQ(draws_[0].stream, Stream(POLYGON_TACTICAL));
    EXPECT_EQ(draws_[0].texture0, app_->TacticalTexture);
}

TEST_F(ObjectLoop, PlanetShineOnAStationCityAmbientByAltitudeSurfaceMeshAndSun)
{
    struct Lights {
        D3DLIGHT8 sun{}, shine{};
        BOOL shineOn = FALSE;
        DWORD factor = 0, op0 = 0, op1 = 0, arg11 = 0, arg12 = 0, src = 0, dest = 0, blend = 0;
    };
    std::vector<Lights> at;
    recorder_->onCall = [&](const DeviceCall& c) {
        if (c.name != "DrawPrimitive") return;
        Lights l;
        device_->GetLight(0, &l.sun);
        device_->GetLight(2, &l.shine);
        device_->GetLightEnable(2, &l.shineOn);
        device_->GetRenderState(D3DRS_TEXTUREFACTOR, &l.factor);
        device_->GetTextureStageState(0, D3DTSS_COLOROP, &l.op0);
        device_->GetTextureStageState(1, D3DTSS_COLOROP, &l.op1);
        device_->GetTextureStageState(1, D3DTSS_COLORARG1, &l.arg11);
        device_->GetTextureStageState(1, D3DTSS_COLORARG2, &l.arg12);
        device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &l.blend);
        device_->GetRenderState(D3DRS_SRCBLEND, &l.src);
        device_->GetRenderState(D3DRS_DESTBLEND, &l.dest);
        at.push_back(l);
    };
    UniverseObject& station = Station(0, 500.0f, POLYGON_STATION);  // far: one draw
    station.Position = {3000, 1000, 0};
    UniverseObject& city = UniverseObjects[1];
    city.Kind = KIND_CITY;
    city.Position = {0, 2949.6f, 0};  // 10 km up
    D3DXMatrixTranslation(&city.WorldMatrix, 0, 0, 600.0f);
    Atmosphere.SunAmbientStep = {0.2f, 0.1f, 0.05f};
    Atmosphere.RingTint = 0x00123456;
    Atmosphere.SunDiscTint = 0x00ABCDEF;
    UniverseObjects[4].Kind = KIND_SURFACE_MESH;
    UniverseObjects[6].Kind = KIND_SUN;
    UniverseObjects[6].Position = {0, 3, 4};
    app_->SunQuadBuffer = Stream(POLYGON_TACTICAL);  // any buffer: the draw is what is looked at
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    app_->SunQuadBuffer = nullptr;
    ASSERT_EQ(at.size(), 4u);

    // Station on the sunlit side: direction normalise((0, 2939.6, 0) - (3000, 1000, 0)) =
    // (-0.839771, 0.542940, 0); k = (1 - 0.542940) / (3339.6 / 2939.6)^2 x 0.8 = 0.283303.
    EXPECT_TRUE(at[0].shineOn);
    EXPECT_NEAR(at[0].shine.Direction.x, -0.839771f, 1e-5f);
    EXPECT_NEAR(at[0].shine.Direction.y, 0.542940f, 1e-5f);
    EXPECT_NEAR(at[0].shine.Diffuse.r, 0.254972f, 1e-5f);
    EXPECT_NEAR(at[0].shine.Diffuse.g, 0.269137f, 1e-5f);
    EXPECT_NEAR(at[0].shine.Diffuse.b, 0.283303f, 1e-5f);
    EXPECT_NEAR(at[0].sun.Diffuse.b, 1.0f, 1e-6f);
    // City 10 km up: ambient (0.13, 0.05, 0.15) + step x (1 - sqrt(10 / 63)); no planet shine.
    EXPECT_FALSE(at[1].shineOn);
    EXPECT_NEAR(at[1].sun.Ambient.r, 0.250318f, 1e-5f);
    EXPECT_NEAR(at[1].sun.Ambient.g, 0.110159f, 1e-5f);
    EXPECT_NEAR(at[1].sun.Ambient.b, 0.180080f, 1e-5f);
    // Surface mesh: stage 1 adds the ring tint smoothly.
    EXPECT_EQ(at[2].factor, 0x00123456u);
    EXPECT_EQ(at[2].op1, static_cast<DWORD>(D3DTOP_ADDSMOOTH));
    EXPECT_EQ(at[2].arg11, D3DTA_CURRENT);
    EXPECT_EQ(at[2].arg12, D3DTA_TFACTOR);
    EXPECT_NEAR(at[2].sun.Ambient.r, 0.13f, 1e-6f);  // the city put back the standard light
    // Sun: twice the texture times its tint, added over what it does not cover.
    EXPECT_EQ(at[3].factor, 0x00ABCDEFu);
    EXPECT_EQ(at[3].op0, static_cast<DWORD>(D3DTOP_MODULATE2X));
    EXPECT_EQ(at[3].blend, static_cast<DWORD>(TRUE));
    EXPECT_EQ(at[3].src, static_cast<DWORD>(D3DBLEND_ONE));
    EXPECT_EQ(at[3].dest, static_cast<DWORD>(D3DBLEND_INVSRCCOLOR));
    // Afterwards the sun light points along the sun's position for the rest of the frame.
    D3DLIGHT8 sun{};
    device_->GetLight(0, &sun);
    EXPECT_NEAR(sun.Direction.y, 0.6f, 1e-6f);
    EXPECT_NEAR(sun.Direction.z, 0.8f, 1e-6f);
    EXPECT_NEAR(app_->SunLight.Direction.z, 0.8f, 1e-6f);
    BOOL shineOn = TRUE;
    device_->GetLightEnable(2, &shineOn);
    EXPECT_FALSE(shineOn);
}

TEST_F(ObjectLoop, OtherKindsDrawNothing)
{
    UniverseObjects[0].Kind = 0;
    UniverseObjects[1].Kind = -2;
    UniverseObjects[2].Kind = 3;
    D3DXMatrixTranslation(&UniverseObjects[2].WorldMatrix, 3, 4, 0);
    UniverseObjects[3].Kind = -13;
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_TRUE(draws_.empty());
    EXPECT_TRUE(recorder_->Named("SetTransform").empty());
    EXPECT_FLOAT_EQ(UniverseObjects[2].ViewerDistance, 5.0f);  // kinds 1 and up are measured
    EXPECT_FLOAT_EQ(UniverseObjects[1].ViewerDistance, 0.0f);
}

TEST_F(ObjectLoop, FogOnForTheCityOffAfterThePlanetOnForTheCloudsNotAt630)
{
    FogEnabled = 1;
    AltitudeMSL = 10.0f;
    UniverseObjects[0].Kind = KIND_CITY;
    D3DXMatrixTranslation(&UniverseObjects[0].WorldMatrix, 0, 0, 500.0f);  // far: one sphere
    UniverseObjects[0].Position = {0, 2939.6f, 0};
    UniverseObjects[3].Kind = KIND_HOME_PLANET;
    UniverseObjects[8].Kind = KIND_CLOUDS;
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_EQ(FogSwitches(), (std::vector<DWORD>{TRUE, FALSE, TRUE}));
    ASSERT_GE(draws_.size(), 1u);
    EXPECT_EQ(draws_[0].fog, static_cast<DWORD>(TRUE));

    recorder_->Clear();
    AltitudeMSL = 630.0f;
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_EQ(FogSwitches(), (std::vector<DWORD>{TRUE, FALSE}));
    EXPECT_TRUE(recorder_->Named("SetRenderState").size() > 0);
    for (const DeviceCall& c : recorder_->Named("SetRenderState")) EXPECT_NE(c.args[0], D3DRS_ALPHATESTENABLE);
}

TEST_F(ObjectLoop, LandedSkyBoxKeepsItsFiltersAndTurnsAgainstThePlanet)
{
    UniverseObjects[3].AngleB = 0.5f;
    UniverseObjects[5].Kind = KIND_SKY_BOX;
    D3DXMatrixRotationX(&UniverseObjects[5].BaseMatrix, 0.4f);
    device_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    Vessels[0].Landed = 1;
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    ASSERT_EQ(draws_.size(), 2u);
    EXPECT_EQ(draws_[0].mag, static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(draws_[0].texture0, app_->WallTexture);
    EXPECT_EQ(draws_[0].count, 8u);
    EXPECT_EQ(draws_[1].count, 4u);
    // Half size; the base (0.4 about x) first, then turned by -0.5 about z:
    // rows (cos 0.5, -sin 0.5, 0) and (cos 0.4 sin 0.5, cos 0.4 cos 0.5, sin 0.4), halved.
    EXPECT_NEAR(draws_[0].world._11, 0.5f * std::cos(0.5f), 1e-6f);
    EXPECT_NEAR(draws_[0].world._12, -0.5f * std::sin(0.5f), 1e-6f);
    EXPECT_NEAR(draws_[0].world._21, 0.5f * std::cos(0.4f) * std::sin(0.5f), 1e-6f);
    EXPECT_NEAR(draws_[0].world._23, 0.5f * std::sin(0.4f), 1e-6f);
    for (const DeviceCall& c : recorder_->Named("SetTextureStageState"))
        EXPECT_FALSE(c.args[1] == D3DTSS_MAGFILTER || c.args[1] == D3DTSS_MINFILTER);

    draws_.clear();
    Vessels[0].Landed = 0;
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_EQ(draws_[0].mag, static_cast<DWORD>(D3DTEXF_LINEAR));
    DWORD mag = 0;
    device_->GetTextureStageState(0, D3DTSS_MAGFILTER, &mag);
    EXPECT_EQ(mag, static_cast<DWORD>(D3DTEXF_POINT));
}

TEST_F(ObjectLoop, HorizonRingPairsAlphaClosingPairAndTheSunSideStraightAhead)
{
    AtmosphereFrame f;
    f.HorizonRadius = 100.0f;
    f.HorizonDepth = 10.0f;
    f.RingRadius = 150.0f;
    f.RingDrop = -5.0f;
    D3DXMatrixIdentity(&f.HorizonFrame);
    f.FrameSunDirection = {0, 0.1f, 0};
    f.HazeColor = {200, 100, 50};
    f.RingTint = 0x11223344;
    f.AltitudeMSL = 10.0f;
    f.FogEnd = 64.0f;
    f.HorizonDistance = 16.0f;  // q = 0.75: alpha trunc(63.75)
    HorizonVertex v[HORIZON_VERTICES];
    const float sunFactor = FillHorizonRing(f, v);

    // Pair 48 at 48 x 0.032387555 rad: D = normalise(1.61930, 99.98689, -10); s = -0.0994907,
    // f = (s + 0.3) / 0.3 = 0.668364.
    EXPECT_NEAR(sunFactor, 0.668364f, 1e-5f);
    EXPECT_EQ(v[96].Colour, 0x3F854221u);   // alpha 63; 133.67, 66.84, 33.42 truncated
    EXPECT_EQ(v[0].Colour, 0x3FC86432u);    // s = 0: f = 1
    EXPECT_NEAR(v[96].Position.x, 1.6193f, 1e-3f);
    EXPECT_NEAR(v[96].Position.z, -10.0f, 1e-6f);
    EXPECT_NEAR(v[97].Position.y, 149.98034f, 1e-3f);
    EXPECT_NEAR(v[97].Position.z, -15.0f, 1e-6f);
    EXPECT_EQ(v[97].Colour, 0x11223344u);
    EXPECT_EQ(v[388].Position, D3DXVECTOR3(100.0f, 0.0f, -10.0f));
    EXPECT_EQ(v[388].Colour, v[386].Colour);
    EXPECT_EQ(v[389].Position, D3DXVECTOR3(150.0f, 0.0f, -15.0f));
    EXPECT_EQ(v[389].Colour, 0x11223344u);

    // The sun along -y: pair 193 (just short of a full turn) lies on the ramp and the
    // closing pair repeats its colour: D.y = -0.0322208, f = 0.892597.
    f.FrameSunDirection = {0, -1, 0};
    FillHorizonRing(f, v);
    EXPECT_EQ(v[386].Colour, 0x3FB2592Cu);
    EXPECT_EQ(v[388].Colour, 0x3FB2592Cu);
    EXPECT_EQ(v[0].Colour, 0x3FC86432u);

    // The sun along +x tells pair 48 from its mirror image 49 about the y axis:
    // D.x = 0.0161126, f = (0.3 - 0.0161126) / 0.3 = 0.946291 (pair 49: D.x < 0, f = 1).
    f.FrameSunDirection = {1, 0, 0};
    EXPECT_NEAR(FillHorizonRing(f, v), 0.946291f, 1e-5f);

    f.AltitudeMSL = 63.0f;  // q = 0: opaque inner edge
    FillHorizonRing(f, v);
    EXPECT_EQ(v[0].Colour >> 24, 255u);
}

TEST_F(ObjectLoop, PuffsSortedOnLastFramesDistancesRolledAboutTheirOwnAxisWithin128Kilometres)
{
    AltitudeMSL = 10.0f;
    UniverseObjects[8].Kind = KIND_CLOUDS;
    Vessels[0].Position = {0, 0, 0};
    Atmosphere.EyeOffset = {3, 0, 4};  // puff frame rows (0, -1, 0), (0.8, 0, -0.6), (0.6, 0, 0.8)
    CloudPuff* puffs = app_->CloudPuffs;
    for (int i = 0; i < CLOUD_PUFF_COUNT; ++i) puffs[i] = {{0, 0, 9000.0f}, 0, 1.0e9f, 0};
    puffs[10] = {{0, 0, 127.9f}, 0, 5.0f, 10};
    puffs[11] = {{0, 127.0f, 0}, 0.5f, 7.0f, 11};
    puffs[20] = {{128.1f, 0, 0}, 0, 1.0e9f, 20};
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);

    // The pass runs on the stored distances before the new ones: 11 goes before 10,
    // and 10 (the least) travels to the end. 128.1 km is not drawn.
    ASSERT_EQ(draws_.size(), 2u);
    EXPECT_EQ(draws_[0].count, 6u);
    EXPECT_FLOAT_EQ(draws_[0].world._42, 127.0f);
    EXPECT_FLOAT_EQ(draws_[1].world._43, 127.9f);
    EXPECT_EQ(puffs[10].Variant, 11);
    EXPECT_EQ(puffs[CLOUD_PUFF_COUNT - 1].Variant, 10);
    EXPECT_FLOAT_EQ(puffs[CLOUD_PUFF_COUNT - 1].EyeDistanceSq, 127.9f * 127.9f);
    EXPECT_EQ(puffs[19].Variant, 20);
    EXPECT_FLOAT_EQ(puffs[19].EyeDistanceSq, 128.1f * 128.1f);  // stored though not drawn
    // Rolled by 0.5 about its own z axis, then set upright: row 1 = cos 0.5 (0, -1, 0)
    // + sin 0.5 (0.8, 0, -0.6).
    EXPECT_NEAR(draws_[0].world._11, 0.8f * std::sin(0.5f), 1e-6f);
    EXPECT_NEAR(draws_[0].world._12, -std::cos(0.5f), 1e-6f);
    EXPECT_NEAR(draws_[0].world._13, -0.6f * std::sin(0.5f), 1e-6f);
}

TEST_F(ObjectLoop, PuffFrameKeepsTheLastGoodOneOverAPole)
{
    D3DXMATRIX frame;
    ASSERT_TRUE(CloudPuffFrame(D3DXVECTOR3(3, 0, 4), &frame));
    // The puff's z axis onto the vertical through the viewer (0.6, 0, 0.8).
    EXPECT_NEAR(frame._31, 0.6f, 1e-6f);
    EXPECT_NEAR(frame._33, 0.8f, 1e-6f);
    const D3DXMATRIX kept = frame;
    EXPECT_FALSE(CloudPuffFrame(D3DXVECTOR3(0, 0, 2941.0f), &frame));
    EXPECT_EQ(frame, kept);
    EXPECT_FALSE(CloudPuffFrame(D3DXVECTOR3(0, 0, -5.0f), &frame));
    EXPECT_EQ(frame, kept);
}


// The loop drawn through the device in pixels.
class ObjectPixels : public ObjectLoop {
protected:
    void SetUp() override
    {
        ObjectLoop::SetUp();
        if (HasFatalFailure()) return;
        recorder_->onCall = nullptr;
        ViewOffset = 0.0f;
        FieldOfView = 1.2f;
        app_->BackBufferDesc.Width = kSize;
        app_->BackBufferDesc.Height = kSize;
        ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);
        for (auto [buffer, bytes] : {std::pair{&app_->SkyWallBuffer, 320u}, std::pair{&app_->SkyCapBuffer, 384u},
                                     std::pair{&app_->SunQuadBuffer, 128u}, std::pair{&app_->CloudPuffBuffer, 38400u}}) {
            ASSERT_EQ(device_->CreateVertexBuffer(bytes, 0, MODEL_VERTEX_FVF, D3DPOOL_MANAGED, buffer), D3D_OK);
            owned_.push_back(*buffer);
        }
        app_->FillStaticBuffers();
        device_->SetMaterial(&WhiteMaterial);
        device_->SetVertexShader(MODEL_VERTEX_FVF);  // as the vessels step leaves it
    }
    void Look(const D3DXVECTOR3& at, const D3DXVECTOR3& up)
    {
        const D3DXVECTOR3 eye(0, 0, 0);
        D3DXMATRIX view;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        device_->SetTransform(D3DTS_VIEW, &view);
    }
    void Clear(D3DCOLOR colour) { device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, colour, 1.0f, 0); }
};

TEST_F(ObjectPixels, SkyBoxCoversEveryPixelInAnyViewDirectionAndItsTintBlendsByAlpha)
{
    app_->WallTexture = Texture(0xFF204080);
    app_->FloorTexture = Texture(0xFF204080);
    UniverseObjects[5].Kind = KIND_SKY_BOX;
    D3DXMatrixRotationX(&UniverseObjects[5].BaseMatrix, 0.4091f + 1.5707964f);
    UniverseObjects[3].AngleB = 0.35f;
    Atmosphere.SkyBoxTint = 0x00FF0000;  // alpha 0: the stars alone
    const D3DXVECTOR3 views[][2] = {{{0, 0, 1}, {0, 1, 0}}, {{1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {0, 0, 1}},
                                    {{0, -1, 0}, {1, 0, 0}}, {{1, 1, 1}, {0, 1, 0}}, {{-1, 1, -1}, {0, 1, 0}},
                                    {{-0.3f, -1, 0.7f}, {0, 0, 1}}, {{0, 0, -1}, {0, 1, 0}}};
    for (float fov : {1.2f, 0.05f}) {
        FieldOfView = fov;
        ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);
        for (const auto& v : views) {
            Clear(0x00FF00);
            Look(v[0], v[1]);
            ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
            const std::vector<std::uint32_t> p = Pixels();
            int uncovered = 0;
            for (std::uint32_t c : p) uncovered += c == 0x00FF00 ? 1 : 0;
            EXPECT_EQ(uncovered, 0) << "fov " << fov << " toward " << v[0].x << " " << v[0].y << " " << v[0].z;
            EXPECT_RGB_NEAR(p[32 * 64 + 32], 0x20, 0x40, 0x80, 1);
        }
    }
    Atmosphere.SkyBoxTint = 0xFFFF0000;  // alpha 255: the tint alone
    Clear(0x00FF00);
    ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    EXPECT_RGB_NEAR(Pixel(32, 32), 255, 0, 0, 1);
    EXPECT_RGB_NEAR(Pixel(0, 63), 255, 0, 0, 1);
}

TEST_F(ObjectPixels, CloudTexelOfAlphaZeroWritesNeitherColourNorDepth)
{
    // One puff 2 km ahead of the viewer, then a blue square 5 km ahead behind it.
    AltitudeMSL = 2.0f;
    UniverseObjects[8].Kind = KIND_CLOUDS;
    Vessels[0].Position = {0, 0, -2941.6f};
    Atmosphere.EyeOffset = {0, 0, 2941.6f};  // the vertical through the viewer along +z
    Atmosphere.SkyColor = {1, 1, 1};
    SetModel(POLYGON_SPHERE, FacingSquare());
    IDirect3DTexture8* blue = Texture(0xFF0000FF);
    Look({0, 0, 1}, {0, 1, 0});
    auto frame = [&](std::uint32_t cloudTexel) {
        for (CloudPuff& p : app_->CloudPuffs) p = {{0, 0, 9000.0f}, 0, 1.0e9f, 0};
        app_->CloudPuffs[CLOUD_PUFF_COUNT - 1] = {{0, 0, 2943.6f}, 0, 1.0e9f, 0};  // drawn at (0, 0, 2)
        app_->CloudTexture = Texture(cloudTexel);
        Clear(0x000000);
        ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
        D3DXMATRIX scale, move;
        D3DXMatrixScaling(&scale, 4.0f, 4.0f, 1.0f);
        D3DXMatrixTranslation(&move, 0, 0, 5.0f);
        const D3DXMATRIX world = scale * move;  // covers the whole view
        device_->SetTransform(D3DTS_WORLD, &world);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetTexture(0, blue);
        device_->SetStreamSource(0, app_->PolygonObjects[POLYGON_SPHERE].VertexBuffer, sizeof(ModelVertex));
        device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
        device_->SetRenderState(D3DRS_LIGHTING, TRUE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    };
    // The opaque puff (lit by the sky colour alone: white) hides the square's middle.
    frame(0xFFFFFFFF);
    SaveScreenshot("cloud-opaque.ppm", Pixels(), kSize, kSize);
    EXPECT_RGB_NEAR(Pixel(32, 32), 255, 255, 255, 2);
    EXPECT_RGB_NEAR(Pixel(32, 5), 0, 0, 255, 1);
    EXPECT_FLOAT_EQ(app_->CloudPuffs[CLOUD_PUFF_COUNT - 1].EyeDistanceSq, 4.0f);
    // A puff of alpha-0 texels leaves colour and depth alone: the square shows through.
    frame(0x00FFFFFF);
    SaveScreenshot("cloud-clear.ppm", Pixels(), kSize, kSize);
    EXPECT_RGB_NEAR(Pixel(32, 32), 0, 0, 255, 1);
    EXPECT_RGB_NEAR(Pixel(30, 34), 0, 0, 255, 1);
}

TEST_F(ObjectPixels, NavLightsBeyond380KilometresAddNoColour)
{
    // A narrow view straight at a station; its light 0 (white, behind it along the
    // view) is drawn about 18 units across and fills most of the picture.
    FieldOfView = 0.05f;
    ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);
    device_->SetVertexShader(MODEL_VERTEX_FVF);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    app_->PolygonObjects[POLYGON_STATION].NavLights[1].Pattern = 0;
    Look({0, 0, 1}, {0, 1, 0});
    auto frame = [&](float d) {
        Station(0, d, POLYGON_STATION);
        Clear(0x404040);
        ASSERT_EQ(DrawUniverseObjects(*app_), S_OK);
    };
    frame(190.0f);  // fade 0.5: source 0.5 times itself (SRCCOLOR) added: 0.25 of white
    EXPECT_RGB_NEAR(Pixel(10, 10), 0x40 + 64, 0x40 + 64, 0x40 + 64, 2);
    frame(390.0f);  // fade -0.026: black at most, added to what is there
    EXPECT_RGB_NEAR(Pixel(10, 10), 0x40, 0x40, 0x40, 0);
}

}  // namespace
