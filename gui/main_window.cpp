// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: the two paths, the two options, Convert, the pickers,
// Help and Exit, and a Step book dropped onto it.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <array>
#include <exception>
#include <string>

#include "engine/conversion.h"
#include "gui/application.h"
#include "gui/resources/resource.h"
#include "gui/win32_handles.h"

namespace quillon::gui {
namespace {

const char kErrorCaption[] = "Error";
const char kResultCaption[] = "Conversion result";
const char kRichEditMissing[] = "This program requires RichEd20.dll";
const char kFolderMissing[] = "You must select the folder containing the Step book you want to convert.";
const char kOutputMissing[] = "You must select a folder and filename for the RTF file.";
const char kConverted[] = "Converted successfully";
const char kBrowseTitle[] = "Select Step Book Folder:";
const char kRtfFilter[] = "Rtf Files (*.rtf)\0*.rtf\0";  // the literal's own zero ends the list

// The save-file dialog's structure as the program has always passed it: the
// full 88-byte OPENFILENAMEA of 32-bit Windows.
static_assert(sizeof(OPENFILENAMEA) == 88, "OPENFILENAMEA of 32-bit Windows");
constexpr DWORD kSaveFileFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER;
static_assert(kSaveFileFlags == 0x80806);

// Loaded with the main window for the help window's text area; released at Exit.
Library richEdit;

bool isTicked(HWND dialog, int box) {
    const LRESULT state = SendMessageA(GetDlgItem(dialog, box), BM_GETSTATE, 0, 0);
    return (state & 3) == BST_CHECKED;
}

INT_PTR onInitDialog(HWND dialog) {
    DragAcceptFiles(dialog, TRUE);
    SendDlgItemMessageA(dialog, IDC_INSERT_MARKERS, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageA(dialog, IDC_STRIP_TAGS, BM_SETCHECK, BST_CHECKED, 0);
    richEdit.reset(LoadLibraryA("RichEd20.dll"));
    if (richEdit) return TRUE;
    MessageBoxA(nullptr, kRichEditMissing, kErrorCaption, MB_OK | MB_ICONERROR);
    return FALSE;
}

void onConvert(HWND dialog) {
    std::array<char, 256> folder{};
    std::array<char, 256> output{};
    GetDlgItemTextA(dialog, IDC_FOLDER, folder.data(), static_cast<int>(folder.size()));
    GetDlgItemTextA(dialog, IDC_OUTPUT, output.data(), static_cast<int>(output.size()));
    if (folder[0] == '\0') {
        MessageBoxA(dialog, kFolderMissing, kErrorCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (output[0] == '\0') {
        MessageBoxA(dialog, kOutputMissing, kErrorCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }

    const ConversionRequest request{folder.data(), output.data(), isTicked(dialog, IDC_INSERT_MARKERS),
                                    isTicked(dialog, IDC_STRIP_TAGS)};
    const ConversionResult result = runConversion(request);
    if (result.succeeded) {
        MessageBoxA(dialog, kConverted, kResultCaption, MB_OK | MB_ICONINFORMATION);
    } else {
        MessageBoxA(dialog, result.message.c_str(), kResultCaption, MB_OK | MB_ICONERROR);
    }
}

[[noreturn]] void onExit() {
    richEdit.reset();
    ExitProcess(0);
}

void onBrowseFolder(HWND dialog) {
    BROWSEINFOA browse{};
    browse.lpszTitle = kBrowseTitle;
    browse.ulFlags = 0;
    const ItemIdList item(SHBrowseForFolderA(&browse));
    if (!item) return;
    std::array<char, 260> path{};
    if (SHGetPathFromIDListA(item.get(), path.data())) SetDlgItemTextA(dialog, IDC_FOLDER, path.data());
}

void onSelectOutput(HWND dialog) {
    std::array<char, 260> name{};
    OPENFILENAMEA save{};
    save.lStructSize = sizeof(save);
    save.hwndOwner = dialog;
    save.lpstrFilter = kRtfFilter;
    save.lpstrFile = name.data();
    save.nMaxFile = static_cast<DWORD>(name.size());
    save.Flags = kSaveFileFlags;
    save.lpstrDefExt = "rtf";
    if (GetSaveFileNameA(&save)) SetDlgItemTextA(dialog, IDC_OUTPUT, name.data());
}

// The Step book folder a dropped path stands for: the folder itself, or the
// folder of a dropped Book.dat or Viewable.idx. Empty when it is no book.
std::string droppedBookFolder(std::string path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const char* name = PathFindFileNameA(path.c_str());
        if (lstrcmpiA(name, "Book.dat") != 0 && lstrcmpiA(name, "Viewable.idx") != 0) return {};
        PathRemoveFileSpecA(path.data());
        path.resize(std::char_traits<char>::length(path.c_str()));
    }
    return isStepBookFolder(path) ? path : std::string();
}

// The first dropped item that names a Step book fills the folder field;
// anything else leaves it as it was.
void onDropFiles(HWND dialog, HDROP dropped) {
    const Drop drop(dropped);
    const UINT count = DragQueryFileA(drop.get(), 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        std::string path(DragQueryFileA(drop.get(), index, nullptr, 0) + 1, '\0');
        path.resize(DragQueryFileA(drop.get(), index, path.data(), static_cast<UINT>(path.size())));
        const std::string folder = droppedBookFolder(path);
        if (folder.empty()) continue;
        SetDlgItemTextA(dialog, IDC_FOLDER, folder.c_str());
        return;
    }
}

void onHelp(HWND dialog) {
    DialogBoxParamA(moduleInstance, MAKEINTRESOURCEA(IDD_HELP), dialog, helpDialogProc, 0);
}

INT_PTR onCommand(HWND dialog, WORD command) {
    switch (command) {
    case IDOK: onConvert(dialog); return TRUE;
    case IDCANCEL: onExit();
    case IDC_SELECT_FOLDER: onBrowseFolder(dialog); return TRUE;
    case IDC_SELECT_OUTPUT: onSelectOutput(dialog); return TRUE;
    case IDC_HELP_BUTTON: onHelp(dialog); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    // Nothing may unwind into the window system.
    try {
        switch (message) {
        case WM_INITDIALOG: return onInitDialog(dialog);
        case WM_COMMAND: return onCommand(dialog, LOWORD(wParam));
        case WM_DROPFILES: onDropFiles(dialog, reinterpret_cast<HDROP>(wParam)); return TRUE;
        case WM_CTLCOLORSTATIC: {
            const HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkMode(dc, TRANSPARENT);
            return 0;  // no brush: the dialog's own background stays
        }
        default: return FALSE;
        }
    } catch (const std::exception& error) {
        MessageBoxA(dialog, error.what(), kErrorCaption, MB_OK | MB_ICONERROR);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace quillon::gui
