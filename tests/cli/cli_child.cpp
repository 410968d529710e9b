// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_child.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

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

    started.pid = ::fork();
    if (started.pid == 0) {
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
    return outcome;
}

}  // namespace quillon::testing
