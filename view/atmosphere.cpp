#include "view/atmosphere.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "view/cockpit_app.h"
#include "view/state.h"

namespace {

constexpr float HALF_PI = 1.5707964f;
constexpr float SHADOW_EDGE = 3002.6f;      // planet radius + 63 km
constexpr float SKY_SAMPLE = 2949.6f;       // 10 km above the ground
constexpr float NADIR_BASE = 2939.601f;
constexpr float PLANET_RADIUS_SQ = 8641248.0f;

float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Low 8 bits of v truncated toward zero; 0 for values no integer holds.
DWORD PackByte(float v)
{
    if (!std::isfinite(v) || std::fabs(v) >= 2147483648.0f) return 0;
    return static_cast<DWORD>(static_cast<std::int32_t>(v)) & 0xFFu;
}

D3DCOLOR Blend(D3DCOLOR from, D3DCOLOR to, float s)
{
    const D3DXCOLOR a(from), b(to);
    D3DXCOLOR out;
    D3DXColorLerp(&out, &a, &b, s);
    return static_cast<std::uint32_t>(out);
}

DWORD Bits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}

bool Finite(const D3DXMATRIX& m)
{
    for (const auto& row : m.m)
        for (float v : row)
            if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

ColorRgb SunColorAt(float e)
{
    if (e < -0.2f) return {255.0f, 0.0f, 0.0f};
    if (e < 0.09f) return {255.0f, (e + 0.2f) / 0.29f * 127.5f, 0.0f};
    if (e < 0.25f) return {255.0f, (e - 0.09f) * 127.5f / 0.16f + 127.5f, 0.0f};
    const float u = (e - 0.25f) / 0.75f;
    return {255.0f - 63.75f * u, 255.0f - 63.75f * u, 255.0f * u};
}

ColorRgb SkyHueAt(float e)
{
    if (e < -0.09f) return {100.0f, 50.0f, 100.0f};
    if (e < -0.06f) return {100.0f, 50.0f, 100.0f - (e + 0.09f) * 50.0f / 0.03f};
    if (e < -0.02f) return {100.0f - (e + 0.06f) * 50.0f / 0.04f, 50.0f, (e + 0.06f) * 50.0f / 0.04f + 50.0f};
    const float g = (e + 0.02f) * 50.0f / 1.02f + 50.0f;
    return {g, g, (e + 0.02f) * 100.0f / 1.02f + 100.0f};
}

float AirDensity(float altitude, float e)
{
    float d = 31.5f * std::exp(-std::fabs(altitude) / 8.0f);
    if (e > -0.09f && e < 0.0f) {
        d = d * (e + 0.09f) / 0.09f;
    } else if (e <= -0.09f) {
        d = 0.01f;
    }
    return d;
}

namespace {

// z along n, y along forward laid onto the plane across n. False when forward
// is along n or n is not a direction.
bool BuildHorizonFrame(const D3DXVECTOR3& n, const D3DXVECTOR3& forward, D3DXMATRIX* out)
{
    if (D3DXVec3LengthSq(&n) < 0.5f) return false;
    D3DXVECTOR3 side;
    D3DXVec3Cross(&side, &forward, &n);
    if (!(D3DXVec3Length(&side) > 1e-5f * D3DXVec3Length(&forward))) return false;
    const D3DXVECTOR3 eye(0.0f, 0.0f, 0.0f);
    D3DXMATRIX look, inverse;
    D3DXMatrixLookAtLH(&look, &eye, &n, &forward);
    if (D3DXMatrixInverse(&inverse, nullptr, &look) == nullptr || !Finite(inverse)) return false;
    *out = inverse;
    return true;
}

}  // namespace

AtmosphereFrame Atmosphere = [] {
    AtmosphereFrame f;
    D3DXMatrixIdentity(&f.HorizonFrame);
    return f;
}();
D3DMATERIAL8 WhiteMaterial = MakeWhiteMaterial();

float SunlightFactor(const D3DXVECTOR3& p, const D3DXVECTOR3& s)
{
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &p);
    const float c = -D3DXVec3Dot(&n, &s);
    if (c < 0.0f) return 1.0f;
    const float r = D3DXVec3Length(&p);
    float v = (r * std::sqrt(std::max(1.0f - c * c, 0.0f)) - PLANET_RADIUS) * 0.1f;
    if (r > SHADOW_EDGE) {
        v += 0.5f;
    } else {
        v += 0.5f * r / SHADOW_EDGE;
    }
    return Clamp(v, 0.0f, 1.0f);
}

D3DCOLOR PackColor(float r, float g, float b)
{
    return (PackByte(r) << 16) | (PackByte(g) << 8) | PackByte(b);
}

AtmosphereFrame ComputeAtmosphere(const AtmosphereInputs& in)
{
    AtmosphereFrame f;
    const D3DXVECTOR3& P = in.OwnPosition;
    const D3DXVECTOR3& sun = in.SunDirection;

    f.EyeOffset = -P;
    f.AltitudeMSL = D3DXVec3Length(&P) - PLANET_RADIUS;
    const float alt = f.AltitudeMSL;
    f.FrameSunDirection = sun;

    f.FogEnabled = in.FogEnabled;
    if (alt < ATMOSPHERE_TOP && in.FogEnabled != 1) {
        f.FogEnabled = 1;
    } else if (alt >= ATMOSPHERE_TOP && in.FogEnabled != 0) {
        f.FogEnabled = 0;
    }

    const float D = alt > 0.0f ? alt + NADIR_BASE : NADIR_BASE;
    // Near the ground the ratio is within a few float steps of 1: take the arc
    // cosine in double.
    f.NadirAngle = static_cast<float>(static_cast<double>(HALF_PI) -
                                      std::acos(static_cast<double>(PLANET_RADIUS) / static_cast<double>(D)));

    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &P);
    float e = (HALF_PI - f.NadirAngle) + D3DXVec3Dot(&n, &sun);
    if (e > 1.0f) e = 1.0f;
    f.SunElevation = e;

    const D3DXVECTOR3 skyPoint = n * SKY_SAMPLE;
    const float L = SunlightFactor(skyPoint, sun);
    f.SkyLight = L;
    f.SkyColor = {0.13f + 0.87f * L, 0.05f + 0.95f * L, 0.15f + 0.85f * L};

    // Visibility: haze factor T.
    float facing = D3DXVec3Dot(&in.ForwardAxis, &sun);
    if (facing > 0.0f) facing = 0.0f;
    float T = in.Rvr;
    const float cloud = std::sqrt(std::max(in.NearestCloudDistanceSq, 0.0f));
    if (cloud < 1.0f) T = T / std::max(cloud, 0.1f);
    if (facing < 0.0f) T = T * (facing * facing + 1.0f);
    if (e > -0.09f && e < 0.0f) {
        T = T / (3.0f * std::fabs(e / 0.09f) + 1.0f);
    } else if (e <= -0.09f) {
        T = T / 4.0f;
    }
    if (T < 1.0f) T = 1.0f;
    const float a63 = Clamp(alt, 0.0f, ATMOSPHERE_TOP);
    T = (1.0f - T) * a63 / ATMOSPHERE_TOP + T;
    f.VisibilityFactor = T;

    const ColorRgb sc = SunColorAt(e);
    f.SunColor = sc;

    const float H = in.HorizonSunFactor;
    const D3DCOLOR greyH = PackColor(191.0f * H, 191.0f * H, 191.0f * H);
    f.FogColor = Blend(greyH, PackColor(sc.r * H, sc.g * H, sc.b * H), 1.0f / T);

    f.HazeColor = {191.0f + (sc.r - 191.0f) / T, 191.0f + (sc.g - 191.0f) / T, 191.0f + (sc.b - 191.0f) / T};
    f.SunDiscTint = PackColor((sc.r + 255.0f) / 4.0f, (sc.g + 255.0f) / 4.0f, (sc.b + 255.0f) / 4.0f);
    f.SunAmbientStep = {sc.r / 714.0f, sc.g / 714.0f, sc.b / 714.0f};

    const float a0 = std::max(alt, 0.0f);
    const float clearRange = 256.0f / (T * T);
    float h = PLANET_RADIUS * std::acos(PLANET_RADIUS / (a0 + PLANET_RADIUS));
    if (clearRange > h) h = clearRange;
    f.HorizonDistance = h;

    const float k = (a0 / ATMOSPHERE_TOP) * (a0 / ATMOSPHERE_TOP);
    f.FogStart = k * h;
    f.FogEnd = clearRange + f.FogStart;
    f.FogEnd = f.FogEnd + k * (h - f.FogEnd);

    ColorRgb hue = SkyHueAt(e);
    float density = AirDensity(alt, e);
    const float brightness = std::min(density / 21.0f + 0.315f, 1.0f);
    hue = {hue.r * brightness, hue.g * brightness, hue.b * brightness};
    density = Clamp(density, 0.0f, 1.0f);

    const D3DCOLOR sky = PackColor(hue.r, hue.g, hue.b) | (PackByte(255.0f * density) << 24);
    f.SkyBoxTint = Blend(greyH | 0xFF000000u, sky, 1.0f / T);
    f.RingTint = Blend(greyH, PackColor(hue.r * H, hue.g * H, hue.b * H), 1.0f / T);

    if (f.FogEnabled == 0) {
        f.RingTint = 0;
        f.SunDiscTint = 0x7F7F7F;
        f.SkyBoxTint = PackColor(255.0f * in.SunAmbient.r, 255.0f * in.SunAmbient.g, 255.0f * in.SunAmbient.b);
    }

    const float nu = f.NadirAngle;
    const float q = 256.0f * std::sin(nu);
    f.HorizonRadius = std::min(PLANET_RADIUS * std::cos(nu) + q, PLANET_RADIUS);
    f.RingRadius = f.HorizonRadius + ATMOSPHERE_TOP * std::cos(nu);
    f.RingDrop = -ATMOSPHERE_TOP * std::sin(nu);
    float lift = 4.1f;
    if (alt <= 0.0f) {
        lift = 0.3f;
    } else if (alt < ATMOSPHERE_TOP) {
        lift = 0.3f + 3.8f * alt / ATMOSPHERE_TOP;
    }
    f.HorizonDepth =
        std::sqrt(std::max(q * q + PLANET_RADIUS_SQ - f.HorizonRadius * f.HorizonRadius, 0.0f)) - lift;

    const D3DXVECTOR3 zAxis(0.0f, 0.0f, 1.0f);
    D3DXVECTOR3 forward;
    D3DXVec3TransformNormal(&forward, &zAxis, &in.OwnWorld);
    if (!BuildHorizonFrame(n, forward, &f.HorizonFrame)) f.HorizonFrame = in.PreviousHorizonFrame;
    return f;
}

void FillHorizonDisc(const AtmosphereFrame& frame, HorizonVertex out[HORIZON_DISC_VERTICES])
{
    out[0] = {D3DXVECTOR3(0.0f, 0.0f, 0.0f), 0};
    for (int i = 0; i < HORIZON_DISC_SEGMENTS; ++i) {
        const float theta = static_cast<float>(i) * frame.HorizonStep;
        out[1 + i] = {D3DXVECTOR3(frame.HorizonRadius * std::cos(theta), frame.HorizonRadius * std::sin(theta),
                                  -frame.HorizonDepth),
                      0};
    }
    out[HORIZON_DISC_VERTICES - 1] = {D3DXVECTOR3(frame.HorizonRadius, 0.0f, -frame.HorizonDepth), 0};
}

D3DXMATRIX HorizonWorld(const AtmosphereFrame& frame)
{
    D3DXMATRIX world = frame.HorizonFrame;
    world._41 = -frame.EyeOffset.x;
    world._42 = -frame.EyeOffset.y;
    world._43 = -frame.EyeOffset.z;
    return world;
}

void DrawHorizonDisc(IDirect3DDevice8* device, IDirect3DVertexBuffer8* buffer, const AtmosphereFrame& frame)
{
    device->SetVertexShader(HORIZON_VERTEX_FVF);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    const D3DXMATRIX world = HorizonWorld(frame);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetStreamSource(0, buffer, sizeof(HorizonVertex));
    device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, HORIZON_DISC_SEGMENTS);

    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetVertexShader(MODEL_VERTEX_FVF);
}

D3DMATERIAL8 MakeWhiteMaterial()
{
    D3DMATERIAL8 m{};
    m.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    m.Ambient = {1.0f, 1.0f, 1.0f, 0.0f};
    m.Specular = {1.0f, 1.0f, 1.0f, 0.0f};
    m.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    m.Power = 70.0f;
    return m;
}

HRESULT DrawAtmosphere(CockpitApplication& app)
{
    const std::uint8_t own = OwnVesselIndex.load();
    if (!IsVesselNumber(own)) return S_OK;
    IDirect3DDevice8* device = app.Device;

    AtmosphereInputs in;
    in.OwnPosition = Vessels[own].Position;
    in.OwnWorld = Vessels[own].WorldMatrix;
    in.SunDirection = app.SunLight.Direction;
    in.ForwardAxis = app.LandingLight.Direction;
    in.Rvr = RvrSetting;
    in.NearestCloudDistanceSq = app.CloudPuffs[CLOUD_PUFF_COUNT - 1].EyeDistanceSq;
    in.HorizonSunFactor = HorizonSunFactor;
    in.SunAmbient = app.SunLight.Ambient;
    in.FogEnabled = FogEnabled;
    in.PreviousHorizonFrame = Atmosphere.HorizonFrame;

    WhiteMaterial = MakeWhiteMaterial();
    Atmosphere = ComputeAtmosphere(in);
    const AtmosphereFrame& f = Atmosphere;
    AltitudeMSL = f.AltitudeMSL;

    device->SetVertexShader(MODEL_VERTEX_FVF);
    if (f.FogEnabled != FogEnabled) {
        FogEnabled = f.FogEnabled;
        device->SetRenderState(D3DRS_FOGENABLE, FogEnabled ? TRUE : FALSE);
    }

    BYTE* data = nullptr;
    if (app.HorizonBuffer != nullptr && SUCCEEDED(app.HorizonBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        FillHorizonDisc(f, reinterpret_cast<HorizonVertex*>(data));
        app.HorizonBuffer->Unlock();
        DrawHorizonDisc(device, app.HorizonBuffer, f);
    }

    device->SetRenderState(D3DRS_FOGCOLOR, f.FogColor);
    device->SetRenderState(D3DRS_FOGEND, Bits(f.FogEnd));
    device->SetRenderState(D3DRS_FOGSTART, Bits(f.FogStart));
    if (FogEnabled == 1) device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    return S_OK;
}
