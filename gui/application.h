// SPDX-License-Identifier: GPL-2.0-or-later
// What the whole program shares: its module instance, and the two windows'
// dialog procedures.
#pragma once

#include <windows.h>

namespace quillon::gui {

// Written once by WinMain before any window exists.
extern HINSTANCE moduleInstance;

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK helpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quillon::gui
