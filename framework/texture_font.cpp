#include "framework/texture_font.h"

#include <cstdio>
#include <cstring>

#include "framework/glyph_raster.h"

namespace {

constexpr UINT kVertexBufferBytes = 8400;  // 300 screen vertices
constexpr UINT kScreenBatchVertices = 294;
constexpr UINT kMeshVertices = kVertexBufferBytes / sizeof(MeshVertex);  // 262
constexpr int kLogPixelsY = 96;

// a x b / c, rounded half away from zero.
int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const long long p = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const long long q = p >= 0 ? (p + half) / c : (p - half) / c;
    return static_cast<int>(q);
}

// Reads the text's bytes as the signed characters they are.
int Code(char c) { return static_cast<signed char>(c); }

}  // namespace

ScreenVertex MakeScreenVertex(float x, float y, float z, float rhw, D3DCOLOR colour, float tu, float tv) {
    return ScreenVertex{x, y, z, rhw, colour, tu, tv};
}

MeshVertex MakeMeshVertex(const D3DXVECTOR3& position, const D3DXVECTOR3& normal, float tu, float tv) {
    return MeshVertex{position, normal, tu, tv};
}

TextureFont::TextureFont(const char* faceName, DWORD height, DWORD flags) : height_(height), flags_(flags) {
    std::memset(faceName_, 0, sizeof(faceName_));
    if (faceName) std::strncpy(faceName_, faceName, sizeof(faceName_) - 1);
    std::memset(glyphs_, 0, sizeof(glyphs_));
}

TextureFont::~TextureFont() {
    ReleaseBuffers();  // needs the device that ReleaseAtlas forgets
    ReleaseAtlas();
}

HRESULT TextureFont::BuildGlyphAtlas(IDirect3DDevice8* device) {
    device_ = device;
    textScale_ = 1.0f;
    if (!device) return E_FAIL;
    if (height_ > 40) {
        atlasWidth_ = atlasHeight_ = 1024;
    } else if (height_ > 20) {
        atlasWidth_ = atlasHeight_ = 512;
    } else {
        atlasWidth_ = atlasHeight_ = 256;
    }
    D3DCAPS8 caps{};
    device->GetDeviceCaps(&caps);
    if (caps.MaxTextureWidth != 0 && atlasWidth_ > caps.MaxTextureWidth) {
        textScale_ = static_cast<float>(caps.MaxTextureWidth) / static_cast<float>(atlasWidth_);
        atlasWidth_ = atlasHeight_ = caps.MaxTextureWidth;
    }
    if (atlas_) {
        atlas_->Release();
        atlas_ = nullptr;
    }
    HRESULT hr = device->CreateTexture(atlasWidth_, atlasHeight_, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &atlas_);
    if (FAILED(hr)) {
        atlas_ = nullptr;
        return hr;
    }
    // The atlas starts fully transparent, whatever happens below.
    D3DLOCKED_RECT lr{};
    hr = atlas_->LockRect(0, &lr, nullptr, 0);
    if (SUCCEEDED(hr) && lr.pBits) {
        for (DWORD y = 0; y < atlasHeight_; ++y) {
            std::memset(static_cast<BYTE*>(lr.pBits) + static_cast<size_t>(y) * static_cast<size_t>(lr.Pitch), 0,
                        atlasWidth_ * 2);
        }
        atlas_->UnlockRect(0);
    }

    const int logPixels = static_cast<int>(static_cast<float>(kLogPixelsY) * textScale_);
    const int pixelHeight = -MulDiv(static_cast<int>(height_), logPixels, 72);
    std::unique_ptr<GlyphRaster> raster =
        GlyphRaster::Create(faceName_, -pixelHeight, (flags_ & FONT_BOLD) != 0, (flags_ & FONT_ITALIC) != 0,
                            static_cast<int>(atlasWidth_), static_cast<int>(atlasHeight_));
    if (!raster) return E_FAIL;

    int x = 0, y = 0;
    const float w = static_cast<float>(atlasWidth_), h = static_cast<float>(atlasHeight_);
    for (int c = 32; c < 127; ++c) {
        int cx = 0, cy = 0;
        raster->CharExtent(static_cast<char>(c), &cx, &cy);
        if (x + cx + 1 > static_cast<int>(atlasWidth_)) {
            x = 0;
            y += cy + 1;
        }
        raster->DrawChar(x, y, static_cast<char>(c));
        glyphs_[c - 32][0] = static_cast<float>(x) / w;
        glyphs_[c - 32][1] = static_cast<float>(y) / h;
        glyphs_[c - 32][2] = static_cast<float>(x + cx) / w;
        glyphs_[c - 32][3] = static_cast<float>(y + cy) / h;
        x += cx + 1;
    }

    hr = atlas_->LockRect(0, &lr, nullptr, 0);
    if (FAILED(hr) || !lr.pBits) {
        std::fprintf(stderr, "font: the glyph atlas cannot be locked\n");
        return FAILED(hr) ? hr : E_FAIL;  // nothing is written through a failed lock
    }
    const std::vector<std::uint32_t>& pixels = raster->Pixels();
    for (DWORD ty = 0; ty < atlasHeight_; ++ty) {
        auto* row = reinterpret_cast<std::uint16_t*>(static_cast<BYTE*>(lr.pBits) +
                                                     static_cast<size_t>(ty) * static_cast<size_t>(lr.Pitch));
        for (DWORD tx = 0; tx < atlasWidth_; ++tx) {
            const std::uint32_t a = (pixels[static_cast<size_t>(ty) * atlasWidth_ + tx] & 0xFF) >> 4;
            row[tx] = a > 0 ? static_cast<std::uint16_t>((a << 12) | 0x0FFF) : 0;
        }
    }
    atlas_->UnlockRect(0);
    return S_OK;  // the rasteriser frees its face and buffer here
}

HRESULT TextureFont::RecordStateBlock(DWORD* token) {
    IDirect3DDevice8* d = device_;
    d->BeginStateBlock();
    d->SetTexture(0, atlas_);
    d->SetRenderState(D3DRS_ZENABLE, (flags_ & FONT_ZENABLE) ? TRUE : FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 0x08);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    d->SetRenderState(D3DRS_CLIPPING, TRUE);
    d->SetRenderState(D3DRS_EDGEANTIALIAS, FALSE);
    d->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    d->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    d->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    d->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    return d->EndStateBlock(token);
}

HRESULT TextureFont::CreateBuffers() {
    if (!device_) return E_FAIL;
    ReleaseBuffers();  // a second call replaces, never leaks, what the first made
    HRESULT hr = device_->CreateVertexBuffer(kVertexBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0,
                                             D3DPOOL_DEFAULT, &vertexBuffer_);
    if (FAILED(hr)) {
        vertexBuffer_ = nullptr;
        return hr;
    }
    RecordStateBlock(&savedBlock_);
    RecordStateBlock(&drawingBlock_);
    return S_OK;
}

HRESULT TextureFont::ReleaseBuffers() {
    if (vertexBuffer_) {
        vertexBuffer_->Release();
        vertexBuffer_ = nullptr;
    }
    if (device_) {
        if (savedBlock_ != 0) device_->DeleteStateBlock(savedBlock_);
        if (drawingBlock_ != 0) device_->DeleteStateBlock(drawingBlock_);
    }
    savedBlock_ = 0;
    drawingBlock_ = 0;
    return S_OK;
}

HRESULT TextureFont::ReleaseAtlas() {
    if (atlas_) {
        atlas_->Release();
        atlas_ = nullptr;
    }
    device_ = nullptr;
    return S_OK;
}

float TextureFont::RowHeight() const { return (glyphs_[0][3] - glyphs_[0][1]) * static_cast<float>(atlasHeight_); }

HRESULT TextureFont::MeasureText(const char* text, SIZE* extent) const {
    if (!text || !extent) return E_FAIL;
    const float rowHeight = RowHeight();
    float width = 0.0f, rowWidth = 0.0f, height = rowHeight;
    for (const char* p = text; *p; ++p) {
        const int c = Code(*p);
        if (c == '\n') {
            height += rowHeight;
            rowWidth = 0.0f;
        } else if (c >= 32) {
            const float* g = glyphs_[c - 32];
            rowWidth += (g[2] - g[0]) * static_cast<float>(atlasWidth_);
            if (rowWidth > width) width = rowWidth;
        }
    }
    extent->cx = static_cast<LONG>(width);
    extent->cy = static_cast<LONG>(height);
    return S_OK;
}

void TextureFont::BeginDraw(DWORD fvf, UINT stride, DWORD flags) {
    IDirect3DDevice8* d = device_;
    d->CaptureStateBlock(savedBlock_);
    d->ApplyStateBlock(drawingBlock_);
    d->SetVertexShader(fvf);
    d->SetPixelShader(0);
    d->SetStreamSource(0, vertexBuffer_, stride);
    if (flags & TEXT_FILTERED) {
        d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    }
}

void TextureFont::DrawScreenText(const char* text, float x, float y, float z, float rowStep, float sizeX, float sizeY,
                                 float divisor, D3DCOLOR colour) {
    IDirect3DDevice8* d = device_;
    const float startX = x;
    BYTE* data = nullptr;
    HRESULT locked = vertexBuffer_->Lock(0, 0, &data, D3DLOCK_DISCARD);
    auto* v = reinterpret_cast<ScreenVertex*>(data);
    UINT n = 0;
    if (text) {
        for (const char* p = text; *p; ++p) {
            const int c = Code(*p);
            if (c == '\n') {
                x = startX;
                y += rowStep;
                continue;
            }
            if (c < 32) continue;
            const float* g = glyphs_[c - 32];
            const float w = sizeX * (g[2] - g[0]) * static_cast<float>(atlasWidth_) / divisor;
            const float h = sizeY * (g[3] - g[1]) * static_cast<float>(atlasHeight_) / divisor;
            if (c != ' ') {
                if (SUCCEEDED(locked) && v) {
                    *v++ = MakeScreenVertex(x - 0.5f, y + h - 0.5f, z, 1.0f, colour, g[0], g[3]);
                    *v++ = MakeScreenVertex(x - 0.5f, y - 0.5f, z, 1.0f, colour, g[0], g[1]);
                    *v++ = MakeScreenVertex(x + w - 0.5f, y + h - 0.5f, z, 1.0f, colour, g[2], g[3]);
                    *v++ = MakeScreenVertex(x + w - 0.5f, y - 0.5f, z, 1.0f, colour, g[2], g[1]);
                    *v++ = MakeScreenVertex(x + w - 0.5f, y + h - 0.5f, z, 1.0f, colour, g[2], g[3]);
                    *v++ = MakeScreenVertex(x - 0.5f, y - 0.5f, z, 1.0f, colour, g[0], g[1]);
                }
                n += 2;
                if (3 * n > kScreenBatchVertices) {
                    if (SUCCEEDED(locked)) vertexBuffer_->Unlock();
                    d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, n);
                    data = nullptr;
                    locked = vertexBuffer_->Lock(0, 0, &data, D3DLOCK_DISCARD);
                    v = reinterpret_cast<ScreenVertex*>(data);
                    n = 0;
                }
            }
            x += w;
        }
    }
    if (SUCCEEDED(locked)) vertexBuffer_->Unlock();
    if (n > 0) d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, n);
    d->ApplyStateBlock(savedBlock_);
}

HRESULT TextureFont::DrawText2D(float x, float y, D3DCOLOR colour, const char* text, DWORD flags) {
    if (!device_ || !vertexBuffer_) return E_FAIL;
    BeginDraw(SCREEN_VERTEX_FVF, sizeof(ScreenVertex), flags);
    DrawScreenText(text, x, y, 0.9f, RowHeight(), 1.0f, 1.0f, textScale_, colour);
    return S_OK;
}

HRESULT TextureFont::DrawScaledText(float x, float y, float z, float xSize, float ySize, D3DCOLOR colour,
                                    const char* text, DWORD flags) {
    if (!device_ || !vertexBuffer_) return E_FAIL;
    D3DVIEWPORT8 vp{};
    device_->GetViewport(&vp);
    const float wv = static_cast<float>(vp.Width), hv = static_cast<float>(vp.Height);
    BeginDraw(SCREEN_VERTEX_FVF, sizeof(ScreenVertex), flags);
    const float rowHeight = RowHeight();
    // Without an atlas there is no row height to scale by: glyphs get no size.
    const float sx = rowHeight > 0.0f ? wv * xSize / rowHeight : 0.0f;
    const float sy = rowHeight > 0.0f ? hv * ySize / rowHeight : 0.0f;
    DrawScreenText(text, (x + 1.0f) * wv / 2.0f, (y + 1.0f) * hv / 2.0f, z, hv * ySize, sx, sy, 1.0f, colour);
    return S_OK;
}

HRESULT TextureFont::DrawText3D(const char* text, DWORD flags) {
    if (!device_ || !vertexBuffer_) return E_FAIL;
    IDirect3DDevice8* d = device_;
    BeginDraw(MESH_VERTEX_FVF, sizeof(MeshVertex), flags);
    float x = 0.0f, y = 0.0f;
    if (flags & TEXT_CENTERED) {
        SIZE extent{};
        MeasureText(text, &extent);
        x = -(static_cast<float>(extent.cx) / 10.0f) / 2.0f;
        y = -(static_cast<float>(extent.cy) / 10.0f) / 2.0f;
    }
    if (flags & TEXT_TWO_SIDED) d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    const float startX = x;
    const float rowHeight = RowHeight();
    const D3DXVECTOR3 normal(0.0f, 0.0f, -1.0f);
    BYTE* data = nullptr;
    HRESULT locked = vertexBuffer_->Lock(0, 0, &data, D3DLOCK_DISCARD);
    auto* v = reinterpret_cast<MeshVertex*>(data);
    UINT count = 0;
    if (text) {
        for (const char* p = text; *p; ++p) {
            const int c = Code(*p);
            if (c == '\n') {
                x = startX;
                y -= rowHeight / 10.0f;
                continue;
            }
            if (c < 32) continue;
            const float* g = glyphs_[c - 32];
            const float w = (g[2] - g[0]) * static_cast<float>(atlasWidth_) / (10.0f * textScale_);
            const float h = (g[3] - g[1]) * static_cast<float>(atlasHeight_) / (10.0f * textScale_);
            if (c != ' ') {
                if (count + 6 > kMeshVertices) {
                    if (SUCCEEDED(locked)) vertexBuffer_->Unlock();
                    d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, count / 3);
                    data = nullptr;
                    locked = vertexBuffer_->Lock(0, 0, &data, D3DLOCK_DISCARD);
                    v = reinterpret_cast<MeshVertex*>(data);
                    count = 0;
                }
                if (SUCCEEDED(locked) && v) {
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x, y, 0.0f), normal, g[0], g[3]);
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x, y + h, 0.0f), normal, g[0], g[1]);
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x + w, y, 0.0f), normal, g[2], g[3]);
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x + w, y + h, 0.0f), normal, g[2], g[1]);
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x + w, y, 0.0f), normal, g[2], g[3]);
                    *v++ = MakeMeshVertex(D3DXVECTOR3(x, y + h, 0.0f), normal, g[0], g[1]);
                }
                count += 6;
            }
            x += w;
        }
    }
    if (SUCCEEDED(locked)) vertexBuffer_->Unlock();
    if (count > 0) d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, count / 3);
    d->ApplyStateBlock(savedBlock_);
    return S_OK;
}
