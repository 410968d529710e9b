// SPDX-License-Identifier: GPL-2.0-or-later
// POSIX implementation of the engine's platform layer.
#include "engine/platform.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include "engine/interruption.h"

namespace quillon::platform {

const char kPathSeparator = '/';

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }

    // Closing can be where a write error shows.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t interruptionSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kInterruptions) sigaddset(&signals, signal);
    return signals;
}

// A step the interrupt handler waits for. Its signals are held back on this
// thread meanwhile, so that the handler never waits for the thread it runs on.
class UninterruptedStep {
public:
    UninterruptedStep() {
        const sigset_t signals = interruptionSignals();
        ::pthread_sigmask(SIG_BLOCK, &signals, &previous_);
        begun_ = interruption::beginStep();
    }
    ~UninterruptedStep() {
        if (begun_) interruption::endStep();
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    UninterruptedStep(const UninterruptedStep&) = delete;
    UninterruptedStep& operator=(const UninterruptedStep&) = delete;

    bool begun() const { return begun_; }

private:
    sigset_t previous_;
    bool begun_;
};

// "dir/" for "dir/name", "" for a name alone.
std::string folderPrefix(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a new file named `prefix` + six characters, open for reading and
// writing; -1 when that fails for any other reason than a name in use.
int createUniqueFile(const std::string& prefix, mode_t mode, std::string& path) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t seed = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = prefix;
        for (int letter = 0; letter < 6; ++letter) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            path += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
        }
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Gives the new file at `fd` (named `path`) everything the existing file at
// `existing` (named `target`) has but its content; false when some of it
// cannot be given.
bool takeOver(int existing, const std::string& target, int fd, const std::string& path) {
    struct stat old {};
    struct stat mine {};
    if (::fstat(existing, &old) != 0 || ::fstat(fd, &mine) != 0) return false;
    if (!S_ISREG(old.st_mode) || old.st_nlink != 1) return false;
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    if (perm_copy_fd(target.c_str(), existing, path.c_str(), fd, nullptr) != 0) return false;
    if (attr_copy_fd(target.c_str(), existing, path.c_str(), fd, nullptr, nullptr) != 0) return false;
    // The access control list has no setuid, setgid or sticky bit.
    if (::fchmod(fd, old.st_mode & 07777) != 0 || ::fstat(fd, &mine) != 0) return false;
    return mine.st_uid == old.st_uid && mine.st_gid == old.st_gid && mine.st_mode == old.st_mode;
}

// Makes sure the file system has room for `size` bytes in the file at `fd`,
// without changing its content or its length.
bool reserveRoom(int fd, off_t size) {
    if (size == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // A file system that cannot reserve blocks: compare with its free space.
    struct stat file {};
    struct statvfs volume {};
    if (::fstat(fd, &file) != 0 || ::fstatvfs(fd, &volume) != 0) return false;
    const std::uint64_t allocated = static_cast<std::uint64_t>(file.st_blocks) * 512;
    const std::uint64_t wanted = static_cast<std::uint64_t>(size);
    return wanted <= allocated || wanted - allocated <= std::uint64_t{volume.f_bavail} * volume.f_frsize;
}

bool writeAll(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

// So that a rename survives a crash: git and SQLite do the same.
void syncFolderOf(const std::string& path) {
    const std::string prefix = folderPrefix(path);
    const Descriptor folder(::open(prefix.empty() ? "." : prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) ::fsync(folder.get());
}

// The C library says so when it could not get memory; a run reports that as
// what it is, not as a file that cannot be opened.
void throwIfOutOfMemory(int error) {
    if (error == ENOMEM) throw std::bad_alloc();
}

void unlinkPath(const char* path) { ::unlink(path); }

void pauseBriefly() {
    const timespec millisecond{0, 1000000};
    ::nanosleep(&millisecond, nullptr);
}

extern "C" void onInterruption(int signal) {
    interruption::removeRememberedFiles(unlinkPath, pauseBriefly);
    // SA_RESETHAND has restored the default action; the signal raised again
    // ends the program as soon as this handler returns.
    ::raise(signal);
}

}  // namespace

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

char lastCharacter(const std::string& path) { return path.empty() ? '\0' : path.back(); }

bool canWriteExistingFile(const std::string& path) {
    return Descriptor(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK)).get() >= 0;
}

bool isSameFile(const std::string& first, const std::string& second) {
    struct stat one {};
    struct stat other {};
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

std::FILE* openForWriting(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throwIfOutOfMemory(errno);
    return file;
}

std::string replacementTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

TemporaryFile::~TemporaryFile() {
    if (file_ != nullptr) std::fclose(file_);
    remove();
}

void TemporaryFile::remove() {
    if (!path_.empty()) ::unlink(path_.c_str());
    interruption::forget(interruptSlot_);
    interruptSlot_ = -1;
    path_.clear();
}

bool TemporaryFile::createBeside(const std::string& target) {
    const bool replacing = ::access(target.c_str(), F_OK) == 0;
    std::string path;
    const UninterruptedStep step;
    if (!step.begun()) return false;
    const int fd = createUniqueFile(folderPrefix(target) + ".quillon-", replacing ? 0600 : 0666, path);
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "w+b");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        throwIfOutOfMemory(error);
        return false;
    }
    path_ = std::move(path);  // cannot throw, so the file cannot be left unnamed
    interruptSlot_ = interruption::remember(path_);
    return true;
}

bool TemporaryFile::createElsewhere() {
    const char* folder = std::getenv("TMPDIR");
    std::string path;
    const UninterruptedStep step;
    if (!step.begun()) return false;
    const int fd = createUniqueFile(std::string(folder != nullptr && *folder ? folder : P_tmpdir) + "/quillon-",
                                    0600, path);
    if (fd < 0) return false;
    ::unlink(path.c_str());
    file_ = ::fdopen(fd, "w+b");
    if (file_ == nullptr) {
        const int error = errno;
        ::close(fd);
        throwIfOutOfMemory(error);
    }
    return file_ != nullptr;
}

TemporaryFile::Move TemporaryFile::moveOver(const std::string& target) {
    if (path_.empty()) return Move::copyInstead;
    if (std::fflush(file_) != 0) return Move::failed;
    const int fd = ::fileno(file_);
    const Descriptor existing(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!existing && errno != ENOENT) return Move::copyInstead;
    if (existing && !takeOver(existing.get(), target, fd, path_)) return Move::copyInstead;
    if (::fsync(fd) != 0) return Move::failed;
    {
        const UninterruptedStep step;
        if (!step.begun()) return Move::failed;
        if (::rename(path_.c_str(), target.c_str()) != 0) return existing ? Move::copyInstead : Move::failed;
        interruption::forget(interruptSlot_);
        interruptSlot_ = -1;
        path_.clear();
    }
    std::fclose(file_);
    file_ = nullptr;
    syncFolderOf(target);
    return Move::done;
}

bool TemporaryFile::copyOver(const std::string& target) {
    if (file_ == nullptr || std::fflush(file_) != 0) return false;
    const int source = ::fileno(file_);
    struct stat written {};
    if (::fstat(source, &written) != 0) return false;
    Descriptor out(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!out || !reserveRoom(out.get(), written.st_size)) return false;

    const UninterruptedStep step;
    if (!step.begun()) return false;
    std::vector<char> buffer(1 << 16);
    for (off_t offset = 0; offset < written.st_size;) {
        const ssize_t got = ::pread(source, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || !writeAll(out.get(), buffer.data(), static_cast<std::size_t>(got), offset)) return false;
        offset += got;
    }
    return ::ftruncate(out.get(), written.st_size) == 0 && ::fsync(out.get()) == 0 && out.close();
}

void removeTemporaryFilesOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterruption;
    action.sa_mask = interruptionSignals();
    action.sa_flags = SA_RESETHAND;
    for (int signal : kInterruptions) {
        struct sigaction previous {};
        // A signal ignored by whoever started us (nohup, for one) stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace quillon::platform
