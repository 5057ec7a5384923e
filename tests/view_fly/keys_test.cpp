// Keys through the window layer's injected input into the cockpit application, and
// the frame's lights, with a recorded device.
#include "fly_fixture.h"
#include "tests/font/font_fixture.h"
#include "platform/ui/window.h"
#include "view/cockpit_app.h"

#include <cstring>
#include <memory>

using flytest::Deg;

namespace {

int g_popups = 0;
UINT CountPopup(HMENU, int, int)
{
    ++g_popups;
    return 0;
}

class CockpitKeys : public RecordedDevice {
protected:
    void SetUp() override
    {
        flytest::ResetFlightState();
        flytest::MakeOwnVessel(3);
        PropulsionEnabled = 1;
        SetHeadlessWindows(true);
        RecordedDevice::SetUp();
        ASSERT_NE(device_, nullptr);
        app_ = std::make_unique<CockpitApplication>();
        app_->Device = device_;
        WNDCLASSA wc{};
        wc.lpfnWndProc = GraphicsApplication::StaticWindowProc;
        wc.lpszClassName = "Cockpit keys";
        RegisterClassA(&wc);
        window_ = CreateWindowA("Cockpit keys", "keys", 0, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        Pump();
        g_popups = 0;
        SetPopupMenuChooser(CountPopup);
    }
    void TearDown() override
    {
        SetPopupMenuChooser(nullptr);
        app_->Device = nullptr;
        DestroyWindow(window_);
        ResetMessageQueueForTests();
        app_.reset();
        RecordedDevice::TearDown();
    }
    void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    void Down(WORD vk)
    {
        InjectKey(window_, vk, true);
        Pump();
    }
    void Up(WORD vk)
    {
        InjectKey(window_, vk, false);
        Pump();
    }
    void Tap(WORD vk)
    {
        Down(vk);
        Up(vk);
    }

    std::unique_ptr<CockpitApplication> app_;
    HWND window_ = nullptr;
};

}  // namespace

TEST_F(CockpitKeys, StickKeysStepOneDegreeWhileInsideThirty)
{
    struct Axis {
        WORD more, less;
        std::atomic<float>* value;
    };
    for (const Axis& a : {Axis{VK_END, VK_HOME, &StickRoll}, Axis{VK_RIGHT, VK_LEFT, &StickYaw},
                          Axis{VK_DOWN, VK_UP, &StickPitch}}) {
        *a.value = Deg(29.5f);
        Down(a.more);
        EXPECT_FLOAT_EQ(a.value->load(), Deg(30.5f));
        Down(a.more);   // auto-repeat: past the limit nothing moves
        EXPECT_FLOAT_EQ(a.value->load(), Deg(30.5f));
        Up(a.more);
        *a.value = -Deg(29.5f);
        Down(a.less);
        EXPECT_FLOAT_EQ(a.value->load(), -Deg(30.5f));
        Tap(a.less);
        EXPECT_FLOAT_EQ(a.value->load(), -Deg(30.5f));
    }
    Tap(VK_F1);
    EXPECT_EQ(StickRoll.load(), 0.0f);
    EXPECT_EQ(StickYaw.load(), 0.0f);
    EXPECT_EQ(StickPitch.load(), 0.0f);
}

TEST_F(CockpitKeys, ModesAreExclusiveAndClearTheThrust)
{
    for (WORD k : {VK_MULTIPLY, VK_ADD, VK_ADD, VK_SUBTRACT}) Tap(k);
    EXPECT_FLOAT_EQ(ThrustSetting, 1.001f);
    Tap(VK_DIVIDE);
    EXPECT_NEAR(ThrustSetting, 0.001f, 1e-6f);

    Tap(VK_INSERT);
    EXPECT_EQ(DorMode, 1);
    EXPECT_EQ(TvmMode, 0);
    EXPECT_EQ(ThrustSetting, 0.0f);
    ThrustSetting = 0.5f;
    Tap(VK_DELETE);
    EXPECT_EQ(DorMode, 0);
    EXPECT_EQ(TvmMode, 1);
    EXPECT_EQ(ThrustSetting, 0.0f);
    Tap(VK_INSERT);
    EXPECT_EQ(DorMode, 1);
    EXPECT_EQ(TvmMode, 0);
    ThrustSetting = -0.2f;
    Tap(VK_INSERT);
    EXPECT_EQ(DorMode, 0);
    EXPECT_EQ(TvmMode, 0);
    EXPECT_EQ(ThrustSetting, 0.0f);
}

TEST_F(CockpitKeys, WithoutPropulsionOnlyTargetVisibilityWeaponAndCharactersAct)
{
    PropulsionEnabled = 0;
    StickRoll = 0.1f;
    TouchdownLatched = 1;
    Vessels[3].Velocity = D3DXVECTOR3(0.1f, 0.2f, 0.3f);
    for (WORD k : {VK_END, VK_HOME, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_MULTIPLY, VK_ADD, VK_INSERT, VK_DELETE,
                   VK_F1, VK_F8, VK_F9})
        Tap(k);
    EXPECT_EQ(StickRoll.load(), 0.1f);
    EXPECT_EQ(StickPitch.load(), 0.0f);
    EXPECT_EQ(StickYaw.load(), 0.0f);
    EXPECT_EQ(ThrustSetting, 0.0f);
    EXPECT_EQ(DorMode, 0);
    EXPECT_EQ(TvmMode, 0);
    EXPECT_EQ(TouchdownLatched, 1);
    EXPECT_EQ(Vessels[3].Velocity, D3DXVECTOR3(0.1f, 0.2f, 0.3f));

    Tap(VK_TAB);
    EXPECT_EQ(TargetIndex, -1);
    Tap(VK_F4);
    EXPECT_EQ(RvrSetting, 3.0f);
    Tap(VK_F6);
    EXPECT_EQ(Projectiles[0].Active, 1);
    ASSERT_EQ(viewtest::Recorder().sent.size(), 1u);
    EXPECT_EQ(viewtest::Recorder().sent[0].bytes.size(), EVENT_PACKET_SIZE);
    Tap('A');   // its character 'a' toggles
    EXPECT_EQ(ThrustAugEnabled, 0);
}

TEST_F(CockpitKeys, TabSkipsTheOwnVesselAndWrapsToTheObjects)
{
    std::vector<int> seen;
    TargetIndex = -3;
    for (int i = 0; i < 11; ++i) {
        Tap(VK_TAB);
        seen.push_back(TargetIndex);
    }
    EXPECT_EQ(seen, (std::vector<int>{-2, -1, 0, 1, 2, 4, 5, 6, 7, -3, -2}));

    OwnVesselIndex = 0;
    TargetIndex = -1;
    Tap(VK_TAB);
    EXPECT_EQ(TargetIndex, 1);

    OwnVesselIndex = 7;
    TargetIndex = 6;
    Tap(VK_TAB);
    EXPECT_EQ(TargetIndex, -3);
}

TEST_F(CockpitKeys, CharacterCodesToggleOnEveryMessageThatCarriesThem)
{
    // F3 has virtual key 114 ('r'): the press toggles and lowers the visibility,
    // the release toggles back.
    RvrSetting = 1.5f;
    Down(VK_F3);
    EXPECT_EQ(YawFromThrust, 1);
    EXPECT_EQ(RvrSetting, 1.0f);
    Up(VK_F3);
    EXPECT_EQ(YawFromThrust, 0);
    EXPECT_EQ(RvrSetting, 1.0f);

    // Keypad 1 is virtual key 97 ('a'): key-down and key-up each toggle.
    Down(VK_NUMPAD1);
    EXPECT_EQ(ThrustAugEnabled, 0);
    Up(VK_NUMPAD1);
    EXPECT_EQ(ThrustAugEnabled, 1);
    Tap('R');
    EXPECT_EQ(YawFromThrust, 1);

    device_->Clear();
    Tap('L');
    EXPECT_EQ(LandingLightOn, 1);
    Tap('L');
    EXPECT_EQ(LandingLightOn, 0);
    const auto calls = device_->Named("LightEnable");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args, (std::vector<DWORD>{1, 1}));
    EXPECT_EQ(calls[1].args, (std::vector<DWORD>{1, 0}));

    app_->Device = nullptr;   // no device: the light only changes its flag
    Tap('L');
    EXPECT_EQ(LandingLightOn, 1);
}

TEST_F(CockpitKeys, LiftImpulsesTurnWithTheVessel)
{
    // Landed and level at the pole under -Z: ship -Y points away from the planet.
    VesselState& own = Vessels[3];
    own.Landed = 1;
    own.Velocity = D3DXVECTOR3(0.001f, 0.0f, 0.0f);
    own.WorldMatrix = D3DXMATRIX(1, 0, 0, 0,
                                 0, 0, 1, 0,
                                 0, -1, 0, 0,
                                 0, 0, 0, 1);
    TouchdownLatched = 1;
    Tap(VK_F9);
    EXPECT_EQ(TouchdownLatched, 0);
    EXPECT_NEAR(own.Velocity.x, 0.001f, 1e-7f);
    EXPECT_NEAR(own.Velocity.y, 0.0f, 1e-7f);
    EXPECT_NEAR(own.Velocity.z, -0.02f, 1e-7f);   // outward from the planet
    TouchdownLatched = 1;
    Tap(VK_F8);
    EXPECT_EQ(TouchdownLatched, 0);
    EXPECT_NEAR(own.Velocity.z, 0.03f, 1e-7f);    // landed: 0.05 along ship +Y
    own.Landed = 0;
    Tap(VK_F8);
    EXPECT_NEAR(own.Velocity.z, 0.05f, 1e-7f);
}

TEST_F(CockpitKeys, ContextMenuIsTakenWithoutAPopup)
{
    RegisterFrameworkResources();
    app_->Windowed = TRUE;   // where the framework would show its popup menu
    EXPECT_EQ(SendMessageA(window_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window_), PointToLParam(10, 10)), 0);
    InjectMouseButton(window_, 1, true, 10, 10);
    InjectMouseButton(window_, 1, false, 10, 10);
    Pump();
    EXPECT_EQ(g_popups, 0);
}

TEST_F(CockpitKeys, ProjectileLightFollowsTheNearestShot)
{
    FrameContext f;
    f.t = 1.0f;
    f.dt = 0.0f;
    f.device = device_;
    f.projectileLight = &app_->ProjectileLight;
    f.landingLight = &app_->LandingLight;
    f.sleep = false;
    Vessels[3].DoublePosition[0] = 3000.0;
    device_->Clear();
    ASSERT_EQ(SimulateFrame(f), S_OK);
    auto enables = device_->Named("LightEnable");
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(enables[0].args, (std::vector<DWORD>{3, 0}));

    for (int i : {2, 5}) {
        Projectiles[i].Active = 1;
        Projectiles[i].Owner = 3;
        Projectiles[i].LaunchTime = 0.5f;
    }
    Projectiles[2].Position = D3DXVECTOR3(3000.0f, 0.0f, 2.0f);
    Projectiles[5].Position = D3DXVECTOR3(3000.0f, 1.0f, 0.0f);
    Projectiles[5].Exploded = 1;
    Projectiles[5].FrameCounter = 10;
    device_->Clear();
    ASSERT_EQ(SimulateFrame(f), S_OK);
    const auto lights = device_->Named("SetLight");
    ASSERT_EQ(lights.size(), 1u);
    EXPECT_EQ(lights[0].args[0], 3u);
    EXPECT_NEAR(app_->ProjectileLight.Position.x, 0.0f, 1e-3f);
    EXPECT_NEAR(app_->ProjectileLight.Position.y, -1.0f, 1e-3f);
    EXPECT_NEAR(app_->ProjectileLight.Diffuse.r, 0.5f - 10 * 0.5f / 43, 1e-6f);
    EXPECT_NEAR(app_->ProjectileLight.Diffuse.g, 0.25f - 10 * 0.25f / 43, 1e-6f);
    EXPECT_EQ(app_->ProjectileLight.Diffuse.b, 0.0f);
    enables = device_->Named("LightEnable");
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(enables[0].args, (std::vector<DWORD>{3, 1}));

    Projectiles[5].Active = 0;
    ASSERT_EQ(SimulateFrame(f), S_OK);
    EXPECT_NEAR(app_->ProjectileLight.Position.z, -2.0f, 1e-3f);
    const D3DCOLORVALUE flying = app_->ProjectileLight.Diffuse;
    EXPECT_EQ(flying.r, 0.5f);
    EXPECT_EQ(flying.g, 1.0f);
    EXPECT_EQ(flying.b, 1.0f);

    // The landing light is handed over only while it is on.
    device_->Clear();
    LandingLightOn = 1;
    ASSERT_EQ(SimulateFrame(f), S_OK);
    const auto landing = device_->Named("SetLight");
    ASSERT_EQ(landing.size(), 2u);
    EXPECT_EQ(landing[1].args[0], 1u);
    EXPECT_NEAR(app_->LandingLight.Direction.z, 1.0f, 1e-6f);
}

TEST_F(CockpitKeys, MouseAndWindowMessagesToggleNothing)
{
    const std::uint8_t aug = ThrustAugEnabled, light = LandingLightOn, yaw = YawFromThrust;
    InjectKey(window_, VK_SHIFT, true);
    InjectKey(window_, VK_CONTROL, true);
    for (int button = 0; button < 3; ++button) InjectMouseButton(window_, button, true, 97, 108);
    InjectMouseMove(window_, 114, 97, MK_LBUTTON | MK_RBUTTON | MK_MBUTTON);
    for (int button = 0; button < 3; ++button) InjectMouseButton(window_, button, false, 108, 114);
    InjectKey(window_, VK_CONTROL, false);
    InjectKey(window_, VK_SHIFT, false);
    InjectResize(window_, 97, 114);
    InjectMinimize(window_, true);
    InjectMinimize(window_, false);
    Pump();
    EXPECT_EQ(ThrustAugEnabled, aug);
    EXPECT_EQ(LandingLightOn, light);
    EXPECT_EQ(YawFromThrust, yaw);
}
