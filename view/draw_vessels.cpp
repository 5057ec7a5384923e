#include "view/draw_vessels.h"

#include <cmath>

#include "view/cockpit_app.h"
#include "view/state.h"

namespace {

constexpr D3DCOLORVALUE SUN_DIFFUSE = {0.9f, 0.95f, 1.0f, 0.0f};
constexpr D3DCOLORVALUE SUN_AMBIENT = {0.13f, 0.05f, 0.15f, 0.0f};
constexpr UINT MODEL_STRIDE = sizeof(ModelVertex);

D3DCOLORVALUE SunTint(float s) { return {0.9f * s, 0.95f * s, 1.0f * s, 0.0f}; }

bool IsPolygonObject(int index) { return index >= 0 && index < 8; }

void DrawModel(IDirect3DDevice8* device, const PolygonObject& model)
{
    device->SetStreamSource(0, model.VertexBuffer, MODEL_STRIDE);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(model.TriangleCount));
}

void DrawNavLights(IDirect3DDevice8* device, const PolygonObject& model, const PolygonObject& sphere,
                   const D3DXMATRIX& vesselWorld, std::uint32_t blinkBits, float d, float fade)
{
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCCOLOR);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, sphere.VertexBuffer, MODEL_STRIDE);
    const float size = NavLightSize(d);
    for (int k = 0; k < model.NavLightCount && model.NavLights != nullptr; ++k) {
        const NavLight& light = model.NavLights[k];
        if (!NavLightShows(light.Pattern, blinkBits)) continue;
        D3DXMATRIX scale, move, world;
        D3DXMatrixScaling(&scale, size, size, size);
        D3DXMatrixTranslation(&move, light.Position.x, light.Position.y, light.Position.z);
        D3DXMatrixMultiply(&world, &scale, &move);
        D3DXMatrixMultiply(&world, &world, &vesselWorld);
        device->SetTransform(D3DTS_WORLD, &world);
        const D3DMATERIAL8 material = NavLightMaterial(light, fade);
        device->SetMaterial(&material);
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(sphere.TriangleCount));
        device->SetMaterial(&WhiteMaterial);
    }
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

}  // namespace

int EngineGlow(float appTime)
{
    const int glow = static_cast<int>(128.0f * std::cos(appTime)) + 127;
    return glow < 0 ? 0 : (glow > 255 ? 255 : glow);
}

D3DCOLOR GlowFactor(int glow)
{
    const D3DCOLOR g = static_cast<D3DCOLOR>(glow) & 0xFFu;
    return g * 0x10000u + g * 0x100u + g;
}

float NavLightSize(float d)
{
    return d > NAV_LIGHT_SIZE_THRESHOLD ? d / NAV_LIGHT_SIZE_DIVISOR : std::sqrt(d);
}

bool NavLightShows(std::int32_t pattern, std::uint32_t blinkBits)
{
    return (static_cast<std::uint32_t>(pattern) & blinkBits) != 0;
}

D3DMATERIAL8 NavLightMaterial(const NavLight& light, float fade)
{
    D3DMATERIAL8 m{};
    m.Emissive = {fade * light.Red, fade * light.Green, fade * light.Blue, 0.0f};
    return m;
}

VesselLighting ComputeVesselLighting(const D3DXVECTOR3& q, const D3DXVECTOR3& sunDirection,
                                     const ColorRgb& sunAmbientStep)
{
    VesselLighting out;
    out.Lit = SunlightFactor(q, sunDirection);
    out.SunDiffuse = SunTint(out.Lit);
    out.SunAmbient = SUN_AMBIENT;
    if (!(out.Lit > 0.0f)) return out;

    out.PlanetShine = true;
    const D3DXVECTOR3 underSun = sunDirection * PLANET_RADIUS - q;
    D3DXVECTOR3 dir;
    D3DXVec3Normalize(&dir, &underSun);
    const float radii = D3DXVec3Length(&q) / PLANET_RADIUS;
    const float k = 0.8f * (1.0f - std::fabs(D3DXVec3Dot(&dir, &sunDirection))) / (radii * radii);
    out.PlanetShineLight.Type = D3DLIGHT_DIRECTIONAL;
    out.PlanetShineLight.Direction = dir;
    out.PlanetShineLight.Diffuse = SunTint(k);

    const float a = std::fabs(D3DXVec3Length(&q) - PLANET_RADIUS);
    if (a < ATMOSPHERE_TOP) {
        const float g = 1.0f - std::sqrt(a / ATMOSPHERE_TOP);
        out.SunAmbient = {sunAmbientStep.r * g + 0.13f, sunAmbientStep.g * g + 0.05f,
                          sunAmbientStep.b * g + 0.15f, 0.0f};
    }
    return out;
}

int ProjectileTextureIndex(std::uint8_t exploded, std::uint8_t counter)
{
    const int k = static_cast<std::int8_t>(counter);
    const int count = exploded != 0 ? BLAST_TEXTURE_COUNT : WEAPON_TEXTURE_COUNT;
    return k >= 0 && k < count ? k : -1;
}

D3DXMATRIX ProjectileFacingMatrix(const D3DXMATRIX& ownWorld)
{
    const D3DXVECTOR3 back(0.0f, 0.0f, -1.0f), down(0.0f, -1.0f, 0.0f), eye(0.0f, 0.0f, 0.0f);
    D3DXVECTOR3 a, u;
    D3DXVec3TransformCoord(&a, &back, &ownWorld);
    D3DXVec3TransformCoord(&u, &down, &ownWorld);
    D3DXMATRIX look, b, turn;
    D3DXMatrixLookAtLH(&look, &eye, &a, &u);
    if (D3DXMatrixInverse(&b, nullptr, &look) == nullptr) D3DXMatrixIdentity(&b);
    D3DXMatrixRotationX(&turn, 4.712389f);
    D3DXMatrixMultiply(&b, &turn, &b);
    D3DXMatrixRotationY(&turn, 1.5707964f);
    D3DXMatrixMultiply(&b, &turn, &b);
    D3DXMatrixScaling(&turn, PROJECTILE_QUAD_SCALE, PROJECTILE_QUAD_SCALE, PROJECTILE_QUAD_SCALE);
    D3DXMatrixMultiply(&b, &turn, &b);
    return b;
}

HRESULT DrawVessels(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    const std::uint8_t own = OwnVesselIndex.load();
    const D3DXVECTOR3 ownPosition = IsVesselNumber(own) ? Vessels[own].Position : D3DXVECTOR3();
    const PolygonObject& sphere = app.PolygonObjects[POLYGON_LIGHT_SPHERE];

    device->SetTextureStageState(2, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(2, D3DTSS_MINFILTER, D3DTEXF_LINEAR);

    for (int i = 0; i < VESSEL_COUNT; ++i) {
        if (i == own) continue;
        VesselState& v = Vessels[i];
        float d;
        D3DXVECTOR3 q;
        {
            ScopedSection hold(v.Lock);
            const float dx = v.Position.x - ownPosition.x;
            const float dy = v.Position.y - ownPosition.y;
            const float dz = v.Position.z - ownPosition.z;
            d = std::sqrt(dx * dx + dy * dy + dz * dz);
            v.Distance = d;
            q = v.Position;
        }

        const VesselLighting light = ComputeVesselLighting(q, Atmosphere.FrameSunDirection, Atmosphere.SunAmbientStep);
        app.SunLight.Diffuse = light.SunDiffuse;
        app.SunLight.Ambient = light.SunAmbient;
        if (light.PlanetShine) {
            device->SetLight(PLANET_SHINE_LIGHT_INDEX, &light.PlanetShineLight);
            device->LightEnable(PLANET_SHINE_LIGHT_INDEX, TRUE);
        }
        device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);

        const float nearLimit = v.HitRadius * NEAR_LIMIT_PER_HIT_RADIUS;
        if (nearLimit < d) {
            const float s = FAR_SPHERE_PER_HIT_RADIUS * v.HitRadius;
            D3DXMATRIX scale, world;
            D3DXMatrixScaling(&scale, s, s, s);
            D3DXMatrixMultiply(&world, &scale, &v.WorldMatrix);
            device->SetTransform(D3DTS_WORLD, &world);
            device->SetTexture(0, nullptr);
            DrawModel(device, sphere);
        } else if (IsPolygonObject(v.Model)) {
            const PolygonObject& model = app.PolygonObjects[v.Model];
            const float fade = 1.0f - d / NAV_LIGHT_FADE_DISTANCE;
            int glow = 0;
            {
                ScopedSection hold(v.Lock);
                if (v.Present == 1) {
                    device->SetTexture(0, app.ShipLightTexture);
                    glow = EngineGlow(app.AppTime);
                } else {
                    device->SetTexture(0, nullptr);
                }
            }
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_ADDSMOOTH);
            device->SetRenderState(D3DRS_TEXTUREFACTOR, GlowFactor(glow));
            device->SetTexture(1, app.ShipEngineTexture);
            device->SetTextureStageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
            device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
            device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MULTIPLYADD);
            device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
            device->SetTexture(2, app.ShipTexture);
            device->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_CURRENT);
            device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE);
            device->SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, 0);
            device->SetTransform(D3DTS_WORLD, &v.WorldMatrix);
            DrawModel(device, model);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
            device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);

            bool present;
            {
                ScopedSection hold(v.Lock);
                present = v.Present == 1;
            }
            if (present) DrawNavLights(device, model, sphere, v.WorldMatrix, v.BlinkBits, d, fade);
        }

        if (light.PlanetShine) device->LightEnable(PLANET_SHINE_LIGHT_INDEX, FALSE);
    }

    app.SunLight.Diffuse = SUN_DIFFUSE;
    app.SunLight.Ambient = SUN_AMBIENT;
    device->SetLight(SUN_LIGHT_INDEX, &app.SunLight);
    device->SetTextureStageState(2, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    device->SetTextureStageState(2, D3DTSS_MINFILTER, D3DTEXF_POINT);
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    return S_OK;
}

HRESULT DrawProjectiles(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR);
    device->SetStreamSource(0, app.SunQuadBuffer, MODEL_STRIDE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);

    const std::uint8_t own = OwnVesselIndex.load();
    D3DXMATRIX ownWorld;
    if (IsVesselNumber(own)) {
        ownWorld = Vessels[own].WorldMatrix;
    } else {
        D3DXMatrixIdentity(&ownWorld);
    }
    const D3DXMATRIX facing = ProjectileFacingMatrix(ownWorld);

    for (Projectile& r : Projectiles) {
        ScopedSection hold(r.Lock);
        if (r.Active != 1) continue;
        const int k = ProjectileTextureIndex(r.Exploded, r.FrameCounter);
        if (k < 0) continue;
        D3DXMATRIX world = facing;
        world._41 = -(r.Position.x + Atmosphere.EyeOffset.x);
        world._42 = -(r.Position.y + Atmosphere.EyeOffset.y);
        world._43 = -(r.Position.z + Atmosphere.EyeOffset.z);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTexture(0, r.Exploded != 0 ? app.BlastTextures[k] : app.WeaponTextures[k]);
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    }

    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    return S_OK;
}
