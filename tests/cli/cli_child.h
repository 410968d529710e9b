// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real quillon-cli (or another program) in a child process, with
// limits, and captures what it prints (POSIX only).
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/test_support.h"

namespace quillon::testing {

struct ChildLimits {
    rlim_t fileSize = RLIM_INFINITY;      // a write past it fails instead of killing the child
    rlim_t addressSpace = RLIM_INFINITY;
    unsigned seconds = 0;                 // ended by SIGALRM after this long; 0: no limit
    bool unprivileged = false;            // drop root's rights, which ignore file permissions
    std::string standardOutput;           // a file standard output goes to instead of being captured
    bool standardErrorOnTerminal = false; // standard error is a pseudo-terminal, captured as its screen receives it
    std::string temporaryFolder;          // TMPDIR for the child
};

struct ChildOutcome {
    int exitCode = -1;  // -1 when the child did not exit normally
    int signal = 0;     // what ended it otherwise
    long peakMemoryKb = 0;
    std::string out, err;
};

// A program running in a child process; `argv[0]` is its path. An
// unprivileged child runs a copy of the program from a folder any user can
// reach (the build may sit in a home folder only root may enter).
class Child {
public:
    Child(std::vector<std::string> argv, const ChildLimits& limits);
    ~Child();  // ends a child that was not waited for
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    ChildOutcome finish();  // waits for it to end

private:
    TempDir capture_;
    std::unique_ptr<TempDir> programCopy_;
    int terminal_ = -1;  // the pseudo-terminal's controlling side, when standard error is one
    pid_t pid_ = -1;
};

ChildOutcome runProgram(const std::vector<std::string>& argv, const ChildLimits& limits = {});

// quillon-cli with `args`.
std::vector<std::string> cliCommand(const std::vector<std::string>& args);
ChildOutcome runCli(const std::vector<std::string>& args, const ChildLimits& limits = {});

}  // namespace quillon::testing
