// SPDX-License-Identifier: GPL-2.0-or-later
// The help window: the help text in a read-only rich-edit area; a click on a
// link opens the support web site.
#include <windows.h>
#include <richedit.h>
#include <shellapi.h>

#include "gui/about.h"
#include "gui/application.h"
#include "gui/help_text.h"

namespace quillon::gui {
namespace {

constexpr int kMargin = 10;  // pixels around the text area

// The text area is laid out in pixels while the dialog is sized in dialog
// units: fit it to the client area above the Close button, whatever the
// display's font metrics make of the dialog.
RECT textAreaRect(HWND dialog) {
    RECT client{};
    GetClientRect(dialog, &client);
    RECT close{};
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &close);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&close), 2);
    return {kMargin, kMargin, client.right - kMargin, close.top - kMargin};
}

INT_PTR onInitDialog(HWND dialog) {
    const RECT area = textAreaRect(dialog);
    // Without the rich-edit library this fails and the window shows only Close.
    HWND text = CreateWindowExA(0, "RichEdit20A", "", WS_CHILD | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                                area.left, area.top, area.right - area.left, area.bottom - area.top, dialog,
                                nullptr, moduleInstance, nullptr);
    SendMessageA(text, EM_SETEVENTMASK, 0, ENM_LINK);
    SendMessageA(text, EM_AUTOURLDETECT, 1, 0);
    ShowWindow(text, SW_SHOWNORMAL);
    SETTEXTEX replaceAll{ST_DEFAULT, CP_ACP};
    SendMessageA(text, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&replaceAll),
                 reinterpret_cast<LPARAM>(helpText().c_str()));
    return TRUE;
}

void onNotify(const NMHDR& header) {
    if (header.code != EN_LINK) return;
    // Every link leads to the support site; it opens when the button is released over it.
    if (reinterpret_cast<const ENLINK&>(header).msg != WM_LBUTTONUP) return;
    ShellExecuteA(nullptr, "open", kSupportSite, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

INT_PTR CALLBACK helpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // Nothing may unwind into the window system.
    try {
        switch (message) {
        case WM_INITDIALOG: return onInitDialog(dialog);
        case WM_NOTIFY: onNotify(*reinterpret_cast<const NMHDR*>(lParam)); return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDCANCEL) return FALSE;
            EndDialog(dialog, 0);
            return TRUE;
        default: return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

}  // namespace quillon::gui
