#pragma once
// The atmosphere of a frame: altitude, sun elevation, sky, haze and fog colours,
// visibility, fog distances and the horizon geometry, worked out once a frame
// from the own position and the sun; and the black horizon disc that marks the
// planet's pixels in the stencil buffer.
#include <cstdint>

#include "platform/gfx/d3d_device.h"
#include "platform/math/d3dx_math.h"
#include "view/scene_records.h"

class CockpitApplication;

constexpr float ATMOSPHERE_TOP = 63.0f;                 // km above the ground
constexpr float HORIZON_STEP = 0.032387555f;            // 2 pi / 194
constexpr int HORIZON_DISC_SEGMENTS = 194;
constexpr UINT HORIZON_DISC_VERTICES = HORIZON_DISC_SEGMENTS + 2;

// Three channels, on the 0..1 or the 0..255 scale as each value says.
struct ColorRgb {
    float r = 0.0f, g = 0.0f, b = 0.0f;
};

// What the frame's atmosphere is worked out from.
struct AtmosphereInputs {
    D3DXVECTOR3 OwnPosition;          // planet-centred
    D3DXVECTOR3 SunDirection;         // unit vector toward the sun (the sun light's direction)
    D3DXVECTOR3 ForwardAxis;          // the landing light's direction
    D3DXMATRIX OwnWorld;              // the own vessel's world matrix
    float Rvr = 2.0f;
    float NearestCloudDistanceSq = 1.0e6f;
    float HorizonSunFactor = 0.0f;    // from the previous frame's horizon ring
    D3DCOLORVALUE SunAmbient{};       // the sun light's ambient colour
    std::uint8_t FogEnabled = 0;      // the fog state before this frame
    D3DXMATRIX PreviousHorizonFrame;  // kept when this frame's cannot be built
};

// The per-frame values later drawing steps read.
struct AtmosphereFrame {
    D3DXVECTOR3 EyeOffset;            // -P: a point p is drawn at -(p + EyeOffset)
    D3DXVECTOR3 FrameSunDirection;
    float AltitudeMSL = 0.0f;
    std::uint8_t FogEnabled = 0;      // after the switch at 63 km
    float NadirAngle = 0.0f;
    float SunElevation = 0.0f;
    float SkyLight = 0.0f;
    ColorRgb SkyColor;                // 0..1
    float VisibilityFactor = 1.0f;    // T
    ColorRgb SunColor;                // 0..255
    D3DCOLOR FogColor = 0;
    ColorRgb HazeColor;               // 0..255
    D3DCOLOR SunDiscTint = 0;
    ColorRgb SunAmbientStep;          // SunColor / 714
    float HorizonDistance = 0.0f;
    float FogStart = 0.0f;
    float FogEnd = 0.0f;
    D3DCOLOR SkyBoxTint = 0;
    D3DCOLOR RingTint = 0;
    float HorizonRadius = 0.0f;
    float HorizonDepth = 0.0f;
    float RingRadius = 0.0f;
    float RingDrop = 0.0f;
    float HorizonStep = HORIZON_STEP;
    D3DXMATRIX HorizonFrame;          // z along the vertical, y along the level forward direction
};

// How much sunlight reaches planet-centred point p past the planet's shadow,
// 0..1, with s the unit direction toward the sun.
float SunlightFactor(const D3DXVECTOR3& p, const D3DXVECTOR3& s);

// Packs three values truncated toward zero, each kept to its low 8 bits, alpha 0.
D3DCOLOR PackColor(float r, float g, float b);

// Sun colour (0..255) and sky hue (0..255) by the sun elevation index e.
ColorRgb SunColorAt(float e);
ColorRgb SkyHueAt(float e);
// Air density of the sky tint at an altitude, dimmed with the sun below the horizon.
float AirDensity(float altitude, float e);

AtmosphereFrame ComputeAtmosphere(const AtmosphereInputs& in);

// The disc fan: centre, 194 rim points and the closing point.
void FillHorizonDisc(const AtmosphereFrame& frame, HorizonVertex out[HORIZON_DISC_VERTICES]);

// The horizon frame moved to the eye: the world matrix of the disc and the ring.
D3DXMATRIX HorizonWorld(const AtmosphereFrame& frame);

// Draws the disc from buffer (already filled) black, stencil 1 wherever drawn,
// depth untouched; restores the states it changes.
void DrawHorizonDisc(IDirect3DDevice8* device, IDirect3DVertexBuffer8* buffer, const AtmosphereFrame& frame);

// Diffuse, ambient and specular white, emissive 0, power 70.
D3DMATERIAL8 MakeWhiteMaterial();

// This frame's values, written by the atmosphere step.
extern AtmosphereFrame Atmosphere;
extern D3DMATERIAL8 WhiteMaterial;

// The frame's first drawing step: works out Atmosphere, switches fog at 63 km,
// draws the horizon disc and sets the fog states.
HRESULT DrawAtmosphere(CockpitApplication& app);
