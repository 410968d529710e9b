// SPDX-License-Identifier: GPL-2.0-or-later
// The output stream's line-feed translation and buffering, and the output
// file's promise: the path changes only when the whole output was written,
// and nothing else is left behind.
#include "engine/output_stream.h"

#include <gtest/gtest.h>


#include "engine/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using testing::folderNames;
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

TEST(OutputFileTest, ThePathChangesOnlyAtCommitAndNothingElseIsLeft) {
    enum class Target { none, file, hardLinkedFile };  // the last is copied into in place
    const std::string written(200000, 'n');
    for (Target target : {Target::none, Target::file, Target::hardLinkedFile}) {
        for (bool commit : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "target " << static_cast<int>(target) << ", commit " << commit);
            TempDir dir;
            const std::string path = dir.file("out.rtf");
            std::vector<std::string> expectedNames;
            if (target != Target::none) {
                writeFile(path, "old");
                expectedNames.push_back("out.rtf");
            }
            if (target == Target::hardLinkedFile) {
                fs::create_hard_link(path, dir.path() / "twin.rtf");
                expectedNames.push_back("twin.rtf");
            }
            {
                OutputFile output;
                ASSERT_TRUE(output.open(path));
                output.stream().write(written);
                output.stream().flush();
                EXPECT_EQ(fs::exists(path), target != Target::none);
                if (commit) {
                    EXPECT_TRUE(output.commit());
                }
            }
            if (commit && target == Target::none) expectedNames.push_back("out.rtf");
            EXPECT_EQ(folderNames(dir.path()), expectedNames);
            const std::string expected = commit ? written : "old";
            for (const std::string& name : expectedNames) EXPECT_TRUE(readFile(dir.path() / name) == expected) << name;
        }
    }
}

}  // namespace
}  // namespace quillon
