#pragma once
// Screen text through the device: the printable ASCII characters of one font
// rasterised into a glyph atlas, drawn as textured, alpha-blended triangles
// from a small dynamic vertex buffer between two recorded state blocks.
#include "platform/gfx/d3d_device.h"
#include "platform/math/d3dx_math.h"

struct SIZE {
    LONG cx, cy;
};

constexpr DWORD FONT_BOLD = 1;
constexpr DWORD FONT_ITALIC = 2;
constexpr DWORD FONT_ZENABLE = 4;

constexpr DWORD TEXT_CENTERED = 1;
constexpr DWORD TEXT_TWO_SIDED = 2;
constexpr DWORD TEXT_FILTERED = 4;

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float tu, tv;
};
static_assert(sizeof(ScreenVertex) == 28);
constexpr DWORD SCREEN_VERTEX_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct MeshVertex {
    D3DXVECTOR3 position;
    D3DXVECTOR3 normal;
    float tu, tv;
};
static_assert(sizeof(MeshVertex) == 32);
constexpr DWORD MESH_VERTEX_FVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

ScreenVertex MakeScreenVertex(float x, float y, float z, float rhw, D3DCOLOR colour, float tu, float tv);
MeshVertex MakeMeshVertex(const D3DXVECTOR3& position, const D3DXVECTOR3& normal, float tu, float tv);

class TextureFont {
public:
    TextureFont(const char* faceName, DWORD height, DWORD flags);
    ~TextureFont();
    TextureFont(const TextureFont&) = delete;
    TextureFont& operator=(const TextureFont&) = delete;

    HRESULT BuildGlyphAtlas(IDirect3DDevice8* device);
    HRESULT CreateBuffers();
    HRESULT ReleaseBuffers();
    HRESULT ReleaseAtlas();

    HRESULT MeasureText(const char* text, SIZE* extent) const;
    HRESULT DrawText2D(float x, float y, D3DCOLOR colour, const char* text, DWORD flags = 0);
    HRESULT DrawScaledText(float x, float y, float z, float xSize, float ySize, D3DCOLOR colour, const char* text,
                           DWORD flags = 0);
    HRESULT DrawText3D(const char* text, DWORD flags = 0);

    // Read access for the program and tests.
    const char* FaceName() const { return faceName_; }
    DWORD Height() const { return height_; }
    IDirect3DTexture8* Atlas() const { return atlas_; }
    IDirect3DVertexBuffer8* VertexBuffer() const { return vertexBuffer_; }
    DWORD AtlasWidth() const { return atlasWidth_; }
    DWORD AtlasHeight() const { return atlasHeight_; }
    float TextScale() const { return textScale_; }
    const float* Glyph(int code) const { return glyphs_[code - 32]; }
    DWORD SavedStateBlock() const { return savedBlock_; }
    DWORD DrawingStateBlock() const { return drawingBlock_; }

private:
    HRESULT RecordStateBlock(DWORD* token);
    float RowHeight() const;
    // Saves the caller's state and sets the font's for one draw.
    void BeginDraw(DWORD fvf, UINT stride, DWORD flags);
    // Glyph quads as screen triangles from (x, y) at depth z; a glyph is sizeX * (its
    // atlas width) / divisor wide (likewise high), '\n' moves down by rowStep.
    void DrawScreenText(const char* text, float x, float y, float z, float rowStep, float sizeX, float sizeY,
                        float divisor, D3DCOLOR colour);

    char faceName_[80];
    DWORD height_;
    DWORD flags_;
    IDirect3DDevice8* device_ = nullptr;
    IDirect3DTexture8* atlas_ = nullptr;
    IDirect3DVertexBuffer8* vertexBuffer_ = nullptr;
    DWORD atlasWidth_ = 0;
    DWORD atlasHeight_ = 0;
    float textScale_ = 1.0f;
    float glyphs_[96][4];
    DWORD savedBlock_ = 0;
    DWORD drawingBlock_ = 0;
};
