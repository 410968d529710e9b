// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion run: which entries are written and how, path rules, the
// failure exits and their messages, and what a failed run leaves on disk.
#include "engine/conversion.h"

#include <gtest/gtest.h>

#include "engine/platform.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

using bookwriter::StepBookLayout;
using testing::asOutputLine;
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

// One item per written entry: "M" for a marker, then "kh" stripped or "k\v1 h\v0 ".
std::string describeOutput(const std::string& output) {
    std::string description;
    std::size_t pos = 0;
    while (pos < output.size()) {
        const std::size_t end = output.find("\r\n", pos);
        std::string line = output.substr(pos, end - pos);
        if (!line.empty() && line[0] == '\xF7') line.replace(0, 1, "M");
        description += line + ";";
        pos = end + 2;
    }
    return description;
}

TEST(ConversionPlanTest, MarkersAndStrippingByPosition) {
    struct Case {
        std::int32_t blockCount, trailing;
        std::int64_t entries;
        std::string treatments;  // per entry: '.' plain, 'M' marker, 'S' stripped, 'B' both
    };
    const Case cases[] = {
        {10, 2, 10, ".SSSBBBBMM"},
        {5, 0, 5, ".SSSB"},
        {3, 3, 4, ".MMM"},      // no body: entry 0 then the trailing blocks
        {2, 1, 2, ".M"},        // n = 1
        {0, 0, 1, "."},         // still the first entry
        {1, 0, 1, "."},
        {5, -2, 7, ".SSSBBB"}, // a negative trailing count lengthens the body
        {-4, 0, 1, "."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.blockCount << "/" << c.trailing);
        IndexHeaderRecord header;
        header.blockCount = c.blockCount;
        header.trailingBlockCount = c.trailing;
        const ConversionPlan plan(header, true, true);
        ASSERT_EQ(plan.entryCount(), c.entries);
        std::string treatments;
        for (std::int64_t k = 0; k < plan.entryCount(); ++k) {
            const BlockTreatment t = plan.treatmentOf(k);
            treatments += t.marker ? (t.strip ? 'B' : 'M') : (t.strip ? 'S' : '.');
        }
        EXPECT_EQ(treatments, c.treatments);

        const ConversionPlan off(header, false, false);
        for (std::int64_t k = 0; k < off.entryCount(); ++k) {
            EXPECT_FALSE(off.treatmentOf(k).marker);
            EXPECT_FALSE(off.treatmentOf(k).strip);
        }
    }
}

TEST(RunConversionTest, WritesEveryEntryByThePlan) {
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
        {4, 3, 3, true, true, "0" + raw + ";M1" + raw + ";M2" + raw + ";M3" + raw + ";"},
        {1, 0, 0, true, true, "0" + raw + ";"},
        {3, 0, 0, true, true, "0" + raw + ";"},  // entries beyond the counts are not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        StepBookLayout layout = bookwriter::layoutOf(numberedTexts(c.blocks), c.trailing);
        layout.blockCount = c.blockCount;
        const testing::Converted converted = testing::convertLayout(layout, c.markers, c.strip);
        ASSERT_TRUE(converted.result.succeeded) << converted.result.message;
        EXPECT_TRUE(converted.result.message.empty());
        EXPECT_EQ(describeOutput(converted.output), c.expected);
    }
}

TEST(RunConversionTest, HeaderLengthsAndUnreadBytesDoNotChangeTheOutput) {
    const StepBookLayout plain = bookwriter::layoutOf({"{\\rtf1 ", "body", "}"}, 1);
    const std::string expected = "{\\rtf1 \r\nbody\r\n}\r\n";
    ASSERT_EQ(testing::convertLayout(plain, false, false).output, expected);

    StepBookLayout odd = plain;
    odd.bookHeaderLength = 20;
    odd.indexFileHeaderLength = 300;
    odd.indexHeaderLength = 17;
    odd.unnamedFieldByte = 0xA5;
    odd.prefixedContent = std::string(1000, '\x7F');
    odd.gapBeforeBlocks = "{\\pict junk between the blocks}";
    odd.bytesAfterEntries = std::string(12, '\xFF');
    const testing::Converted converted = testing::convertLayout(odd, false, false);
    ASSERT_TRUE(converted.result.succeeded) << converted.result.message;
    EXPECT_EQ(converted.output, expected);
}

TEST(RunConversionTest, BookFolderGainsASeparatorOnlyWhenItHasNone) {
    TempDir dir;
    ASSERT_TRUE(bookwriter::writeStepBook(dir.str(), bookwriter::layoutOf({"x"}, 0)));
    for (const std::string& folder : {dir.str(), dir.str() + "/"}) {
        const ConversionResult result = runConversion({folder, dir.file("out.rtf"), true, true});
        EXPECT_TRUE(result.succeeded) << folder << ": " << result.message;
    }
    const ConversionResult missing = runConversion({dir.file("nothing") + "/", dir.file("out.rtf"), true, true});
    EXPECT_EQ(missing.message, "Could not open file: " + dir.file("nothing") + "/Book.dat" + kAdvice);
}

TEST(ResolveOutputPathTest, FoldersAndMissingPathsWithoutADotReceiveStepbookRtf) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "Out");
    std::filesystem::create_directory(dir.path() / "My.Docs");
    writeFile(dir.path() / "existing", "x");
    const std::string base = dir.str();
    const bool dotFree = base.find('.') == std::string::npos;

    EXPECT_EQ(resolveOutputPath(base + "/genesis.rtf"), base + "/genesis.rtf");
    EXPECT_EQ(resolveOutputPath(base + "/My.Docs"), base + "/My.Docs");
    EXPECT_EQ(resolveOutputPath("rel/./out"), "rel/./out");
    EXPECT_EQ(resolveOutputPath("/no/such/place/genesis"), inFolder("/no/such/place/genesis", "stepbook.rtf"));
    EXPECT_EQ(resolveOutputPath("relative-name"), inFolder("relative-name", "stepbook.rtf"));
    if (dotFree) {
        EXPECT_EQ(resolveOutputPath(base + "/Out"), inFolder(base + "/Out", "stepbook.rtf"));
        const std::string endsInSeparator = base + "/Out" + platform::kPathSeparator;
        EXPECT_EQ(resolveOutputPath(endsInSeparator), endsInSeparator + "stepbook.rtf");
        EXPECT_EQ(resolveOutputPath(base + "/existing"), base + "/existing");
    }
}

using RunConversionExitTest = testing::BookAndOutputTest;

TEST_F(RunConversionExitTest, BookDatThatIsAFolderCannotBeOpened) {
    std::filesystem::remove(book_.path() / "Book.dat");
    std::filesystem::create_directory(book_.path() / "Book.dat");
    EXPECT_EQ(convertTo(out_.file("a.rtf")).message, "Could not open file: " + book_.file("Book.dat") + kAdvice);
}

TEST_F(RunConversionExitTest, UnwritableOutputNamesTheResolvedPath) {
    std::filesystem::create_directory(out_.path() / "folder.with.dot");
    const std::string missingFolder = out_.file("nowhere") + "/genesis";
    EXPECT_EQ(convertTo(missingFolder).message,
              "Could not open file for writing: " + inFolder(missingFolder, "stepbook.rtf"));
    EXPECT_EQ(convertTo(out_.file("folder.with.dot")).message,
              "Could not open file for writing: " + out_.file("folder.with.dot"));
    EXPECT_FALSE(std::filesystem::exists(out_.file("nowhere")));
}

TEST_F(RunConversionExitTest, OpenFailuresAreReportedInOrder) {
    // With everything wrong, Book.dat is reported first, then the output.
    std::filesystem::remove(book_.path() / "Viewable.idx");
    const std::string badOutput = out_.file("no/such/dir/x.rtf");
    EXPECT_EQ(convertTo(badOutput).message, "Could not open file for writing: " + badOutput);
    std::filesystem::remove(book_.path() / "Book.dat");
    EXPECT_EQ(convertTo(badOutput).message, "Could not open file: " + book_.file("Book.dat") + kAdvice);
}

TEST_F(RunConversionExitTest, TheBooksOwnFilesAreRefusedAsTheOutputUnderAnyName) {
    std::filesystem::create_hard_link(book_.path() / "Book.dat", out_.path() / "book.rtf");
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

TEST(RunConversionDamageTest, DamagedBooksAreRefusedWithAMessageNamingTheFile) {
    struct Case {
        const char* name;
        void (*damage)(StepBookLayout&);
        const char* file;
    };
    const Case cases[] = {
        {"book header below 16", [](StepBookLayout& l) { l.bookHeaderLength = 12; }, "Book.dat"},
        {"index header below 16", [](StepBookLayout& l) { l.indexHeaderLength = 0; }, "Viewable.idx"},
        {"negative prefix length", [](StepBookLayout& l) { l.prefixedLength = -5; }, "Book.dat"},
        {"prefix past the end", [](StepBookLayout& l) { l.prefixedLength = 1 << 30; }, "Book.dat"},
        {"counts beyond the entries", [](StepBookLayout& l) { l.blockCount = 1000; }, "Viewable.idx"},
        {"index cut inside an entry", [](StepBookLayout& l) { l.viewableIdxCut = 32 + 12 + 5; }, "Viewable.idx"},
        {"negative offset", [](StepBookLayout& l) { l.blocks[1].dataOffset = -1; }, "Viewable.idx"},
        {"offset past the end", [](StepBookLayout& l) { l.blocks[1].dataOffset = 1 << 20; }, "Viewable.idx"},
        {"huge stored size", [](StepBookLayout& l) { l.blocks[1].storedSize = INT32_MAX; }, "Viewable.idx"},
        {"empty index", [](StepBookLayout& l) { l.viewableIdxCut = 0; }, "Viewable.idx"},
        {"empty book", [](StepBookLayout& l) { l.bookDatCut = 0; }, "Book.dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StepBookLayout layout = bookwriter::layoutOf({"first", "second", "third"}, 1);
        c.damage(layout);
        TempDir dir;
        ASSERT_TRUE(bookwriter::writeStepBook(dir.str(), layout));
        writeFile(dir.file("out.rtf"), "precious");
        const ConversionResult result = runConversion({dir.str(), dir.file("out.rtf"), true, true});
        EXPECT_FALSE(result.succeeded);
        EXPECT_EQ(result.message.rfind("The Step book file " + dir.file(c.file) + " is damaged: ", 0), 0u)
            << result.message;
        EXPECT_EQ(result.message.find('\n'), std::string::npos) << result.message;
        EXPECT_EQ(readFile(dir.file("out.rtf")), "precious");
    }
}

}  // namespace
}  // namespace quillon
