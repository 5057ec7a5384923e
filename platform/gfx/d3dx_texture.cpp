#include "platform/gfx/d3dx_texture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gfx/dds_reader.h"
#include "platform/gfx/texture_codec.h"
#include "platform/sys/paths.h"

namespace {

unsigned NextPowerOfTwo(unsigned v) {
    unsigned p = 1;
    while (p < v && p < (1u << 30)) p <<= 1;
    return p;
}

// Places or scales the source into a width x height level.
std::vector<std::uint32_t> FitLevel(const DdsLevel& src, unsigned width, unsigned height, DWORD filter) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height, 0);
    if ((filter & 0xFF) == D3DX_FILTER_NONE) {
        const unsigned w = std::min(width, src.width), h = std::min(height, src.height);
        for (unsigned y = 0; y < h; ++y) {
            std::memcpy(out.data() + static_cast<std::size_t>(y) * width, src.argb.data() + static_cast<std::size_t>(y) * src.width,
                        w * sizeof(std::uint32_t));
        }
        return out;
    }
    // Scaling: each target texel takes the source texel under its centre.
    for (unsigned y = 0; y < height; ++y) {
        const unsigned sy = std::min(src.height - 1, static_cast<unsigned>((y + 0.5) * src.height / height));
        for (unsigned x = 0; x < width; ++x) {
            const unsigned sx = std::min(src.width - 1, static_cast<unsigned>((x + 0.5) * src.width / width));
            out[static_cast<std::size_t>(y) * width + x] = src.argb[static_cast<std::size_t>(sy) * src.width + sx];
        }
    }
    return out;
}

HRESULT LoadFromMemory(IDirect3DDevice8* device, const std::uint8_t* data, std::size_t size, const char* name,
                       UINT width, UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                       DWORD filter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info, IDirect3DTexture8** texture) {
    DdsImage image;
    std::string error;
    if (!ReadDds(data, size, &image, &error)) {
        std::fprintf(stderr, "texture load failed: %s: %s\n", name, error.c_str());
        return D3DXERR_INVALIDDATA;
    }
    if (info) {
        *info = {image.width, image.height, 1, static_cast<UINT>(image.levels.size()), image.format,
                 D3DRTYPE_TEXTURE, D3DXIFF_DDS};
    }
    const UINT w = (width == D3DX_DEFAULT || width == 0) ? NextPowerOfTwo(image.width) : width;
    const UINT h = (height == D3DX_DEFAULT || height == 0) ? NextPowerOfTwo(image.height) : height;
    const D3DFORMAT target = format == D3DFMT_UNKNOWN ? image.format : format;
    if (!IsCodecFormat(target)) {
        std::fprintf(stderr, "texture load failed: %s: format %d cannot be written\n", name, static_cast<int>(target));
        return D3DERR_INVALIDCALL;
    }
    const UINT levels = mipLevels == D3DX_DEFAULT ? 0 : mipLevels;
    IDirect3DTexture8* tex = nullptr;
    HRESULT hr = device->CreateTexture(w, h, levels, usage, target, pool, &tex);
    if (FAILED(hr)) {
        std::fprintf(stderr, "texture load failed: %s: cannot create a %u x %u texture\n", name, w, h);
        return hr;
    }
    const bool sameSize = w == image.width && h == image.height;
    std::vector<std::uint32_t> current;
    unsigned cw = 0, ch = 0;
    const DWORD count = tex->GetLevelCount();
    for (DWORD level = 0; level < count; ++level) {
        D3DSURFACE_DESC desc{};
        tex->GetLevelDesc(level, &desc);
        const DdsLevel* fileLevel = (sameSize && level < image.levels.size()) ? &image.levels[level] : nullptr;
        if (fileLevel && fileLevel->width == desc.Width && fileLevel->height == desc.Height) {
            current = fileLevel->argb;
            cw = desc.Width;
            ch = desc.Height;
        } else if (level == 0) {
            current = FitLevel(image.levels[0], desc.Width, desc.Height, filter);
            cw = desc.Width;
            ch = desc.Height;
            fileLevel = nullptr;
        } else {
            current = BoxFilterHalf(current, cw, ch, &cw, &ch);
            fileLevel = nullptr;
        }
        if (colorKey != 0) {
            for (auto& c : current) {
                if (c == colorKey) c = 0;
            }
        }
        D3DLOCKED_RECT lr{};
        hr = tex->LockRect(level, &lr, nullptr, 0);
        if (FAILED(hr) || !lr.pBits) {
            std::fprintf(stderr, "texture load failed: %s: level %u cannot be locked\n", name, static_cast<unsigned>(level));
            tex->Release();
            return FAILED(hr) ? hr : E_FAIL;
        }
        auto* dst = static_cast<std::uint8_t*>(lr.pBits);
        if (fileLevel && colorKey == 0 && target == image.format &&
            (target == D3DFMT_DXT1 || target == D3DFMT_DXT3 || target == D3DFMT_DXT5)) {
            // The file's blocks as they are, row by row in file order.
            const std::size_t rowBytes = static_cast<std::size_t>((desc.Width + 3) / 4) * (target == D3DFMT_DXT1 ? 8 : 16);
            const std::size_t rows = (desc.Height + 3) / 4;
            for (std::size_t r = 0; r < rows; ++r) {
                std::memcpy(dst + r * static_cast<std::size_t>(lr.Pitch), fileLevel->raw.data() + r * rowBytes, rowBytes);
            }
        } else {
            EncodeLevel(target, cw, ch, current.data(), dst, static_cast<std::size_t>(lr.Pitch));
        }
        tex->UnlockRect(level);
    }
    *texture = tex;
    return D3D_OK;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice8* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format,
                                            D3DPOOL pool, DWORD filter, DWORD, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*, IDirect3DTexture8** texture) {
    if (!device || !data || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    return LoadFromMemory(device, static_cast<const std::uint8_t*>(data), size, "(memory)", width, height,
                          mipLevels, usage, format, pool, filter, colorKey, srcInfo, texture);
}

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice8* device, const char* srcFile, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, PALETTEENTRY*,
                                     IDirect3DTexture8** texture) {
    if (!device || !srcFile || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    const std::string path = ResolvePath(srcFile);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "texture load failed: %s: file not found\n", srcFile);
        return D3DERR_NOTFOUND;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > (512u << 20)) break;
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        std::fprintf(stderr, "texture load failed: %s: read error\n", srcFile);
        return D3DXERR_INVALIDDATA;
    }
    return LoadFromMemory(device, bytes.data(), bytes.size(), srcFile, width, height, mipLevels, usage, format, pool,
                          filter, colorKey, srcInfo, texture);
}

HRESULT D3DXAssembleShaderFromFileA(const char*, DWORD, ID3DXBuffer** constants, ID3DXBuffer** compiledShader,
                                    ID3DXBuffer** errors) {
    if (constants) *constants = nullptr;
    if (compiledShader) *compiledShader = nullptr;
    if (errors) *errors = nullptr;
    return E_NOTIMPL;
}
