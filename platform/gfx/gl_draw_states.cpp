// Drawing state of the GL device: render and texture-stage states, transforms,
// lights, material, state blocks, texture and stream binding. The values are
// kept as the application set them; applying them to GL happens at draw time.
#include <cstring>

#include "platform/gfx/gl_device.h"

namespace {
DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}
bool ValidRenderState(D3DRENDERSTATETYPE s) { return s >= 0 && s < kRenderStateCount; }
bool ValidStage(DWORD stage) { return stage < static_cast<DWORD>(kMaxTextureStages); }
bool ValidTransform(D3DTRANSFORMSTATETYPE t) {
    return t == D3DTS_VIEW || t == D3DTS_PROJECTION || (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) ||
           (t >= D3DTS_WORLD && t <= D3DTS_WORLDMATRIX(255));
}
D3DMATRIX Identity() {
    D3DMATRIX m;
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}
}  // namespace

void GlDrawState::SetDefaults() {
    renderStates.fill(0);
    auto rs = [this](D3DRENDERSTATETYPE s, DWORD v) { renderStates[static_cast<size_t>(s)] = v; };
    rs(D3DRS_ZENABLE, D3DZB_TRUE);
    rs(D3DRS_FILLMODE, D3DFILL_SOLID);
    rs(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    rs(D3DRS_ZWRITEENABLE, TRUE);
    rs(D3DRS_LASTPIXEL, TRUE);
    rs(D3DRS_SRCBLEND, D3DBLEND_ONE);
    rs(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    rs(D3DRS_CULLMODE, D3DCULL_CCW);
    rs(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    rs(D3DRS_ALPHAREF, 0);
    rs(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
    rs(D3DRS_FOGSTART, FloatBits(0.0f));
    rs(D3DRS_FOGEND, FloatBits(1.0f));
    rs(D3DRS_FOGDENSITY, FloatBits(1.0f));
    rs(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    rs(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    rs(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    rs(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    rs(D3DRS_STENCILMASK, 0xFFFFFFFFu);
    rs(D3DRS_STENCILWRITEMASK, 0xFFFFFFFFu);
    rs(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
    rs(D3DRS_CLIPPING, TRUE);
    rs(D3DRS_LIGHTING, TRUE);
    rs(D3DRS_COLORVERTEX, TRUE);
    rs(D3DRS_LOCALVIEWER, TRUE);
    rs(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    rs(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2);
    rs(D3DRS_POINTSIZE, FloatBits(1.0f));
    rs(D3DRS_POINTSIZE_MIN, FloatBits(0.0f));
    rs(D3DRS_POINTSCALE_A, FloatBits(1.0f));
    rs(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
    rs(D3DRS_MULTISAMPLEMASK, 0xFFFFFFFFu);
    rs(D3DRS_PATCHSEGMENTS, FloatBits(1.0f));
    rs(D3DRS_POINTSIZE_MAX, FloatBits(64.0f));
    rs(D3DRS_COLORWRITEENABLE, 0x0000000Fu);
    rs(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    for (int s = 0; s < kMaxTextureStages; ++s) {
        auto& st = stageStates[static_cast<size_t>(s)];
        st.fill(0);
        st[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        st[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        st[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        st[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        st[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        st[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        st[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(s);
        st[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        st[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        st[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        st[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        st[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        st[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        st[D3DTSS_MAXANISOTROPY] = 1;
        st[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        st[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        st[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        st[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
    transforms.clear();
    lights.clear();
    material = D3DMATERIAL8{};
    vertexShader = 0;
    pixelShader = 0;
    streamStride = 0;
    dirty = kDirtyAll;
}

void GlDrawState::ForgetApplied() {
    for (auto& unit : envCache) {
        for (int& v : unit) v = -1;
    }
    for (int i = 0; i < kMaxTextureStages; ++i) {
        stageApplied[i] = false;
        envColourSet[i] = false;
        unitState[i] = -1;
        boundTexture[i] = ~0u;
        samplerBound[i] = false;
        texArrays[static_cast<size_t>(i)] = GlArrayState{};
    }
    unitsKnown = false;
    viewportApplied = false;
    activeUnit = clientUnit = -1;
    capLighting = capNormalize = capFog = capColourMaterial = capColourSum = -1;
    colourMaterialMode = 0;
    vertexArray = normalArray = colourArray = fogArray = secondaryArray = GlArrayState{};
    dirty = kDirtyAll;
}

void ReleaseStateBlockEntry(StateBlockEntry* e) {
    if (e->texture) e->texture->Release();
    if (e->stream) e->stream->Release();
    e->texture = nullptr;
    e->stream = nullptr;
}

void GlDrawState::Record(const StateBlockEntry& entry) {
    for (auto& e : recordingBlock.entries) {
        if (e.kind == entry.kind && e.key == entry.key) {
            if (entry.texture) entry.texture->AddRef();
            if (entry.stream) entry.stream->AddRef();
            ReleaseStateBlockEntry(&e);
            e = entry;
            return;
        }
    }
    if (entry.texture) entry.texture->AddRef();
    if (entry.stream) entry.stream->AddRef();
    recordingBlock.entries.push_back(entry);
}


void GlDevice::ReleaseBoundObjects() {
    for (auto& t : draw_.textures) {
        if (t) t->Release();
        t = nullptr;
    }
    if (draw_.stream) draw_.stream->Release();
    draw_.stream = nullptr;
    draw_.dirty |= kDirtyTextures;
    if (refs_.load() == 0) {
        // The device is going away: blocks drop what they hold.
        for (auto& [handle, block] : draw_.blocks) {
            for (auto& e : block.entries) ReleaseStateBlockEntry(&e);
        }
        draw_.blocks.clear();
        for (auto& e : draw_.recordingBlock.entries) ReleaseStateBlockEntry(&e);
        draw_.recordingBlock.entries.clear();
        draw_.recording = false;
    }
}

void GlDevice::ResetDrawState() {
    ReleaseBoundObjects();
    draw_.SetDefaults();
    draw_.renderStates[D3DRS_ZENABLE] = depthStencil_ ? D3DZB_TRUE : D3DZB_FALSE;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix || !ValidTransform(state)) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kTransform};
        e.key = static_cast<DWORD>(state);
        e.matrix = *matrix;
        draw_.Record(e);
        return D3D_OK;
    }
    draw_.transforms[state] = *matrix;
    draw_.dirty |= kDirtyTransforms;
    if (state == D3DTS_VIEW) draw_.dirty |= kDirtyLights;
    return D3D_OK;
}

HRESULT GlDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix || !ValidTransform(state)) return D3DERR_INVALIDCALL;
    auto it = draw_.transforms.find(state);
    *matrix = it == draw_.transforms.end() ? Identity() : it->second;
    return D3D_OK;
}

HRESULT GlDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix || !ValidTransform(state)) return D3DERR_INVALIDCALL;
    D3DMATRIX current;
    GetTransform(state, &current);
    const D3DMATRIX product = *matrix * current;
    return SetTransform(state, &product);
}

HRESULT GlDevice::SetMaterial(const D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kMaterial};
        e.material = *material;
        draw_.Record(e);
        return D3D_OK;
    }
    draw_.material = *material;
    draw_.dirty |= kDirtyMaterial;
    return D3D_OK;
}

HRESULT GlDevice::GetMaterial(D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    *material = draw_.material;
    return D3D_OK;
}

HRESULT GlDevice::SetLight(DWORD index, const D3DLIGHT8* light) {
    if (!light) return D3DERR_INVALIDCALL;
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kLight};
        e.key = index;
        e.light = *light;
        draw_.Record(e);
        return D3D_OK;
    }
    GlLightSlot& slot = draw_.lights[index];
    slot.light = *light;
    slot.set = true;
    draw_.dirty |= kDirtyLights;
    return D3D_OK;
}

HRESULT GlDevice::GetLight(DWORD index, D3DLIGHT8* light) {
    auto it = draw_.lights.find(index);
    if (!light || it == draw_.lights.end() || !it->second.set) return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT GlDevice::LightEnable(DWORD index, BOOL enable) {
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kLightEnable};
        e.key = index;
        e.value = enable ? TRUE : FALSE;
        draw_.Record(e);
        return D3D_OK;
    }
    GlLightSlot& slot = draw_.lights[index];
    if (!slot.set) {
        // A light enabled before it was set is the default light.
        slot.light = D3DLIGHT8{};
        slot.light.Type = D3DLIGHT_DIRECTIONAL;
        slot.light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        slot.light.Direction = D3DVECTOR(0.0f, 0.0f, 1.0f);
        slot.set = true;
    }
    slot.enabled = enable != FALSE;
    draw_.dirty |= kDirtyLights;
    return D3D_OK;
}

HRESULT GlDevice::GetLightEnable(DWORD index, BOOL* enable) {
    auto it = draw_.lights.find(index);
    if (!enable || it == draw_.lights.end() || !it->second.set) return D3DERR_INVALIDCALL;
    *enable = it->second.enabled ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!ValidRenderState(state)) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kRenderState};
        e.key = static_cast<DWORD>(state);
        e.value = value;
        draw_.Record(e);
        return D3D_OK;
    }
    draw_.renderStates[static_cast<size_t>(state)] = value;
    draw_.dirty |= kDirtyRender;
    if (state == D3DRS_TEXTUREFACTOR) draw_.dirty |= kDirtyStages;
    if (state == D3DRS_SPECULARENABLE || state == D3DRS_AMBIENT) draw_.dirty |= kDirtyMaterial;
    return D3D_OK;
}

HRESULT GlDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !ValidRenderState(state)) return D3DERR_INVALIDCALL;
    *value = draw_.renderStates[static_cast<size_t>(state)];
    return D3D_OK;
}

// ---------------------------------------------------------------- state blocks

HRESULT GlDevice::BeginStateBlock() {
    if (draw_.recording) return D3DERR_INVALIDCALL;
    draw_.recording = true;
    draw_.recordingBlock.entries.clear();
    return D3D_OK;
}

HRESULT GlDevice::EndStateBlock(DWORD* token) {
    if (!token) return D3DERR_INVALIDCALL;
    *token = 0;
    if (!draw_.recording) return D3DERR_INVALIDCALL;
    draw_.recording = false;
    const DWORD handle = draw_.nextBlock++;
    draw_.blocks[handle] = std::move(draw_.recordingBlock);
    draw_.recordingBlock.entries.clear();
    *token = handle;
    return D3D_OK;
}

HRESULT GlDevice::ApplyStateBlock(DWORD token) {
    if (draw_.recording) return D3DERR_INVALIDCALL;
    auto it = draw_.blocks.find(token);
    if (it == draw_.blocks.end()) return D3DERR_INVALIDCALL;
    for (const StateBlockEntry& e : it->second.entries) {
        switch (e.kind) {
            case StateBlockEntry::kRenderState:
                SetRenderState(static_cast<D3DRENDERSTATETYPE>(e.key), e.value);
                break;
            case StateBlockEntry::kStageState:
                SetTextureStageState(e.key >> 16, static_cast<D3DTEXTURESTAGESTATETYPE>(e.key & 0xFFFF), e.value);
                break;
            case StateBlockEntry::kTexture: SetTexture(e.key, e.texture); break;
            case StateBlockEntry::kTransform:
                SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(e.key), &e.matrix);
                break;
            case StateBlockEntry::kMaterial: SetMaterial(&e.material); break;
            case StateBlockEntry::kLight: SetLight(e.key, &e.light); break;
            case StateBlockEntry::kLightEnable: LightEnable(e.key, static_cast<BOOL>(e.value)); break;
            case StateBlockEntry::kVertexShader: SetVertexShader(e.value); break;
            case StateBlockEntry::kPixelShader: SetPixelShader(e.value); break;
            case StateBlockEntry::kStream: SetStreamSource(0, e.stream, e.value); break;
            case StateBlockEntry::kViewport: SetViewport(&e.viewport); break;
        }
    }
    return D3D_OK;
}

HRESULT GlDevice::CaptureStateBlock(DWORD token) {
    if (draw_.recording) return D3DERR_INVALIDCALL;
    auto it = draw_.blocks.find(token);
    if (it == draw_.blocks.end()) return D3DERR_INVALIDCALL;
    for (StateBlockEntry& e : it->second.entries) {
        switch (e.kind) {
            case StateBlockEntry::kRenderState: e.value = draw_.renderStates[e.key]; break;
            case StateBlockEntry::kStageState:
                e.value = draw_.stageStates[e.key >> 16][e.key & 0xFFFF];
                break;
            case StateBlockEntry::kTexture: {
                IDirect3DBaseTexture8* t = draw_.textures[e.key];
                if (t) t->AddRef();
                if (e.texture) e.texture->Release();
                e.texture = t;
                break;
            }
            case StateBlockEntry::kTransform:
                GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(e.key), &e.matrix);
                break;
            case StateBlockEntry::kMaterial: e.material = draw_.material; break;
            case StateBlockEntry::kLight: {
                auto l = draw_.lights.find(e.key);
                if (l != draw_.lights.end() && l->second.set) e.light = l->second.light;
                break;
            }
            case StateBlockEntry::kLightEnable: {
                auto l = draw_.lights.find(e.key);
                e.value = (l != draw_.lights.end() && l->second.enabled) ? TRUE : FALSE;
                break;
            }
            case StateBlockEntry::kVertexShader: e.value = draw_.vertexShader; break;
            case StateBlockEntry::kPixelShader: e.value = draw_.pixelShader; break;
            case StateBlockEntry::kStream: {
                if (draw_.stream) draw_.stream->AddRef();
                if (e.stream) e.stream->Release();
                e.stream = draw_.stream;
                e.value = draw_.streamStride;
                break;
            }
            case StateBlockEntry::kViewport: GetViewport(&e.viewport); break;
        }
    }
    return D3D_OK;
}

HRESULT GlDevice::DeleteStateBlock(DWORD token) {
    if (draw_.recording) return D3DERR_INVALIDCALL;
    auto it = draw_.blocks.find(token);
    if (it == draw_.blocks.end()) return D3DERR_INVALIDCALL;
    for (auto& e : it->second.entries) ReleaseStateBlockEntry(&e);
    draw_.blocks.erase(it);
    return D3D_OK;
}

HRESULT GlDevice::CreateStateBlock(D3DSTATEBLOCKTYPE type, DWORD* token) {
    if (!token) return D3DERR_INVALIDCALL;
    *token = 0;
    if (draw_.recording || type < D3DSBT_ALL || type > D3DSBT_VERTEXSTATE) return D3DERR_INVALIDCALL;
    const bool pixel = type != D3DSBT_VERTEXSTATE;
    const bool vertex = type != D3DSBT_PIXELSTATE;
    StateBlock block;
    auto add = [&](StateBlockEntry e) { block.entries.push_back(e); };
    for (int s = 1; s < kRenderStateCount; ++s) {
        StateBlockEntry e{StateBlockEntry::kRenderState};
        e.key = static_cast<DWORD>(s);
        add(e);
    }
    for (DWORD stage = 0; stage < static_cast<DWORD>(kMaxTextureStages); ++stage) {
        for (int t = 1; t < kTextureStageStateCount; ++t) {
            StateBlockEntry e{StateBlockEntry::kStageState};
            e.key = stage << 16 | static_cast<DWORD>(t);
            add(e);
        }
        if (type == D3DSBT_ALL) {
            StateBlockEntry e{StateBlockEntry::kTexture};
            e.key = stage;
            add(e);
        }
    }
    if (vertex) {
        for (const auto& [index, slot] : draw_.lights) {
            if (!slot.set) continue;
            StateBlockEntry l{StateBlockEntry::kLight};
            l.key = index;
            add(l);
            StateBlockEntry en{StateBlockEntry::kLightEnable};
            en.key = index;
            add(en);
        }
        add(StateBlockEntry{StateBlockEntry::kVertexShader});
    }
    if (type == D3DSBT_ALL) {
        for (int t : {static_cast<int>(D3DTS_WORLD), static_cast<int>(D3DTS_VIEW), static_cast<int>(D3DTS_PROJECTION)}) {
            StateBlockEntry e{StateBlockEntry::kTransform};
            e.key = static_cast<DWORD>(t);
            add(e);
        }
        add(StateBlockEntry{StateBlockEntry::kMaterial});
        add(StateBlockEntry{StateBlockEntry::kStream});
        add(StateBlockEntry{StateBlockEntry::kViewport});
    }
    if (pixel) add(StateBlockEntry{StateBlockEntry::kPixelShader});
    const DWORD handle = draw_.nextBlock++;
    draw_.blocks[handle] = std::move(block);
    *token = handle;
    return CaptureStateBlock(handle);
}

// ---------------------------------------------------------------- textures and stream

HRESULT GlDevice::GetTexture(DWORD stage, IDirect3DBaseTexture8** texture) {
    if (!texture || !ValidStage(stage)) return D3DERR_INVALIDCALL;
    *texture = draw_.textures[stage];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) {
    if (!ValidStage(stage)) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kTexture};
        e.key = stage;
        e.texture = texture;
        draw_.Record(e);
        return D3D_OK;
    }
    if (texture) texture->AddRef();
    if (draw_.textures[stage]) draw_.textures[stage]->Release();
    draw_.textures[stage] = texture;
    draw_.dirty |= kDirtyTextures;
    return D3D_OK;
}

HRESULT GlDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || !ValidStage(stage) || type < 0 || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    *value = draw_.stageStates[stage][static_cast<size_t>(type)];
    return D3D_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (!ValidStage(stage) || type < 0 || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kStageState};
        e.key = stage << 16 | static_cast<DWORD>(type);
        e.value = value;
        draw_.Record(e);
        return D3D_OK;
    }
    draw_.stageStates[stage][static_cast<size_t>(type)] = value;
    draw_.dirty |= kDirtyStages;
    return D3D_OK;
}

HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kStream};
        e.stream = buffer;
        e.value = stride;
        draw_.Record(e);
        return D3D_OK;
    }
    if (buffer) buffer->AddRef();
    if (draw_.stream) draw_.stream->Release();
    draw_.stream = buffer;
    draw_.streamStride = stride;
    return D3D_OK;
}

HRESULT GlDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer8** buffer, UINT* stride) {
    if (stream != 0 || !buffer || !stride) return D3DERR_INVALIDCALL;
    *buffer = draw_.stream;
    if (*buffer) (*buffer)->AddRef();
    *stride = draw_.streamStride;
    return D3D_OK;
}
