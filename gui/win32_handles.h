// SPDX-License-Identifier: GPL-2.0-or-later
// Owners for the Win32 resources the program takes: each is released by its
// owner's destructor, or earlier by reset().
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <type_traits>

namespace quillon::gui {

struct LibraryDeleter {
    void operator()(HMODULE library) const { FreeLibrary(library); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

// An item list the shell hands to its caller (SHBrowseForFolderA).
struct ItemIdListDeleter {
    void operator()(ITEMIDLIST* items) const { CoTaskMemFree(items); }
};
using ItemIdList = std::unique_ptr<ITEMIDLIST, ItemIdListDeleter>;

// The files of a drop (WM_DROPFILES), released with DragFinish.
struct DropDeleter {
    void operator()(HDROP drop) const { DragFinish(drop); }
};
using Drop = std::unique_ptr<std::remove_pointer_t<HDROP>, DropDeleter>;

}  // namespace quillon::gui
