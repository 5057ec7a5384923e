#include "platform/gfx/gl_vertex_lighting.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/math/d3dx_math.h"

namespace {

// The device never lets more lights take part (the draw clamps its count to 1..8).
constexpr int kMostLights = 8;

struct Vec {
    float x, y, z;
};

Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
float Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float Length(Vec a) { return std::sqrt(Dot(a, a)); }
Vec Normalised(Vec a) {
    const float l = Length(a);
    return l > 0.0f ? Vec{a.x / l, a.y / l, a.z / l} : Vec{0, 0, 0};
}

// Row vector times matrix: a point (w = 1) or a direction (w = 0).
Vec Point(const D3DMATRIX& m, Vec p) {
    return {p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
            p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43};
}
Vec Direction(const D3DMATRIX& m, Vec p) {
    return {p.x * m._11 + p.y * m._21 + p.z * m._31, p.x * m._12 + p.y * m._22 + p.z * m._32,
            p.x * m._13 + p.y * m._23 + p.z * m._33};
}

struct Colour {
    float r = 0, g = 0, b = 0, a = 0;
};

Colour FromValue(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }

Colour FromPacked(std::uint32_t c) {
    return {((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f, ((c >> 24) & 0xFF) / 255.0f};
}

std::uint32_t Packed(float r, float g, float b, float a) {
    auto byte = [](float v) {
        return static_cast<std::uint32_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
    };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

// What a light's cone and direction give every vertex alike, worked out once a draw.
struct PreparedLight {
    const D3DLIGHT8* light = nullptr;
    Vec towardsLight{0, 0, 0};  // directional lights only
    Vec axis{0, 0, 0};          // spot lights only
    float outer = 0.0f, inner = 0.0f;
};

PreparedLight Prepare(const D3DLIGHT8& l) {
    PreparedLight p;
    p.light = &l;
    if (l.Type == D3DLIGHT_DIRECTIONAL) p.towardsLight = Normalised({-l.Direction.x, -l.Direction.y, -l.Direction.z});
    if (l.Type == D3DLIGHT_SPOT) {
        p.axis = Normalised({l.Direction.x, l.Direction.y, l.Direction.z});
        p.outer = std::cos(l.Phi * 0.5f);
        p.inner = std::cos(l.Theta * 0.5f);
    }
    return p;
}

// The spot factor of the platform's cone (1 for lights without one).
float SpotFactor(const PreparedLight& p, Vec towardsLight) {
    const D3DLIGHT8& l = *p.light;
    if (l.Type != D3DLIGHT_SPOT) return 1.0f;
    const float rho = -Dot(p.axis, towardsLight);
    if (rho <= p.outer) return 0.0f;
    if (rho > p.inner || p.inner <= p.outer) return 1.0f;
    const float t = (rho - p.outer) / (p.inner - p.outer);
    return l.Falloff == 1.0f ? t : std::pow(t, l.Falloff);
}

}  // namespace

bool NeedsVertexLighting(const GlDrawState& d) {
    int k = 0;
    for (const auto& [index, l] : d.lights) {
        if (!l.enabled || !l.set) continue;
        const bool reaches = k >= 32 || ((d.lightsOutOfRange >> k) & 1u) == 0;
        ++k;
        if (reaches && l.light.Type == D3DLIGHT_SPOT && l.light.Theta < l.light.Phi) return true;
    }
    return false;
}

void LightVertices(const GlDrawState& d, const D3DMATRIX& world, const D3DMATRIX& view, const BYTE* base,
                   UINT count, const LitVertexLayout& layout, int maxLights, std::uint32_t* diffuseOut,
                   std::uint32_t* specularOut) {
    const auto& rs = d.renderStates;
    PreparedLight lights[kMostLights];
    const int most = std::min(maxLights, kMostLights);
    int lightCount = 0;
    for (const auto& [index, l] : d.lights) {
        if (l.enabled && l.set && lightCount < most) lights[lightCount++] = Prepare(l.light);
    }
    // Normals go by the inverse transpose of the world matrix.
    D3DXMATRIX inverse, normalMatrix;
    if (D3DXMatrixInverse(&inverse, nullptr, &world)) {
        D3DXMatrixTranspose(&normalMatrix, &inverse);
    } else {
        normalMatrix = world;
    }
    // The camera in world space: its position and the way it looks.
    D3DXMATRIX camera;
    if (!D3DXMatrixInverse(&camera, nullptr, &view)) D3DXMatrixIdentity(&camera);
    const Vec eye{camera._41, camera._42, camera._43};
    const Vec towardsViewer = Normalised({-camera._31, -camera._32, -camera._33});
    const bool localViewer = rs[D3DRS_LOCALVIEWER] != 0;
    const bool specularOn = rs[D3DRS_SPECULARENABLE] != 0 && specularOut != nullptr;
    const bool normalise = rs[D3DRS_NORMALIZENORMALS] != 0;
    const bool colourVertex = rs[D3DRS_COLORVERTEX] != 0;
    const D3DMATERIAL8& m = d.material;
    const Colour global = FromPacked(rs[D3DRS_AMBIENT]);

    for (UINT i = 0; i < count; ++i) {
        const BYTE* v = base + static_cast<size_t>(i) * layout.stride;
        Vec p, n{0, 0, 0};
        std::memcpy(&p, v, sizeof(p));
        if (layout.normal >= 0) std::memcpy(&n, v + layout.normal, sizeof(n));
        const Vec position = Point(world, p);
        Vec normal = Direction(normalMatrix, n);
        if (normalise) normal = Normalised(normal);
        // Material colours, from the vertex where the states say so.
        auto source = [&](DWORD state, const D3DCOLORVALUE& own) {
            const DWORD s = rs[state];
            if (colourVertex && s == D3DMCS_COLOR1 && layout.diffuse >= 0) {
                std::uint32_t c;
                std::memcpy(&c, v + layout.diffuse, sizeof(c));
                return FromPacked(c);
            }
            if (colourVertex && s == D3DMCS_COLOR2 && layout.specular >= 0) {
                std::uint32_t c;
                std::memcpy(&c, v + layout.specular, sizeof(c));
                return FromPacked(c);
            }
            return FromValue(own);
        };
        const Colour md = source(D3DRS_DIFFUSEMATERIALSOURCE, m.Diffuse);
        const Colour ma = source(D3DRS_AMBIENTMATERIALSOURCE, m.Ambient);
        const Colour ms = source(D3DRS_SPECULARMATERIALSOURCE, m.Specular);
        const Colour me = source(D3DRS_EMISSIVEMATERIALSOURCE, m.Emissive);
        Colour ambient = global, diffuse, specular;
        for (int j = 0; j < lightCount; ++j) {
            const PreparedLight& prepared = lights[j];
            const D3DLIGHT8* l = prepared.light;
            Vec towardsLight;
            float attenuation = 1.0f;
            if (l->Type == D3DLIGHT_DIRECTIONAL) {
                towardsLight = prepared.towardsLight;
            } else {
                const Vec offset = Vec{l->Position.x, l->Position.y, l->Position.z} - position;
                const float distance = Length(offset);
                if (distance > l->Range) continue;
                towardsLight = Normalised(offset);
                float a0 = l->Attenuation0;
                if (a0 == 0.0f && l->Attenuation1 == 0.0f && l->Attenuation2 == 0.0f) a0 = 1.0f;
                const float denominator = a0 + l->Attenuation1 * distance + l->Attenuation2 * distance * distance;
                attenuation = denominator > 0.0f ? 1.0f / denominator : 1.0f;
            }
            const float k = attenuation * SpotFactor(prepared, towardsLight);
            if (k == 0.0f) continue;
            ambient.r += k * l->Ambient.r;
            ambient.g += k * l->Ambient.g;
            ambient.b += k * l->Ambient.b;
            const float lambert = Dot(normal, towardsLight);
            if (lambert <= 0.0f) continue;
            diffuse.r += k * lambert * l->Diffuse.r;
            diffuse.g += k * lambert * l->Diffuse.g;
            diffuse.b += k * lambert * l->Diffuse.b;
            if (specularOn) {
                const Vec viewer = localViewer ? Normalised(eye - position) : towardsViewer;
                const float h = Dot(normal, Normalised(towardsLight + viewer));
                if (h > 0.0f) {
                    const float s = k * std::pow(h, m.Power);
                    specular.r += s * l->Specular.r;
                    specular.g += s * l->Specular.g;
                    specular.b += s * l->Specular.b;
                }
            }
        }
        diffuseOut[i] = Packed(me.r + ma.r * ambient.r + md.r * diffuse.r, me.g + ma.g * ambient.g + md.g * diffuse.g,
                               me.b + ma.b * ambient.b + md.b * diffuse.b, md.a);
        if (specularOn) specularOut[i] = Packed(ms.r * specular.r, ms.g * specular.g, ms.b * specular.b, ms.a);
    }
}
