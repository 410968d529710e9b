// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli: option parsing, and the contract scripts rely on: exit codes
// and exactly what goes to stdout and stderr.
#include "cli/command_line.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(missing.err, "Could not open file: " + testing::inFolder(out_.str(), "Book.dat") +
                               ".\n\nDid you select the folder containing your Step Book? Step books "
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

}  // namespace
}  // namespace quillon::cli
