#pragma once
// The cockpit's model files: polygon objects (DAW), the planet's macro file and
// the terrain facet files, read into the application object's tables.
#include "platform/sys/hresult.h"
#include "view/scene_records.h"

#include <cstdint>

constexpr int PLANET_SPHERE_VERTEX_COUNT = PLANET_SPHERE_VERTICES;  // what sphere.DAW must hold
constexpr float PLANET_MODEL_RADIUS = 2939.6f;

extern const char* const PolygonObjectFiles[8];
extern const char* const MacroFile;
extern const char* const FacetFiles[FACET_FILE_COUNT];

// Reads facet file `index` (0..8) into facet; entries a short file does not reach
// are zero. A file that cannot be opened for reading and writing gives its log
// line and APP_E_MEDIA_MISSING.
HRESULT LoadFacetFile(FacetData& facet, int index);

// Atlas corners (u, v of corners 0, 1 and 2) of a terrain tile; a type outside
// 0..8 gets tile 0's corners.
void GetTileTexCoords(std::int8_t tileType, float& u0, float& v0, float& u1, float& v1, float& u2, float& v2);

// Moves position and normal of corner 1 to corner 0, of 2 to 1 and of 0 to 2,
// `count` times; u and v stay.
void RotateCorners(ModelVertex* corners, unsigned count);
