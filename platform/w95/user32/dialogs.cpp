// Modeless dialogs from the program's compiled resources, with their controls
// and window texts: CreateDialogParamA, GetDlgItem, SetWindowTextA,
// GetWindowTextA, UpdateWindow and DestroyWindow. There is no message loop and
// no dialog procedure is ever called; a dialog is a passive display, drawn on
// standard error when it is painted (UpdateWindow, or a message box's modal
// loop, or its closing when neither came first) with its texts at that
// moment, and drawn again at each later change of a text: never with a
// template's text that the program replaced first.
#include <windows.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulated_process.h"
#include "fault_injection.h"
#include "program_resources.h"
#include "screen.h"
#include "transcript.h"

namespace {

constexpr DWORD kErrorResourceDataNotFound = 1812;

using Window = w95::DialogWindow;

std::map<ULONG_PTR, Window> &Windows() {
    return w95::Process().dialogs.windows;
}

HWND HandleOf(ULONG_PTR h) { return reinterpret_cast<HWND>(h); }

Window *Find(HWND hWnd) {
    auto it = Windows().find(reinterpret_cast<ULONG_PTR>(hWnd));
    return it == Windows().end() ? nullptr : &it->second;
}

// The start of a call on an existing window: the window, or nullptr with
// the last error set when the call is to fail or the handle names none.
Window *WindowFor(w95::CallName call, HWND hWnd) {
    if (DWORD e = w95::InjectedFault(call)) {
        SetLastError(e);
        return nullptr;
    }
    Window *w = Find(hWnd);
    if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

nlohmann::ordered_json DialogId(const w95::ResourceId &name) {
    if (name.isNumber) return name.number;
    return name.name;
}

nlohmann::ordered_json RequestedId(LPCSTR lpTemplateName) {
    if (IS_INTRESOURCE(lpTemplateName))
        return static_cast<int>(reinterpret_cast<ULONG_PTR>(lpTemplateName));
    return w95::AnsiToUtf8(lpTemplateName);
}

std::string ControlPicture(const Window &c) {
    std::string text = w95::AnsiToUtf8(c.text);
    if (c.className == "STATIC" && (c.style & 0x1F) == SS_ICON) return "[#]";
    if (c.className == "BUTTON") return "[ " + text + " ]";
    if (c.className == "EDIT") return "[" + text + "]";
    return text;
}

void Draw(const Window &dialog) {
    if (!(dialog.style & WS_VISIBLE)) return;
    // Dialog units to character cells: a character is about 4 units wide
    // and 8 units high.
    std::vector<w95::ScreenControl> controls;
    for (ULONG_PTR h : dialog.children) {
        const Window &c = Windows().at(h);
        if (!(c.style & WS_VISIBLE)) continue;
        w95::ScreenControl s;
        s.column = c.x / 4;
        s.row = c.y / 8;
        s.width = c.width / 4;
        s.text = ControlPicture(c);
        if (c.className == "STATIC") {
            DWORD type = c.style & 0x1F;
            s.align = type == SS_CENTER ? 'c' : type == SS_RIGHT ? 'r' : 'l';
        }
        controls.push_back(s);
    }
    w95::ShowOnScreen(w95::DialogPicture(w95::AnsiToUtf8(dialog.text),
                                         dialog.width / 4,
                                         (dialog.height + 7) / 8, controls));
}

// Draws a visible dialog that is not on the screen yet.
void Paint(Window &dialog) {
    if (dialog.painted || !(dialog.style & WS_VISIBLE)) return;
    dialog.painted = true;
    Draw(dialog);
}

// Makes the window of a dialog (parent 0) or of one of its controls.
ULONG_PTR AddWindow(const w95::WindowTemplate &shape, ULONG_PTR parent,
                    const w95::DialogTemplate &dialog) {
    ULONG_PTR handle = w95::Process().dialogs.nextHandle;
    w95::Process().dialogs.nextHandle += 4;
    Window &w = Windows()[handle];
    static_cast<w95::WindowTemplate &>(w) = shape;
    w.parent = parent;
    w.dialog = DialogId(dialog.name);
    w.extended = dialog.extended;
    if (parent) Windows().at(parent).children.push_back(handle);
    return handle;
}

void RecordFailedDialog(LPCSTR lpTemplateName) {
    w95::RecordEvent({{"event", "CreateDialog"},
                      {"id", RequestedId(lpTemplateName)},
                      {"failed", true}});
}

}  // namespace

extern "C" HWND WINAPI CreateDialogParamA(HINSTANCE hInstance,
                                          LPCSTR lpTemplateName,
                                          HWND hWndParent, DLGPROC lpDialogFunc,
                                          LPARAM dwInitParam) {
    // The template comes from the program's own resources whatever the
    // instance; the dialog procedure is never called (no message loop).
    (void)hInstance;
    (void)lpDialogFunc;
    (void)dwInitParam;
    if (DWORD e = w95::InjectedFault("CreateDialogParamA")) {
        SetLastError(e);
        RecordFailedDialog(lpTemplateName);
        return nullptr;
    }
    if (hWndParent && !Find(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        RecordFailedDialog(lpTemplateName);
        return nullptr;
    }
    std::optional<w95::DialogTemplate> t;
    try {
        if (const w95::ResourceFile *resources = w95::ProgramResources())
            t = resources->FindDialog(lpTemplateName);
    } catch (const std::exception &e) {
        // A resource file the emulation cannot read: the run goes on without
        // the dialog and ends with exit code 3.
        w95::ReportRunError(e.what());
        SetLastError(kErrorResourceDataNotFound);
        RecordFailedDialog(lpTemplateName);
        return nullptr;
    }
    if (!t) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        RecordFailedDialog(lpTemplateName);
        return nullptr;
    }

    ULONG_PTR handle = AddWindow(t->frame, 0, *t);
    nlohmann::ordered_json controls = nlohmann::ordered_json::array();
    for (const w95::WindowTemplate &c : t->controls) {
        AddWindow(c, handle, *t);
        controls.push_back({{"id", c.id},
                            {"class", w95::AnsiToUtf8(c.className)},
                            {"text", w95::AnsiToUtf8(c.text)}});
    }
    const Window &made = Windows().at(handle);
    w95::RecordEvent({{"event", "CreateDialog"},
                      {"id", made.dialog},
                      {"title", w95::AnsiToUtf8(made.text)},
                      {"controls", controls}});
    return HandleOf(handle);
}

extern "C" HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window *dialog = WindowFor("GetDlgItem", hDlg);
    if (!dialog) {
        return nullptr;
    }
    for (ULONG_PTR h : dialog->children) {
        const Window &c = Windows().at(h);
        // A DIALOG template keeps 16-bit identifiers: -1 and 0xFFFF are one.
        bool same = c.extended ? c.id == nIDDlgItem
                               : (c.id & 0xFFFF) == (nIDDlgItem & 0xFFFF);
        if (same) return HandleOf(h);
    }
    return nullptr;  // no control of that identifier: no error either
}

extern "C" BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    Window *w = WindowFor("SetWindowTextA", hWnd);
    if (!w) {
        return FALSE;
    }
    w->text = lpString ? lpString : "";
    nlohmann::ordered_json control = nullptr;
    if (w->parent) control = w->id;
    w95::RecordEvent({{"event", "SetWindowText"},
                      {"dialog", w->dialog},
                      {"control", control},
                      {"text", w95::AnsiToUtf8(w->text)}});
    // A window on the screen shows its new text at once; one not painted
    // yet shows it when it is.
    const Window &dialog = w->parent ? Windows().at(w->parent) : *w;
    if (dialog.painted && (w->style & WS_VISIBLE)) Draw(dialog);
    return TRUE;
}

extern "C" int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    Window *w = WindowFor("GetWindowTextA", hWnd);
    if (!w) {
        if (lpString && nMaxCount > 0) lpString[0] = '\0';
        return 0;
    }
    if (!lpString || nMaxCount <= 0) return 0;
    std::size_t n =
        std::min(w->text.size(), static_cast<std::size_t>(nMaxCount - 1));
    std::memcpy(lpString, w->text.data(), n);
    lpString[n] = '\0';
    return static_cast<int>(n);
}

// The first paint of a visible dialog draws it; once on the screen it is
// drawn again at every change, so no paint is pending after that. The call
// is recorded and succeeds on any window that exists.
extern "C" BOOL WINAPI UpdateWindow(HWND hWnd) {
    Window *w = WindowFor("UpdateWindow", hWnd);
    if (!w) {
        return FALSE;
    }
    nlohmann::ordered_json event = {{"event", "UpdateWindow"},
                                    {"dialog", w->dialog}};
    if (w->parent) event["control"] = w->id;
    w95::RecordEvent(event);
    Paint(w->parent ? Windows().at(w->parent) : *w);
    return TRUE;
}

void w95::PaintPendingDialogs() {
    for (auto &[handle, w] : Windows())
        if (!w.parent) Paint(w);
}

extern "C" BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window *w = WindowFor("DestroyWindow", hWnd);
    if (!w) {
        return FALSE;
    }
    ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(hWnd);
    nlohmann::ordered_json event = {{"event", "DestroyWindow"},
                                    {"dialog", w->dialog}};
    if (w->parent) {
        event["control"] = w->id;
        auto &siblings = Windows().at(w->parent).children;
        std::erase(siblings, handle);
        const Window &dialog = Windows().at(w->parent);
        Windows().erase(handle);
        if (dialog.painted) Draw(dialog);
    } else {
        // A visible dialog closed before any paint is drawn once, as it
        // stands: every dialog a program shows is seen on the terminal.
        Paint(*w);
        std::string title = w95::AnsiToUtf8(w->text);
        for (ULONG_PTR child : w->children) Windows().erase(child);
        bool visible = w->painted;
        Windows().erase(handle);
        if (visible) w95::ShowOnScreen("(closed: " + title + ")\n");
    }
    w95::RecordEvent(event);
    return TRUE;
}
