// The planet step on a recording device: draw counts, the far and the terrain
// path, the patch cache across frames, the ground under the own vessel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tests/view_draw/draw_scene_support.h"
#include "platform/math/vector_values.h"
#include "view/planet.h"
#include "view/terrain.h"
#include "view/universe.h"

namespace {

constexpr float R = 2939.6f;

struct Drawn {
    DWORD start = 0, count = 0, stencil = 0, fvf = 0;
    DWORD op0 = 0, op1 = 0, arg11 = 0, arg12 = 0, coords1 = 0;
    IDirect3DVertexBuffer8* stream = nullptr;
};

class PlanetStep : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        if (HasFatalFailure()) return;
        // 4500 facets about 60 km across around points spread evenly over the sphere.
        app_->Planet.Sphere = new ModelVertex[PLANET_SPHERE_VERTICES]();
        for (int i = 0; i < PLANET_FACET_COUNT; ++i) {
            const float z = 1.0f - 2.0f * (i + 0.5f) / PLANET_FACET_COUNT;
            const float a = 2.3999632f * static_cast<float>(i);
            const float s = std::sqrt(1.0f - z * z);
            const D3DXVECTOR3 c(s * std::cos(a), s * std::sin(a), z);
            const D3DXVECTOR3 t1 = Unit(D3DXVECTOR3(-c.y, c.x, 0.0f) + D3DXVECTOR3(0.0f, 0.0f, 1e-3f));
            D3DXVECTOR3 t2;
            D3DXVec3Cross(&t2, &c, &t1);
            const D3DXVECTOR3 corner[3] = {c + t1 * 0.01f, c - t1 * 0.005f + t2 * 0.009f, c - t1 * 0.005f - t2 * 0.009f};
            for (int k = 0; k < 3; ++k) app_->Planet.Sphere[3 * i + k] = {Unit(corner[k]) * R, Unit(corner[k]), 0, 0};
            app_->Planet.Centroids[i] = c * R;
            app_->Planet.DrawOrder[i] = static_cast<std::int16_t>(i);
            app_->Planet.Level[i] = 1;
        }
        for (FacetData& f : app_->Facets) f = FacetData{};
        SetModel(POLYGON_PLANET_SPHERE, std::vector<ModelVertex>(PLANET_BUFFER_FACETS * 3));
        for (auto& b : app_->TerrainPatchBuffers) {
            ASSERT_EQ(device_->CreateVertexBuffer(TERRAIN_VERTICES * sizeof(TerrainVertex), 0, TERRAIN_VERTEX_FVF,
                                                  D3DPOOL_MANAGED, &b),
                      D3D_OK);
            owned_.push_back(b);
        }
        EmptyTerrainPatchCache();
        device_->SetVertexShader(MODEL_VERTEX_FVF);  // as the steps before leave it
        HomeObjectIndex = 0;
        UniverseObjects[0] = UniverseObject{};
        UniverseObjects[0].Kind = KIND_HOME_PLANET;
        D3DXMatrixIdentity(&UniverseObjects[0].CurrentMatrix);
        recorder_->onCall = [this](const DeviceCall& c) {
            if (c.name != "DrawPrimitive") return;
            ASSERT_EQ(c.args[0], static_cast<DWORD>(D3DPT_TRIANGLELIST));
            Drawn d;
            d.start = c.args[1];
            d.count = c.args[2];
            device_->GetVertexShader(&d.fvf);
            device_->GetRenderState(D3DRS_STENCILFUNC, &d.stencil);
            device_->GetTextureStageState(0, D3DTSS_COLOROP, &d.op0);
            device_->GetTextureStageState(1, D3DTSS_COLOROP, &d.op1);
            device_->GetTextureStageState(1, D3DTSS_COLORARG1, &d.arg11);
            device_->GetTextureStageState(1, D3DTSS_COLORARG2, &d.arg12);
            device_->GetTextureStageState(1, D3DTSS_TEXCOORDINDEX, &d.coords1);
            UINT stride = 0;
            device_->GetStreamSource(0, &d.stream, &stride);
            if (d.stream) d.stream->Release();
            draws_.push_back(d);
        };
    }
    void TearDown() override
    {
        EmptyTerrainPatchCache();
        SceneTest::TearDown();
    }
    // The own vessel above the model point m (the eye sees model point m, the frame
    // being mirrored through the vessel) at altitude a; one frame of the step.
    void Frame(const D3DXVECTOR3& m, float a)
    {
        const D3DXVECTOR3 p = -Unit(m) * (R + a);
        Vessels[0].Position = p;
        Atmosphere.EyeOffset = -p;
        AltitudeMSL = a;
        D3DXMatrixTranslation(&UniverseObjects[0].WorldMatrix, p.x, p.y, p.z);
        draws_.clear();
        ASSERT_EQ(DrawPlanet(*app_), S_OK);
    }
    D3DXVECTOR3 FacetCentre(int id) const
    {
        const float z = 1.0f - 2.0f * (id + 0.5f) / PLANET_FACET_COUNT;
        const float a = 2.3999632f * static_cast<float>(id);
        const float s = std::sqrt(1.0f - z * z);
        return D3DXVECTOR3(s * std::cos(a), s * std::sin(a), z);
    }
    DWORD State(D3DRENDERSTATETYPE s)
    {
        DWORD v = 0;
        device_->GetRenderState(s, &v);
        return v;
    }
    DWORD Stage(DWORD stage, D3DTEXTURESTAGESTATETYPE s)
    {
        DWORD v = 0;
        device_->GetTextureStageState(stage, s, &v);
        return v;
    }
    void ExpectExitState()
    {
        EXPECT_EQ(State(D3DRS_STENCILFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
        EXPECT_EQ(Stage(1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE));
        EXPECT_EQ(Stage(0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
        EXPECT_EQ(Stage(0, D3DTSS_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
        EXPECT_EQ(Stage(0, D3DTSS_MIPFILTER), static_cast<DWORD>(D3DTEXF_NONE));
        DWORD shader = 0;
        device_->GetVertexShader(&shader);
        EXPECT_EQ(shader, MODEL_VERTEX_FVF);
        EXPECT_EQ(State(D3DRS_FOGENABLE), static_cast<DWORD>(FALSE));
    }
    std::vector<Drawn> draws_;
};

TEST_F(PlanetStep, DrawCountGrowsWithAltitude)
{
    EXPECT_EQ(PlanetDrawCount(0.0f), 9);
    EXPECT_EQ(PlanetDrawCount(630.0f), 549);    // atan(0.39597737) = 0.377034 rad: 540.06 + 9
    EXPECT_EQ(PlanetDrawCount(1.0e6f), 2250);   // 2247.7 + 9, held at 2250
    EXPECT_EQ(PlanetDrawCount(-630.0f), 549);
}

TEST_F(PlanetStep, FarPathOnlyAboveSixHundredThirtyKilometres)
{
    FogEnabled = 1;
    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    const D3DXVECTOR3 facet100 = app_->Planet.Sphere[300].Position;
    Frame(FacetCentre(100), 630.5f);
    ASSERT_EQ(draws_.size(), 1u);
    EXPECT_EQ(draws_[0].start, 0u);
    EXPECT_EQ(draws_[0].count, static_cast<DWORD>(PlanetDrawCount(630.5f)));
    EXPECT_EQ(draws_[0].stream, app_->PolygonObjects[POLYGON_PLANET_SPHERE].VertexBuffer);
    EXPECT_EQ(draws_[0].stencil, static_cast<DWORD>(D3DCMP_EQUAL));
    // The texture alone, then times the lit vertex colour.
    EXPECT_EQ(draws_[0].op0, static_cast<DWORD>(D3DTOP_SELECTARG1));
    EXPECT_EQ(draws_[0].op1, static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(draws_[0].arg11, D3DTA_DIFFUSE);
    EXPECT_EQ(draws_[0].arg12, D3DTA_CURRENT);
    ExpectExitState();
    EXPECT_EQ(NearestPatchSlot, -1);
    // The sphere buffer holds the nearer half of the sorted facets, nearest first.
    BYTE* data = nullptr;
    IDirect3DVertexBuffer8* sphere = app_->PolygonObjects[POLYGON_PLANET_SPHERE].VertexBuffer;
    ASSERT_EQ(sphere->Lock(0, 0, &data, 0), D3D_OK);
    std::vector<ModelVertex> copied(PLANET_BUFFER_FACETS * 3);
    std::memcpy(copied.data(), data, copied.size() * sizeof(ModelVertex));
    sphere->Unlock();
    EXPECT_EQ(app_->Planet.DrawOrder[0], 100);
    EXPECT_EQ(copied[0].Position, facet100);
    EXPECT_EQ(0, std::memcmp(copied.data(), app_->Planet.Sphere, copied.size() * sizeof(ModelVertex)));

    device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
    Frame(FacetCentre(100), 630.0f);
    ASSERT_EQ(draws_.size(), 33u);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(draws_[k].count, 400u);
        EXPECT_EQ(draws_[k].fvf, TERRAIN_VERTEX_FVF);
        EXPECT_EQ(draws_[k].stream, app_->TerrainPatchBuffers[k]);
        EXPECT_EQ(draws_[k].op1, static_cast<DWORD>(D3DTOP_MODULATE2X));
        EXPECT_EQ(draws_[k].coords1, 1u);  // the detail from the second set
    }
    EXPECT_EQ(draws_[32].start, 96u);
    EXPECT_EQ(draws_[32].count, 549u - 32u);
    EXPECT_EQ(draws_[32].fvf, MODEL_VERTEX_FVF);
    ExpectExitState();
    // The nearest facet went first and into slot 0.
    EXPECT_EQ(app_->Planet.DrawOrder[0], 100);
    EXPECT_EQ(TerrainPatchIds[0], 100);
    EXPECT_EQ(NearestPatchSlot, 0);
}

TEST_F(PlanetStep, CachedNearPatchesIgnoreTheMaskAndPuffsScatterOnASlotChangeOnly)
{
    const D3DXVECTOR3 m = FacetCentre(2000);
    Frame(m, 0.0f);
    ASSERT_EQ(draws_.size(), 32u);  // n = 9: no sphere facets beside the patches
    for (const Drawn& d : draws_) EXPECT_EQ(d.stencil, static_cast<DWORD>(D3DCMP_EQUAL));  // all built now
    EXPECT_EQ(NearestPatchSlot, 0);
    const D3DXVECTOR3 c = app_->Planet.Centroids[0];
    const D3DXVECTOR3 gap = app_->CloudPuffs[0].Position - c;
    EXPECT_LT(D3DXVec3Length(&gap), 236.0f);  // scattered around the nearest facet
    // Seeded with the nearest facet's id.
    static CloudPuff seeded[CLOUD_PUFF_COUNT];
    ScatterCloudPuffsAround(c, app_->Planet.DrawOrder[0], seeded);
    EXPECT_EQ(app_->CloudPuffs[CLOUD_PUFF_COUNT - 1].Position, seeded[CLOUD_PUFF_COUNT - 1].Position);
    EXPECT_EQ(app_->CloudPuffs[CLOUD_PUFF_COUNT - 1].Roll, seeded[CLOUD_PUFF_COUNT - 1].Roll);
    app_->CloudPuffs[0].Variant = 99;

    Frame(m, 0.0f);
    ASSERT_EQ(draws_.size(), 32u);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(draws_[k].stencil, static_cast<DWORD>(k < 9 ? D3DCMP_ALWAYS : D3DCMP_EQUAL)) << k;
    }
    EXPECT_EQ(app_->CloudPuffs[0].Variant, 99);  // same nearest slot: no new scatter
    // The ground measured under the vessel lies on the patch (at most a few metres in).
    EXPECT_NEAR(GroundRadius, R - 0.002f, 0.004f);

    // The second nearest facet becomes the nearest: its slot, already built.
    const int next = app_->Planet.DrawOrder[1];
    const std::int16_t nextSlot = [&] {
        for (std::int16_t s = 0; s < TERRAIN_PATCH_SLOTS; ++s)
            if (TerrainPatchIds[s] == next) return s;
        return std::int16_t{-1};
    }();
    Frame(FacetCentre(next), 0.0f);
    EXPECT_EQ(NearestPatchSlot, nextSlot);
    EXPECT_NE(nextSlot, 0);
    EXPECT_NE(app_->CloudPuffs[0].Variant, 99);
}

TEST_F(PlanetStep, FacetsSortedFromTheEyeTurnedBackIntoTheModelFrame)
{
    // The planet turned 1 rad about z: the eye above the turned facet 1234 sees
    // model facet 1234.
    D3DXMatrixRotationZ(&UniverseObjects[0].CurrentMatrix, 1.0f);
    D3DXVECTOR3 turned;
    const D3DXVECTOR3 m = FacetCentre(1234);
    D3DXVec3TransformNormal(&turned, &m, &UniverseObjects[0].CurrentMatrix);
    Frame(turned, 1000.0f);
    EXPECT_EQ(app_->Planet.DrawOrder[0], 1234);
}

TEST_F(PlanetStep, FacetOfLevelNineBuildsFlatFromTileZero)
{
    for (FacetData& f : app_->Facets) {
        std::memset(f.HeightA, 100, sizeof f.HeightA);
        std::memset(f.HeightB, 100, sizeof f.HeightB);
        std::memset(f.HeightC, 100, sizeof f.HeightC);
        std::memset(f.TileType, 1, sizeof f.TileType);
    }
    for (auto& level : app_->Planet.Level) level = 9;
    Frame(FacetCentre(321), 0.0f);
    ASSERT_EQ(NearestPatchSlot, 0);
    BYTE* data = nullptr;
    ASSERT_EQ(app_->TerrainPatchBuffers[0]->Lock(0, 0, &data, 0), D3D_OK);
    std::vector<TerrainVertex> v(TERRAIN_VERTICES);
    std::memcpy(v.data(), data, TERRAIN_VERTICES * sizeof(TerrainVertex));
    app_->TerrainPatchBuffers[0]->Unlock();
    for (int i = 0; i < TERRAIN_VERTICES; ++i) {
        EXPECT_NEAR(D3DXVec3Length(&app_->TerrainPositions[0][i]), R, 2.5e-4f);
        EXPECT_NEAR(D3DXVec3Length(&v[i].Position), R, 2.5e-4f);
    }
    EXPECT_FLOAT_EQ(v[0].U1, 517.0f / 2048.0f);
    EXPECT_FLOAT_EQ(v[1].V1, 843.0f / 2048.0f);
    EXPECT_FLOAT_EQ(v[1199].U1, 516.0f / 2048.0f);
}

TEST_F(PlanetStep, DeviceObjectsFreedEmptyTheCache)
{
    Frame(FacetCentre(7), 0.0f);
    ASSERT_EQ(NearestPatchSlot, 0);
    // The fixture releases the buffers it made.
    for (auto& b : app_->TerrainPatchBuffers) b = nullptr;
    for (PolygonObject& o : app_->PolygonObjects) o.VertexBuffer = nullptr;
    app_->Device = nullptr;
    EXPECT_EQ(app_->FreeDeviceObjects(), S_OK);
    app_->Device = recorder_;
    for (std::int16_t id : TerrainPatchIds) EXPECT_EQ(id, -1);
    EXPECT_EQ(NearestPatchSlot, -1);
}

TEST_F(PlanetStep, GroundFromTheNearestTriangleSlopeOnlyWhileLanded)
{
    // The slot's triangles in the plane z = -R of the model frame, the one under the
    // vessel last; the vessel at (0, 0, R + 0.5) sees model point (0, 0, -R - 0.5).
    static D3DXVECTOR3 p[TERRAIN_VERTICES];
    for (int t = 0; t < TERRAIN_TRIANGLES; ++t) {
        const float x = 50.0f + 3.0f * t;
        p[3 * t] = {x, 1, -R};
        p[3 * t + 1] = {x - 1, -1, -R};
        p[3 * t + 2] = {x + 1, -1, -R};
    }
    p[1197] = {0, 1, -R};
    p[1198] = {-1, -1, -R};
    p[1199] = {1, -1, -R};
    const D3DXVECTOR3 own(0, 0, R + 0.5f);
    D3DXMATRIX world, current;
    D3DXMatrixTranslation(&world, own.x, own.y, own.z);
    D3DXMatrixIdentity(&current);
    float ground = -1.0f;
    D3DXVECTOR3 slope(7, 7, 7);
    MeasureGround(p, world, current, own, false, &ground, &slope);
    EXPECT_NEAR(ground, R, 1e-3f);
    EXPECT_EQ(slope, D3DXVECTOR3(7, 7, 7));  // not landed: kept
    EXPECT_EQ(p[0], D3DXVECTOR3(0, 1, -R));  // the nearest triangle sorted first
    EXPECT_EQ(p[3], D3DXVECTOR3(50, 1, -R));

    // Landed: P1 - normalise((P0 - P1) x (P0 - P2)) x ground = (-1, -1, -R) - (0, 0, R).
    MeasureGround(p, world, current, own, true, &ground, &slope);
    EXPECT_NEAR(slope.x, -1.0f, 1e-4f);
    EXPECT_NEAR(slope.y, -1.0f, 1e-4f);
    EXPECT_NEAR(slope.z, -2.0f * R, 1e-2f);

    // A line parallel to the plane meets it nowhere: the point stays the origin.
    MeasureGround(p, world, current, D3DXVECTOR3(R + 0.5f, 0, 0), true, &ground, &slope);
    EXPECT_EQ(ground, 0.0f);
}

TEST_F(PlanetStep, StableOrderEqualsALiteralBubbleSort)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(0, 40);  // many ties
    float keys[300];
    for (float& k : keys) k = static_cast<float>(value(random));
    int bubble[300];
    float sorted[300];
    for (int i = 0; i < 300; ++i) {
        bubble[i] = i;
        sorted[i] = keys[i];
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int i = 0; i + 1 < 300; ++i) {
            if (sorted[i] > sorted[i + 1]) {
                std::swap(sorted[i], sorted[i + 1]);
                std::swap(bubble[i], bubble[i + 1]);
                swapped = true;
            }
        }
    }
    int order[300];
    ASSERT_TRUE(StableAscendingOrder(keys, 300, order));
    for (int i = 0; i < 300; ++i) EXPECT_EQ(order[i], bubble[i]) << i;
    keys[17] = NAN;
    EXPECT_FALSE(StableAscendingOrder(keys, 300, order));
}


TEST_F(PlanetStep, CachedNearPatchShowsOutsideTheDiscAndGreyDetailKeepsTheBaseColour)
{
    recorder_->onCall = nullptr;
    app_->BackBufferDesc.Width = kSize;
    app_->BackBufferDesc.Height = kSize;
    FieldOfView = 1.2f;
    ViewOffset = 0.0f;
    ASSERT_EQ(app_->PrepareDeviceObjects(), S_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);     // diffuse white
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_STENCILREF, 1);       // as the horizon disc leaves it
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    app_->PlanetTexture = Texture(0xFFC86432);          // (200, 100, 50)
    app_->TerrainDetailTexture = Texture(0xFF808080);   // neutral grey: 2 x 128/255 = 1.0039
    // Looking straight down from 1 km; no disc drawn, so the stencil holds 0 everywhere.
    const D3DXVECTOR3 m = FacetCentre(1234), eye(0, 0, 0);
    const D3DXVECTOR3 down = -m, side = Unit(D3DXVECTOR3(-m.y, m.x, 0));
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &down, &side);
    device_->SetTransform(D3DTS_VIEW, &view);

    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00FF00, 1.0f, 0);
    Frame(m, 1.0f);  // every patch built now: drawn under the mask, so nothing shows
    EXPECT_EQ(Pixel(32, 32), 0x00FF00u);

    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00FF00, 1.0f, 0);
    Frame(m, 1.0f);  // cached: the nine nearest ignore the mask
    SaveScreenshot("patch-outside-disc.ppm", Pixels(), kSize, kSize);
    EXPECT_RGB_NEAR(Pixel(32, 32), 200, 100, 50, 2);
    EXPECT_RGB_NEAR(Pixel(5, 58), 200, 100, 50, 2);
}

}  // namespace
