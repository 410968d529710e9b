// SPDX-License-Identifier: GPL-2.0-or-later
// The few operating-system calls the engine needs, with one implementation per
// platform (platform_posix.cpp, platform_windows.cpp). Nothing else in the
// engine talks to the operating system directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace quillon::platform {

// The separator the output-path rule appends before "stepbook.rtf".
extern const char kPathSeparator;

// --- Book files: descriptors opened by sword::FileMgr::openFileReadOnly ---

// The path to hand to the SWORD library for `path` as the user gave it.
std::string libraryPath(const std::string& path);

// Reads up to `count` bytes, retrying short reads; returns how many arrived
// (fewer only at the end of the file or on an error).
std::size_t readDescriptor(int fd, void* buffer, std::size_t count);

// Moves to `offset` bytes from the start of the file (origin 0), from the
// current position (origin 1) or from the end (origin 2); returns the new
// position, or -1.
std::int64_t seekDescriptor(int fd, std::int64_t offset, int origin);

void closeDescriptor(int fd);

// The file's size when the descriptor is a regular file; nothing for a
// folder, a device or a pipe.
std::optional<std::int64_t> regularFileSize(int fd);

// --- Paths ---

// The last character of `path` when it is a single byte, else '\0'. In a
// double-byte code page the second byte of a character can be 0x5C, a
// backslash, without the character being one.
char lastCharacter(const std::string& path);

// --- The output file ---

enum class PathKind { missing, folder, regularFile, other };

// What is at `path`. A path whose attributes cannot be read counts as missing.
PathKind pathKind(const std::string& path);

// Whether an existing file may be written, checked without changing it.
bool canWriteExistingFile(const std::string& path);

// Whether both paths lead to one existing file, under any of its names.
bool isSameFile(const std::string& first, const std::string& second);

// Opens `path` for writing in binary mode, creating or emptying it.
std::FILE* openForWriting(const std::string& path);

// Where a file written in place of `path` must be moved so that `path` shows
// it: `path` itself, or the file a symbolic link at `path` points to.
std::string replacementTarget(const std::string& path);

// The file an output is written into before it takes its target's place.
// It is removed again unless it became the target, also when the program is
// interrupted once removeTemporaryFilesOnInterrupt() has been called.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    // Creates it in the folder of `target`, under a short hidden name, open for
    // reading and writing. While it is being written for an existing target no
    // other user can read it; for a new target it gets what any new file there
    // gets. False when that folder takes no new files.
    bool createBeside(const std::string& target);

    // Creates it in the system's temporary folder, where it has no name that
    // could be left behind: its content can only be copied into the target.
    bool createElsewhere();

    std::FILE* stream() const { return file_; }

    enum class Move { done, copyInstead, failed };

    // Flushes the file to disk and moves it to `target`, when that keeps
    // everything an existing target is: its owner, group, permissions, access
    // control list, extended attributes and other names. copyInstead, having
    // changed nothing, when it would not (or for a file made by
    // createElsewhere()); failed when it cannot be done.
    Move moveOver(const std::string& target);

    // Copies the whole file into the existing `target` in place, so the target
    // stays the same file with all it has: first makes sure there is room,
    // then writes, cuts the target to length and flushes it to disk. Only a
    // failure after the room was found can damage the target.
    bool copyOver(const std::string& target);

private:
    void remove();

    std::string path_;           // empty when it has no name (any more)
    std::FILE* file_ = nullptr;  // closed once moved
    int interruptSlot_ = -1;     // where the interrupt handler finds path_
};

// For front ends: when the program is interrupted (POSIX: SIGINT, SIGTERM,
// SIGHUP, SIGPIPE; Windows: Ctrl-C, Ctrl-Break, closing the console), removes
// the temporary files of the outputs being written and lets the program end
// as the interruption would have ended it. A rename or copy into a target
// that has begun is finished first. Signals already ignored stay ignored.
void removeTemporaryFilesOnInterrupt();

}  // namespace quillon::platform
