// SPDX-License-Identifier: GPL-2.0-or-later
// What the real quillon-cli does to what is at its output path, in the setups
// a user may have. A failed run leaves the folder exactly as it was; a
// successful one changes only the content of the file the path leads to (its
// owner, group, permissions, access control list, extended attributes and
// other names stay); nothing else is left behind, also when the run is
// interrupted; and the new content is on disk before it replaces the old.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cli_child.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using bookwriter::StepBookLayout;
using testing::ChildLimits;
using testing::ChildOutcome;
using testing::folderNames;
using testing::readFile;
using testing::runCli;
using testing::TempDir;
using testing::writeFile;

constexpr uid_t kNobody = 65534;
// Longer than any new content, so that a copy in place must also cut it short.
constexpr char kOld[] = "precious, and longer than what a conversion here writes";

bool isRoot() { return ::geteuid() == 0; }

std::string extendedAttributes(const std::string& path) {
    std::string described;
    char names[4096];
    const ssize_t length = ::llistxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t size = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
        described += std::string(", ") + (names + at) + "=" + std::string(value, size > 0 ? size : 0);
    }
    return described;
}

std::string describeEntry(const std::string& name, const struct stat& info, const std::string& rest) {
    std::ostringstream line;
    line << name.substr(0, 40) << ": mode " << std::oct << info.st_mode << std::dec << ", " << info.st_uid << ':'
         << info.st_gid << ", " << info.st_nlink << " links" << rest << '\n';
    return line.str();
}

// All a user can tell about the entries of `folder`, one line each; the
// content of files only when `withContent` is set.
std::string describeFolder(const fs::path& folder, bool withContent) {
    std::map<std::string, std::string> lines;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        std::string rest = extendedAttributes(path);
        if (S_ISLNK(info.st_mode)) rest += " -> " + fs::read_symlink(path).string();
        if (!S_ISLNK(info.st_mode) && withContent) rest += " \"" + readFile(path) + '"';
        lines[entry.path().filename()] = describeEntry(entry.path().filename(), info, rest);
    }
    std::string described;
    for (const auto& [name, line] : lines) described += line;
    return described;
}

// A sound book and a damaged one, in folders any user may read. The damaged
// one is refused after two blocks were written: its last entry points past
// the end of Book.dat.
class OutputSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        StepBookLayout layout = bookwriter::layoutOf({"{\\rtf1 ", "text", "}"}, 1);
        ASSERT_TRUE(bookwriter::writeStepBook(sound_.str(), layout));
        layout.blocks[2].dataOffset = 1 << 20;
        ASSERT_TRUE(bookwriter::writeStepBook(damaged_.str(), layout));
        fs::permissions(sound_.path(), fs::perms(0755));
        fs::permissions(damaged_.path(), fs::perms(0755));
    }
    TempDir sound_, damaged_;
};

std::string existing(const TempDir& out, const std::string& name = "out.rtf") {
    writeFile(out.file(name), kOld);
    return out.file(name);
}

enum class Extra { none, accessControlList, extendedAttributes, secondName, symbolicLink };

struct OutputSetup {
    const char* name;
    bool asNobody;     // run by an unprivileged user, not the test's
    bool ofNobody;     // the file belongs to that user
    mode_t fileMode;   // 0: nothing at the output path
    mode_t folderMode;  // 0: as the folder was made
    Extra extra = Extra::none;
    std::string fileName = "out.rtf";
    bool writable = true;  // false: the program must refuse the path

    bool needsRoot() const { return asNobody || ofNobody || extra == Extra::extendedAttributes; }
};

const OutputSetup kSetups[] = {
    {"a new file", false, false, 0, 0},
    {"a file of the user's own", false, false, 0640, 0},
    {"another user's file", false, true, 0664, 0},
    {"a setuid and setgid program of another user", false, true, 06755, 0},
    {"a file with an access control list", false, false, 0660, 0, Extra::accessControlList},
    {"a file with extended attributes", false, false, 0644, 0, Extra::extendedAttributes},
    {"one of two hard links", false, false, 0644, 0, Extra::secondName},
    {"a symbolic link to the file", false, false, 0644, 0, Extra::symbolicLink},
    {"a name of 255 bytes", false, false, 0644, 0, Extra::none, std::string(251, 'n') + ".rtf"},
    {"a new file with a name of 255 bytes", false, false, 0, 0, Extra::none, std::string(251, 'm') + ".rtf"},
    {"a writable file in a read-only folder", true, false, 0666, 0555},
    {"another user's writable file in a sticky folder", true, false, 0666, 01777},
    {"a file the user may not write", true, false, 0444, 0777, Extra::none, "out.rtf", false},
};

// Makes what `setup` describes in `out`; returns the output path.
std::string arrange(const OutputSetup& setup, const TempDir& out) {
    const std::string path = out.file(setup.fileName);
    if (setup.fileMode == 0) return path;
    existing(out, setup.fileName);
    EXPECT_TRUE(!setup.ofNobody || ::chown(path.c_str(), kNobody, kNobody) == 0);
    EXPECT_EQ(::chmod(path.c_str(), setup.fileMode), 0);
    EXPECT_TRUE(setup.folderMode == 0 || ::chmod(out.str().c_str(), setup.folderMode) == 0);
    switch (setup.extra) {
    case Extra::none: break;
    case Extra::accessControlList: {
        acl_t acl = acl_from_text("u::rw-,u:65534:rw-,g::r--,m::rw-,o::---");
        EXPECT_EQ(acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl), 0) << "no access control lists here";
        acl_free(acl);
        break;
    }
    case Extra::extendedAttributes:
        EXPECT_EQ(::setxattr(path.c_str(), "user.origin", "kept", 4, 0), 0) << "no extended attributes here";
        EXPECT_EQ(::setxattr(path.c_str(), "trusted.origin", "kept too", 8, 0), 0);
        break;
    case Extra::secondName: fs::create_hard_link(path, out.file("other-name.rtf")); break;
    case Extra::symbolicLink: fs::create_symlink(path, out.file("link.rtf")); return out.file("link.rtf");
    }
    return path;
}

TEST_F(OutputSafetyTest, EverySetupKeepsTheFileOnFailureAndAllButItsContentOnSuccess) {
    int skipped = 0;
    for (const OutputSetup& setup : kSetups) {
        SCOPED_TRACE(setup.name);
        if (setup.needsRoot() && !isRoot()) {
            ++skipped;
            continue;
        }
        TempDir out, temporary;
        const std::string output = arrange(setup, out);
        const std::string before = describeFolder(out.path(), true);
        ChildLimits limits;
        limits.unprivileged = setup.asNobody;
        fs::permissions(temporary.path(), fs::perms(01777));
        limits.temporaryFolder = temporary.str();  // where a folder that takes no new files sends the output

        const ChildOutcome failed = runCli({damaged_.str(), output}, limits);
        EXPECT_EQ(failed.exitCode, 1) << failed.err;
        EXPECT_EQ(describeFolder(out.path(), true), before) << "after a failed run";

        // What a successful run may change: the content of every file here,
        // since each is the one the path leads to, under one of its names.
        std::string expected = describeFolder(out.path(), false);
        if (setup.fileMode == 0) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            struct stat made {};
            made.st_mode = S_IFREG | (0666 & ~mask);
            made.st_uid = setup.asNobody ? kNobody : ::geteuid();
            made.st_gid = setup.asNobody ? kNobody : ::getegid();
            made.st_nlink = 1;
            expected += describeEntry(setup.fileName, made, "");
        }
        const ChildOutcome converted = runCli({sound_.str(), output}, limits);
        if (!setup.writable) {
            EXPECT_EQ(converted.err, "Could not open file for writing: " + output + "\n");
            EXPECT_EQ(describeFolder(out.path(), true), before) << "after a refused run";
            continue;
        }
        EXPECT_EQ(converted.exitCode, 0) << converted.err;
        EXPECT_EQ(describeFolder(out.path(), false), expected) << "after a successful run";
        EXPECT_TRUE(fs::is_empty(temporary.path())) << "left in the temporary folder";
        for (const fs::directory_entry& entry : fs::directory_iterator(out.path())) {
            EXPECT_TRUE(entry.is_symlink() || readFile(entry.path()) == testing::kConvertedBook) << entry.path();
        }
    }
    if (skipped > 0) GTEST_SKIP() << skipped << " setups need root, to change owners or to run as another user";
}

// Starts a mount namespace of this test process in which the mount holding
// `where` is private, so that what is mounted there goes away with the
// process and never reaches the rest of the system. In a chroot neither its
// root nor any folder above `where` may be a mount point: false then.
bool privateMountsFor(fs::path where) {
    if (::unshare(CLONE_NEWNS) != 0) return false;
    for (;; where = where.parent_path()) {
        if (::mount("none", where.c_str(), nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) return true;
        if (errno != EINVAL || where == where.root_path()) return false;
    }
}

TEST_F(OutputSafetyTest, AFullFileSystemCostsNothing) {
    if (!isRoot()) GTEST_SKIP() << "mounting a small file system needs root";
    TempDir mountPoint;
    if (!privateMountsFor(mountPoint.path())) {
        GTEST_SKIP() << "no mount above " << mountPoint.str() << " can be made private here (a chroot?)";
    }
    // Room for the target and 15 more pages, and not one more file: the output
    // must be written elsewhere and copied in at the end, if it fits.
    ASSERT_EQ(::mount("quillon-test", mountPoint.str().c_str(), "tmpfs", 0, "size=64k,nr_inodes=2,mode=0755"), 0)
        << "cannot mount a tmpfs: " << std::strerror(errno);
    const std::string output = existing(mountPoint);

    TempDir large;
    ASSERT_TRUE(
        bookwriter::writeStepBook(large.str(), bookwriter::layoutOf({"{\\rtf1 ", std::string(200000, 'x'), "}"})));
    struct Case {
        std::string book;
        int exitCode;
        std::string errStart, content;
    };
    const Case cases[] = {
        {damaged_.str(), 1, "The Step book file " + damaged_.file("Viewable.idx") + " is damaged", kOld},
        {large.str(), 1, "Could not write file: " + output + "\n", kOld},
        {sound_.str(), 0, "", testing::kConvertedBook},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.book);
        const ChildOutcome outcome = runCli({c.book, output});
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        EXPECT_EQ(outcome.err.rfind(c.errStart, 0), 0u) << outcome.err;
        EXPECT_TRUE(readFile(output) == c.content) << readFile(output).size() << " bytes";
        EXPECT_EQ(folderNames(mountPoint.path()), std::vector<std::string>{"out.rtf"});
    }
    ::umount2(mountPoint.str().c_str(), MNT_DETACH);
}

// A small book that converts into 512 MB: every entry after the first reads
// the first entry's stored bytes.
StepBookLayout longLayout() {
    const std::string text(1 << 16, 'x');
    StepBookLayout layout = bookwriter::layoutOf({text}, 0);
    const bookwriter::BlockLayout again{"", std::string(), 16 + 4, static_cast<std::int32_t>(text.size()),
                                        static_cast<std::int32_t>(bookwriter::compressLzss(text).size())};
    layout.blocks.insert(layout.blocks.end(), 8191, again);
    return layout;
}

TEST_F(OutputSafetyTest, AnInterruptedRunRemovesItsFileAndDiesOfTheSignal) {
    TempDir book;
    ASSERT_TRUE(bookwriter::writeStepBook(book.str(), longLayout()));
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(strsignal(signal));
        TempDir out;
        const std::string output = existing(out);
        ChildLimits limits;
        limits.seconds = 60;
        limits.fileSize = rlim_t{256} << 20;  // a run the signal fails to stop ends early all the same
        testing::Child child(testing::cliCommand({book.str(), output}), limits);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (folderNames(out.path()).size() < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(folderNames(out.path()).size(), 2u) << "the run never began writing beside its target";
        ::kill(child.pid(), signal);
        const ChildOutcome outcome = child.finish();
        EXPECT_EQ(outcome.signal, signal) << "exit status " << outcome.exitCode << ", " << outcome.err;
        EXPECT_EQ(folderNames(out.path()), std::vector<std::string>{"out.rtf"});
        EXPECT_EQ(readFile(output), kOld);
    }
}

// The file-system calls of one run, as "fsync NAME" and "rename FROM TO",
// names relative to `folder` and the temporary file's name as TEMP.
std::vector<std::string> durabilityCalls(const std::string& straceLog, const std::string& folder) {
    const std::string folderArgument = R"((?:\w+(?:<[^>]*>)?, )?)";
    const std::regex call(R"((fsync|fdatasync)\(\d+<([^>]*)>\)|(rename\w*)\()" + folderArgument + R"re("([^"]*)", )re" +
                          folderArgument + R"re("([^"]*)")re");
    const auto relative = [&folder](std::string path) {
        path = path == folder ? "." : path.rfind(folder + "/", 0) == 0 ? path.substr(folder.size() + 1) : path;
        return std::regex_replace(path, std::regex(R"(^\.quillon-[A-Za-z0-9]{6}$)"), "TEMP");
    };
    std::vector<std::string> calls;
    std::istringstream lines(straceLog);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_search(line, match, call)) continue;
        calls.push_back(match[1].matched ? "fsync " + relative(match[2])
                                         : "rename " + relative(match[4]) + " " + relative(match[5]));
    }
    return calls;
}

// quillon-cli with `args` under strace with `options`; its log goes to `log`.
ChildOutcome runTraced(std::vector<std::string> options, const std::vector<std::string>& args, const std::string& log) {
    EXPECT_TRUE(fs::exists("/usr/bin/strace")) << "strace is missing: scripts/install-deps.sh --all installs it";
    // LeakSanitizer cannot run under a tracer.
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    const std::string withoutLeakCheck =
        std::string("ASAN_OPTIONS=") + (sanitizerOptions != nullptr ? sanitizerOptions : "") + ":detect_leaks=0";
    std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-y", "-o", log, "-E", withoutLeakCheck};
    argv.insert(argv.end(), options.begin(), options.end());
    const std::vector<std::string> command = testing::cliCommand(args);
    argv.insert(argv.end(), command.begin(), command.end());
    return testing::runProgram(argv);
}

TEST_F(OutputSafetyTest, TheNewContentIsOnDiskBeforeItReplacesTheOld) {
    using Calls = std::vector<std::string>;
    struct Case {
        const char* name;
        std::function<void(const TempDir& out)> arrange;
        Calls expected;
    };
    const Calls renamed = {"fsync TEMP", "rename TEMP out.rtf", "fsync ."};
    const Case cases[] = {
        {"a new file", [](const TempDir&) {}, renamed},
        {"an existing file", [](const TempDir& out) { existing(out); }, renamed},
        {"one of two hard links, copied in place",
         [](const TempDir& out) { fs::create_hard_link(existing(out), out.file("other-name.rtf")); },
         {"fsync out.rtf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir out, log;
        c.arrange(out);
        const ChildOutcome outcome = runTraced({"-e", "trace=fsync,fdatasync,rename,renameat,renameat2"},
                                               {sound_.str(), out.file("out.rtf")}, log.file("calls"));
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(durabilityCalls(readFile(log.file("calls")), out.str()), c.expected) << readFile(log.file("calls"));
    }
}

TEST_F(OutputSafetyTest, AFailingFlushOrCloseIsAFailure) {
    struct Case {
        const char* name;
        std::vector<std::string> fault;  // strace's options that make the call fail
        bool device, hardLink;
    };
    const Case cases[] = {
        {"the new file cannot be flushed to disk", {"-e", "inject=fsync:error=EIO:when=1"}, false, false},
        {"a device cannot be closed", {"-P", "/dev/null", "-e", "trace=close", "-e", "inject=close:error=EIO"}, true,
         false},
        {"the target copied into cannot be closed", {"-e", "trace=close", "-e", "inject=close:error=EIO"}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir out, log;
        std::string output = c.device ? "/dev/null" : existing(out);
        std::vector<std::string> fault = c.fault;
        if (c.hardLink) {
            fs::create_hard_link(output, out.file("other-name.rtf"));
            fault.insert(fault.begin(), {"-P", output});
        }
        const ChildOutcome outcome = runTraced(fault, {sound_.str(), output}, log.file("calls"));
        EXPECT_EQ(outcome.exitCode, 1) << readFile(log.file("calls"));
        EXPECT_EQ(outcome.err, "Could not write file: " + output + "\n");
        if (!c.device && !c.hardLink) {
            EXPECT_EQ(readFile(output), kOld);
            EXPECT_EQ(folderNames(out.path()), std::vector<std::string>{"out.rtf"});
        }
    }
}

}  // namespace
}  // namespace quillon
