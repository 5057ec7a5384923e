#include "view/cockpit_app.h"
#include "view/state.h"

// The per-frame simulation; for now only the first-frame preparation.
HRESULT CockpitApplication::AdvanceScene()
{
    if (FirstFrameDone == 0) PrepareFirstFrame();
    FirstFrameDone = 1;
    return S_OK;
}
