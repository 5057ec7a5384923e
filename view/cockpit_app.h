#pragma once
// The view program's application object: the framework's window, device and frame
// loop, with the cockpit scene's font, buffers, textures, lights and model tables.
// Members are public: the drawing and simulation steps are free functions taking
// the application object.
#include "framework/graphics_application.h"
#include "framework/texture_font.h"
#include "view/scene_records.h"

class CockpitApplication : public GraphicsApplication {
public:
    CockpitApplication();
    ~CockpitApplication() override;

    HRESULT ValidateDeviceCaps(const D3DCAPS8* caps, DWORD behaviourFlags, D3DFORMAT adapterFormat) override;
    HRESULT OneTimeSceneInit() override;
    HRESULT InitDeviceObjects() override;       // model_files.cpp
    HRESULT PrepareDeviceObjects() override;
    HRESULT AdvanceScene() override;            // simulation.cpp
    HRESULT DrawScene() override;               // draw_frame.cpp
    HRESULT ReleaseVolatileObjects() override;
    HRESULT FreeDeviceObjects() override;
    HRESULT OneTimeSceneShutdown() override;
    LRESULT HandleWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;  // keys.cpp

    // Base matrices, static buffers and help lines before the first frame
    // (first_frame.cpp).
    void PrepareFirstFrame();
    // Fills the sky box, sun quad and cloud puff buffers (also after a device
    // re-creation, when the first frame is long past).
    void FillStaticBuffers();
    // Frees the planet's sphere copy and the nav-light arrays.
    void FreeModelArrays();

    // Members, in this order; every pointer is owned and starts null.
    TextureFont* HudFont = nullptr;
    IDirect3DVertexBuffer8* SkyWallBuffer = nullptr;
    IDirect3DVertexBuffer8* SkyCapBuffer = nullptr;
    IDirect3DVertexBuffer8* SunQuadBuffer = nullptr;
    IDirect3DVertexBuffer8* TerrainPatchBuffers[TERRAIN_PATCH_SLOTS] = {};
    IDirect3DVertexBuffer8* CloudPuffBuffer = nullptr;
    IDirect3DVertexBuffer8* HorizonBuffer = nullptr;

    IDirect3DTexture8* WallTexture = nullptr;           // wall.dds
    IDirect3DTexture8* FloorTexture = nullptr;          // floor.dds
    IDirect3DTexture8* PlanetTexture = nullptr;         // bluemars.dds
    IDirect3DTexture8* SurfaceMeshTexture = nullptr;    // World2a1.dds
    IDirect3DTexture8* CloudTexture = nullptr;          // cloud8.dds
    IDirect3DTexture8* WeaponTextures[WEAPON_TEXTURE_COUNT] = {};
    IDirect3DTexture8* BlastTextures[BLAST_TEXTURE_COUNT] = {};
    IDirect3DTexture8* SunTexture = nullptr;            // sunmap.dds
    IDirect3DTexture8* ShipTexture = nullptr;           // E-10.dds
    IDirect3DTexture8* ShipLightTexture = nullptr;      // E-10light.dds
    IDirect3DTexture8* ShipEngineTexture = nullptr;     // E-10engine.dds
    IDirect3DTexture8* StationTexture = nullptr;        // o-4.dds
    IDirect3DTexture8* TacticalTexture = nullptr;       // tactical.dds
    IDirect3DTexture8* TerrainDetailTexture = nullptr;  // facet01.dds

    D3DLIGHT8 SunLight{};          // device light 0
    D3DLIGHT8 LandingLight{};      // device light 1
    D3DLIGHT8 ProjectileLight{};   // device light 3

    PolygonObject PolygonObjects[8];
    PlanetFacets Planet;
    FacetData Facets[FACET_FILE_COUNT];
    D3DXVECTOR3 TerrainPositions[TERRAIN_PATCH_SLOTS][TERRAIN_VERTICES];
    CloudPuff CloudPuffs[CLOUD_PUFF_COUNT];
};

// Window title and the build shown in the log.
constexpr const char* COCKPIT_WINDOW_TITLE = "Panorel Peer";
constexpr int BUILD_NUMBER = 142;
constexpr const char* BUILD_DATE = "11/01/2002";
