// The SDL2 backend: value conversions, and a whole device on SDL's virtual joysticks.
#include "platform/input/dinput.h"
#include "platform/input/sdl_convert.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

TEST(SdlInputValues, AxesHatsAndForceLevels)
{
    EXPECT_EQ(ScaleAxis(-32768, -1000, 1000), -1000);
    EXPECT_EQ(ScaleAxis(32767, -1000, 1000), 1000);
    EXPECT_EQ(ScaleAxis(0, -1000, 1000), 0);
    EXPECT_EQ(ScaleAxis(16384, -1000, 1000), 500);   // 49152 * 2000 / 65535 = 1500.02
    EXPECT_EQ(ScaleAxis(-16384, 0, 100), 25);         // 16384 * 100 / 65535 = 25.0004

    EXPECT_EQ(HatToPov(SDL_HAT_CENTERED), POV_CENTERED);
    EXPECT_EQ(HatToPov(SDL_HAT_UP), 0u);
    EXPECT_EQ(HatToPov(SDL_HAT_RIGHT), 9000u);
    EXPECT_EQ(HatToPov(SDL_HAT_DOWN), 18000u);
    EXPECT_EQ(HatToPov(SDL_HAT_LEFTUP), 31500u);
    EXPECT_EQ(HatToPov(SDL_HAT_UP | SDL_HAT_DOWN), POV_CENTERED);

    EXPECT_EQ(ForceLevel(0), 0);
    EXPECT_EQ(ForceLevel(5000), 16383);
    EXPECT_EQ(ForceLevel(10000), 32767);
    // Beyond the nominal maximum the force stays at full strength in the same direction.
    EXPECT_EQ(ForceLevel(10001), 32767);
    EXPECT_EQ(ForceLevel(2000000000), 32767);
    EXPECT_EQ(ForceLevel(-40), 0);

    // Only a device that plays both effects is a force-feedback stick; a rumble pad
    // (left/right motors) is a plain controller.
    EXPECT_TRUE(PlaysStickEffects(SDL_HAPTIC_CONSTANT | SDL_HAPTIC_SINE | SDL_HAPTIC_GAIN));
    EXPECT_FALSE(PlaysStickEffects(SDL_HAPTIC_LEFTRIGHT | SDL_HAPTIC_SINE));
    EXPECT_FALSE(PlaysStickEffects(SDL_HAPTIC_CONSTANT | SDL_HAPTIC_TRIANGLE));
}

TEST(SdlInputValues, TwistIsTheAxisCodedRz)
{
    auto bits = [](std::initializer_list<int> codes) {
        std::vector<unsigned long> b((ABS_CNT + 63) / 64 + 1, 0);
        for (int c : codes) b[c / (8 * sizeof(unsigned long))] |= 1UL << (c % (8 * sizeof(unsigned long)));
        return b;
    };
    const int n = ABS_CNT;
    EXPECT_EQ(TwistAxisFromAbsBits(bits({ABS_X, ABS_Y, ABS_RZ}).data(), n), 2);
    EXPECT_EQ(TwistAxisFromAbsBits(bits({ABS_X, ABS_Y, ABS_RX, ABS_RZ, ABS_THROTTLE}).data(), n), 3);
    EXPECT_EQ(TwistAxisFromAbsBits(bits({ABS_X, ABS_Y, ABS_Z, ABS_RX, ABS_RY, ABS_RZ, ABS_HAT0X}).data(), n), 5);
    EXPECT_EQ(TwistAxisFromAbsBits(bits({ABS_X, ABS_Y, ABS_THROTTLE, ABS_HAT0X}).data(), n), -1);
    EXPECT_EQ(TwistAxisFromAbsBits(bits({ABS_Y, ABS_RZ}).data(), n), 1);
}

namespace {

struct Found {
    std::vector<DIDEVICEINSTANCEA> devices;
};
BOOL CollectDevice(const DIDEVICEINSTANCEA* instance, void* context)
{
    static_cast<Found*>(context)->devices.push_back(*instance);
    return DIENUM_CONTINUE;
}
BOOL CollectObject(const DIDEVICEOBJECTINSTANCEA* object, void* context)
{
    static_cast<std::vector<DIDEVICEOBJECTINSTANCEA>*>(context)->push_back(*object);
    return DIENUM_CONTINUE;
}

int AttachVirtual(SDL_JoystickType type, int axes, int buttons, int hats, const char* name)
{
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = static_cast<Uint16>(type);
    desc.naxes = static_cast<Uint16>(axes);
    desc.nbuttons = static_cast<Uint16>(buttons);
    desc.nhats = static_cast<Uint16>(hats);
    desc.vendor_id = 0x1234;
    desc.product_id = 0x5678;
    desc.name = name;
    return SDL_JoystickAttachVirtualEx(&desc);
}

class SdlVirtualDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        void* raw = nullptr;
        ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &raw, nullptr), DI_OK);
        input = static_cast<IDirectInput8A*>(raw);
    }
    void TearDown() override
    {
        if (device != nullptr) device->Release();
        if (handle != nullptr) SDL_JoystickClose(handle);
        while (SDL_NumJoysticks() > 0) SDL_JoystickDetachVirtual(0);
        input->Release();
    }
    // Enumerates, creates and sets up the only attached device; opens a handle to drive it.
    void OpenOnly(int index)
    {
        Found all, ff;
        ASSERT_EQ(input->EnumDevices(DI8DEVCLASS_GAMECTRL, CollectDevice, &all, DIEDFL_ATTACHEDONLY), DI_OK);
        ASSERT_EQ(input->EnumDevices(DI8DEVCLASS_GAMECTRL, CollectDevice, &ff,
                                     DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK), DI_OK);
        ASSERT_EQ(all.devices.size(), 1u);
        EXPECT_TRUE(ff.devices.empty());  // virtual joysticks have no haptic side
        ASSERT_EQ(input->CreateDevice(all.devices[0].guidInstance, &device, nullptr), DI_OK);
        ASSERT_EQ(device->SetDataFormat(&c_dfDIJoystick), DI_OK);
        ASSERT_EQ(device->SetCooperativeLevel(nullptr, DISCL_EXCLUSIVE | DISCL_BACKGROUND), DI_OK);
        ASSERT_EQ(device->EnumObjects(CollectObject, &objects, DIDFT_AXIS), DI_OK);
        for (const DIDEVICEOBJECTINSTANCEA& o : objects) {
            EXPECT_EQ(o.dwFlags & DIDOI_FFACTUATOR, 0u);
            DIPROPRANGE range{{sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), o.dwType, DIPH_BYID}, -1000, 1000};
            ASSERT_EQ(device->SetProperty(DIPROP_RANGE, &range.diph), DI_OK);
        }
        ASSERT_EQ(device->Acquire(), DI_OK);
        handle = SDL_JoystickOpen(index);
        ASSERT_NE(handle, nullptr);
    }
    DIJOYSTATE Read()
    {
        DIJOYSTATE s{};
        EXPECT_EQ(device->Poll(), DI_OK);
        EXPECT_EQ(device->GetDeviceState(sizeof(s), &s), DI_OK);
        return s;
    }

    IDirectInput8A* input = nullptr;
    IDirectInputDevice8A* device = nullptr;
    SDL_Joystick* handle = nullptr;
    std::vector<DIDEVICEOBJECTINSTANCEA> objects;
};

}  // namespace

TEST_F(SdlVirtualDevice, StickAxesHatButtonsTwistAndReattach)
{
    const int index = AttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 4, 4, 1, "Virtual Stick");
    ASSERT_GE(index, 0);
    OpenOnly(index);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0].dwOfs, DIJOFS_X);
    EXPECT_EQ(objects[1].dwOfs, DIJOFS_Y);
    EXPECT_EQ(objects[2].dwOfs, DIJOFS_RZ);

    SDL_JoystickSetVirtualAxis(handle, 0, -32768);
    SDL_JoystickSetVirtualAxis(handle, 1, 32767);
    SDL_JoystickSetVirtualAxis(handle, 2, 16384);   // no event node: the twist is axis 2
    SDL_JoystickSetVirtualAxis(handle, 3, -32768);
    SDL_JoystickSetVirtualButton(handle, 1, SDL_PRESSED);
    SDL_JoystickSetVirtualHat(handle, 0, SDL_HAT_RIGHTDOWN);
    DIJOYSTATE s = Read();
    EXPECT_EQ(s.lX, -1000);
    EXPECT_EQ(s.lY, 1000);
    EXPECT_EQ(s.lRz, 500);
    EXPECT_EQ(s.lZ, 0);
    EXPECT_EQ(s.rgbButtons[0], 0);
    EXPECT_EQ(s.rgbButtons[1], BUTTON_DOWN);
    EXPECT_EQ(s.rgdwPOV[0], 13500u);
    EXPECT_EQ(s.rgdwPOV[1], POV_CENTERED);

    SDL_JoystickSetVirtualHat(handle, 0, SDL_HAT_CENTERED);
    SDL_JoystickSetVirtualButton(handle, 1, SDL_RELEASED);
    s = Read();
    EXPECT_EQ(s.rgdwPOV[0], POV_CENTERED);
    EXPECT_EQ(s.rgbButtons[1], 0);

    // Unplugged: polling fails and so does a re-acquire until the stick is back.
    SDL_JoystickClose(handle);
    handle = nullptr;
    ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
    EXPECT_EQ(device->Poll(), DIERR_INPUTLOST);
    EXPECT_TRUE(FAILED(device->Acquire()));
    EXPECT_TRUE(FAILED(device->Poll()));

    const int again = AttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 4, 4, 1, "Virtual Stick");
    ASSERT_GE(again, 0);
    ASSERT_EQ(device->Acquire(), DI_OK);
    handle = SDL_JoystickOpen(again);
    ASSERT_NE(handle, nullptr);
    SDL_JoystickSetVirtualAxis(handle, 0, 32767);
    s = Read();
    EXPECT_EQ(s.lX, 1000);   // the range set before the loss still holds
    EXPECT_EQ(s.lY, 0);
}

TEST_F(SdlVirtualDevice, GamepadUsesItsMapping)
{
    const int index = AttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 0, "Virtual Pad");
    ASSERT_GE(index, 0);
    ASSERT_TRUE(SDL_IsGameController(index));
    OpenOnly(index);
    ASSERT_EQ(objects.size(), 3u);

    SDL_JoystickSetVirtualAxis(handle, SDL_CONTROLLER_AXIS_LEFTX, 32767);
    SDL_JoystickSetVirtualAxis(handle, SDL_CONTROLLER_AXIS_LEFTY, -32768);
    SDL_JoystickSetVirtualAxis(handle, SDL_CONTROLLER_AXIS_RIGHTX, -32768);
    SDL_JoystickSetVirtualAxis(handle, SDL_CONTROLLER_AXIS_RIGHTY, 32767);
    SDL_JoystickSetVirtualButton(handle, SDL_CONTROLLER_BUTTON_A, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(handle, SDL_CONTROLLER_BUTTON_DPAD_DOWN, SDL_PRESSED);
    DIJOYSTATE s = Read();
    EXPECT_EQ(s.lX, 1000);
    EXPECT_EQ(s.lY, -1000);
    EXPECT_EQ(s.lRz, -1000);
    EXPECT_EQ(s.rgbButtons[0], BUTTON_DOWN);
    EXPECT_EQ(s.rgbButtons[1], 0);
    EXPECT_EQ(s.rgdwPOV[0], 18000u);

    SDL_JoystickSetVirtualButton(handle, SDL_CONTROLLER_BUTTON_A, SDL_RELEASED);
    SDL_JoystickSetVirtualButton(handle, SDL_CONTROLLER_BUTTON_B, SDL_PRESSED);
    s = Read();
    EXPECT_EQ(s.rgbButtons[0], 0);
    EXPECT_EQ(s.rgbButtons[1], BUTTON_DOWN);
}

TEST(SdlInputObject, RefusesOtherVersionsAndInterfaces)
{
    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &raw, nullptr), DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, GUID_Square, &raw, nullptr), E_NOINTERFACE);
}

TEST(SdlInputValues, EffectsBecomeSdlEffects)
{
    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG direction[2] = {3, -4};
    DICONSTANTFORCE constant{20000};
    DIEFFECT e{};
    e.dwSize = sizeof e;
    e.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
    e.dwDuration = INFINITE;
    e.cAxes = 2;
    e.rgdwAxes = axes;
    e.rglDirection = direction;
    e.cbTypeSpecificParams = sizeof constant;
    e.lpvTypeSpecificParams = &constant;
    SDL_HapticEffect stick{};
    ASSERT_EQ(ApplyEffectParameters(stick, GUID_ConstantForce, &e, DIEP_DURATION | DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS),
              DI_OK);
    EXPECT_EQ(stick.type, SDL_HAPTIC_CONSTANT);
    EXPECT_EQ(stick.constant.length, SDL_HAPTIC_INFINITY);
    EXPECT_EQ(stick.constant.direction.type, SDL_HAPTIC_CARTESIAN);
    EXPECT_EQ(stick.constant.direction.dir[0], 3);
    EXPECT_EQ(stick.constant.direction.dir[1], -4);
    EXPECT_EQ(stick.constant.level, 32767);   // clamped to full strength, not wrapped

    // Parameters only: the direction stays.
    constant.lMagnitude = 2500;
    ASSERT_EQ(ApplyEffectParameters(stick, GUID_ConstantForce, &e, DIEP_TYPESPECIFICPARAMS), DI_OK);
    EXPECT_EQ(stick.constant.level, 8191);
    EXPECT_EQ(stick.constant.direction.dir[1], -4);

    DIPERIODIC periodic{5000, 0, 0, 30000};
    LONG sideways[2] = {1, 0};
    e.rglDirection = sideways;
    e.cbTypeSpecificParams = sizeof periodic;
    e.lpvTypeSpecificParams = &periodic;
    SDL_HapticEffect shake{};
    ASSERT_EQ(ApplyEffectParameters(shake, GUID_Square, &e, DIEP_DURATION | DIEP_DIRECTION | DIEP_TYPESPECIFICPARAMS),
              DI_OK);
    EXPECT_EQ(shake.type, SDL_HAPTIC_SINE);
    EXPECT_EQ(shake.periodic.period, 30);   // milliseconds
    EXPECT_EQ(shake.periodic.magnitude, 16383);
    EXPECT_EQ(shake.periodic.length, SDL_HAPTIC_INFINITY);
    EXPECT_EQ(shake.periodic.direction.dir[0], 1);

    // A constant force's parameters do not fit a square wave.
    e.cbTypeSpecificParams = sizeof constant;
    EXPECT_EQ(ApplyEffectParameters(shake, GUID_Square, &e, DIEP_TYPESPECIFICPARAMS), DIERR_INVALIDPARAM);
    e.dwFlags = DIEFF_POLAR;
    EXPECT_EQ(ApplyEffectParameters(shake, GUID_Square, &e, DIEP_DIRECTION), DIERR_INVALIDPARAM);
}
