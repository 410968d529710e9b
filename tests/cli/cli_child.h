// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real quillon-cli in a child process, with limits, and captures
// what it prints (POSIX only).
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
};

struct ChildOutcome {
    int exitCode = -1;  // -1 when the child did not exit normally
    int signal = 0;     // what ended it otherwise
    long peakMemoryKb = 0;
    std::string out, err;
};

// A quillon-cli started and not yet waited for.
struct StartedCli {
    pid_t pid = -1;
    std::unique_ptr<TempDir> capture;
    int terminal = -1;  // the pseudo-terminal's controlling side, when standard error is one
};

StartedCli startCli(const std::vector<std::string>& args, const ChildLimits& limits = {});
ChildOutcome finishCli(StartedCli& started);

inline ChildOutcome runCli(const std::vector<std::string>& args, const ChildLimits& limits = {}) {
    StartedCli started = startCli(args, limits);
    return finishCli(started);
}

}  // namespace quillon::testing
