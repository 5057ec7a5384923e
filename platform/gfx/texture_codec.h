#pragma once
// Texel formats of the device in software: every supported format to and
// from 32-bit ARGB (0xAARRGGBB), including the DXT1/DXT3/DXT5 block formats.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/gfx/d3d_types.h"

// True when the format can be decoded and encoded here.
bool IsCodecFormat(D3DFORMAT format);

// One 4x4 block to 16 ARGB texels, row by row. DXT1 honours its 3-colour
// mode (index 3 is transparent black when colour 0 <= colour 1).
void DecodeDxtBlock(D3DFORMAT format, const std::uint8_t* block, std::uint32_t out[16]);
// 16 ARGB texels (row by row) to one block.
void EncodeDxtBlock(D3DFORMAT format, const std::uint32_t in[16], std::uint8_t* block);

std::uint32_t TexelToArgb(D3DFORMAT format, const std::uint8_t* texel);
void ArgbToTexel(D3DFORMAT format, std::uint32_t argb, std::uint8_t* texel);

// A whole level stored with the given row pitch (block rows for DXT) to
// width x height ARGB texels, and back. Return false for a format not handled.
bool DecodeLevel(D3DFORMAT format, unsigned width, unsigned height, const std::uint8_t* data, std::size_t pitch,
                 std::vector<std::uint32_t>* argb);
bool EncodeLevel(D3DFORMAT format, unsigned width, unsigned height, const std::uint32_t* argb, std::uint8_t* data,
                 std::size_t pitch);

// The next smaller level by a 2x2 box filter (a 1-texel side stays 1).
std::vector<std::uint32_t> BoxFilterHalf(const std::vector<std::uint32_t>& argb, unsigned width, unsigned height,
                                         unsigned* outWidth, unsigned* outHeight);
