#pragma once
// The home planet: its facets sorted by distance from the eye each frame, the
// nearer half in the sphere buffer, a number of them growing with altitude drawn;
// near the ground the 32 nearest drawn as cached terrain patches. Measures the
// ground under the own vessel for the next frame's ground physics.
#include "platform/sys/hresult.h"
#include "view/scene_records.h"

#include <cstdint>

class CockpitApplication;

constexpr float TERRAIN_ALTITUDE = 630.0f;     // km: terrain patches at and below
constexpr int PLANET_BASE_DRAW = 9;

// Facets drawn at altitude a: trunc(|atan(a / 1591) / (pi/2) x 2250|) + 9, at most 2250.
int PlanetDrawCount(float altitude);

// Sorts the facets by squared distance of their centroids from the model point
// eye, keeping triangles, centroids and draw order together; equal distances keep
// their order.
void SortPlanetFacets(PlanetFacets& planet, const D3DXVECTOR3& eye);

// Builds the patch of the facet at sorted position k into slot from facet entry
// 0..8; any other entry builds it flat.
void BuildTerrainPatch(CockpitApplication& app, std::int16_t k, std::int16_t slot, std::int8_t entry);

// Scatters the cloud puffs around the nearest facet's centroid.
void ScatterCloudPuffs(CockpitApplication& app, std::int16_t seed);

// The object loop's step for the home planet.
HRESULT DrawPlanet(CockpitApplication& app);
