// SPDX-License-Identifier: GPL-2.0-or-later
// Windows implementation of quillon-cli's platform layer. Paths are in the
// system code page, as the narrow ("A") calls take them; a character of a
// double-byte code page may end in the byte of a backslash, so paths are
// walked character by character.
#include "cli/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

namespace quillon::cli::platform {
namespace {

bool isSeparator(const char* character) { return *character == '\\' || *character == '/'; }

// The last character of a non-empty string.
const char* lastCharacter(const std::string& text) {
    return CharPrevA(text.c_str(), text.c_str() + text.size());
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

// Quoted so that the C runtime's parsing of a command line gives it back.
std::string quoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char* at = argument.c_str(); *at != '\0';) {
        const char* next = CharNextA(at);
        if (*at == '\\' && next == at + 1) {
            ++backslashes;
        } else {
            quoted.append(*at == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            quoted.append(at, next);
            backslashes = 0;
        }
        at = next;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

volatile LONG interruptNoted = 0;

BOOL WINAPI noteInterrupt(DWORD) {
    // The children share the console and receive the same event themselves;
    // this process stays to see them end.
    InterlockedExchange(&interruptNoted, 1);
    return TRUE;
}

}  // namespace

std::string ownExecutable() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) return path.substr(0, length);
        path.resize(path.size() * 2);
    }
}

bool standardErrorIsTerminal() {
    // _isatty would also take the NUL device for a terminal.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void makeStandardOutputBinary() { _setmode(_fileno(stdout), _O_BINARY); }

std::string childPath(const std::string& folder, const std::string& name) {
    return !folder.empty() && isSeparator(lastCharacter(folder)) ? folder + name : folder + "\\" + name;
}

std::optional<std::vector<std::string>> subfolderNames(const std::string& folder) {
    WIN32_FIND_DATAA found;
    const HANDLE first = FindFirstFileA(childPath(folder, "*").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) return std::nullopt;
    const FindHandle search(first);
    std::vector<std::string> names;
    do {
        const std::string name = found.cFileName;
        const DWORD attributes = found.dwFileAttributes;
        if (name == "." || name == ".." || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            continue;
        }
        names.push_back(name);
    } while (FindNextFileA(search.get(), &found));
    return names;
}

bool makeFolder(const std::string& folder) {
    if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string folderName(const std::string& path) {
    std::string full(MAX_PATH, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    while (!full.empty() && isSeparator(lastCharacter(full))) full.erase(lastCharacter(full) - full.c_str());
    std::size_t nameStart = 0;
    for (const char* at = full.c_str(); *at != '\0'; at = CharNextA(at)) {
        if (isSeparator(at) || *at == ':') nameStart = static_cast<std::size_t>(at - full.c_str()) + 1;
    }
    return full.substr(nameStart);
}

std::string fileNameKey(const std::string& name) {
    std::string key = name;
    if (!key.empty()) CharLowerBuffA(key.data(), static_cast<DWORD>(key.size()));
    return key;
}

struct ChildProcesses::Child {
    Handle process;
    Handle capture;  // a temporary file, deleted once closed: the child's standard output and error
    std::size_t tag = 0;
};

ChildProcesses::ChildProcesses() {
    InterlockedExchange(&interruptNoted, 0);
    SetConsoleCtrlHandler(noteInterrupt, TRUE);
}

ChildProcesses::~ChildProcesses() {
    for (const auto& child : children_) TerminateProcess(child->process.get(), 1);
    while (!children_.empty()) waitForOne();
    SetConsoleCtrlHandler(noteInterrupt, FALSE);
}

bool ChildProcesses::start(const std::string& program, const std::vector<std::string>& arguments, std::size_t tag,
                           std::string& error) {
    if (running() >= kMaxRunning) {
        error = "too many processes at once";
        return false;
    }
    char tempFolder[MAX_PATH + 1];
    char captureName[MAX_PATH];
    if (GetTempPathA(sizeof tempFolder, tempFolder) == 0 || GetTempFileNameA(tempFolder, "qln", 0, captureName) == 0) {
        error = "cannot create a temporary file";
        return false;
    }
    const HANDLE capture = CreateFileA(captureName, GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (capture == INVALID_HANDLE_VALUE) {
        DeleteFileA(captureName);
        error = "cannot create a temporary file";
        return false;
    }
    auto child = std::make_unique<Child>();
    child->tag = tag;
    child->capture.reset(capture);
    const HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    if (nul == INVALID_HANDLE_VALUE) {
        error = "cannot open NUL";
        return false;
    }
    const Handle input(nul);

    std::string commandLine = quoteArgument(program);
    for (const std::string& argument : arguments) commandLine += " " + quoteArgument(argument);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = child->capture.get();
    startup.hStdError = child->capture.get();
    // Only these two handles are made inheritable, and only for this call, so
    // no child holds another's capture file.
    for (HANDLE handle : {input.get(), child->capture.get()}) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 1);
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                       nullptr, &startup, &started);
    const DWORD startError = GetLastError();
    for (HANDLE handle : {input.get(), child->capture.get()}) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    if (!created) {
        error = "cannot start " + program + " (error " + std::to_string(startError) + ")";
        return false;
    }
    CloseHandle(started.hThread);
    child->process.reset(started.hProcess);
    children_.push_back(std::move(child));
    return true;
}

std::size_t ChildProcesses::running() const { return children_.size(); }

ChildEnd ChildProcesses::waitForOne() {
    std::vector<HANDLE> processes;
    for (const auto& child : children_) processes.push_back(child->process.get());
    const DWORD signalled =
        WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), FALSE, INFINITE);
    const std::size_t index = signalled - WAIT_OBJECT_0 < processes.size() ? signalled - WAIT_OBJECT_0 : 0;
    Child& child = *children_[index];
    if (signalled - WAIT_OBJECT_0 >= processes.size()) WaitForSingleObject(child.process.get(), INFINITE);

    ChildEnd end;
    end.tag = child.tag;
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    if (code < 0xC0000000) {
        end.exitCode = static_cast<int>(code);
    } else {
        char status[32];
        std::snprintf(status, sizeof status, "status 0x%08lX", static_cast<unsigned long>(code));
        end.abnormalEnd = status;
    }
    SetFilePointer(child.capture.get(), 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(child.capture.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) end.printed.append(chunk, got);
    children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
    return end;
}

bool ChildProcesses::interrupted() const { return interruptNoted != 0; }

void ChildProcesses::dieOfInterrupt() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace quillon::cli::platform
