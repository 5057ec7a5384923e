#pragma once
// Modal dialogs. A dialog procedure works on the dialog's controls through the
// DialogControls interface, so its logic runs the same against the real
// dialog window and against a scripted set of controls in tests.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/win_types.h"

struct SDL_Window;

enum class ControlKind { GroupBox, Static, DropDownList, RadioButton, DefPushButton, PushButton };

struct DialogControlTemplate {
    int id;  // -1 for controls without an id
    ControlKind kind;
    const char* text;
    int x, y, w, h;  // dialog units
    bool startsGroup;
};

struct DialogTemplate {
    const char* caption;
    int width, height;  // dialog units
    const DialogControlTemplate* controls;
    int controlCount;
};

class DialogControls {
public:
    virtual ~DialogControls() = default;
    // Drop-down lists.
    virtual void ResetContent(int id) = 0;
    virtual int AddString(int id, const char* text) = 0;  // returns the position
    virtual void SetItemData(int id, int position, std::intptr_t data) = 0;
    virtual std::intptr_t GetItemData(int id, int position) = 0;
    virtual void SetCurSel(int id, int position) = 0;
    virtual int GetCurSel(int id) = 0;  // -1 when nothing is selected
    virtual int GetCount(int id) = 0;
    // Buttons and any control.
    virtual void CheckButton(int id, bool checked) = 0;
    virtual bool IsButtonChecked(int id) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual void EndDialog(INT_PTR result) = 0;
};

using DLGPROC = INT_PTR (*)(DialogControls* dialog, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterDialogResource(int id, const DialogTemplate* dialogTemplate);
const DialogTemplate* FindDialogResource(int id);

// Runs the dialog modally: WM_INITDIALOG with param, then WM_COMMAND for each
// control the user operates, until the procedure ends the dialog. Returns the
// value given to EndDialog, or -1 when the dialog cannot be shown (no display).
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC proc, LPARAM param);

// Tests replace the dialog window with their own runner.
using DialogRunner = INT_PTR (*)(const DialogTemplate& dialogTemplate, DLGPROC proc, LPARAM param);
void SetDialogRunner(DialogRunner runner);

// Called once per drawn frame of a dialog window (frame counts from 0), so a
// program test can photograph the dialog and drive it with display events.
using DialogFrameHook = void (*)(int frame, SDL_Window* window);
void SetDialogFrameHook(DialogFrameHook hook);

// A simple list of controls implementing DialogControls in memory; the dialog
// window keeps its control state in one of these.
class DialogControlState : public DialogControls {
public:
    explicit DialogControlState(const DialogTemplate& t);
    void ResetContent(int id) override;
    int AddString(int id, const char* text) override;
    void SetItemData(int id, int position, std::intptr_t data) override;
    std::intptr_t GetItemData(int id, int position) override;
    void SetCurSel(int id, int position) override;
    int GetCurSel(int id) override;
    int GetCount(int id) override;
    void CheckButton(int id, bool checked) override;
    bool IsButtonChecked(int id) override;
    void EnableControl(int id, bool enabled) override;
    void EndDialog(INT_PTR result) override;

    struct Item {
        std::string text;
        std::intptr_t data = 0;
    };
    struct Control {
        DialogControlTemplate tmpl;
        std::vector<Item> items;
        int selection = -1;
        bool checked = false;
        bool enabled = true;
    };
    Control* Find(int id);
    const DialogTemplate& Template() const { return template_; }
    std::vector<Control>& Controls() { return controls_; }
    bool Ended() const { return ended_; }
    INT_PTR Result() const { return result_; }

private:
    DialogTemplate template_;
    std::vector<Control> controls_;
    bool ended_ = false;
    INT_PTR result_ = 0;
};
