#pragma once
// Windows and the message queue on SDL2. A window exists either on a display
// (an SDL window) or, when no display is available, as a window without a
// surface that keeps its rectangles and receives messages all the same.
#include "platform/ui/win_types.h"

struct SDL_Window;

// Window classes and windows.
ATOM RegisterClassA(const WNDCLASSA* wc);
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
inline HWND CreateWindowA(const char* className, const char* title, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    return CreateWindowExA(0, className, title, style, x, y, width, height, parent, menu, instance, param);
}
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
LONG GetWindowLongA(HWND hwnd, int index);
LONG SetWindowLongA(HWND hwnd, int index, LONG value);
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL GetClientRect(HWND hwnd, RECT* rect);
BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL ShowWindow(HWND hwnd, int command);
BOOL IsIconic(HWND hwnd);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND hwnd, const RECT* rect);
int GetSystemMetrics(int index);
HINSTANCE GetModuleHandleA(const char* name);
HCURSOR GetClassCursor(HWND hwnd);  // the class cursor of the window

// Cursor.
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HICON LoadIconA(HINSTANCE instance, const char* name);
inline const char* const IDC_ARROW = reinterpret_cast<const char*>(32512);
inline const char* const IDI_APPLICATION = reinterpret_cast<const char*>(32512);
inline const char* MAKEINTRESOURCEA(int id) { return reinterpret_cast<const char*>(static_cast<std::intptr_t>(id)); }
HCURSOR SetCursor(HCURSOR cursor);
BOOL GetCursorPos(POINT* point);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL ClientToScreen(HWND hwnd, POINT* point);
BOOL ClipCursor(const RECT* rect);
BOOL GetClipCursor(RECT* rect);  // the confinement rectangle; FALSE when none
HBRUSH GetStockBrush(int index);
constexpr int WHITE_BRUSH = 0;

// Messages.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
// Safe from any thread; queues the message and wakes the loop.
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// On the window's thread the procedure runs now; from another thread the
// message is queued (the sender never blocks) and 0 is returned.
LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
short GetKeyState(int virtualKey);

// Menus.
HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL AppendMenuA(HMENU menu, UINT flags, std::uintptr_t idOrSubMenu, const char* text);
BOOL DestroyMenu(HMENU menu);
HMENU GetSubMenu(HMENU menu, int position);
HMENU GetMenu(HWND hwnd);
BOOL SetMenu(HWND hwnd, HMENU menu);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);  // 0xFFFFFFFF for a sub-menu, 0 for a separator
int GetMenuStringA(HMENU menu, int position, char* text, int size);
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, void* params);

// Accelerators.
HACCEL CreateAcceleratorTableA(const ACCEL* entries, int count);
BOOL DestroyAcceleratorTable(HACCEL table);
int TranslateAcceleratorA(HWND hwnd, HACCEL table, MSG* msg);

// Resources of the program (accelerator tables, menus, dialogs) by number.
void RegisterAcceleratorResource(int id, const ACCEL* entries, int count);
HACCEL LoadAcceleratorsA(HINSTANCE instance, const char* name);
struct MenuItemTemplate {
    const char* text;  // null for a separator
    UINT id;           // command id; 0 with subItems set for a sub-menu
    const MenuItemTemplate* subItems;
    int subCount;
};
void RegisterMenuResource(int id, const MenuItemTemplate* items, int count);
HMENU LoadMenuA(HINSTANCE instance, const char* name);

// Message boxes. With no display, or with a recorder installed, the box is
// written to standard error (and handed to the recorder) and returns IDOK.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
using MessageBoxRecorder = void (*)(const char* text, const char* caption, UINT type);
void SetMessageBoxRecorder(MessageBoxRecorder recorder);

// --- Layer control (not part of the window-system surface the application uses).

// True when windows appear on a display (SDL video is up).
bool DisplayAvailable();
// Forces windows without a display even when one exists (tests).
void SetHeadlessWindows(bool headless);
SDL_Window* GetSdlWindow(HWND hwnd);
// Full-screen switching for the device: the window covers the display at the
// given size, or goes back to its windowed rectangle.
bool SetWindowFullscreen(HWND hwnd, bool fullscreen, int width, int height);

// Input as it arrives from the display, for tests without one: each call
// goes through the same translation as the display's events.
void InjectKey(HWND hwnd, WORD virtualKey, bool down, bool repeat = false);
void InjectMouseMove(HWND hwnd, int x, int y, WPARAM buttons);
void InjectMouseButton(HWND hwnd, int button, bool down, int x, int y);  // 0 left, 1 right, 2 middle
void InjectResize(HWND hwnd, int clientWidth, int clientHeight);         // ends with one WM_EXITSIZEMOVE
void InjectMinimize(HWND hwnd, bool minimized);
void InjectCloseButton(HWND hwnd);
// Forgets key states and pending messages (tests).
void ResetMessageQueueForTests();

// Tests choose popup-menu items without a display: returns the chosen
// command id, or 0 to dismiss the menu.
using PopupMenuChooser = UINT (*)(HMENU menu, int x, int y);
void SetPopupMenuChooser(PopupMenuChooser chooser);
