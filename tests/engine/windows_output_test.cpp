// SPDX-License-Identifier: GPL-2.0-or-later
// The output file on Windows: what a replaced file keeps, how a target that
// another program holds open is waited for, and paths in a double-byte code
// page.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/conversion.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

using testing::kConvertedBook;
using testing::readFile;
using testing::writeFile;
using WindowsOutputTest = testing::BookAndOutputTest;

TEST_F(WindowsOutputTest, AReplacedFileKeepsItsAttributesAndANewOneIsNotHidden) {
    struct Case {
        const char* name;
        DWORD attributesBefore;  // 0: no file there
        DWORD hiddenAfter;
    };
    const Case cases[] = {
        {"hidden.rtf", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {"plain.rtf", FILE_ATTRIBUTE_NORMAL, 0},
        {"new.rtf", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = out_.file(c.name);
        if (c.attributesBefore != 0) {
            writeFile(path, "old");
            ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.attributesBefore));
        }
        const ConversionResult result = convertTo(path);
        ASSERT_TRUE(result.succeeded) << result.message;
        EXPECT_EQ(readFile(path), kConvertedBook);
        EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, c.hiddenAfter);
    }
}

TEST_F(WindowsOutputTest, ATargetHeldOpenIsWaitedForAboutASecond) {
    // Sharing is decided per handle: a handle of this process stands for
    // another program's, such as an editor that keeps the file open and lets
    // others write it but not replace it.
    for (const bool releasedSoon : {true, false}) {
        SCOPED_TRACE(releasedSoon ? "released after 300 ms" : "held throughout");
        const std::string path = out_.file(releasedSoon ? "soon.rtf" : "held.rtf");
        writeFile(path, "old");
        const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread releaser([held, releasedSoon] {
            if (releasedSoon) {
                Sleep(300);
                CloseHandle(held);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        const ConversionResult result = convertTo(path);
        const auto waited = std::chrono::steady_clock::now() - start;
        releaser.join();
        if (!releasedSoon) CloseHandle(held);

        if (releasedSoon) {
            EXPECT_TRUE(result.succeeded) << result.message;
            EXPECT_EQ(readFile(path), kConvertedBook);
        } else {
            EXPECT_EQ(result.message, "Could not write file: " + path);
            EXPECT_EQ(readFile(path), "old");
            EXPECT_GE(waited, std::chrono::milliseconds(800));
            EXPECT_LE(waited, std::chrono::seconds(5));
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.path()), {}), 2) << "no stray files";
}

// Reads a file named in the system code page.
std::string readNarrow(const std::string& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(DoubleByteCodePageTest, ACharacterWhoseSecondByteIs5CIsNoSeparator) {
    if (const char* required = std::getenv("QUILLON_CODE_PAGE")) {
        ASSERT_EQ(GetACP(), std::strtoul(required, nullptr, 10)) << "the system code page asked for is not in use";
    }
    if (GetACP() != 932) GTEST_SKIP() << "needs code page 932; the test double_byte_code_page runs it there";
    // "\x95\x5C" is one character in code page 932, and its second byte is a backslash.
    testing::TempDir dir;
    const std::string folder = dir.str() + "\\\x95\x5C";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(bookwriter::writeStepBook(folder, bookwriter::layoutOf({"{\\rtf1 ", "text", "}"}, 1)));
    for (const std::string& bookFolder : {folder, folder + "\\"}) {
        SCOPED_TRACE(bookFolder);
        // The folder is both the book folder and, having no dot, the output folder.
        const ConversionResult result = runConversion({bookFolder, folder, true, true});
        ASSERT_TRUE(result.succeeded) << result.message;
        EXPECT_EQ(result.outputPath, folder + "\\stepbook.rtf");
        EXPECT_EQ(readNarrow(folder + "\\stepbook.rtf"), kConvertedBook);
    }
}

}  // namespace
}  // namespace quillon
