// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real quillon-cli in a child process, with limits, and captures
// what it prints (POSIX only).
#pragma once

#include <sys/resource.h>

#include <string>
#include <vector>

namespace quillon::testing {

struct ChildLimits {
    rlim_t fileSize = RLIM_INFINITY;      // a write past it fails instead of killing the child
    rlim_t addressSpace = RLIM_INFINITY;
    unsigned seconds = 0;                 // ended by SIGALRM after this long; 0: no limit
    bool unprivileged = false;            // drop root's rights, which ignore file permissions
};

struct ChildOutcome {
    int exitCode = -1;  // -1 when the child did not exit normally
    int signal = 0;     // what ended it otherwise
    long peakMemoryKb = 0;
    std::string out, err;
};

ChildOutcome runCli(const std::vector<std::string>& args, const ChildLimits& limits = {});

}  // namespace quillon::testing
