// SPDX-License-Identifier: GPL-2.0-or-later
// Helpers shared by the tests: throwaway folders, whole-file reads and
// writes, and books built with the Step book writer.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "tools/bookwriter/scratch_folder.h"
#include "tools/bookwriter/step_book_writer.h"

namespace quillon::testing {

using TempDir = bookwriter::ScratchFolder;

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& content);

// The names in `folder`, sorted.
std::vector<std::string> folderNames(const std::filesystem::path& folder);

struct Converted {
    ConversionResult result;
    std::string output;  // the output file's bytes, when the run succeeded
};

// Writes the book into a throwaway folder and converts it to a file there.
Converted convertLayout(const bookwriter::StepBookLayout& layout, bool insertMarkers, bool stripTags);

// `name` in `folder`, joined with the separator the engine adds to a folder.
std::string inFolder(const std::string& folder, const std::string& name);

// A Step book of three blocks and a folder for output, for tests of whole runs.
class BookAndOutputTest : public ::testing::Test {
protected:
    void SetUp() override;
    ConversionResult convertTo(const std::string& output) { return runConversion({book_.str(), output, true, true}); }

    TempDir book_;
    TempDir out_;
};

// What the book of BookAndOutputTest becomes with markers and stripping on.
extern const char kConvertedBook[];

}  // namespace quillon::testing
