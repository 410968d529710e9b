// SPDX-License-Identifier: GPL-2.0-or-later
// POSIX implementation of quillon-cli's platform layer.
#include "cli/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

extern char** environ;

namespace quillon::cli::platform {

std::string ownExecutable() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    return length > 0 && static_cast<std::size_t>(length) < sizeof path ? std::string(path, length)
                                                                          : "/proc/self/exe";
}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void makeStandardOutputBinary() {}

std::string childPath(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::optional<std::vector<std::string>> subfolderNames(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name == "." || name == "..") continue;
        if (::lstat(childPath(folder, name).c_str(), &info) == 0 && S_ISDIR(info.st_mode)) names.push_back(name);
    }
    ::closedir(listing);
    return names;
}

bool makeFolder(const std::string& folder) {
    struct stat info {};
    return ::mkdir(folder.c_str(), 0777) == 0 || (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

std::string folderName(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    if (!absolute.has_filename()) absolute = absolute.parent_path();
    return absolute.filename().string();
}

std::string fileNameKey(const std::string& name) { return name; }

namespace {

const int kForwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// What the signal handler reads. The slots are written only while the
// forwarded signals are blocked, so the handler never sees one half-written.
pid_t signalledChildren[ChildProcesses::kMaxRunning];
volatile std::sig_atomic_t interruptingSignal = 0;
struct sigaction previousActions[std::size(kForwardedSignals)];
bool handlerInstalled[std::size(kForwardedSignals)];

extern "C" void passSignalOn(int signal) {
    const int savedErrno = errno;
    interruptingSignal = signal;
    for (const pid_t child : signalledChildren) {
        if (child > 0) ::kill(child, signal);
    }
    errno = savedErrno;
}

sigset_t forwardedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kForwardedSignals) sigaddset(&set, signal);
    return set;
}

// Holds the forwarded signals back for as long as it exists.
class SignalsHeldBack {
public:
    SignalsHeldBack() {
        const sigset_t set = forwardedSignals();
        ::sigprocmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeldBack() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

private:
    sigset_t previous_;
};

void clearSlot(pid_t child) {
    SignalsHeldBack heldBack;
    std::replace(std::begin(signalledChildren), std::end(signalledChildren), child, 0);
}

// The settings of one posix_spawn call, released with it.
struct SpawnSettings {
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

std::string readAll(int fd) {
    std::string text;
    char chunk[4096];
    ::lseek(fd, 0, SEEK_SET);
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

}  // namespace

struct ChildProcesses::Child {
    explicit Child(int captureFd) : capture(captureFd) {}
    ~Child() { ::close(capture); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    const int capture;  // an unnamed temporary file: the child's standard output and error
    pid_t pid = 0;
    std::size_t tag = 0;
};

ChildProcesses::ChildProcesses() {
    interruptingSignal = 0;
    for (std::size_t i = 0; i < std::size(kForwardedSignals); ++i) {
        // A signal ignored when the program started stays ignored, as shells expect.
        ::sigaction(kForwardedSignals[i], nullptr, &previousActions[i]);
        handlerInstalled[i] = previousActions[i].sa_handler != SIG_IGN;
        if (!handlerInstalled[i]) continue;
        struct sigaction action {};
        action.sa_handler = passSignalOn;
        action.sa_mask = forwardedSignals();
        action.sa_flags = SA_RESTART;
        ::sigaction(kForwardedSignals[i], &action, nullptr);
    }
}

ChildProcesses::~ChildProcesses() {
    for (const auto& child : children_) ::kill(child->pid, SIGTERM);
    while (!children_.empty()) waitForOne();
    for (std::size_t i = 0; i < std::size(kForwardedSignals); ++i) {
        if (handlerInstalled[i]) ::sigaction(kForwardedSignals[i], &previousActions[i], nullptr);
    }
}

bool ChildProcesses::start(const std::string& program, const std::vector<std::string>& arguments, std::size_t tag,
                           std::string& error) {
    if (running() >= kMaxRunning) {
        error = "too many processes at once";
        return false;
    }
    std::string captureName = (std::filesystem::temp_directory_path() / "quillon-cli-XXXXXX").string();
    const int capture = ::mkostemp(captureName.data(), O_CLOEXEC);
    if (capture < 0) {
        error = std::string("cannot create a temporary file: ") + std::strerror(errno);
        return false;
    }
    ::unlink(captureName.c_str());
    auto child = std::make_unique<Child>(capture);
    child->tag = tag;

    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    SpawnSettings settings;
    posix_spawn_file_actions_addopen(&settings.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&settings.actions, capture, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, capture, STDERR_FILENO);
    // The child starts with no signal blocked, whatever is held back here.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&settings.attributes, &none);
    posix_spawnattr_setflags(&settings.attributes, POSIX_SPAWN_SETSIGMASK);

    // A signal that arrives while the child starts is handled once its
    // process id is in a slot, so it reaches the child too.
    SignalsHeldBack heldBack;
    const int result = ::posix_spawn(&child->pid, program.c_str(), &settings.actions, &settings.attributes,
                                     pointers.data(), environ);
    if (result != 0) {
        error = "cannot start " + program + ": " + std::strerror(result);
        return false;
    }
    *std::find(std::begin(signalledChildren), std::end(signalledChildren), 0) = child->pid;
    children_.push_back(std::move(child));
    return true;
}

std::size_t ChildProcesses::running() const { return children_.size(); }

ChildEnd ChildProcesses::waitForOne() {
    for (;;) {
        // Found first and reaped only after its slot is cleared, so that a
        // signal is never passed on to a process id that may be reused.
        siginfo_t ended{};
        if (::waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) != 0 && errno == EINTR) continue;
        const pid_t pid = ended.si_pid;
        auto found = std::find_if(children_.begin(), children_.end(),
                                  [&](const auto& child) { return pid > 0 && child->pid == pid; });
        if (pid > 0) clearSlot(pid);
        int status = 0;
        while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (found == children_.end()) {
            if (pid > 0) continue;  // not one of ours
            found = children_.begin();  // none can be waited for: taken as lost
            clearSlot((*found)->pid);
        }
        ChildEnd end;
        end.tag = (*found)->tag;
        if (pid > 0 && WIFEXITED(status)) {
            end.exitCode = WEXITSTATUS(status);
        } else {
            end.abnormalEnd = pid > 0 && WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                              : "a lost process";
        }
        end.printed = readAll((*found)->capture);
        children_.erase(found);
        return end;
    }
}

bool ChildProcesses::interrupted() const { return interruptingSignal != 0; }

void ChildProcesses::dieOfInterrupt() {
    const int signal = interruptingSignal;
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace quillon::cli::platform
