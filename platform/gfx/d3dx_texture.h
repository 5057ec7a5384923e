#pragma once
// Texture loading from files and shader assembly, in the shape of the
// platform's utility library. Textures are read by our own DDS reader.
#include "platform/gfx/d3d_device.h"

constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;

constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
constexpr DWORD D3DX_FILTER_MIRROR_U = 0x00010000;
constexpr DWORD D3DX_FILTER_MIRROR_V = 0x00020000;
constexpr DWORD D3DX_FILTER_MIRROR_W = 0x00040000;
constexpr DWORD D3DX_FILTER_MIRROR = 0x00070000;
constexpr DWORD D3DX_FILTER_DITHER = 0x00080000;

constexpr HRESULT D3DXERR_INVALIDDATA = MakeD3DHResult(2905);

enum D3DXIMAGE_FILEFORMAT : std::int32_t { D3DXIFF_BMP = 0, D3DXIFF_JPG = 1, D3DXIFF_TGA = 2, D3DXIFF_PNG = 3, D3DXIFF_DDS = 4 };

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

struct PALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
};

class ID3DXBuffer {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;

protected:
    virtual ~ID3DXBuffer() = default;
};

// Loads a DDS file into a new texture. Width/height D3DX_DEFAULT (or 0): the
// file's size rounded up to powers of two; with D3DX_FILTER_NONE the image sits
// at the top-left and the padding is zero. Mip levels D3DX_DEFAULT (or 0): a
// full chain. Format D3DFMT_UNKNOWN: the file's. Levels come from the file
// where it has them at the right size, else from a 2x2 box filter of the level
// above. A colour key (non-zero) turns equal texels into transparent black.
// A missing, damaged or truncated file fails with a log line on stderr.
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                     PALETTEENTRY* palette, IDirect3DTexture8** texture);

// The same from a DDS file held in memory.
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            IDirect3DTexture8** texture);

// Vertex shaders are not used by this system: assembly always fails
// (E_NOTIMPL) and every output buffer is null.
HRESULT D3DXAssembleShaderFromFileA(const char* srcFile, DWORD flags, ID3DXBuffer** constants,
                                    ID3DXBuffer** compiledShader, ID3DXBuffer** errors);
