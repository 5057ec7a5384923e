// Menus and popup menus.
#include "platform/ui/window_state.h"

using namespace uiwin;

HMENU CreateMenu() { return reinterpret_cast<HMENU>(new Menu()); }
HMENU CreatePopupMenu() { return reinterpret_cast<HMENU>(new Menu()); }

BOOL AppendMenuA(HMENU menu, UINT flags, std::uintptr_t idOrSub, const char* text) {
    if (!menu) return FALSE;
    auto* m = reinterpret_cast<Menu*>(menu);
    MenuItem item;
    item.separator = (flags & MF_SEPARATOR) != 0;
    if (flags & MF_POPUP) {
        item.sub = reinterpret_cast<HMENU>(idOrSub);
    } else {
        item.id = static_cast<UINT>(idOrSub);
    }
    if (text && !item.separator) item.text = text;
    m->items.push_back(item);
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    if (!menu) return FALSE;
    auto* m = reinterpret_cast<Menu*>(menu);
    for (auto& item : m->items) {
        if (item.sub) DestroyMenu(item.sub);
    }
    delete m;
    return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
    if (!menu) return nullptr;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return nullptr;
    return m->items[static_cast<size_t>(position)].sub;
}

HMENU GetMenu(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->menu : nullptr;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
    Window* w = Find(hwnd);
    if (!w) return FALSE;
    w->menu = menu;
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    return menu ? static_cast<int>(reinterpret_cast<Menu*>(menu)->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    if (!menu) return 0xFFFFFFFFu;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
    const MenuItem& item = m->items[static_cast<size_t>(position)];
    if (item.sub) return 0xFFFFFFFFu;
    return item.separator ? 0 : item.id;
}

int GetMenuStringA(HMENU menu, int position, char* text, int size) {
    if (!menu || !text || size <= 0) return 0;
    auto* m = reinterpret_cast<Menu*>(menu);
    if (position < 0 || position >= static_cast<int>(m->items.size())) return 0;
    const std::string& s = m->items[static_cast<size_t>(position)].text;
    const int n = std::min(static_cast<int>(s.size()), size - 1);
    std::memcpy(text, s.data(), static_cast<size_t>(n));
    text[n] = '\0';
    return n;
}

void RegisterMenuResource(int id, const MenuItemTemplate* items, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_menuResources[id].assign(items, items + std::max(0, count));
}

namespace {
HMENU BuildMenu(const MenuItemTemplate* items, int count, bool popup) {
    HMENU menu = popup ? CreatePopupMenu() : CreateMenu();
    for (int i = 0; i < count; ++i) {
        const MenuItemTemplate& t = items[i];
        if (!t.text) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        } else if (t.subItems) {
            AppendMenuA(menu, MF_POPUP, reinterpret_cast<std::uintptr_t>(BuildMenu(t.subItems, t.subCount, true)),
                        t.text);
        } else {
            AppendMenuA(menu, MF_STRING, t.id, t.text);
        }
    }
    return menu;
}
}  // namespace

HMENU LoadMenuA(HINSTANCE, const char* name) {
    const int id = static_cast<int>(reinterpret_cast<std::intptr_t>(name));
    std::vector<MenuItemTemplate> items;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_menuResources.find(id);
        if (it == g_menuResources.end()) return nullptr;
        items = it->second;
    }
    return BuildMenu(items.data(), static_cast<int>(items.size()), false);
}
