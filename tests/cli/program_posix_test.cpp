// The real quillon-cli program in a child process: its exit codes and output,
// and how it fares under a file-size limit and without root's rights.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "engine/test_support.h"

namespace quillon::cli {
namespace {

using testing::readFile;
using testing::TempDir;

struct Outcome {
    int exitCode;
    std::string out, err;
};

class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf({"{\\rtf1 ", "a\\v1 b", "}"}, 1)));
    }
    TempDir book_;
    TempDir out_;
};

struct ProgramLimits {
    rlim_t fileSize = RLIM_INFINITY;
    bool unprivileged = false;  // drop root's rights, which ignore file permissions
};

// Runs the real program in a child process.
Outcome runProgram(const std::vector<std::string>& args, ProgramLimits limits = {}) {
    TempDir capture;
    const std::string outPath = capture.file("stdout"), errPath = capture.file("stderr");
    const pid_t child = ::fork();
    if (child == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr)) _exit(127);
        const rlimit limit{limits.fileSize, limits.fileSize};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        if (limits.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(126);
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
        std::vector<std::string> strings = args;
        strings.insert(strings.begin(), "quillon-cli");
        std::vector<char*> list;
        for (std::string& s : strings) list.push_back(s.data());
        list.push_back(nullptr);
        ::execv(QUILLON_CLI_PATH, list.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outPath), readFile(errPath)};
}

TEST_F(ProgramRunTest, TheProgramKeepsTheContract) {
    const Outcome converted = runProgram({book_.str(), out_.file("a.rtf")});
    EXPECT_EQ(converted.exitCode, 0);
    EXPECT_EQ(converted.out + converted.err, "");
    EXPECT_EQ(readFile(out_.file("a.rtf")), "{\\rtf1 \r\nab\r\n\xF7}\r\n");

    const Outcome failed = runProgram({book_.file("nothing"), out_.file("b.rtf")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err.rfind("Could not open file: " + book_.file("nothing") + "/Book.dat.\n\n", 0), 0u);

    EXPECT_EQ(runProgram({"--bogus"}).exitCode, 2);
    EXPECT_EQ(runProgram({"--version"}).out, "quillon-cli 1.0\n");
}

TEST_F(ProgramRunTest, FileSizeLimitIsAWriteFailureAndLosesNothing) {
    std::vector<std::string> texts = {"{\\rtf1 "};
    for (int k = 0; k < 50; ++k) texts.push_back(std::string(4000, static_cast<char>('a' + k % 26)));
    texts.push_back("}");
    ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf(texts, 1)));
    testing::writeFile(out_.file("kept.rtf"), "precious");

    const Outcome limited = runProgram({book_.str(), out_.file("kept.rtf")}, {100000, false});
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(limited.err, "Could not write file: " + out_.file("kept.rtf") + "\n");
    EXPECT_EQ(readFile(out_.file("kept.rtf")), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.path()), {}), 1) << "no stray files";
}

TEST_F(ProgramRunTest, ReadOnlyOutputFileIsRefusedAndKept) {
    testing::writeFile(out_.file("locked.rtf"), "precious");
    std::filesystem::permissions(out_.file("locked.rtf"), std::filesystem::perms(0444));
    std::filesystem::permissions(out_.path(), std::filesystem::perms(0777));

    const Outcome refused = runProgram({book_.str(), out_.file("locked.rtf")}, {RLIM_INFINITY, true});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "Could not open file for writing: " + out_.file("locked.rtf") + "\n");
    EXPECT_EQ(readFile(out_.file("locked.rtf")), "precious");
}

}  // namespace
}  // namespace quillon::cli
