// Windows and messages without a display: key and mouse translation with the
// platform's values, accelerators, the queue across threads, message boxes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <SDL2/SDL.h>

#include "platform/ui/keys.h"
#include "platform/ui/window.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> g_seen;
std::thread::id g_procThread;

LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_seen.push_back({message, wParam, lParam});
    g_procThread = std::this_thread::get_id();
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessWindows(true);
        ResetMessageQueueForTests();
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = "Test Window";
        RegisterClassA(&wc);
        const DWORD style = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;
        RECT rc{0, 0, 640, 480};
        AdjustWindowRect(&rc, style, TRUE);
        hwnd_ = CreateWindowA("Test Window", "Test", style, CW_USEDEFAULT, CW_USEDEFAULT, rc.right - rc.left,
                              rc.bottom - rc.top, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd_, nullptr);
        static const ACCEL table[] = {
            {FVIRTKEY | FNOINVERT, VK_ESCAPE, 40006}, {FVIRTKEY | FALT | FNOINVERT, 'X', 40006},
            {FVIRTKEY | FNOINVERT, VK_F2, 40002},     {FVIRTKEY | FALT | FNOINVERT, VK_RETURN, 40003},
            {FVIRTKEY | FNOINVERT, VK_RETURN, 40004}, {FVIRTKEY | FNOINVERT, VK_SPACE, 40005},
        };
        accel_ = CreateAcceleratorTableA(table, 6);
        Drain();
        g_seen.clear();
    }
    void TearDown() override {
        DestroyAcceleratorTable(accel_);
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
        ResetMessageQueueForTests();
    }
    // The message loop of the framework, without rendering.
    void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            if (!TranslateAcceleratorA(hwnd_, accel_, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    std::vector<Seen> Of(UINT message) const {
        std::vector<Seen> out;
        for (const auto& s : g_seen) {
            if (s.message == message) out.push_back(s);
        }
        return out;
    }
    void Press(WORD vk) {
        InjectKey(hwnd_, vk, true);
        InjectKey(hwnd_, vk, false);
    }
    HWND hwnd_ = nullptr;
    HACCEL accel_ = nullptr;
};

TEST_F(MessageTest, ClientAreaCountsTheMenuBarTheWindowDoesNotHave) {
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd_, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480 + GetSystemMetrics(SM_CYMENU));
    // Handles leave the low word free, so no message carries a character by accident.
    EXPECT_EQ(LOWORD(reinterpret_cast<std::uintptr_t>(hwnd_)), 0);
}

TEST_F(MessageTest, KeysCarryVirtualKeysScanCodesAndTranslatedCharacters) {
    Press('A');
    Drain();
    auto downs = Of(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].wParam, 0x41u);
    EXPECT_EQ(static_cast<DWORD>(downs[0].lParam), 0x001E0001u);
    auto ups = Of(WM_KEYUP);
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(static_cast<DWORD>(ups[0].lParam), 0xC01E0001u);
    auto chars = Of(WM_CHAR);
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('a'));
    // The character arrives between the key-down and the key-up.
    EXPECT_EQ(g_seen[0].message, WM_KEYDOWN);
    EXPECT_EQ(g_seen[1].message, WM_CHAR);

    g_seen.clear();
    InjectKey(hwnd_, VK_SHIFT, true);
    Press('A');
    InjectKey(hwnd_, VK_SHIFT, false);
    Drain();
    ASSERT_EQ(Of(WM_CHAR).size(), 1u);
    EXPECT_EQ(Of(WM_CHAR)[0].wParam, static_cast<WPARAM>('A'));

    g_seen.clear();
    Press(VK_NUMPAD1);
    Press(VK_F3);
    Press(VK_END);
    Drain();
    downs = Of(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 3u);
    EXPECT_EQ(downs[0].wParam, 97u);
    EXPECT_EQ(downs[1].wParam, 114u);
    EXPECT_EQ(downs[2].wParam, static_cast<WPARAM>(VK_END));
    EXPECT_TRUE(downs[2].lParam & (1 << 24));  // extended key
    ASSERT_EQ(Of(WM_CHAR).size(), 1u);        // only the keypad digit has a character
    EXPECT_EQ(Of(WM_CHAR)[0].wParam, static_cast<WPARAM>('1'));

    g_seen.clear();
    InjectKey(hwnd_, VK_UP, true);
    InjectKey(hwnd_, VK_UP, true, true);
    Drain();
    downs = Of(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 2u);
    EXPECT_FALSE(downs[0].lParam & (1 << 30));
    EXPECT_TRUE(downs[1].lParam & (1 << 30));  // repeat: the key was down before
}

TEST_F(MessageTest, KeypadFollowsNumLockAndItsDigitsAlwaysType) {
    struct Case {
        int scancode;
        bool numLock;
        WORD vk;
    };
    const Case cases[] = {
        {SDL_SCANCODE_KP_1, true, VK_NUMPAD1}, {SDL_SCANCODE_KP_1, false, VK_END},
        {SDL_SCANCODE_KP_7, false, VK_HOME},   {SDL_SCANCODE_KP_8, false, VK_UP},
        {SDL_SCANCODE_KP_2, false, VK_DOWN},   {SDL_SCANCODE_KP_4, false, VK_LEFT},
        {SDL_SCANCODE_KP_6, false, VK_RIGHT},  {SDL_SCANCODE_KP_0, false, VK_INSERT},
        {SDL_SCANCODE_KP_5, false, VK_CLEAR},  {SDL_SCANCODE_KP_PERIOD, false, VK_DELETE},
        {SDL_SCANCODE_KP_PERIOD, true, VK_DECIMAL},
    };
    for (const Case& c : cases) {
        WORD scan = 0;
        bool extended = true;
        const int key = static_cast<int>(SDL_SCANCODE_TO_KEYCODE(c.scancode));
        EXPECT_EQ(VirtualKeyFromDisplayKey(key, c.scancode, c.numLock, &scan, &extended), c.vk) << c.scancode;
        EXPECT_FALSE(extended) << c.scancode;  // the keypad's own keys are not extended
        EXPECT_NE(scan, 0) << c.scancode;
    }
    // The separate navigation block stays extended, whatever NumLock says.
    WORD scan = 0;
    bool extended = false;
    EXPECT_EQ(VirtualKeyFromDisplayKey(SDLK_END, SDL_SCANCODE_END, false, &scan, &extended), VK_END);
    EXPECT_TRUE(extended);
    EXPECT_EQ(VirtualKeyFromDisplayKey('a', SDL_SCANCODE_A, false, &scan, &extended), 'A');

    // A keypad digit types its digit even after NumLock was pressed here.
    Press(VK_NUMLOCK);
    g_seen.clear();
    Press(VK_NUMPAD1);
    Drain();
    ASSERT_EQ(Of(WM_CHAR).size(), 1u);
    EXPECT_EQ(Of(WM_CHAR)[0].wParam, static_cast<WPARAM>('1'));
}

TEST_F(MessageTest, AcceleratorsBecomeCommandsAndHideTheirKeys) {
    Press(VK_ESCAPE);
    Press(VK_RETURN);
    Press(VK_SPACE);
    Press(VK_F2);
    Drain();
    auto commands = Of(WM_COMMAND);
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].wParam, MAKEWPARAM(40006, 1));
    EXPECT_EQ(commands[0].lParam, 0);
    EXPECT_EQ(LOWORD(commands[1].wParam), 40004);
    EXPECT_EQ(LOWORD(commands[2].wParam), 40005);
    EXPECT_EQ(LOWORD(commands[3].wParam), 40002);
    EXPECT_TRUE(Of(WM_KEYDOWN).empty());
    EXPECT_TRUE(Of(WM_CHAR).empty());
    EXPECT_EQ(Of(WM_KEYUP).size(), 4u);

    // Modifiers must match exactly.
    g_seen.clear();
    InjectKey(hwnd_, VK_SHIFT, true);
    Press(VK_ESCAPE);
    InjectKey(hwnd_, VK_SHIFT, false);
    Drain();
    EXPECT_TRUE(Of(WM_COMMAND).empty());
    ASSERT_EQ(Of(WM_KEYDOWN).size(), 2u);  // shift and escape
    EXPECT_EQ(Of(WM_KEYDOWN)[1].wParam, static_cast<WPARAM>(VK_ESCAPE));

    g_seen.clear();
    InjectKey(hwnd_, VK_MENU, true);
    Press(VK_RETURN);
    Press('X');
    InjectKey(hwnd_, VK_MENU, false);
    Drain();
    commands = Of(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(LOWORD(commands[0].wParam), 40003);
    EXPECT_EQ(LOWORD(commands[1].wParam), 40006);
    EXPECT_TRUE(Of(WM_SYSCHAR).empty());
}

TEST_F(MessageTest, AltAloneOpensTheKeyboardMenuCommand) {
    InjectKey(hwnd_, VK_MENU, true);
    InjectKey(hwnd_, VK_MENU, false);
    Drain();
    ASSERT_EQ(Of(WM_SYSKEYDOWN).size(), 1u);
    EXPECT_TRUE(Of(WM_SYSKEYDOWN)[0].lParam & (1 << 29));
    auto sys = Of(WM_SYSCOMMAND);
    ASSERT_EQ(sys.size(), 1u);
    EXPECT_EQ(sys[0].wParam, SC_KEYMENU);
}

TEST_F(MessageTest, MouseMessagesUseClientCoordinatesAndButtonFlags) {
    InjectMouseMove(hwnd_, 10, 20, MK_LBUTTON);
    Drain();
    auto moves = Of(WM_MOUSEMOVE);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].wParam, MK_LBUTTON);
    EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), 10);
    EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), 20);
    auto cursor = Of(WM_SETCURSOR);
    ASSERT_EQ(cursor.size(), 1u);
    EXPECT_EQ(cursor[0].wParam, reinterpret_cast<WPARAM>(hwnd_));
    EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(cursor[0].lParam)), HTCLIENT);
    EXPECT_EQ(HIWORD(static_cast<std::uintptr_t>(cursor[0].lParam)), WM_MOUSEMOVE);

    InjectMouseMove(hwnd_, 5, 6, 0);  // left button released
    g_seen.clear();
    InjectMouseButton(hwnd_, 1, true, 5, 6);
    InjectMouseButton(hwnd_, 1, false, 5, 6);
    Drain();
    ASSERT_EQ(Of(WM_RBUTTONDOWN).size(), 1u);
    EXPECT_EQ(Of(WM_RBUTTONDOWN)[0].wParam, MK_RBUTTON);
    auto context = Of(WM_CONTEXTMENU);
    ASSERT_EQ(context.size(), 1u);
    POINT p{5, 6};
    ClientToScreen(hwnd_, &p);
    EXPECT_EQ(GET_X_LPARAM(context[0].lParam), p.x);
    EXPECT_EQ(GET_Y_LPARAM(context[0].lParam), p.y);
}

TEST_F(MessageTest, ResizeBatchEndsWithOneExitSizeMove) {
    InjectResize(hwnd_, 700, 500);
    Drain();
    ASSERT_EQ(Of(WM_SIZE).size(), 1u);
    EXPECT_EQ(Of(WM_SIZE)[0].wParam, SIZE_RESTORED);
    EXPECT_EQ(Of(WM_SIZE)[0].lParam, MAKELPARAM(700, 500));
    EXPECT_EQ(Of(WM_EXITSIZEMOVE).size(), 1u);
    g_seen.clear();
    InjectMinimize(hwnd_, true);
    ASSERT_EQ(Of(WM_SIZE).size(), 1u);
    EXPECT_EQ(Of(WM_SIZE)[0].wParam, SIZE_MINIMIZED);
    EXPECT_TRUE(Of(WM_EXITSIZEMOVE).empty());
}

TEST_F(MessageTest, PaintComesWhenTheQueueIsEmptyUntilValidated) {
    InvalidateRect(hwnd_, nullptr, FALSE);
    PostMessageA(hwnd_, WM_USER, 7, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_PAINT);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_PAINT);  // still invalid
    DispatchMessageA(&msg);            // the default procedure validates
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageTest, QuitComesAfterPostedMessagesWithItsCode) {
    PostQuitMessage(3);
    PostMessageA(hwnd_, WM_USER, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER);
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(MessageTest, CloseFromAnotherThreadIsQueuedAndWakesTheLoop) {
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Sending from another thread never runs the procedure there and never blocks.
        EXPECT_EQ(SendMessageA(hwnd_, WM_CLOSE, 0, 0), 0);
        sent = true;
    });
    const auto start = std::chrono::steady_clock::now();
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(msg.message, WM_CLOSE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(Of(WM_CLOSE).empty());
    DispatchMessageA(&msg);
    ASSERT_EQ(Of(WM_CLOSE).size(), 1u);
    EXPECT_EQ(g_procThread, std::this_thread::get_id());
    EXPECT_FALSE(IsWindow(hwnd_));  // the default procedure destroyed it
}

TEST_F(MessageTest, MessagesForADestroyedWindowAreDropped) {
    PostMessageA(hwnd_, WM_USER, 1, 0);
    PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    DestroyWindow(hwnd_);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(hwnd_, WM_CLOSE, 0, 0));
    g_seen.clear();
    EXPECT_EQ(SendMessageA(hwnd_, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(g_seen.empty());
}

std::vector<std::string> g_boxes;
TEST_F(MessageTest, MessageBoxesAreRecordedAndNeverBlock) {
    SetMessageBoxRecorder([](const char* text, const char* caption, UINT type) {
        g_boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(type));
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Could not reset.", "Caption", MB_ICONERROR), IDOK);
    SetMessageBoxRecorder(nullptr);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0], "Caption|Could not reset.|16");
    // Without a display the box goes to standard error and returns at once.
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Initializing...", "Info", MB_ICONINFORMATION), IDOK);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Initializing..."), std::string::npos);
}

TEST_F(MessageTest, MenusKeepTheirItemsAndSubMenus) {
    static const MenuItemTemplate items[] = {{"&Go", 1, nullptr, 0}, {nullptr, 0, nullptr, 0}, {"E&xit", 2, nullptr, 0}};
    static const MenuItemTemplate top[] = {{"Popup", 0, items, 3}};
    RegisterMenuResource(900, top, 1);
    HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(900));
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), 1u);
    EXPECT_EQ(GetMenuItemID(popup, 1), 0u);
    char text[16];
    GetMenuStringA(popup, 2, text, sizeof(text));
    EXPECT_STREQ(text, "E&xit");
    EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(901)), nullptr);
    DestroyMenu(menu);
}

}  // namespace
