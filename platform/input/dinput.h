#pragma once
// Game controllers with force feedback, shaped like DirectInput 8: the input
// object enumerates and creates devices; a device reports its axes, is acquired
// and polled, hands out its state and creates force-feedback effects.
// The default backend is SDL2; tests install their own with SetDirectInputBackend.
#include "platform/sys/guid.h"
#include "platform/sys/hresult.h"
#include "platform/ui/win_types.h"

#include <cstdint>

using ULONG = std::uint32_t;

// Results.
constexpr HRESULT DI_OK = S_OK;
constexpr HRESULT DI_NOEFFECT = S_FALSE;
constexpr HRESULT DIERR_INPUTLOST = MakeHResult(0x8007001Eu);
constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DIERR_NOTACQUIRED = MakeHResult(0x8007000Cu);
constexpr HRESULT DIERR_NOTINITIALIZED = MakeHResult(0x80070015u);
constexpr HRESULT DIERR_DEVICENOTREG = MakeHResult(0x80040154u);
constexpr HRESULT DIERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DIERR_UNPLUGGED = MakeHResult(0x80040209u);
constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = MakeHResult(0x8007047Eu);

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

// Enumeration.
constexpr BOOL DIENUM_STOP = 0;
constexpr BOOL DIENUM_CONTINUE = 1;
constexpr DWORD DI8DEVCLASS_GAMECTRL = 4;
constexpr DWORD DIEDFL_ATTACHEDONLY = 0x00000001;
constexpr DWORD DIEDFL_FORCEFEEDBACK = 0x00000100;

// Device objects.
constexpr DWORD DIDFT_RELAXIS = 0x00000001;
constexpr DWORD DIDFT_ABSAXIS = 0x00000002;
constexpr DWORD DIDFT_AXIS = 0x00000003;
constexpr DWORD DIDFT_PSHBUTTON = 0x00000004;
constexpr DWORD DIDFT_POV = 0x00000010;
constexpr DWORD DIDOI_FFACTUATOR = 0x00000001;
constexpr DWORD DIDFT_MAKEINSTANCE(DWORD n) { return n << 8; }
constexpr DWORD DIDFT_GETINSTANCE(DWORD type) { return (type >> 8) & 0xFFFF; }

// Properties.
constexpr DWORD DIPROP_RANGE = 4;
constexpr DWORD DIPH_DEVICE = 0;
constexpr DWORD DIPH_BYOFFSET = 1;
constexpr DWORD DIPH_BYID = 2;

// Cooperative levels.
constexpr DWORD DISCL_EXCLUSIVE = 0x00000001;
constexpr DWORD DISCL_NONEXCLUSIVE = 0x00000002;
constexpr DWORD DISCL_FOREGROUND = 0x00000004;
constexpr DWORD DISCL_BACKGROUND = 0x00000008;

// Effects.
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD DIEFF_OBJECTIDS = 0x00000001;
constexpr DWORD DIEFF_OBJECTOFFSETS = 0x00000002;
constexpr DWORD DIEFF_CARTESIAN = 0x00000010;
constexpr DWORD DIEFF_POLAR = 0x00000020;
constexpr DWORD DIEFF_SPHERICAL = 0x00000040;
constexpr DWORD DIEB_NOTRIGGER = 0xFFFFFFFF;
constexpr DWORD DIEP_DURATION = 0x00000001;
constexpr DWORD DIEP_GAIN = 0x00000004;
constexpr DWORD DIEP_DIRECTION = 0x00000040;
constexpr DWORD DIEP_TYPESPECIFICPARAMS = 0x00000100;
constexpr LONG DI_FFNOMINALMAX = 10000;

// Offsets into DIJOYSTATE.
constexpr DWORD DIJOFS_X = 0;
constexpr DWORD DIJOFS_Y = 4;
constexpr DWORD DIJOFS_Z = 8;
constexpr DWORD DIJOFS_RX = 12;
constexpr DWORD DIJOFS_RY = 16;
constexpr DWORD DIJOFS_RZ = 20;

// Effect kinds.
constexpr GUID GUID_ConstantForce = {0x13541C20, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
constexpr GUID GUID_Square = {0x13541C22, 0x8E33, 0x11D0, {0x9A, 0xD0, 0x00, 0xA0, 0xC9, 0xA0, 0x6E, 0x35}};
constexpr GUID IID_IDirectInput8A = {0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};

// The joystick state of the standard joystick data format (80 bytes).
struct DIJOYSTATE {
    LONG lX, lY, lZ;
    LONG lRx, lRy, lRz;
    LONG rglSlider[2];
    DWORD rgdwPOV[4];   // hundredths of a degree clockwise from forward; 0xFFFFFFFF centred
    BYTE rgbButtons[32];  // 0x80 while pressed
};
static_assert(sizeof(DIJOYSTATE) == 80, "DIJOYSTATE is 80 bytes");
constexpr DWORD POV_CENTERED = 0xFFFFFFFF;
constexpr BYTE BUTTON_DOWN = 0x80;

// Data formats: only the standard joystick format exists here.
struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwDataSize;
};
extern const DIDATAFORMAT c_dfDIJoystick;

struct DIDEVICEINSTANCEA {
    DWORD dwSize;
    GUID guidInstance;
    GUID guidProduct;
    DWORD dwDevType;
    char tszInstanceName[260];
    char tszProductName[260];
};

struct DIDEVICEOBJECTINSTANCEA {
    DWORD dwSize;
    GUID guidType;
    DWORD dwOfs;      // offset in DIJOYSTATE
    DWORD dwType;     // DIDFT_* kind with the instance number
    DWORD dwFlags;    // DIDOI_FFACTUATOR for a force-feedback axis
    char tszName[260];
};

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};
struct DIPROPRANGE {
    DIPROPHEADER diph;
    LONG lMin;
    LONG lMax;
};

struct DICONSTANTFORCE {
    LONG lMagnitude;
};
struct DIPERIODIC {
    DWORD dwMagnitude;
    LONG lOffset;
    DWORD dwPhase;
    DWORD dwPeriod;   // microseconds
};
static_assert(sizeof(DICONSTANTFORCE) == 4 && sizeof(DIPERIODIC) == 16, "effect parameter sizes");

struct DIENVELOPE;
struct DIEFFECT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwDuration;
    DWORD dwSamplePeriod;
    DWORD dwGain;
    DWORD dwTriggerButton;
    DWORD dwTriggerRepeatInterval;
    DWORD cAxes;
    DWORD* rgdwAxes;
    LONG* rglDirection;
    DIENVELOPE* lpEnvelope;
    DWORD cbTypeSpecificParams;
    void* lpvTypeSpecificParams;
    DWORD dwStartDelay;
};

using LPDIENUMDEVICESCALLBACKA = BOOL (*)(const DIDEVICEINSTANCEA* instance, void* context);
using LPDIENUMDEVICEOBJECTSCALLBACKA = BOOL (*)(const DIDEVICEOBJECTINSTANCEA* object, void* context);

class IDirectInputEffect {
public:
    virtual HRESULT SetParameters(const DIEFFECT* effect, DWORD flags) = 0;
    virtual HRESULT Start(DWORD iterations, DWORD flags) = 0;
    virtual HRESULT Stop() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IDirectInputEffect() = default;
};

class IDirectInputDevice8A {
public:
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    virtual HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* context, DWORD flags) = 0;
    virtual HRESULT SetProperty(DWORD property, const DIPROPHEADER* header) = 0;
    virtual HRESULT CreateEffect(const GUID& kind, const DIEFFECT* effect, IDirectInputEffect** out,
                                 void* outer) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT Unacquire() = 0;
    virtual HRESULT Poll() = 0;
    virtual HRESULT GetDeviceState(DWORD size, void* data) = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IDirectInputDevice8A() = default;
};

class IDirectInput8A {
public:
    virtual HRESULT EnumDevices(DWORD deviceClass, LPDIENUMDEVICESCALLBACKA callback, void* context,
                                DWORD flags) = 0;
    virtual HRESULT CreateDevice(const GUID& instance, IDirectInputDevice8A** out, void* outer) = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IDirectInput8A() = default;
};
using IDirectInput8 = IDirectInput8A;
using IDirectInputDevice8 = IDirectInputDevice8A;

// Creates the input object of the installed backend (SDL2 unless a test installed
// another). version must be DIRECTINPUT_VERSION and iid IID_IDirectInput8A.
HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, const GUID& iid, void** out, void* outer);

// A backend makes the input object; null restores SDL2.
using DirectInputBackend = HRESULT (*)(IDirectInput8A** out);
void SetDirectInputBackend(DirectInputBackend backend);
HRESULT CreateSdlDirectInput(IDirectInput8A** out);
