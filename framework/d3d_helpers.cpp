#include "framework/d3d_helpers.h"

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "common/media.h"
#include "platform/gfx/d3dx_texture.h"
#include "platform/ui/window.h"

D3DMATERIAL8* FillMaterial(D3DMATERIAL8* m, float r, float g, float b, float a) {
    *m = D3DMATERIAL8{};
    m->Diffuse = {r, g, b, a};
    m->Ambient = {r, g, b, a};
    return m;
}

void FillLight(D3DLIGHT8* l, D3DLIGHTTYPE type, float x, float y, float z) {
    *l = D3DLIGHT8{};
    l->Type = type;
    l->Diffuse.r = 1.0f;
    l->Diffuse.g = 1.0f;
    l->Diffuse.b = 1.0f;
    const D3DXVECTOR3 v(x, y, z);
    l->Position = v;
    D3DXVec3Normalize(&l->Direction, &v);
    l->Range = 1000.0f;
}

HRESULT LoadTextureFile(IDirect3DDevice8* device, const char* fileName, IDirect3DTexture8** texture,
                        D3DFORMAT format) {
    char path[MAX_PATH] = "";  // stays empty when there is no name to look for
    LocateMediaFile(path, fileName);
    return D3DXCreateTextureFromFileExA(device, path, D3DX_DEFAULT, D3DX_DEFAULT, 1, 0, format, D3DPOOL_MANAGED,
                                        D3DX_FILTER_NONE, D3DX_FILTER_BOX, 0, nullptr, nullptr, texture);
}

HRESULT ApplyColorKey(IDirect3DTexture8* texture, std::uint32_t key) {
    if (!texture) return E_FAIL;
    const std::uint32_t r = (key >> 16) & 0xFF, g = (key >> 8) & 0xFF, b = key & 0xFF;
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(0, &desc))) return E_FAIL;
    std::uint32_t match;
    bool wide = false;
    switch (desc.Format) {
        case D3DFMT_A4R4G4B4: match = 0xF000 + (r >> 4) * 0x100 + (g & 0xF0) + (b >> 4); break;
        case D3DFMT_A1R5G5B5: match = 0x8000 + (r >> 3) * 0x400 + (g >> 3) * 0x20 + (b >> 3); break;
        case D3DFMT_A8R8G8B8:
            match = key;
            wide = true;
            break;
        default: return E_FAIL;
    }
    D3DLOCKED_RECT lr{};
    if (FAILED(texture->LockRect(0, &lr, nullptr, 0)) || !lr.pBits) return E_FAIL;
    for (UINT y = 0; y < desc.Height; ++y) {
        BYTE* row = static_cast<BYTE*>(lr.pBits) + static_cast<size_t>(y) * static_cast<size_t>(lr.Pitch);
        for (UINT x = 0; x < desc.Width; ++x) {
            if (wide) {
                std::uint32_t t;
                std::memcpy(&t, row + 4 * x, 4);
                if (t == match) std::memset(row + 4 * x, 0, 4);
            } else {
                std::uint16_t t;
                std::memcpy(&t, row + 2 * x, 2);
                if (t == match) std::memset(row + 2 * x, 0, 2);
            }
        }
    }
    texture->UnlockRect(0);
    return S_OK;
}

HRESULT LoadVertexShaderFile(IDirect3DDevice8* device, const char* fileName, const DWORD* declaration,
                             DWORD* handle) {
    char path[MAX_PATH] = "";  // stays empty when there is no name to look for
    LocateMediaFile(path, fileName);
    ID3DXBuffer* code = nullptr;
    const HRESULT hr = D3DXAssembleShaderFromFileA(path, 0, nullptr, &code, nullptr);
    if (FAILED(hr)) return hr;
    if (!code) return E_FAIL;
    const HRESULT created =
        device->CreateVertexShader(declaration, static_cast<const DWORD*>(code->GetBufferPointer()), handle, 0);
    code->Release();
    return created;
}

D3DXMATRIX CubeFaceViewMatrix(D3DCUBEMAP_FACES face) {
    D3DXVECTOR3 at, up;
    switch (face) {
        case D3DCUBEMAP_FACE_POSITIVE_X: at = {1, 0, 0}; up = {0, 1, 0}; break;
        case D3DCUBEMAP_FACE_NEGATIVE_X: at = {-1, 0, 0}; up = {0, 1, 0}; break;
        case D3DCUBEMAP_FACE_POSITIVE_Y: at = {0, 1, 0}; up = {0, 0, -1}; break;
        case D3DCUBEMAP_FACE_NEGATIVE_Y: at = {0, -1, 0}; up = {0, 0, 1}; break;
        case D3DCUBEMAP_FACE_POSITIVE_Z: at = {0, 0, 1}; up = {0, 1, 0}; break;
        case D3DCUBEMAP_FACE_NEGATIVE_Z: at = {0, 0, -1}; up = {0, 1, 0}; break;
        default: {
            D3DXMATRIX identity;
            D3DXMatrixIdentity(&identity);
            return identity;
        }
    }
    const D3DXVECTOR3 eye(0, 0, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    return view;
}

D3DXQUATERNION CursorRotation(HWND window, float radius) {
    D3DXQUATERNION identity(0, 0, 0, 1);
    POINT pt{};
    GetCursorPos(&pt);
    ScreenToClient(window, &pt);
    RECT rc{};
    GetClientRect(window, &rc);
    const float w = static_cast<float>(rc.right - rc.left), h = static_cast<float>(rc.bottom - rc.top);
    if (w <= 0.0f || h <= 0.0f || !(radius > 0.0f)) return identity;  // nothing to divide by
    const float x = 2.0f * static_cast<float>(pt.x) / w - 1.0f;
    const float y = 2.0f * static_cast<float>(pt.y) / h - 1.0f;
    if (x == 0.0f && y == 0.0f) return identity;
    const float d = std::sqrt(x * x + y * y);
    const float z = d < radius * 0.7071067811865476f ? std::sqrt(radius * radius - d * d) : radius * radius / (2.0f * d);
    const D3DXVECTOR3 p(x, y, z), q(0, 0, radius);
    D3DXVECTOR3 axis;
    D3DXVec3Cross(&axis, &p, &q);
    const D3DXVECTOR3 diff = q - p;
    float t = D3DXVec3Length(&diff) / (2.0f * radius);
    if (t > 1.0f) t = 1.0f;
    if (t < -1.0f) t = -1.0f;
    D3DXQUATERNION out;
    D3DXQuaternionRotationAxis(&out, &axis, 2.0f * std::asin(t));
    return out;
}

// ---------------------------------------------------------------- cursor bitmaps

namespace {

std::mutex g_cursorLock;
std::map<HCURSOR, CursorBitmaps>& Registered() {
    static std::map<HCURSOR, CursorBitmaps> map;
    return map;
}

// The standard arrow, 32 x 32: 'X' black, '.' white, ' ' transparent.
const char* const kArrow[] = {
    "X",           "XX",          "X.X",         "X..X",        "X...X",        "X....X",       "X.....X",
    "X......X",    "X.......X",   "X........X",  "X.....XXXXX", "X..X..X",      "X.X X..X",     "XX  X..X",
    "X    X..X",   "     X..X",   "      X..X",  "      X..X",  "       XX",
};

CursorBitmaps ArrowBitmaps() {
    CursorBitmaps b;
    b.width = 32;
    b.maskHeight = 64;
    b.colour = false;
    b.mask.assign(32 * 64, 0);
    // Top-down: AND mask rows 0..31, XOR mask rows 32..63; stored bottom-up.
    auto at = [&](int topDownRow, int x) -> std::uint32_t& { return b.mask[static_cast<size_t>(63 - topDownRow) * 32 + static_cast<size_t>(x)]; };
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            at(y, x) = 0x00FFFFFF;  // AND 1: transparent
            at(32 + y, x) = 0;      // XOR 0
        }
    }
    for (int y = 0; y < static_cast<int>(sizeof(kArrow) / sizeof(kArrow[0])); ++y) {
        for (int x = 0; kArrow[y][x]; ++x) {
            const char c = kArrow[y][x];
            if (c == ' ') continue;
            at(y, x) = 0;
            at(32 + y, x) = c == '.' ? 0x00FFFFFF : 0;
        }
    }
    return b;
}

}  // namespace

void RegisterCursorBitmaps(HCURSOR cursor, const CursorBitmaps& bitmaps) {
    std::lock_guard<std::mutex> lock(g_cursorLock);
    Registered()[cursor] = bitmaps;
}

bool GetCursorBitmaps(HCURSOR cursor, CursorBitmaps* bitmaps) {
    if (!cursor || !bitmaps) return false;
    {
        std::lock_guard<std::mutex> lock(g_cursorLock);
        auto it = Registered().find(cursor);
        if (it != Registered().end()) {
            *bitmaps = it->second;
            return true;
        }
    }
    if (cursor == LoadCursorA(nullptr, IDC_ARROW)) {
        *bitmaps = ArrowBitmaps();
        return true;
    }
    return false;
}

HRESULT CopyCursorToDevice(IDirect3DDevice8* device, HCURSOR cursor, BOOL mark) {
    if (!device) return E_FAIL;
    CursorBitmaps bits;
    if (!GetCursorBitmaps(cursor, &bits) || bits.width <= 0 || bits.maskHeight <= 0) return E_FAIL;
    const int width = bits.width;
    const int height = bits.colour ? bits.maskHeight : bits.maskHeight / 2;
    const size_t maskTexels = static_cast<size_t>(width) * static_cast<size_t>(bits.maskHeight);
    if (height <= 0 || bits.mask.size() < maskTexels || (bits.colour && bits.colourBits.size() < maskTexels)) {
        return E_FAIL;
    }
    IDirect3DSurface8* surface = nullptr;
    HRESULT hr = device->CreateImageSurface(static_cast<UINT>(width), static_cast<UINT>(height), D3DFMT_A8R8G8B8,
                                            &surface);
    if (FAILED(hr)) return hr;
    D3DLOCKED_RECT lr{};
    hr = surface->LockRect(&lr, nullptr, 0);
    if (FAILED(hr) || !lr.pBits) {
        surface->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    static const std::uint16_t kMark[5] = {0xCCC0, 0xA2A0, 0xA4A0, 0xA2A0, 0xCCC0};
    const int h2 = bits.maskHeight;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(lr.pBits) + static_cast<size_t>(y) * static_cast<size_t>(lr.Pitch));
        // Bottom-up rows: a monochrome AND mask line y is row 2h-1-y, its XOR line h-1-y.
        const size_t maskRow = static_cast<size_t>(h2 - 1 - y);
        const size_t colourRow = static_cast<size_t>(bits.colour ? h2 - 1 - y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t m = bits.mask[maskRow * static_cast<size_t>(width) + static_cast<size_t>(x)];
            const std::uint32_t c = bits.colour ? bits.colourBits[colourRow * static_cast<size_t>(width) + static_cast<size_t>(x)]
                                                : bits.mask[colourRow * static_cast<size_t>(width) + static_cast<size_t>(x)];
            std::uint32_t pixel = m == 0 ? (c | 0xFF000000u) : 0u;
            if (mark && x < 12 && y < 5 && (kMark[y] & (1u << (15 - x)))) pixel |= 0xFF808080u;
            row[x] = pixel;
        }
    }
    surface->UnlockRect();
    hr = device->SetCursorProperties(static_cast<UINT>(bits.hotSpotX), static_cast<UINT>(bits.hotSpotY), surface);
    surface->Release();
    return FAILED(hr) ? hr : S_OK;
}
