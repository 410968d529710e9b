// What the output file does with POSIX file-system features: permissions,
// symbolic links, root's rights and a device that refuses writes.
#include <gtest/gtest.h>

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
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    TempDir dir;
    writeFile(dir.file("out.rtf"), "old");
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    OutputFile output;
    ASSERT_TRUE(output.open(dir.file("out.rtf")));
    output.stream().write("new");
    EXPECT_TRUE(output.commit());
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(readFile(dir.file("out.rtf")), "new");
}

TEST_F(PosixOutputTest, ReadOnlyOutputIsRefusedAndKept) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores file permissions";
    writeFile(out_.file("readonly.rtf"), "locked");
    std::filesystem::permissions(out_.file("readonly.rtf"), std::filesystem::perms::owner_read);
    EXPECT_EQ(convertTo(out_.file("readonly.rtf")).message,
              "Could not open file for writing: " + out_.file("readonly.rtf"));
    EXPECT_EQ(readFile(out_.file("readonly.rtf")), "locked");
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
