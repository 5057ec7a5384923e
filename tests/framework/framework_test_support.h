#pragma once
// Shared set-up of the framework tests: a fake Direct3D object, recorded
// message boxes, headless windows and a scripted clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "common/frame_clock.h"
#include "common/frame_clock_test_hooks.h"
#include "framework/graphics_application.h"
#include "tests/framework/fake_direct3d.h"

struct RecordedBox {
    std::string text;
    std::string caption;
    UINT type;
};

extern std::vector<RecordedBox> g_boxes;
extern std::int64_t g_ticks;  // scripted clock, milliseconds
extern FakeDirect3D* g_fake;
extern bool g_failDirect3DCreate;

class TestApp : public GraphicsApplication {
public:
    TestApp() {
        WindowTitle = "Test App";
        ClientWidth = 640;
        ClientHeight = 480;
    }
    ~TestApp() override {
        // A test that leaves the window open closes it here, releasing the device.
        if (MainWindow && IsWindow(MainWindow)) SendMessageA(MainWindow, WM_CLOSE, 0, 0);
    }
    HRESULT Hook(const char* name) {
        log.push_back(name);
        auto it = failures.find(name);
        return it == failures.end() ? S_OK : it->second;
    }
    HRESULT ValidateDeviceCaps(const D3DCAPS8* caps, DWORD behaviour, D3DFORMAT format) override {
        if (validate) return validate(caps, behaviour, format);
        return S_OK;
    }
    HRESULT OneTimeSceneInit() override { return Hook("OneTimeSceneInit"); }
    HRESULT InitDeviceObjects() override { return Hook("InitDeviceObjects"); }
    HRESULT PrepareDeviceObjects() override { return Hook("PrepareDeviceObjects"); }
    HRESULT AdvanceScene() override { return Hook("AdvanceScene"); }
    HRESULT DrawScene() override { return Hook("DrawScene"); }
    HRESULT ReleaseVolatileObjects() override { return Hook("ReleaseVolatileObjects"); }
    HRESULT FreeDeviceObjects() override { return Hook("FreeDeviceObjects"); }
    HRESULT OneTimeSceneShutdown() override { return Hook("OneTimeSceneShutdown"); }

    std::vector<std::string> log;
    std::map<std::string, HRESULT> failures;
    std::function<HRESULT(const D3DCAPS8*, DWORD, D3DFORMAT)> validate;
};

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the application on the fake object; the fake logs into the app's log.
    HRESULT Start(TestApp& app);
    // Handles every waiting message as the message loop does, without rendering.
    void Pump(TestApp& app);
    std::vector<std::string> Since(const TestApp& app, size_t from) const {
        return std::vector<std::string>(app.log.begin() + static_cast<long>(from), app.log.end());
    }
    std::unique_ptr<FakeDirect3D> fake_;
    HACCEL accelerators_ = nullptr;
};
