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

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <iomanip>
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
using testing::readFile;
using testing::runCli;
using testing::TempDir;
using testing::writeFile;

constexpr uid_t kNobody = 65534;
constexpr char kOld[] = "precious";

bool isRoot() { return ::geteuid() == 0; }

// All a user can tell about one entry of a folder.
struct EntryState {
    ::ino_t inode = 0;  // not compared: a replaced file may be a new one
    mode_t mode = 0;       // type and permission bits
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 0;
    std::map<std::string, std::string> attributes;  // extended attributes, the access control list among them
    std::string content;                             // a file's bytes, where a symbolic link points
};

using FolderState = std::map<std::string, EntryState>;

std::map<std::string, std::string> extendedAttributes(const std::string& path) {
    std::map<std::string, std::string> attributes;
    std::string names(4096, '\0');
    const ssize_t length = ::llistxattr(path.c_str(), names.data(), names.size());
    for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length); at = names.find('\0', at) + 1) {
        const std::string name = names.c_str() + at;
        std::string value(4096, '\0');
        const ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        attributes[name] = value.substr(0, size > 0 ? static_cast<std::size_t>(size) : 0);
    }
    return attributes;
}

FolderState folderState(const fs::path& folder) {
    FolderState state;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        EntryState& e = state[entry.path().filename().string()];
        e = {info.st_ino, info.st_mode, info.st_uid, info.st_gid, info.st_nlink, extendedAttributes(path), {}};
        e.content = S_ISLNK(info.st_mode) ? fs::read_symlink(entry.path()).string() : readFile(path);
    }
    return state;
}

std::string printable(const std::string& bytes) {
    std::ostringstream text;
    for (unsigned char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F) {
            text << byte;
        } else {
            text << "\\x" << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte) << std::dec;
        }
    }
    return text.str();
}

// Enough of a file's content to tell it apart, in one line.
std::string shortened(const std::string& content) {
    return content.size() <= 40 ? printable(content) : printable(content.substr(0, 40)) + "... (" +
                                                             std::to_string(content.size()) + " bytes)";
}

// One line per entry, so that a failed comparison shows what differs.
std::string describe(const FolderState& state) {
    std::ostringstream text;
    for (const auto& [name, e] : state) {
        text << name.substr(0, 40) << ": mode " << std::oct << e.mode << std::dec << ", " << e.owner << ':' << e.group
             << ", " << e.links << " links, \"" << shortened(e.content) << '"';
        for (const auto& [attribute, value] : e.attributes) text << ", " << attribute << '=' << printable(value);
        text << '\n';
    }
    return text.str();
}

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename());
    std::sort(found.begin(), found.end());
    return found;
}

// Entry 2 points past the end of Book.dat: the run is refused after two blocks were written.
StepBookLayout damagedLayout() {
    StepBookLayout layout = bookwriter::layoutOf({"{\\rtf1 ", "text", "}"}, 1);
    layout.blocks[2].dataOffset = 1 << 20;
    return layout;
}

// A sound book and a damaged one, in folders any user may read.
class OutputSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bookwriter::writeStepBook(sound_.str(), bookwriter::layoutOf({"{\\rtf1 ", "text", "}"}, 1)));
        ASSERT_TRUE(bookwriter::writeStepBook(damaged_.str(), damagedLayout()));
        fs::permissions(sound_.path(), fs::perms(0755));
        fs::permissions(damaged_.path(), fs::perms(0755));
    }
    TempDir sound_, damaged_;
};

std::string existing(const TempDir& out, const std::string& name = "out.rtf") {
    writeFile(out.file(name), kOld);
    return out.file(name);
}

struct OutputSetup {
    const char* name;
    bool asNobody;    // runs as an unprivileged user; otherwise as the test's user
    bool needsRoot;   // to arrange, or to run as nobody
    std::function<std::string(const TempDir& out)> arrange;  // returns the output path
    bool writable = true;  // false: the program must refuse the path
};

std::vector<OutputSetup> outputSetups() {
    using Out = const TempDir&;
    return {
        {"a new file", false, false, [](Out out) { return out.file("new.rtf"); }},
        {"a file of the user's own", false, false,
         [](Out out) {
             const std::string path = existing(out);
             ::chmod(path.c_str(), 0640);
             return path;
         }},
        {"another user's file", false, true,
         [](Out out) {
             const std::string path = existing(out);
             EXPECT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
             return path;
         }},
        {"a setuid and setgid program of another user", false, true,
         [](Out out) {
             const std::string path = existing(out);
             EXPECT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
             ::chmod(path.c_str(), 06755);
             return path;
         }},
        {"a file with an access control list", false, false,
         [](Out out) {
             const std::string path = existing(out);
             acl_t acl = acl_from_text("u::rw-,u:65534:rw-,g::r--,m::rw-,o::---");
             EXPECT_EQ(acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl), 0) << "no access control lists here";
             acl_free(acl);
             return path;
         }},
        {"a file with extended attributes", false, true,
         [](Out out) {
             const std::string path = existing(out);
             EXPECT_EQ(::setxattr(path.c_str(), "user.origin", "kept", 4, 0), 0) << "no extended attributes here";
             EXPECT_EQ(::setxattr(path.c_str(), "trusted.origin", "kept too", 8, 0), 0);
             return path;
         }},
        {"one of two hard links", false, false,
         [](Out out) {
             const std::string path = existing(out);
             fs::create_hard_link(path, out.file("other-name.rtf"));
             return path;
         }},
        {"a symbolic link to the file", false, false,
         [](Out out) {
             fs::create_symlink(existing(out, "real.rtf"), out.file("link.rtf"));
             return out.file("link.rtf");
         }},
        {"a name of 255 bytes", false, false, [](Out out) { return existing(out, std::string(251, 'n') + ".rtf"); }},
        {"a writable file in a read-only folder", true, true,
         [](Out out) {
             const std::string path = existing(out);
             ::chmod(path.c_str(), 0666);
             fs::permissions(out.path(), fs::perms(0555));
             return path;
         }},
        {"another user's writable file in a sticky folder", true, true,
         [](Out out) {
             const std::string path = existing(out);
             ::chmod(path.c_str(), 0666);
             ::chmod(out.str().c_str(), 01777);
             return path;
         }},
        {"a file the user may not write", true, true,
         [](Out out) {
             const std::string path = existing(out);
             ::chmod(path.c_str(), 0444);
             fs::permissions(out.path(), fs::perms(0777));
             return path;
         },
         false},
    };
}

// What the folder must hold after a successful run: the book's text in the
// file the output path led to (inode `target`, 0 when there was none), under
// each of its names, and nothing else new.
FolderState afterSuccess(FolderState state, ::ino_t target, const std::string& output, uid_t user, gid_t group) {
    if (target == 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        state[fs::path(output).filename()] = {0, S_IFREG | (0666 & ~mask), user, group, 1, {}, testing::kConvertedBook};
    }
    for (auto& [name, entry] : state) {
        if (!S_ISLNK(entry.mode) && entry.inode == target) entry.content = testing::kConvertedBook;
    }
    return state;
}

TEST_F(OutputSafetyTest, EverySetupKeepsTheFileOnFailureAndAllButItsContentOnSuccess) {
    int skipped = 0;
    for (const OutputSetup& setup : outputSetups()) {
        SCOPED_TRACE(setup.name);
        if (setup.needsRoot && !isRoot()) {
            ++skipped;
            continue;
        }
        TempDir out;
        const std::string output = setup.arrange(out);
        const FolderState before = folderState(out.path());
        struct stat info {};
        const ::ino_t target = ::stat(output.c_str(), &info) == 0 ? info.st_ino : 0;
        ChildLimits limits;
        limits.unprivileged = setup.asNobody;

        const ChildOutcome failed = runCli({damaged_.str(), output}, limits);
        EXPECT_EQ(failed.exitCode, 1) << failed.err;
        EXPECT_EQ(describe(folderState(out.path())), describe(before)) << "after a failed run";

        const ChildOutcome converted = runCli({sound_.str(), output}, limits);
        if (!setup.writable) {
            EXPECT_EQ(converted.err, "Could not open file for writing: " + output + "\n");
            EXPECT_EQ(describe(folderState(out.path())), describe(before)) << "after a refused run";
            continue;
        }
        EXPECT_EQ(converted.exitCode, 0) << converted.err;
        const uid_t user = setup.asNobody ? kNobody : ::geteuid();
        const gid_t group = setup.asNobody ? kNobody : ::getegid();
        EXPECT_EQ(describe(folderState(out.path())), describe(afterSuccess(before, target, output, user, group)))
            << "after a successful run";
    }
    if (skipped > 0) GTEST_SKIP() << skipped << " setups need root, to change owners or to run as another user";
}

// A tmpfs of its own, mounted in a mount namespace of this test process, so
// that it goes away with the process whatever happens.
bool mountSmallFileSystem(const fs::path& where, const std::string& options) {
    return ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("quillon-test", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TEST_F(OutputSafetyTest, AFullFileSystemCostsNothing) {
    if (!isRoot()) GTEST_SKIP() << "mounting a small file system needs root";
    TempDir mountPoint;
    // Room for the target and 15 more pages, and not one more file: the output
    // must be written elsewhere and copied in at the end, if it fits.
    ASSERT_TRUE(mountSmallFileSystem(mountPoint.path(), "size=64k,nr_inodes=2,mode=0755"))
        << "cannot mount a tmpfs: " << std::strerror(errno);
    const std::string output = existing(mountPoint);

    TempDir large;
    ASSERT_TRUE(bookwriter::writeStepBook(large.str(), bookwriter::layoutOf({"{\\rtf1 ", std::string(200000, 'x'), "}"})));
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
        EXPECT_EQ(shortened(readFile(output)), shortened(c.content));
        EXPECT_EQ(names(mountPoint.path()), std::vector<std::string>{"out.rtf"});
    }
    ::umount2(mountPoint.str().c_str(), MNT_DETACH);
}

// A book that takes long to convert and is small: every entry after the
// first reads the first entry's stored bytes.
StepBookLayout longLayout() {
    const std::string text(1 << 16, 'x');
    StepBookLayout layout = bookwriter::layoutOf({text}, 0);
    const bookwriter::BlockLayout again{"", std::string(), 16 + 4, static_cast<std::int32_t>(text.size()),
                                        static_cast<std::int32_t>(bookwriter::compressLzss(text).size())};
    layout.blocks.insert(layout.blocks.end(), 20000, again);
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
        testing::Child child(testing::cliCommand({book.str(), output}), limits);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (names(out.path()).size() < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(names(out.path()).size(), 2u) << "the run never began writing beside its target";
        ::kill(child.pid(), signal);
        const ChildOutcome outcome = child.finish();
        EXPECT_EQ(outcome.signal, signal) << "exit status " << outcome.exitCode << ", " << outcome.err;
        EXPECT_EQ(names(out.path()), std::vector<std::string>{"out.rtf"});
        EXPECT_EQ(readFile(output), kOld);
    }
}

// The file-system calls of one run, as "fsync NAME" and "rename FROM TO",
// names relative to `folder` and the temporary file's name as TEMP.
std::vector<std::string> durabilityCalls(const std::string& straceLog, const std::string& folder) {
    const std::regex call(R"re((fsync|fdatasync)\(\d+<([^>]*)>\)|(rename\w*)\((?:\w+(?:<[^>]*>)?, )?"([^"]*)", (?:\w+(?:<[^>]*>)?, )?"([^"]*)")re");
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

TEST_F(OutputSafetyTest, TheNewContentIsOnDiskBeforeItReplacesTheOld) {
    ASSERT_TRUE(fs::exists("/usr/bin/strace")) << "strace is missing: scripts/install-deps.sh --all installs it";
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
        const ChildOutcome outcome = testing::runProgram(
            {"/usr/bin/strace", "-f", "-y", "-o", log.file("calls"), "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
             QUILLON_CLI_PATH, sound_.str(), out.file("out.rtf")});
        ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(durabilityCalls(readFile(log.file("calls")), out.str()), c.expected) << readFile(log.file("calls"));
    }
}

}  // namespace
}  // namespace quillon
