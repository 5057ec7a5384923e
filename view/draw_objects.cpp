#include "view/draw_objects.h"

#include "view/cockpit_app.h"
#include "view/draw_vessels.h"
#include "view/planet.h"
#include "view/state.h"
#include "view/terrain.h"
#include "view/universe.h"

#include <cmath>
#include <cstring>

namespace {

constexpr D3DCOLORVALUE SUN_DIFFUSE = {0.9f, 0.95f, 1.0f, 0.0f};
constexpr D3DCOLORVALUE SUN_AMBIENT = {0.13f, 0.05f, 0.15f, 0.0f};
constexpr UINT MODEL_STRIDE = sizeof(ModelVertex);

DWORD Bits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, sizeof d);
    return d;
}

D3DXMATRIX Scaled(float s, const D3DXMATRIX& m)
{
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, s, s, s);
    return scale * m;
}

void SetFilters(IDirect3DDevice8* device, DWORD minMag, DWORD mip)
{
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, minMag);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, minMag);
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, mip);
}

void DrawModel(IDirect3DDevice8* device, const PolygonObject& model)
{
    if (model.VertexBuffer == nullptr || model.TriangleCount <= 0) return;
    device->SetStreamSource(0, model.VertexBuffer, MODEL_STRIDE);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(model.TriangleCount));
}

const VesselState* OwnVessel()
{
    const std::uint8_t own = OwnVesselIndex.load();
    return IsVesselNumber(own) ? &Vessels[own] : nullptr;
}

// The additive nav lights of lights (a polygon object's) on an object placed by world.
void DrawObjectNavLights(CockpitApplication& app, const PolygonObject& lights, const UniverseObject& object,
                         float fade)
{
    IDirect3DDevice8* device = app.Device;
    const PolygonObject& sphere = app.PolygonObjects[POLYGON_LIGHT_SPHERE];
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, sphere.VertexBuffer, MODEL_STRIDE);
    const float size = StationNavLightSize(object.ViewerDistance);
    for (int k = 0; k < lights.NavLightCount && lights.NavLights != nullptr; ++k) {
        const NavLight& light = lights.NavLights[k];
        if (!NavLightShows(light.Pattern, object.BeaconBits)) continue;
        D3DXMATRIX move;
        D3DXMatrixTranslation(&move, light.Position.x, light.Position.y, light.Position.z);
        const D3DXMATRIX world = Scaled(size, move) * object.WorldMatrix;
        device->SetTransform(D3DTS_WORLD, &world);
        const D3DMATERIAL8 material = NavLightMaterial(light, fade);
        device->SetMaterial(&material);
        if (sphere.VertexBuffer != nullptr && sphere.TriangleCount > 0)
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(sphere.TriangleCount));
        device->SetMaterial(&WhiteMaterial);
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

// Beyond 406.2 km: the light sphere scaled by 40.62, untextured.
void DrawFarObject(CockpitApplication& app, const UniverseObject& object)
{
    const D3DXMATRIX world = Scaled(FAR_OBJECT_SCALE, object.WorldMatrix);
    app.Device->SetTransform(D3DTS_WORLD, &world);
    app.Device->SetTexture(0, nullptr);
    DrawModel(app.Device, app.PolygonObjects[POLYGON_LIGHT_SPHERE]);
}

void DrawNearModel(CockpitApplication& app, const UniverseObject& object, int model, IDirect3DTexture8* texture)
{
    IDirect3DDevice8* device = app.Device;
    device->SetTransform(D3DTS_WORLD, &object.WorldMatrix);
    SetFilters(device, D3DTEXF_LINEAR, D3DTEXF_POINT);
    device->SetTexture(0, texture);
    DrawModel(device, app.PolygonObjects[model]);
    SetFilters(device, D3DTEXF_POINT, D3DTEXF_NONE);
}

float SunlitDiffuse(CockpitApplication& app, const UniverseObject& object)
{
    const float lit = SunlightFactor(object.Position, Atmosphere.FrameSunDirection);
    app.SunLight.Diffuse = {SUN_DIFFUSE.r * lit, SUN_DIFFUSE.g * lit, SUN_DIFFUSE.b * lit, 0.0f};
    return lit;
}

void DrawStation(CockpitApplication& app, const UniverseObject& object, float fade)
{
    IDirect3DDevice8* device = app.Device;
    const D3DXVECTOR3& sun = Atmosphere.FrameSunDirection;
    const float lit = SunlitDiffuse(app, object);
    if (lit > 0.0f) {
        D3DLIGHT8 shine{};
        shine.Type = D3DLIGHT_DIRECTIONAL;
        const D3DXVECTOR3 toward = sun * PLANET_RADIUS - object.Position;
        D3DXVec3Normalize(&shine.Direction, &toward);
        const float r = object.Distance / PLANET_RADIUS;
        const float k = (1.0f - D3DXVec3Dot(&shine.Direction, &sun)) / (r * r) * 0.8f;
        shine.Diffuse = {SUN_DIFFUSE.r * k, SUN_DIFFUSE.g * k, SUN_DIFFUSE.b * k, 0.0f};
        device->SetLight(PLANET_SHINE_LIGHT_INDEX, &shine);
        device->LightEnable(PLANET_SHINE_LIGHT_INDEX, TRUE);
    }
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    if (object.ViewerDistance > FAR_OBJECT_DISTANCE) {
        DrawFarObject(app, object);
    } else if (object.PolygonObject == POLYGON_STATION) {
        DrawNearModel(app, object, POLYGON_STATION, app.StationTexture);
        DrawObjectNavLights(app, app.PolygonObjects[POLYGON_STATION], object, fade);
    } else {
        // Any other model number draws the tactical station; only a real model's
        // nav lights are drawn with it.
        DrawNearModel(app, object, POLYGON_TACTICAL, app.TacticalTexture);
        if (object.PolygonObject < POLYGON_OBJECT_COUNT)
            DrawObjectNavLights(app, app.PolygonObjects[object.PolygonObject], object, fade);
    }
    app.SunLight.Diffuse = SUN_DIFFUSE;
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    if (lit > 0.0f) device->LightEnable(PLANET_SHINE_LIGHT_INDEX, FALSE);
}

void DrawCity(CockpitApplication& app, const UniverseObject& object, float fade)
{
    IDirect3DDevice8* device = app.Device;
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    const float lit = SunlitDiffuse(app, object);
    if (lit > 0.0f) {
        const float a = std::fabs(D3DXVec3Length(&object.Position) - PLANET_RADIUS);
        if (a < ATMOSPHERE_TOP) {
            const float m = 1.0f - std::sqrt(a / ATMOSPHERE_TOP);
            const ColorRgb& step = Atmosphere.SunAmbientStep;
            app.SunLight.Ambient = {SUN_AMBIENT.r + step.r * m, SUN_AMBIENT.g + step.g * m,
                                    SUN_AMBIENT.b + step.b * m, 0.0f};
        } else {
            app.SunLight.Ambient = SUN_AMBIENT;
        }
    }
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    if (object.ViewerDistance > FAR_OBJECT_DISTANCE) {
        DrawFarObject(app, object);
    } else {
        DrawNearModel(app, object, POLYGON_DEOIS, app.StationTexture);
        DrawObjectNavLights(app, app.PolygonObjects[POLYGON_STATION], object, fade);
    }
    app.SunLight.Diffuse = SUN_DIFFUSE;
    app.SunLight.Ambient = SUN_AMBIENT;
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
}

void DrawSurfaceMesh(CockpitApplication& app, const UniverseObject& object)
{
    IDirect3DDevice8* device = app.Device;
    device->SetRenderState(D3DRS_TEXTUREFACTOR, Atmosphere.RingTint);
    device->SetTexture(0, app.SurfaceMeshTexture);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSMOOTH);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTransform(D3DTS_WORLD, &object.WorldMatrix);
    DrawModel(device, app.PolygonObjects[POLYGON_FAR_SPHERE]);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

void DrawSkyBox(CockpitApplication& app, UniverseObject& object)
{
    IDirect3DDevice8* device = app.Device;
    device->SetRenderState(D3DRS_TEXTUREFACTOR, Atmosphere.SkyBoxTint);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TEXTURE);
    const VesselState* own = OwnVessel();
    const bool landed = own != nullptr && own->Landed == 1;
    if (!landed) {
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
        device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    }
    D3DXMATRIX spin;
    D3DXMatrixRotationZ(&spin, -UniverseObjects[HomeObjectIndex].AngleB);
    object.WorldMatrix = object.BaseMatrix * spin;
    const D3DXMATRIX drawn = Scaled(SKY_BOX_DRAW_SCALE, object.WorldMatrix);
    device->SetTransform(D3DTS_WORLD, &drawn);
    device->SetTexture(0, app.WallTexture);
    device->SetStreamSource(0, app.SkyWallBuffer, MODEL_STRIDE);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 8);
    device->SetTexture(0, app.FloorTexture);
    device->SetStreamSource(0, app.SkyCapBuffer, MODEL_STRIDE);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 4);
    if (!landed) {
        device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
        device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    }
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
}

void DrawSun(CockpitApplication& app, const UniverseObject& object)
{
    IDirect3DDevice8* device = app.Device;
    device->SetRenderState(D3DRS_TEXTUREFACTOR, Atmosphere.SunDiscTint);
    device->SetTransform(D3DTS_WORLD, &object.WorldMatrix);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR);
    device->SetTexture(0, app.SunTexture);
    device->SetStreamSource(0, app.SunQuadBuffer, MODEL_STRIDE);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    D3DXVec3Normalize(&app.SunLight.Direction, &object.Position);
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
}

void DrawHorizonRing(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    BYTE* data = nullptr;
    if (app.HorizonBuffer != nullptr && SUCCEEDED(app.HorizonBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        HorizonVertex ring[HORIZON_VERTICES];
        HorizonSunFactor = FillHorizonRing(Atmosphere, ring);
        std::memcpy(data, ring, sizeof ring);
        app.HorizonBuffer->Unlock();
    }
    device->SetVertexShader(HORIZON_VERTEX_FVF);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const D3DXMATRIX world = HorizonWorld(Atmosphere);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetStreamSource(0, app.HorizonBuffer, sizeof(HorizonVertex));
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, HORIZON_VERTICES - 2);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetVertexShader(MODEL_VERTEX_FVF);
}

void DrawClouds(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    device->SetRenderState(D3DRS_FOGCOLOR, Atmosphere.FogColor);
    device->SetRenderState(D3DRS_FOGEND, Bits(Atmosphere.FogEnd));
    device->SetRenderState(D3DRS_FOGSTART, Bits(Atmosphere.FogStart));
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    const ColorRgb& sky = Atmosphere.SkyColor;
    app.SunLight.Ambient = {sky.r, sky.g, sky.b, 0.0f};
    app.SunLight.Diffuse = {0.0f, 0.0f, 0.0f, 0.0f};
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);

    // Kept from frame to frame: over a pole the last good frame stays.
    static D3DXMATRIX frame(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    CloudPuffFrame(Atmosphere.EyeOffset, &frame);
    device->SetStreamSource(0, app.CloudPuffBuffer, MODEL_STRIDE);
    CloudBubblePass(app.CloudPuffs);
    device->SetTexture(0, app.CloudTexture);
    const VesselState* own = OwnVessel();
    const D3DXVECTOR3 eye = own != nullptr ? own->Position : D3DXVECTOR3();
    for (CloudPuff& puff : app.CloudPuffs) {
        const D3DXVECTOR3 v = puff.Position + eye;
        puff.EyeDistanceSq = D3DXVec3LengthSq(&v);
        if (!(puff.EyeDistanceSq < CLOUD_DRAW_DISTANCE_SQ)) continue;
        D3DXMATRIX roll;
        D3DXMatrixRotationZ(&roll, puff.Roll);
        D3DXMATRIX world = roll * frame;
        world._41 = v.x;
        world._42 = v.y;
        world._43 = v.z;
        device->SetTransform(D3DTS_WORLD, &world);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 6);
    }

    app.SunLight.Diffuse = SUN_DIFFUSE;
    app.SunLight.Ambient = SUN_AMBIENT;
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
}

}  // namespace

float StationNavLightSize(float d) { return d > 19.0f ? d / 21.794495f : 0.2f * std::sqrt(d); }

float FillHorizonRing(const AtmosphereFrame& frame, HorizonVertex out[HORIZON_VERTICES])
{
    float q = 0.0f;
    if (frame.AltitudeMSL < ATMOSPHERE_TOP) {
        q = (frame.FogEnd - frame.HorizonDistance) / frame.FogEnd;
        q = q < 0.0f ? 0.0f : (q > 1.0f ? 1.0f : q);
        if (std::isnan(q)) q = 0.0f;
    }
    const DWORD alpha = static_cast<DWORD>(static_cast<int>((1.0f - q) * 255.0f)) & 0xFF;
    float sunFactor = 0.0f;
    for (int i = 0; i < HORIZON_RING_PAIRS; ++i) {
        const float theta = static_cast<float>(i) * frame.HorizonStep;
        const float c = std::cos(theta), s = std::sin(theta);
        const D3DXVECTOR3 inner(c * frame.HorizonRadius, s * frame.HorizonRadius, -frame.HorizonDepth);
        D3DXVECTOR3 d;
        D3DXVec3TransformNormal(&d, &inner, &frame.HorizonFrame);
        D3DXVec3Normalize(&d, &d);
        const float side = -D3DXVec3Dot(&d, &frame.FrameSunDirection);
        const float f = side < -0.3f ? 0.0f : (side < 0.0f ? (side + 0.3f) / 0.3f : 1.0f);
        if (i == HORIZON_SUN_PAIR) sunFactor = f;
        const ColorRgb& haze = frame.HazeColor;
        const D3DCOLOR colour = (alpha << 24) | ((static_cast<DWORD>(static_cast<int>(haze.r * f)) & 0xFF) << 16) |
                                ((static_cast<DWORD>(static_cast<int>(haze.g * f)) & 0xFF) << 8) |
                                (static_cast<DWORD>(static_cast<int>(haze.b * f)) & 0xFF);
        out[2 * i] = {inner, colour};
        out[2 * i + 1] = {D3DXVECTOR3(c * frame.RingRadius, s * frame.RingRadius, frame.RingDrop - frame.HorizonDepth),
                          frame.RingTint};
    }
    out[2 * HORIZON_RING_PAIRS] = {D3DXVECTOR3(frame.HorizonRadius, 0.0f, -frame.HorizonDepth),
                                   out[2 * (HORIZON_RING_PAIRS - 1)].Colour};
    out[2 * HORIZON_RING_PAIRS + 1] = {D3DXVECTOR3(frame.RingRadius, 0.0f, frame.RingDrop - frame.HorizonDepth),
                                       frame.RingTint};
    return sunFactor;
}

bool CloudPuffFrame(const D3DXVECTOR3& eyeOffset, D3DXMATRIX* frame)
{
    const D3DXVECTOR3 origin(0.0f, 0.0f, 0.0f), up(0.0f, 0.0f, -1.0f);
    D3DXVECTOR3 at;
    D3DXVec3Normalize(&at, &eyeOffset);
    D3DXMATRIX look, inverse;
    D3DXMatrixLookAtLH(&look, &origin, &at, &up);
    if (D3DXMatrixInverse(&inverse, nullptr, &look) == nullptr) return false;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (!std::isfinite(inverse.m[r][c])) return false;
        }
    }
    *frame = inverse;
    return true;
}

HRESULT DrawUniverseObjects(CockpitApplication& app)
{
    for (int i = 0; i < UNIVERSE_OBJECT_COUNT; ++i) {
        UniverseObject& object = UniverseObjects[i];
        if (object.Kind >= 1) {
            const D3DXVECTOR3 placed(object.WorldMatrix._41, object.WorldMatrix._42, object.WorldMatrix._43);
            object.ViewerDistance = D3DXVec3Length(&placed);
        }
        const float fade = 1.0f - object.ViewerDistance / OBJECT_FADE_DISTANCE;
        switch (object.Kind) {
        case KIND_CITY: DrawCity(app, object, fade); break;
        case KIND_STATION: DrawStation(app, object, fade); break;
        case KIND_HOME_PLANET: DrawPlanet(app); break;
        case KIND_SURFACE_MESH: DrawSurfaceMesh(app, object); break;
        case KIND_SKY_BOX: DrawSkyBox(app, object); break;
        case KIND_SUN: DrawSun(app, object); break;
        case KIND_HORIZON_RING: DrawHorizonRing(app); break;
        case KIND_CLOUDS:
            if (AltitudeMSL < CLOUD_ALTITUDE) DrawClouds(app);
            break;
        default: break;
        }
    }
    return S_OK;
}
