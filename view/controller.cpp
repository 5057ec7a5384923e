#include "view/controller.h"

#include "platform/ui/window.h"
#include "view/state.h"

// No controller support yet: every start reports that none is attached.
HRESULT InitGameController(HWND window)
{
    ForceFeedbackAvailable = 0;
    MessageBoxA(window, "Game controller not found. Check the device or disable it in the configuration.",
                "Fatal Error!", MB_ICONERROR);
    return E_FAIL;
}

void StartForceFeedback() {}

HRESULT UpdateForceFeedback() { return S_OK; }

void ReleaseGameController() {}
