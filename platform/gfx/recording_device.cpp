#include "platform/gfx/recording_device.h"

#include <cstring>

namespace {

DWORD FloatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}
DWORD Ptr(const void* p) { return p ? 1u : 0u; }

// A texture whose locks fail; everything else goes to the real texture.
class FailingLockTexture final : public IDirect3DTexture8 {
public:
    explicit FailingLockTexture(IDirect3DTexture8* inner) : inner_(inner) {}
    IDirect3DTexture8* Inner() const { return inner_; }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }
    HRESULT GetDevice(IDirect3DDevice8** device) override { return inner_->GetDevice(device); }
    D3DRESOURCETYPE GetType() override { return inner_->GetType(); }
    DWORD GetLevelCount() override { return inner_->GetLevelCount(); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return inner_->GetLevelDesc(level, desc); }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override {
        return inner_->GetSurfaceLevel(level, surface);
    }
    HRESULT LockRect(UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) override {
        if (locked) locked->pBits = nullptr;
        return D3DERR_INVALIDCALL;
    }
    HRESULT UnlockRect(UINT) override { return D3DERR_INVALIDCALL; }

private:
    ~FailingLockTexture() override = default;
    ULONG refs_ = 1;
    IDirect3DTexture8* inner_;
};

}  // namespace

UINT PrimitiveVertexCount(D3DPRIMITIVETYPE type, UINT n) {
    switch (type) {
        case D3DPT_POINTLIST: return n;
        case D3DPT_LINELIST: return 2 * n;
        case D3DPT_LINESTRIP: return n + 1;
        case D3DPT_TRIANGLELIST: return 3 * n;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return n + 2;
        default: return 0;
    }
}

RecordingDevice::RecordingDevice(IDirect3DDevice8* inner) : inner_(inner) { inner_->AddRef(); }
RecordingDevice::~RecordingDevice() { inner_->Release(); }

std::vector<DeviceCall> RecordingDevice::Named(const std::string& name) const {
    std::vector<DeviceCall> out;
    for (const auto& c : calls) {
        if (c.name == name) out.push_back(c);
    }
    return out;
}

void RecordingDevice::Log(const char* name, std::vector<DWORD> args) {
    DeviceCall c;
    c.name = name;
    c.args = std::move(args);
    calls.push_back(std::move(c));
    if (onCall) onCall(calls.back());
}

bool RecordingDevice::Fails(const char* name, HRESULT* hr) const {
    auto it = failures.find(name);
    if (it == failures.end()) return false;
    *hr = it->second;
    return true;
}

IDirect3DBaseTexture8* RecordingDevice::Unwrap(IDirect3DBaseTexture8* texture) const {
    if (auto* w = dynamic_cast<FailingLockTexture*>(texture)) return w->Inner();
    return texture;
}

#define RECORD_OR_FAIL(name, ...)         \
    Log(name, {__VA_ARGS__});             \
    do {                                  \
        HRESULT failure_;                 \
        if (Fails(name, &failure_)) return failure_; \
    } while (0)

ULONG RecordingDevice::AddRef() { return ++refs_; }
ULONG RecordingDevice::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT RecordingDevice::TestCooperativeLevel() {
    RECORD_OR_FAIL("TestCooperativeLevel");
    return inner_->TestCooperativeLevel();
}
HRESULT RecordingDevice::GetDirect3D(IDirect3D8** d) {
    RECORD_OR_FAIL("GetDirect3D");
    return inner_->GetDirect3D(d);
}
HRESULT RecordingDevice::GetDeviceCaps(D3DCAPS8* caps) {
    RECORD_OR_FAIL("GetDeviceCaps");
    const HRESULT hr = inner_->GetDeviceCaps(caps);
    if (SUCCEEDED(hr) && caps && maxTextureSize != 0) {
        caps->MaxTextureWidth = maxTextureSize;
        caps->MaxTextureHeight = maxTextureSize;
    }
    return hr;
}
HRESULT RecordingDevice::GetDisplayMode(D3DDISPLAYMODE* mode) {
    RECORD_OR_FAIL("GetDisplayMode");
    return inner_->GetDisplayMode(mode);
}
HRESULT RecordingDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) {
    RECORD_OR_FAIL("GetCreationParameters");
    return inner_->GetCreationParameters(p);
}
HRESULT RecordingDevice::SetCursorProperties(UINT x, UINT y, IDirect3DSurface8* image) {
    RECORD_OR_FAIL("SetCursorProperties", x, y, Ptr(image));
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT lr{};
    if (image && SUCCEEDED(image->GetDesc(&desc)) && desc.Format == D3DFMT_A8R8G8B8 &&
        SUCCEEDED(image->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
        // The image's pixels, rows top-down without padding.
        DeviceCall& call = calls.back();
        call.args.push_back(desc.Width);
        call.args.push_back(desc.Height);
        for (UINT y = 0; y < desc.Height; ++y) {
            const BYTE* row = static_cast<const BYTE*>(lr.pBits) + static_cast<size_t>(y) * static_cast<size_t>(lr.Pitch);
            call.vertices.insert(call.vertices.end(), row, row + desc.Width * 4);
        }
        image->UnlockRect();
    }
    return inner_->SetCursorProperties(x, y, image);
}
void RecordingDevice::SetCursorPosition(int x, int y, DWORD flags) {
    Log("SetCursorPosition", {static_cast<DWORD>(x), static_cast<DWORD>(y), flags});
    inner_->SetCursorPosition(x, y, flags);
}
BOOL RecordingDevice::ShowCursor(BOOL show) {
    Log("ShowCursor", {static_cast<DWORD>(show)});
    return inner_->ShowCursor(show);
}
HRESULT RecordingDevice::Reset(D3DPRESENT_PARAMETERS* p) {
    RECORD_OR_FAIL("Reset");
    return inner_->Reset(p);
}
HRESULT RecordingDevice::Present(const RECT* s, const RECT* d, HWND w, const void* r) {
    RECORD_OR_FAIL("Present");
    return inner_->Present(s, d, w, r);
}
HRESULT RecordingDevice::GetBackBuffer(UINT i, D3DBACKBUFFER_TYPE t, IDirect3DSurface8** s) {
    RECORD_OR_FAIL("GetBackBuffer", i, static_cast<DWORD>(t));
    return inner_->GetBackBuffer(i, t, s);
}
HRESULT RecordingDevice::CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                       IDirect3DTexture8** texture) {
    RECORD_OR_FAIL("CreateTexture", w, h, levels, usage, static_cast<DWORD>(format), static_cast<DWORD>(pool));
    const HRESULT hr = inner_->CreateTexture(w, h, levels, usage, format, pool, texture);
    if (SUCCEEDED(hr) && failTextureLocks) *texture = new FailingLockTexture(*texture);
    return hr;
}
HRESULT RecordingDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            IDirect3DVertexBuffer8** buffer) {
    RECORD_OR_FAIL("CreateVertexBuffer", length, usage, fvf, static_cast<DWORD>(pool));
    return inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer);
}
HRESULT RecordingDevice::CreateImageSurface(UINT w, UINT h, D3DFORMAT format, IDirect3DSurface8** surface) {
    RECORD_OR_FAIL("CreateImageSurface", w, h, static_cast<DWORD>(format));
    return inner_->CreateImageSurface(w, h, format, surface);
}
HRESULT RecordingDevice::BeginScene() {
    RECORD_OR_FAIL("BeginScene");
    return inner_->BeginScene();
}
HRESULT RecordingDevice::EndScene() {
    RECORD_OR_FAIL("EndScene");
    return inner_->EndScene();
}
HRESULT RecordingDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                               DWORD stencil) {
    RECORD_OR_FAIL("Clear", count, flags, color, FloatBits(z), stencil);
    return inner_->Clear(count, rects, flags, color, z, stencil);
}
HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) {
    RECORD_OR_FAIL("SetTransform", static_cast<DWORD>(s));
    return inner_->SetTransform(s, m);
}
HRESULT RecordingDevice::GetTransform(D3DTRANSFORMSTATETYPE s, D3DMATRIX* m) {
    RECORD_OR_FAIL("GetTransform", static_cast<DWORD>(s));
    return inner_->GetTransform(s, m);
}
HRESULT RecordingDevice::MultiplyTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) {
    RECORD_OR_FAIL("MultiplyTransform", static_cast<DWORD>(s));
    return inner_->MultiplyTransform(s, m);
}
HRESULT RecordingDevice::SetViewport(const D3DVIEWPORT8* v) {
    if (v) {
        RECORD_OR_FAIL("SetViewport", v->X, v->Y, v->Width, v->Height);
    } else {
        RECORD_OR_FAIL("SetViewport");
    }
    return inner_->SetViewport(v);
}
HRESULT RecordingDevice::GetViewport(D3DVIEWPORT8* v) {
    RECORD_OR_FAIL("GetViewport");
    return inner_->GetViewport(v);
}
HRESULT RecordingDevice::SetMaterial(const D3DMATERIAL8* m) {
    RECORD_OR_FAIL("SetMaterial");
    return inner_->SetMaterial(m);
}
HRESULT RecordingDevice::GetMaterial(D3DMATERIAL8* m) {
    RECORD_OR_FAIL("GetMaterial");
    return inner_->GetMaterial(m);
}
HRESULT RecordingDevice::SetLight(DWORD i, const D3DLIGHT8* l) {
    RECORD_OR_FAIL("SetLight", i);
    return inner_->SetLight(i, l);
}
HRESULT RecordingDevice::GetLight(DWORD i, D3DLIGHT8* l) {
    RECORD_OR_FAIL("GetLight", i);
    return inner_->GetLight(i, l);
}
HRESULT RecordingDevice::LightEnable(DWORD i, BOOL e) {
    RECORD_OR_FAIL("LightEnable", i, static_cast<DWORD>(e));
    return inner_->LightEnable(i, e);
}
HRESULT RecordingDevice::GetLightEnable(DWORD i, BOOL* e) {
    RECORD_OR_FAIL("GetLightEnable", i);
    return inner_->GetLightEnable(i, e);
}
HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE s, DWORD v) {
    RECORD_OR_FAIL("SetRenderState", static_cast<DWORD>(s), v);
    return inner_->SetRenderState(s, v);
}
HRESULT RecordingDevice::GetRenderState(D3DRENDERSTATETYPE s, DWORD* v) {
    RECORD_OR_FAIL("GetRenderState", static_cast<DWORD>(s));
    return inner_->GetRenderState(s, v);
}
HRESULT RecordingDevice::BeginStateBlock() {
    RECORD_OR_FAIL("BeginStateBlock");
    return inner_->BeginStateBlock();
}
HRESULT RecordingDevice::EndStateBlock(DWORD* token) {
    RECORD_OR_FAIL("EndStateBlock");
    const HRESULT hr = inner_->EndStateBlock(token);
    if (token) calls.back().args.push_back(*token);
    return hr;
}
HRESULT RecordingDevice::ApplyStateBlock(DWORD token) {
    RECORD_OR_FAIL("ApplyStateBlock", token);
    return inner_->ApplyStateBlock(token);
}
HRESULT RecordingDevice::CaptureStateBlock(DWORD token) {
    RECORD_OR_FAIL("CaptureStateBlock", token);
    return inner_->CaptureStateBlock(token);
}
HRESULT RecordingDevice::DeleteStateBlock(DWORD token) {
    RECORD_OR_FAIL("DeleteStateBlock", token);
    return inner_->DeleteStateBlock(token);
}
HRESULT RecordingDevice::CreateStateBlock(D3DSTATEBLOCKTYPE t, DWORD* token) {
    RECORD_OR_FAIL("CreateStateBlock", static_cast<DWORD>(t));
    return inner_->CreateStateBlock(t, token);
}
HRESULT RecordingDevice::GetTexture(DWORD stage, IDirect3DBaseTexture8** t) {
    RECORD_OR_FAIL("GetTexture", stage);
    return inner_->GetTexture(stage, t);
}
HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DBaseTexture8* t) {
    RECORD_OR_FAIL("SetTexture", stage, Ptr(t));
    return inner_->SetTexture(stage, Unwrap(t));
}
HRESULT RecordingDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE t, DWORD* v) {
    RECORD_OR_FAIL("GetTextureStageState", stage, static_cast<DWORD>(t));
    return inner_->GetTextureStageState(stage, t, v);
}
HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE t, DWORD v) {
    RECORD_OR_FAIL("SetTextureStageState", stage, static_cast<DWORD>(t), v);
    return inner_->SetTextureStageState(stage, t, v);
}

void RecordingDevice::CaptureVertices(DeviceCall* call, const BYTE* base, UINT count, UINT stride) {
    call->stride = stride;
    inner_->GetVertexShader(&call->fvf);
    if (base && count > 0) call->vertices.assign(base, base + static_cast<size_t>(count) * stride);
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT n) {
    RECORD_OR_FAIL("DrawPrimitive", static_cast<DWORD>(type), start, n);
    IDirect3DVertexBuffer8* vb = nullptr;
    UINT stride = 0;
    if (SUCCEEDED(inner_->GetStreamSource(0, &vb, &stride)) && vb) {
        D3DVERTEXBUFFER_DESC desc{};
        vb->GetDesc(&desc);
        const size_t from = static_cast<size_t>(start) * stride;
        const size_t bytes = static_cast<size_t>(PrimitiveVertexCount(type, n)) * stride;
        BYTE* data = nullptr;
        if (from + bytes <= desc.Size && SUCCEEDED(vb->Lock(0, 0, &data, D3DLOCK_READONLY))) {
            CaptureVertices(&calls.back(), data + from, PrimitiveVertexCount(type, n), stride);
            vb->Unlock();
        }
        vb->Release();
    }
    return inner_->DrawPrimitive(type, start, n);
}
HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT n, const void* vertices, UINT stride) {
    RECORD_OR_FAIL("DrawPrimitiveUP", static_cast<DWORD>(type), n, stride);
    CaptureVertices(&calls.back(), static_cast<const BYTE*>(vertices), PrimitiveVertexCount(type, n), stride);
    return inner_->DrawPrimitiveUP(type, n, vertices, stride);
}
HRESULT RecordingDevice::CreateVertexShader(const DWORD* d, const DWORD* f, DWORD* h, DWORD u) {
    RECORD_OR_FAIL("CreateVertexShader", Ptr(d), Ptr(f), u);
    return inner_->CreateVertexShader(d, f, h, u);
}
HRESULT RecordingDevice::SetVertexShader(DWORD h) {
    RECORD_OR_FAIL("SetVertexShader", h);
    return inner_->SetVertexShader(h);
}
HRESULT RecordingDevice::GetVertexShader(DWORD* h) {
    RECORD_OR_FAIL("GetVertexShader");
    return inner_->GetVertexShader(h);
}
HRESULT RecordingDevice::DeleteVertexShader(DWORD h) {
    RECORD_OR_FAIL("DeleteVertexShader", h);
    return inner_->DeleteVertexShader(h);
}
HRESULT RecordingDevice::SetPixelShader(DWORD h) {
    RECORD_OR_FAIL("SetPixelShader", h);
    return inner_->SetPixelShader(h);
}
HRESULT RecordingDevice::GetPixelShader(DWORD* h) {
    RECORD_OR_FAIL("GetPixelShader");
    return inner_->GetPixelShader(h);
}
HRESULT RecordingDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
    RECORD_OR_FAIL("SetStreamSource", stream, Ptr(buffer), stride);
    return inner_->SetStreamSource(stream, buffer, stride);
}
HRESULT RecordingDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer8** buffer, UINT* stride) {
    RECORD_OR_FAIL("GetStreamSource", stream);
    return inner_->GetStreamSource(stream, buffer, stride);
}
