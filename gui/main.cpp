// SPDX-License-Identifier: GPL-2.0-or-later
// quillon.exe: opens the main window and runs the message loop.
#include <windows.h>

#include "gui/application.h"
#include "gui/resources/resource.h"

namespace quillon::gui {
HINSTANCE moduleInstance = nullptr;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace quillon::gui;
    moduleInstance = instance;

    HWND mainWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
    if (mainWindow == nullptr) return 1;
    ShowWindow(mainWindow, SW_SHOWNORMAL);

    // The main window is never destroyed: Exit ends the process from inside
    // this loop, which therefore ends only on WM_QUIT or an error.
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) == 1) {
        if (IsDialogMessageA(mainWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
