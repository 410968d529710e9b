// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_child.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "engine/test_support.h"

namespace quillon::testing {

ChildOutcome runCli(const std::vector<std::string>& args, const ChildLimits& limits) {
    TempDir capture;
    const std::string outPath = capture.file("stdout"), errPath = capture.file("stderr");
    std::vector<std::string> argv = {QUILLON_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr)) _exit(127);
        const rlimit fileSize{limits.fileSize, limits.fileSize};
        const rlimit addressSpace{limits.addressSpace, limits.addressSpace};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ::setrlimit(RLIMIT_AS, &addressSpace);
        if (limits.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(126);
        std::signal(SIGXFSZ, SIG_IGN);
        std::signal(SIGALRM, SIG_DFL);
        ::alarm(limits.seconds);
        ::execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ChildOutcome outcome;
    if (::wait4(child, &status, 0, &usage) != child) return outcome;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    outcome.peakMemoryKb = usage.ru_maxrss;
    outcome.out = readFile(outPath);
    outcome.err = readFile(errPath);
    return outcome;
}

}  // namespace quillon::testing
