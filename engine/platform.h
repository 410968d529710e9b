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

// --- The output file ---

enum class PathKind { missing, folder, regularFile, other };

// What is at `path`. A path whose attributes cannot be read counts as missing.
PathKind pathKind(const std::string& path);

// Whether an existing file may be written, checked without changing it.
bool canWriteExistingFile(const std::string& path);

// Opens `path` for writing in binary mode, creating or emptying it.
std::FILE* openForWriting(const std::string& path);

// Creates a new, empty file in the folder of `target`, with the permissions
// `target` has (or a new file would get), and opens it for writing in binary
// mode. `createdPath` receives its name. Returns null when that is not possible.
std::FILE* createFileBeside(const std::string& target, std::string& createdPath);

// Where a file written in place of `path` must be moved so that `path` shows
// it: `path` itself, or the file a symbolic link at `path` points to.
std::string replacementTarget(const std::string& path);

// Moves `from` over `to`, replacing it in one step.
bool replaceFile(const std::string& from, const std::string& to);

void removeFile(const std::string& path);

}  // namespace quillon::platform
