// SPDX-License-Identifier: GPL-2.0-or-later
// Damaged and hostile books, run through the real quillon-cli in a child
// process with a time limit and a memory limit: every shape must end in a
// clear one-line refusal, exit status 1, and nothing lost or left behind at
// the output path. Odd books that are still readable must convert, as
// cheaply.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_child.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using bookwriter::StepBookLayout;
using testing::ChildLimits;
using testing::ChildOutcome;
using testing::readFile;
using testing::runCli;
using testing::TempDir;
using testing::writeFile;

// Under AddressSanitizer the address space is reserved by the terabyte, so
// only the peak resident memory can bound the child there.
constexpr bool kUnderSanitizers = QUILLON_UNDER_SANITIZERS;
constexpr rlim_t kAddressSpaceLimit = rlim_t{512} << 20;
constexpr long kPeakMemoryLimitKb = kUnderSanitizers ? 160 * 1024 : 48 * 1024;
constexpr unsigned kSecondsLimit = 20;

// The limits every run of a damaged book must keep.
ChildOutcome runLimited(const std::vector<std::string>& args) {
    ChildLimits limits;
    limits.seconds = kSecondsLimit;
    if (!kUnderSanitizers) limits.addressSpace = kAddressSpaceLimit;
    return runCli(args, limits);
}

// Entry 0 opens the document, entry 1 is a body block, entry 2 trails.
StepBookLayout soundLayout() { return bookwriter::layoutOf({"{\\rtf1 first", "second\\v1 x\\v0 ", "third}"}, 1); }

// Where the first stored block starts in soundLayout(), and the Book.dat size.
constexpr std::int32_t kFirstBlockOffset = 16 + 4;
std::int32_t soundBookSize() {
    return static_cast<std::int32_t>(bookwriter::buildStepBook(soundLayout()).bookDat.size());
}

// How a book must end: refused as damaged (Book.dat or Viewable.idx), refused
// as one that cannot be opened, or converted.
enum class Outcome { damagedBook, damagedIndex, cannotOpenBook, cannotOpenIndex, converted };

// Changes to a written book folder.
using Arrangement = std::function<void(const fs::path& book)>;

struct HostileCase {
    const char* name;
    std::function<void(StepBookLayout&)> change;
    Outcome outcome;
    // A damaged book: what its message says is wrong, where that is checked.
    // A converted one: how its output begins.
    std::string detail = {};
    Arrangement arrange = nullptr;
};

void replaceWith(const fs::path& file, const std::function<void(const fs::path&)>& make) {
    fs::remove(file);
    make(file);
}

void makeFifo(const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); }
void makeFolder(const fs::path& file) { ASSERT_TRUE(fs::create_directory(file)); }

std::vector<HostileCase> hostileCases() {
    using L = StepBookLayout&;
    const std::int32_t bookSize = soundBookSize();
    const Outcome book = Outcome::damagedBook, index = Outcome::damagedIndex, converted = Outcome::converted;
    const std::string opening = "{\\rtf1 first\r\nsecondx\r\n\xF7";
    const std::string sound = opening + "third}\r\n";
    const auto thirdStoredSize = static_cast<std::int32_t>(bookwriter::compressLzss("third}").size());
    return {
        // Header records and Book.dat's length-prefixed block.
        {"book header length 15", [](L l) { l.bookHeaderLength = 15; }, book},
        {"index header length -2", [](L l) { l.indexHeaderLength = -2; }, index},
        {"book header longer than the file", [](L l) { l.bookHeaderLength = INT16_MAX; l.bookDatCut = 100; }, book},
        {"negative L", [](L l) { l.prefixedLength = -5; }, book},
        {"L past the end", [](L l) { l.prefixedLength = 1 << 30; }, book},
        // Files that end early: the index is measured before any block is read.
        {"empty Book.dat", [](L l) { l.bookDatCut = 0; }, book},
        {"Book.dat cut inside the prefixed block", [](L l) { l.prefixedContent = "abcdef"; l.bookDatCut = 22; }, book,
         "it ends inside its length-prefixed block"},
        {"index cut inside its index header", [](L l) { l.viewableIdxCut = 16 + 9; }, index,
         "it ends inside its index header"},
        {"index cut inside an entry", [](L l) { l.viewableIdxCut = 32 + 12 + 5; }, index,
         "it lists 1 entries where its header calls for 3"},
        // Counts.
        {"block count beyond the entries", [](L l) { l.blockCount = 1000; }, index,
         "it lists 3 entries where its header calls for 1000"},
        {"long headers and a count one beyond the entries",
         [](L l) { l.indexFileHeaderLength = 300; l.blockCount = 4; }, index,
         "it lists 3 entries where its header calls for 4"},
        {"block count beyond 16 bits", [](L l) { l.blockCount = 0x10003; }, index},
        {"trailing count 2^31-1", [](L l) { l.trailingBlockCount = INT32_MAX; }, index},
        {"trailing count -2^31", [](L l) { l.trailingBlockCount = INT32_MIN; }, index},
        // Entries.
        {"offset -1", [](L l) { l.blocks[1].dataOffset = -1; }, index, "entry 1 points outside Book.dat"},
        {"offset at the end of Book.dat", [bookSize](L l) { l.blocks[1].dataOffset = bookSize; }, index},
        {"offset past the end", [](L l) { l.blocks[2].dataOffset = 1 << 20; }, index},
        {"stored size -1", [](L l) { l.blocks[1].storedSize = -1; }, index},
        {"stored size beyond the whole file", [bookSize](L l) { l.blocks[2].storedSize = bookSize + 1; }, index},
        // Something other than a file where a file should be.
        {"Book.dat is a folder", [](L) {}, Outcome::cannotOpenBook, {},
         [](const fs::path& folder) { replaceWith(folder / "Book.dat", makeFolder); }},
        {"Book.dat is a FIFO", [](L) {}, Outcome::cannotOpenBook, {},
         [](const fs::path& folder) { replaceWith(folder / "Book.dat", makeFifo); }},
        {"Viewable.idx is a FIFO", [](L) {}, Outcome::cannotOpenIndex, {},
         [](const fs::path& folder) { replaceWith(folder / "Viewable.idx", makeFifo); }},
        {"Viewable.idx is missing", [](L) {}, Outcome::cannotOpenIndex, {},
         [](const fs::path& folder) { fs::remove(folder / "Viewable.idx"); }},
        // Odd books that can still be read.
        {"uncompressed sizes that lie",
         [](L l) {
             l.blocks[0].uncompressedSize = INT32_MAX;
             l.blocks[1].uncompressedSize = -1;
             l.blocks[2].uncompressedSize = INT32_MIN;
         },
         converted, sound},
        {"odd values in every unnamed field and in the bytes nobody reads",
         [](L l) {
             l.unnamedFieldByte = 0xFF;
             l.prefixedContent = std::string(1000, '\x7F');
             l.gapBeforeBlocks = "{\\pict junk between the blocks}";
             l.bytesAfterEntries = std::string(12, '\xFF');
         },
         converted, sound},
        {"header lengths at their largest",
         [](L l) { l.bookHeaderLength = l.indexFileHeaderLength = l.indexHeaderLength = INT16_MAX; }, converted, sound},
        // The three bytes past the end are zeros: a reference to three of the
        // decoder's initial spaces.
        {"the last block runs past the end of Book.dat", [=](L l) { l.blocks[2].storedSize = thirdStoredSize + 3; },
         converted, opening + "third}   \r\n"},
        {"a stored size of the whole file from the first block",
         [bookSize](L l) { l.blocks[2].dataOffset = kFirstBlockOffset; l.blocks[2].storedSize = bookSize; }, converted,
         opening + "{\\rtf1 first"},
        {"empty blocks pointing at and past the end of Book.dat",
         [](L l) {
             l.blocks[1].dataOffset = INT32_MAX;
             l.blocks[1].storedSize = 0;
             l.blocks[2].text = "";  // stored last: it points at the end of the file
         },
         converted, "{\\rtf1 first\r\n\r\n\xF7\r\n"},
        {"book files that are symbolic links", [](L) {}, converted, sound,
         [](const fs::path& folder) {
             fs::create_directory(folder / "real");
             for (const char* name : {"Book.dat", "Viewable.idx"}) {
                 fs::rename(folder / name, folder / "real" / name);
                 fs::create_symlink(fs::path("real") / name, folder / name);
             }
         }},
    };
}

TEST(HostileBooksTest, EveryShapeIsRefusedInOneLineLosingNothingOrConvertedCheaply) {
    const std::string advice = ".\n\nDid you select the folder containing your Step Book? Step books consist of "
                               "multiple files in the same folder.\n";
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        TempDir book, out;
        StepBookLayout layout = soundLayout();
        c.change(layout);
        ASSERT_TRUE(bookwriter::writeStepBook(book.str(), layout));
        if (c.arrange) c.arrange(book.path());
        writeFile(out.file("kept.rtf"), "precious");

        const ChildOutcome outcome = runLimited({book.str(), out.file("kept.rtf")});
        EXPECT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal << " (SIGALRM: over " << kSecondsLimit
                                     << " s); stderr: " << outcome.err;
        EXPECT_LT(outcome.peakMemoryKb, kPeakMemoryLimitKb);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(testing::folderNames(out.path()), std::vector<std::string>{"kept.rtf"});
        const std::string written = readFile(out.file("kept.rtf"));
        if (c.outcome == Outcome::converted) {
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
            EXPECT_EQ(written.rfind(c.detail, 0), 0u) << written;
            continue;
        }
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(written, "precious");
        const bool aboutBookDat = c.outcome == Outcome::damagedBook || c.outcome == Outcome::cannotOpenBook;
        const std::string file = book.file(aboutBookDat ? "Book.dat" : "Viewable.idx");
        if (c.outcome == Outcome::cannotOpenBook || c.outcome == Outcome::cannotOpenIndex) {
            EXPECT_EQ(outcome.err, "Could not open file: " + file + advice);
        } else if (!c.detail.empty()) {
            EXPECT_EQ(outcome.err, "The Step book file " + file + " is damaged: " + c.detail + ".\n");
        } else {
            EXPECT_EQ(outcome.err.rfind("The Step book file " + file + " is damaged: ", 0), 0u) << outcome.err;
            EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
        }
    }
}

// The lowest address-space limit under which quillon-cli starts at all, to
// 64 KB: the shared libraries alone take most of it.
rlim_t startingAddressSpace() {
    rlim_t low = 0, high = rlim_t{1} << 30;
    while (high - low > (rlim_t{64} << 10)) {
        ChildLimits limits;
        limits.seconds = kSecondsLimit;
        limits.addressSpace = low + (high - low) / 2;
        (runCli({"--version"}, limits).exitCode == 0 ? high : low) = limits.addressSpace;
    }
    return high;
}

TEST(HostileBooksTest, UnderAddressSpaceLimitsABombConvertsOrIsRefusedNeverKilled) {
    if (kUnderSanitizers) GTEST_SKIP() << "the sanitizers reserve more address space than any limit here";
    // 1 MB stored of LZSS at its largest expansion: 8.5 MB of text. From what
    // starting takes, in steps finer than the stretch in which the program
    // starts but the run runs out of memory, to well below what the text
    // would take.
    const std::size_t storedSize = std::size_t{1} << 20;
    StepBookLayout layout = bookwriter::layoutOf({"bomb"}, 0);
    layout.blocks[0].storedBytes = bookwriter::maximumExpansionLzss(storedSize);
    TempDir book, out;
    ASSERT_TRUE(bookwriter::writeStepBook(book.str(), layout));
    const std::string converted = std::string(bookwriter::maximumExpansionTextSize(storedSize), ' ') + "\r\n";
    const std::string runOutOfMemory = "Not enough memory to convert the Step book in " + book.str() + ".\n";
    const rlim_t start = startingAddressSpace();
    bool runReportedIt = false;
    ChildOutcome outcome;
    for (rlim_t limit = start; limit <= start + (rlim_t{4} << 20); limit += rlim_t{32} << 10) {
        SCOPED_TRACE(::testing::Message() << "address space " << limit / 1024 << " KB");
        writeFile(out.file("kept.rtf"), "precious");
        ChildLimits limits;
        limits.seconds = kSecondsLimit;
        limits.addressSpace = limit;
        outcome = runCli({book.str(), out.file("kept.rtf")}, limits);
        ASSERT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal << "; stderr: " << outcome.err;
        if (outcome.exitCode != 0) {
            ASSERT_EQ(outcome.exitCode, 1);
            // Short of memory even before the run, the program says so itself.
            runReportedIt = runReportedIt || outcome.err == runOutOfMemory;
            EXPECT_TRUE(outcome.err == runOutOfMemory || outcome.err == "Not enough memory to run quillon-cli.\n")
                << outcome.err;
            EXPECT_EQ(readFile(out.file("kept.rtf")), "precious");
        } else {
            EXPECT_EQ(readFile(out.file("kept.rtf")), converted);
        }
        ASSERT_EQ(testing::folderNames(out.path()), std::vector<std::string>{"kept.rtf"});
    }
    EXPECT_TRUE(runReportedIt) << "no limit made the run itself run out of memory";
    EXPECT_EQ(outcome.exitCode, 0) << "memory grows with the text: " << outcome.err;
}

}  // namespace
}  // namespace quillon
