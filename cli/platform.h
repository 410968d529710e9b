// SPDX-License-Identifier: GPL-2.0-or-later
// What quillon-cli needs from the operating system beyond the engine's own
// calls: starting copies of itself for a batch of books, passing an interrupt
// on to them, and a few questions about files and the console. One
// implementation per platform (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon::cli::platform {

// The path this program can be started again by.
std::string ownExecutable();

bool standardErrorIsTerminal();

// Standard output carries bytes exactly as written (no CR LF translation).
void makeStandardOutputBinary();

// `name` inside `folder`, with one separator between them.
std::string childPath(const std::string& folder, const std::string& name);

// The names of the folders directly inside `folder`, symbolic links and
// other reparse points left out; nothing when it cannot be read.
std::optional<std::vector<std::string>> subfolderNames(const std::string& folder);

// Creates `folder` when it does not exist yet; true when it is a folder now.
bool makeFolder(const std::string& folder);

// The name of the folder `path` names, as its output file is to be called:
// the last part of its absolute path ("." and ".." resolved); empty for a
// root.
std::string folderName(const std::string& path);

// Two file names that this platform's file systems take for the same name
// give the same key (on Windows the case of letters does not count).
std::string fileNameKey(const std::string& name);

// How a child process ended.
struct ChildEnd {
    std::size_t tag = 0;   // what start() was given
    int exitCode = -1;     // -1 when it did not exit normally
    std::string abnormalEnd;  // otherwise, e.g. "signal 11"
    std::string printed;   // all it wrote to standard output and standard error
};

// Copies of a program running side by side. While this object exists, an
// interrupt (POSIX: SIGINT, SIGTERM, SIGHUP, SIGPIPE; Windows: Ctrl-C,
// Ctrl-Break, the console closing) reaches every running child as well, and
// is noted: interrupted() says so, and the caller lets the children end and
// then calls dieOfInterrupt().
class ChildProcesses {
public:
    ChildProcesses();
    ~ChildProcesses();  // ends the children still running and waits for them
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    // At most this many run at once.
    static constexpr std::size_t kMaxRunning = 64;

    // Starts `program` with `arguments`, its standard input empty and what
    // it prints captured. Returns false, with the reason in `error`, when it
    // cannot be started.
    bool start(const std::string& program, const std::vector<std::string>& arguments, std::size_t tag,
               std::string& error);

    std::size_t running() const;

    // Waits until one of the running children ends (there must be one).
    ChildEnd waitForOne();

    bool interrupted() const;

    // Ends this process the way the interrupt would have ended it.
    [[noreturn]] void dieOfInterrupt();

    struct Child;  // one running child, defined by each platform

private:
    std::vector<std::unique_ptr<Child>> children_;
};

}  // namespace quillon::cli::platform
