// SPDX-License-Identifier: GPL-2.0-or-later
// The real quillon-cli program in a child process: its exit codes and output,
// and write failures (a file-size limit, a full device).
#include <gtest/gtest.h>

#include "cli/cli_child.h"
#include "engine/test_support.h"

namespace quillon::cli {
namespace {

using testing::ChildOutcome;
using testing::readFile;
using testing::runCli;
using testing::TempDir;

class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf({"{\\rtf1 ", "a\\v1 b", "}"}, 1)));
    }
    TempDir book_;
    TempDir out_;
};

TEST_F(ProgramRunTest, TheProgramKeepsTheContract) {
    const ChildOutcome converted = runCli({book_.str(), out_.file("a.rtf")});
    EXPECT_EQ(converted.exitCode, 0);
    EXPECT_EQ(converted.out + converted.err, "");
    EXPECT_EQ(readFile(out_.file("a.rtf")), "{\\rtf1 \r\nab\r\n\xF7}\r\n");

    const ChildOutcome failed = runCli({book_.file("nothing"), out_.file("b.rtf")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err.rfind("Could not open file: " + book_.file("nothing") + "/Book.dat.\n\n", 0), 0u);

    EXPECT_EQ(runCli({"--bogus"}).exitCode, 2);
    EXPECT_EQ(runCli({"--version"}).out, "quillon-cli 1.0\n");
}

TEST_F(ProgramRunTest, WriteFailuresAreFailuresAndLoseNothing) {
    std::vector<std::string> texts = {"{\\rtf1 "};
    for (int k = 0; k < 50; ++k) texts.push_back(std::string(4000, static_cast<char>('a' + k % 26)));
    texts.push_back("}");
    ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf(texts, 1)));
    testing::writeFile(out_.file("kept.rtf"), "precious");

    const ChildOutcome limited = runCli({book_.str(), out_.file("kept.rtf")}, {100000, RLIM_INFINITY, 0, false});
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(limited.err, "Could not write file: " + out_.file("kept.rtf") + "\n");
    EXPECT_EQ(readFile(out_.file("kept.rtf")), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.path()), {}), 1) << "no stray files";

    // A device is written straight through.
    ASSERT_TRUE(std::filesystem::exists("/dev/full")) << "no /dev/full here";
    const ChildOutcome full = runCli({book_.str(), "/dev/full"});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.err, "Could not write file: /dev/full\n");
}

}  // namespace
}  // namespace quillon::cli
