#pragma once
// Resources of the GL device. Each holds one reference on its device while it
// is alive, so a device with live resources does not reach a count of 0.
#include <atomic>
#include <vector>

#include "platform/gfx/d3d_device.h"

class GlDevice;

// Bytes of one row of a level (block rows for the compressed formats).
UINT FormatPitch(D3DFORMAT format, UINT width);
// Rows of a level (block rows for the compressed formats).
UINT FormatRows(D3DFORMAT format, UINT height);
UINT FormatBytesPerPixel(D3DFORMAT format);  // 0 for compressed formats
bool IsCompressedFormat(D3DFORMAT format);

// Back buffer 0; locking it reads the pixels back.
class GlBackBufferSurface final : public IDirect3DSurface8 {
public:
    GlBackBufferSurface(GlDevice* device, D3DFORMAT format);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

private:
    ~GlBackBufferSurface() override;
    std::atomic<ULONG> refs_{1};
    GlDevice* device_;
    D3DFORMAT format_;
    std::vector<std::uint32_t> pixels_;
    bool locked_ = false;
};

// A surface in system memory (image surfaces, texture levels).
class GlMemorySurface final : public IDirect3DSurface8 {
public:
    GlMemorySurface(GlDevice* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    D3DFORMAT Format() const { return format_; }
    const std::vector<BYTE>& Bytes() const { return bytes_; }
    // Set by UnlockRect: the GL copy must be refreshed before use.
    bool dirty = true;

private:
    ~GlMemorySurface() override;
    std::atomic<ULONG> refs_{1};
    GlDevice* device_;
    UINT width_, height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    std::vector<BYTE> bytes_;
    bool locked_ = false;
};

class GlTexture final : public IDirect3DTexture8 {
public:
    GlTexture(GlDevice* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface8** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    D3DFORMAT Format() const { return format_; }
    D3DPOOL Pool() const { return pool_; }
    GlMemorySurface* Level(UINT level) const { return level < levels_.size() ? levels_[level] : nullptr; }
    unsigned glName = 0;  // the GL texture, made by the drawing side

private:
    ~GlTexture() override;
    std::atomic<ULONG> refs_{1};
    GlDevice* device_;
    DWORD usage_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    std::vector<GlMemorySurface*> levels_;
};

class GlVertexBuffer final : public IDirect3DVertexBuffer8 {
public:
    GlVertexBuffer(GlDevice* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice8** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    const std::vector<BYTE>& Bytes() const { return bytes_; }
    bool Locked() const { return locked_; }

private:
    ~GlVertexBuffer() override;
    std::atomic<ULONG> refs_{1};
    GlDevice* device_;
    DWORD usage_;
    DWORD fvf_;
    D3DPOOL pool_;
    std::vector<BYTE> bytes_;
    bool locked_ = false;
};
