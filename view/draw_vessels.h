#pragma once
// The other vessels (ship model with engine glow and nav lights when near, a lit
// sphere when far) and the projectiles (camera-facing quads) of a frame.
#include <cstdint>

#include "platform/gfx/d3d_device.h"
#include "platform/math/d3dx_math.h"
#include "view/atmosphere.h"
#include "view/scene_records.h"

class CockpitApplication;

constexpr float NEAR_LIMIT_PER_HIT_RADIUS = 1000.0f;
constexpr float FAR_SPHERE_PER_HIT_RADIUS = 500.0f;
constexpr float NAV_LIGHT_FADE_DISTANCE = 38.0f;
constexpr float NAV_LIGHT_SIZE_THRESHOLD = 1.9f;
constexpr float NAV_LIGHT_SIZE_DIVISOR = 1.3784049f;   // sqrt 1.9
constexpr float PROJECTILE_QUAD_SCALE = 0.005f;
constexpr DWORD PLANET_SHINE_LIGHT_INDEX = 2;

// Engine glow byte: trunc(128 cos t) + 127, held to 0..255.
int EngineGlow(float appTime);
// The glow byte in red, green and blue, alpha 0.
D3DCOLOR GlowFactor(int glow);

// Drawn size of a nav light at distance d: d / sqrt 1.9 beyond 1.9, sqrt d within.
float NavLightSize(float d);
bool NavLightShows(std::int32_t pattern, std::uint32_t blinkBits);
// All black but the emissive colour, the light's colour times fade.
D3DMATERIAL8 NavLightMaterial(const NavLight& light, float fade);

// How the sun and the sunlit planet light a vessel at planet-centred q.
struct VesselLighting {
    float Lit = 0.0f;                  // SunlightFactor
    D3DCOLORVALUE SunDiffuse{};
    D3DCOLORVALUE SunAmbient{};
    bool PlanetShine = false;          // light 2 is used (Lit > 0)
    D3DLIGHT8 PlanetShineLight{};
};
VesselLighting ComputeVesselLighting(const D3DXVECTOR3& q, const D3DXVECTOR3& sunDirection,
                                     const ColorRgb& sunAmbientStep);

// Index into the blast textures (exploded) or the weapon textures (flying);
// -1 for a counter outside the set.
int ProjectileTextureIndex(std::uint8_t exploded, std::uint8_t counter);

// Turns the sun quad to face the viewer and scales it to a projectile.
D3DXMATRIX ProjectileFacingMatrix(const D3DXMATRIX& ownWorld);

// Every vessel slot but the own: records its distance and draws it.
HRESULT DrawVessels(CockpitApplication& app);
// Every active projectile, after the universe objects.
HRESULT DrawProjectiles(CockpitApplication& app);
