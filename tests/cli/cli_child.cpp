// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_child.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace quillon::testing {

StartedCli startCli(const std::vector<std::string>& args, const ChildLimits& limits) {
    StartedCli started;
    started.capture = std::make_unique<TempDir>();
    const std::string outPath = limits.standardOutput.empty() ? started.capture->file("stdout") : limits.standardOutput;
    const std::string errPath = started.capture->file("stderr");
    std::vector<std::string> argv = {QUILLON_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    std::string terminalName;
    if (limits.standardErrorOnTerminal) {
        started.terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (started.terminal >= 0 && ::grantpt(started.terminal) == 0 && ::unlockpt(started.terminal) == 0) {
            terminalName = ::ptsname(started.terminal);
        }
    }

    started.pid = ::fork();
    if (started.pid == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout)) _exit(127);
        const char* errTarget = terminalName.empty() ? errPath.c_str() : terminalName.c_str();
        if (!std::freopen(errTarget, "w", stderr)) _exit(127);
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
    return started;
}

ChildOutcome finishCli(StartedCli& started) {
    int status = 0;
    rusage usage{};
    ChildOutcome outcome;
    if (started.pid <= 0 || ::wait4(started.pid, &status, 0, &usage) != started.pid) return outcome;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    outcome.peakMemoryKb = usage.ru_maxrss;
    outcome.out = readFile(started.capture->file("stdout"));
    outcome.err = readFile(started.capture->file("stderr"));
    if (started.terminal >= 0) {
        // What the child wrote stays readable after it ended, up to an error.
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(started.terminal, chunk, sizeof chunk)) > 0) outcome.err.append(chunk, got);
        ::close(started.terminal);
    }
    return outcome;
}

}  // namespace quillon::testing
