// SPDX-License-Identifier: GPL-2.0-or-later
// What the output file does with POSIX file-system features: permissions,
// symbolic links, a folder that takes no new files and a device that
// refuses writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/conversion.h"
#include "engine/output_stream.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using PosixOutputTest = testing::BookAndOutputTest;

TEST(PosixOutputFileTest, FolderThatTakesNoNewFilesIsWrittenStraightThrough) {
    TempDir dir;
    writeFile(dir.file("out.rtf"), "old");
    std::filesystem::permissions(dir.file("out.rtf"), std::filesystem::perms(0666));
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
    // Root may create files anywhere: the child gives up its rights first.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(2);
        OutputFile output;
        if (!output.open(dir.file("out.rtf"))) _exit(3);
        output.stream().write("new");
        _exit(output.commit() ? 0 : 4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(readFile(dir.file("out.rtf")), "new");
}

TEST_F(PosixOutputTest, ReplacedFileKeepsItsPermissions) {
    writeFile(out_.file("book.rtf"), "older");
    std::filesystem::permissions(out_.file("book.rtf"), std::filesystem::perms(0640));
    ASSERT_TRUE(convertTo(out_.file("book.rtf")).succeeded);
    EXPECT_EQ(readFile(out_.file("book.rtf")), testing::kConvertedBook);
    EXPECT_EQ(std::filesystem::status(out_.file("book.rtf")).permissions(), std::filesystem::perms(0640));
}

TEST_F(PosixOutputTest, SymbolicLinkAtTheOutputPathStaysALink) {
    writeFile(out_.file("real.rtf"), "old");
    std::filesystem::create_symlink(out_.file("real.rtf"), out_.file("link.rtf"));
    ASSERT_TRUE(convertTo(out_.file("link.rtf")).succeeded);
    EXPECT_TRUE(std::filesystem::is_symlink(out_.file("link.rtf")));
    EXPECT_EQ(readFile(out_.file("real.rtf")), testing::kConvertedBook);
}

TEST_F(PosixOutputTest, WriteFailureIsAFailure) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const ConversionResult result = convertTo("/dev/full");
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.message, "Could not write file: /dev/full");
}

}  // namespace
}  // namespace quillon
