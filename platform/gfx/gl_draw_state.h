#pragma once
// The device's drawing state as the application set it: render and
// texture-stage states, transforms, lights, material, bound textures and
// stream, shaders. Kept here so the GL side can apply it when drawing.
#include <array>
#include <map>
#include <vector>

#include "platform/gfx/d3d_device.h"

struct GlLightSlot {
    D3DLIGHT8 light{};
    bool set = false;
    bool enabled = false;
};

struct GlDrawState {
    std::array<DWORD, kRenderStateCount> renderStates{};
    std::array<std::array<DWORD, kTextureStageStateCount>, kMaxTextureStages> stageStates{};
    std::map<int, D3DMATRIX> transforms;  // absent entries are the identity
    std::map<DWORD, GlLightSlot> lights;
    D3DMATERIAL8 material{};
    std::array<IDirect3DBaseTexture8*, kMaxTextureStages> textures{};  // each holds a reference
    IDirect3DVertexBuffer8* stream = nullptr;                          // holds a reference
    UINT streamStride = 0;
    DWORD vertexShader = 0;
    DWORD pixelShader = 0;

    // The platform's initial values of every state.
    void SetDefaults();
};
