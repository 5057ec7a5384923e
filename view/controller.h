#pragma once
// The game controller and its force-feedback effects.
#include "platform/sys/hresult.h"
#include "platform/ui/win_types.h"

// Sets the controller up for the window; a negative result ends the program.
HRESULT InitGameController(HWND window);
// Acquires the controller and starts both effects (when force feedback exists).
void StartForceFeedback();
// Updates both effects from the flight model's values.
HRESULT UpdateForceFeedback();
// Unacquires and releases the controller.
void ReleaseGameController();
