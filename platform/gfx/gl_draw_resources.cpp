// Resources of the GL device: memory-backed surfaces, textures and vertex
// buffers with Lock/Unlock. Uploading them to GL belongs to the drawing side.
#include <SDL2/SDL.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/gfx/gl_device.h"
#include "platform/gfx/gl_resources.h"

bool IsCompressedFormat(D3DFORMAT f) {
    return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

UINT FormatBytesPerPixel(D3DFORMAT f) {
    switch (f) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: return 4;
        case D3DFMT_R8G8B8: return 3;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8R3G3B2: return 2;
        case D3DFMT_A8:
        case D3DFMT_R3G3B2: return 1;
        default: return 0;
    }
}

UINT FormatPitch(D3DFORMAT f, UINT width) {
    if (IsCompressedFormat(f)) return std::max(1u, (width + 3) / 4) * (f == D3DFMT_DXT1 ? 8u : 16u);
    return width * FormatBytesPerPixel(f);
}

UINT FormatRows(D3DFORMAT f, UINT height) { return IsCompressedFormat(f) ? std::max(1u, (height + 3) / 4) : height; }

// ---------------------------------------------------------------- back buffer

GlBackBufferSurface::GlBackBufferSurface(GlDevice* device, D3DFORMAT format) : device_(device), format_(format) {
    device_->AddRef();
}
GlBackBufferSurface::~GlBackBufferSurface() { device_->Release(); }
ULONG GlBackBufferSurface::AddRef() { return ++refs_; }
ULONG GlBackBufferSurface::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}
HRESULT GlBackBufferSurface::GetDevice(IDirect3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}
HRESULT GlBackBufferSurface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = D3DUSAGE_RENDERTARGET;
    desc->Pool = D3DPOOL_DEFAULT;
    desc->Width = device_->BackBufferWidth();
    desc->Height = device_->BackBufferHeight();
    desc->Size = desc->Width * desc->Height * 4;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    return D3D_OK;
}
HRESULT GlBackBufferSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (!locked || locked_) return D3DERR_INVALIDCALL;
    if (!device_->ReadBackBuffer(&pixels_)) return D3DERR_INVALIDCALL;
    const LONG w = static_cast<LONG>(device_->BackBufferWidth()), h = static_cast<LONG>(device_->BackBufferHeight());
    LONG x = 0, y = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > w || rect->bottom > h || rect->left >= rect->right ||
            rect->top >= rect->bottom) {
            return D3DERR_INVALIDCALL;
        }
        x = rect->left;
        y = rect->top;
    }
    locked->Pitch = static_cast<int>(w * 4);
    locked->pBits = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
    locked_ = true;
    return D3D_OK;
}
HRESULT GlBackBufferSurface::UnlockRect() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

// ---------------------------------------------------------------- memory surface

GlMemorySurface::GlMemorySurface(GlDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool)
    : device_(device), width_(width), height_(height), format_(format), pool_(pool),
      bytes_(static_cast<size_t>(FormatPitch(format, width)) * FormatRows(format, height)) {
    device_->AddRef();
}
GlMemorySurface::~GlMemorySurface() { device_->Release(); }
ULONG GlMemorySurface::AddRef() { return ++refs_; }
ULONG GlMemorySurface::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}
HRESULT GlMemorySurface::GetDevice(IDirect3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}
HRESULT GlMemorySurface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = 0;
    desc->Pool = pool_;
    desc->Size = static_cast<UINT>(bytes_.size());
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->Width = width_;
    desc->Height = height_;
    return D3D_OK;
}
HRESULT GlMemorySurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (!locked || locked_) return D3DERR_INVALIDCALL;
    const UINT pitch = FormatPitch(format_, width_);
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(width_) ||
            rect->bottom > static_cast<LONG>(height_) || rect->left >= rect->right || rect->top >= rect->bottom) {
            return D3DERR_INVALIDCALL;
        }
        if (IsCompressedFormat(format_)) {
            if ((rect->left % 4) || (rect->top % 4)) return D3DERR_INVALIDCALL;
            offset = static_cast<size_t>(rect->top / 4) * pitch +
                     static_cast<size_t>(rect->left / 4) * (format_ == D3DFMT_DXT1 ? 8 : 16);
        } else {
            offset = static_cast<size_t>(rect->top) * pitch +
                     static_cast<size_t>(rect->left) * FormatBytesPerPixel(format_);
        }
    }
    locked->Pitch = static_cast<int>(pitch);
    locked->pBits = bytes_.data() + offset;
    locked_ = true;
    return D3D_OK;
}
HRESULT GlMemorySurface::UnlockRect() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    dirty = true;
    return D3D_OK;
}

// ---------------------------------------------------------------- texture

GlTexture::GlTexture(GlDevice* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                     D3DPOOL pool)
    : device_(device), usage_(usage), format_(format), pool_(pool) {
    device_->AddRef();
    if (pool_ == D3DPOOL_DEFAULT) device_->DefaultPoolResourceCreated();
    UINT w = width, h = height;
    for (UINT i = 0; i < levels; ++i) {
        levels_.push_back(new GlMemorySurface(device, w, h, format, pool));
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
}
GlTexture::~GlTexture() {
    if (glName != 0 && device_->MakeCurrent()) {
        GLuint name = glName;
        glDeleteTextures(1, &name);
        // GL unbinds a deleted texture, and its name may come back for a new one.
        for (unsigned& bound : device_->DrawState().boundTexture) {
            if (bound == name) bound = 0;
        }
    }
    for (auto* l : levels_) l->Release();
    if (pool_ == D3DPOOL_DEFAULT) device_->DefaultPoolResourceReleased();
    device_->Release();
}
ULONG GlTexture::AddRef() { return ++refs_; }
ULONG GlTexture::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}
HRESULT GlTexture::GetDevice(IDirect3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}
HRESULT GlTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level >= levels_.size() || !desc) return D3DERR_INVALIDCALL;
    levels_[level]->GetDesc(desc);
    desc->Type = D3DRTYPE_TEXTURE;
    desc->Usage = usage_;
    return D3D_OK;
}
HRESULT GlTexture::GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) {
    if (level >= levels_.size() || !surface) return D3DERR_INVALIDCALL;
    levels_[level]->AddRef();
    *surface = levels_[level];
    return D3D_OK;
}
HRESULT GlTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    return levels_[level]->LockRect(locked, rect, flags);
}
HRESULT GlTexture::UnlockRect(UINT level) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    return levels_[level]->UnlockRect();
}

// ---------------------------------------------------------------- vertex buffer

GlVertexBuffer::GlVertexBuffer(GlDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : device_(device), usage_(usage), fvf_(fvf), pool_(pool), bytes_(length) {
    device_->AddRef();
    if (pool_ == D3DPOOL_DEFAULT) device_->DefaultPoolResourceCreated();
}
GlVertexBuffer::~GlVertexBuffer() {
    if (pool_ == D3DPOOL_DEFAULT) device_->DefaultPoolResourceReleased();
    device_->Release();
}
ULONG GlVertexBuffer::AddRef() { return ++refs_; }
ULONG GlVertexBuffer::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}
HRESULT GlVertexBuffer::GetDevice(IDirect3DDevice8** device) {
    if (!device) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}
HRESULT GlVertexBuffer::Lock(UINT offset, UINT size, BYTE** data, DWORD) {
    if (!data || locked_) return D3DERR_INVALIDCALL;
    *data = nullptr;
    const size_t length = bytes_.size();
    if (offset > length) return D3DERR_INVALIDCALL;
    if (size != 0 && static_cast<size_t>(size) > length - offset) return D3DERR_INVALIDCALL;
    *data = bytes_.data() + offset;
    locked_ = true;
    return D3D_OK;
}
HRESULT GlVertexBuffer::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}
HRESULT GlVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = {D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage_, pool_, static_cast<UINT>(bytes_.size()), fvf_};
    return D3D_OK;
}

// ---------------------------------------------------------------- device creation calls

HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                IDirect3DTexture8** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return D3DERR_INVALIDCALL;
    if (FormatPitch(format, width) == 0) return D3DERR_INVALIDCALL;
    if (pool == D3DPOOL_MANAGED && (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL))) {
        return D3DERR_INVALIDCALL;
    }
    UINT full = 1;
    for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++full;
    const UINT count = (levels == 0 || levels > full) ? full : levels;
    *texture = new GlTexture(this, width, height, count, usage, format, pool);
    return D3D_OK;
}

HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     IDirect3DVertexBuffer8** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20)) return D3DERR_INVALIDCALL;
    *buffer = new GlVertexBuffer(this, length, usage, fvf, pool);
    return D3D_OK;
}

HRESULT GlDevice::CreateImageSurface(UINT width, UINT height, D3DFORMAT format, IDirect3DSurface8** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192 || FormatPitch(format, width) == 0) {
        return D3DERR_INVALIDCALL;
    }
    *surface = new GlMemorySurface(this, width, height, format, D3DPOOL_SYSTEMMEM);
    return D3D_OK;
}

namespace {
std::mutex g_cursorLock;
SDL_Cursor* g_deviceCursor = nullptr;
}  // namespace

// The cursor image becomes an SDL colour cursor (shown when a display exists).
HRESULT GlDevice::SetCursorProperties(UINT hotSpotX, UINT hotSpotY, IDirect3DSurface8* image) {
    if (!image) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    if (FAILED(image->GetDesc(&desc)) || desc.Format != D3DFMT_A8R8G8B8) return D3DERR_INVALIDCALL;
    if (hotSpotX >= desc.Width || hotSpotY >= desc.Height) return D3DERR_INVALIDCALL;
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return D3D_OK;  // no display: nothing to show
    D3DLOCKED_RECT lr{};
    if (FAILED(image->LockRect(&lr, nullptr, D3DLOCK_READONLY))) return D3DERR_INVALIDCALL;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, static_cast<int>(desc.Width),
                                                          static_cast<int>(desc.Height), 32, SDL_PIXELFORMAT_ARGB8888);
    if (surface) {
        for (UINT y = 0; y < desc.Height; ++y) {
            std::memcpy(static_cast<BYTE*>(surface->pixels) + static_cast<size_t>(y) * static_cast<size_t>(surface->pitch),
                        static_cast<const BYTE*>(lr.pBits) + static_cast<size_t>(y) * static_cast<size_t>(lr.Pitch),
                        desc.Width * 4);
        }
    }
    image->UnlockRect();
    if (!surface) return E_OUTOFMEMORY;
    SDL_Cursor* cursor = SDL_CreateColorCursor(surface, static_cast<int>(hotSpotX), static_cast<int>(hotSpotY));
    SDL_FreeSurface(surface);
    if (!cursor) return D3DERR_INVALIDCALL;
    std::lock_guard<std::mutex> lock(g_cursorLock);
    SDL_SetCursor(cursor);
    if (g_deviceCursor) SDL_FreeCursor(g_deviceCursor);
    g_deviceCursor = cursor;
    return D3D_OK;
}
