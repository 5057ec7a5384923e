#pragma once
// Text rasterisation for the texture font: a face found by name through
// fontconfig (so "Arial" resolves to its metric-compatible Liberation Sans),
// rendered by FreeType with anti-aliasing, white on black, into a 32-bit
// top-down pixel buffer that it owns.
#include <cstdint>
#include <memory>
#include <vector>

class GlyphRaster {
public:
    // pixelHeight is the character (em) height in pixels. Null when no face
    // can be found or loaded.
    static std::unique_ptr<GlyphRaster> Create(const char* faceName, int pixelHeight, bool bold, bool italic,
                                               int bufferWidth, int bufferHeight);
    ~GlyphRaster();
    GlyphRaster(const GlyphRaster&) = delete;
    GlyphRaster& operator=(const GlyphRaster&) = delete;

    // Extent of one character: its advance and the cell height (ascent + descent).
    void CharExtent(char c, int* cx, int* cy);
    // Paints the character's cell black at (x, y) (top-left) and draws the
    // glyph over it in white coverage; everything is clipped to the buffer.
    void DrawChar(int x, int y, char c);
    // 0x00RRGGBB pixels, rows top-down, width x height.
    const std::vector<std::uint32_t>& Pixels() const { return pixels_; }
    int Ascent() const { return ascent_; }
    int Descent() const { return descent_; }

private:
    GlyphRaster() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<std::uint32_t> pixels_;
    int width_ = 0;
    int height_ = 0;
    int ascent_ = 0;
    int descent_ = 0;
};
