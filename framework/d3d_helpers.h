#pragma once
// Helper functions of the framework: records, textures and shaders through
// the media lookup, cube-face views, cursor rotation and the device cursor.
#include <cstdint>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "platform/math/d3dx_math.h"
#include "platform/ui/win_types.h"

enum D3DCUBEMAP_FACES : std::int32_t {
    D3DCUBEMAP_FACE_POSITIVE_X = 0,
    D3DCUBEMAP_FACE_NEGATIVE_X = 1,
    D3DCUBEMAP_FACE_POSITIVE_Y = 2,
    D3DCUBEMAP_FACE_NEGATIVE_Y = 3,
    D3DCUBEMAP_FACE_POSITIVE_Z = 4,
    D3DCUBEMAP_FACE_NEGATIVE_Z = 5,
};

D3DMATERIAL8* FillMaterial(D3DMATERIAL8* material, float r, float g, float b, float a);
void FillLight(D3DLIGHT8* light, D3DLIGHTTYPE type, float x, float y, float z);
HRESULT LoadTextureFile(IDirect3DDevice8* device, const char* fileName, IDirect3DTexture8** texture,
                        D3DFORMAT format);
HRESULT ApplyColorKey(IDirect3DTexture8* texture, std::uint32_t colorKey);
HRESULT LoadVertexShaderFile(IDirect3DDevice8* device, const char* fileName, const DWORD* declaration,
                             DWORD* handle);
// A face outside 0..5 gives the identity.
D3DXMATRIX CubeFaceViewMatrix(D3DCUBEMAP_FACES face);
// An empty client area or a radius of 0 or less gives the identity.
D3DXQUATERNION CursorRotation(HWND window, float radius);
HRESULT CopyCursorToDevice(IDirect3DDevice8* device, HCURSOR cursor, BOOL mark);

// The bitmaps of a cursor as the window system hands them out: 32-bit pixels,
// rows bottom-up. A monochrome cursor has no colour bitmap and its mask holds
// the AND mask above the XOR mask (twice the cursor height).
struct CursorBitmaps {
    int hotSpotX = 0;
    int hotSpotY = 0;
    int width = 0;
    int maskHeight = 0;
    bool colour = false;
    std::vector<std::uint32_t> mask;
    std::vector<std::uint32_t> colourBits;
};
// False for a cursor without bitmaps. The standard arrow is known.
bool GetCursorBitmaps(HCURSOR cursor, CursorBitmaps* bitmaps);
// Makes the bitmaps of a cursor known (a program's own cursors; tests).
void RegisterCursorBitmaps(HCURSOR cursor, const CursorBitmaps& bitmaps);
