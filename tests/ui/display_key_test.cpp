// Key events as the display delivers them (run under a private X server):
// the lock keys' state comes with the display, not from keys seen here.
#include <gtest/gtest.h>

#include <SDL2/SDL.h>

#include <vector>

#include "platform/ui/window.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
};
std::vector<Seen> g_seen;

LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_CHAR) g_seen.push_back({message, wParam});
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class DisplayKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHeadlessWindows(false);
        if (!DisplayAvailable()) GTEST_SKIP() << "no display";
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "Display Key Window";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowA("Display Key Window", "Keys", WS_VISIBLE | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 240, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd_, nullptr);
        ASSERT_NE(GetSdlWindow(hwnd_), nullptr);
        // Let the window's own events (mapping, focus) pass before the lock state is set.
        for (int i = 0; i < 10; ++i) {
            Drain();
            SDL_Delay(10);
        }
        g_seen.clear();
    }
    void TearDown() override {
        if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
        ResetMessageQueueForTests();
    }
    void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    void PushKey(SDL_Keycode key, SDL_Scancode scancode, Uint16 mod) {
        for (Uint32 type : {static_cast<Uint32>(SDL_KEYDOWN), static_cast<Uint32>(SDL_KEYUP)}) {
            SDL_Event e{};
            e.type = type;
            e.key.windowID = SDL_GetWindowID(GetSdlWindow(hwnd_));
            e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
            e.key.keysym.sym = key;
            e.key.keysym.scancode = scancode;
            e.key.keysym.mod = mod;
            SDL_PushEvent(&e);
        }
        Drain();
    }
    HWND hwnd_ = nullptr;
};

TEST_F(DisplayKeyTest, KeypadAndCapsLockFollowTheDisplaysLockState) {
    SDL_SetModState(KMOD_NONE);
    PushKey(SDLK_KP_1, SDL_SCANCODE_KP_1, KMOD_NONE);
    ASSERT_EQ(g_seen.size(), 1u);  // END, which types nothing
    EXPECT_EQ(g_seen[0].message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(g_seen[0].wParam, static_cast<WPARAM>(VK_END));

    g_seen.clear();
    SDL_SetModState(KMOD_NUM);
    PushKey(SDLK_KP_1, SDL_SCANCODE_KP_1, KMOD_NUM);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].wParam, static_cast<WPARAM>(VK_NUMPAD1));
    EXPECT_EQ(g_seen[1].message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(g_seen[1].wParam, static_cast<WPARAM>('1'));

    // CapsLock already on (as if set before the program started): the letter types upper case.
    g_seen.clear();
    SDL_SetModState(KMOD_CAPS);
    PushKey(SDLK_a, SDL_SCANCODE_A, KMOD_CAPS);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].wParam, static_cast<WPARAM>('A'));
    EXPECT_EQ(g_seen[1].wParam, static_cast<WPARAM>('A'));

    g_seen.clear();
    SDL_SetModState(KMOD_NONE);
    PushKey(SDLK_a, SDL_SCANCODE_A, KMOD_NONE);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[1].wParam, static_cast<WPARAM>('a'));
}

}  // namespace
