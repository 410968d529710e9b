// SPDX-License-Identifier: GPL-2.0-or-later
// Windows implementation of the engine's platform layer. Paths arrive in the
// system code page, as the narrow ("A") calls deliver them.
#include "engine/platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>
#include <string>

namespace quillon::platform {

const char kPathSeparator = '\\';

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

bool canWriteExistingFile(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

std::FILE* openForWriting(const std::string& path) { return _fsopen(path.c_str(), "wb", _SH_DENYNO); }

std::FILE* createFileBeside(const std::string& target, std::string& createdPath) {
    const unsigned long stamp = GetCurrentProcessId() ^ GetTickCount();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = target + ".quillon-" + std::to_string(stamp + attempt);
        const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* file = _fdopen(fd, "wb");
        if (file == nullptr) {
            _close(fd);
            DeleteFileA(name.c_str());
            return nullptr;
        }
        createdPath = name;
        return file;
    }
    return nullptr;
}

std::string replacementTarget(const std::string& path) { return path; }

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace quillon::platform
