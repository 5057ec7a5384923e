#include "view/draw_frame.h"

#include <cstdio>

#include "framework/d3d_helpers.h"
#include "platform/gfx/d3dx_texture.h"
#include "platform/sys/timing.h"
#include "view/atmosphere.h"
#include "view/cockpit_app.h"
#include "view/draw_objects.h"
#include "view/draw_vessels.h"
#include "view/hud.h"
#include "view/log_file.h"
#include "view/state.h"

ScreenTextWriter ScreenText = [](CockpitApplication& app, float x, float y, D3DCOLOR colour, const char* text) {
    if (app.HudFont) app.HudFont->DrawText2D(x, y, colour, text, 0);
};
std::function<void(std::uint32_t)> FatalMessagePause = [](std::uint32_t ms) { Sleep(ms); };

namespace {

constexpr D3DFORMAT FORMAT_DXT1 = static_cast<D3DFORMAT>(0x31545844);
constexpr D3DFORMAT FORMAT_DXT3 = static_cast<D3DFORMAT>(0x33545844);
constexpr DWORD BOX_MIRROR_U = D3DX_FILTER_BOX | D3DX_FILTER_MIRROR_U;
constexpr std::uint32_t FATAL_MESSAGE_MS = 2000;

// One texture of the set: direct rows open the path as written with their own
// mip levels and filter; the others go through the media-file lookup.
struct TextureRow {
    const char* path;
    const char* name;
    bool direct;
    UINT mipLevels;
    D3DFORMAT format;
    DWORD mipFilter;
    IDirect3DTexture8* CockpitApplication::*field;
};

const TextureRow SINGLE_TEXTURES[] = {
    {"textures\\bluemars.dds", "bluemars.dds", true, 7, FORMAT_DXT3, BOX_MIRROR_U,
     &CockpitApplication::PlanetTexture},
    {"wall.dds", "wall.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX, &CockpitApplication::WallTexture},
    {"floor.dds", "floor.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX, &CockpitApplication::FloorTexture},
    {"World2a1.dds", "World2a1.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX,
     &CockpitApplication::SurfaceMeshTexture},
    {"sunmap.dds", "sunmap.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX, &CockpitApplication::SunTexture},
    {"E-10.dds", "E-10.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX, &CockpitApplication::ShipTexture},
    {"E-10engine.dds", "E-10engine.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX,
     &CockpitApplication::ShipEngineTexture},
    {"E-10light.dds", "E-10light.dds", false, 1, FORMAT_DXT1, D3DX_FILTER_BOX,
     &CockpitApplication::ShipLightTexture},
    {"textures\\o-4.dds", "o-4.dds", true, 4, FORMAT_DXT1, D3DX_FILTER_BOX, &CockpitApplication::StationTexture},
    {"textures\\tactical.dds", "tactical.dds", true, 4, FORMAT_DXT1, D3DX_FILTER_BOX,
     &CockpitApplication::TacticalTexture},
    {"textures\\facet01.dds", "facet01.dds", true, 6, FORMAT_DXT1, BOX_MIRROR_U,
     &CockpitApplication::TerrainDetailTexture},
    {"cloud8.dds", "cloud8.dds", false, 1, FORMAT_DXT3, D3DX_FILTER_BOX, &CockpitApplication::CloudTexture},
};

// An animation set: numbered files 1..count, loaded directly, one level each.
struct TextureSetRow {
    const char* pathFormat;
    const char* failureFormat;
    const char* loadedFormat;
    const char* screenLine;
};
const TextureSetRow WEAPON_SET = {"textures\\Weapons\\weapon%i.dds", "Could not load \"Weapons\\weapon%i.dds\"!\n",
                                  "InitDeviceObjects() weapon%i.dds loaded!\n", "Weapons loaded..."};
const TextureSetRow BLAST_SET = {"textures\\Explosions\\blast%i.dds",
                                 "Could not load \"Explosions\\blast%i.dds\"!\n",
                                 "InitDeviceObjects() blast%i.dds loaded!\n", "Explosions loaded..."};

HRESULT LoadDirect(IDirect3DDevice8* device, const char* path, UINT levels, D3DFORMAT format, DWORD mipFilter,
                   IDirect3DTexture8** texture)
{
    return D3DXCreateTextureFromFileExA(device, path, D3DX_DEFAULT, D3DX_DEFAULT, levels, 0, format,
                                        D3DPOOL_MANAGED, D3DX_FILTER_NONE, mipFilter, 0, nullptr, nullptr,
                                        texture);
}

void Line(CockpitApplication& app, float y, const char* text)
{
    ScreenText(app, LOADING_TEXT_X, y, LOADING_TEXT_COLOUR, text);
}

HRESULT LoadSet(CockpitApplication& app, const TextureSetRow& row, IDirect3DTexture8** textures, int count)
{
    for (int k = 0; k < count; ++k) {
        char path[128];
        std::snprintf(path, sizeof(path), row.pathFormat, k + 1);
        if (FAILED(LoadDirect(app.Device, path, 1, FORMAT_DXT1, D3DX_FILTER_NONE, &textures[k]))) {
            WriteLog(row.failureFormat, k + 1);
            return APP_E_MEDIA_MISSING;
        }
        WriteLog(row.loadedFormat, k + 1);
    }
    return S_OK;
}

}  // namespace

HRESULT RunLoadingScreen(CockpitApplication& app)
{
    IDirect3DDevice8* device = app.Device;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    float y = 20.0f;
    Line(app, y, "Welcome to the Meridax Industries Panorel Peer!");
    device->Present(nullptr, nullptr, nullptr, nullptr);
    y = 40.0f;
    if (JoystickEnabled != 0) {
        y += 20.0f;
        Line(app, y, "Game controller support enabled...");
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    if (ForceFeedbackAvailable != 0) {
        y += 20.0f;
        Line(app, y, "Force feedback support enabled...");
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }

    const size_t rows = sizeof(SINGLE_TEXTURES) / sizeof(SINGLE_TEXTURES[0]);
    for (size_t i = 0; i < rows; ++i) {
        const TextureRow& row = SINGLE_TEXTURES[i];
        IDirect3DTexture8** field = &(app.*row.field);
        const HRESULT hr = row.direct
                               ? LoadDirect(device, row.path, row.mipLevels, row.format, row.mipFilter, field)
                               : LoadTextureFile(device, row.path, field, row.format);
        if (FAILED(hr)) {
            WriteLog("Could not load \"%s\"!\n", row.name);
            return APP_E_MEDIA_MISSING;
        }
        y += 20.0f;
        char line[64];
        std::snprintf(line, sizeof(line), "\"%s\" loaded...", row.name);
        Line(app, y, line);
        if (i + 1 < rows) device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    WriteLogText("InitDeviceObjects() cloud8.dds loaded!\n");

    if (FAILED(LoadSet(app, WEAPON_SET, app.WeaponTextures, WEAPON_TEXTURE_COUNT))) return APP_E_MEDIA_MISSING;
    y += 20.0f;
    Line(app, y, WEAPON_SET.screenLine);
    if (FAILED(LoadSet(app, BLAST_SET, app.BlastTextures, BLAST_TEXTURE_COUNT))) return APP_E_MEDIA_MISSING;
    y += 20.0f;
    Line(app, y, BLAST_SET.screenLine);
    y += 40.0f;
    Line(app, y, "All resources loaded successfully!");
    device->Present(nullptr, nullptr, nullptr, nullptr);

    ResourcesLoaded = 1;
    device->EndScene();
    return S_OK;
}

HRESULT CockpitApplication::DrawScene()
{
    if (FAILED(Device->BeginScene())) return E_FAIL;
    if (FAILED(Device->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0))) {
        Device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        ScreenText(*this, LOADING_TEXT_X, 20.0f, LOADING_TEXT_COLOUR,
                   "Fatal error: Could not clear the back-buffer!  Exiting...");
        Device->Present(nullptr, nullptr, nullptr, nullptr);
        FatalMessagePause(FATAL_MESSAGE_MS);
        return E_FAIL;
    }
    if (ResourcesLoaded == 0) return RunLoadingScreen(*this);

    DrawAtmosphere(*this);
    DrawVessels(*this);
    DrawUniverseObjects(*this);
    DrawProjectiles(*this);
    DrawHud(*this, Atmosphere.VisibilityFactor, Atmosphere.SunElevation);
    Device->EndScene();
    return S_OK;
}
