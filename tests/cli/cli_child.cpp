// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_child.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace quillon::testing {

namespace fs = std::filesystem;

Child::Child(std::vector<std::string> argv, const ChildLimits& limits) {
    if (limits.unprivileged && ::geteuid() == 0) {
        programCopy_ = std::make_unique<TempDir>();
        const fs::path copy = programCopy_->path() / fs::path(argv[0]).filename();
        fs::copy_file(argv[0], copy);
        fs::permissions(programCopy_->path(), fs::perms(0755));
        fs::permissions(copy, fs::perms(0755));
        argv[0] = copy.string();
    }
    const std::string outPath = limits.standardOutput.empty() ? capture_.file("stdout") : limits.standardOutput;
    std::string errPath = capture_.file("stderr");
    if (limits.standardErrorOnTerminal) {
        terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal_ >= 0 && ::grantpt(terminal_) == 0 && ::unlockpt(terminal_) == 0) errPath = ::ptsname(terminal_);
    }
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr)) _exit(127);
        const rlimit fileSize{limits.fileSize, limits.fileSize};
        const rlimit addressSpace{limits.addressSpace, limits.addressSpace};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        ::setrlimit(RLIMIT_AS, &addressSpace);
        if (limits.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(126);
        if (!limits.temporaryFolder.empty()) ::setenv("TMPDIR", limits.temporaryFolder.c_str(), 1);
        std::signal(SIGXFSZ, SIG_IGN);
        std::signal(SIGALRM, SIG_DFL);
        ::alarm(limits.seconds);
        ::execv(pointers[0], pointers.data());
        _exit(127);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0) ::close(terminal_);
}

ChildOutcome Child::finish() {
    ChildOutcome outcome;
    int status = 0;
    rusage usage{};
    const pid_t child = pid_;
    pid_ = -1;
    if (child <= 0 || ::wait4(child, &status, 0, &usage) != child) return outcome;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    outcome.peakMemoryKb = usage.ru_maxrss;
    outcome.out = readFile(capture_.file("stdout"));
    outcome.err = readFile(capture_.file("stderr"));
    if (terminal_ >= 0) {
        // What the child wrote stays readable after it ended, up to an error.
        char chunk[4096];
        ssize_t got;
        while ((got = ::read(terminal_, chunk, sizeof chunk)) > 0) outcome.err.append(chunk, got);
    }
    return outcome;
}

ChildOutcome runProgram(const std::vector<std::string>& argv, const ChildLimits& limits) {
    return Child(argv, limits).finish();
}

std::vector<std::string> cliCommand(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QUILLON_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

ChildOutcome runCli(const std::vector<std::string>& args, const ChildLimits& limits) {
    return runProgram(cliCommand(args), limits);
}

}  // namespace quillon::testing
