// The game controller over the scripted input backend.
#include "platform/input/fake_input.h"
#include "platform/input/sdl_convert.h"
#include "platform/ui/window.h"
#include "view/controller.h"
#include "view/state.h"
#include "fly_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Box {
    std::string text, caption;
    UINT type;
};
std::vector<Box> g_boxes;
void RecordBox(const char* text, const char* caption, UINT type) { g_boxes.push_back({text, caption, type}); }

class GameControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewtest::ResetViewState();
        Controller = GameController{};
        g_boxes.clear();
        SetMessageBoxRecorder(RecordBox);
        fake = &InstallFakeInput();
    }
    void TearDown() override
    {
        flytest::DropController();
        EXPECT_EQ(fake->liveObjects, 0);
        SetMessageBoxRecorder(nullptr);
        RemoveFakeInput();
    }
    FakeController Stick(const char* name, bool ff, int actuators = 2)
    {
        FakeController c;
        c.name = name;
        c.forceFeedback = ff;
        c.actuatorAxes = actuators;
        return c;
    }
    FakeInputSystem* fake = nullptr;
};

constexpr float kDeg = 57.295776f;

}  // namespace

TEST_F(GameControllerTest, ForceFeedbackControllerIsChosenBeforeAPlainOne)
{
    fake->controllers = {Stick("Plain", false), Stick("Wheel", true)};
    ASSERT_EQ(InitGameController(nullptr), S_OK);
    EXPECT_EQ(ForceFeedbackAvailable, 1);
    EXPECT_EQ(fake->Count("CreateDevice Plain"), 0);
    EXPECT_EQ(fake->Count("CreateDevice Wheel"), 1);
    EXPECT_EQ(fake->Count("EnumDevices"), 1);
    EXPECT_EQ(fake->log[1], "EnumDevices 257");
    EXPECT_EQ(fake->cooperativeLevel, DISCL_EXCLUSIVE | DISCL_BACKGROUND);
    ASSERT_EQ(fake->ranges.size(), 3u);
    for (const auto& [id, range] : fake->ranges) {
        EXPECT_EQ(range.first, -1000);
        EXPECT_EQ(range.second, 1000);
    }
    EXPECT_EQ(Controller.forceFeedbackAxes, 2u);

    ASSERT_EQ(fake->effects.size(), 2u);
    const FakeEffect& stick = fake->effects[0];
    const FakeEffect& shake = fake->effects[1];
    EXPECT_EQ(stick.kind, GUID_ConstantForce);
    EXPECT_EQ(shake.kind, GUID_Square);
    for (const FakeEffect* e : {&stick, &shake}) {
        EXPECT_EQ(e->flags, 0x12u);
        EXPECT_EQ(e->duration, 0xFFFFFFFFu);
        EXPECT_EQ(e->gain, 10000u);
        EXPECT_EQ(e->triggerButton, 0xFFFFFFFFu);
        EXPECT_EQ(e->axisCount, 2u);
        EXPECT_EQ(e->axes[0], DIJOFS_X);
        EXPECT_EQ(e->axes[1], DIJOFS_Y);
    }
    EXPECT_EQ(stick.direction[0], 0);
    EXPECT_EQ(stick.direction[1], 0);
    EXPECT_EQ(stick.constantMagnitude, 0);
    EXPECT_EQ(shake.direction[0], 1);
    EXPECT_EQ(shake.direction[1], 0);
    EXPECT_EQ(shake.periodic.dwPeriod, 30000u);
    EXPECT_EQ(shake.periodic.dwMagnitude, 0u);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(GameControllerTest, PlainControllersFallBackToTheFirstThatOpens)
{
    fake->controllers = {Stick("Broken", false), Stick("Second", false), Stick("Third", false)};
    fake->controllers[0].createFails = true;
    ASSERT_EQ(InitGameController(nullptr), S_OK);
    EXPECT_EQ(ForceFeedbackAvailable, 0);
    EXPECT_EQ(fake->Count("EnumDevices 257"), 1);
    EXPECT_EQ(fake->Count("EnumDevices 1"), 1);
    EXPECT_EQ(fake->Count("CreateDevice Second"), 1);
    EXPECT_EQ(fake->Count("CreateDevice Third"), 0);
    EXPECT_TRUE(fake->effects.empty());

    // Without force feedback the first frame acquires and starts nothing.
    StartForceFeedback();
    EXPECT_EQ(fake->Count("Acquire"), 0);
    EXPECT_EQ(fake->Count("Start"), 0);
}

TEST_F(GameControllerTest, MissingControllerAndTooFewActuatorsStopWithTheirBoxes)
{
    EXPECT_EQ(InitGameController(nullptr), E_FAIL);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, "Game controller not found. Check the device or disable it in the configuration.");
    EXPECT_EQ(g_boxes[0].caption, "Fatal Error!");
    EXPECT_EQ(g_boxes[0].type, MB_ICONERROR);
    flytest::DropController();

    g_boxes.clear();
    fake->controllers = {Stick("One axis", true, 1)};
    EXPECT_EQ(InitGameController(nullptr), E_FAIL);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text,
              "Unsupported number of force feedback axes. Check the device or disable it in the configuration.");
    EXPECT_EQ(g_boxes[0].caption, "Fatal Error!");
    EXPECT_EQ(g_boxes[0].type, MB_ICONERROR);
    EXPECT_TRUE(fake->effects.empty());
}

TEST_F(GameControllerTest, FailingCallsAndMissingEffectsEndTheSetUp)
{
    fake->controllers = {Stick("Wheel", true)};
    fake->failures["SetCooperativeLevel"] = DIERR_INVALIDPARAM;
    EXPECT_EQ(InitGameController(nullptr), DIERR_INVALIDPARAM);
    flytest::DropController();

    // A refused axis range ends the axis walk: only the first actuator is counted.
    fake->failures = {{"SetProperty", DIERR_INVALIDPARAM}};
    EXPECT_EQ(InitGameController(nullptr), E_FAIL);
    EXPECT_EQ(fake->Count("SetProperty"), 1);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text.rfind("Unsupported number of force feedback axes.", 0), 0u);
    flytest::DropController();
    g_boxes.clear();

    fake->failures.clear();
    fake->effectsComeBackNull = true;
    EXPECT_EQ(InitGameController(nullptr), E_FAIL);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(GameControllerTest, FirstFrameAcquiresAndStartsBothEffects)
{
    fake->controllers = {Stick("Wheel", true)};
    ASSERT_EQ(InitGameController(nullptr), S_OK);
    StartForceFeedback();
    EXPECT_TRUE(fake->acquired);
    EXPECT_EQ(fake->effects[0].startCount, 1);
    EXPECT_EQ(fake->effects[1].startCount, 1);
}

TEST_F(GameControllerTest, StickForceAndVibration)
{
    fake->controllers = {Stick("Wheel", true)};
    ASSERT_EQ(InitGameController(nullptr), S_OK);

    ForceFeedbackRoll = 3;
    ForceFeedbackPitch = 4;
    IndicatedAirspeed = 0.05f;
    AngleOfAttack = -12.0f / kDeg;
    ASSERT_EQ(UpdateForceFeedback(), S_OK);
    const FakeEffect& stick = fake->effects[0];
    const FakeEffect& shake = fake->effects[1];
    EXPECT_EQ(stick.constantMagnitude, 5);
    EXPECT_EQ(stick.direction[0], 3);
    EXPECT_EQ(stick.direction[1], 4);
    EXPECT_EQ(stick.axisCount, 2u);
    EXPECT_EQ(stick.lastParameterFlags, 0x140u);
    EXPECT_EQ(shake.lastParameterFlags, 0x100u);
    EXPECT_EQ(shake.periodic.dwMagnitude, 5000u);   // (12 - 9) * 1666.7
    EXPECT_EQ(shake.periodic.dwPeriod, 30000u);
    EXPECT_EQ(shake.periodic.lOffset, 0);
    EXPECT_EQ(shake.periodic.dwPhase, 0u);

    // Beyond int32 the length saturates, and the device level stays at full strength.
    ForceFeedbackRoll = 2000000000;
    ForceFeedbackPitch = -2000000000;
    ASSERT_EQ(UpdateForceFeedback(), S_OK);
    EXPECT_EQ(stick.constantMagnitude, 2147483647);
    EXPECT_EQ(ForceLevel(stick.constantMagnitude), 32767);

    fake->failures["SetParameters"] = DIERR_INPUTLOST;
    EXPECT_EQ(UpdateForceFeedback(), DIERR_INPUTLOST);
}

TEST(Vibration, RisesFromNineToFifteenDegreesAboveTheAirspeedLimit)
{
    EXPECT_EQ(VibrationMagnitude(9.0f / kDeg, 0.05f), 0);
    EXPECT_EQ(VibrationMagnitude(10.5f / kDeg, 0.05f), 2500);   // 1.5 * 1666.7 = 2500.05
    EXPECT_EQ(VibrationMagnitude(-14.0f / kDeg, 0.05f), 8333);  // 5 * 1666.7 = 8333.5
    EXPECT_EQ(VibrationMagnitude(15.0f / kDeg, 0.05f), 10000);
    EXPECT_EQ(VibrationMagnitude(40.0f / kDeg, 0.05f), 10000);
    EXPECT_EQ(VibrationMagnitude(20.0f / kDeg, 0.04f), 0);
    EXPECT_EQ(VibrationMagnitude(20.0f / kDeg, 0.0f), 0);
    EXPECT_EQ(StickForceMagnitude(-3, 4), 5);
    EXPECT_EQ(StickForceMagnitude(7, 7), 9);   // 9.899 truncated
}
