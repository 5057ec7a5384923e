#pragma once
// The Direct3D object on OpenGL: adapters are the displays (or one headless
// adapter), both device types run on the GL driver.
#include <atomic>
#include <string>
#include <vector>

#include "platform/gfx/d3d_device.h"

struct GlAdapter {
    D3DADAPTER_IDENTIFIER8 identifier;
    D3DDISPLAYMODE desktop;
    std::vector<D3DDISPLAYMODE> modes;
    int sdlDisplay;  // -1 for the headless adapter
};

class GlDirect3D final : public IDirect3D8 {
public:
    explicit GlDirect3D(bool headless);

    ULONG AddRef() override;
    ULONG Release() override;

    UINT GetAdapterCount() override;
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER8* identifier) override;
    UINT GetAdapterModeCount(UINT adapter) override;
    HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* displayMode) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSampleType) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviourFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice8** device) override;

    bool Headless() const { return headless_; }
    const GlAdapter* Adapter(UINT index) const { return index < adapters_.size() ? &adapters_[index] : nullptr; }
    static bool IsDisplayFormat(D3DFORMAT f);
    static bool IsDepthFormatSupported(D3DFORMAT f);

private:
    ~GlDirect3D() override = default;
    void RefreshDesktop(UINT adapter);

    std::atomic<ULONG> refs_{1};
    bool headless_;
    std::vector<GlAdapter> adapters_;
};
