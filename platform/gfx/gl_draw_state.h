#pragma once
// The device's drawing state as the application set it: render and
// texture-stage states, transforms, lights, material, bound textures and
// stream, shaders. Kept here so the GL side can apply it when drawing.
#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/gfx/d3d_device.h"

struct GlLightSlot {
    D3DLIGHT8 light{};
    bool set = false;
    bool enabled = false;
};

// One recorded setting of a state block. Entries keep the order in which
// they were first recorded; recording the same setting again replaces its value.
struct StateBlockEntry {
    enum Kind : std::uint8_t {
        kRenderState,
        kStageState,
        kTexture,
        kTransform,
        kMaterial,
        kLight,
        kLightEnable,
        kVertexShader,
        kPixelShader,
        kStream,
        kViewport,
    };
    Kind kind;
    DWORD key = 0;  // state number, stage << 16 | type, transform number, light index
    DWORD value = 0;
    IDirect3DBaseTexture8* texture = nullptr;  // holds a reference
    IDirect3DVertexBuffer8* stream = nullptr;  // holds a reference
    D3DMATRIX matrix{};
    D3DMATERIAL8 material{};
    D3DLIGHT8 light{};
    D3DVIEWPORT8 viewport{};
};

struct StateBlock {
    std::vector<StateBlockEntry> entries;
};

// A client vertex array as last given to GL.
struct GlArrayState {
    int on = -1;  // -1 not yet given
    int size = 0;
    unsigned type = 0;
    int stride = 0;
    const void* pointer = nullptr;
};

// Parts of the state that changed since the GL side last applied it.
enum GlDirtyBits : std::uint32_t {
    kDirtyRender = 1u << 0,
    kDirtyStages = 1u << 1,
    kDirtyTransforms = 1u << 2,
    kDirtyLights = 1u << 3,
    kDirtyMaterial = 1u << 4,
    kDirtyTextures = 1u << 5,
    kDirtyAll = 0xFFFFFFFFu,
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

    // State blocks by handle (1, 2, ...); the block being recorded, if any.
    std::map<DWORD, StateBlock> blocks;
    DWORD nextBlock = 1;
    bool recording = false;
    StateBlock recordingBlock;

    std::uint32_t dirty = kDirtyAll;

    // GL objects of the drawing side (0 until first use).
    unsigned samplers[kMaxTextureStages] = {};
    unsigned whiteTexture = 0;
    bool glReady = false;
    bool glClipControl = false;
    // Stage settings as last given to GL, per unit.
    std::array<std::array<DWORD, kTextureStageStateCount>, kMaxTextureStages> appliedStages{};
    DWORD appliedFactor[kMaxTextureStages] = {};
    bool stageApplied[kMaxTextureStages] = {};
    int envCache[kMaxTextureStages][18] = {};  // texture-environment values given to GL
    bool envColourSet[kMaxTextureStages] = {};
    int unitState[kMaxTextureStages] = {-1, -1, -1, -1, -1, -1, -1, -1};  // GL_TEXTURE_2D: 1 on, 0 off
    unsigned boundTexture[kMaxTextureStages] = {};
    bool samplerBound[kMaxTextureStages] = {};
    int enabledUnits = 0;  // texture units switched on by the last draw
    bool unitsKnown = false;
    D3DVIEWPORT8 appliedViewport{};
    UINT appliedHeight = 0;
    bool appliedPre = false;
    bool viewportApplied = false;
    // Switches, client arrays and selected units as last given to GL (-1 not yet).
    int activeUnit = -1;
    int clientUnit = -1;
    int capLighting = -1;
    int capNormalize = -1;
    int capFog = -1;
    int capColourMaterial = -1;
    unsigned colourMaterialMode = 0;
    int capColourSum = -1;
    GlArrayState vertexArray, normalArray, colourArray, fogArray, secondaryArray;
    std::array<GlArrayState, kMaxTextureStages> texArrays{};
    const void* currentEgl = nullptr;  // the contexts current when this device last drew
    const void* currentSdl = nullptr;
    std::vector<float> scratch;  // converted positions and fog coordinates
    std::vector<std::uint32_t> litDiffuse, litSpecular;  // colours of a draw lit by the device
    std::uint32_t lightsOutOfRange = 0;  // bit k: the k-th enabled light reaches no vertex of the draw

    // The platform's initial values of every state.
    void SetDefaults();
    // Takes every GL value last given as unknown (GL was used behind the
    // device's back in its context): the next draw gives them all again.
    void ForgetApplied();
    // Records an entry into the block being recorded (replacing an equal key).
    void Record(const StateBlockEntry& entry);
};

void ReleaseStateBlockEntry(StateBlockEntry* entry);
