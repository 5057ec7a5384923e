#pragma once
// Vertex lighting worked out by the device itself, for draws whose lights GL's
// fixed-function lighting cannot express: a spot light's cone is full inside
// theta/2, dark beyond phi/2 and ((rho - cos(phi/2)) / (cos(theta/2) -
// cos(phi/2)))^falloff between, which no GL spot exponent gives.
#include <cstdint>

#include "platform/gfx/gl_draw_state.h"

// True when an enabled spot light that reaches the draw (the draw's
// lightsOutOfRange) has a falloff band between its cones.
bool NeedsVertexLighting(const GlDrawState& d);

// Where a vertex keeps what lighting reads (byte offsets, -1 when absent).
struct LitVertexLayout {
    UINT stride = 0;
    int normal = -1;
    int diffuse = -1;
    int specular = -1;
};

// Lights count vertices from base: colours as 0xAARRGGBB into diffuse and
// specular (specular only when the specular state is on; it may be null).
// At most maxLights enabled lights take part, in index order.
void LightVertices(const GlDrawState& d, const D3DMATRIX& world, const D3DMATRIX& view, const BYTE* base,
                   UINT count, const LitVertexLayout& layout, int maxLights, std::uint32_t* diffuse,
                   std::uint32_t* specular);
