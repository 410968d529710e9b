// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-bench: measures the conversion on books made with the book writer
// and prints each figure beside its target. Exit status 1 when a target is
// missed.
//
// A book's index may point many entries at the same stored bytes, so a large
// book needs only a few distinct compressed blocks: they are compressed once
// and referenced over and over.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <lzsscomprs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// Scripture-like RTF: verses with bold numbers, hidden references, paragraphs.
std::string rtfText(std::size_t size, unsigned seed) {
    static const char* const words[] = {
        "the",    "LORD",  "and",       "of",     "unto",    "in",      "that",    "he",        "shall",
        "his",    "they",  "for",       "is",     "him",     "not",     "them",    "with",      "all",
        "it",     "thou",  "thy",       "was",    "which",   "my",      "me",      "said",      "but",
        "ye",     "their", "have",      "will",   "be",      "as",      "are",     "upon",      "from",
        "Israel", "God",   "king",      "house",  "children", "people", "earth",   "heaven",    "mercy",
        "praise", "water", "mountains", "shepherd", "righteousness", "salvation", "Jerusalem", "covenant"};
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pickWord(0, std::size(words) - 1);
    std::uniform_int_distribution<int> verseLength(8, 40);
    std::string text;
    text.reserve(size + 256);
    for (int verse = 1; text.size() < size; ++verse) {
        text += "{\\b " + std::to_string(verse) + "}\\v1 <Ps " + std::to_string(seed % 150 + 1) + ":" +
                std::to_string(verse) + ">\\v0  ";
        for (int k = verseLength(random); k > 0; --k) {
            text += words[pickWord(random)];
            text += k == 1 ? ".\\par\n" : " ";
        }
    }
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

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void writeBook(const ScratchFolder& folder, const StepBookLayout& layout) {
    if (!quillon::bookwriter::writeStepBook(folder.str(), layout)) throw std::runtime_error("cannot write a book");
}

// Timed from a folder without an earlier output: replacing a file makes the
// file system write the new one out at once, which would be timed as well.
void convertOrDie(const ScratchFolder& folder, bool stripTags) {
    const quillon::ConversionResult result =
        quillon::runConversion({folder.str(), folder.file("out.rtf"), true, stripTags});
    if (!result.succeeded) throw std::runtime_error(result.message);
}

double secondsToConvert(const ScratchFolder& folder, bool stripTags) {
    fs::remove(folder.file("out.rtf"));
    return secondsOf([&] { convertOrDie(folder, stripTags); });
}

// The peak resident memory of quillon-cli converting the book in `folder`, in KB.
long peakMemoryOfProgram(const ScratchFolder& folder) {
    const std::string book = folder.str(), output = folder.file("out.rtf");
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(QUILLON_CLI_PATH, QUILLON_CLI_PATH, book.c_str(), output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("quillon-cli failed on the memory book");
    }
    return usage.ru_maxrss;
}

struct Row {
    std::string figure, value, target;
    int met;  // 1 yes, 0 no, -1 no target
};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

void printTable(const std::vector<Row>& rows) {
    std::printf("%-58s %14s %14s  %s\n", "Figure", "Measured", "Target", "Met");
    std::printf("%s\n", std::string(94, '-').c_str());
    for (const Row& row : rows) {
        std::printf("%-58s %14s %14s  %s\n", row.figure.c_str(), row.value.c_str(), row.target.c_str(),
                    row.met < 0 ? "" : row.met ? "yes" : "NO");
    }
}

}  // namespace

int main() {
    try {
        std::vector<Row> rows;
        const int runs = 3;

        // Blocks from 4 KB to 1 MB, four distinct ones of each size; entry 0
        // opens the document and the last entry closes it.
        std::vector<StoredBlock> distinct = {storedBlock("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"),
                                             storedBlock("}")};
        unsigned seed = 1;
        for (std::size_t size : {4u << 10, 16u << 10, 64u << 10, 256u << 10, 1u << 20}) {
            for (int k = 0; k < 4; ++k) distinct.push_back(storedBlock(rtfText(size, seed++)));
        }
        auto bookOfCycles = [&distinct](int cycles) {
            std::vector<std::size_t> order = {0};
            for (int cycle = 0; cycle < cycles; ++cycle) {
                for (std::size_t k = 2; k < distinct.size(); ++k) order.push_back(k);
            }
            order.push_back(1);
            return sharedBook(distinct, order);
        };

        // Throughput against the decompression alone.
        {
            const SharedBook book = bookOfCycles(12);
            ScratchFolder folder("quillon-bench-");
            writeBook(folder, book.layout);
            sword::LZSSCompress decompressor;
            unsigned long checksum = 0;
            auto decompressAll = [&] {
                for (const StoredBlock* entry : book.entries) {
                    unsigned long length = entry->stored.size();
                    decompressor.setCompressedBuf(&length, const_cast<char*>(entry->stored.data()));
                    unsigned long textLength = 0;
                    decompressor.getUncompressedBuf(&textLength);
                    checksum += textLength;
                }
            };
            // The engine's decoder runs the same decompressor into a better buffer.
            quillon::LzssDecoder engineDecoder;
            auto decodeAll = [&] {
                for (const StoredBlock* entry : book.entries) {
                    std::string stored = entry->stored;
                    checksum += engineDecoder.decompress(stored.data(), stored.size()).size();
                }
            };
            double baseline = 1e100, decoding = 1e100, conversion = 1e100;
            for (int k = 0; k < runs; ++k) {  // interleaved, so all see the same machine
                baseline = std::min(baseline, secondsOf(decompressAll));
                decoding = std::min(decoding, secondsOf(decodeAll));
                conversion = std::min(conversion, secondsToConvert(folder, true));
            }
            if (checksum == 0) throw std::runtime_error("nothing decompressed");
            const double megabytes = book.textBytes / kMegabyte;
            const double ratio = baseline / conversion;
            rows.push_back({format("Conversion throughput, %.0f MB of RTF in 4 KB-1 MB blocks", megabytes),
                            format("%.1f MB/s", megabytes / conversion), "", -1});
            rows.push_back({"  Baseline: LZSS decompression of the same blocks only",
                            format("%.1f MB/s", megabytes / baseline), "", -1});
            rows.push_back({"  Conversion throughput relative to the baseline", format("%.1f %%", 100 * ratio),
                            ">= 90 %", ratio >= 0.9});
            rows.push_back({"  Decoding only, with the engine's LzssDecoder", format("%.1f MB/s", megabytes / decoding),
                            "", -1});
            rows.push_back({"  Conversion relative to that decoding", format("%.1f %%", 100 * decoding / conversion),
                            "", -1});
        }

        // Tag stripping on one dense 8 MB block.
        {
            const std::vector<StoredBlock> blocks = {storedBlock("{\\rtf1 "), storedBlock(tagDenseText(8u << 20)),
                                                     storedBlock("}")};
            const SharedBook book = sharedBook(blocks, {0, 1, 2});
            ScratchFolder folder("quillon-bench-");
            writeBook(folder, book.layout);
            double stripped = 1e100, kept = 1e100;
            for (int k = 0; k < 3 * runs; ++k) {  // short runs: more of them, interleaved
                stripped = std::min(stripped, secondsToConvert(folder, true));
                kept = std::min(kept, secondsToConvert(folder, false));
            }
            rows.push_back({"Strip on, 8 MB block dense with \\v1 /\\v0 tags", format("%.3f s", stripped), "", -1});
            rows.push_back({"Strip off, the same block", format("%.3f s", kept), "", -1});
            rows.push_back({"  Strip on relative to strip off", format("%.2f x", stripped / kept), "<= 1.5 x",
                            stripped / kept <= 1.5});
        }

        // Peak memory of quillon-cli, for two book sizes with 1 MB blocks at most.
        {
            std::vector<double> peaks;
            for (int cycles : {12, 48}) {
                const SharedBook book = bookOfCycles(cycles);
                ScratchFolder folder("quillon-bench-");
                writeBook(folder, book.layout);
                const double peak = peakMemoryOfProgram(folder) / 1024.0;
                peaks.push_back(peak);
                rows.push_back({format("Peak RSS of quillon-cli, %.0f MB of RTF, largest block 1 MB",
                                       book.textBytes / kMegabyte),
                                format("%.1f MB", peak), "< 64 MB", peak < 64});
            }
            const double growth = peaks[1] - peaks[0];
            rows.push_back({"  Growth with four times the text", format("%+.1f MB", growth), "< 2 MB", growth < 2});
        }

        printTable(rows);
        return std::all_of(rows.begin(), rows.end(), [](const Row& row) { return row.met != 0; }) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillon-bench: %s\n", error.what());
        return 2;
    }
}
