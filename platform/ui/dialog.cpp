#include "platform/ui/dialog.h"

#include <SDL2/SDL.h>
#include <imgui.h>
#include <backends/imgui_impl_opengl2.h>
#include <backends/imgui_impl_sdl.h>

#include <GL/gl.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/ui/ui_internal.h"
#include "platform/ui/window.h"

namespace {

std::mutex g_resourceMutex;
std::map<int, const DialogTemplate*> g_dialogs;
std::atomic<DialogRunner> g_runner{nullptr};
std::atomic<DialogFrameHook> g_frameHook{nullptr};

// Pixels per dialog unit, sized for the dialog font's wider glyphs.
constexpr float kUnitX = 1.8f;
constexpr float kUnitY = 1.75f;

std::string WithoutMnemonics(const char* text) {
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '&') {
            if (p[1] == '&') {
                out += '&';
                ++p;
            }
            continue;
        }
        out += *p;
    }
    return out;
}

// One top-level SDL window with its own GL context and ImGui context; the
// previous GL and ImGui contexts are restored when it goes.
class ImGuiWindow {
public:
    ImGuiWindow(const char* title, int x, int y, int w, int h, Uint32 extraFlags) {
        prevWindow_ = SDL_GL_GetCurrentWindow();
        prevContext_ = SDL_GL_GetCurrentContext();
        prevImGui_ = ImGui::GetCurrentContext();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window_ = SDL_CreateWindow(title, x, y, w, h, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | extraFlags);
        if (!window_) return;
        context_ = SDL_GL_CreateContext(window_);
        if (!context_) {
            SDL_DestroyWindow(window_);
            window_ = nullptr;
            return;
        }
        SDL_GL_MakeCurrent(window_, context_);
        imgui_ = ImGui::CreateContext();
        ImGui::SetCurrentContext(imgui_);
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
        ImGui::StyleColorsLight();
        ImGui_ImplSDL2_InitForOpenGL(window_, context_);
        ImGui_ImplOpenGL2_Init();
    }
    ~ImGuiWindow() {
        if (window_) {
            ImGui_ImplOpenGL2_Shutdown();
            ImGui_ImplSDL2_Shutdown();
            ImGui::DestroyContext(imgui_);
            SDL_GL_MakeCurrent(window_, nullptr);
            SDL_GL_DeleteContext(context_);
            SDL_DestroyWindow(window_);
        }
        ImGui::SetCurrentContext(prevImGui_);
        if (prevWindow_ && prevContext_) SDL_GL_MakeCurrent(prevWindow_, prevContext_);
    }
    bool ok() const { return window_ != nullptr; }
    SDL_Window* window() const { return window_; }
    Uint32 id() const { return SDL_GetWindowID(window_); }

    // Pumps the display; events of other layer windows are translated (input
    // to them is dropped while this window is modal). Calls onEvent for ours.
    template <typename F>
    void Pump(F&& onEvent) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            Uint32 wid = 0;
            switch (e.type) {
                case SDL_WINDOWEVENT: wid = e.window.windowID; break;
                case SDL_KEYDOWN:
                case SDL_KEYUP: wid = e.key.windowID; break;
                case SDL_TEXTINPUT: wid = e.text.windowID; break;
                case SDL_MOUSEMOTION: wid = e.motion.windowID; break;
                case SDL_MOUSEBUTTONDOWN:
                case SDL_MOUSEBUTTONUP: wid = e.button.windowID; break;
                case SDL_MOUSEWHEEL: wid = e.wheel.windowID; break;
                default: break;
            }
            if (wid == id()) {
                ImGui_ImplSDL2_ProcessEvent(&e);
                onEvent(e);
            } else if (e.type == SDL_WINDOWEVENT) {
                ui_detail::HandleDisplayEvent(e);
            }
        }
        ui_detail::FinishDisplayBatch();
    }
    void BeginFrame() {
        SDL_GL_MakeCurrent(window_, context_);
        ImGui_ImplOpenGL2_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        ImGui::NewFrame();
        int w = 0, h = 0;
        SDL_GetWindowSize(window_, &w, &h);
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(static_cast<float>(w), static_cast<float>(h)));
        ImGui::Begin("##body", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                         ImGuiWindowFlags_NoBringToFrontOnFocus);
    }
    void EndFrame() {
        ImGui::End();
        ImGui::Render();
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(window_, &w, &h);
        glViewport(0, 0, w, h);
        glClearColor(0.94f, 0.94f, 0.94f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
        SDL_GL_SwapWindow(window_);
    }

private:
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    SDL_Window* prevWindow_ = nullptr;
    SDL_GLContext prevContext_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    ImGuiContext* prevImGui_ = nullptr;
};

void CheckRadio(DialogControlState& state, int id) {
    auto& controls = state.Controls();
    int index = -1;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].tmpl.id == id) index = static_cast<int>(i);
    }
    if (index < 0) return;
    int first = index;
    while (first > 0 && !controls[static_cast<size_t>(first)].tmpl.startsGroup) --first;
    for (size_t i = static_cast<size_t>(first); i < controls.size(); ++i) {
        if (i != static_cast<size_t>(first) && controls[i].tmpl.startsGroup) break;
        if (controls[i].tmpl.kind == ControlKind::RadioButton) controls[i].checked = controls[i].tmpl.id == id;
    }
}

INT_PTR RunDialogWindow(const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param) {
    const int w = static_cast<int>(t.width * kUnitX + 0.5f);
    const int h = static_cast<int>(t.height * kUnitY + 0.5f);
    int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    RECT r;
    if (owner && GetWindowRect(owner, &r)) {
        x = (r.left + r.right - w) / 2;
        y = (r.top + r.bottom - h) / 2;
        if (x < 0) x = 0;
        if (y < 0) y = 0;
    }
    ImGuiWindow win(t.caption, x, y, w, h, SDL_WINDOW_ALWAYS_ON_TOP);
    if (!win.ok()) {
        std::fprintf(stderr, "dialog: %s\n", SDL_GetError());
        return -1;
    }
    DialogControlState state(t);
    proc(&state, WM_INITDIALOG, 0, param);
    auto command = [&](int id, WORD code) {
        if (!state.Ended()) proc(&state, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), code), 0);
    };
    int frame = 0;
    while (!state.Ended()) {
        bool popupOpen = false;
        win.Pump([&](const SDL_Event& e) {
            if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) command(IDCANCEL, BN_CLICKED);
            if (e.type == SDL_KEYDOWN && !popupOpen && !ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId)) {
                if (e.key.keysym.sym == SDLK_ESCAPE) command(IDCANCEL, BN_CLICKED);
                if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) {
                    for (auto& c : state.Controls()) {
                        if (c.tmpl.kind == ControlKind::DefPushButton && c.enabled) {
                            command(c.tmpl.id, BN_CLICKED);
                            break;
                        }
                    }
                }
            }
        });
        if (state.Ended()) break;
        win.BeginFrame();
        ImDrawList* draw = ImGui::GetWindowDrawList();
        int pendingId = 0;
        WORD pendingCode = 0;
        int index = 0;
        for (auto& c : state.Controls()) {
            ImGui::PushID(index++);
            const float px = c.tmpl.x * kUnitX, py = c.tmpl.y * kUnitY;
            const float pw = c.tmpl.w * kUnitX, ph = c.tmpl.h * kUnitY;
            const std::string label = WithoutMnemonics(c.tmpl.text);
            ImGui::BeginDisabled(!c.enabled);
            switch (c.tmpl.kind) {
                case ControlKind::GroupBox: {
                    const ImVec2 origin = ImGui::GetWindowPos();
                    const float textH = ImGui::GetTextLineHeight();
                    draw->AddRect(ImVec2(origin.x + px, origin.y + py + textH / 2),
                                  ImVec2(origin.x + px + pw, origin.y + py + ph), IM_COL32(160, 160, 160, 255));
                    const ImVec2 size = ImGui::CalcTextSize(label.c_str());
                    draw->AddRectFilled(ImVec2(origin.x + px + 5, origin.y + py),
                                        ImVec2(origin.x + px + 9 + size.x, origin.y + py + textH),
                                        ImGui::GetColorU32(ImGuiCol_WindowBg));
                    draw->AddText(ImVec2(origin.x + px + 7, origin.y + py), ImGui::GetColorU32(ImGuiCol_Text),
                                  label.c_str());
                    break;
                }
                case ControlKind::Static:
                    ImGui::SetCursorPos(ImVec2(px, py));
                    ImGui::TextUnformatted(label.c_str());
                    break;
                case ControlKind::DropDownList: {
                    ImGui::SetCursorPos(ImVec2(px, py - 2));
                    ImGui::SetNextItemWidth(pw);
                    const char* preview = (c.selection >= 0 && c.selection < static_cast<int>(c.items.size()))
                                              ? c.items[static_cast<size_t>(c.selection)].text.c_str()
                                              : "";
                    if (ImGui::BeginCombo("##list", preview)) {
                        popupOpen = true;
                        for (size_t i = 0; i < c.items.size(); ++i) {
                            ImGui::PushID(static_cast<int>(i));
                            const bool selected = static_cast<int>(i) == c.selection;
                            if (ImGui::Selectable(c.items[i].text.c_str(), selected)) {
                                c.selection = static_cast<int>(i);
                                pendingId = c.tmpl.id;
                                pendingCode = CBN_SELENDOK;
                            }
                            if (selected) ImGui::SetItemDefaultFocus();
                            ImGui::PopID();
                        }
                        ImGui::EndCombo();
                    }
                    break;
                }
                case ControlKind::RadioButton:
                    ImGui::SetCursorPos(ImVec2(px, py));
                    if (ImGui::RadioButton(label.c_str(), c.checked)) {
                        pendingId = c.tmpl.id;
                        pendingCode = BN_CLICKED;
                    }
                    break;
                case ControlKind::DefPushButton:
                case ControlKind::PushButton:
                    ImGui::SetCursorPos(ImVec2(px, py));
                    if (ImGui::Button(label.c_str(), ImVec2(pw, ph + 4))) {
                        pendingId = c.tmpl.id;
                        pendingCode = BN_CLICKED;
                    }
                    break;
            }
            ImGui::EndDisabled();
            ImGui::PopID();
        }
        win.EndFrame();
        if (pendingId != 0) {
            auto* c = state.Find(pendingId);
            if (c && c->tmpl.kind == ControlKind::RadioButton) CheckRadio(state, pendingId);
            command(pendingId, pendingCode);
        }
        if (DialogFrameHook hook = g_frameHook.load()) hook(frame, win.window());
        ++frame;
        SDL_Delay(10);
    }
    return state.Result();
}

}  // namespace

// ---------------------------------------------------------------- control state

DialogControlState::DialogControlState(const DialogTemplate& t) : template_(t) {
    for (int i = 0; i < t.controlCount; ++i) {
        Control c;
        c.tmpl = t.controls[i];
        controls_.push_back(c);
    }
}

DialogControlState::Control* DialogControlState::Find(int id) {
    if (id < 0) return nullptr;
    for (auto& c : controls_) {
        if (c.tmpl.id == id) return &c;
    }
    return nullptr;
}

void DialogControlState::ResetContent(int id) {
    if (auto* c = Find(id)) {
        c->items.clear();
        c->selection = -1;
    }
}

int DialogControlState::AddString(int id, const char* text) {
    auto* c = Find(id);
    if (!c) return -1;
    c->items.push_back(Item{text ? text : "", 0});
    return static_cast<int>(c->items.size()) - 1;
}

void DialogControlState::SetItemData(int id, int position, std::intptr_t data) {
    auto* c = Find(id);
    if (c && position >= 0 && position < static_cast<int>(c->items.size())) c->items[static_cast<size_t>(position)].data = data;
}

std::intptr_t DialogControlState::GetItemData(int id, int position) {
    auto* c = Find(id);
    if (c && position >= 0 && position < static_cast<int>(c->items.size())) return c->items[static_cast<size_t>(position)].data;
    return -1;
}

void DialogControlState::SetCurSel(int id, int position) {
    auto* c = Find(id);
    if (!c) return;
    c->selection = (position >= 0 && position < static_cast<int>(c->items.size())) ? position : -1;
}

int DialogControlState::GetCurSel(int id) {
    auto* c = Find(id);
    return c ? c->selection : -1;
}

int DialogControlState::GetCount(int id) {
    auto* c = Find(id);
    return c ? static_cast<int>(c->items.size()) : 0;
}

void DialogControlState::CheckButton(int id, bool checked) {
    if (auto* c = Find(id)) c->checked = checked;
}

bool DialogControlState::IsButtonChecked(int id) {
    auto* c = Find(id);
    return c && c->checked;
}

void DialogControlState::EnableControl(int id, bool enabled) {
    if (auto* c = Find(id)) c->enabled = enabled;
}

void DialogControlState::EndDialog(INT_PTR result) {
    ended_ = true;
    result_ = result;
}

// ---------------------------------------------------------------- resources and modal run

void RegisterDialogResource(int id, const DialogTemplate* t) {
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    g_dialogs[id] = t;
}

const DialogTemplate* FindDialogResource(int id) {
    std::lock_guard<std::mutex> lock(g_resourceMutex);
    auto it = g_dialogs.find(id);
    return it == g_dialogs.end() ? nullptr : it->second;
}

void SetDialogRunner(DialogRunner runner) { g_runner.store(runner); }
void SetDialogFrameHook(DialogFrameHook hook) { g_frameHook.store(hook); }

INT_PTR DialogBoxParamA(HINSTANCE, const char* templateName, HWND owner, DLGPROC proc, LPARAM param) {
    const int id = static_cast<int>(reinterpret_cast<std::intptr_t>(templateName));
    const DialogTemplate* t = FindDialogResource(id);
    if (!t || !proc) return -1;
    if (DialogRunner runner = g_runner.load()) return runner(*t, proc, param);
    if (!DisplayAvailable()) return -1;
    return RunDialogWindow(*t, owner, proc, param);
}

// ---------------------------------------------------------------- popup menu

namespace {
std::atomic<PopupMenuChooser> g_popupChooser{nullptr};
}

void SetPopupMenuChooser(PopupMenuChooser chooser) { g_popupChooser.store(chooser); }

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, void*) {
    const int count = GetMenuItemCount(menu);
    if (!menu || count <= 0) return FALSE;
    UINT chosen = 0;
    if (PopupMenuChooser chooser = g_popupChooser.load()) {
        chosen = chooser(menu, x, y);
    } else if (DisplayAvailable()) {
        const int w = 150;
        const int h = 8 + count * 20;
        ImGuiWindow win("", x, y, w, h, SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_POPUP_MENU);
        if (!win.ok()) return FALSE;
        bool done = false;
        while (!done) {
            win.Pump([&](const SDL_Event& e) {
                if (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE) done = true;
                if (e.type == SDL_WINDOWEVENT &&
                    (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST || e.window.event == SDL_WINDOWEVENT_CLOSE))
                    done = true;
            });
            if (done) break;
            win.BeginFrame();
            for (int i = 0; i < count; ++i) {
                const UINT id = GetMenuItemID(menu, i);
                if (id == 0) {
                    ImGui::Separator();
                    continue;
                }
                char text[128];
                GetMenuStringA(menu, i, text, sizeof(text));
                ImGui::PushID(i);
                if (ImGui::Selectable(WithoutMnemonics(text).c_str())) {
                    chosen = id;
                    done = true;
                }
                ImGui::PopID();
            }
            win.EndFrame();
            SDL_Delay(10);
        }
    }
    if (chosen == 0 || chosen == 0xFFFFFFFFu) return FALSE;
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
    PostMessageA(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(chosen), 0), 0);
    return TRUE;
}
