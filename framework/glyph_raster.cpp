#include "framework/glyph_raster.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

struct GlyphRaster::Impl {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~Impl() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

namespace {

// The file and face index that fontconfig picks for a family name and style.
bool FindFace(const char* family, bool bold, bool italic, std::string* file, int* index) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return false;
    FcPattern* pattern = FcPatternCreate();
    bool found = false;
    if (pattern) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        if (match) {
            FcChar8* path = nullptr;
            int faceIndex = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
                *file = reinterpret_cast<const char*>(path);
                FcPatternGetInteger(match, FC_INDEX, 0, &faceIndex);
                *index = faceIndex;
                found = true;
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

}  // namespace

std::unique_ptr<GlyphRaster> GlyphRaster::Create(const char* faceName, int pixelHeight, bool bold, bool italic,
                                                 int bufferWidth, int bufferHeight) {
    if (!faceName || pixelHeight <= 0 || bufferWidth <= 0 || bufferHeight <= 0) return nullptr;
    std::string file;
    int index = 0;
    if (!FindFace(faceName, bold, italic, &file, &index)) {
        std::fprintf(stderr, "font: no face found for \"%s\"\n", faceName);
        return nullptr;
    }
    std::unique_ptr<GlyphRaster> raster(new GlyphRaster());
    raster->impl_ = std::make_unique<Impl>();
    Impl& impl = *raster->impl_;
    if (FT_Init_FreeType(&impl.library) != 0 || FT_New_Face(impl.library, file.c_str(), index, &impl.face) != 0 ||
        FT_Set_Pixel_Sizes(impl.face, 0, static_cast<FT_UInt>(pixelHeight)) != 0) {
        std::fprintf(stderr, "font: cannot load %s\n", file.c_str());
        return nullptr;  // Impl frees whatever was made
    }
    // Ascent and descent in whole pixels, as the face's size metrics give them.
    raster->ascent_ = static_cast<int>((impl.face->size->metrics.ascender + 63) >> 6);
    raster->descent_ = static_cast<int>((-impl.face->size->metrics.descender + 63) >> 6);
    raster->width_ = bufferWidth;
    raster->height_ = bufferHeight;
    raster->pixels_.assign(static_cast<size_t>(bufferWidth) * static_cast<size_t>(bufferHeight), 0);
    return raster;
}

GlyphRaster::~GlyphRaster() = default;

void GlyphRaster::CharExtent(char c, int* cx, int* cy) {
    *cx = 0;
    *cy = ascent_ + descent_;
    FT_Face face = impl_->face;
    if (FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_DEFAULT) != 0) return;
    *cx = static_cast<int>((face->glyph->advance.x + 32) >> 6);
}

void GlyphRaster::DrawChar(int x, int y, char c) {
    int cx = 0, cy = 0;
    CharExtent(c, &cx, &cy);
    // The opaque cell background.
    for (int py = std::max(0, y); py < std::min(height_, y + cy); ++py) {
        for (int px = std::max(0, x); px < std::min(width_, x + cx); ++px) {
            pixels_[static_cast<size_t>(py) * static_cast<size_t>(width_) + static_cast<size_t>(px)] = 0;
        }
    }
    FT_Face face = impl_->face;
    if (FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) return;
    const FT_Bitmap& bm = face->glyph->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || !bm.buffer) return;
    const int left = x + face->glyph->bitmap_left;
    const int top = y + ascent_ - face->glyph->bitmap_top;
    for (int row = 0; row < static_cast<int>(bm.rows); ++row) {
        const int py = top + row;
        if (py < 0 || py >= height_) continue;
        const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(row) * bm.pitch;
        for (int col = 0; col < static_cast<int>(bm.width); ++col) {
            const int px = left + col;
            if (px < 0 || px >= width_) continue;
            std::uint32_t& dst = pixels_[static_cast<size_t>(py) * static_cast<size_t>(width_) + static_cast<size_t>(px)];
            const std::uint32_t v = std::max<std::uint32_t>(dst & 0xFF, src[col]);
            dst = v << 16 | v << 8 | v;
        }
    }
}
