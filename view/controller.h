#pragma once
// The game controller: set-up at start, the force-feedback effects, their update
// on the controller tick, and the release at exit.
#include "platform/input/dinput.h"
#include "platform/sys/hresult.h"
#include "platform/ui/win_types.h"

#include <cstdint>

struct GameController {
    IDirectInput8A* input = nullptr;
    IDirectInputDevice8A* device = nullptr;
    IDirectInputEffect* constantForce = nullptr;   // stick force
    IDirectInputEffect* squareWave = nullptr;      // vibration
    DWORD forceFeedbackAxes = 0;                   // actuators counted at set-up, then 2
};
extern GameController Controller;

// Creates the input object, picks the controller (force feedback first), sets its
// axes to -1000..1000 and, with force feedback, creates both effects. The two
// "Fatal Error!" boxes go to window. A failing call returns its code.
HRESULT InitGameController(HWND window);
BOOL EnumControllerCallback(const DIDEVICEINSTANCEA* instance, void* context);
BOOL EnumAxesCallback(const DIDEVICEOBJECTINSTANCEA* object, void* axisCounter);

// First frame: with force feedback, acquires the device and starts both effects.
void StartForceFeedback();

// Constant-force magnitude of the stick force (roll, pitch): the length of the
// vector, truncated.
LONG StickForceMagnitude(std::int32_t roll, std::int32_t pitch);
// Vibration magnitude: 0 up to 9 degrees of angle of attack, rising to 10000 at 15;
// 0 at an indicated airspeed of 0.04 or less.
LONG VibrationMagnitude(float angleOfAttack, float indicatedAirspeed);

// Sends the stick force and the vibration to the effects; a failure is returned.
HRESULT UpdateForceFeedback();

void ReleaseGameController();
