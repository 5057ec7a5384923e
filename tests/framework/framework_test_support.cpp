#include "tests/framework/framework_test_support.h"

std::vector<RecordedBox> g_boxes;
std::int64_t g_ticks = 0;
FakeDirect3D* g_fake = nullptr;
bool g_failDirect3DCreate = false;

namespace {
bool Frequency(std::int64_t* f) {
    *f = 1000;
    return true;
}
bool Counter(std::int64_t* c) {
    *c = g_ticks;
    return true;
}
std::uint32_t Milliseconds() { return static_cast<std::uint32_t>(g_ticks); }
const FrameClockTickSource kSource{Frequency, Counter, Milliseconds};

void RecordBox(const char* text, const char* caption, UINT type) { g_boxes.push_back({text, caption, type}); }

IDirect3D8* Factory(UINT version) {
    if (g_failDirect3DCreate || version != D3D_SDK_VERSION) return nullptr;
    g_fake->AddRef();
    return g_fake;
}
}  // namespace

void FrameworkTest::SetUp() {
    SetHeadlessWindows(true);
    ResetMessageQueueForTests();
    SetMessageBoxRecorder(RecordBox);
    g_boxes.clear();
    g_ticks = 100000;
    SetFrameClockTickSource(&kSource);
    ResetFrameClockForTest();
    ResetFrameStatistics();
    fake_ = std::make_unique<FakeDirect3D>();
    fake_->adapters.push_back(StandardAdapter());
    g_fake = fake_.get();
    g_failDirect3DCreate = false;
    SetDirect3DFactory(Factory);
    SetDialogRunner(nullptr);
    SetPopupMenuChooser(nullptr);
    RegisterFrameworkResources();
    accelerators_ = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(IDR_MAIN_ACCEL));
}

void FrameworkTest::TearDown() {
    DestroyAcceleratorTable(accelerators_);
    SetDirect3DFactory(nullptr);
    SetMessageBoxRecorder(nullptr);
    SetDialogRunner(nullptr);
    SetFrameClockTickSource(nullptr);
    ResetMessageQueueForTests();
    g_fake = nullptr;
}

HRESULT FrameworkTest::Start(TestApp& app) {
    fake_->log = &app.log;
    return app.StartUp(GetModuleHandleA(nullptr));
}

void FrameworkTest::Pump(TestApp& app) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT || msg.message == WM_PAINT) {
            if (msg.message == WM_PAINT) DispatchMessageA(&msg);
            if (msg.message == WM_QUIT) break;
            continue;
        }
        if (!TranslateAcceleratorA(app.MainWindow, accelerators_, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
