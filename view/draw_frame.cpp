#include "view/cockpit_app.h"

// The frame: cleared to black until the scene's drawing steps arrive.
HRESULT CockpitApplication::DrawScene()
{
    if (FAILED(Device->BeginScene())) return E_FAIL;
    HRESULT hr = Device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                               D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
    Device->EndScene();
    return FAILED(hr) ? E_FAIL : S_OK;
}
