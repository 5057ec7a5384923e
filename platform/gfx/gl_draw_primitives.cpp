// Drawing calls and shaders of the GL device.
#include "platform/gfx/gl_device.h"

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) { return E_NOTIMPL; }

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void* vertices, UINT) {
    if (!vertices) return D3DERR_INVALIDCALL;
    return E_NOTIMPL;
}

// Programmable vertex shaders are not offered by this device.
HRESULT GlDevice::CreateVertexShader(const DWORD*, const DWORD*, DWORD* handle, DWORD) {
    if (handle) *handle = 0;
    return D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetVertexShader(DWORD handle) {
    draw_.vertexShader = handle;  // a vertex format code
    return D3D_OK;
}

HRESULT GlDevice::GetVertexShader(DWORD* handle) {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = draw_.vertexShader;
    return D3D_OK;
}

HRESULT GlDevice::DeleteVertexShader(DWORD) { return D3DERR_INVALIDCALL; }

HRESULT GlDevice::SetPixelShader(DWORD handle) {
    if (handle != 0) return D3DERR_INVALIDCALL;
    draw_.pixelShader = 0;
    return D3D_OK;
}

HRESULT GlDevice::GetPixelShader(DWORD* handle) {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = draw_.pixelShader;
    return D3D_OK;
}
