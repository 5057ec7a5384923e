#include "view/cockpit_app.h"

#include "view/log_file.h"
#include "view/state.h"
#include "view/terrain.h"
#include "view/universe.h"

namespace {

constexpr float NEAR_PLANE = 0.001f;
constexpr float FAR_PLANE = 524288.0f;

template <typename T>
void ReleaseAndClear(T*& pointer)
{
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

D3DCOLORVALUE Colour(float r, float g, float b, float a = 0.0f) { return D3DCOLORVALUE{r, g, b, a}; }

}  // namespace

CockpitApplication::CockpitApplication()
{
    WindowTitle = COCKPIT_WINDOW_TITLE;
    ClientWidth = 640;
    ClientHeight = 480;
    UseDepthBuffer = TRUE;
    MinDepthBits = 15;
    MinStencilBits = 1;
    ShowCursorWhenFullscreen = FALSE;
    HudFont = new TextureFont("Arial", 12, FONT_BOLD);
}

CockpitApplication::~CockpitApplication()
{
    // Normally the framework's shut-down has freed all of this already.
    delete HudFont;
    HudFont = nullptr;
    FreeModelArrays();
}

void CockpitApplication::FreeModelArrays()
{
    delete[] Planet.Sphere;
    Planet.Sphere = nullptr;
    for (PolygonObject& object : PolygonObjects) {
        delete[] object.NavLights;
        object.NavLights = nullptr;
        object.NavLightCount = 0;
    }
}

HRESULT CockpitApplication::ValidateDeviceCaps(const D3DCAPS8* caps, DWORD, D3DFORMAT)
{
    if (caps && (caps->RasterCaps & D3DPRASTERCAPS_WBUFFER)) return S_OK;
    WriteLogText("Fatal: D3DPRASTERCAPS_WBUFFER not supported by hardware!\n");
    return E_FAIL;
}

HRESULT CockpitApplication::OneTimeSceneInit() { return LoadUniverseObjects(); }

HRESULT CockpitApplication::PrepareDeviceObjects()
{
    if (HudFont) HudFont->CreateBuffers();

    Device->SetRenderState(D3DRS_ZENABLE, D3DZB_USEW);
    Device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    Device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    Device->SetRenderState(D3DRS_LIGHTING, TRUE);
    Device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    FogEnabled = 0;
    Device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    Device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);

    Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    Device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);

    float aspect = static_cast<float>(BackBufferDesc.Width) / static_cast<float>(BackBufferDesc.Height);
    D3DXMATRIX lift, turn, perspective, product;
    D3DXMatrixTranslation(&lift, 0.0f, -0.001f, 0.0f);
    D3DXMatrixRotationY(&turn, -ViewOffset);
    D3DXMatrixPerspectiveFovLH(&perspective, FieldOfView, aspect, NEAR_PLANE, FAR_PLANE);
    D3DXMatrixMultiply(&product, &lift, &turn);
    D3DXMatrixMultiply(&ProjectionMatrix, &product, &perspective);
    Device->SetTransform(D3DTS_PROJECTION, &ProjectionMatrix);

    D3DMATERIAL8 material{};
    material.Diffuse = Colour(1.0f, 1.0f, 1.0f);
    material.Ambient = Colour(1.0f, 1.0f, 1.0f);
    material.Specular = Colour(1.0f, 1.0f, 1.0f);
    material.Emissive = Colour(0.0f, 0.0f, 0.0f);
    material.Power = 70.0f;
    Device->SetMaterial(&material);

    SunLight = D3DLIGHT8{};
    SunLight.Type = D3DLIGHT_DIRECTIONAL;
    SunLight.Ambient = Colour(0.13f, 0.05f, 0.15f);
    SunLight.Diffuse = Colour(0.9f, 0.95f, 1.0f);
    Device->LightEnable(SUN_LIGHT_INDEX, TRUE);

    LandingLight = D3DLIGHT8{};
    LandingLight.Type = D3DLIGHT_SPOT;
    LandingLight.Diffuse = Colour(1.0f, 1.0f, 0.75f);
    LandingLight.Range = 2.0f;
    LandingLight.Falloff = 1.0f;
    LandingLight.Attenuation0 = 0.0f;
    LandingLight.Attenuation1 = 15.0f;
    LandingLight.Attenuation2 = 0.0f;
    LandingLight.Theta = 0.1f;
    LandingLight.Phi = 0.2f;
    if (LandingLightOn == 1) Device->LightEnable(LANDING_LIGHT_INDEX, TRUE);

    ProjectileLight = D3DLIGHT8{};
    ProjectileLight.Type = D3DLIGHT_POINT;
    ProjectileLight.Diffuse = Colour(0.5f, 1.0f, 1.0f);
    ProjectileLight.Range = 2.0f;
    ProjectileLight.Attenuation0 = 0.0f;
    ProjectileLight.Attenuation1 = 15.0f;
    ProjectileLight.Attenuation2 = 0.0f;

    return S_OK;
}

HRESULT CockpitApplication::ReleaseVolatileObjects()
{
    if (HudFont) HudFont->ReleaseBuffers();
    return S_OK;
}

HRESULT CockpitApplication::FreeDeviceObjects()
{
    if (Device) {
        Device->SetStreamSource(0, nullptr, 0);
        for (DWORD stage = 0; stage < 3; ++stage) Device->SetTexture(stage, nullptr);
    }
    ReleaseAndClear(WallTexture);
    ReleaseAndClear(FloorTexture);
    ReleaseAndClear(PlanetTexture);
    ReleaseAndClear(SurfaceMeshTexture);
    ReleaseAndClear(SunTexture);
    ReleaseAndClear(ShipTexture);
    ReleaseAndClear(ShipLightTexture);
    ReleaseAndClear(ShipEngineTexture);
    ReleaseAndClear(StationTexture);
    ReleaseAndClear(TacticalTexture);
    ReleaseAndClear(TerrainDetailTexture);
    if (HudFont) HudFont->ReleaseAtlas();
    ReleaseAndClear(SkyWallBuffer);
    ReleaseAndClear(SkyCapBuffer);
    ReleaseAndClear(SunQuadBuffer);
    ReleaseAndClear(CloudPuffBuffer);
    ReleaseAndClear(HorizonBuffer);
    for (IDirect3DVertexBuffer8*& buffer : TerrainPatchBuffers) ReleaseAndClear(buffer);
    EmptyTerrainPatchCache();
    for (PolygonObject& object : PolygonObjects) ReleaseAndClear(object.VertexBuffer);
    ReleaseAndClear(CloudTexture);
    for (IDirect3DTexture8*& texture : WeaponTextures) ReleaseAndClear(texture);
    for (IDirect3DTexture8*& texture : BlastTextures) ReleaseAndClear(texture);
    ResourcesLoaded = 0;  // a new device loads the set again
    return S_OK;
}

HRESULT CockpitApplication::OneTimeSceneShutdown()
{
    delete HudFont;
    HudFont = nullptr;
    FreeModelArrays();
    CloseLogFile();
    return S_OK;
}
