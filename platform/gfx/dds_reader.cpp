#include "platform/gfx/dds_reader.h"

#include <bit>
#include <cstring>

#include "platform/gfx/texture_codec.h"

namespace {

constexpr std::uint32_t kMagic = 0x20534444;  // "DDS "
constexpr std::size_t kHeaderBytes = 4 + 124;
constexpr std::uint32_t kFlagMipCount = 0x20000;
constexpr std::uint32_t kPixelAlpha = 0x1;
constexpr std::uint32_t kPixelFourCC = 0x4;
constexpr std::uint32_t kPixelRgb = 0x40;
constexpr std::uint32_t kCaps2CubeMap = 0x200;
constexpr std::uint32_t kCaps2Volume = 0x200000;
constexpr unsigned kMaxSide = 16384;

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Channel by mask, scaled to 8 bits.
unsigned Channel(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const std::uint32_t v = (pixel & mask) >> shift;
    const std::uint32_t max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    return static_cast<unsigned>((static_cast<std::uint64_t>(v) * 255 + max / 2) / max);
}

struct Masks {
    std::uint32_t r, g, b, a;
};

D3DFORMAT UncompressedFormat(unsigned bits, const Masks& m) {
    if (bits == 32) return m.a ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (bits == 24) return D3DFMT_X8R8G8B8;
    if (m.a == 0x8000 && m.r == 0x7C00) return D3DFMT_A1R5G5B5;
    if (m.a == 0xF000) return D3DFMT_A4R4G4B4;
    if (m.r == 0x7C00) return D3DFMT_X1R5G5B5;
    if (m.r == 0x0F00) return D3DFMT_X4R4G4B4;
    return D3DFMT_R5G6B5;
}

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool ReadDds(const std::uint8_t* data, std::size_t size, DdsImage* image, std::string* error) {
    *image = DdsImage{};
    if (!data || size < 4 || U32(data) != kMagic) return Fail(error, "not a DDS file");
    if (size < kHeaderBytes) return Fail(error, "truncated header");
    const std::uint8_t* h = data + 4;
    if (U32(h) != 124 || U32(h + 72) != 32) return Fail(error, "corrupt header sizes");
    const std::uint32_t flags = U32(h + 4);
    const unsigned height = U32(h + 8), width = U32(h + 12);
    const std::uint32_t mipField = U32(h + 24);
    const std::uint32_t pfFlags = U32(h + 76), fourCC = U32(h + 80), bitCount = U32(h + 84);
    const Masks masks{U32(h + 88), U32(h + 92), U32(h + 96), (pfFlags & kPixelAlpha) ? U32(h + 100) : 0u};
    const std::uint32_t caps2 = U32(h + 108);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        return Fail(error, "corrupt size " + std::to_string(width) + " x " + std::to_string(height));
    }
    if (caps2 & (kCaps2CubeMap | kCaps2Volume)) return Fail(error, "cube and volume textures are not supported");
    unsigned fullChain = 1;
    for (unsigned w = width, hh = height; w > 1 || hh > 1; w = w > 1 ? w / 2 : 1, hh = hh > 1 ? hh / 2 : 1) ++fullChain;
    unsigned levels = ((flags & kFlagMipCount) && mipField > 0) ? mipField : 1;
    if (levels > fullChain) return Fail(error, "corrupt mip count " + std::to_string(mipField));

    D3DFORMAT format = D3DFMT_UNKNOWN;
    unsigned pixelBytes = 0;
    if (pfFlags & kPixelFourCC) {
        if (fourCC == MakeFourCC('D', 'X', 'T', '1')) format = D3DFMT_DXT1;
        else if (fourCC == MakeFourCC('D', 'X', 'T', '3')) format = D3DFMT_DXT3;
        else if (fourCC == MakeFourCC('D', 'X', 'T', '5')) format = D3DFMT_DXT5;
        else return Fail(error, "unsupported compression");
    } else if (pfFlags & kPixelRgb) {
        if (bitCount != 16 && bitCount != 24 && bitCount != 32) {
            return Fail(error, "unsupported bit count " + std::to_string(bitCount));
        }
        if (masks.r == 0 || masks.g == 0 || masks.b == 0) return Fail(error, "corrupt channel masks");
        if (bitCount < 32) {
            const std::uint32_t limit = (1u << bitCount) - 1;
            if ((masks.r | masks.g | masks.b | masks.a) > limit) return Fail(error, "corrupt channel masks");
        }
        pixelBytes = bitCount / 8;
        format = UncompressedFormat(bitCount, masks);
    } else {
        return Fail(error, "unsupported pixel format");
    }

    image->format = format;
    image->width = width;
    image->height = height;
    std::size_t offset = kHeaderBytes;
    unsigned w = width, hh = height;
    for (unsigned level = 0; level < levels; ++level) {
        DdsLevel out;
        out.width = w;
        out.height = hh;
        std::size_t pitch, rows;
        if (pixelBytes == 0) {
            pitch = static_cast<std::size_t>((w + 3) / 4) * (format == D3DFMT_DXT1 ? 8 : 16);
            rows = (hh + 3) / 4;
        } else {
            pitch = static_cast<std::size_t>(w) * pixelBytes;
            rows = hh;
        }
        const std::size_t bytes = pitch * rows;
        if (offset > size || size - offset < bytes) {
            *image = DdsImage{};
            return Fail(error, "truncated at level " + std::to_string(level) + " (" + std::to_string(size) +
                                   " bytes, level needs " + std::to_string(bytes) + " from offset " +
                                   std::to_string(offset) + ")");
        }
        const std::uint8_t* src = data + offset;
        out.raw.assign(src, src + bytes);
        if (pixelBytes == 0) {
            DecodeLevel(format, w, hh, src, pitch, &out.argb);
        } else {
            out.argb.resize(static_cast<std::size_t>(w) * hh);
            for (unsigned y = 0; y < hh; ++y) {
                for (unsigned x = 0; x < w; ++x) {
                    const std::uint8_t* p = src + y * pitch + static_cast<std::size_t>(x) * pixelBytes;
                    std::uint32_t v = 0;
                    for (unsigned k = 0; k < pixelBytes; ++k) v |= static_cast<std::uint32_t>(p[k]) << (8 * k);
                    const unsigned a = masks.a ? Channel(v, masks.a) : 255;
                    out.argb[static_cast<std::size_t>(y) * w + x] =
                        a << 24 | Channel(v, masks.r) << 16 | Channel(v, masks.g) << 8 | Channel(v, masks.b);
                }
            }
        }
        image->levels.push_back(std::move(out));
        offset += bytes;
        w = w > 1 ? w / 2 : 1;
        hh = hh > 1 ? hh / 2 : 1;
    }
    return true;
}
