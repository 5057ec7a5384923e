#include "view/cockpit_app.h"
#include "view/link.h"
#include "view/state.h"

#include <atomic>

namespace {

constexpr float kStep = 0.017453292f;    // one degree
constexpr float kLimit = 0.5235988f;     // thirty degrees

// Steps a stick value one degree while it is inside the limit (the test comes
// first, so it may end up to one degree past).
void StepUp(std::atomic<float>& value)
{
    if (value.load() < kLimit) value = value.load() + kStep;
}
void StepDown(std::atomic<float>& value)
{
    if (value.load() > -kLimit) value = value.load() - kStep;
}

// Adds an impulse given in the own vessel's axes to its velocity.
void Impulse(float up, bool moreWhenLanded)
{
    const std::uint8_t own = OwnVesselIndex.load();
    if (!IsVesselNumber(own)) return;
    VesselState& vessel = Vessels[own];
    ScopedSection lock(vessel.Lock);
    const D3DXVECTOR3 kick(0.0f, moreWhenLanded && vessel.Landed ? 0.05f : up, 0.0f);
    D3DXVECTOR3 turned;
    D3DXVec3TransformNormal(&turned, &kick, &vessel.WorldMatrix);
    vessel.Velocity += turned;
}

void FlightKey(WPARAM key)
{
    switch (key) {
    case VK_END: StepUp(StickRoll); break;
    case VK_HOME: StepDown(StickRoll); break;
    case VK_RIGHT: StepUp(StickYaw); break;
    case VK_LEFT: StepDown(StickYaw); break;
    case VK_DOWN: StepUp(StickPitch); break;
    case VK_UP: StepDown(StickPitch); break;
    case VK_INSERT:
        if (DorMode == 1) {
            DorMode = 0;
        } else {
            DorMode = 1;
            TvmMode = 0;
        }
        ThrustSetting = 0.0f;
        break;
    case VK_DELETE:
        if (TvmMode == 1) {
            TvmMode = 0;
        } else {
            TvmMode = 1;
            DorMode = 0;
        }
        ThrustSetting = 0.0f;
        break;
    case VK_MULTIPLY: ThrustSetting += 1.0f; break;
    case VK_ADD: ThrustSetting += 0.001f; break;
    case VK_SUBTRACT: ThrustSetting -= 0.001f; break;
    case VK_DIVIDE: ThrustSetting -= 1.0f; break;
    case VK_F1:
        StickYaw = 0.0f;
        StickPitch = 0.0f;
        StickRoll = 0.0f;
        break;
    case VK_F8:
        TouchdownLatched = 0;
        Impulse(0.02f, true);
        break;
    case VK_F9:
        TouchdownLatched = 0;
        Impulse(-0.02f, false);
        break;
    default: break;
    }
}

void CommonKey(WPARAM key)
{
    switch (key) {
    case VK_TAB:
        TargetIndex += 1;
        if (TargetIndex == OwnVesselIndex.load()) TargetIndex += 1;
        if (TargetIndex == VESSEL_COUNT) TargetIndex = -3;
        break;
    case VK_F3:
        RvrSetting -= 1.0f;
        if (RvrSetting < 1.0f) RvrSetting = 1.0f;
        break;
    case VK_F4: RvrSetting += 1.0f; break;
    case VK_F6: FireWeapon(); break;
    default: break;
    }
}

}  // namespace

LRESULT CockpitApplication::HandleWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONTEXTMENU) return 0;

    // Compared on every message, as the character codes arrive with WM_CHAR; the
    // key-down of a key whose virtual code has the same value toggles too.
    switch (LOWORD(wParam)) {
    case 'a': ThrustAugEnabled = !ThrustAugEnabled; break;
    case 'l':
        LandingLightOn = LandingLightOn == 1 ? 0 : 1;
        if (Device != nullptr) Device->LightEnable(LANDING_LIGHT_INDEX, LandingLightOn);
        break;
    case 'r': YawFromThrust = !YawFromThrust; break;
    default: break;
    }

    if (message == WM_KEYDOWN) {
        if (PropulsionEnabled == 1) FlightKey(wParam);
        CommonKey(wParam);
    }
    return GraphicsApplication::HandleWindowMessage(hwnd, message, wParam, lParam);
}
