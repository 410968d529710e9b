// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-bench: measures the conversion on books made with the book writer
// and prints each figure beside its target. Exit status 1 when a target is
// missed.
//
// A book's index may point many entries at the same stored bytes, so a large
// book needs only a few distinct compressed blocks: they are compressed once
// and referenced over and over. Timings are taken in interleaved rounds, so
// that every figure sees the same machine; each is the median of its rounds,
// with the range of the rounds beside it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <lzsscomprs.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/block_extraction.h"
#include "engine/conversion.h"
#include "tools/bookwriter/scratch_folder.h"
#include "tools/bookwriter/step_book_writer.h"

namespace {

namespace fs = std::filesystem;
using quillon::bookwriter::BlockLayout;
using quillon::bookwriter::compressLzss;
using quillon::bookwriter::ScratchFolder;
using quillon::bookwriter::StepBookLayout;

constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr int kRounds = 5;

const char* const kWords[] = {
    "the",    "LORD",  "and",       "of",     "unto",    "in",      "that",    "he",        "shall",
    "his",    "they",  "for",       "is",     "him",     "not",     "them",    "with",      "all",
    "it",     "thou",  "thy",       "was",    "which",   "my",      "me",      "said",      "but",
    "ye",     "their", "have",      "will",   "be",      "as",      "are",     "upon",      "from",
    "Israel", "God",   "king",      "house",  "children", "people", "earth",   "heaven",    "mercy",
    "praise", "water", "mountains", "shepherd", "righteousness", "salvation", "Jerusalem", "covenant"};

// Scripture-like RTF: verses with bold numbers, hidden references, paragraphs.
std::string rtfText(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pickWord(0, std::size(kWords) - 1);
    std::uniform_int_distribution<int> verseLength(8, 40);
    std::string text;
    text.reserve(size + 256);
    for (int verse = 1; text.size() < size; ++verse) {
        text += "{\\b " + std::to_string(verse) + "}\\v1 <Ps " + std::to_string(seed % 150 + 1) + ":" +
                std::to_string(verse) + ">\\v0  ";
        for (int k = verseLength(random); k > 0; --k) {
            text += kWords[pickWord(random)];
            text += k == 1 ? ".\\par\n" : " ";
        }
    }
    text.resize(size);
    return text;
}

// One short passage over and over: LZSS stores it at close to its largest
// expansion.
std::string compressibleText(std::size_t size, unsigned seed) {
    const std::string passage = rtfText(1500, seed);
    std::string text;
    text.reserve(size + passage.size());
    while (text.size() < size) text += passage;
    text.resize(size);
    return text;
}

// Hidden-text tags every few bytes: the worst case for stripping.
std::string tagDenseText(std::size_t size) {
    std::string text;
    text.reserve(size + 64);
    for (int k = 0; text.size() < size; ++k) text += "\\v1 " + std::to_string(k % 1000) + "\\v0 word ";
    text.resize(size);
    return text;
}

struct StoredBlock {
    std::string stored;
    std::int32_t textSize;
};

StoredBlock storedBlock(const std::string& text) {
    return {compressLzss(text), static_cast<std::int32_t>(text.size())};
}

// A book whose Book.dat holds each distinct block once (in the gap before the
// blocks) and whose index entries refer to them in the order given.
struct SharedBook {
    StepBookLayout layout;
    std::vector<const StoredBlock*> entries;
    double textBytes = 0;
};

SharedBook sharedBook(const std::vector<StoredBlock>& distinct, const std::vector<std::size_t>& order) {
    SharedBook book;
    std::vector<std::int32_t> offsets;
    std::int32_t offset = 16 + 4;  // after the file header and L of an empty length-prefixed block
    for (const StoredBlock& block : distinct) {
        offsets.push_back(offset);
        book.layout.gapBeforeBlocks += block.stored;
        offset += static_cast<std::int32_t>(block.stored.size());
    }
    for (std::size_t index : order) {
        const StoredBlock& block = distinct[index];
        book.layout.blocks.push_back(BlockLayout{"", std::string(), offsets[index], block.textSize,
                                               static_cast<std::int32_t>(block.stored.size())});
        book.entries.push_back(&block);
        book.textBytes += block.textSize;
    }
    book.layout.trailingBlockCount = 1;
    return book;
}

// An opening block, `cycles` times every distinct block in turn, a closing block.
struct CycledBook {
    std::vector<StoredBlock> distinct;
    SharedBook book;
};

void cycleBook(CycledBook& cycled, int cycles) {
    std::vector<std::size_t> order = {0};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (std::size_t k = 2; k < cycled.distinct.size(); ++k) order.push_back(k);
    }
    order.push_back(1);
    cycled.book = sharedBook(cycled.distinct, order);
}

// Blocks from 4 KB to 1 MB, four distinct ones of each size.
CycledBook benchBook(int cycles) {
    CycledBook cycled;
    cycled.distinct = {storedBlock("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"), storedBlock("}")};
    unsigned seed = 1;
    for (std::size_t size : {4u << 10, 16u << 10, 64u << 10, 256u << 10, 1u << 20}) {
        for (int k = 0; k < 4; ++k) cycled.distinct.push_back(storedBlock(rtfText(size, seed++)));
    }
    cycleBook(cycled, cycles);
    return cycled;
}

// Four distinct blocks of 4 MB, each one passage repeated.
CycledBook compressibleBook(int cycles) {
    CycledBook cycled;
    cycled.distinct = {storedBlock("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"), storedBlock("}")};
    for (unsigned seed = 1; seed <= 4; ++seed) cycled.distinct.push_back(storedBlock(compressibleText(4u << 20, seed)));
    cycleBook(cycled, cycles);
    return cycled;
}

void writeBook(const ScratchFolder& folder, const StepBookLayout& layout) {
    if (!quillon::bookwriter::writeStepBook(folder.str(), layout)) throw std::runtime_error("cannot write a book");
}

// A book of one block: `storedSize` bytes of LZSS at its largest expansion,
// written in pieces so that the benchmark itself stays small.
void writeBombBook(const ScratchFolder& folder, std::size_t storedSize) {
    using quillon::bookwriter::kMaximumExpansionGroup;
    const std::uint64_t textSize = quillon::bookwriter::maximumExpansionTextSize(storedSize);
    StepBookLayout layout;
    layout.blocks.push_back(BlockLayout{"", std::string(), 16 + 4,
                                        static_cast<std::int32_t>(std::min<std::uint64_t>(textSize, INT32_MAX)),
                                        static_cast<std::int32_t>(storedSize)});
    layout.trailingBlockCount = 0;
    const quillon::bookwriter::StepBookFiles files = quillon::bookwriter::buildStepBook(layout);
    std::ofstream(folder.file("Viewable.idx"), std::ios::binary) << files.viewableIdx;

    std::ofstream book(folder.file("Book.dat"), std::ios::binary);
    book << files.bookDat;
    const std::string piece = quillon::bookwriter::maximumExpansionLzss(kMaximumExpansionGroup << 16);
    for (std::size_t written = 0; written < storedSize; written += piece.size()) {
        book.write(piece.data(), static_cast<std::streamsize>(std::min(piece.size(), storedSize - written)));
    }
    if (!book.flush()) throw std::runtime_error("cannot write a book");
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Timed into a fresh path: replacing a file makes the file system write the
// new one out at once, which would be timed as well. Into /dev/null, the
// time is the program's own, without the file system's.
double secondsToConvert(const ScratchFolder& folder, bool stripTags, bool intoFile = true) {
    const std::string output = intoFile ? folder.file("out.rtf") : "/dev/null";
    if (intoFile) fs::remove(output);
    return secondsOf([&] {
        const quillon::ConversionResult result = quillon::runConversion({folder.str(), output, true, stripTags});
        if (!result.succeeded) throw std::runtime_error(result.message);
    });
}

// quillon-cli run in a child process, optionally under an address-space limit.
struct ProgramRun {
    int exitCode = -1;  // -1 when it did not exit normally
    int signal = 0;
    double peakMegabytes = 0;
    std::string err;
};

ProgramRun runProgram(const std::vector<std::string>& args, rlim_t addressSpace = RLIM_INFINITY) {
    const ScratchFolder capture("quillon-bench-");
    const std::string errPath = capture.file("stderr");
    std::vector<std::string> argv = {QUILLON_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    // The child starts with the benchmark's resident memory, which counts
    // towards its peak: the benchmark holds little while it measures memory.
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{addressSpace, addressSpace};
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr) ||
            ::setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(125);
        }
        ::execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) throw std::runtime_error("cannot wait for quillon-cli");
    ProgramRun run;
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.peakMegabytes = usage.ru_maxrss / 1024.0;
    std::ifstream err(errPath);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

struct Row {
    std::string figure, value, target;
    int met;  // 1 yes, 0 no, -1 no target
};

std::string format(const char* pattern, double value) {
    char text[96];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

struct Samples {
    std::vector<double> values;

    double median() const {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    // "median (lowest-highest)" with each value passed through `scale`.
    std::string describe(const char* pattern, const std::function<double(double)>& scale) const {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        double a = scale(*low), b = scale(*high);
        if (a > b) std::swap(a, b);
        return format(pattern, scale(median())) + " (" + format(pattern, a) + "-" + format(pattern, b) + ")";
    }
};

void printTable(const std::vector<Row>& rows) {
    std::printf("%-64s %30s %16s  %s\n", "Figure", "Measured: median (range)", "Target", "Met");
    std::printf("%s\n", std::string(118, '-').c_str());
    for (const Row& row : rows) {
        std::printf("%-64s %30s %16s  %s\n", row.figure.c_str(), row.value.c_str(), row.target.c_str(),
                    row.met < 0 ? "" : row.met ? "yes" : "NO");
    }
}

// Decoding alone: the stock library into its own buffer, and the engine's decoder.
void decodeWithSword(const SharedBook& book, unsigned long& checksum) {
    sword::LZSSCompress decompressor;
    for (const StoredBlock* entry : book.entries) {
        unsigned long length = entry->stored.size();
        decompressor.setCompressedBuf(&length, const_cast<char*>(entry->stored.data()));
        unsigned long textLength = 0;
        decompressor.getUncompressedBuf(&textLength);
        checksum += textLength;
    }
}

// The engine's decoder reads the stored bytes from Book.dat as a conversion does.
void decodeWithEngine(const SharedBook& book, const ScratchFolder& folder, unsigned long& checksum) {
    struct Counter : quillon::TextSink {
        unsigned long bytes = 0;
        bool take(std::string_view piece) override {
            bytes += piece.size();
            return true;
        }
    } counter;
    const int bookFile = ::open(folder.file("Book.dat").c_str(), O_RDONLY);
    if (bookFile < 0) throw std::runtime_error("cannot open Book.dat");
    quillon::LzssDecoder decoder;
    for (const BlockLayout& entry : book.layout.blocks) {
        decoder.decodeBlock(bookFile, *entry.dataOffset, static_cast<std::uint32_t>(*entry.storedSize), counter);
    }
    ::close(bookFile);
    checksum += counter.bytes;
}

void throughputRows(const std::string& name, const SharedBook& book, bool engineTarget, std::vector<Row>& rows) {
    ScratchFolder folder("quillon-bench-");
    writeBook(folder, book.layout);
    Samples conversion, stock, engine, overStock, overEngine, discardedOverEngine;
    unsigned long checksum = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double sword = secondsOf([&] { decodeWithSword(book, checksum); });
        const double own = secondsOf([&] { decodeWithEngine(book, folder, checksum); });
        const double converted = secondsToConvert(folder, true);
        const double discarded = secondsToConvert(folder, true, false);
        stock.values.push_back(sword);
        engine.values.push_back(own);
        conversion.values.push_back(converted);
        overStock.values.push_back(sword / converted);
        overEngine.values.push_back(own / converted);
        discardedOverEngine.values.push_back(own / discarded);
    }
    fs::remove(folder.file("out.rtf"));
    if (checksum == 0) throw std::runtime_error("nothing decoded");
    const double megabytes = book.textBytes / kMegabyte;
    const auto throughput = [megabytes](double seconds) { return megabytes / seconds; };
    const auto same = [](double ratio) { return ratio; };
    const auto engineRow = [&](const std::string& figure, const Samples& ratio) {
        if (!engineTarget) return Row{figure, ratio.describe("%.2f", same), "", -1};
        return Row{figure, ratio.describe("%.2f", same), ">= 0.95", ratio.median() >= 0.95};
    };
    rows.push_back({format("Conversion, %.0f MB of RTF in ", megabytes) + name,
                    conversion.describe("%.0f", throughput) + " MB/s", "", -1});
    rows.push_back({"  Stock SWORD decoding alone (getUncompressedBuf)", stock.describe("%.0f", throughput) + " MB/s",
                    "", -1});
    rows.push_back({"  Conversion / stock decoding", overStock.describe("%.2f", same), ">= 1.00",
                    overStock.median() >= 1.0});
    rows.push_back({"  The engine's own decoding alone", engine.describe("%.0f", throughput) + " MB/s", "", -1});
    rows.push_back(engineRow("  Conversion / the engine's decoding", overEngine));
    rows.push_back(engineRow("  The same, converting into /dev/null", discardedOverEngine));
}

void strippingRows(std::vector<Row>& rows) {
    const std::vector<StoredBlock> blocks = {storedBlock("{\\rtf1 "), storedBlock(tagDenseText(8u << 20)),
                                             storedBlock("}")};
    ScratchFolder folder("quillon-bench-");
    writeBook(folder, sharedBook(blocks, {0, 1, 2}).layout);
    Samples stripped, kept, ratio;
    for (int round = 0; round < 3 * kRounds; ++round) {  // short runs: more of them
        const double on = secondsToConvert(folder, true), off = secondsToConvert(folder, false);
        stripped.values.push_back(on);
        kept.values.push_back(off);
        ratio.values.push_back(on / off);
    }
    const auto milliseconds = [](double seconds) { return 1000 * seconds; };
    rows.push_back({"Strip on, 8 MB block dense with \\v1 /\\v0 tags", stripped.describe("%.1f", milliseconds) + " ms",
                    "", -1});
    rows.push_back({"Strip off, the same block", kept.describe("%.1f", milliseconds) + " ms", "", -1});
    rows.push_back({"  Strip on / strip off", ratio.describe("%.2f", [](double r) { return r; }), "<= 1.15",
                    ratio.median() <= 1.15});
}

// Peak resident memory of quillon-cli for books whose text is far larger
// than any buffer should be, above what it takes to print its version.
void memoryRows(std::vector<Row>& rows) {
    const ProgramRun version = runProgram({"--version"});
    if (version.exitCode != 0) throw std::runtime_error("quillon-cli --version failed");
    rows.push_back({"Peak RSS of quillon-cli --version", format("%.1f MB", version.peakMegabytes), "", -1});

    auto measure = [&](const std::string& figure, const ScratchFolder& folder, const std::string& output) {
        const ProgramRun run = runProgram({folder.str(), output});
        if (run.exitCode != 0) throw std::runtime_error("quillon-cli failed on " + figure + ": " + run.err);
        const double above = run.peakMegabytes - version.peakMegabytes;
        rows.push_back({"  " + figure, format("%+.1f MB", above), "< +8 MB", above < 8});
    };
    for (int cycles : {12, 48}) {
        ScratchFolder folder("quillon-bench-");
        double megabytes = 0;
        {
            const CycledBook cycled = benchBook(cycles);
            writeBook(folder, cycled.book.layout);
            megabytes = cycled.book.textBytes / kMegabyte;
        }
        measure(format("%.0f MB of RTF, blocks of 4 KB-1 MB", megabytes), folder, folder.file("out.rtf"));
    }
    for (std::size_t storedMegabytes : {64, 256}) {
        ScratchFolder folder("quillon-bench-");
        writeBombBook(folder, storedMegabytes << 20);
        measure(format("%.0f MB Book.dat of LZSS at its largest expansion", storedMegabytes) + ", to /dev/null",
                folder, "/dev/null");
    }
}

// The 64 MB bomb under address-space limits from 64 MB to 1 GB: each run
// converts or refuses with the message, is never killed by a signal, and
// leaves the output path as it was.
void addressSpaceRows(std::vector<Row>& rows) {
    ScratchFolder book("quillon-bench-"), out("quillon-bench-");
    const std::size_t storedSize = std::size_t{64} << 20;
    writeBombBook(book, storedSize);
    const auto convertedSize =
        static_cast<std::uintmax_t>(quillon::bookwriter::maximumExpansionTextSize(storedSize) + 2);
    const std::string output = out.file("out.rtf"), earlier = "an earlier conversion";
    for (rlim_t megabytes = 64; megabytes <= 1024; megabytes += 64) {
        std::ofstream(output, std::ios::binary | std::ios::trunc) << earlier;
        const ProgramRun run = runProgram({book.str(), output}, megabytes << 20);
        const bool alone = std::distance(fs::directory_iterator(out.path()), {}) == 1;
        std::string outcome;
        bool met = false;
        if (run.signal != 0) {
            outcome = "signal " + std::to_string(run.signal);
        } else if (run.exitCode == 0) {
            outcome = "converted";
            met = fs::file_size(output) == convertedSize;
        } else if (run.exitCode == 1 && run.err.rfind("Not enough memory", 0) == 0) {
            outcome = "not enough memory";
            std::ifstream kept(output, std::ios::binary);
            met = std::string(std::istreambuf_iterator<char>(kept), {}) == earlier;
        } else {
            outcome = "exit " + std::to_string(run.exitCode) + ": " + run.err.substr(0, run.err.find('\n'));
        }
        if (!alone) outcome += ", files left";
        for (const fs::directory_entry& entry : fs::directory_iterator(out.path())) {
            if (entry.path() != output) fs::remove_all(entry.path());
        }
        rows.push_back({format("RLIMIT_AS %4.0f MB, 64 MB bomb", static_cast<double>(megabytes)),
                        outcome.substr(0, 30), "message or success", met && alone});
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // Sections to run, by name; all of them when none is named.
    const std::vector<std::string> chosen(argv + 1, argv + argc);
    const auto wanted = [&chosen](const char* section) {
        return chosen.empty() || std::find(chosen.begin(), chosen.end(), section) != chosen.end();
    };
    try {
        std::vector<Row> rows;
        if (wanted("memory")) memoryRows(rows);
        if (wanted("address-space")) addressSpaceRows(rows);
        if (wanted("throughput")) {
            {
                const CycledBook cycled = benchBook(12);
                throughputRows("4 KB-1 MB blocks", cycled.book, true, rows);
            }
            const CycledBook cycled = compressibleBook(4);
            throughputRows("4 MB blocks of one passage", cycled.book, false, rows);
        }
        if (wanted("stripping")) strippingRows(rows);

        printTable(rows);
        return std::all_of(rows.begin(), rows.end(), [](const Row& row) { return row.met != 0; }) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillon-bench: %s\n", error.what());
        return 2;
    }
}
