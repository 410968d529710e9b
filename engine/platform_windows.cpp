// SPDX-License-Identifier: GPL-2.0-or-later
// Windows implementation of the engine's platform layer. Paths arrive in the
// system code page, as the narrow ("A") calls deliver them.
#include "engine/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/interruption.h"

namespace quillon::platform {

const char kPathSeparator = '\\';

namespace {

// The C runtime says so when it could not get memory; a run reports that as
// what it is, not as a file that cannot be opened.
void throwIfOutOfMemory(int error) {
    if (error == ENOMEM) throw std::bad_alloc();
}

// A file handle closed when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// A step the console control handler waits for; it runs on a thread of its own.
class UninterruptedStep {
public:
    UninterruptedStep() : begun_(interruption::beginStep()) {}
    ~UninterruptedStep() {
        if (begun_) interruption::endStep();
    }
    UninterruptedStep(const UninterruptedStep&) = delete;
    UninterruptedStep& operator=(const UninterruptedStep&) = delete;

    bool begun() const { return begun_; }

private:
    bool begun_;
};

// The full path of `path` (ReplaceFileA under Wine takes no other), and in
// `folder` its folder with a trailing separator. Windows finds the separators,
// so a double-byte character ending in 0x5C is not mistaken for one.
std::string fullPath(const std::string& path, std::string* folder = nullptr) {
    std::string full(MAX_PATH, '\0');
    char* name = nullptr;
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), &name);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), &name);
    }
    if (length == 0 || length >= full.size()) return path;
    full.resize(length);
    if (folder != nullptr) {
        *folder = name != nullptr ? full.substr(0, static_cast<std::size_t>(name - full.data())) : full;
    }
    return full;
}

std::optional<BY_HANDLE_FILE_INFORMATION> fileInformation(const std::string& path) {
    const Handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
    return information;
}

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

// Creates a new file named `prefix` + six characters that no other process may
// open while it is being written, and opens it as a stream for reading and
// writing; null when that fails for any other reason than a name in use.
std::FILE* createUniqueFile(const std::string& prefix, DWORD attributesAndFlags, std::string& path) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint32_t seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = prefix;
        for (int letter = 0; letter < 6; ++letter) {
            seed = seed * 1664525u + 1013904223u;
            path += kLetters[(seed >> 16) % (sizeof kLetters - 1)];
        }
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                          CREATE_NEW, attributesAndFlags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
        std::FILE* file = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
        if (file != nullptr) return file;
        const int error = errno;
        if (fd >= 0) {
            _close(fd);
        } else {
            CloseHandle(handle);
        }
        DeleteFileA(path.c_str());
        throwIfOutOfMemory(error);
        return nullptr;
    }
    return nullptr;
}

// Whether another program holds `target` open without letting it be replaced.
bool isHeldOpen(const std::string& target) {
    const Handle probe(CreateFileA(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

bool isSharingError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// ReplaceFileA, which keeps the target's attributes, access control list and
// streams; retried for about a second while another program holds the target.
bool replaceWhenFree(const std::string& target, const std::string& replacement) {
    constexpr int kAttempts = 20;
    constexpr DWORD kPauseMilliseconds = 50;
    for (int attempt = 1;; ++attempt) {
        // Asked first: under Wine a ReplaceFileA that meets a held target
        // leaves a file of its own behind.
        if (!isHeldOpen(target)) {
            if (ReplaceFileA(target.c_str(), replacement.c_str(), nullptr, 0, nullptr, nullptr)) return true;
            const DWORD error = GetLastError();
            if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
                // The target is gone already; the replacement still has its own name.
                return MoveFileExA(replacement.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
            }
            if (!isSharingError(error)) return false;
        }
        if (attempt == kAttempts) return false;
        Sleep(kPauseMilliseconds);
    }
}

// Whether the target's file system has room for it to grow to `size` bytes.
bool hasRoomFor(HANDLE target, const std::string& targetPath, std::int64_t size) {
    LARGE_INTEGER current{};
    if (!GetFileSizeEx(target, &current)) return false;
    if (size <= current.QuadPart) return true;
    std::string folder;
    fullPath(targetPath, &folder);
    ULARGE_INTEGER available{};
    return GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr) &&
           available.QuadPart >= static_cast<std::uint64_t>(size - current.QuadPart);
}

void deletePath(const char* path) { DeleteFileA(path); }

void pauseBriefly() { Sleep(1); }

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    interruption::removeRememberedFiles(deletePath, pauseBriefly);
    // The exit status Windows gives a console program that Ctrl-C ends. Ending
    // at once, without the runtime's clean-up, cannot wait for a lock that the
    // interrupted thread holds.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

std::string libraryPath(const std::string& path) {
    // SWORD opens files through UTF-8 names on Windows.
    if (path.empty()) return path;
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (wideLength <= 0) return path;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), wideLength);
    const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) return path;
    std::string utf8(static_cast<std::size_t>(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), utf8Length, nullptr, nullptr);
    return utf8;
}

std::size_t readDescriptor(int fd, void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = count - done < INT_MAX ? count - done : INT_MAX;
        const int got = _read(fd, bytes + done, static_cast<unsigned int>(chunk));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::int64_t seekDescriptor(int fd, std::int64_t offset, int origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) return -1;
    return _lseeki64(fd, offset, whence[origin]);
}

void closeDescriptor(int fd) { _close(fd); }

std::optional<std::int64_t> regularFileSize(int fd) {
    struct _stati64 info {};
    if (_fstati64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

PathKind pathKind(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::regularFile;
}

char lastCharacter(const std::string& path) {
    if (path.empty()) return '\0';
    const char* end = path.c_str() + path.size();
    const char* last = CharPrevA(path.c_str(), end);
    return last == end - 1 ? *last : '\0';
}

bool canWriteExistingFile(const std::string& path) {
    return static_cast<bool>(Handle(CreateFileA(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

bool isSameFile(const std::string& first, const std::string& second) {
    const auto one = fileInformation(first);
    const auto other = fileInformation(second);
    return one && other && one->dwVolumeSerialNumber == other->dwVolumeSerialNumber &&
           one->nFileIndexHigh == other->nFileIndexHigh && one->nFileIndexLow == other->nFileIndexLow;
}

std::FILE* openForWriting(const std::string& path) {
    std::FILE* file = _fsopen(path.c_str(), "wb", _SH_DENYNO);
    if (file == nullptr) throwIfOutOfMemory(errno);
    return file;
}

std::string replacementTarget(const std::string& path) { return path; }

TemporaryFile::~TemporaryFile() {
    if (file_ != nullptr) std::fclose(file_);
    remove();
}

void TemporaryFile::remove() {
    if (!path_.empty()) DeleteFileA(path_.c_str());
    interruption::forget(interruptSlot_);
    interruptSlot_ = -1;
    path_.clear();
}

bool TemporaryFile::createBeside(const std::string& target) {
    std::string folder;
    fullPath(target, &folder);
    if (folder.empty()) return false;
    std::string path;
    const UninterruptedStep step;
    if (!step.begun()) return false;
    file_ = createUniqueFile(folder + ".quillon-", FILE_ATTRIBUTE_HIDDEN, path);
    if (file_ == nullptr) return false;
    path_ = path;
    interruptSlot_ = interruption::remember(path_);
    return true;
}

bool TemporaryFile::createElsewhere() {
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) return false;
    // Windows deletes it when it is closed, however the program ends.
    std::string path;
    file_ = createUniqueFile(std::string(folder) + "quillon-", FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                             path);
    return file_ != nullptr;
}

TemporaryFile::Move TemporaryFile::moveOver(const std::string& target) {
    if (path_.empty()) return Move::copyInstead;
    if (std::fflush(file_) != 0 || !FlushFileBuffers(handleOf(file_))) return Move::failed;
    const std::string fullTarget = fullPath(target);
    const DWORD targetAttributes = GetFileAttributesA(fullTarget.c_str());
    const bool replacing = targetAttributes != INVALID_FILE_ATTRIBUTES;
    if (replacing) {
        // Replacing one name of a file with several would split it from the others.
        const auto information = fileInformation(fullTarget);
        if (!information || information->nNumberOfLinks != 1) return Move::copyInstead;
    }
    std::fclose(file_);
    file_ = nullptr;
    // Windows' ReplaceFileA keeps the target's attributes, Wine's does not;
    // the temporary file's hidden attribute must reach the target in neither.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = replacing ? targetAttributes & kKept : 0;
    SetFileAttributesA(path_.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);

    const UninterruptedStep step;
    if (!step.begun()) return Move::failed;
    const bool moved = replacing ? replaceWhenFree(fullTarget, path_)
                                 : MoveFileExA(path_.c_str(), fullTarget.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved) return Move::failed;
    interruption::forget(interruptSlot_);
    interruptSlot_ = -1;
    path_.clear();
    return Move::done;
}

bool TemporaryFile::copyOver(const std::string& target) {
    if (file_ == nullptr || std::fflush(file_) != 0) return false;
    const HANDLE source = handleOf(file_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source, &size)) return false;
    const Handle out(CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out || !hasRoomFor(out.get(), target, size.QuadPart)) return false;

    const UninterruptedStep step;
    if (!step.begun()) return false;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        DWORD written = 0;
        if (!WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) return false;
    }
    return SetEndOfFile(out.get()) && FlushFileBuffers(out.get());
}

void removeTemporaryFilesOnInterrupt() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

}  // namespace quillon::platform
