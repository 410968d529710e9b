// SPDX-License-Identifier: GPL-2.0-or-later
// End-to-end tests of quillon.exe: each test starts the real program under
// Wine and drives its windows the way a person would, through window
// messages, with a real X mouse click for the help window's link.
//
// Run by run-gui-tests.sh, which provides the X display, the Wine prefix and
// these environment variables (Unix paths):
//   QUILLON_EXE        the program under test
//   QUILLON_CLI_EXE    quillon-cli.exe of the same build, for its version resource
//   QUILLON_BOOK       the sample book
//   QUILLON_EXPECTED   quillon-cli's outputs for the sample book: markers-strip.rtf,
//                      markers-keep.rtf, plain-strip.rtf, plain-keep.rtf
//   QUILLON_WORK       a scratch folder (holds noindex/, a book without its index,
//                      and the book folder "Psalmen Übersetzung")
//   QUILLON_LINK_LOG   the file the fake browser appends opened addresses to
//   QUILLON_SHOTS      where screenshots go, as PNG files
#include <windows.h>
#include <richedit.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gui/about.h"
#include "gui/resources/resource.h"
#include "quillon_version.h"

namespace {

const char kMainTitle[] = "Convert Step book to RTF format";
const char kAdvice[] =
    ".\n\nDid you select the folder containing your Step Book? Step books consist of multiple files in the same "
    "folder.";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A Unix path as the program sees it through Wine's Z: drive.
std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Reads a file named in the system code page (or by its Unix path).
std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// GetWindowTextA does not ask windows of other processes; WM_GETTEXT does.
std::string windowText(HWND window) {
    std::vector<char> text(1 << 16, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return text.data();
}

std::string itemText(HWND dialog, int id) {
    char text[4096] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string className(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> windows;
    EnumChildWindows(parent, collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool isVisibleDialog(HWND window) { return IsWindowVisible(window) && className(window) == "#32770"; }

// Posting, not sending: a click that opens a modal box would otherwise block
// the driver until that box is closed.
void click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void pressKey(HWND control, WPARAM key) {
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, 0xC0000001);
}

// Starts a Linux program: Wine runs it when given its Unix path.
bool startLinuxProgram(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Saves what the screen shows of `window` as a PNG file; without a window
// manager Wine's screen coordinates are the X display's.
void saveScreenshot(HWND window, const std::string& name) {
    const std::string folder = environment("QUILLON_SHOTS");
    if (folder.empty()) return;
    RECT rect;
    GetWindowRect(window, &rect);
    const std::string png = folder + "/" + name + ".png";
    const std::string area = std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) +
                             "+" + std::to_string(rect.left) + "+" + std::to_string(rect.top);
    ASSERT_TRUE(startLinuxProgram("/bin/sh -c \"import -window root -crop " + area + " +repage 'png:" + png +
                                  ".part' && mv '" + png + ".part' '" + png + "'\""));
    EXPECT_TRUE(waitUntil([&] { return std::ifstream(png).good(); }, 15000)) << "no screenshot " << png;
}

// What Explorer shows under the file's Properties, Details: the strings of
// the table that the resource's translation entry names.
TEST(VersionResourceTest, BothProgramsNameProductVersionDescriptionAndCopyright) {
    std::set<std::string> descriptions;
    for (const char* variable : {"QUILLON_EXE", "QUILLON_CLI_EXE"}) {
        const std::string program = environment(variable);
        ASSERT_FALSE(program.empty()) << variable << " is not set";
        SCOPED_TRACE(program);
        const std::string path = windowsPath(program);
        DWORD unused = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
        ASSERT_GT(size, 0u) << "no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(QUILLON_VERSION_MINOR, QUILLON_VERSION_MAJOR)));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(QUILLON_VERSION_TWEAK, QUILLON_VERSION_PATCH)));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

        WORD* translation = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                   &length));
        ASSERT_GE(length, 4u);
        char table[64];
        std::snprintf(table, sizeof table, "\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
        const auto value = [&](const std::string& name) -> std::string {
            char* text = nullptr;
            UINT textLength = 0;
            if (!VerQueryValueA(info.data(), (table + name).c_str(), reinterpret_cast<void**>(&text), &textLength)) {
                return "(missing)";
            }
            return text;
        };
        EXPECT_EQ(value("ProductName"), "Quillon");
        EXPECT_EQ(value("ProductVersion"), QUILLON_VERSION);
        EXPECT_EQ(value("FileVersion"), QUILLON_VERSION);
        EXPECT_EQ(value("LegalCopyright"), QUILLON_COPYRIGHT);
        EXPECT_EQ(value("OriginalFilename"), program.substr(program.rfind('/') + 1));
        descriptions.insert(value("FileDescription"));
    }
    EXPECT_EQ(descriptions.size(), 2u) << "each program has a description of its own";
    EXPECT_EQ(descriptions.count("(missing)"), 0u);
}

// One running quillon.exe, ended when the test is over.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + windowsPath(environment("QUILLON_EXE")) + "\"";
        ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process_))
            << "cannot start " << commandLine;
        main_ = waitForDialog(kMainTitle);
        ASSERT_NE(main_, nullptr) << "the main window did not appear";
    }

    void TearDown() override {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_.hProcess, 1);
                WaitForSingleObject(process_.hProcess, 5000);
            }
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }

    // A visible dialog of the program with this title, waited for.
    HWND waitForDialog(const std::string& title, int timeoutMs = 10000) {
        HWND found = nullptr;
        waitUntil([&] { return (found = findDialog(title)) != nullptr; }, timeoutMs);
        return found;
    }

    HWND findDialog(const std::string& title) {
        for (HWND window : topLevelWindows()) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == process_.dwProcessId && isVisibleDialog(window) && windowText(window) == title) return window;
        }
        return nullptr;
    }

    // Waits for a message box, returns its text and closes it with OK.
    std::string takeMessageBox(const std::string& caption) {
        HWND box = waitForDialog(caption);
        if (box == nullptr) {
            ADD_FAILURE() << "no message box captioned \"" << caption << "\"";
            return {};
        }
        const std::string text = itemText(box, 0xFFFF);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(waitUntil([&] { return !IsWindow(box); })) << "the message box did not close";
        return text;
    }

    void setFields(const std::string& folder, const std::string& output) {
        SetDlgItemTextA(main_, IDC_FOLDER, folder.c_str());
        SetDlgItemTextA(main_, IDC_OUTPUT, output.c_str());
    }

    void setOption(int id, bool on) {
        const bool ticked = SendDlgItemMessageA(main_, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
        if (ticked != on) SendMessageA(GetDlgItem(main_, id), BM_CLICK, 0, 0);  // the box toggles itself
    }

    std::string convert() {
        click(main_, IDOK);
        return takeMessageBox("Conversion result");
    }

    // Drops `path` onto the main window as the shell does: a DROPFILES block
    // in the program's memory, handed over by WM_DROPFILES.
    void dropOnMainWindow(const std::string& path) {
        DROPFILES header{};
        header.pFiles = sizeof header;
        header.fWide = FALSE;
        std::string block(reinterpret_cast<const char*>(&header), sizeof header);
        block += path;
        block.append(2, '\0');
        void* copy = VirtualAllocEx(process_.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(copy, nullptr);
        ASSERT_TRUE(WriteProcessMemory(process_.hProcess, copy, block.data(), block.size(), nullptr));
        PostMessageA(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(copy), 0);
    }

    DWORD waitForExit() {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process_.hProcess, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION process_{};
    HWND main_ = nullptr;
};

TEST_F(ProgramTest, MainWindowStartsWithItsControlsEmptyFieldsAndBothOptionsOn) {
    saveScreenshot(main_, "main-window");
    EXPECT_EQ(windowText(main_), kMainTitle);
    const std::pair<int, const char*> texts[] = {
        {IDOK, "Convert"},
        {IDCANCEL, "Exit"},
        {IDC_SELECT_FOLDER, "Select"},
        {IDC_SELECT_OUTPUT, "Select"},
        {IDC_INSERT_MARKERS, "Insert \xF7 at section beginning"},
        {IDC_HELP_BUTTON, "Help"},
        {IDC_STRIP_TAGS, "Strip \\v0 and \\v1 RTF tags"},
        {IDC_FOLDER, ""},
        {IDC_OUTPUT, ""},
    };
    for (const auto& [id, text] : texts) EXPECT_EQ(itemText(main_, id), text) << "control " << id;
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_INSERT_MARKERS, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendDlgItemMessageA(main_, IDC_STRIP_TAGS, BM_GETCHECK, 0, 0), BST_CHECKED);

    std::vector<std::string> labels;
    for (HWND child : childWindows(main_)) {
        if (className(child) == "Static") labels.push_back(windowText(child));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Folder containing Step Book:", "Output Folder and Filename:"}));
}

// The fields typed or a book dropped, then Convert: the message box says
// what the run says, and what it wrote is what quillon-cli writes.
TEST_F(ProgramTest, ConvertRunsTheConversionAndShowsItsOutcome) {
    EXPECT_TRUE(GetWindowLongA(main_, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) << "the window takes no drops";
    const std::string work = windowsPath(environment("QUILLON_WORK"));
    const std::string book = windowsPath(environment("QUILLON_BOOK"));
    const std::string accented = work + "\\Psalmen \xDC" "bersetzung";  // code page 1252
    const std::string kept = work + "\\kept-by-the-drop";
    const std::string longFolder = "Z:\\" + std::string(300, 'p');
    struct Case {
        const char* name;
        std::string dropped;  // empty: nothing is dropped
        std::string folder, output;
        bool markers, strip;
        std::string message;
        const char* sameAs = nullptr;  // quillon-cli's output for these options
    };
    const std::string converted = "Converted successfully";
    const Case cases[] = {
        {"both options", {}, book, work + "\\a.rtf", true, true, converted, "markers-strip"},
        {"markers only", {}, book, work + "\\b.rtf", true, false, converted, "markers-keep"},
        {"stripping only", {}, book, work + "\\c.rtf", false, true, converted, "plain-strip"},
        {"neither", {}, book, work + "\\d.rtf", false, false, converted, "plain-keep"},
        {"accented folder and file", {}, accented, work + "\\Ausgabe-\xE9t\xE9.rtf", true, true, converted,
         "markers-strip"},
        {"no book", {}, work + "\\nothing-here", work + "\\x.rtf", true, true,
         "Could not open file: " + work + "\\nothing-here\\Book.dat" + kAdvice},
        {"no output folder", {}, book, work + "\\missing-folder\\x.rtf", true, true,
         "Could not open file for writing: " + work + "\\missing-folder\\x.rtf"},
        {"no index, and no file left", {}, work + "\\noindex", work + "\\noindex.rtf", true, true,
         "Could not open file: " + work + "\\noindex\\Viewable.idx" + kAdvice},
        {"a folder of 300 characters is cut to 255", {}, longFolder, work + "\\x.rtf", true, true,
         "Could not open file: " + longFolder.substr(0, 255) + "\\Book.dat" + kAdvice},
        {"a dropped folder", accented, kept, work + "\\e.rtf", true, true, converted, "markers-strip"},
        {"a dropped Book.dat", book + "\\Book.dat", kept, work + "\\f.rtf", true, true, converted, "markers-strip"},
        // Drops of what is not a book leave the field as it was.
        {"a dropped book without its index", work + "\\noindex", kept, work + "\\x.rtf", true, true,
         "Could not open file: " + kept + "\\Book.dat" + kAdvice},
        {"a dropped Book.dat without its index", work + "\\noindex\\Book.dat", kept, work + "\\x.rtf", true, true,
         "Could not open file: " + kept + "\\Book.dat" + kAdvice},
        {"a dropped file of another kind", work + "\\expected\\markers-strip.rtf", kept, work + "\\x.rtf", true, true,
         "Could not open file: " + kept + "\\Book.dat" + kAdvice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setFields(c.folder, c.output);
        setOption(IDC_INSERT_MARKERS, c.markers);
        setOption(IDC_STRIP_TAGS, c.strip);
        if (!c.dropped.empty()) dropOnMainWindow(c.dropped);
        // Convert, posted after the drop, runs once the drop has been handled.
        EXPECT_EQ(convert(), c.message);
        const bool aBookWasDropped = !c.dropped.empty() && c.sameAs != nullptr;
        EXPECT_EQ(itemText(main_, IDC_FOLDER), !aBookWasDropped ? c.folder : c.dropped == accented ? accented : book);
        const std::string written = readFile(c.output);
        if (c.sameAs != nullptr) {
            EXPECT_TRUE(written == readFile(environment("QUILLON_EXPECTED") + "/" + c.sameAs + ".rtf"))
                << "output differs from quillon-cli's";
        } else {
            EXPECT_EQ(GetFileAttributesA(c.output.c_str()), INVALID_FILE_ATTRIBUTES) << "a file was left behind";
        }
    }
}

TEST_F(ProgramTest, EnterRunsConvertWhichRefusesEmptyFieldsFolderFirstAndEscapeExitsWithCodeZero) {
    pressKey(GetDlgItem(main_, IDC_FOLDER), VK_RETURN);
    EXPECT_EQ(takeMessageBox("Error"), "You must select the folder containing the Step book you want to convert.");
    SetDlgItemTextA(main_, IDC_FOLDER, "Z:\\somewhere");
    pressKey(GetDlgItem(main_, IDC_STRIP_TAGS), VK_RETURN);
    EXPECT_EQ(takeMessageBox("Error"), "You must select a folder and filename for the RTF file.");
    EXPECT_EQ(itemText(main_, IDC_FOLDER), "Z:\\somewhere");
    pressKey(GetDlgItem(main_, IDC_OUTPUT), VK_ESCAPE);
    EXPECT_EQ(waitForExit(), 0u);
}

TEST_F(ProgramTest, SaveDialogAddsTheRtfExtension) {
    click(main_, IDC_SELECT_OUTPUT);
    HWND save = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        save = nullptr;
        for (const char* title : {"Save As", "Save as"}) {
            if (save == nullptr) save = findDialog(title);
        }
        return save != nullptr;
    })) << "no save-file dialog";
    const std::string typed = windowsPath(environment("QUILLON_WORK")) + "\\chosen-name";
    // The file name box: an editable combo box in the explorer-style dialog.
    HWND name = GetDlgItem(save, 0x47C);
    if (name == nullptr) name = GetDlgItem(save, 0x480);
    ASSERT_NE(name, nullptr);
    SetWindowTextA(name, typed.c_str());
    click(save, IDOK);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(save); }));
    EXPECT_EQ(itemText(main_, IDC_OUTPUT), typed + ".rtf");
}

TEST_F(ProgramTest, CancellingTheFolderBrowserKeepsTheField) {
    SetDlgItemTextA(main_, IDC_FOLDER, "Z:\\kept");
    click(main_, IDC_SELECT_FOLDER);
    HWND browser = nullptr;
    // The browser has no owner; it is known by the title line it shows.
    ASSERT_TRUE(waitUntil([&] {
        for (HWND window : topLevelWindows()) {
            if (!isVisibleDialog(window)) continue;
            for (HWND child : childWindows(window)) {
                if (windowText(child) == "Select Step Book Folder:") browser = window;
            }
        }
        return browser != nullptr;
    })) << "no folder browser";
    click(browser, IDCANCEL);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(browser); }));
    EXPECT_EQ(itemText(main_, IDC_FOLDER), "Z:\\kept");
}

class HelpWindowTest : public ProgramTest {
protected:
    HWND openHelp() {
        click(main_, IDC_HELP_BUTTON);
        HWND help = waitForDialog("About");
        EXPECT_NE(help, nullptr) << "the help window did not open";
        return help;
    }

    void expectClosed(HWND help) {
        EXPECT_TRUE(waitUntil([&] { return !IsWindow(help); })) << "the help window stayed open";
        EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(main_) != FALSE; }));
    }
};

TEST_F(HelpWindowTest, ShowsTheHelpTextAndAClickOnTheLinkOpensTheSupportSite) {
    HWND help = openHelp();
    ASSERT_NE(help, nullptr);
    HWND text = FindWindowExA(help, nullptr, "RichEdit20A", nullptr);
    ASSERT_NE(text, nullptr);
    const std::string content = windowText(text);
    EXPECT_EQ(content.rfind("Quillon, v" QUILLON_VERSION "\r", 0), 0u) << content.substr(0, 80);
    EXPECT_FALSE(IsWindowEnabled(main_)) << "the main window must wait for the help window";

    // The text area fits the window, above the Close button.
    RECT area, client, close;
    GetWindowRect(text, &area);
    GetClientRect(help, &client);
    MapWindowPoints(help, nullptr, reinterpret_cast<POINT*>(&client), 2);
    GetWindowRect(GetDlgItem(help, IDCANCEL), &close);
    EXPECT_GE(area.left, client.left);
    EXPECT_LE(area.right, client.right);
    EXPECT_LE(area.bottom, close.top);
    saveScreenshot(help, "help-window");

    // Character positions count a paragraph end as one character; the text
    // read back ends paragraphs with CR LF.
    const std::size_t at = content.find(quillon::gui::kSupportSite);
    ASSERT_NE(at, std::string::npos);
    std::size_t index = at;
    for (std::size_t p = content.find("\r\n"); p < at; p = content.find("\r\n", p + 2)) --index;
    const LRESULT position = SendMessageA(text, EM_POSFROMCHAR, index + 4, 0);
    POINT point{static_cast<short>(LOWORD(position)) + 2, static_cast<short>(HIWORD(position)) + 6};
    ClientToScreen(text, &point);

    const std::string log = environment("QUILLON_LINK_LOG");
    std::remove(log.c_str());
    ASSERT_TRUE(startLinuxProgram("/usr/bin/xdotool mousemove " + std::to_string(point.x) + " " +
                                  std::to_string(point.y) + " click 1"));
    EXPECT_TRUE(waitUntil([&] { return readFile(log).find(quillon::gui::kSupportSite) != std::string::npos; }, 15000))
        << "the browser was not asked to open " << quillon::gui::kSupportSite << "; it saw: " << readFile(log);
    EXPECT_TRUE(IsWindow(help)) << "a link click leaves the help window open";

    click(help, IDCANCEL);
    expectClosed(help);
}

TEST_F(HelpWindowTest, EscapeAndEnterCloseIt) {
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        HWND help = openHelp();
        ASSERT_NE(help, nullptr);
        HWND close = GetDlgItem(help, IDCANCEL);
        GUITHREADINFO focus{};
        focus.cbSize = sizeof focus;
        GetGUIThreadInfo(process_.dwThreadId, &focus);
        EXPECT_EQ(focus.hwndFocus, close) << "the Close button has the focus when the window opens";
        // Windows makes the focused push button the default one as the dialog
        // opens; Wine does so only when the focus moves. A Tab (Close is the
        // only stop) brings Wine to the state Windows starts in.
        if (key == VK_RETURN) pressKey(close, VK_TAB);
        pressKey(close, key);
        expectClosed(help);
    }
}

}  // namespace
