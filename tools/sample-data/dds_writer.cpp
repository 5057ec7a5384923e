#include "tools/sample-data/dds_writer.h"

#include <algorithm>
#include <fstream>

namespace sample_data {

Colour565 Colour565::Nearest(int r, int g, int b)
{
    auto q = [](int c, int max) { return (std::clamp(c, 0, 255) * max + 127) / 255; };
    return {static_cast<std::uint16_t>(q(r, 31) << 11 | q(g, 63) << 5 | q(b, 31))};
}

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

constexpr std::uint32_t kFlagsCaps = 0x1, kFlagsHeight = 0x2, kFlagsWidth = 0x4, kFlagsPixelFormat = 0x1000,
                        kFlagsMipCount = 0x20000, kFlagsLinearSize = 0x80000;
constexpr std::uint32_t kPixelFourCC = 0x4;
constexpr std::uint32_t kCapsComplex = 0x8, kCapsTexture = 0x1000, kCapsMipMap = 0x400000;

}  // namespace

std::vector<std::uint8_t> EncodeDds(DxtFormat format, unsigned size, unsigned levels, const TexturePattern& pattern)
{
    const bool dxt3 = format == DxtFormat::DXT3;
    const unsigned blockBytes = dxt3 ? 16 : 8;
    auto levelBytes = [&](unsigned side) { return std::max(1u, side / 4) * std::max(1u, side / 4) * blockBytes; };

    std::vector<std::uint8_t> out;
    Put32(out, 0x20534444);  // "DDS "
    Put32(out, 124);
    Put32(out, kFlagsCaps | kFlagsHeight | kFlagsWidth | kFlagsPixelFormat | kFlagsLinearSize |
                   (levels > 1 ? kFlagsMipCount : 0));
    Put32(out, size);
    Put32(out, size);
    Put32(out, levelBytes(size));
    Put32(out, 0);
    Put32(out, levels);
    for (int i = 0; i < 11; ++i) Put32(out, 0);
    Put32(out, 32);
    Put32(out, kPixelFourCC);
    Put32(out, dxt3 ? 0x33545844 : 0x31545844);  // "DXT3" / "DXT1"
    for (int i = 0; i < 5; ++i) Put32(out, 0);
    Put32(out, kCapsTexture | (levels > 1 ? kCapsComplex | kCapsMipMap : 0));
    for (int i = 0; i < 4; ++i) Put32(out, 0);

    for (unsigned level = 0, side = size; level < levels; ++level, side = std::max(1u, side / 2)) {
        const unsigned blocks = std::max(1u, side / 4), span = std::min(4u, side);
        for (unsigned by = 0; by < blocks; ++by) {
            for (unsigned bx = 0; bx < blocks; ++bx) {
                if (dxt3) {
                    // Texel i of the block in nibble i, low nibble first.
                    for (unsigned i = 0; i < 16; i += 2) {
                        int a[2] = {15, 15};
                        for (unsigned k = 0; k < 2; ++k) {
                            unsigned x = bx * 4 + (i + k) % 4, y = by * 4 + (i + k) / 4;
                            if (pattern.alpha && x < side && y < side) {
                                a[k] = std::clamp(pattern.alpha((x + 0.5) / side, (y + 0.5) / side), 0, 15);
                            }
                        }
                        out.push_back(static_cast<std::uint8_t>(a[0] | a[1] << 4));
                    }
                }
                Colour565 c = pattern.colour((bx * 4 + span / 2.0) / side, (by * 4 + span / 2.0) / side);
                Put16(out, c.bits);  // colour 0; every index 0
                Put16(out, 0);
                Put32(out, 0);
            }
        }
    }
    return out;
}

bool WriteDds(const std::string& path, DxtFormat format, unsigned size, unsigned levels,
              const TexturePattern& pattern)
{
    std::vector<std::uint8_t> bytes = EncodeDds(format, size, levels, pattern);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace sample_data
