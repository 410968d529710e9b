// SPDX-License-Identifier: GPL-2.0-or-later
// The output stream's line-feed translation and buffering, and the output
// file's promise: the path changes only when the whole output was written.
#include "engine/output_stream.h"

#include <gtest/gtest.h>

#include "engine/test_support.h"

namespace quillon {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(OutputStreamTest, StoresEveryLineFeedAsCrLfAcrossBufferBoundaries) {
    // Tiny buffers make every write straddle a flush.
    for (std::size_t bufferSize : {1u, 2u, 3u, 7u, 64u}) {
        SCOPED_TRACE(bufferSize);
        TempDir dir;
        std::FILE* file = std::fopen(dir.file("out").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        {
            OutputStream stream(file, bufferSize);
            stream.write("\n");
            stream.write("a\nb\r\nc");
            stream.put('\xF7');
            stream.write(std::string(20, 'x') + "\n\n");
            stream.write("");
            EXPECT_TRUE(stream.flush());
        }
        std::fclose(file);
        EXPECT_EQ(readFile(dir.file("out")), "\r\na\r\nb\r\r\nc\xF7" + std::string(20, 'x') + "\r\n\r\n");
    }
}

TEST(OutputFileTest, NothingAppearsAtThePathUntilCommit) {
    TempDir dir;
    const std::string path = dir.file("new.rtf");
    {
        OutputFile output;
        ASSERT_TRUE(output.open(path));
        output.stream().write("partial");
        output.stream().flush();
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "an abandoned output leaves no file";

    OutputFile output;
    ASSERT_TRUE(output.open(path));
    output.stream().write("whole\n");
    ASSERT_TRUE(output.commit());
    EXPECT_EQ(readFile(path), "whole\r\n");
}

TEST(OutputFileTest, AbandonedOutputKeepsTheOldContent) {
    TempDir dir;
    writeFile(dir.file("old.rtf"), "old content");
    {
        OutputFile output;
        ASSERT_TRUE(output.open(dir.file("old.rtf")));
        output.stream().write(std::string(200000, 'n'));
    }
    EXPECT_EQ(readFile(dir.file("old.rtf")), "old content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace quillon
