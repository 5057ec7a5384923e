#pragma once
// A small DDS writer for DXT1 and DXT3 textures made of flat 4x4 blocks: each
// block holds one 565 colour (so it decodes exactly); DXT3 adds an explicit
// 4-bit alpha per texel.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sample_data {

// A 565 colour.
struct Colour565 {
    std::uint16_t bits = 0;
    static Colour565 Nearest(int r, int g, int b);  // 0..255 channels
};

enum class DxtFormat { DXT1, DXT3 };

// Pattern of a square texture: colour at the centre of a block and, for
// DXT3, alpha 0..15 at the centre of a texel; u, v in 0..1, v down.
struct TexturePattern {
    std::function<Colour565(double u, double v)> colour;
    std::function<int(double u, double v)> alpha;  // empty: 15 everywhere
};

// The whole file: size x size texels (a power of two), levels mip levels
// (each half the previous side, down to 1), the pattern sampled anew per level.
std::vector<std::uint8_t> EncodeDds(DxtFormat format, unsigned size, unsigned levels, const TexturePattern& pattern);
bool WriteDds(const std::string& path, DxtFormat format, unsigned size, unsigned levels,
              const TexturePattern& pattern);

}  // namespace sample_data
