// SPDX-License-Identifier: GPL-2.0-or-later
// POSIX implementation of the engine's platform layer.
#include "engine/platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::platform {

const char kPathSeparator = '/';

std::string libraryPath(const std::string& path) { return path; }

std::size_t readDescriptor(int fd, void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, bytes + done, count - done);
        if (got > 0) {
            done += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return done;
}

std::int64_t seekDescriptor(int fd, std::int64_t offset, int origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) return -1;
    return ::lseek(fd, static_cast<off_t>(offset), whence[origin]);
}

void closeDescriptor(int fd) { ::close(fd); }

std::optional<std::int64_t> regularFileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

PathKind pathKind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return PathKind::missing;
    if (S_ISDIR(info.st_mode)) return PathKind::folder;
    if (S_ISREG(info.st_mode)) return PathKind::regularFile;
    return PathKind::other;
}

bool canWriteExistingFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::FILE* openForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

static mode_t permissionsForNewFile() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::FILE* createFileBeside(const std::string& target, std::string& createdPath) {
    std::string name = target + ".quillon-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return nullptr;

    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777)
                                                                 : permissionsForNewFile();
    std::FILE* file = ::fchmod(fd, mode) == 0 ? ::fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        ::close(fd);
        ::unlink(name.c_str());
        return nullptr;
    }
    createdPath = name;
    return file;
}

std::string replacementTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace quillon::platform
