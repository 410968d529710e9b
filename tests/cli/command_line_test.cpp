// quillon-cli: option parsing, and the contract scripts rely on: exit codes
// and exactly what goes to stdout and stderr.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <sstream>

#include "engine/test_support.h"

namespace quillon::cli {
namespace {

using testing::readFile;
using testing::TempDir;

struct Args {
    explicit Args(std::vector<std::string> args) : strings(std::move(args)) {
        strings.insert(strings.begin(), "quillon-cli");
        for (std::string& s : strings) pointers.push_back(s.data());
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    char* const* argv() const { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

TEST(ParseCommandLineTest, OptionsAndOperands) {
    struct Case {
        std::vector<std::string> args;
        CommandLine::Action action;
        bool markers, strip, verbose;
    };
    using A = CommandLine::Action;
    const Case cases[] = {
        {{"book", "out.rtf"}, A::convert, true, true, false},
        {{"--no-markers", "book", "out.rtf"}, A::convert, false, true, false},
        {{"--keep-tags", "book", "out.rtf"}, A::convert, true, false, false},
        {{"--keep-tags", "--no-markers", "-v", "book", "out.rtf"}, A::convert, false, false, true},
        {{"book", "out.rtf", "--verbose"}, A::convert, true, true, true},
        {{"--", "-book", "out.rtf"}, A::convert, true, true, false},
        {{"--help"}, A::showHelp, true, true, false},
        {{"book", "--version"}, A::showVersion, true, true, false},
        {{}, A::usageError, true, true, false},
        {{"book"}, A::usageError, true, true, false},
        {{"book", "out", "extra"}, A::usageError, true, true, false},
        {{"--strip", "book", "out"}, A::usageError, true, true, false},
        {{"-x", "book", "out"}, A::usageError, true, true, false},
        {{"", "out"}, A::usageError, true, true, false},
        {{"book", ""}, A::usageError, true, true, false},
    };
    for (const Case& c : cases) {
        const Args args(c.args);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CommandLine parsed = parseCommandLine(args.argc(), args.argv());
        EXPECT_EQ(parsed.action, c.action);
        if (c.action == A::usageError) {
            EXPECT_FALSE(parsed.error.empty());
            continue;
        }
        if (c.action != A::convert) continue;
        EXPECT_EQ(parsed.request.insertMarkers, c.markers);
        EXPECT_EQ(parsed.request.stripTags, c.strip);
        EXPECT_EQ(parsed.verbose, c.verbose);
        EXPECT_EQ(parsed.request.outputPath, "out.rtf");
    }
}

struct Outcome {
    int exitCode;
    std::string out, err;
};

Outcome run(std::vector<std::string> args) {
    const Args argv(std::move(args));
    std::ostringstream out, err;
    const int code = runCommandLine(argv.argc(), argv.argv(), out, err);
    return {code, out.str(), err.str()};
}

class CommandLineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf({"{\\rtf1 ", "a\\v1 b", "}"}, 1)));
    }
    TempDir book_;
    TempDir out_;
};

TEST_F(CommandLineRunTest, SuccessIsSilentUnlessVerbose) {
    const Outcome quiet = run({book_.str(), out_.file("a.rtf")});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(readFile(out_.file("a.rtf")), "{\\rtf1 \r\nab\r\n\xF7}\r\n");

    const Outcome verbose = run({"-v", "--no-markers", "--keep-tags", book_.str(), out_.str()});
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_EQ(verbose.out, "quillon-cli: wrote 3 blocks to " + out_.file("stepbook.rtf") + "\n");
    EXPECT_EQ(verbose.err, "");
    EXPECT_EQ(readFile(out_.file("stepbook.rtf")), "{\\rtf1 \r\na\\v1 b\r\n}\r\n");
}

TEST_F(CommandLineRunTest, FailurePrintsExactlyTheMessage) {
    const Outcome missing = run({out_.str(), out_.file("a.rtf")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Could not open file: " + out_.str() +
                               "/Book.dat.\n\nDid you select the folder containing your Step Book? Step books "
                               "consist of multiple files in the same folder.\n");

    const Outcome unwritable = run({book_.str(), out_.file("no/dir/a.rtf")});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_EQ(unwritable.err, "Could not open file for writing: " + out_.file("no/dir/a.rtf") + "\n");
}

TEST_F(CommandLineRunTest, UsageErrorsHelpAndVersion) {
    const Outcome usage = run({book_.str()});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err.find(std::string(kUsageLine) + "\n"), std::string::npos) << usage.err;

    const Outcome help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind(kUsageLine, 0), 0u);
    EXPECT_EQ(help.err, "");

    const Outcome version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quillon-cli 1.0\n");
}

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
        const Args argv(args);
        std::vector<char*> list(argv.pointers);
        list.push_back(nullptr);
        ::execv(QUILLON_CLI_PATH, list.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outPath), readFile(errPath)};
}

TEST_F(CommandLineRunTest, TheProgramKeepsTheContract) {
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

TEST_F(CommandLineRunTest, FileSizeLimitIsAWriteFailureAndLosesNothing) {
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

TEST_F(CommandLineRunTest, ReadOnlyOutputFileIsRefusedAndKept) {
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
