// SPDX-License-Identifier: GPL-2.0-or-later
// Identifiers shared by quillon.rc and the code.
#pragma once

#define IDD_MAIN 101
#define IDD_HELP 102
#define IDI_QUILLON 107

// The Convert, Exit and Close buttons use the dialog manager's own IDOK (1)
// and IDCANCEL (2), so that Enter and Escape reach them.
#define IDC_FOLDER 1001
#define IDC_OUTPUT 1002
#define IDC_SELECT_FOLDER 1003
#define IDC_SELECT_OUTPUT 1004
#define IDC_INSERT_MARKERS 1005
#define IDC_HELP_BUTTON 1006
#define IDC_STRIP_TAGS 1008

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
