#include "view/controller.h"

#include "platform/ui/window.h"
#include "view/flight_model.h"
#include "view/state.h"

#include <cmath>

GameController Controller;

namespace {

constexpr DWORD kPeriodMicroseconds = 30000;
constexpr float kDegreesPerRadian = 57.295776f;

// The effect record shared by both effects; direction and parameters vary.
DIEFFECT EffectRecord(DWORD* axes, LONG* direction, DWORD paramSize, void* params)
{
    DIEFFECT e{};
    e.dwSize = sizeof(DIEFFECT);
    e.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    e.dwDuration = INFINITE;
    e.dwSamplePeriod = 0;
    e.dwGain = DI_FFNOMINALMAX;
    e.dwTriggerButton = DIEB_NOTRIGGER;
    e.dwTriggerRepeatInterval = 0;
    e.cAxes = 2;
    e.rgdwAxes = axes;
    e.rglDirection = direction;
    e.lpEnvelope = nullptr;
    e.cbTypeSpecificParams = paramSize;
    e.lpvTypeSpecificParams = params;
    e.dwStartDelay = 0;
    return e;
}

}  // namespace

BOOL EnumControllerCallback(const DIDEVICEINSTANCEA* instance, void*)
{
    if (FAILED(Controller.input->CreateDevice(instance->guidInstance, &Controller.device, nullptr))) {
        Controller.device = nullptr;
        return DIENUM_CONTINUE;
    }
    return DIENUM_STOP;
}

BOOL EnumAxesCallback(const DIDEVICEOBJECTINSTANCEA* object, void* axisCounter)
{
    if (object->dwFlags & DIDOI_FFACTUATOR) ++*static_cast<DWORD*>(axisCounter);
    if (object->dwType & DIDFT_AXIS) {
        DIPROPRANGE range{};
        range.diph.dwSize = sizeof(DIPROPRANGE);
        range.diph.dwHeaderSize = sizeof(DIPROPHEADER);
        range.diph.dwObj = object->dwType;
        range.diph.dwHow = DIPH_BYID;
        range.lMin = -1000;
        range.lMax = +1000;
        if (FAILED(Controller.device->SetProperty(DIPROP_RANGE, &range.diph))) return DIENUM_STOP;
    }
    return DIENUM_CONTINUE;
}

HRESULT InitGameController(HWND window)
{
    void* input = nullptr;
    HRESULT hr = DirectInput8Create(GetModuleHandleA(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8A, &input, nullptr);
    if (FAILED(hr)) return hr;
    Controller.input = static_cast<IDirectInput8A*>(input);

    hr = Controller.input->EnumDevices(DI8DEVCLASS_GAMECTRL, EnumControllerCallback, nullptr,
                                       DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK);
    if (FAILED(hr)) return hr;
    if (Controller.device != nullptr) {
        ForceFeedbackAvailable = 1;
    } else {
        ForceFeedbackAvailable = 0;
        hr = Controller.input->EnumDevices(DI8DEVCLASS_GAMECTRL, EnumControllerCallback, nullptr, DIEDFL_ATTACHEDONLY);
        if (FAILED(hr)) return hr;
        if (Controller.device == nullptr) {
            MessageBoxA(window, "Game controller not found. Check the device or disable it in the configuration.",
                        "Fatal Error!", MB_ICONERROR);
            return E_FAIL;
        }
    }

    hr = Controller.device->SetDataFormat(&c_dfDIJoystick);
    if (FAILED(hr)) return hr;
    hr = Controller.device->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_BACKGROUND);
    if (FAILED(hr)) return hr;
    hr = Controller.device->EnumObjects(EnumAxesCallback, &Controller.forceFeedbackAxes, DIDFT_AXIS);
    if (FAILED(hr)) return hr;

    if (!ForceFeedbackAvailable) return S_OK;
    if (Controller.forceFeedbackAxes < 2u) {
        MessageBoxA(window,
                    "Unsupported number of force feedback axes. Check the device or disable it in the configuration.",
                    "Fatal Error!", MB_ICONERROR);
        return E_FAIL;
    }
    Controller.forceFeedbackAxes = 2;

    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG still[2] = {0, 0};
    DICONSTANTFORCE constant{0};
    DIEFFECT record = EffectRecord(axes, still, sizeof(constant), &constant);
    hr = Controller.device->CreateEffect(GUID_ConstantForce, &record, &Controller.constantForce, nullptr);
    if (FAILED(hr)) return hr;
    if (Controller.constantForce == nullptr) return E_FAIL;

    LONG sideways[2] = {1, 0};
    DIPERIODIC periodic{0, 0, 0, kPeriodMicroseconds};
    record = EffectRecord(axes, sideways, sizeof(periodic), &periodic);
    hr = Controller.device->CreateEffect(GUID_Square, &record, &Controller.squareWave, nullptr);
    if (FAILED(hr)) return hr;
    if (Controller.squareWave == nullptr) return E_FAIL;
    return S_OK;
}

void StartForceFeedback()
{
    if (!ForceFeedbackAvailable) return;
    if (Controller.device != nullptr) Controller.device->Acquire();
    if (Controller.constantForce != nullptr) Controller.constantForce->Start(1, 0);
    if (Controller.squareWave != nullptr) Controller.squareWave->Start(1, 0);
}

LONG StickForceMagnitude(std::int32_t roll, std::int32_t pitch)
{
    const double r = roll, p = pitch;
    return TruncateToInt32(std::sqrt(r * r + p * p));
}

LONG VibrationMagnitude(float angleOfAttack, float indicatedAirspeed)
{
    if (!(indicatedAirspeed > 0.04f)) return 0;
    const float a = std::fabs(angleOfAttack * kDegreesPerRadian);
    if (a >= 15.0f) return DI_FFNOMINALMAX;
    if (a > 9.0f) return static_cast<LONG>((a - 9.0f) * 1666.7f);
    return 0;
}

HRESULT UpdateForceFeedback()
{
    if (Controller.constantForce == nullptr || Controller.squareWave == nullptr) return E_FAIL;
    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG direction[2] = {ForceFeedbackRoll, ForceFeedbackPitch};
    DICONSTANTFORCE constant{StickForceMagnitude(ForceFeedbackRoll, ForceFeedbackPitch)};
    DIEFFECT record = EffectRecord(axes, direction, sizeof(constant), &constant);
    record.cAxes = Controller.forceFeedbackAxes;
    HRESULT hr = Controller.constantForce->SetParameters(&record, DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS);
    if (FAILED(hr)) return hr;

    const LONG vibration = VibrationMagnitude(AngleOfAttack, IndicatedAirspeed);
    DIPERIODIC periodic{static_cast<DWORD>(vibration), 0, 0, kPeriodMicroseconds};
    record = EffectRecord(axes, direction, sizeof(periodic), &periodic);
    record.cAxes = Controller.forceFeedbackAxes;
    hr = Controller.squareWave->SetParameters(&record, DIEP_TYPESPECIFICPARAMS);
    if (FAILED(hr)) return hr;
    return S_OK;
}

void ReleaseGameController()
{
    if (Controller.device != nullptr) Controller.device->Unacquire();
    if (Controller.device != nullptr) {
        Controller.device->Release();
        Controller.device = nullptr;
    }
    if (Controller.input != nullptr) {
        Controller.input->Release();
        Controller.input = nullptr;
    }
}
