#include "platform/gfx/gl_device.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/gfx/gl_context.h"
#include "platform/gfx/gl_direct3d.h"
#include "platform/gfx/gl_resources.h"
#include "platform/ui/window.h"

void FillGlDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) {
    const GlDriverInfo& driver = ProbeGlDriver();
    std::memset(caps, 0, sizeof(*caps));
    caps->DeviceType = type;
    caps->AdapterOrdinal = adapter;
    caps->Caps2 = D3DCAPS2_CANRENDERWINDOWED | D3DCAPS2_CANMANAGERESOURCE | D3DCAPS2_DYNAMICTEXTURES;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | 1u;
    caps->CursorCaps = D3DCURSORCAPS_COLOR;
    caps->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                    D3DDEVCAPS_TLVERTEXVIDEOMEMORY | D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
                    D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX |
                    D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION;
    caps->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                              D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_CLIPTLVERTS |
                              D3DPMISCCAPS_BLENDOP;
    // The W-buffer is reported; a W-buffer request is served by the reversed float depth buffer.
    caps->RasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX |
                       D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ZBIAS |
                       D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_ANISOTROPY | D3DPRASTERCAPS_WBUFFER |
                       D3DPRASTERCAPS_WFOG | D3DPRASTERCAPS_ZFOG;
    caps->ZCmpCaps = 0xFF;
    caps->AlphaCmpCaps = 0xFF;
    caps->SrcBlendCaps = 0x1FFF;
    caps->DestBlendCaps = 0x1FFF;
    caps->ShadeCaps = 0x00004208;  // Gouraud colour, specular and alpha
    caps->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA |
                        D3DPTEXTURECAPS_MIPMAP;
    caps->TextureFilterCaps = 0x00000100 | 0x00000200 | 0x00010000 | 0x00020000 | 0x01000000 | 0x02000000;
    caps->CubeTextureFilterCaps = caps->TextureFilterCaps;
    caps->TextureAddressCaps = 0x1F;
    caps->LineCaps = 0x1F;
    const DWORD maxSize = static_cast<DWORD>(std::min(driver.maxTextureSize, 8192));
    caps->MaxTextureWidth = maxSize;
    caps->MaxTextureHeight = maxSize;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = maxSize;
    caps->MaxAnisotropy = 16;
    caps->MaxVertexW = 1.0e10f;
    caps->GuardBandLeft = -8192.0f;
    caps->GuardBandTop = -8192.0f;
    caps->GuardBandRight = 8192.0f;
    caps->GuardBandBottom = 8192.0f;
    caps->StencilCaps = 0xFF;
    caps->FVFCaps = 8;
    caps->TextureOpCaps = 0x03FFFFFF;
    caps->MaxTextureBlendStages = static_cast<DWORD>(std::min(driver.maxTextureUnits, kMaxTextureStages));
    caps->MaxSimultaneousTextures = caps->MaxTextureBlendStages;
    caps->VertexProcessingCaps = 0x0000003B;
    caps->MaxActiveLights = static_cast<DWORD>(driver.maxLights);
    caps->MaxUserClipPlanes = 6;
    caps->MaxPointSize = 64.0f;
    caps->MaxPrimitiveCount = 0x000FFFFF;
    caps->MaxVertexIndex = 0x000FFFFF;
    caps->MaxStreams = 1;
    caps->MaxStreamStride = 256;
}

GlDevice::GlDevice(GlDirect3D* direct3D, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour)
    : direct3D_(direct3D), adapter_(adapter), type_(type), focusWindow_(focusWindow), behaviour_(behaviour) {
    direct3D_->AddRef();
}

GlDevice::~GlDevice() {
    ReleaseBoundObjects();
    if (context_) {
        MakeCurrent();
        DestroyFramebuffer();
        context_.reset();
    }
    if (fullscreen_ && deviceWindow_) SetWindowFullscreen(deviceWindow_, false, 0, 0);
    direct3D_->Release();
}

HRESULT GlDevice::Create(GlDirect3D* direct3D, UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* parameters, GlDevice** device) {
    auto* d = new GlDevice(direct3D, adapter, type, focusWindow, behaviour);
    const HRESULT hr = d->ApplyPresentParameters(parameters, true);
    if (FAILED(hr)) {
        d->Release();
        return hr;
    }
    *device = d;
    return D3D_OK;
}

bool GlDevice::MakeCurrent() { return context_ && context_->MakeCurrent(); }

bool GlDevice::HeadlessContext() const { return !context_ || context_->Headless(); }

HRESULT GlDevice::ApplyPresentParameters(D3DPRESENT_PARAMETERS* p, bool creating) {
    if (p->BackBufferCount > 1 || p->SwapEffect < D3DSWAPEFFECT_DISCARD || p->SwapEffect > D3DSWAPEFFECT_COPY_VSYNC) {
        return D3DERR_INVALIDCALL;
    }
    if (p->MultiSampleType != D3DMULTISAMPLE_NONE) return D3DERR_INVALIDCALL;
    if (p->EnableAutoDepthStencil && !GlDirect3D::IsDepthFormatSupported(p->AutoDepthStencilFormat)) {
        return D3DERR_INVALIDCALL;
    }
    HWND window = p->hDeviceWindow ? p->hDeviceWindow : focusWindow_;
    const GlAdapter* adapter = direct3D_->Adapter(adapter_);
    UINT width = p->BackBufferWidth, height = p->BackBufferHeight;
    if (p->Windowed) {
        if (window && (width == 0 || height == 0)) {
            RECT r{};
            GetClientRect(window, &r);
            if (width == 0) width = static_cast<UINT>(std::max<LONG>(1, r.right - r.left));
            if (height == 0) height = static_cast<UINT>(std::max<LONG>(1, r.bottom - r.top));
        }
        if (width == 0 || height == 0) return D3DERR_INVALIDCALL;
        if (p->BackBufferFormat == D3DFMT_UNKNOWN) p->BackBufferFormat = adapter->desktop.Format;
    } else {
        if (!window) return D3DERR_INVALIDCALL;
        bool listed = false;
        for (const auto& m : adapter->modes) {
            if (m.Width == width && m.Height == height && m.Format == p->BackBufferFormat) listed = true;
        }
        if (!listed) return D3DERR_INVALIDCALL;
    }
    if (width > 16384 || height > 16384) return D3DERR_OUTOFVIDEOMEMORY;

    if (!context_) {
        std::string error;
        SDL_Window* sdl = window ? GetSdlWindow(window) : nullptr;
        context_ = (direct3D_->Headless() || !sdl) ? GlContext::CreateHeadless(&error)
                                                   : GlContext::CreateForWindow(sdl, &error);
        if (!context_) {
            std::fprintf(stderr, "device: %s\n", error.c_str());
            return D3DERR_NOTAVAILABLE;
        }
    }
    if (!MakeCurrent()) return D3DERR_DRIVERINTERNALERROR;

    // Window or full screen.
    if (window && !p->Windowed) {
        SetWindowFullscreen(window, true, static_cast<int>(width), static_cast<int>(height));
        fullscreen_ = true;
    } else if (fullscreen_ && deviceWindow_) {
        SetWindowFullscreen(deviceWindow_, false, 0, 0);
        fullscreen_ = false;
    }
    deviceWindow_ = window;
    if (!CreateFramebuffer(width, height)) return D3DERR_OUTOFVIDEOMEMORY;
    parameters_ = *p;
    parameters_.BackBufferWidth = width;
    parameters_.BackBufferHeight = height;
    p->BackBufferWidth = width;
    p->BackBufferHeight = height;
    depthStencil_ = p->EnableAutoDepthStencil != FALSE;
    viewport_ = {0, 0, width, height, 0.0f, 1.0f};
    inScene_ = false;
    if (creating) cursorShown_ = FALSE;
    ResetDrawState();
    return D3D_OK;
}

bool GlDevice::CreateFramebuffer(UINT width, UINT height) {
    DestroyFramebuffer();
    glGetError();
    GLuint fb = 0, colour = 0, depth = 0;
    glGenFramebuffers(1, &fb);
    glGenRenderbuffers(1, &colour);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH32F_STENCIL8, static_cast<GLsizei>(width),
                          static_cast<GLsizei>(height));
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    framebuffer_ = fb;
    colour_ = colour;
    depth_ = depth;
    width_ = width;
    height_ = height;
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE || glGetError() != GL_NO_ERROR) {
        DestroyFramebuffer();
        return false;
    }
    // A new back buffer starts black, depth 1 (stored reversed: 0), stencil 0.
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFFFFFFFFu);
    glClearColor(0, 0, 0, 0);
    glClearDepth(StoredDepth(1.0f));
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    return true;
}

void GlDevice::DestroyFramebuffer() {
    if (!framebuffer_) return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    GLuint fb = framebuffer_, colour = colour_, depth = depth_;
    glDeleteFramebuffers(1, &fb);
    glDeleteRenderbuffers(1, &colour);
    glDeleteRenderbuffers(1, &depth);
    framebuffer_ = colour_ = depth_ = 0;
}

ULONG GlDevice::AddRef() { return ++refs_; }

ULONG GlDevice::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

bool GlDevice::CheckLost() {
    // A full-screen device is lost while its window is minimised, and stays
    // unusable until it is reset.
    if (fullscreen_ && deviceWindow_ && IsIconic(deviceWindow_)) lost_ = true;
    return lost_;
}

HRESULT GlDevice::TestCooperativeLevel() {
    if (CheckLost()) return (fullscreen_ && IsIconic(deviceWindow_)) ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
    return framebuffer_ ? D3D_OK : D3DERR_DEVICENOTRESET;
}

HRESULT GlDevice::GetDirect3D(IDirect3D8** direct3D) {
    if (!direct3D) return D3DERR_INVALIDCALL;
    direct3D_->AddRef();
    *direct3D = direct3D_;
    return D3D_OK;
}

HRESULT GlDevice::GetDeviceCaps(D3DCAPS8* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    FillGlDeviceCaps(adapter_, type_, caps);
    return D3D_OK;
}

HRESULT GlDevice::GetDisplayMode(D3DDISPLAYMODE* mode) {
    if (!mode) return D3DERR_INVALIDCALL;
    if (fullscreen_) {
        *mode = {width_, height_, 60, parameters_.BackBufferFormat};
        return D3D_OK;
    }
    return direct3D_->GetAdapterDisplayMode(adapter_, mode);
}

HRESULT GlDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) {
    if (!parameters) return D3DERR_INVALIDCALL;
    *parameters = {adapter_, type_, focusWindow_, behaviour_};
    return D3D_OK;
}

void GlDevice::SetCursorPosition(int, int, DWORD) {
    // The system cursor follows the mouse by itself.
}

BOOL GlDevice::ShowCursor(BOOL show) {
    const BOOL old = cursorShown_;
    cursorShown_ = show ? TRUE : FALSE;
    return old;
}

HRESULT GlDevice::Reset(D3DPRESENT_PARAMETERS* parameters) {
    if (!parameters) return D3DERR_INVALIDCALL;
    // Strict: every default-pool resource must be released first.
    if (defaultPoolResources_.load() != 0) return D3DERR_INVALIDCALL;
    if (CheckLost() && IsIconic(deviceWindow_)) return D3DERR_DEVICELOST;
    ReleaseBoundObjects();
    const HRESULT hr = ApplyPresentParameters(parameters, false);
    if (SUCCEEDED(hr)) lost_ = false;
    return hr;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, HWND, const void*) {
    if (CheckLost() || !framebuffer_ || !MakeCurrent()) return D3DERR_DEVICELOST;
    if (!context_->Headless()) {
        int dw = 0, dh = 0;
        context_->DrawableSize(&dw, &dh);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
        glDisable(GL_SCISSOR_TEST);
        const bool same = dw == static_cast<int>(width_) && dh == static_cast<int>(height_);
        glBlitFramebuffer(0, 0, static_cast<GLint>(width_), static_cast<GLint>(height_), 0, 0, dw, dh,
                          GL_COLOR_BUFFER_BIT, same ? GL_NEAREST : GL_LINEAR);
        context_->Swap();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        if (scissor) glEnable(GL_SCISSOR_TEST);
    } else {
        glFlush();
    }
    return D3D_OK;
}

HRESULT GlDevice::GetBackBuffer(UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface8** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !framebuffer_) return D3DERR_INVALIDCALL;
    *surface = new GlBackBufferSurface(this, parameters_.BackBufferFormat);
    return D3D_OK;
}

bool GlDevice::ReadBackBuffer(std::vector<std::uint32_t>* pixels) {
    if (!framebuffer_ || !MakeCurrent()) return false;
    std::vector<std::uint32_t> raw(static_cast<size_t>(width_) * height_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, raw.data());
    pixels->resize(raw.size());
    for (UINT y = 0; y < height_; ++y) {
        std::memcpy(pixels->data() + static_cast<size_t>(y) * width_,
                    raw.data() + static_cast<size_t>(height_ - 1 - y) * width_, width_ * sizeof(std::uint32_t));
    }
    return glGetError() == GL_NO_ERROR;
}

HRESULT GlDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if ((flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_) return D3DERR_INVALIDCALL;
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if (!framebuffer_ || !MakeCurrent()) return D3DERR_INVALIDCALL;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if (flags & D3DCLEAR_ZBUFFER) mask |= GL_DEPTH_BUFFER_BIT;
    if (flags & D3DCLEAR_STENCIL) mask |= GL_STENCIL_BUFFER_BIT;
    if (mask == 0) return D3D_OK;
    // Clear writes whole values whatever the write masks say.
    GLboolean colourMask[4];
    GLboolean depthMask;
    GLint stencilMask;
    GLboolean scissorOn = glIsEnabled(GL_SCISSOR_TEST);
    GLint scissorBox[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, colourMask);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    glGetIntegerv(GL_STENCIL_WRITEMASK, &stencilMask);
    glGetIntegerv(GL_SCISSOR_BOX, scissorBox);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFFFFFFFFu);
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    glClearDepth(StoredDepth(std::clamp(z, 0.0f, 1.0f)));
    glClearStencil(static_cast<GLint>(stencil & 0xFF));
    glEnable(GL_SCISSOR_TEST);
    const LONG vx1 = static_cast<LONG>(viewport_.X), vy1 = static_cast<LONG>(viewport_.Y);
    const LONG vx2 = std::min<LONG>(static_cast<LONG>(viewport_.X + viewport_.Width), static_cast<LONG>(width_));
    const LONG vy2 = std::min<LONG>(static_cast<LONG>(viewport_.Y + viewport_.Height), static_cast<LONG>(height_));
    auto clearRect = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max(x1, vx1);
        y1 = std::max(y1, vy1);
        x2 = std::min(x2, vx2);
        y2 = std::min(y2, vy2);
        if (x2 <= x1 || y2 <= y1) return;
        glScissor(x1, static_cast<GLint>(height_) - y2, x2 - x1, y2 - y1);
        glClear(mask);
    };
    if (count == 0) {
        clearRect(vx1, vy1, vx2, vy2);
    } else {
        for (DWORD i = 0; i < count; ++i) clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    glColorMask(colourMask[0], colourMask[1], colourMask[2], colourMask[3]);
    glDepthMask(depthMask);
    glStencilMask(static_cast<GLuint>(stencilMask));
    glScissor(scissorBox[0], scissorBox[1], scissorBox[2], scissorBox[3]);
    if (!scissorOn) glDisable(GL_SCISSOR_TEST);
    return D3D_OK;
}

HRESULT GlDevice::SetViewport(const D3DVIEWPORT8* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    if (static_cast<std::uint64_t>(viewport->X) + viewport->Width > width_ ||
        static_cast<std::uint64_t>(viewport->Y) + viewport->Height > height_)
        return D3DERR_INVALIDCALL;
    if (draw_.recording) {  // recorded into the state block, the current viewport stays
        StateBlockEntry e{StateBlockEntry::kViewport};
        e.viewport = *viewport;
        draw_.Record(e);
        return D3D_OK;
    }
    viewport_ = *viewport;
    return D3D_OK;
}

HRESULT GlDevice::GetViewport(D3DVIEWPORT8* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
}
