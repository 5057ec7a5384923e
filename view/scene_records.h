#pragma once
// Records of the cockpit scene: polygon objects from the model files, the planet's
// facets, the terrain facet tables, the terrain patch cache and the cloud puffs.
#include "platform/gfx/d3d_device.h"
#include "platform/math/d3dx_math.h"

#include <cstdint>

// Vertex layouts.
// 0x112: position, normal, one texture set (32 bytes).
struct ModelVertex {
    D3DXVECTOR3 Position;
    D3DXVECTOR3 Normal;
    float U, V;
};
static_assert(sizeof(ModelVertex) == 32);
constexpr DWORD MODEL_VERTEX_FVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// 0x212: position, normal, two texture sets (40 bytes).
struct TerrainVertex {
    D3DXVECTOR3 Position;
    D3DXVECTOR3 Normal;
    float U0, V0;
    float U1, V1;
};
static_assert(sizeof(TerrainVertex) == 40);
constexpr DWORD TERRAIN_VERTEX_FVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2;

// 0x42: position and diffuse colour (16 bytes).
struct HorizonVertex {
    D3DXVECTOR3 Position;
    D3DCOLOR Colour;
};
static_assert(sizeof(HorizonVertex) == 16);
constexpr DWORD HORIZON_VERTEX_FVF = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// Device buffers of the scene, in vertices.
constexpr UINT SKY_WALL_VERTICES = 10;
constexpr UINT SKY_CAP_VERTICES = 12;
constexpr UINT SUN_QUAD_VERTICES = 4;
constexpr UINT CLOUD_PUFF_VERTICES = 1200;
constexpr UINT HORIZON_VERTICES = 390;

// Lights of the device.
constexpr DWORD SUN_LIGHT_INDEX = 0;
constexpr DWORD LANDING_LIGHT_INDEX = 1;
constexpr DWORD PROJECTILE_LIGHT_INDEX = 3;

// Animated texture sets; element k holds file number k + 1.
constexpr int WEAPON_TEXTURE_COUNT = 20;
constexpr int BLAST_TEXTURE_COUNT = 43;

// Polygon objects (index into CockpitApplication::PolygonObjects).
constexpr int POLYGON_SHIP = 0;            // E-10
constexpr int POLYGON_STATION = 1;         // O-4
constexpr int POLYGON_PLANET_SPHERE = 2;   // the planet's facets
constexpr int POLYGON_FAR_SPHERE = 3;
constexpr int POLYGON_LIGHT_SPHERE = 4;
constexpr int POLYGON_SPHERE = 5;
constexpr int POLYGON_DEOIS = 6;
constexpr int POLYGON_TACTICAL = 7;

// One light on a model; shown while Pattern and the owner's blink or beacon bits
// share a bit.
struct NavLight {
    D3DXVECTOR3 Position;   // model coordinates
    float Red, Green, Blue;
    std::int32_t Pattern;   // 8-bit pattern
};

// One model from a DAW file: a triangle list.
struct PolygonObject {
    std::int16_t VertexCount = 0;
    std::int16_t TriangleCount = 0;
    IDirect3DVertexBuffer8* VertexBuffer = nullptr;   // format 0x112
    std::int16_t NavLightCount = 0;
    NavLight* NavLights = nullptr;                    // owned, NavLightCount entries
};

// The planet: its sphere model, sorted by distance from the eye each frame.
constexpr int PLANET_FACET_COUNT = 4500;                    // triangles
constexpr int PLANET_SPHERE_VERTICES = 3 * PLANET_FACET_COUNT;
constexpr int PLANET_BUFFER_FACETS = PLANET_FACET_COUNT / 2; // the nearer half is drawn

struct PlanetFacets {
    ModelVertex* Sphere = nullptr;                  // owned copy, 3 vertices a facet
    D3DXVECTOR3 Centroids[PLANET_FACET_COUNT];      // on the planet's radius
    std::int16_t DrawOrder[PLANET_FACET_COUNT];     // facet ids, sorted with the above
    std::uint8_t Level[PLANET_FACET_COUNT];         // by facet id; never sorted
};

// Terrain facet tables: one per facet file, indexed by small triangle.
constexpr int FACET_FILE_COUNT = 9;
constexpr int TERRAIN_TRIANGLES = 400;
constexpr int TERRAIN_VERTICES = 3 * TERRAIN_TRIANGLES;
constexpr int TERRAIN_SHARING = 6;

struct FacetData {
    std::uint8_t CornerShift[TERRAIN_TRIANGLES];
    std::uint8_t TileType[TERRAIN_TRIANGLES];
    std::int8_t HeightA[TERRAIN_TRIANGLES];
    std::int8_t HeightB[TERRAIN_TRIANGLES];
    std::int8_t HeightC[TERRAIN_TRIANGLES];
    D3DXVECTOR3 FaceNormals[TERRAIN_TRIANGLES];                // scratch of every patch build
    std::int16_t Sharing[TERRAIN_VERTICES][TERRAIN_SHARING];   // triangle numbers, -1 ends
};

// Terrain patch cache: 32 slots, each a device buffer of 1200 terrain vertices and a
// copy of their positions (members of the application object); the facet id each
// slot holds is TerrainPatchIds (state.h, -1 = free).
constexpr int TERRAIN_PATCH_SLOTS = 32;

// One cloud puff, in the planet's model frame.
constexpr int CLOUD_PUFF_COUNT = 1200;
struct CloudPuff {
    D3DXVECTOR3 Position;
    float Roll;                 // radians
    float EyeDistanceSq = 1.0e6f;  // far until the first cloud pass
    std::int32_t Variant;       // 0..8
};
