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

std::vector<std::string> folderListing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Entry 0 opens the document, entry 1 is a body block, entry 2 trails.
StepBookLayout soundLayout() { return bookwriter::layoutOf({"{\\rtf1 first", "second\\v1 x\\v0 ", "third}"}, 1); }

// Where the first stored block starts in soundLayout(), and the Book.dat size.
constexpr std::int32_t kFirstBlockOffset = 16 + 4;
std::int32_t soundBookSize() {
    return static_cast<std::int32_t>(bookwriter::buildStepBook(soundLayout()).bookDat.size());
}

// Offsets into Viewable.idx of soundLayout().
constexpr std::size_t kIndexHeaderOffset = 16, kFirstEntryOffset = 32;

enum class Refusal { damagedBook, damagedIndex, cannotOpenBook, cannotOpenIndex };

struct HostileCase {
    const char* name;
    std::function<void(StepBookLayout&)> damage;
    Refusal refusal;
    std::function<void(const fs::path& book)> arrange = nullptr;  // changes to the written folder
};

std::string expectedMessageStart(Refusal refusal, const TempDir& book) {
    const std::string advice = ".\n\nDid you select the folder containing your Step Book? Step books consist of "
                               "multiple files in the same folder.\n";
    switch (refusal) {
    case Refusal::damagedBook: return "The Step book file " + book.file("Book.dat") + " is damaged: ";
    case Refusal::damagedIndex: return "The Step book file " + book.file("Viewable.idx") + " is damaged: ";
    case Refusal::cannotOpenBook: return "Could not open file: " + book.file("Book.dat") + advice;
    case Refusal::cannotOpenIndex: return "Could not open file: " + book.file("Viewable.idx") + advice;
    }
    return {};
}

void replaceWith(const fs::path& file, const std::function<void(const fs::path&)>& make) {
    fs::remove(file);
    make(file);
}

void makeFifo(const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); }
void makeFolder(const fs::path& file) { ASSERT_TRUE(fs::create_directory(file)); }

std::vector<HostileCase> hostileCases() {
    using L = StepBookLayout&;
    const std::int32_t bookSize = soundBookSize();
    return {
        // Header records.
        {"book header length 0", [](L l) { l.bookHeaderLength = 0; }, Refusal::damagedBook},
        {"book header length 15", [](L l) { l.bookHeaderLength = 15; }, Refusal::damagedBook},
        {"book header length -1", [](L l) { l.bookHeaderLength = -1; }, Refusal::damagedBook},
        {"book header length -32768", [](L l) { l.bookHeaderLength = INT16_MIN; }, Refusal::damagedBook},
        {"book header longer than the file", [](L l) { l.bookHeaderLength = INT16_MAX; l.bookDatCut = 100; },
         Refusal::damagedBook},
        {"index file header length 12", [](L l) { l.indexFileHeaderLength = 12; }, Refusal::damagedIndex},
        {"index file header length -32768", [](L l) { l.indexFileHeaderLength = INT16_MIN; },
         Refusal::damagedIndex},
        {"index header length 0", [](L l) { l.indexHeaderLength = 0; }, Refusal::damagedIndex},
        {"index header length -2", [](L l) { l.indexHeaderLength = -2; }, Refusal::damagedIndex},
        {"index header longer than the file", [](L l) { l.indexHeaderLength = 5000; l.viewableIdxCut = 600; },
         Refusal::damagedIndex},
        // Book.dat's length-prefixed block.
        {"negative L", [](L l) { l.prefixedLength = -5; }, Refusal::damagedBook},
        {"L of -2^31", [](L l) { l.prefixedLength = INT32_MIN; }, Refusal::damagedBook},
        {"L of 2^31-1", [](L l) { l.prefixedLength = INT32_MAX; }, Refusal::damagedBook},
        {"L past the end", [](L l) { l.prefixedLength = 1 << 30; }, Refusal::damagedBook},
        // Files that end early.
        {"empty Book.dat", [](L l) { l.bookDatCut = 0; }, Refusal::damagedBook},
        {"Book.dat cut inside its header", [](L l) { l.bookDatCut = 9; }, Refusal::damagedBook},
        {"Book.dat cut inside L", [](L l) { l.bookDatCut = 18; }, Refusal::damagedBook},
        {"Book.dat cut inside the prefixed block", [](L l) { l.prefixedContent = "abcdef"; l.bookDatCut = 22; },
         Refusal::damagedBook},
        {"empty Viewable.idx", [](L l) { l.viewableIdxCut = 0; }, Refusal::damagedIndex},
        {"index cut inside its file header", [](L l) { l.viewableIdxCut = 7; }, Refusal::damagedIndex},
        {"index cut inside its index header", [](L l) { l.viewableIdxCut = kIndexHeaderOffset + 9; },
         Refusal::damagedIndex},
        {"index cut inside an entry", [](L l) { l.viewableIdxCut = kFirstEntryOffset + 12 + 5; },
         Refusal::damagedIndex},
        {"index cut after the first entry", [](L l) { l.viewableIdxCut = kFirstEntryOffset + 12; },
         Refusal::damagedIndex},
        // Counts.
        {"block count beyond the entries", [](L l) { l.blockCount = 1000; }, Refusal::damagedIndex},
        {"block count 2^31-1", [](L l) { l.blockCount = INT32_MAX; }, Refusal::damagedIndex},
        {"trailing count 2^31-1", [](L l) { l.trailingBlockCount = INT32_MAX; }, Refusal::damagedIndex},
        {"trailing count -2^31", [](L l) { l.trailingBlockCount = INT32_MIN; }, Refusal::damagedIndex},
        {"both counts at their extremes", [](L l) { l.blockCount = INT32_MIN; l.trailingBlockCount = INT32_MAX; },
         Refusal::damagedIndex},
        // Entries.
        {"offset -1", [](L l) { l.blocks[1].dataOffset = -1; }, Refusal::damagedIndex},
        {"offset -2^31", [](L l) { l.blocks[1].dataOffset = INT32_MIN; }, Refusal::damagedIndex},
        {"offset at the end of Book.dat", [bookSize](L l) { l.blocks[1].dataOffset = bookSize; },
         Refusal::damagedIndex},
        {"offset past the end", [](L l) { l.blocks[2].dataOffset = 1 << 20; }, Refusal::damagedIndex},
        {"offset 2^31-1", [](L l) { l.blocks[0].dataOffset = INT32_MAX; }, Refusal::damagedIndex},
        {"stored size -1", [](L l) { l.blocks[1].storedSize = -1; }, Refusal::damagedIndex},
        {"stored size -2^31", [](L l) { l.blocks[1].storedSize = INT32_MIN; }, Refusal::damagedIndex},
        {"stored size 2^31-1", [](L l) { l.blocks[1].storedSize = INT32_MAX; }, Refusal::damagedIndex},
        {"stored size beyond the whole file", [bookSize](L l) { l.blocks[2].storedSize = bookSize + 1; },
         Refusal::damagedIndex},
        // Something other than a file where a file should be.
        {"Book.dat is a folder", [](L) {}, Refusal::cannotOpenBook,
         [](const fs::path& book) { replaceWith(book / "Book.dat", makeFolder); }},
        {"Viewable.idx is a folder", [](L) {}, Refusal::cannotOpenIndex,
         [](const fs::path& book) { replaceWith(book / "Viewable.idx", makeFolder); }},
        {"Book.dat is a FIFO", [](L) {}, Refusal::cannotOpenBook,
         [](const fs::path& book) { replaceWith(book / "Book.dat", makeFifo); }},
        {"Viewable.idx is a FIFO", [](L) {}, Refusal::cannotOpenIndex,
         [](const fs::path& book) { replaceWith(book / "Viewable.idx", makeFifo); }},
        {"Book.dat is missing", [](L) {}, Refusal::cannotOpenBook,
         [](const fs::path& book) { fs::remove(book / "Book.dat"); }},
        {"Viewable.idx is missing", [](L) {}, Refusal::cannotOpenIndex,
         [](const fs::path& book) { fs::remove(book / "Viewable.idx"); }},
    };
}

void expectBounded(const ChildOutcome& outcome) {
    EXPECT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal << " (SIGALRM: over " << kSecondsLimit
                                 << " s); stderr: " << outcome.err;
    EXPECT_LT(outcome.peakMemoryKb, kPeakMemoryLimitKb);
}

TEST(HostileBooksTest, DamagedBooksAreRefusedAndLoseNothing) {
    for (const HostileCase& c : hostileCases()) {
        SCOPED_TRACE(c.name);
        TempDir book, out;
        StepBookLayout layout = soundLayout();
        c.damage(layout);
        ASSERT_TRUE(bookwriter::writeStepBook(book.str(), layout));
        if (c.arrange) c.arrange(book.path());
        const std::string messageStart = expectedMessageStart(c.refusal, book);
        const bool damaged = c.refusal == Refusal::damagedBook || c.refusal == Refusal::damagedIndex;

        writeFile(out.file("kept.rtf"), "precious");
        for (const std::string& target : {out.file("kept.rtf"), out.file("new.rtf"), out.str()}) {
            SCOPED_TRACE(target);
            const ChildOutcome outcome = runLimited({book.str(), target});
            expectBounded(outcome);
            EXPECT_EQ(outcome.exitCode, 1);
            EXPECT_EQ(outcome.out, "");
            if (damaged) {
                EXPECT_EQ(outcome.err.rfind(messageStart, 0), 0u) << outcome.err;
                EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
            } else {
                EXPECT_EQ(outcome.err, messageStart);
            }
            EXPECT_EQ(readFile(out.file("kept.rtf")), "precious");
            EXPECT_EQ(folderListing(out.path()), std::vector<std::string>{"kept.rtf"});
        }
    }
}

struct ReadableCase {
    const char* name;
    std::function<void(StepBookLayout&)> oddity;
    std::string expectedOutput;
};

TEST(HostileBooksTest, OddButReadableBooksConvertCheaply) {
    using L = StepBookLayout&;
    const std::string opening = "{\\rtf1 first\r\nsecondx\r\n\xF7";
    const std::string sound = opening + "third}\r\n";
    const std::int32_t bookSize = soundBookSize();
    const std::string third = bookwriter::compressLzss("third}");
    const ReadableCase cases[] = {
        {"uncompressed sizes that lie",
         [](L l) {
             l.blocks[0].uncompressedSize = INT32_MAX;
             l.blocks[1].uncompressedSize = -1;
             l.blocks[2].uncompressedSize = INT32_MIN;
         },
         sound},
        {"odd values in every unnamed field", [](L l) { l.unnamedFieldByte = 0xFF; }, sound},
        {"header lengths at their largest",
         [](L l) { l.bookHeaderLength = l.indexFileHeaderLength = l.indexHeaderLength = INT16_MAX; }, sound},
        {"the last block runs past the end of Book.dat",
         [&third](L l) { l.blocks[2].storedSize = static_cast<std::int32_t>(third.size()) + 3; },
         opening + "third}"},
        {"a stored size of the whole file from the first block",
         [bookSize](L l) { l.blocks[2].dataOffset = kFirstBlockOffset; l.blocks[2].storedSize = bookSize; },
         opening + "{\\rtf1 first"},
        {"empty blocks pointing at and past the end of Book.dat",
         [](L l) {
             l.blocks[1].dataOffset = INT32_MAX;
             l.blocks[1].storedSize = 0;
             l.blocks[2].text = "";  // stored last: it points at the end of the file
         },
         "{\\rtf1 first\r\n\r\n\xF7\r\n"},
    };
    for (const ReadableCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir book, out;
        StepBookLayout layout = soundLayout();
        c.oddity(layout);
        ASSERT_TRUE(bookwriter::writeStepBook(book.str(), layout));
        const ChildOutcome outcome = runLimited({book.str(), out.file("book.rtf")});
        expectBounded(outcome);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out + outcome.err, "");
        EXPECT_EQ(readFile(out.file("book.rtf")).rfind(c.expectedOutput, 0), 0u) << readFile(out.file("book.rtf"));
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
    // 1 MB stored of LZSS at its largest expansion: 8.5 MB of text. From just
    // above what starting takes, to well below what the text would take.
    const std::size_t storedSize = std::size_t{1} << 20;
    StepBookLayout layout = bookwriter::layoutOf({"bomb"}, 0);
    layout.blocks[0].storedBytes = bookwriter::maximumExpansionLzss(storedSize);
    TempDir book, out;
    ASSERT_TRUE(bookwriter::writeStepBook(book.str(), layout));
    const std::string converted = std::string(bookwriter::maximumExpansionTextSize(storedSize), ' ') + "\r\n";
    const rlim_t start = startingAddressSpace() + (rlim_t{64} << 10);  // a step above, to stay clear of it
    ChildOutcome outcome;
    for (rlim_t limit = start; limit <= start + (rlim_t{4} << 20); limit += rlim_t{128} << 10) {
        SCOPED_TRACE(::testing::Message() << "address space " << limit / 1024 << " KB");
        writeFile(out.file("kept.rtf"), "precious");
        ChildLimits limits;
        limits.seconds = kSecondsLimit;
        limits.addressSpace = limit;
        outcome = runCli({book.str(), out.file("kept.rtf")}, limits);
        ASSERT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal << "; stderr: " << outcome.err;
        if (outcome.exitCode != 0) {
            ASSERT_EQ(outcome.exitCode, 1);
            EXPECT_EQ(outcome.err.rfind("Not enough memory", 0), 0u) << outcome.err;
            EXPECT_EQ(readFile(out.file("kept.rtf")), "precious");
        } else {
            EXPECT_EQ(readFile(out.file("kept.rtf")), converted);
        }
        ASSERT_EQ(folderListing(out.path()), std::vector<std::string>{"kept.rtf"});
    }
    EXPECT_EQ(outcome.exitCode, 0) << "memory grows with the text: " << outcome.err;
}

}  // namespace
}  // namespace quillon
