#pragma once
// Terrain near the ground: a planet facet subdivided into 400 small triangles,
// lifted by per-corner heights and given the detail texture's tile coordinates;
// the plan of the 32-slot patch cache; the ground measured under the own vessel;
// the cloud puffs scattered around the nearest facet.
#include "view/scene_records.h"

#include <cstdint>
#include <vector>

constexpr int TERRAIN_ROWS = 20;
constexpr float TERRAIN_ROW_STEP = 0.05f;
constexpr float TERRAIN_HEIGHT_SCALE = 0.04921259f;
constexpr int TERRAIN_NEAREST = TERRAIN_PATCH_SLOTS;   // facets drawn as patches
constexpr int TERRAIN_UNMASKED = 9;                    // cached patches nearer than this ignore the horizon mask
constexpr float CLOUD_LAYER_RADIUS = 2941.6f;
constexpr float CLOUD_CUBE_EDGE = 236.0f;

// Sharing lists of one facet entry are worked out by the first patch built from
// it; `ready` says they have been.
struct FacetSharing {
    bool ready = false;
};

// The 1200 vertices of the patch over one sphere triangle (three sphere-copy
// vertices: corners P0, P1, P2 and their texture coordinates) from `entry`: its
// heights, tiles and corner shifts. Works out the entry's sharing lists unless
// `sharing` is ready, and writes its face normals.
void BuildTerrainPatchGeometry(const ModelVertex triangle[3], FacetData& entry, FacetSharing& sharing,
                               TerrainVertex out[TERRAIN_VERTICES]);

// A facet of level 9 or more names no facet file: its patch is built flat (heights
// 0, tile 0, no shift) from this entry, which keeps its own sharing lists.
FacetData& FlatFacetEntry();
FacetSharing& FlatFacetSharing();
// Sharing state of the facet files' entries 0..8.
FacetSharing& FacetFileSharing(int entry);

// What the cache does for the k-th nearest facet.
struct PatchDraw {
    std::int16_t slot = -1;
    bool build = false;       // the slot takes the facet now and is built
    bool unmasked = false;    // drawn with the stencil test always passing
};

// Frees every slot whose facet is not among `nearest` (the 32 nearest facet ids),
// then gives each nearest facet its slot: the one holding it, else the lowest free
// slot, which then holds it. Returns the nearest facet's slot.
std::int16_t PlanTerrainPatches(std::int16_t ids[TERRAIN_PATCH_SLOTS], const std::int16_t nearest[TERRAIN_NEAREST],
                                PatchDraw plan[TERRAIN_NEAREST]);

// Empties the cache: every id and the nearest slot -1 (the buffers they named are
// gone after a device re-creation); facet sharing lists are worked out again.
void EmptyTerrainPatchCache();

// Ground under the own vessel from the slot holding the nearest facet's patch:
// sorts its triangles (positions, three a triangle) nearest the eye first, a stable
// order kept between frames; then the nearest triangle's plane, moved by the
// planet's current matrix, meets the line from the planet centre through the own
// position. `groundRadius` gets that point's distance (0 when the line runs
// parallel); `slope` is written only when landed.
void MeasureGround(D3DXVECTOR3 positions[TERRAIN_VERTICES], const D3DXMATRIX& planetWorld,
                   const D3DXMATRIX& planetCurrent, const D3DXVECTOR3& ownPosition, bool landed,
                   float* groundRadius, D3DXVECTOR3* slope);

// 1200 puffs on the sphere of radius 2941.6 from a cube of 236 km edge centred on
// `centre`, drawn from the runtime generator seeded with `seed`, five draws a puff.
void ScatterCloudPuffsAround(const D3DXVECTOR3& centre, std::int16_t seed, CloudPuff puffs[CLOUD_PUFF_COUNT]);

// One pass of neighbour swaps toward farthest first, on the stored distances.
void CloudBubblePass(CloudPuff puffs[CLOUD_PUFF_COUNT]);

// The order that passes of neighbour swaps (the first strictly greater) leave,
// repeated until none swaps: ascending keys, equal keys in their present order.
// False, order untouched, when a key is not a number.
bool StableAscendingOrder(const float* keys, int count, int* order);

// Rearranges groups of `per` items: group i becomes the old group order[i].
template <class T>
void ApplyOrder(T* items, int per, const int* order, int count)
{
    static thread_local std::vector<T> old;  // kept: the facets are reordered every frame
    old.assign(items, items + static_cast<std::size_t>(count) * per);
    for (int i = 0; i < count; ++i) {
        for (int k = 0; k < per; ++k) items[i * per + k] = old[static_cast<std::size_t>(order[i]) * per + k];
    }
}
