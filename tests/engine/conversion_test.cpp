// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion run: which entries are written and how, the path rules, the
// failure exits with their messages and order, and the book's own files
// refused as the output.
#include "engine/conversion.h"

#include <gtest/gtest.h>

#include "engine/platform.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using bookwriter::StepBookLayout;
using testing::inFolder;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string kAdvice =
    ".\n\nDid you select the folder containing your Step Book? Step books consist of multiple files in the same "
    "folder.";

// Entry k of a test book holds "<k>\v1 h\v0 ": easy to tell apart, and shows stripping.
std::vector<std::string> numberedTexts(int count) {
    std::vector<std::string> texts;
    for (int k = 0; k < count; ++k) texts.push_back(std::to_string(k) + "\\v1 h\\v0 ");
    return texts;
}

// One item per line of the output, each ended by ";": "M" stands for a
// marker. Output that does not end in CR LF ends in "|" and what follows
// the last CR LF.
std::string describeOutput(const std::string& output) {
    std::string description;
    std::size_t pos = 0;
    for (std::size_t end; (end = output.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
        std::string line = output.substr(pos, end - pos);
        if (!line.empty() && line[0] == '\xF7') line.replace(0, 1, "M");
        description += line + ";";
    }
    return pos == output.size() ? description : description + "|" + output.substr(pos);
}

TEST(RunConversionTest, WritesEveryEntryByItsPositionAndTheOptions) {
    struct Case {
        int blocks;
        std::int32_t blockCount, trailing;
        bool markers, strip;
        std::string expected;
    };
    const std::string raw = "\\v1 h\\v0 ";
    const Case cases[] = {
        {10, 10, 2, true, true, "0" + raw + ";1h;2h;3h;M4h;M5h;M6h;M7h;M8" + raw + ";M9" + raw + ";"},
        {10, 10, 2, false, false,
         "0" + raw + ";1" + raw + ";2" + raw + ";3" + raw + ";4" + raw + ";5" + raw + ";6" + raw + ";7" + raw +
             ";8" + raw + ";9" + raw + ";"},
        {5, 5, 0, true, false, "0" + raw + ";1" + raw + ";2" + raw + ";3" + raw + ";M4" + raw + ";"},
        {4, 3, 3, true, true, "0" + raw + ";M1" + raw + ";M2" + raw + ";M3" + raw + ";"},  // no body blocks
        {2, 2, 1, true, true, "0" + raw + ";M1" + raw + ";"},
        {7, 5, -2, true, true, "0" + raw + ";1h;2h;3h;M4h;M5h;M6h;"},  // a negative count lengthens the body
        {1, 0, 0, true, true, "0" + raw + ";"},
        {1, -4, 0, true, true, "0" + raw + ";"},
        {3, 0, 0, true, true, "0" + raw + ";"},  // entries beyond the counts are not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.blockCount << " blocks, " << c.trailing << " trailing");
        StepBookLayout layout = bookwriter::layoutOf(numberedTexts(c.blocks), c.trailing);
        layout.blockCount = c.blockCount;
        const testing::Converted converted = testing::convertLayout(layout, c.markers, c.strip);
        ASSERT_TRUE(converted.result.succeeded) << converted.result.message;
        EXPECT_TRUE(converted.result.message.empty());
        EXPECT_EQ(describeOutput(converted.output), c.expected);
    }
}

TEST(RunConversionTest, BookFolderGainsASeparatorOnlyWhenItHasNone) {
    TempDir dir;
    const StepBookLayout layout = bookwriter::layoutOf({"x"}, 0);
    ASSERT_TRUE(bookwriter::writeStepBook(dir.str(), layout));
    // Where "\" is no separator it is part of the file names: "b\Book.dat".
    const std::string endsInBackslash = dir.str() + "/b\\";
    fs::create_directories(fs::path(endsInBackslash).parent_path());
    const bookwriter::StepBookFiles files = bookwriter::buildStepBook(layout);
    writeFile(endsInBackslash + "Book.dat", files.bookDat);
    writeFile(endsInBackslash + "Viewable.idx", files.viewableIdx);
    for (const std::string& folder : {dir.str(), dir.str() + "/", endsInBackslash}) {
        const ConversionResult result = runConversion({folder, dir.file("out.rtf"), true, true});
        EXPECT_TRUE(result.succeeded) << folder << ": " << result.message;
    }
}

// Makes `folder` the current folder while it lives.
class InFolder {
public:
    explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path previous_;
};

TEST(ResolveOutputPathTest, FoldersAndMissingPathsWithoutADotReceiveStepbookRtf) {
    // Relative paths, so that no dot in the temporary folder's path counts.
    TempDir dir;
    const InFolder inDir(dir.path());
    fs::create_directory("Out");
    fs::create_directory("My.Docs");
    writeFile("existing", "x");
    const std::string endsInSeparator = std::string("Out") + platform::kPathSeparator;
    const std::pair<std::string, std::string> cases[] = {
        {"Out", inFolder("Out", "stepbook.rtf")},
        {endsInSeparator, endsInSeparator + "stepbook.rtf"},
        {"missing", inFolder("missing", "stepbook.rtf")},
        {"missing/genesis", inFolder("missing/genesis", "stepbook.rtf")},
        {"existing", "existing"},
        {"genesis.rtf", "genesis.rtf"},
        {"My.Docs", "My.Docs"},
        {"rel/./out", "rel/./out"},  // a dot anywhere counts
    };
    for (const auto& [path, resolved] : cases) EXPECT_EQ(resolveOutputPath(path), resolved) << path;
}

using RunConversionExitTest = testing::BookAndOutputTest;

TEST_F(RunConversionExitTest, OpenFailuresAreReportedInOrderAndLeaveNoOutput) {
    const InFolder inOut(out_.path());  // the output paths hold no dot
    const std::string unwritable = "nowhere/genesis";
    const std::string output = "new.rtf";
    fs::remove(book_.path() / "Viewable.idx");
    const std::string bookDat = readFile(book_.path() / "Book.dat");
    fs::remove(book_.path() / "Book.dat");
    EXPECT_EQ(convertTo(unwritable).message, "Could not open file: " + book_.file("Book.dat") + kAdvice);
    writeFile(book_.path() / "Book.dat", bookDat);
    EXPECT_EQ(convertTo(unwritable).message, "Could not open file for writing: " + inFolder(unwritable, "stepbook.rtf"));
    EXPECT_EQ(convertTo(output).message, "Could not open file: " + book_.file("Viewable.idx") + kAdvice);
    EXPECT_TRUE(fs::is_empty(out_.path()));
}

TEST_F(RunConversionExitTest, TheBooksOwnFilesAreRefusedAsTheOutputUnderAnyName) {
    fs::create_hard_link(book_.path() / "Book.dat", out_.path() / "book.rtf");
    const std::string bookDat = readFile(book_.path() / "Book.dat");
    const std::string viewableIdx = readFile(book_.path() / "Viewable.idx");
    const std::string otherSpelling = inFolder(inFolder(book_.str(), "."), "Viewable.idx");
    const std::pair<std::string, std::string> cases[] = {
        {inFolder(book_.str(), "Book.dat"), "Book.dat"},
        {inFolder(book_.str(), "Viewable.idx"), "Viewable.idx"},
        {otherSpelling, "Viewable.idx"},
        {out_.file("book.rtf"), "Book.dat"},
    };
    for (const auto& [output, bookFile] : cases) {
        EXPECT_EQ(convertTo(output).message, "The output file " + output + " is the Step book's own file " +
                                                 inFolder(book_.str(), bookFile) + "; choose another output file.");
    }
    EXPECT_EQ(readFile(book_.path() / "Book.dat"), bookDat);
    EXPECT_EQ(readFile(book_.path() / "Viewable.idx"), viewableIdx);
}

}  // namespace
}  // namespace quillon
