// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/platform.h"

namespace quillon::testing {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.flush()) << path;
}

std::vector<std::string> folderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Converted convertLayout(const bookwriter::StepBookLayout& layout, bool insertMarkers, bool stripTags) {
    TempDir dir;
    EXPECT_TRUE(bookwriter::writeStepBook(dir.str(), layout));
    Converted converted;
    converted.result = runConversion({dir.str(), dir.file("out.rtf"), insertMarkers, stripTags});
    if (converted.result.succeeded) converted.output = readFile(dir.file("out.rtf"));
    return converted;
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder + platform::kPathSeparator + name;
}

const char kConvertedBook[] = "{\\rtf1 \r\ntext\r\n\xF7}\r\n";

void BookAndOutputTest::SetUp() {
    ASSERT_TRUE(bookwriter::writeStepBook(book_.str(), bookwriter::layoutOf({"{\\rtf1 ", "text", "}"}, 1)));
}

}  // namespace quillon::testing
