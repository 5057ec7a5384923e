#include "platform/gfx/texture_codec.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
    return (a & 0xFFu) << 24 | (r & 0xFFu) << 16 | (g & 0xFFu) << 8 | (b & 0xFFu);
}
unsigned A(std::uint32_t c) { return c >> 24; }
unsigned R(std::uint32_t c) { return (c >> 16) & 0xFF; }
unsigned G(std::uint32_t c) { return (c >> 8) & 0xFF; }
unsigned B(std::uint32_t c) { return c & 0xFF; }

unsigned Expand(unsigned v, int bits) {
    switch (bits) {
        case 1: return v ? 255 : 0;
        case 4: return v * 17;
        case 5: return (v << 3) | (v >> 2);
        case 6: return (v << 2) | (v >> 4);
        default: return v;
    }
}
unsigned Quantise(unsigned v, int bits) {
    const unsigned max = (1u << bits) - 1;
    return (v * max + 127) / 255;
}

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void Write16(std::uint8_t* p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t From565(unsigned c) {
    return Argb(255, Expand((c >> 11) & 31, 5), Expand((c >> 5) & 63, 6), Expand(c & 31, 5));
}
unsigned To565(std::uint32_t c) { return Quantise(R(c), 5) << 11 | Quantise(G(c), 6) << 5 | Quantise(B(c), 5); }

// The four colours a block's endpoints stand for.
void ColourPalette(unsigned c0, unsigned c1, bool allowThreeColour, std::uint32_t pal[4]) {
    pal[0] = From565(c0);
    pal[1] = From565(c1);
    if (c0 > c1 || !allowThreeColour) {
        pal[2] = Argb(255, (2 * R(pal[0]) + R(pal[1])) / 3, (2 * G(pal[0]) + G(pal[1])) / 3,
                      (2 * B(pal[0]) + B(pal[1])) / 3);
        pal[3] = Argb(255, (R(pal[0]) + 2 * R(pal[1])) / 3, (G(pal[0]) + 2 * G(pal[1])) / 3,
                      (B(pal[0]) + 2 * B(pal[1])) / 3);
    } else {
        pal[2] = Argb(255, (R(pal[0]) + R(pal[1])) / 2, (G(pal[0]) + G(pal[1])) / 2, (B(pal[0]) + B(pal[1])) / 2);
        pal[3] = 0;  // transparent black
    }
}

// Colour part of a block: 2 endpoints and 32 bits of 2-bit indices.
void DecodeColour(const std::uint8_t* p, bool allowThreeColour, std::uint32_t out[16]) {
    std::uint32_t pal[4];
    ColourPalette(Read16(p), Read16(p + 2), allowThreeColour, pal);
    const std::uint32_t bits = static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
                               static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 24;
    for (int i = 0; i < 16; ++i) out[i] = pal[(bits >> (2 * i)) & 3];
}

int Distance(std::uint32_t a, std::uint32_t b) {
    const int dr = static_cast<int>(R(a)) - static_cast<int>(R(b));
    const int dg = static_cast<int>(G(a)) - static_cast<int>(G(b));
    const int db = static_cast<int>(B(a)) - static_cast<int>(B(b));
    return dr * dr + dg * dg + db * db;
}

// Endpoints: the two texels that count and lie farthest apart; nearest indices.
void EncodeColour(const std::uint32_t in[16], bool dxt1Alpha, std::uint8_t* p) {
    bool transparent = false;
    int counted[16];
    int n = 0;
    for (int i = 0; i < 16; ++i) {
        if (dxt1Alpha && A(in[i]) < 128) {
            transparent = true;
        } else {
            counted[n++] = i;
        }
    }
    std::uint32_t end0 = 0, end1 = 0;
    if (n > 0) {
        end0 = end1 = in[counted[0]];
        int best = -1;
        for (int a = 0; a < n; ++a) {
            for (int b = a; b < n; ++b) {
                const int d = Distance(in[counted[a]], in[counted[b]]);
                if (d > best) {
                    best = d;
                    end0 = in[counted[a]];
                    end1 = in[counted[b]];
                }
            }
        }
    }
    unsigned e0 = To565(end0);
    unsigned e1 = To565(end1);
    if (transparent) {
        if (e0 > e1) std::swap(e0, e1);  // 3-colour mode: colour 0 <= colour 1
    } else if (e0 < e1) {
        std::swap(e0, e1);
    } else if (e0 == e1) {
        // One colour: 4-colour mode needs colour 0 > colour 1.
        if (e0 > 0) {
            e1 = e0 - 1;
        } else {
            e0 = 1;
        }
    }
    Write16(p, e0);
    Write16(p + 2, e1);
    std::uint32_t entries[4];
    ColourPalette(e0, e1, true, entries);
    std::uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        unsigned best = 0;
        if (transparent && A(in[i]) < 128) {
            best = 3;
        } else {
            int bestD = 1 << 30;
            const unsigned count = transparent ? 3 : 4;
            for (unsigned k = 0; k < count; ++k) {
                const int d = Distance(in[i], entries[k]);
                if (d < bestD) {
                    bestD = d;
                    best = k;
                }
            }
        }
        bits |= best << (2 * i);
    }
    p[4] = static_cast<std::uint8_t>(bits);
    p[5] = static_cast<std::uint8_t>(bits >> 8);
    p[6] = static_cast<std::uint8_t>(bits >> 16);
    p[7] = static_cast<std::uint8_t>(bits >> 24);
}

void Dxt5AlphaPalette(unsigned a0, unsigned a1, unsigned pal[8]) {
    pal[0] = a0;
    pal[1] = a1;
    if (a0 > a1) {
        for (unsigned i = 1; i <= 6; ++i) pal[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (unsigned i = 1; i <= 4; ++i) pal[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        pal[6] = 0;
        pal[7] = 255;
    }
}

}  // namespace

bool IsCodecFormat(D3DFORMAT f) {
    switch (f) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
        case D3DFMT_R8G8B8:
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
        case D3DFMT_A8:
        case D3DFMT_DXT1:
        case D3DFMT_DXT3:
        case D3DFMT_DXT5: return true;
        default: return false;
    }
}

void DecodeDxtBlock(D3DFORMAT format, const std::uint8_t* block, std::uint32_t out[16]) {
    if (format == D3DFMT_DXT1) {
        DecodeColour(block, true, out);
        return;
    }
    DecodeColour(block + 8, false, out);
    if (format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) {
            const unsigned nibble = (block[i / 2] >> (4 * (i & 1))) & 0xF;
            out[i] = (out[i] & 0x00FFFFFFu) | (nibble * 17) << 24;
        }
        return;
    }
    unsigned pal[8];
    Dxt5AlphaPalette(block[0], block[1], pal);
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= static_cast<std::uint64_t>(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) {
        out[i] = (out[i] & 0x00FFFFFFu) | pal[(bits >> (3 * i)) & 7] << 24;
    }
}

void EncodeDxtBlock(D3DFORMAT format, const std::uint32_t in[16], std::uint8_t* block) {
    if (format == D3DFMT_DXT1) {
        EncodeColour(in, true, block);
        return;
    }
    std::uint32_t opaque[16];
    for (int i = 0; i < 16; ++i) opaque[i] = in[i] | 0xFF000000u;
    EncodeColour(opaque, false, block + 8);
    if (format == D3DFMT_DXT3) {
        std::memset(block, 0, 8);
        for (int i = 0; i < 16; ++i) block[i / 2] |= static_cast<std::uint8_t>(Quantise(A(in[i]), 4) << (4 * (i & 1)));
        return;
    }
    unsigned hi = 0, lo = 255;
    for (int i = 0; i < 16; ++i) {
        hi = std::max(hi, A(in[i]));
        lo = std::min(lo, A(in[i]));
    }
    const unsigned a0 = hi, a1 = lo;  // equal ends: index 0 is exact
    block[0] = static_cast<std::uint8_t>(a0);
    block[1] = static_cast<std::uint8_t>(a1);
    unsigned pal[8];
    Dxt5AlphaPalette(a0, a1, pal);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        unsigned best = 0;
        int bestD = 1 << 30;
        for (unsigned k = 0; k < 8; ++k) {
            const int d = std::abs(static_cast<int>(pal[k]) - static_cast<int>(A(in[i])));
            if (d < bestD) {
                bestD = d;
                best = k;
            }
        }
        bits |= static_cast<std::uint64_t>(best) << (3 * i);
    }
    for (int i = 0; i < 6; ++i) block[2 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::uint32_t TexelToArgb(D3DFORMAT f, const std::uint8_t* t) {
    switch (f) {
        case D3DFMT_A8R8G8B8: return Argb(t[3], t[2], t[1], t[0]);
        case D3DFMT_X8R8G8B8: return Argb(255, t[2], t[1], t[0]);
        case D3DFMT_R8G8B8: return Argb(255, t[2], t[1], t[0]);
        case D3DFMT_R5G6B5: return From565(Read16(t));
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5: {
            const unsigned v = Read16(t);
            return Argb(f == D3DFMT_A1R5G5B5 ? Expand(v >> 15, 1) : 255, Expand((v >> 10) & 31, 5),
                        Expand((v >> 5) & 31, 5), Expand(v & 31, 5));
        }
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4: {
            const unsigned v = Read16(t);
            return Argb(f == D3DFMT_A4R4G4B4 ? Expand(v >> 12, 4) : 255, Expand((v >> 8) & 15, 4),
                        Expand((v >> 4) & 15, 4), Expand(v & 15, 4));
        }
        case D3DFMT_A8: return Argb(t[0], 0, 0, 0);
        default: return 0;
    }
}

void ArgbToTexel(D3DFORMAT f, std::uint32_t c, std::uint8_t* t) {
    switch (f) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            t[0] = static_cast<std::uint8_t>(B(c));
            t[1] = static_cast<std::uint8_t>(G(c));
            t[2] = static_cast<std::uint8_t>(R(c));
            t[3] = static_cast<std::uint8_t>(f == D3DFMT_A8R8G8B8 ? A(c) : 255);
            break;
        case D3DFMT_R8G8B8:
            t[0] = static_cast<std::uint8_t>(B(c));
            t[1] = static_cast<std::uint8_t>(G(c));
            t[2] = static_cast<std::uint8_t>(R(c));
            break;
        case D3DFMT_R5G6B5: Write16(t, To565(c)); break;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
            Write16(t, (f == D3DFMT_A1R5G5B5 ? (A(c) >= 128 ? 1u : 0u) : 1u) << 15 | Quantise(R(c), 5) << 10 |
                           Quantise(G(c), 5) << 5 | Quantise(B(c), 5));
            break;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
            Write16(t, (f == D3DFMT_A4R4G4B4 ? Quantise(A(c), 4) : 15u) << 12 | Quantise(R(c), 4) << 8 |
                           Quantise(G(c), 4) << 4 | Quantise(B(c), 4));
            break;
        case D3DFMT_A8: t[0] = static_cast<std::uint8_t>(A(c)); break;
        default: break;
    }
}

namespace {
unsigned TexelBytes(D3DFORMAT f) {
    switch (f) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8: return 4;
        case D3DFMT_R8G8B8: return 3;
        case D3DFMT_A8: return 1;
        default: return 2;
    }
}
bool IsDxt(D3DFORMAT f) { return f == D3DFMT_DXT1 || f == D3DFMT_DXT3 || f == D3DFMT_DXT5; }
}  // namespace

bool DecodeLevel(D3DFORMAT f, unsigned width, unsigned height, const std::uint8_t* data, std::size_t pitch,
                 std::vector<std::uint32_t>* argb) {
    if (!IsCodecFormat(f)) return false;
    argb->assign(static_cast<std::size_t>(width) * height, 0);
    if (IsDxt(f)) {
        const unsigned blockBytes = f == D3DFMT_DXT1 ? 8 : 16;
        std::uint32_t texels[16];
        for (unsigned by = 0; by < (height + 3) / 4; ++by) {
            for (unsigned bx = 0; bx < (width + 3) / 4; ++bx) {
                DecodeDxtBlock(f, data + by * pitch + bx * blockBytes, texels);
                for (unsigned y = 0; y < 4; ++y) {
                    for (unsigned x = 0; x < 4; ++x) {
                        const unsigned px = bx * 4 + x, py = by * 4 + y;
                        if (px < width && py < height) (*argb)[static_cast<std::size_t>(py) * width + px] = texels[y * 4 + x];
                    }
                }
            }
        }
        return true;
    }
    const unsigned bytes = TexelBytes(f);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            (*argb)[static_cast<std::size_t>(y) * width + x] = TexelToArgb(f, data + y * pitch + x * bytes);
        }
    }
    return true;
}

bool EncodeLevel(D3DFORMAT f, unsigned width, unsigned height, const std::uint32_t* argb, std::uint8_t* data,
                 std::size_t pitch) {
    if (!IsCodecFormat(f)) return false;
    if (IsDxt(f)) {
        const unsigned blockBytes = f == D3DFMT_DXT1 ? 8 : 16;
        std::uint32_t texels[16];
        for (unsigned by = 0; by < (height + 3) / 4; ++by) {
            for (unsigned bx = 0; bx < (width + 3) / 4; ++bx) {
                for (unsigned y = 0; y < 4; ++y) {
                    for (unsigned x = 0; x < 4; ++x) {
                        // Texels past the edge repeat the last one inside.
                        const unsigned px = std::min(bx * 4 + x, width - 1), py = std::min(by * 4 + y, height - 1);
                        texels[y * 4 + x] = argb[static_cast<std::size_t>(py) * width + px];
                    }
                }
                EncodeDxtBlock(f, texels, data + by * pitch + bx * blockBytes);
            }
        }
        return true;
    }
    const unsigned bytes = TexelBytes(f);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            ArgbToTexel(f, argb[static_cast<std::size_t>(y) * width + x], data + y * pitch + x * bytes);
        }
    }
    return true;
}

std::vector<std::uint32_t> BoxFilterHalf(const std::vector<std::uint32_t>& in, unsigned w, unsigned h,
                                         unsigned* outW, unsigned* outH) {
    const unsigned nw = std::max(1u, w / 2), nh = std::max(1u, h / 2);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(nw) * nh);
    for (unsigned y = 0; y < nh; ++y) {
        for (unsigned x = 0; x < nw; ++x) {
            const unsigned x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
            const unsigned y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
            const std::uint32_t p[4] = {in[static_cast<std::size_t>(y0) * w + x0], in[static_cast<std::size_t>(y0) * w + x1],
                                        in[static_cast<std::size_t>(y1) * w + x0], in[static_cast<std::size_t>(y1) * w + x1]};
            unsigned sum[4] = {0, 0, 0, 0};
            for (std::uint32_t c : p) {
                sum[0] += A(c);
                sum[1] += R(c);
                sum[2] += G(c);
                sum[3] += B(c);
            }
            out[static_cast<std::size_t>(y) * nw + x] = Argb((sum[0] + 2) / 4, (sum[1] + 2) / 4, (sum[2] + 2) / 4, (sum[3] + 2) / 4);
        }
    }
    *outW = nw;
    *outH = nh;
    return out;
}
