// Terrain patches, the patch cache's plan and the cloud puffs, against values
// worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "platform/sys/crt.h"
#include "view/state.h"
#include "view/terrain.h"

namespace {

constexpr float R = 2939.6f;

float Length(const D3DXVECTOR3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

D3DXVECTOR3 Dir(const D3DXVECTOR3& v) { return v / Length(v); }

// A facet of the sphere: corners on the radius, texture corners (0, 0), (1, 0), (0, 1).
void Facet(ModelVertex tri[3])
{
    tri[0] = {Dir(D3DXVECTOR3(0.0f, 0.0f, 1.0f)) * R, {}, 0.0f, 0.0f};
    tri[1] = {Dir(D3DXVECTOR3(0.06f, 0.0f, 1.0f)) * R, {}, 1.0f, 0.0f};
    tri[2] = {Dir(D3DXVECTOR3(0.0f, 0.06f, 1.0f)) * R, {}, 0.0f, 1.0f};
}

struct Patch {
    std::unique_ptr<FacetData> entry = std::make_unique<FacetData>();
    FacetSharing sharing;
    TerrainVertex v[TERRAIN_VERTICES];
    void Build()
    {
        ModelVertex tri[3];
        Facet(tri);
        BuildTerrainPatchGeometry(tri, *entry, sharing, v);
    }
    int ListSize(int vertex) const
    {
        int n = 0;
        while (n < TERRAIN_SHARING && entry->Sharing[vertex][n] >= 0) ++n;
        return n;
    }
};

void ExpectDirection(const D3DXVECTOR3& got, const D3DXVECTOR3& want)
{
    const D3DXVECTOR3 a = Dir(got), b = Dir(want);
    EXPECT_NEAR(a.x, b.x, 1e-6f);
    EXPECT_NEAR(a.y, b.y, 1e-6f);
    EXPECT_NEAR(a.z, b.z, 1e-6f);
}

TEST(TerrainPatch, FlatFacetRowsOfTrianglesFromCornerToCorner)
{
    Patch p;
    p.Build();
    ModelVertex tri[3];
    Facet(tri);
    const D3DXVECTOR3 P0 = tri[0].Position, P1 = tri[1].Position, P2 = tri[2].Position;
    // 400 triangles: row r starts at triangle r^2 with (a0, c0, c1).
    ExpectDirection(p.v[0].Position, P0);
    ExpectDirection(p.v[1].Position, P0 + (P1 - P0) * 0.05f);
    ExpectDirection(p.v[2].Position, P0 + (P2 - P0) * 0.05f);
    const int row3 = 3 * 9;  // triangle 9 starts row 3
    ExpectDirection(p.v[row3].Position, P0 + (P1 - P0) * 0.15f);
    ExpectDirection(p.v[row3 + 1].Position, P0 + (P1 - P0) * 0.2f);
    // Row 3's second triangle (a0, c1, a1): c1 a quarter of the way along row 4.
    const D3DXVECTOR3 c0 = P0 + (P1 - P0) * 0.2f, d0 = P0 + (P2 - P0) * 0.2f;
    ExpectDirection(p.v[row3 + 4].Position, c0 + (d0 - c0) * 0.25f);
    // The last triangle ends on corner 2, with its texture corner.
    ExpectDirection(p.v[1199].Position, P2);
    ExpectDirection(p.v[1198].Position, P1 + (P2 - P1) * 0.95f);
    EXPECT_NEAR(p.v[1199].U0, 0.0f, 1e-6f);
    EXPECT_NEAR(p.v[1199].V0, 1.0f, 1e-6f);
    EXPECT_NEAR(p.v[1198].U0, 0.05f, 1e-6f);
    EXPECT_NEAR(p.v[1198].V0, 0.95f, 1e-6f);
    for (const TerrainVertex& v : p.v) EXPECT_NEAR(Length(v.Position), R, 2.5e-4f);
}

TEST(TerrainPatch, HeightsCAandBGoToTheThreeCornersInOrder)
{
    Patch p;
    p.entry->HeightC[7] = 100;
    p.entry->HeightA[7] = 50;
    p.entry->HeightB[7] = -127;
    p.Build();
    // 2939.6 + h x 0.04921259 / 2939.6: +0.0016741, +0.0008371, -0.0021262 (one float step is 0.00024).
    EXPECT_NEAR(Length(p.v[21].Position), 2939.6016741f, 2.5e-4f);
    EXPECT_NEAR(Length(p.v[22].Position), 2939.6008371f, 2.5e-4f);
    EXPECT_NEAR(Length(p.v[23].Position), 2939.5978738f, 2.5e-4f);
}

TEST(TerrainPatch, TileCornersAndSignedCornerShifts)
{
    Patch p;
    const float t1[6] = {511.5f / 2048, 1.0f / 2048, 1020.0f / 2048, 883.0f / 2048, 3.0f / 2048, 883.0f / 2048};
    const float t0[6] = {517.0f / 2048, 841.0f / 2048, 515.0f / 2048, 843.0f / 2048, 516.0f / 2048, 843.0f / 2048};
    for (int t = 0; t < 5; ++t) p.entry->TileType[t] = 1;
    p.entry->CornerShift[1] = 1;
    p.entry->CornerShift[2] = 4;    // the cycle repeats every three shifts
    p.entry->CornerShift[3] = 200;  // a negative signed byte: no shift
    p.entry->CornerShift[4] = 2;
    p.entry->TileType[5] = 9;       // no such tile: tile 0
    p.Build();
    auto expectCorners = [&](int t, const float* uv, int a, int b, int c) {
        const int from[3] = {a, b, c};
        for (int k = 0; k < 3; ++k) {
            EXPECT_FLOAT_EQ(p.v[3 * t + k].U1, uv[2 * from[k]]) << "triangle " << t << " corner " << k;
            EXPECT_FLOAT_EQ(p.v[3 * t + k].V1, uv[2 * from[k] + 1]) << "triangle " << t << " corner " << k;
        }
    };
    expectCorners(0, t1, 0, 1, 2);
    expectCorners(1, t1, 1, 2, 0);
    expectCorners(2, t1, 1, 2, 0);
    expectCorners(3, t1, 0, 1, 2);
    expectCorners(4, t1, 2, 0, 1);
    expectCorners(5, t0, 0, 1, 2);
}

TEST(TerrainPatch, SharingListsAndSummedNormals)
{
    Patch p;
    p.Build();
    EXPECT_TRUE(p.sharing.ready);
    // Corner P0: triangle 0 only. Point c0 of row 0 on the edge: triangles 0, 1, 2.
    const std::int16_t corner[6] = {0, -1, -1, -1, -1, -1}, edge[6] = {0, 1, 2, -1, -1, -1};
    EXPECT_EQ(0, std::memcmp(p.entry->Sharing[0], corner, sizeof corner));
    EXPECT_EQ(0, std::memcmp(p.entry->Sharing[1], edge, sizeof edge));
    EXPECT_EQ(p.ListSize(1199), 1);
    // Row 2's middle point a1 (the last corner of triangle 5 = (a0, c1, a1)) is inside: six triangles.
    EXPECT_EQ(p.ListSize(17), 6);

    // The corner's normal is its one face normal, unnormalised, pointing out of the planet.
    const D3DXVECTOR3 a = p.v[0].Position, b = p.v[1].Position, c = p.v[2].Position;
    const D3DXVECTOR3 e1 = a - b, e2 = a - c;
    const D3DXVECTOR3 n0(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
    EXPECT_NEAR(p.v[0].Normal.x, n0.x, 1e-3f);
    EXPECT_NEAR(p.v[0].Normal.y, n0.y, 1e-3f);
    EXPECT_NEAR(p.v[0].Normal.z, n0.z, 1e-3f);
    EXPECT_GT(p.v[0].Normal.z, 1.0f);  // twice a small triangle's area (about 55 km^2), outward
    // The inner point sums six nearly equal face normals.
    EXPECT_NEAR(Length(p.v[17].Normal) / Length(n0), 6.0f, 0.05f);
    EXPECT_GT(p.v[17].Normal.z / Length(p.v[17].Normal), 0.9999f);

    // A second build of the entry keeps its lists even where the geometry differs.
    p.entry->Sharing[0][1] = 7;
    p.Build();
    EXPECT_EQ(p.entry->Sharing[0][1], 7);
}

TEST(TerrainPatch, ASharingListNeverHoldsMoreThanSix)
{
    Patch p;
    ModelVertex tri[3];
    Facet(tri);
    tri[1] = tri[0];
    tri[2] = tri[0];  // every vertex at one point
    BuildTerrainPatchGeometry(tri, *p.entry, p.sharing, p.v);
    const std::int16_t six[6] = {0, 0, 0, 1, 1, 1};
    EXPECT_EQ(0, std::memcmp(p.entry->Sharing[600], six, sizeof six));
}

TEST(TerrainPatch, CachePlanEvictsBuildsIntoLowestFreeSlotAndUnmasksNearCachedPatches)
{
    std::int16_t ids[TERRAIN_PATCH_SLOTS];
    for (auto& id : ids) id = -1;
    std::int16_t nearest[TERRAIN_NEAREST];
    PatchDraw plan[TERRAIN_NEAREST];
    for (int k = 0; k < TERRAIN_NEAREST; ++k) nearest[k] = static_cast<std::int16_t>(100 + k);
    EXPECT_EQ(PlanTerrainPatches(ids, nearest, plan), 0);
    for (int k = 0; k < TERRAIN_NEAREST; ++k) {
        EXPECT_EQ(plan[k].slot, k);
        EXPECT_TRUE(plan[k].build);
        EXPECT_FALSE(plan[k].unmasked);  // built this frame: drawn inside the mask
        EXPECT_EQ(ids[k], 100 + k);
    }

    // Facet 100 leaves, 132 comes in nearest; 105 and 104 swap places.
    for (int k = 0; k < TERRAIN_NEAREST; ++k) nearest[k] = static_cast<std::int16_t>(101 + k);
    nearest[0] = 132;
    nearest[31] = 101;
    std::swap(nearest[3], nearest[4]);
    EXPECT_EQ(PlanTerrainPatches(ids, nearest, plan), 0);
    EXPECT_TRUE(plan[0].build);
    EXPECT_EQ(ids[0], 132);
    EXPECT_EQ(plan[3].slot, 5);
    EXPECT_EQ(plan[4].slot, 4);
    for (int k = 1; k < TERRAIN_NEAREST; ++k) {
        EXPECT_FALSE(plan[k].build);
        EXPECT_EQ(plan[k].unmasked, k < 9) << k;
    }
    EXPECT_EQ(plan[31].slot, 1);

    // Two leave: slots 2 and 6 free; the newcomers take 2 first, then 6.
    nearest[1] = 500;   // was 102 in slot 2
    nearest[5] = 600;   // was 106 in slot 6
    std::swap(nearest[1], nearest[5]);
    EXPECT_EQ(PlanTerrainPatches(ids, nearest, plan), 0);
    EXPECT_EQ(plan[1].slot, 2);
    EXPECT_EQ(ids[2], 600);
    EXPECT_EQ(plan[5].slot, 6);
    EXPECT_EQ(ids[6], 500);
}

TEST(TerrainPatch, EmptyingTheCacheFreesEverySlotAndTheNearestSlot)
{
    for (std::int16_t& id : TerrainPatchIds) id = 3;
    NearestPatchSlot = 4;
    FacetFileSharing(2).ready = true;
    EmptyTerrainPatchCache();
    for (std::int16_t id : TerrainPatchIds) EXPECT_EQ(id, -1);
    EXPECT_EQ(NearestPatchSlot, -1);
    EXPECT_FALSE(FacetFileSharing(2).ready);
}

TEST(CloudPuffs, RuntimeGeneratorScattersFiveDrawsAPuffOnTheLayer)
{
    crt::Srand(1);
    EXPECT_EQ(crt::Rand(), 41);
    EXPECT_EQ(crt::Rand(), 18467);
    EXPECT_EQ(crt::Rand(), 6334);

    static CloudPuff puffs[CLOUD_PUFF_COUNT];
    ScatterCloudPuffsAround(D3DXVECTOR3(0.0f, 0.0f, 2939.6f), 1, puffs);
    // x, y, z = draw / 32767 x 236 + c - 118 from 41, 18467, 6334: (-117.70470, 15.00613,
    // 2867.21980), put on 2941.6; roll from 26500, variant from 19169.
    EXPECT_NEAR(puffs[0].Position.x, -120.654873f, 2e-3f);
    EXPECT_NEAR(puffs[0].Position.y, 15.382250f, 2e-3f);
    EXPECT_NEAR(puffs[0].Position.z, 2939.084270f, 2e-3f);
    EXPECT_NEAR(puffs[0].Roll, 5.0814664f, 1e-5f);
    EXPECT_EQ(puffs[0].Variant, 4);
    // The second puff's roll and variant are draws 9 and 10 (26962, 24464).
    EXPECT_NEAR(puffs[1].Roll, 5.1700565f, 1e-5f);
    EXPECT_EQ(puffs[1].Variant, 5);
    for (const CloudPuff& p : puffs) EXPECT_NEAR(Length(p.Position), 2941.6f, 1e-3f);
}

TEST(CloudPuffs, OneBubblePassPutsTheNearestLastWithoutAFullSort)
{
    static CloudPuff puffs[CLOUD_PUFF_COUNT];
    for (int i = 0; i < CLOUD_PUFF_COUNT; ++i) {
        puffs[i].EyeDistanceSq = static_cast<float>(i);
        puffs[i].Variant = i;
    }
    CloudBubblePass(puffs);
    EXPECT_EQ(puffs[CLOUD_PUFF_COUNT - 1].Variant, 0);
    EXPECT_EQ(puffs[0].Variant, 1);
    EXPECT_EQ(puffs[CLOUD_PUFF_COUNT - 2].Variant, 1199);
}

}  // namespace
