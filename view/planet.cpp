#include "view/planet.h"

#include "view/atmosphere.h"
#include "view/cockpit_app.h"
#include "view/state.h"
#include "view/terrain.h"
#include "view/universe.h"

#include <cmath>
#include <cstring>

namespace {

constexpr UINT PLANET_BUFFER_BYTES = PLANET_BUFFER_FACETS * 3 * sizeof(ModelVertex);   // 216000

void SetFilters(IDirect3DDevice8* device, DWORD stage, DWORD minMag, DWORD mip)
{
    device->SetTextureStageState(stage, D3DTSS_MINFILTER, minMag);
    device->SetTextureStageState(stage, D3DTSS_MAGFILTER, minMag);
    device->SetTextureStageState(stage, D3DTSS_MIPFILTER, mip);
}

// Copies the nearest half of the sorted sphere into the planet's buffer.
void FillPlanetBuffer(CockpitApplication& app)
{
    IDirect3DVertexBuffer8* buffer = app.PolygonObjects[POLYGON_PLANET_SPHERE].VertexBuffer;
    if (buffer == nullptr || app.Planet.Sphere == nullptr) return;
    BYTE* data = nullptr;
    if (FAILED(buffer->Lock(0, PLANET_BUFFER_BYTES, &data, 0)) || data == nullptr) return;
    std::memcpy(data, app.Planet.Sphere, PLANET_BUFFER_BYTES);
    buffer->Unlock();
}

void DrawFarPlanet(CockpitApplication& app, int n)
{
    IDirect3DDevice8* device = app.Device;
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTexture(0, app.PlanetTexture);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetStreamSource(0, app.PolygonObjects[POLYGON_PLANET_SPHERE].VertexBuffer, sizeof(ModelVertex));
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(n));
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
}

void DrawTerrain(CockpitApplication& app, int n)
{
    IDirect3DDevice8* device = app.Device;
    device->SetVertexShader(TERRAIN_VERTEX_FVF);
    SetFilters(device, 0, D3DTEXF_LINEAR, D3DTEXF_POINT);
    device->SetTexture(0, app.PlanetTexture);
    SetFilters(device, 1, D3DTEXF_LINEAR, D3DTEXF_POINT);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    device->SetTexture(1, app.TerrainDetailTexture);

    const std::int16_t before = NearestPatchSlot;
    std::int16_t nearest[TERRAIN_NEAREST];
    for (int k = 0; k < TERRAIN_NEAREST; ++k) nearest[k] = app.Planet.DrawOrder[k];
    PatchDraw plan[TERRAIN_NEAREST];
    const std::int16_t nearestSlot = PlanTerrainPatches(TerrainPatchIds, nearest, plan);
    if (nearestSlot >= 0) NearestPatchSlot = nearestSlot;
    for (int k = 0; k < TERRAIN_NEAREST; ++k) {
        const PatchDraw& d = plan[k];
        if (d.slot < 0) continue;
        if (d.build) {
            const int facet = nearest[k];
            const int level = facet >= 0 && facet < PLANET_FACET_COUNT ? app.Planet.Level[facet] : 0;
            BuildTerrainPatch(app, static_cast<std::int16_t>(k), d.slot,
                              static_cast<std::int8_t>(level < FACET_FILE_COUNT ? level : -1));
        }
        if (d.unmasked) device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        device->SetStreamSource(0, app.TerrainPatchBuffers[d.slot], sizeof(TerrainVertex));
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, TERRAIN_TRIANGLES);
        if (d.unmasked) device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    }
    if (NearestPatchSlot != before) ScatterCloudPuffs(app, app.Planet.DrawOrder[0]);

    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetVertexShader(MODEL_VERTEX_FVF);
    if (n > TERRAIN_NEAREST) {
        device->SetStreamSource(0, app.PolygonObjects[POLYGON_PLANET_SPHERE].VertexBuffer, sizeof(ModelVertex));
        device->SetTexture(0, app.PlanetTexture);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 3 * TERRAIN_NEAREST, static_cast<UINT>(n - TERRAIN_NEAREST));
    }
    SetFilters(device, 0, D3DTEXF_POINT, D3DTEXF_NONE);
}

}  // namespace

int PlanetDrawCount(float altitude)
{
    const float share = std::fabs(std::atan(altitude / 1591.0f) / 1.5707964f * static_cast<float>(PLANET_BUFFER_FACETS));
    if (!(share < static_cast<float>(PLANET_BUFFER_FACETS))) return PLANET_BUFFER_FACETS;
    const int n = static_cast<int>(share) + PLANET_BASE_DRAW;
    return n < PLANET_BUFFER_FACETS ? n : PLANET_BUFFER_FACETS;
}

void SortPlanetFacets(PlanetFacets& planet, const D3DXVECTOR3& eye)
{
    if (planet.Sphere == nullptr) return;
    static float distance[PLANET_FACET_COUNT];
    static int order[PLANET_FACET_COUNT];
    for (int i = 0; i < PLANET_FACET_COUNT; ++i) {
        const D3DXVECTOR3 d = eye - planet.Centroids[i];
        distance[i] = D3DXVec3LengthSq(&d);
    }
    if (!StableAscendingOrder(distance, PLANET_FACET_COUNT, order)) return;
    ApplyOrder(planet.Sphere, 3, order, PLANET_FACET_COUNT);
    ApplyOrder(planet.Centroids, 1, order, PLANET_FACET_COUNT);
    ApplyOrder(planet.DrawOrder, 1, order, PLANET_FACET_COUNT);
}

void BuildTerrainPatch(CockpitApplication& app, std::int16_t k, std::int16_t slot, std::int8_t entry)
{
    if (app.Planet.Sphere == nullptr || k < 0 || k >= PLANET_FACET_COUNT || slot < 0 || slot >= TERRAIN_PATCH_SLOTS)
        return;
    const bool file = entry >= 0 && entry < FACET_FILE_COUNT;
    FacetData& data = file ? app.Facets[entry] : FlatFacetEntry();
    FacetSharing& sharing = file ? FacetFileSharing(entry) : FlatFacetSharing();
    static TerrainVertex vertices[TERRAIN_VERTICES];
    BuildTerrainPatchGeometry(&app.Planet.Sphere[3 * k], data, sharing, vertices);
    for (int i = 0; i < TERRAIN_VERTICES; ++i) app.TerrainPositions[slot][i] = vertices[i].Position;
    IDirect3DVertexBuffer8* buffer = app.TerrainPatchBuffers[slot];
    BYTE* bytes = nullptr;
    if (buffer == nullptr || FAILED(buffer->Lock(0, sizeof vertices, &bytes, 0)) || bytes == nullptr) return;
    std::memcpy(bytes, vertices, sizeof vertices);
    buffer->Unlock();
}

void ScatterCloudPuffs(CockpitApplication& app, std::int16_t seed)
{
    ScatterCloudPuffsAround(app.Planet.Centroids[0], seed, app.CloudPuffs);
}

HRESULT DrawPlanet(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    UniverseObject& planet = UniverseObjects[HomeObjectIndex];
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetTransform(D3DTS_WORLD, &planet.WorldMatrix);
    const float altitude = AltitudeMSL;
    const int n = PlanetDrawCount(altitude);

    const std::uint8_t own = OwnVesselIndex.load();
    if (NearestPatchSlot >= 0 && NearestPatchSlot < TERRAIN_PATCH_SLOTS && IsVesselNumber(own)) {
        const VesselState& vessel = Vessels[own];
        MeasureGround(app.TerrainPositions[NearestPatchSlot], planet.WorldMatrix, planet.CurrentMatrix,
                      vessel.Position, vessel.Landed == 1, &GroundRadius, &TerrainSlopeVector);
    }

    D3DXMATRIX inverse;
    if (D3DXMatrixInverse(&inverse, nullptr, &planet.CurrentMatrix) != nullptr) {
        D3DXVECTOR3 eye;
        D3DXVec3TransformCoord(&eye, &Atmosphere.EyeOffset, &inverse);
        SortPlanetFacets(app.Planet, eye);
    }
    FillPlanetBuffer(app);

    if (altitude > TERRAIN_ALTITUDE) {
        DrawFarPlanet(app, n);
    } else {
        DrawTerrain(app, n);
    }
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    return S_OK;
}
