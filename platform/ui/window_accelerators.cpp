// Accelerator tables and their translation.
#include "platform/ui/window_state.h"

using namespace uiwin;

HACCEL CreateAcceleratorTableA(const ACCEL* entries, int count) {
    if (!entries || count <= 0) return nullptr;
    auto* table = new std::vector<ACCEL>(entries, entries + count);
    return reinterpret_cast<HACCEL>(table);
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    if (!table) return FALSE;
    delete reinterpret_cast<std::vector<ACCEL>*>(table);
    return TRUE;
}

void RegisterAcceleratorResource(int id, const ACCEL* entries, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_accelResources[id].assign(entries, entries + std::max(0, count));
}

HACCEL LoadAcceleratorsA(HINSTANCE, const char* name) {
    const int id = static_cast<int>(reinterpret_cast<std::intptr_t>(name));
    std::vector<ACCEL> entries;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_accelResources.find(id);
        if (it == g_accelResources.end()) return nullptr;
        entries = it->second;
    }
    return CreateAcceleratorTableA(entries.data(), static_cast<int>(entries.size()));
}

int TranslateAcceleratorA(HWND hwnd, HACCEL table, MSG* msg) {
    if (!table || !msg || !hwnd) return 0;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return 0;
    const auto* entries = reinterpret_cast<const std::vector<ACCEL>*>(table);
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const bool control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const bool alt = (GetKeyState(VK_MENU) & 0x8000) != 0 || (msg->lParam & (1 << 29)) != 0;
    const WORD vk = LOWORD(msg->wParam);
    for (const ACCEL& a : *entries) {
        if (!(a.fVirt & FVIRTKEY) || a.key != vk) continue;
        if (((a.fVirt & FSHIFT) != 0) != shift) continue;
        if (((a.fVirt & FCONTROL) != 0) != control) continue;
        if (((a.fVirt & FALT) != 0) != alt) continue;
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}
