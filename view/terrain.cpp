#include "view/terrain.h"

#include "platform/math/vector_values.h"
#include "platform/sys/crt.h"
#include "view/model_files.h"
#include "view/state.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <utility>

namespace {

FacetData g_flatEntry{};            // static storage: all zero
FacetSharing g_flatSharing;
FacetSharing g_fileSharing[FACET_FILE_COUNT];

D3DXVECTOR3 Lerp(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float s)
{
    D3DXVECTOR3 out;
    D3DXVec3Lerp(&out, &a, &b, s);
    return out;
}

D3DXVECTOR2 Lerp(const D3DXVECTOR2& a, const D3DXVECTOR2& b, float s) { return a + (b - a) * s; }

// A point of the subdivision: the same expression wherever the point recurs, so
// shared points come out bit for bit equal.
struct Point {
    D3DXVECTOR3 position;
    D3DXVECTOR2 uv;
};

Point RowPoint(const Point& left, const Point& right, int j, int count)
{
    if (j == 0) return left;
    const float s = static_cast<float>(j) / static_cast<float>(count);
    return {Lerp(left.position, right.position, s), Lerp(left.uv, right.uv, s)};
}

Point EdgePoint(const Point& p0, const Point& p, int row)
{
    const float s = static_cast<float>(row) * TERRAIN_ROW_STEP;
    return {Lerp(p0.position, p.position, s), Lerp(p0.uv, p.uv, s)};
}

bool Near(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    return std::fabs(a.x - b.x) < FLT_EPSILON && std::fabs(a.y - b.y) < FLT_EPSILON &&
           std::fabs(a.z - b.z) < FLT_EPSILON;
}

}  // namespace

bool StableAscendingOrder(const float* keys, int count, int* order)
{
    for (int i = 0; i < count; ++i) {
        if (std::isnan(keys[i])) return false;
    }
    std::iota(order, order + count, 0);
    std::stable_sort(order, order + count, [keys](int a, int b) { return keys[a] < keys[b]; });
    return true;
}

FacetData& FlatFacetEntry() { return g_flatEntry; }
FacetSharing& FlatFacetSharing() { return g_flatSharing; }
FacetSharing& FacetFileSharing(int entry) { return g_fileSharing[entry]; }

void BuildTerrainPatchGeometry(const ModelVertex triangle[3], FacetData& entry, FacetSharing& sharing,
                               TerrainVertex out[TERRAIN_VERTICES])
{
    Point corner[3];
    for (int c = 0; c < 3; ++c) corner[c] = {Unit(triangle[c].Position), D3DXVECTOR2(triangle[c].U, triangle[c].V)};

    // Rows of 2r + 1 triangles between the points of row r and row r + 1.
    Point points[TERRAIN_VERTICES];
    int n = 0;
    for (int r = 0; r < TERRAIN_ROWS; ++r) {
        const Point a0 = EdgePoint(corner[0], corner[1], r), b0 = EdgePoint(corner[0], corner[2], r);
        const Point c0 = EdgePoint(corner[0], corner[1], r + 1), d0 = EdgePoint(corner[0], corner[2], r + 1);
        auto a = [&](int j) { return RowPoint(a0, b0, j, r); };
        auto c = [&](int j) { return RowPoint(c0, d0, j, r + 1); };
        points[n++] = a(0);
        points[n++] = c(0);
        points[n++] = c(1);
        for (int j = 1; j <= r; ++j) {
            points[n++] = a(j - 1);
            points[n++] = c(j);
            points[n++] = a(j);
            points[n++] = a(j);
            points[n++] = c(j);
            points[n++] = c(j + 1);
        }
    }

    for (int t = 0; t < TERRAIN_TRIANGLES; ++t) {
        const std::int8_t heights[3] = {entry.HeightC[t], entry.HeightA[t], entry.HeightB[t]};
        float tile[6];
        GetTileTexCoords(static_cast<std::int8_t>(entry.TileType[t]), tile[0], tile[1], tile[2], tile[3], tile[4],
                         tile[5]);
        for (int c = 0; c < 3; ++c) {
            TerrainVertex& v = out[3 * t + c];
            const Point& p = points[3 * t + c];
            v.Position = Unit(p.position) *
                         (PLANET_RADIUS + static_cast<float>(heights[c]) * TERRAIN_HEIGHT_SCALE / PLANET_RADIUS);
            v.U0 = p.uv.x;
            v.V0 = p.uv.y;
            v.U1 = tile[2 * c];
            v.V1 = tile[2 * c + 1];
        }
        // The shift is a signed byte: none unless 1..127.
        const int shifts = static_cast<std::int8_t>(entry.CornerShift[t]);
        for (int s = 0; s < shifts; ++s) {
            TerrainVertex* v = &out[3 * t];
            const float u = v[0].U1, w = v[0].V1;
            v[0].U1 = v[1].U1;
            v[0].V1 = v[1].V1;
            v[1].U1 = v[2].U1;
            v[1].V1 = v[2].V1;
            v[2].U1 = u;
            v[2].V1 = w;
        }
    }

    if (!sharing.ready) {
        for (int i = 0; i < TERRAIN_VERTICES; ++i) {
            std::int16_t* list = entry.Sharing[i];
            int count = 0;
            for (int j = 0; j < TERRAIN_VERTICES && count < TERRAIN_SHARING; ++j) {
                if (Near(out[i].Position, out[j].Position)) list[count++] = static_cast<std::int16_t>(j / 3);
            }
            for (; count < TERRAIN_SHARING; ++count) list[count] = -1;
        }
        sharing.ready = true;
    }

    for (int t = 0; t < TERRAIN_TRIANGLES; ++t) {
        const D3DXVECTOR3& v0 = out[3 * t].Position;
        entry.FaceNormals[t] = Cross(v0 - out[3 * t + 1].Position, v0 - out[3 * t + 2].Position);
    }
    for (int i = 0; i < TERRAIN_VERTICES; ++i) {
        D3DXVECTOR3 sum;
        for (int k = 0; k < TERRAIN_SHARING; ++k) {
            const std::int16_t t = entry.Sharing[i][k];
            if (t < 0 || t >= TERRAIN_TRIANGLES) break;
            sum += entry.FaceNormals[t];
        }
        out[i].Normal = sum;
    }
}

std::int16_t PlanTerrainPatches(std::int16_t ids[TERRAIN_PATCH_SLOTS], const std::int16_t nearest[TERRAIN_NEAREST],
                                PatchDraw plan[TERRAIN_NEAREST])
{
    for (int s = 0; s < TERRAIN_PATCH_SLOTS; ++s) {
        bool kept = false;
        for (int k = 0; k < TERRAIN_NEAREST && !kept; ++k) kept = ids[s] == nearest[k];
        if (!kept) ids[s] = -1;
    }
    std::int16_t nearestSlot = -1;
    for (int k = 0; k < TERRAIN_NEAREST; ++k) {
        PatchDraw& d = plan[k];
        d = PatchDraw{};
        for (int s = 0; s < TERRAIN_PATCH_SLOTS && d.slot < 0; ++s) {
            if (ids[s] == nearest[k] && ids[s] >= 0) d.slot = static_cast<std::int16_t>(s);
        }
        if (d.slot >= 0) {
            d.unmasked = k < TERRAIN_UNMASKED;
        } else {
            for (int s = 0; s < TERRAIN_PATCH_SLOTS && d.slot < 0; ++s) {
                if (ids[s] == -1) d.slot = static_cast<std::int16_t>(s);
            }
            if (d.slot < 0) continue;   // only with repeated ids among the nearest
            ids[d.slot] = nearest[k];
            d.build = true;
        }
        if (k == 0) nearestSlot = d.slot;
    }
    return nearestSlot;
}

void EmptyTerrainPatchCache()
{
    for (std::int16_t& id : TerrainPatchIds) id = -1;
    NearestPatchSlot = -1;
    for (FacetSharing& s : g_fileSharing) s.ready = false;
    g_flatSharing.ready = false;
}

void MeasureGround(D3DXVECTOR3 positions[TERRAIN_VERTICES], const D3DXMATRIX& planetWorld,
                   const D3DXMATRIX& planetCurrent, const D3DXVECTOR3& ownPosition, bool landed,
                   float* groundRadius, D3DXVECTOR3* slope)
{
    float distance[TERRAIN_TRIANGLES];
    for (int t = 0; t < TERRAIN_TRIANGLES; ++t) {
        const D3DXVECTOR3 centroid = (positions[3 * t] + positions[3 * t + 1] + positions[3 * t + 2]) / 3.0f;
        const D3DXVECTOR3 onSphere = Unit(centroid) * PLANET_RADIUS;
        D3DXVECTOR3 placed;
        D3DXVec3TransformCoord(&placed, &onSphere, &planetWorld);
        distance[t] = D3DXVec3LengthSq(&placed);
    }
    int order[TERRAIN_TRIANGLES];
    if (StableAscendingOrder(distance, TERRAIN_TRIANGLES, order)) ApplyOrder(positions, 3, order, TERRAIN_TRIANGLES);

    D3DXPLANE plane, moved;
    D3DXPlaneFromPoints(&plane, &positions[0], &positions[1], &positions[2]);
    D3DXPlaneTransform(&moved, &plane, &planetCurrent);
    const D3DXVECTOR3 origin(0.0f, 0.0f, 0.0f);
    D3DXVECTOR3 hit(0.0f, 0.0f, 0.0f);
    D3DXPlaneIntersectLine(&hit, &moved, &origin, &ownPosition);
    *groundRadius = D3DXVec3Length(&hit);
    if (landed) {
        const D3DXVECTOR3 n = Unit(Cross(positions[0] - positions[1], positions[0] - positions[2])) * *groundRadius;
        *slope = positions[1] - n;
    }
}

void ScatterCloudPuffsAround(const D3DXVECTOR3& centre, std::int16_t seed, CloudPuff puffs[CLOUD_PUFF_COUNT])
{
    crt::Srand(static_cast<unsigned>(seed));
    auto draw = [] { return static_cast<float>(crt::Rand()) / 32767.0f; };
    const float half = CLOUD_CUBE_EDGE / 2.0f;
    for (int i = 0; i < CLOUD_PUFF_COUNT; ++i) {
        CloudPuff& p = puffs[i];
        const float x = draw() * CLOUD_CUBE_EDGE + centre.x - half;
        const float y = draw() * CLOUD_CUBE_EDGE + centre.y - half;
        const float z = draw() * CLOUD_CUBE_EDGE + centre.z - half;
        p.Roll = draw() * 6.2831855f;
        p.Variant = static_cast<std::int32_t>(draw() * 8.0f);
        p.Position = Unit(D3DXVECTOR3(x, y, z)) * CLOUD_LAYER_RADIUS;
    }
}

void CloudBubblePass(CloudPuff puffs[CLOUD_PUFF_COUNT])
{
    for (int i = 0; i + 1 < CLOUD_PUFF_COUNT; ++i) {
        if (puffs[i].EyeDistanceSq < puffs[i + 1].EyeDistanceSq) std::swap(puffs[i], puffs[i + 1]);
    }
}
