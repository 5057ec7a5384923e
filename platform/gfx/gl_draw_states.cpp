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
}

void GlDevice::ReleaseBoundObjects() {
    for (auto& t : draw_.textures) {
        if (t) t->Release();
        t = nullptr;
    }
    if (draw_.stream) draw_.stream->Release();
    draw_.stream = nullptr;
}

void GlDevice::ResetDrawState() {
    ReleaseBoundObjects();
    draw_.SetDefaults();
    draw_.renderStates[D3DRS_ZENABLE] = depthStencil_ ? D3DZB_TRUE : D3DZB_FALSE;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix || !ValidTransform(state)) return D3DERR_INVALIDCALL;
    draw_.transforms[state] = *matrix;
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
    draw_.transforms[state] = *matrix * current;
    return D3D_OK;
}

HRESULT GlDevice::SetMaterial(const D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    draw_.material = *material;
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
    GlLightSlot& slot = draw_.lights[index];
    slot.light = *light;
    slot.set = true;
    return D3D_OK;
}

HRESULT GlDevice::GetLight(DWORD index, D3DLIGHT8* light) {
    auto it = draw_.lights.find(index);
    if (!light || it == draw_.lights.end() || !it->second.set) return D3DERR_INVALIDCALL;
    *light = it->second.light;
    return D3D_OK;
}

HRESULT GlDevice::LightEnable(DWORD index, BOOL enable) {
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
    draw_.renderStates[static_cast<size_t>(state)] = value;
    return D3D_OK;
}

HRESULT GlDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !ValidRenderState(state)) return D3DERR_INVALIDCALL;
    *value = draw_.renderStates[static_cast<size_t>(state)];
    return D3D_OK;
}

HRESULT GlDevice::BeginStateBlock() { return E_NOTIMPL; }
HRESULT GlDevice::EndStateBlock(DWORD* token) {
    if (token) *token = 0;
    return E_NOTIMPL;
}
HRESULT GlDevice::ApplyStateBlock(DWORD) { return E_NOTIMPL; }
HRESULT GlDevice::CaptureStateBlock(DWORD) { return E_NOTIMPL; }
HRESULT GlDevice::DeleteStateBlock(DWORD) { return E_NOTIMPL; }
HRESULT GlDevice::CreateStateBlock(D3DSTATEBLOCKTYPE, DWORD* token) {
    if (token) *token = 0;
    return E_NOTIMPL;
}

HRESULT GlDevice::GetTexture(DWORD stage, IDirect3DBaseTexture8** texture) {
    if (!texture || !ValidStage(stage)) return D3DERR_INVALIDCALL;
    *texture = draw_.textures[stage];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) {
    if (!ValidStage(stage)) return D3DERR_INVALIDCALL;
    if (texture) texture->AddRef();
    if (draw_.textures[stage]) draw_.textures[stage]->Release();
    draw_.textures[stage] = texture;
    return D3D_OK;
}

HRESULT GlDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || !ValidStage(stage) || type < 0 || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    *value = draw_.stageStates[stage][static_cast<size_t>(type)];
    return D3D_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (!ValidStage(stage) || type < 0 || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    draw_.stageStates[stage][static_cast<size_t>(type)] = value;
    return D3D_OK;
}

HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
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
