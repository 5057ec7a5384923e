#pragma once
// Reader of DDS texture files: DXT1 (with its 3-colour mode), DXT3, DXT5 and
// uncompressed 16-, 24- and 32-bit colour with channel masks; mip levels as
// the file holds them. Every count and size is checked against the file's
// length; a damaged file gives an error text, never an over-read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/d3d_types.h"

struct DdsLevel {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint32_t> argb;  // decoded texels, rows top-down as in the file
    std::vector<std::uint8_t> raw;    // the level's bytes as stored (blocks for DXT)
};

struct DdsImage {
    D3DFORMAT format = D3DFMT_UNKNOWN;  // DXT1/3/5, or the nearest uncompressed format
    unsigned width = 0;
    unsigned height = 0;
    std::vector<DdsLevel> levels;  // at least one on success
};

// Parses and decodes a DDS file in memory. False with *error set when the data
// is not a DDS file, is damaged or truncated, or holds an unsupported format.
bool ReadDds(const std::uint8_t* data, std::size_t size, DdsImage* image, std::string* error);
