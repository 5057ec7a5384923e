#include "platform/gfx/gl_direct3d.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/gfx/gl_context.h"
#include "platform/gfx/gl_device.h"
#include "platform/ui/window.h"

namespace {

std::atomic<Direct3DFactory> g_factory{nullptr};
std::atomic<bool> g_forceHeadless{false};

D3DFORMAT FormatOfSdl(Uint32 f) {
    switch (f) {
        case SDL_PIXELFORMAT_RGB888: return D3DFMT_X8R8G8B8;
        case SDL_PIXELFORMAT_ARGB8888: return D3DFMT_X8R8G8B8;
        case SDL_PIXELFORMAT_RGB565: return D3DFMT_R5G6B5;
        case SDL_PIXELFORMAT_RGB555: return D3DFMT_X1R5G5B5;
        case SDL_PIXELFORMAT_RGB24: return D3DFMT_R8G8B8;
        default: return D3DFMT_UNKNOWN;
    }
}

void CopyText(char* dst, size_t size, const std::string& s) {
    std::snprintf(dst, size, "%s", s.c_str());
}

}  // namespace

void SetHeadlessGraphics(bool headless) { g_forceHeadless.store(headless); }
void SetDirect3DFactory(Direct3DFactory factory) { g_factory.store(factory); }

IDirect3D8* Direct3DCreate8(UINT sdkVersion) {
    if (Direct3DFactory f = g_factory.load()) return f(sdkVersion);
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    if (!ProbeGlDriver().usable) return nullptr;
    const bool headless = g_forceHeadless.load() || !DisplayAvailable();
    return new GlDirect3D(headless);
}

HRESULT CreateHeadlessDevice(UINT width, UINT height, IDirect3D8** direct3D, IDirect3DDevice8** device) {
    *direct3D = nullptr;
    *device = nullptr;
    SetHeadlessGraphics(true);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!d3d) return D3DERR_NOTAVAILABLE;
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.BackBufferWidth = width;
    p.BackBufferHeight = height;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    const HRESULT hr = d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, device);
    if (FAILED(hr)) {
        d3d->Release();
        return hr;
    }
    *direct3D = d3d;
    return D3D_OK;
}

GlDirect3D::GlDirect3D(bool headless) : headless_(headless) {
    const GlDriverInfo& driver = ProbeGlDriver();
    auto fillIdentifier = [&](GlAdapter& a, const std::string& where) {
        std::memset(&a.identifier, 0, sizeof(a.identifier));
        CopyText(a.identifier.Driver, sizeof(a.identifier.Driver), "OpenGL " + driver.version);
        CopyText(a.identifier.Description, sizeof(a.identifier.Description), driver.renderer + " (" + where + ")");
        a.identifier.VendorId = 0;
        a.identifier.DeviceId = 0;
    };
    if (!headless_) {
        const int displays = SDL_GetNumVideoDisplays();
        for (int d = 0; d < displays; ++d) {
            GlAdapter a;
            a.sdlDisplay = d;
            const char* name = SDL_GetDisplayName(d);
            fillIdentifier(a, name ? name : "display");
            SDL_DisplayMode dm;
            if (SDL_GetDesktopDisplayMode(d, &dm) != 0) continue;
            a.desktop = {static_cast<UINT>(dm.w), static_cast<UINT>(dm.h), static_cast<UINT>(dm.refresh_rate),
                         FormatOfSdl(dm.format)};
            if (a.desktop.Format == D3DFMT_UNKNOWN) a.desktop.Format = D3DFMT_X8R8G8B8;
            const int count = SDL_GetNumDisplayModes(d);
            for (int m = 0; m < count; ++m) {
                if (SDL_GetDisplayMode(d, m, &dm) != 0) continue;
                const D3DFORMAT f = FormatOfSdl(dm.format);
                if (f == D3DFMT_UNKNOWN) continue;
                a.modes.push_back({static_cast<UINT>(dm.w), static_cast<UINT>(dm.h),
                                   static_cast<UINT>(dm.refresh_rate), f});
            }
            if (a.modes.empty()) a.modes.push_back(a.desktop);
            adapters_.push_back(a);
        }
    }
    if (adapters_.empty()) {
        headless_ = true;
        GlAdapter a;
        a.sdlDisplay = -1;
        fillIdentifier(a, "offscreen");
        a.desktop = {1024, 768, 60, D3DFMT_X8R8G8B8};
        const UINT sizes[][2] = {{640, 480}, {800, 600}, {1024, 768}};
        for (D3DFORMAT f : {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5}) {
            for (const auto& s : sizes) a.modes.push_back({s[0], s[1], 60, f});
        }
        adapters_.push_back(a);
    }
}

ULONG GlDirect3D::AddRef() { return ++refs_; }

ULONG GlDirect3D::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

UINT GlDirect3D::GetAdapterCount() { return static_cast<UINT>(adapters_.size()); }

HRESULT GlDirect3D::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER8* identifier) {
    if (adapter >= adapters_.size() || !identifier) return D3DERR_INVALIDCALL;
    *identifier = adapters_[adapter].identifier;
    return D3D_OK;
}

UINT GlDirect3D::GetAdapterModeCount(UINT adapter) {
    return adapter < adapters_.size() ? static_cast<UINT>(adapters_[adapter].modes.size()) : 0;
}

HRESULT GlDirect3D::EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) {
    if (adapter >= adapters_.size() || !displayMode || mode >= adapters_[adapter].modes.size()) {
        return D3DERR_INVALIDCALL;
    }
    *displayMode = adapters_[adapter].modes[mode];
    return D3D_OK;
}

void GlDirect3D::RefreshDesktop(UINT adapter) {
    GlAdapter& a = adapters_[adapter];
    if (a.sdlDisplay < 0) return;
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(a.sdlDisplay, &dm) == 0) {
        const D3DFORMAT f = FormatOfSdl(dm.format);
        a.desktop = {static_cast<UINT>(dm.w), static_cast<UINT>(dm.h), static_cast<UINT>(dm.refresh_rate),
                     f == D3DFMT_UNKNOWN ? D3DFMT_X8R8G8B8 : f};
    }
}

HRESULT GlDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) {
    if (adapter >= adapters_.size() || !displayMode) return D3DERR_INVALIDCALL;
    RefreshDesktop(adapter);
    *displayMode = adapters_[adapter].desktop;
    return D3D_OK;
}

bool GlDirect3D::IsDisplayFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5;
}

bool GlDirect3D::IsDepthFormatSupported(D3DFORMAT f) {
    // The depth-stencil buffer is 24-bit depth with 8-bit stencil; formats it can stand for.
    return f == D3DFMT_D24S8 || f == D3DFMT_D24X8 || f == D3DFMT_D16;
}

HRESULT GlDirect3D::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                    D3DFORMAT backBufferFormat, BOOL windowed) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(displayFormat)) return D3DERR_NOTAVAILABLE;
    const bool bbOk = backBufferFormat == displayFormat ||
                      (displayFormat == D3DFMT_X8R8G8B8 && backBufferFormat == D3DFMT_A8R8G8B8);
    if (!bbOk) return D3DERR_NOTAVAILABLE;
    if (windowed && displayFormat != adapters_[adapter].desktop.Format) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT GlDirect3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        return (resourceType == D3DRTYPE_SURFACE && IsDepthFormatSupported(checkFormat)) ? D3D_OK
                                                                                         : D3DERR_NOTAVAILABLE;
    }
    switch (checkFormat) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
            return D3D_OK;
        case D3DFMT_DXT1:
        case D3DFMT_DXT3:
        case D3DFMT_DXT5:
            return (resourceType == D3DRTYPE_TEXTURE && !(usage & D3DUSAGE_RENDERTARGET)) ? D3D_OK
                                                                                         : D3DERR_NOTAVAILABLE;
        default:
            return D3DERR_NOTAVAILABLE;
    }
}

HRESULT GlDirect3D::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL,
                                               D3DMULTISAMPLE_TYPE multiSampleType) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(surfaceFormat) && surfaceFormat != D3DFMT_A8R8G8B8) return D3DERR_NOTAVAILABLE;
    // The back buffer is single-sampled.
    return multiSampleType == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT GlDirect3D::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                           D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    if (adapter >= adapters_.size()) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(renderTargetFormat) && renderTargetFormat != D3DFMT_A8R8G8B8) return D3DERR_NOTAVAILABLE;
    return IsDepthFormatSupported(depthStencilFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT GlDirect3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) {
    if (adapter >= adapters_.size() || !caps) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    FillGlDeviceCaps(adapter, type, caps);
    return D3D_OK;
}

HRESULT GlDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                                 D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter >= adapters_.size() || !parameters) return D3DERR_INVALIDCALL;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_NOTAVAILABLE;
    const DWORD vp = behaviourFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                       D3DCREATE_MIXED_VERTEXPROCESSING);
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        vp != D3DCREATE_MIXED_VERTEXPROCESSING) {
        return D3DERR_INVALIDCALL;
    }
    GlDevice* created = nullptr;
    const HRESULT hr = GlDevice::Create(this, adapter, type, focusWindow, behaviourFlags, parameters, &created);
    if (FAILED(hr)) return hr;
    *device = created;
    return D3D_OK;
}
