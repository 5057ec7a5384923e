// The SDL2 backend of the input object: joysticks and game controllers through
// SDL's joystick and game-controller layers, force feedback through SDL's haptic
// layer.
#include "platform/input/dinput.h"
#include "platform/input/sdl_convert.h"

#include <SDL.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIDATAFORMAT), sizeof(DIJOYSTATE)};

namespace {

constexpr Uint32 kSubsystems = SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER | SDL_INIT_HAPTIC;
constexpr std::uint16_t kInstanceMark = 0x5344;  // Data2 of an instance GUID made here

GUID InstanceGuid(SDL_JoystickID id)
{
    GUID g = GUID_NULL;
    g.Data1 = static_cast<std::uint32_t>(id);
    g.Data2 = kInstanceMark;
    return g;
}

GUID ProductGuid(SDL_JoystickGUID sdl)
{
    GUID g;
    static_assert(sizeof(sdl.data) == sizeof(GUID));
    std::memcpy(&g, sdl.data, sizeof(GUID));
    return g;
}

int DeviceIndexOfInstance(SDL_JoystickID id)
{
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        if (SDL_JoystickGetDeviceInstanceID(i) == id) return i;
    }
    return -1;
}

// The SDL axis that twists: the one coded ABS_RZ on the event node, else axis 2.
int TwistAxisOf(SDL_Joystick* joystick)
{
    const int axes = SDL_JoystickNumAxes(joystick);
    const char* path = SDL_JoystickPath(joystick);
    if (path != nullptr && std::strncmp(path, "/dev/input/event", 16) == 0) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            unsigned long bits[(ABS_CNT + 8 * sizeof(unsigned long) - 1) / (8 * sizeof(unsigned long))] = {};
            const int got = ioctl(fd, EVIOCGBIT(EV_ABS, sizeof(bits)), bits);
            close(fd);
            if (got > 0) {
                const int index = TwistAxisFromAbsBits(bits, got * 8);
                return index < axes ? index : -1;
            }
        }
    }
    return axes > 2 ? 2 : -1;
}

class SdlDevice;

class SdlEffect final : public IDirectInputEffect {
public:
    SdlEffect(SdlDevice* device, const GUID& kind) : device_(device), kind_(kind) {}
    HRESULT Configure(const DIEFFECT* effect, DWORD flags);
    HRESULT SetParameters(const DIEFFECT* effect, DWORD flags) override;
    HRESULT Start(DWORD iterations, DWORD flags) override;
    HRESULT Stop() override;
    ULONG Release() override;

    // With the device's (new) haptic handle: upload the effect, run it again if it ran.
    HRESULT Upload(SDL_Haptic* haptic);
    void Forget() { id_ = -1; }
    void Orphan() { device_ = nullptr; id_ = -1; }

private:
    SdlDevice* device_;
    GUID kind_;
    SDL_HapticEffect effect_{};
    int id_ = -1;
    bool running_ = false;
    Uint32 iterations_ = 1;
};

class SdlDevice final : public IDirectInputDevice8A {
public:
    SdlDevice(SDL_JoystickID id, SDL_JoystickGUID product) : instance_(id), product_(product) {}
    ~SdlDevice() override
    {
        for (SdlEffect* e : effects_) e->Orphan();
        Close();
    }
    HRESULT Open(int deviceIndex);

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override
    {
        if (format == nullptr || format->dwDataSize != sizeof(DIJOYSTATE)) return DIERR_INVALIDPARAM;
        if (acquired_) return DIERR_INVALIDPARAM;
        formatSet_ = true;
        return DI_OK;
    }
    // SDL shares every device: no exclusive mode, background events are allowed.
    HRESULT SetCooperativeLevel(HWND, DWORD) override { return DI_OK; }
    HRESULT EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* context, DWORD flags) override;
    HRESULT SetProperty(DWORD property, const DIPROPHEADER* header) override;
    HRESULT CreateEffect(const GUID& kind, const DIEFFECT* effect, IDirectInputEffect** out, void* outer) override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override
    {
        if (!acquired_) return DI_NOEFFECT;
        acquired_ = false;
        return DI_OK;
    }
    HRESULT Poll() override;
    HRESULT GetDeviceState(DWORD size, void* data) override;
    ULONG Release() override
    {
        delete this;
        return 0;
    }

    SDL_Haptic* Haptic() const { return haptic_; }
    bool Attached() const { return joystick_ != nullptr && SDL_JoystickGetAttached(joystick_); }
    void Drop(SdlEffect* effect) { effects_.erase(std::remove(effects_.begin(), effects_.end(), effect), effects_.end()); }

private:
    // The axes in DIJOYSTATE order of offsets: X, Y, Rz (present ones only).
    struct Axis {
        DWORD offset;
        int sdlAxis;              // joystick axis, or SDL_GameControllerAxis for a game controller
        LONG minimum = -32768;
        LONG maximum = 32767;
    };
    void Close()
    {
        if (haptic_ != nullptr) SDL_HapticClose(haptic_);
        if (controller_ != nullptr) SDL_GameControllerClose(controller_);
        else if (joystick_ != nullptr) SDL_JoystickClose(joystick_);
        haptic_ = nullptr;
        controller_ = nullptr;
        joystick_ = nullptr;
    }
    Axis* AxisById(DWORD type);
    LONG ReadAxis(const Axis& axis) const;

    SDL_JoystickID instance_;
    SDL_JoystickGUID product_;
    SDL_Joystick* joystick_ = nullptr;
    SDL_GameController* controller_ = nullptr;
    SDL_Haptic* haptic_ = nullptr;
    bool hadHaptic_ = false;
    bool formatSet_ = false;
    bool acquired_ = false;
    std::vector<Axis> axes_;
    std::vector<SdlEffect*> effects_;
};

HRESULT SdlDevice::Open(int deviceIndex)
{
    Close();
    if (SDL_IsGameController(deviceIndex)) {
        controller_ = SDL_GameControllerOpen(deviceIndex);
        if (controller_ == nullptr) return DIERR_DEVICENOTREG;
        joystick_ = SDL_GameControllerGetJoystick(controller_);
    } else {
        joystick_ = SDL_JoystickOpen(deviceIndex);
        if (joystick_ == nullptr) return DIERR_DEVICENOTREG;
    }
    instance_ = SDL_JoystickInstanceID(joystick_);
    if (SDL_JoystickIsHaptic(joystick_) == SDL_TRUE) haptic_ = SDL_HapticOpenFromJoystick(joystick_);
    if (hadHaptic_ && haptic_ == nullptr) {
        Close();
        return DIERR_INPUTLOST;
    }
    hadHaptic_ = haptic_ != nullptr;

    // Axis ranges survive a reopen; the layout is taken afresh.
    std::vector<Axis> old = std::move(axes_);
    axes_.clear();
    if (controller_ != nullptr) {
        axes_.push_back({DIJOFS_X, SDL_CONTROLLER_AXIS_LEFTX});
        axes_.push_back({DIJOFS_Y, SDL_CONTROLLER_AXIS_LEFTY});
        axes_.push_back({DIJOFS_RZ, SDL_CONTROLLER_AXIS_RIGHTX});
    } else {
        const int count = SDL_JoystickNumAxes(joystick_);
        if (count > 0) axes_.push_back({DIJOFS_X, 0});
        if (count > 1) axes_.push_back({DIJOFS_Y, 1});
        const int twist = TwistAxisOf(joystick_);
        if (twist >= 0) axes_.push_back({DIJOFS_RZ, twist});
    }
    for (Axis& a : axes_) {
        for (const Axis& o : old) {
            if (o.offset == a.offset) {
                a.minimum = o.minimum;
                a.maximum = o.maximum;
            }
        }
    }
    return DI_OK;
}

HRESULT SdlDevice::EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACKA callback, void* context, DWORD flags)
{
    if (callback == nullptr) return DIERR_INVALIDPARAM;
    if ((flags & DIDFT_AXIS) == 0 && flags != 0) return DI_OK;
    const int actuators = haptic_ != nullptr ? SDL_HapticNumAxes(haptic_) : 0;
    for (std::size_t i = 0; i < axes_.size(); ++i) {
        DIDEVICEOBJECTINSTANCEA object{};
        object.dwSize = sizeof(object);
        object.dwOfs = axes_[i].offset;
        object.dwType = DIDFT_ABSAXIS | DIDFT_MAKEINSTANCE(static_cast<DWORD>(i));
        // The haptic layer drives the first axes, X then Y.
        object.dwFlags = static_cast<int>(i) < actuators ? DIDOI_FFACTUATOR : 0;
        static const char* const names[] = {"X Axis", "Y Axis", "Z Axis", "X Rotation", "Y Rotation", "Z Rotation"};
        std::snprintf(object.tszName, sizeof(object.tszName), "%s", names[axes_[i].offset / 4]);
        if (callback(&object, context) == DIENUM_STOP) break;
    }
    return DI_OK;
}

SdlDevice::Axis* SdlDevice::AxisById(DWORD type)
{
    const DWORD n = DIDFT_GETINSTANCE(type);
    if ((type & DIDFT_AXIS) == 0 || n >= axes_.size()) return nullptr;
    return &axes_[n];
}

HRESULT SdlDevice::SetProperty(DWORD property, const DIPROPHEADER* header)
{
    if (header == nullptr || property != DIPROP_RANGE) return DIERR_UNSUPPORTED;
    if (header->dwSize != sizeof(DIPROPRANGE) || header->dwHeaderSize != sizeof(DIPROPHEADER))
        return DIERR_INVALIDPARAM;
    const auto* range = reinterpret_cast<const DIPROPRANGE*>(header);
    if (range->lMin >= range->lMax) return DIERR_INVALIDPARAM;
    if (header->dwHow == DIPH_DEVICE) {
        for (Axis& a : axes_) {
            a.minimum = range->lMin;
            a.maximum = range->lMax;
        }
        return DI_OK;
    }
    Axis* axis = nullptr;
    if (header->dwHow == DIPH_BYID) {
        axis = AxisById(header->dwObj);
    } else if (header->dwHow == DIPH_BYOFFSET) {
        for (Axis& a : axes_) {
            if (a.offset == header->dwObj) axis = &a;
        }
    }
    if (axis == nullptr) return DIERR_INVALIDPARAM;
    axis->minimum = range->lMin;
    axis->maximum = range->lMax;
    return DI_OK;
}

HRESULT SdlDevice::CreateEffect(const GUID& kind, const DIEFFECT* effect, IDirectInputEffect** out, void* outer)
{
    if (out == nullptr || outer != nullptr) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (haptic_ == nullptr) return DIERR_UNSUPPORTED;
    if (kind != GUID_ConstantForce && kind != GUID_Square) return DIERR_UNSUPPORTED;
    auto* created = new SdlEffect(this, kind);
    HRESULT hr = created->Configure(effect, DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS | DIEP_DURATION | DIEP_GAIN);
    if (SUCCEEDED(hr)) hr = created->Upload(haptic_);
    if (FAILED(hr)) {
        created->Orphan();
        delete created;
        return hr;
    }
    effects_.push_back(created);
    *out = created;
    return DI_OK;
}

HRESULT SdlDevice::Acquire()
{
    if (!formatSet_) return DIERR_INVALIDPARAM;
    if (!Attached()) {
        // The old handle and its effect ids are gone; open the same product anew.
        acquired_ = false;
        for (SdlEffect* e : effects_) e->Forget();
        Close();
        SDL_JoystickUpdate();
        int index = -1;
        for (int i = 0; i < SDL_NumJoysticks() && index < 0; ++i) {
            if (std::memcmp(SDL_JoystickGetDeviceGUID(i).data, product_.data, sizeof(product_.data)) == 0) index = i;
        }
        if (index < 0) return DIERR_INPUTLOST;
        if (FAILED(Open(index))) return DIERR_INPUTLOST;
        for (SdlEffect* e : effects_) {
            if (FAILED(e->Upload(haptic_))) {
                Close();
                return DIERR_INPUTLOST;
            }
        }
    }
    if (acquired_) return DI_NOEFFECT;
    acquired_ = true;
    return DI_OK;
}

HRESULT SdlDevice::Poll()
{
    if (!acquired_) return DIERR_NOTACQUIRED;
    SDL_JoystickUpdate();
    if (!Attached()) {
        acquired_ = false;
        return DIERR_INPUTLOST;
    }
    return DI_OK;
}

LONG SdlDevice::ReadAxis(const Axis& axis) const
{
    const int raw = controller_ != nullptr
                        ? SDL_GameControllerGetAxis(controller_, static_cast<SDL_GameControllerAxis>(axis.sdlAxis))
                        : SDL_JoystickGetAxis(joystick_, axis.sdlAxis);
    return ScaleAxis(raw, axis.minimum, axis.maximum);
}

HRESULT SdlDevice::GetDeviceState(DWORD size, void* data)
{
    if (data == nullptr || size != sizeof(DIJOYSTATE)) return DIERR_INVALIDPARAM;
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (!Attached()) return DIERR_INPUTLOST;
    DIJOYSTATE state{};
    for (DWORD& pov : state.rgdwPOV) pov = POV_CENTERED;
    for (const Axis& a : axes_) {
        reinterpret_cast<LONG*>(&state)[a.offset / 4] = ReadAxis(a);
    }
    if (controller_ != nullptr) {
        // A, B, X, Y, back, guide, start, stick presses, shoulders; the d-pad is the hat.
        for (int b = 0; b < SDL_CONTROLLER_BUTTON_DPAD_UP; ++b) {
            if (SDL_GameControllerGetButton(controller_, static_cast<SDL_GameControllerButton>(b)))
                state.rgbButtons[b] = BUTTON_DOWN;
        }
        std::uint8_t hat = SDL_HAT_CENTERED;
        if (SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_DPAD_UP)) hat |= SDL_HAT_UP;
        if (SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_DPAD_DOWN)) hat |= SDL_HAT_DOWN;
        if (SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_DPAD_LEFT)) hat |= SDL_HAT_LEFT;
        if (SDL_GameControllerGetButton(controller_, SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) hat |= SDL_HAT_RIGHT;
        state.rgdwPOV[0] = HatToPov(hat);
    } else {
        const int buttons = std::min(SDL_JoystickNumButtons(joystick_), 32);
        for (int b = 0; b < buttons; ++b) {
            if (SDL_JoystickGetButton(joystick_, b)) state.rgbButtons[b] = BUTTON_DOWN;
        }
        const int hats = std::min(SDL_JoystickNumHats(joystick_), 4);
        for (int h = 0; h < hats; ++h) state.rgdwPOV[h] = HatToPov(SDL_JoystickGetHat(joystick_, h));
    }
    std::memcpy(data, &state, sizeof(state));
    return DI_OK;
}

HRESULT SdlEffect::Configure(const DIEFFECT* effect, DWORD flags)
{
    return ApplyEffectParameters(effect_, kind_, effect, flags);
}

HRESULT SdlEffect::Upload(SDL_Haptic* haptic)
{
    if (haptic == nullptr) return DIERR_INPUTLOST;
    id_ = SDL_HapticNewEffect(haptic, &effect_);
    if (id_ < 0) return DIERR_UNSUPPORTED;
    if (running_ && SDL_HapticRunEffect(haptic, id_, iterations_) != 0) return DIERR_INPUTLOST;
    return DI_OK;
}

HRESULT SdlEffect::SetParameters(const DIEFFECT* effect, DWORD flags)
{
    if (device_ == nullptr) return DIERR_NOTINITIALIZED;
    const HRESULT hr = Configure(effect, flags);
    if (FAILED(hr)) return hr;
    // While the device is lost the values are kept for the upload on its return.
    if (id_ < 0 || !device_->Attached()) return DI_OK;
    return SDL_HapticUpdateEffect(device_->Haptic(), id_, &effect_) == 0 ? DI_OK : DIERR_INPUTLOST;
}

HRESULT SdlEffect::Start(DWORD iterations, DWORD)
{
    if (device_ == nullptr) return DIERR_NOTINITIALIZED;
    running_ = true;
    iterations_ = iterations == INFINITE ? SDL_HAPTIC_INFINITY : iterations;
    if (id_ < 0 || !device_->Attached()) return DIERR_INPUTLOST;
    return SDL_HapticRunEffect(device_->Haptic(), id_, iterations_) == 0 ? DI_OK : DIERR_INPUTLOST;
}

HRESULT SdlEffect::Stop()
{
    if (device_ == nullptr) return DIERR_NOTINITIALIZED;
    running_ = false;
    if (id_ < 0 || !device_->Attached()) return DI_OK;
    return SDL_HapticStopEffect(device_->Haptic(), id_) == 0 ? DI_OK : DIERR_INPUTLOST;
}

ULONG SdlEffect::Release()
{
    if (device_ != nullptr) {
        if (id_ >= 0 && device_->Attached()) SDL_HapticDestroyEffect(device_->Haptic(), id_);
        device_->Drop(this);
    }
    delete this;
    return 0;
}

class SdlInput final : public IDirectInput8A {
public:
    ~SdlInput() override { SDL_QuitSubSystem(kSubsystems); }

    HRESULT EnumDevices(DWORD deviceClass, LPDIENUMDEVICESCALLBACKA callback, void* context, DWORD flags) override
    {
        if (callback == nullptr) return DIERR_INVALIDPARAM;
        if (deviceClass != DI8DEVCLASS_GAMECTRL) return DI_OK;
        SDL_JoystickUpdate();
        const int count = SDL_NumJoysticks();
        for (int i = 0; i < count; ++i) {
            if ((flags & DIEDFL_FORCEFEEDBACK) != 0 && !HasForceFeedback(i)) continue;
            DIDEVICEINSTANCEA instance{};
            instance.dwSize = sizeof(instance);
            instance.guidInstance = InstanceGuid(SDL_JoystickGetDeviceInstanceID(i));
            instance.guidProduct = ProductGuid(SDL_JoystickGetDeviceGUID(i));
            instance.dwDevType = DI8DEVCLASS_GAMECTRL;
            const char* name = SDL_JoystickNameForIndex(i);
            std::snprintf(instance.tszInstanceName, sizeof(instance.tszInstanceName), "%s", name ? name : "");
            std::snprintf(instance.tszProductName, sizeof(instance.tszProductName), "%s", name ? name : "");
            if (callback(&instance, context) == DIENUM_STOP) break;
        }
        return DI_OK;
    }

    HRESULT CreateDevice(const GUID& instance, IDirectInputDevice8A** out, void* outer) override
    {
        if (out == nullptr || outer != nullptr) return DIERR_INVALIDPARAM;
        *out = nullptr;
        if (instance.Data2 != kInstanceMark) return DIERR_DEVICENOTREG;
        const auto id = static_cast<SDL_JoystickID>(instance.Data1);
        const int index = DeviceIndexOfInstance(id);
        if (index < 0) return DIERR_DEVICENOTREG;
        auto* device = new SdlDevice(id, SDL_JoystickGetDeviceGUID(index));
        const HRESULT hr = device->Open(index);
        if (FAILED(hr)) {
            device->Release();
            return hr;
        }
        *out = device;
        return DI_OK;
    }

    ULONG Release() override
    {
        delete this;
        return 0;
    }

private:
    // Haptic, and able to play the stick force and the vibration.
    static bool HasForceFeedback(int index)
    {
        SDL_Joystick* j = SDL_JoystickOpen(index);
        if (j == nullptr) return false;
        bool plays = false;
        if (SDL_JoystickIsHaptic(j) == SDL_TRUE) {
            if (SDL_Haptic* h = SDL_HapticOpenFromJoystick(j)) {
                plays = PlaysStickEffects(SDL_HapticQuery(h));
                SDL_HapticClose(h);
            }
        }
        SDL_JoystickClose(j);
        return plays;
    }
};

DirectInputBackend g_backend = nullptr;

}  // namespace

HRESULT CreateSdlDirectInput(IDirectInput8A** out)
{
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(kSubsystems) != 0) return DIERR_NOTINITIALIZED;
    *out = new SdlInput();
    return DI_OK;
}

void SetDirectInputBackend(DirectInputBackend backend) { g_backend = backend; }

HRESULT DirectInput8Create(HINSTANCE, DWORD version, const GUID& iid, void** out, void* outer)
{
    if (out == nullptr) return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer != nullptr || iid != IID_IDirectInput8A) return E_NOINTERFACE;
    if (version != DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
    IDirectInput8A* input = nullptr;
    const HRESULT hr = g_backend != nullptr ? g_backend(&input) : CreateSdlDirectInput(&input);
    if (FAILED(hr)) return hr;
    *out = input;
    return DI_OK;
}
