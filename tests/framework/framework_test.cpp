// The application base class over a scripted Direct3D object: start-up and
// its failures, enumeration, device lifetime order, dialog logic, statistics.
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/framework/framework_test_support.h"

namespace {

using Log = std::vector<std::string>;

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// ---------------------------------------------------------------- start-up

TEST_F(FrameworkTest, StartUpCreatesWindowDeviceAndHooksInOrder) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    EXPECT_EQ(app.log, (Log{"OneTimeSceneInit", "CreateDevice 0 HAL 640x500 windowed", "InitDeviceObjects",
                            "PrepareDeviceObjects"}));
    EXPECT_TRUE(app.Active);
    EXPECT_TRUE(app.Ready);
    EXPECT_TRUE(app.Windowed);
    // The client area is one menu-bar height taller than asked for, and the back buffer takes it.
    RECT client;
    GetClientRect(app.MainWindow, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480 + GetSystemMetrics(SM_CYMENU));
    EXPECT_EQ(app.BackBufferDesc.Width, 640u);
    EXPECT_EQ(app.BackBufferDesc.Height, 500u);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(app.MainWindow, GWL_STYLE)), 0x10CE0000u);
    EXPECT_EQ(app.FocusWindow, app.MainWindow);
    EXPECT_STREQ(app.DeviceText, "HAL (hw vp): Fake Adapter");
    EXPECT_TRUE(g_boxes.empty());
    SendMessageA(app.MainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(fake_->liveDevices, 0);
    EXPECT_EQ(fake_->refs, 1u);
}

TEST_F(FrameworkTest, FailedDirect3DCreationShowsFatalBoxWithoutWindow) {
    g_failDirect3DCreate = true;
    TestApp app;
    EXPECT_EQ(Start(app), APP_E_D3D_INIT);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].type, MB_ICONERROR);
    EXPECT_EQ(g_boxes[0].caption, "Test App");
    EXPECT_TRUE(Contains(g_boxes[0].text, "Could not initialize Direct3D. You may\n"));
    EXPECT_TRUE(Contains(g_boxes[0].text, "\n\nThis application will now exit."));
    EXPECT_EQ(app.MainWindow, nullptr);
    EXPECT_TRUE(app.log.empty());
}

TEST_F(FrameworkTest, NoUsableDeviceFailsStartUpWithItsCode) {
    fake_->adapters[0].hal.acceptedFormats.clear();
    fake_->adapters[0].ref.acceptedFormats.clear();
    TestApp app;
    EXPECT_EQ(Start(app), APP_E_NO_COMPATIBLE_DEVICE);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(Contains(g_boxes[0].text, "Could not find any compatible Direct3D\ndevices."));
    EXPECT_EQ(fake_->refs, 1u);  // released again
}

TEST_F(FrameworkTest, DesktopFormatNobodyAcceptsMeansDesktopNotUsable) {
    // Full-screen 16-bit modes exist, but the 32-bit desktop format is refused.
    fake_->adapters[0].hal.acceptedFormats = {D3DFMT_R5G6B5};
    fake_->adapters[0].ref.acceptedFormats = {D3DFMT_R5G6B5};
    TestApp app;
    EXPECT_EQ(Start(app), APP_E_DESKTOP_NOT_USABLE);
    EXPECT_GT(app.Adapters[0].Devices[0].ModeCount, 0u);
}

TEST_F(FrameworkTest, FailingHooksAreReportedAndClosePrograms) {
    TestApp app;
    app.failures["OneTimeSceneInit"] = E_OUTOFMEMORY;
    EXPECT_EQ(Start(app), E_OUTOFMEMORY);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, std::string("Not enough memory.\n\nThis application will now exit."));
    // The fatal box closed the window, which ran the shut-down.
    EXPECT_FALSE(IsWindow(app.MainWindow));
    EXPECT_EQ(app.log.back(), "OneTimeSceneShutdown");
}

TEST_F(FrameworkTest, ReferenceOnlyMachineWarnsWithFirstApplicableReason) {
    fake_->adapters[0].hal.present = false;
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].type, MB_ICONWARNING);
    EXPECT_TRUE(Contains(g_boxes[0].text, "No hardware-accelerated Direct3D devices\nwere found."));
    EXPECT_TRUE(Contains(g_boxes[0].text, "\n\nSwitching to the reference rasterizer,"));
    EXPECT_EQ(app.CurrentDevice().DeviceType, D3DDEVTYPE_REF);
    EXPECT_STREQ(app.DeviceText, "REF (sw vp)");
}

TEST_F(FrameworkTest, HalWithoutWindowCapsGivesHalNoWindowReason) {
    fake_->adapters[0].hal.caps.Caps2 = 0;
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(Contains(g_boxes[0].text, "Your Direct3D hardware accelerator cannot\nrender into a window.\n"));
}

TEST_F(FrameworkTest, FailedHalCreationFallsBackToReferenceAfterWarning) {
    fake_->adapters[0].hal.createResult = D3DERR_OUTOFVIDEOMEMORY;
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(Contains(g_boxes[0].text, "Not enough video memory.\n\nSwitching to the reference rasterizer,"));
    EXPECT_EQ(app.CurrentDevice().DeviceType, D3DDEVTYPE_REF);
    ASSERT_NE(fake_->lastDevice, nullptr);
    EXPECT_EQ(fake_->lastDevice->type, D3DDEVTYPE_REF);
}

TEST_F(FrameworkTest, HookFailureAfterCreationReleasesInOrderBeforeFallBack) {
    TestApp app;
    app.failures["PrepareDeviceObjects"] = E_FAIL;
    fake_->adapters[0].ref.present = true;
    // Both devices fail in PrepareDeviceObjects: HAL, fall-back to REF, then the failure goes back.
    EXPECT_EQ(Start(app), E_FAIL);
    const Log expected{"OneTimeSceneInit",       "CreateDevice 0 HAL 640x500 windowed",
                       "InitDeviceObjects",      "PrepareDeviceObjects",
                       "ReleaseVolatileObjects", "FreeDeviceObjects",
                       "Device::Release",        "CreateDevice 0 REF 640x500 windowed",
                       "InitDeviceObjects",      "PrepareDeviceObjects",
                       "ReleaseVolatileObjects", "FreeDeviceObjects",
                       "Device::Release",        "OneTimeSceneShutdown"};
    EXPECT_EQ(app.log, expected);
    EXPECT_EQ(fake_->liveDevices, 0);
    EXPECT_EQ(app.Device, nullptr);
}

TEST_F(FrameworkTest, NullReferenceDeviceWarnsAndFails) {
    fake_->adapters[0].hal.present = false;
    fake_->adapters[0].ref.caps.PrimitiveMiscCaps = D3DPMISCCAPS_NULLREFERENCE;
    TestApp app;
    EXPECT_EQ(Start(app), APP_E_HAL_LACKS_FEATURES);
    ASSERT_EQ(g_boxes.size(), 3u);  // reference warning, null-reference warning, fatal
    EXPECT_TRUE(Contains(g_boxes[1].text, "Warning: Nothing will be rendered."));
    EXPECT_TRUE(fake_->createOrdinals.empty());
}

// ---------------------------------------------------------------- enumeration

TEST_F(FrameworkTest, EnumerationFiltersSortsAndPicksTheStartMode) {
    FakeAdapter& a = fake_->adapters[0];
    a.modes = {{640, 399, 60, D3DFMT_X8R8G8B8}, {639, 480, 60, D3DFMT_X8R8G8B8}, {640, 400, 60, D3DFMT_X8R8G8B8},
               {1024, 768, 60, D3DFMT_R5G6B5},  {800, 600, 60, D3DFMT_X8R8G8B8}, {800, 600, 85, D3DFMT_X8R8G8B8},
               {1024, 768, 60, D3DFMT_X8R8G8B8}, {1024, 768, 70, D3DFMT_X8R8G8B8}};
    TestApp app;
    app.UseDepthBuffer = TRUE;
    ASSERT_EQ(Start(app), S_OK);
    const DeviceRecord& hal = app.Adapters[0].Devices[0];
    ASSERT_EQ(hal.ModeCount, 4u);
    // X8R8G8B8 (22) sorts before R5G6B5 (23) in descending format order? No: 23 first.
    EXPECT_EQ(hal.Modes[0].Format, D3DFMT_R5G6B5);
    EXPECT_EQ(hal.Modes[1].Width, 640u);
    EXPECT_EQ(hal.Modes[1].Height, 400u);
    EXPECT_EQ(hal.Modes[2].Width, 800u);
    EXPECT_EQ(hal.Modes[3].Width, 1024u);
    EXPECT_EQ(hal.CurrentMode, 3u);  // the 32-bit 1024 x 768 record wins over the 16-bit one
    EXPECT_EQ(hal.Modes[3].BehaviourFlags, static_cast<DWORD>(D3DCREATE_HARDWARE_VERTEXPROCESSING));
    EXPECT_EQ(hal.Modes[3].DepthStencilFormat, D3DFMT_D24X8);
    EXPECT_EQ(app.Adapters[0].Devices[1].Modes[3].BehaviourFlags,
              static_cast<DWORD>(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
}

TEST_F(FrameworkTest, ViewProgramMinimumsRejectDevicesWithoutStencilFormats) {
    fake_->adapters[0].hal.depthFormats = {D3DFMT_D16, D3DFMT_D24X8};
    fake_->adapters[0].ref.depthFormats = {D3DFMT_D16, D3DFMT_D24X8};
    TestApp app;
    app.UseDepthBuffer = TRUE;
    app.MinDepthBits = 15;
    app.MinStencilBits = 1;
    EXPECT_EQ(Start(app), APP_E_NO_COMPATIBLE_DEVICE);

    fake_->adapters[0].hal.depthFormats = {D3DFMT_D15S1, D3DFMT_D24S8};
    TestApp second;
    second.UseDepthBuffer = TRUE;
    second.MinDepthBits = 15;
    second.MinStencilBits = 1;
    ASSERT_EQ(Start(second), S_OK);
    EXPECT_EQ(second.CurrentMode().DepthStencilFormat, D3DFMT_D24S8);
}

TEST_F(FrameworkTest, CapsValidationPicksFirstAcceptedBehaviour) {
    fake_->adapters[0].hal.caps.DevCaps |= D3DDEVCAPS_PUREDEVICE;
    TestApp app;
    std::vector<DWORD> asked;
    app.validate = [&](const D3DCAPS8* caps, DWORD behaviour, D3DFORMAT) {
        if (caps->DeviceType == D3DDEVTYPE_HAL) asked.push_back(behaviour);
        return behaviour == D3DCREATE_MIXED_VERTEXPROCESSING ? S_OK : E_FAIL;
    };
    ASSERT_EQ(Start(app), S_OK);
    ASSERT_GE(asked.size(), 3u);
    EXPECT_EQ(asked[0], 0x50u);
    EXPECT_EQ(asked[1], 0x40u);
    EXPECT_EQ(asked[2], 0x80u);
    EXPECT_STREQ(app.DeviceText, "HAL (mixed vp): Fake Adapter");
}

TEST_F(FrameworkTest, TablesStopAtTheirCapacities) {
    fake_->adapters.clear();
    for (int i = 0; i < 12; ++i) {
        FakeAdapter a = StandardAdapter();
        a.modes.clear();
        // 30 formats (only two accepted) and far more than 100 distinct modes.
        for (int f = 0; f < 30; ++f) {
            for (UINT w = 640; w < 640 + 8 * 20; w += 8) {
                a.modes.push_back({w, 480, 60, static_cast<D3DFORMAT>(f == 0 ? D3DFMT_X8R8G8B8 : 100 + f)});
            }
        }
        fake_->adapters.push_back(a);
    }
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    EXPECT_EQ(app.AdapterCount, kMaxAdapters);
    EXPECT_LE(app.Adapters[9].Devices[0].ModeCount, kMaxModesPerDevice);
    EXPECT_GT(app.Adapters[9].Devices[0].ModeCount, 0u);
}

TEST_F(FrameworkTest, DroppedAdapterKeepsOrdinalsOfLaterAdapters) {
    FakeAdapter useless = StandardAdapter();
    useless.description = "Useless";
    useless.hal.acceptedFormats.clear();
    useless.ref.acceptedFormats.clear();
    FakeAdapter good = StandardAdapter();
    good.description = "Second";
    fake_->adapters = {useless, good};
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    EXPECT_EQ(app.AdapterCount, 1u);
    EXPECT_EQ(app.Adapters[0].Ordinal, 1u);
    ASSERT_FALSE(fake_->createOrdinals.empty());
    EXPECT_EQ(fake_->createOrdinals.back(), 1u);
    EXPECT_STREQ(app.DeviceText, "HAL (hw vp): Second");
}

TEST_F(FrameworkTest, LongAdapterDescriptionIsCutToTheTextField) {
    fake_->adapters[0].description = std::string(200, 'D');
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    EXPECT_EQ(std::strlen(app.DeviceText), kStatusTextSize - 1);
    EXPECT_EQ(std::string(app.DeviceText).substr(0, 14), "HAL (hw vp): D");
}

// ---------------------------------------------------------------- lifetime

TEST_F(FrameworkTest, ResizeResetsOnceAndOnlyWhenTheClientSizeChanged) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    const size_t mark = app.log.size();
    InjectResize(app.MainWindow, 640, 500);  // no change
    Pump(app);
    EXPECT_EQ(Since(app, mark), Log{});
    InjectResize(app.MainWindow, 800, 520);
    Pump(app);
    EXPECT_EQ(Since(app, mark), (Log{"ReleaseVolatileObjects", "Device::Reset 800x520 windowed", "PrepareDeviceObjects"}));
    EXPECT_EQ(app.BackBufferDesc.Width, 800u);
    EXPECT_TRUE(app.Ready);
}

TEST_F(FrameworkTest, MinimisingStopsRenderingWithoutReset) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    InjectMinimize(app.MainWindow, true);
    EXPECT_FALSE(app.Active);
    InjectMinimize(app.MainWindow, false);
    EXPECT_TRUE(app.Active);
    EXPECT_EQ(app.log.back(), "PrepareDeviceObjects");
}

TEST_F(FrameworkTest, MinimisedLoopRendersNothingAndWaitsForAMessage) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    InjectMinimize(app.MainWindow, true);
    // A frame now would meet the lost device and end in a fatal box.
    fake_->lastDevice->cooperativeLevel = D3DERR_DEVICELOST;
    g_ticks += 10;
    const size_t mark = app.log.size();
    HWND window = app.MainWindow;
    std::thread closer([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(app.RunMessageLoop(), 0);
    closer.join();
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(Since(app, mark), (Log{"ReleaseVolatileObjects", "FreeDeviceObjects", "Device::Release",
                                     "OneTimeSceneShutdown"}));
}

TEST_F(FrameworkTest, AltReturnTogglesFullScreenAndBack) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    const size_t mark = app.log.size();
    InjectKey(app.MainWindow, VK_MENU, true);
    InjectKey(app.MainWindow, VK_RETURN, true);
    InjectKey(app.MainWindow, VK_RETURN, false);
    InjectKey(app.MainWindow, VK_MENU, false);
    Pump(app);
    EXPECT_EQ(Since(app, mark),
              (Log{"ReleaseVolatileObjects", "Device::Reset 1024x768 fullscreen", "PrepareDeviceObjects"}));
    EXPECT_FALSE(app.Windowed);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(app.MainWindow, GWL_STYLE)), 0x90080000u);
    // In full screen the window swallows move, size and the keyboard menu.
    EXPECT_EQ(SendMessageA(app.MainWindow, WM_SYSCOMMAND, SC_KEYMENU, 0), 1);
    EXPECT_EQ(SendMessageA(app.MainWindow, WM_NCHITTEST, 0, 0), HTCLIENT);

    const size_t back = app.log.size();
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    EXPECT_EQ(Since(app, back), (Log{"ReleaseVolatileObjects", "Device::Reset 640x500 windowed", "PrepareDeviceObjects"}));
    EXPECT_TRUE(app.Windowed);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(app.MainWindow, GWL_STYLE)), 0x10CE0000u);
    EXPECT_TRUE(g_boxes.empty());
}

// The rules of the window messages that depend on the state: hiding, the minimum
// size, the cursor in full screen, mouse positions, system commands and power.
TEST_F(FrameworkTest, WindowMessageRulesFollowTheWindowState) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    HWND w = app.MainWindow;
    // Hidden because another window is maximised: no rendering until shown again.
    SendMessageA(w, WM_SIZE, SIZE_MAXHIDE, 0);
    EXPECT_FALSE(app.Active);
    SendMessageA(w, WM_SIZE, SIZE_RESTORED, 0);
    EXPECT_TRUE(app.Active);
    MINMAXINFO limits{};
    SendMessageA(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 100);
    EXPECT_EQ(limits.ptMinTrackSize.y, 100);
    EXPECT_EQ(SendMessageA(w, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0), TRUE);
    EXPECT_EQ(SendMessageA(w, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0), TRUE);
    EXPECT_EQ(SendMessageA(w, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 0);

    // Windowed: the cursor over the frame is the system's, the system commands pass,
    // and the device cursor follows the mouse in screen coordinates.
    const LPARAM overFrame = MAKELPARAM(HTCAPTION, WM_MOUSEMOVE);
    EXPECT_EQ(SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), overFrame), FALSE);
    for (WPARAM command : {SC_MOVE, SC_SIZE, SC_MAXIMIZE, SC_KEYMENU, SC_MONITORPOWER})
        EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, command, 0), 0) << command;
    SetWindowPos(w, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    POINT screen{30, 40};
    ClientToScreen(w, &screen);
    ASSERT_NE(screen.x, 30);
    InjectMouseMove(w, 30, 40, 0);
    Pump(app);
    EXPECT_EQ(fake_->lastDevice->cursorX, screen.x);
    EXPECT_EQ(fake_->lastDevice->cursorY, screen.y);

    SendMessageA(w, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    ASSERT_FALSE(app.Windowed);
    // Full screen: the commands that would move, size or open a menu are swallowed,
    // exactly those.
    for (WPARAM command : {SC_MOVE, SC_SIZE, SC_MAXIMIZE, SC_KEYMENU, SC_MONITORPOWER})
        EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, command, 0), 1) << command;
    EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, SC_MOVE | 2, 0), 0);
    // The cursor is the application's only while active and ready.
    EXPECT_EQ(SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), overFrame), TRUE);
    app.Ready = FALSE;
    EXPECT_EQ(SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), overFrame), FALSE);
    app.Ready = TRUE;
    app.Active = FALSE;
    EXPECT_EQ(SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), overFrame), FALSE);
    app.Active = TRUE;
    // Mouse positions in client coordinates.
    InjectMouseMove(w, 30, 40, 0);
    Pump(app);
    POINT client{0, 0};
    GetCursorPos(&client);
    ScreenToClient(w, &client);
    EXPECT_EQ(fake_->lastDevice->cursorX, client.x);
    EXPECT_EQ(fake_->lastDevice->cursorY, client.y);
}

// Frame statistics are rebuilt only when strictly more than a second has passed.
TEST_F(FrameworkTest, StatisticsWaitForMoreThanASecond) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    g_ticks = 200000;
    ASSERT_EQ(app.RenderOneFrame(), S_OK);  // the first period ends here
    const float first = app.FramesPerSecond;
    for (int i = 0; i < 10; ++i) {
        g_ticks += 100;
        app.RenderOneFrame();
    }
    EXPECT_EQ(app.FramesPerSecond, first);  // exactly one second: not yet
    g_ticks += 1;
    app.RenderOneFrame();
    EXPECT_NEAR(app.FramesPerSecond, 11.0f / 1.001f, 0.01f);
}

TEST_F(FrameworkTest, FullScreenCursorIsCopiedToTheDeviceWhenAsked) {
    TestApp app;
    app.ShowCursorWhenFullscreen = TRUE;
    ASSERT_EQ(Start(app), S_OK);
    for (const auto& line : app.log) EXPECT_EQ(line.find("Cursor"), std::string::npos) << line;  // windowed: nothing
    const size_t mark = app.log.size();
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    const Log after = Since(app, mark);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[1], "Device::Reset 1024x768 fullscreen");
    EXPECT_EQ(after[2].rfind("Device::CreateImageSurface ", 0), 0u);  // the class cursor's image
    EXPECT_EQ(after[3], "Device::ShowCursor 1");
    EXPECT_EQ(after[4], "PrepareDeviceObjects");
}

TEST_F(FrameworkTest, FullScreenOnlyDeviceMovesToWindowedDeviceByRecreation) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    ASSERT_FALSE(app.Windowed);
    app.CurrentDevice().CanRenderWindowed = FALSE;  // as if this device could only go full screen
    const size_t mark = app.log.size();
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    EXPECT_EQ(Since(app, mark),
              (Log{"ReleaseVolatileObjects", "FreeDeviceObjects", "Device::Release",
                   "CreateDevice 0 REF 640x500 windowed", "InitDeviceObjects", "PrepareDeviceObjects"}));
    EXPECT_TRUE(app.Windowed);
    EXPECT_TRUE(app.Ready);
}

TEST_F(FrameworkTest, FailedWindowSwitchShutsDownOnceAndShowsOneBox) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    ASSERT_FALSE(app.Windowed);
    fake_->lastDevice->resetResult = D3DERR_INVALIDCALL;
    fake_->adapters[0].hal.createResult = E_OUTOFMEMORY;
    fake_->adapters[0].ref.createResult = E_OUTOFMEMORY;
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_TOGGLE_FULLSCREEN, 1), 0);
    int shutdowns = 0;
    for (const auto& s : app.log) shutdowns += s == "OneTimeSceneShutdown";
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(IsWindow(app.MainWindow));
    int fatal = 0;
    for (const auto& b : g_boxes) fatal += b.type == MB_ICONERROR;
    EXPECT_EQ(fatal, 1);
    EXPECT_EQ(fake_->liveDevices, 0);
    EXPECT_EQ(app.Device, nullptr);
}

TEST_F(FrameworkTest, CloseReleasesEverythingAndPostsQuit) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    const size_t mark = app.log.size();
    InjectKey(app.MainWindow, VK_ESCAPE, true);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_KEYDOWN);
    EXPECT_TRUE(TranslateAcceleratorA(app.MainWindow, accelerators_, &msg));
    EXPECT_EQ(Since(app, mark), (Log{"ReleaseVolatileObjects", "FreeDeviceObjects", "Device::Release",
                                     "OneTimeSceneShutdown"}));
    EXPECT_FALSE(IsWindow(app.MainWindow));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(fake_->refs, 1u);
}

// ---------------------------------------------------------------- frames and statistics

TEST_F(FrameworkTest, FramesAdvanceDrawPresentAndSkipZeroElapsedTime) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    const size_t mark = app.log.size();
    g_ticks += 20;
    ASSERT_EQ(app.RenderOneFrame(), S_OK);
    EXPECT_EQ(Since(app, mark), (Log{"AdvanceScene", "DrawScene", "Device::Present"}));
    EXPECT_NEAR(app.ElapsedTime, 0.02f, 1e-4f);
    const size_t mark2 = app.log.size();
    ASSERT_EQ(app.RenderOneFrame(), S_OK);  // no time has passed
    EXPECT_EQ(Since(app, mark2), Log{});
}

TEST_F(FrameworkTest, StatisticsTextFormatsAndFirstPeriodFigure) {
    TestApp app;
    app.UseDepthBuffer = TRUE;
    ASSERT_EQ(Start(app), S_OK);
    g_ticks += 10;
    ASSERT_EQ(app.RenderOneFrame(), S_OK);
    // The first period is measured from time 0, so the figure is tiny.
    EXPECT_LT(app.FramesPerSecond, 0.1f);
    EXPECT_TRUE(Contains(app.FrameStatsText, " fps (640x500x32) (D24X8)")) << app.FrameStatsText;
    const std::string first = app.FrameStatsText;
    for (int i = 0; i < 50; ++i) {
        g_ticks += 10;
        app.RenderOneFrame();
    }
    EXPECT_EQ(app.FrameStatsText, first);  // at most once a second
    for (int i = 0; i < 60; ++i) {
        g_ticks += 10;
        app.RenderOneFrame();
    }
    EXPECT_NEAR(app.FramesPerSecond, 100.0f, 2.0f);
    // A 16-bit or A8R8G8B8 desktop shows as 16; a multisample type is labelled.
    fake_->adapters[0].desktop.Format = D3DFMT_A8R8G8B8;
    app.CurrentDevice().WindowedMultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    for (int i = 0; i < 120; ++i) {
        g_ticks += 10;
        app.RenderOneFrame();
    }
    EXPECT_TRUE(Contains(app.FrameStatsText, "(640x500x16) (D24X8) (4x Multisample)")) << app.FrameStatsText;
}

TEST_F(FrameworkTest, LostDeviceEndsProgramWithGenericFatalBox) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    fake_->lastDevice->cooperativeLevel = D3DERR_DEVICELOST;
    PostMessageA(app.MainWindow, WM_NULL, 0, 0);  // something for the loop to take first
    EXPECT_EQ(app.RunMessageLoop(), 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(Contains(g_boxes[0].text, "Generic application error.  Enable\ndebug output"));
    EXPECT_FALSE(IsWindow(app.MainWindow));
}

TEST_F(FrameworkTest, DeviceNotResetIsResetWithoutDrawing) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    fake_->lastDevice->cooperativeLevel = D3DERR_DEVICENOTRESET;
    fake_->adapters[0].desktop.Format = D3DFMT_R5G6B5;
    const size_t mark = app.log.size();
    g_ticks += 10;
    EXPECT_EQ(app.RenderOneFrame(), S_OK);
    EXPECT_EQ(Since(app, mark), (Log{"ReleaseVolatileObjects", "Device::Reset 640x500 windowed", "PrepareDeviceObjects"}));
    EXPECT_EQ(app.PresentParams.BackBufferFormat, D3DFMT_R5G6B5);
}

// ---------------------------------------------------------------- the dialog

struct ScriptStep {
    int id;
    WORD code;
    int position;  // list position to select, or -1
};
std::vector<ScriptStep> g_script;
DialogControlState* g_lastDialog = nullptr;
std::unique_ptr<DialogControlState> g_dialogState;

INT_PTR ScriptedRunner(const DialogTemplate& t, DLGPROC proc, LPARAM param) {
    g_dialogState = std::make_unique<DialogControlState>(t);
    DialogControlState& state = *g_dialogState;
    g_lastDialog = &state;
    proc(&state, WM_INITDIALOG, 0, param);
    for (const ScriptStep& step : g_script) {
        if (state.Ended()) break;
        if (step.position >= 0) state.SetCurSel(step.id, step.position);
        if (step.id == IDC_WINDOW || step.id == IDC_FULLSCREEN) {
            state.CheckButton(IDC_WINDOW, step.id == IDC_WINDOW);
            state.CheckButton(IDC_FULLSCREEN, step.id == IDC_FULLSCREEN);
        }
        proc(&state, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(step.id), step.code), 0);
    }
    return state.Ended() ? state.Result() : IDCANCEL;
}

TEST_F(FrameworkTest, DialogWithUnchangedSelectionLeavesDeviceAlone) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    SetDialogRunner(ScriptedRunner);
    g_script = {{IDOK, BN_CLICKED, -1}};
    const size_t mark = app.log.size();
    InjectKey(app.MainWindow, VK_F2, true);
    Pump(app);
    EXPECT_EQ(g_lastDialog->Result(), IDCANCEL);
    EXPECT_EQ(Since(app, mark), Log{});
    // The lists show what the tables hold.
    EXPECT_EQ(g_lastDialog->GetCount(IDC_DEVICE_COMBO), 2);
    EXPECT_EQ(g_lastDialog->Find(IDC_DEVICE_COMBO)->items[1].text, "REF");
    EXPECT_EQ(g_lastDialog->Find(IDC_FULLSCREENMODES_COMBO)->items[0].text, "640 x 480 x 16");
    EXPECT_TRUE(g_lastDialog->IsButtonChecked(IDC_WINDOW));
    EXPECT_FALSE(g_lastDialog->Find(IDC_FULLSCREENMODES_COMBO)->enabled);
    EXPECT_FALSE(g_lastDialog->Find(IDC_MULTISAMPLE_COMBO)->enabled);  // only "none"
}

TEST_F(FrameworkTest, DialogChangeRecreatesDeviceOnTheNewChoice) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    SetDialogRunner(ScriptedRunner);
    g_script = {{IDC_DEVICE_COMBO, CBN_SELENDOK, 1}, {IDOK, BN_CLICKED, -1}};
    const size_t mark = app.log.size();
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(Since(app, mark), (Log{"ReleaseVolatileObjects", "FreeDeviceObjects", "Device::Release",
                                     "CreateDevice 0 REF 640x500 windowed", "InitDeviceObjects",
                                     "PrepareDeviceObjects"}));
    EXPECT_EQ(app.CurrentDevice().DeviceType, D3DDEVTYPE_REF);
}

TEST_F(FrameworkTest, DialogChangeWithLeakedReferenceIsFatal) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    fake_->lastDevice->AddRef();  // something still holds the device
    FakeDevice* leaked = fake_->lastDevice;
    SetDialogRunner(ScriptedRunner);
    g_script = {{IDC_DEVICE_COMBO, CBN_SELENDOK, 1}, {IDOK, BN_CLICKED, -1}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(Contains(g_boxes[0].text, "A D3D object has a non-zero reference\ncount"));
    EXPECT_EQ(app.Device, nullptr);  // never released twice
    EXPECT_FALSE(IsWindow(app.MainWindow));
    leaked->Release();
}

TEST_F(FrameworkTest, DialogFallsBackToNoneForUnsupportedMultisample) {
    fake_->adapters[0].hal.multiSampleTypes = {0, 2, 4};
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    SetDialogRunner(ScriptedRunner);
    // Choose 4 samples in a window, then switch to full screen on a device answering only none there.
    g_script = {{IDC_MULTISAMPLE_COMBO, CBN_SELENDOK, 2}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(g_lastDialog->GetItemData(IDC_MULTISAMPLE_COMBO, g_lastDialog->GetCurSel(IDC_MULTISAMPLE_COMBO)), 4);
    EXPECT_TRUE(g_lastDialog->Find(IDC_MULTISAMPLE_COMBO)->enabled);

    g_script = {{IDC_MULTISAMPLE_COMBO, CBN_SELENDOK, 2}, {IDC_FULLSCREEN, BN_CLICKED, -1}};
    fake_->adapters[0].hal.multiSampleTypes = {0, 2, 4};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    // Full-screen list offers the same types here; stored full-screen type starts at none.
    EXPECT_EQ(g_lastDialog->GetItemData(IDC_MULTISAMPLE_COMBO, g_lastDialog->GetCurSel(IDC_MULTISAMPLE_COMBO)), 0);

    // Passing through a device that cannot multisample resets the choice to none.
    g_script = {{IDC_MULTISAMPLE_COMBO, CBN_SELENDOK, 2}, {IDC_DEVICE_COMBO, CBN_SELENDOK, 1},
                {IDC_DEVICE_COMBO, CBN_SELENDOK, 0}, {IDOK, BN_CLICKED, -1}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(g_lastDialog->Result(), IDCANCEL);  // back where it started: nothing changed
    EXPECT_EQ(app.CurrentDevice().WindowedMultiSampleType, D3DMULTISAMPLE_NONE);

    // A confirmed choice of 4 samples reaches the new device.
    g_script = {{IDC_MULTISAMPLE_COMBO, CBN_SELENDOK, 2}, {IDOK, BN_CLICKED, -1}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(app.CurrentDevice().WindowedMultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(fake_->lastDevice->params.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
}

TEST_F(FrameworkTest, DialogWithEmptyMultisampleListStoresNone) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    fake_->adapters[0].hal.multiSampleTypes = {};  // not even none answers
    app.CurrentDevice().WindowedMultiSampleType = D3DMULTISAMPLE_2_SAMPLES;
    SetDialogRunner(ScriptedRunner);
    g_script = {};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(g_lastDialog->GetCount(IDC_MULTISAMPLE_COMBO), 0);
    // OK now stores none (never -1) even though nothing else changed.
    g_script = {{IDOK, BN_CLICKED, -1}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(app.CurrentDevice().WindowedMultiSampleType, D3DMULTISAMPLE_NONE);
}

TEST_F(FrameworkTest, ConfirmedDeviceChangeChecksBothStoredMultisampleTypes) {
    fake_->adapters[0].hal.multiSampleTypes = {0, 2};
    fake_->adapters[0].ref.multiSampleTypes = {0};
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    app.Adapters[0].Devices[1].FullscreenMultiSampleType = D3DMULTISAMPLE_2_SAMPLES;  // stale value on REF
    SetDialogRunner(ScriptedRunner);
    g_script = {{IDC_DEVICE_COMBO, CBN_SELENDOK, 1}, {IDOK, BN_CLICKED, -1}};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(app.CurrentDevice().DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(app.CurrentDevice().FullscreenMultiSampleType, D3DMULTISAMPLE_NONE);
}

TEST_F(FrameworkTest, DroppedAdapterOrdinalReachesDisplayModeAndMultisampleQueries) {
    // The first adapter is dropped; the one kept at table index 0 is ordinal 1.
    FakeAdapter useless = StandardAdapter();
    useless.hal.acceptedFormats.clear();
    useless.ref.acceptedFormats.clear();
    useless.desktop.Format = D3DFMT_R5G6B5;
    FakeAdapter good = StandardAdapter();
    good.hal.multiSampleTypes = {0, 2};
    fake_->adapters = {useless, good};
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    ASSERT_EQ(app.Adapters[0].Ordinal, 1u);
    // Statistics read the kept adapter's 32-bit desktop, not the dropped one's 16-bit one.
    for (int i = 0; i < 3; ++i) {
        g_ticks += 10;
        ASSERT_EQ(app.RenderOneFrame(), S_OK);
    }
    EXPECT_TRUE(Contains(app.FrameStatsText, "x32)")) << app.FrameStatsText;
    // A lost window device takes the kept adapter's desktop format again.
    fake_->lastDevice->cooperativeLevel = D3DERR_DEVICENOTRESET;
    g_ticks += 10;
    ASSERT_EQ(app.RenderOneFrame(), S_OK);
    EXPECT_EQ(app.Adapters[0].DesktopMode.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(app.PresentParams.BackBufferFormat, D3DFMT_X8R8G8B8);
    // The dialog asks the kept adapter which multisample types it offers.
    SetDialogRunner(ScriptedRunner);
    g_script = {};
    SendMessageA(app.MainWindow, WM_COMMAND, MAKEWPARAM(CMD_CHANGE_DEVICE, 1), 0);
    EXPECT_EQ(g_lastDialog->GetCount(IDC_MULTISAMPLE_COMBO), 2);
}

TEST_F(FrameworkTest, PopupMenuOffersTheFrameworkCommands) {
    TestApp app;
    ASSERT_EQ(Start(app), S_OK);
    static std::vector<UINT> seen;
    seen.clear();
    SetPopupMenuChooser([](HMENU menu, int, int) -> UINT {
        for (int i = 0; i < GetMenuItemCount(menu); ++i) seen.push_back(GetMenuItemID(menu, i));
        return CMD_GO_STOP;
    });
    InjectMouseButton(app.MainWindow, 1, true, 10, 10);
    InjectMouseButton(app.MainWindow, 1, false, 10, 10);
    Pump(app);
    EXPECT_EQ(seen, (std::vector<UINT>{CMD_GO_STOP, CMD_SINGLE_STEP, 0, CMD_CHANGE_DEVICE, 0, CMD_EXIT}));
    EXPECT_TRUE(IsWindow(app.MainWindow));  // "Go/stop" does nothing
}

}  // namespace
