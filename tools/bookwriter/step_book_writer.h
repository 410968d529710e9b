// SPDX-License-Identifier: GPL-2.0-or-later
// Writes Step books (Book.dat + Viewable.idx) from RTF blocks, for the sample
// book, the tests and the benchmark. Every length and count can be set by
// hand, so that odd and damaged books can be made as easily as sound ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::bookwriter {

// The block's text compressed with SWORD's LZSS, as Book.dat stores it.
std::string compressLzss(std::string_view text);

// `storedSize` bytes of LZSS at its largest expansion: every flag byte
// announces eight references that each copy 18 bytes, so each 17 stored bytes
// become 144 bytes of text (spaces, from the decoder's initial ring buffer).
// The pattern repeats every 17 bytes, so a long one can be written in pieces.
std::string maximumExpansionLzss(std::size_t storedSize);
constexpr std::size_t kMaximumExpansionGroup = 17;

// The length of the text that maximumExpansionLzss(storedSize) decodes to.
std::uint64_t maximumExpansionTextSize(std::uint64_t storedSize);

// One index entry and the stored bytes it points at.
struct BlockLayout {
    std::string text;
    std::optional<std::string> storedBytes;  // stored instead of the compressed text
    // Entry fields; by default they describe the stored bytes truthfully.
    std::optional<std::int32_t> dataOffset;
    std::optional<std::int32_t> uncompressedSize;
    std::optional<std::int32_t> storedSize;
};

struct StepBookLayout {
    std::vector<BlockLayout> blocks;  // in index order
    std::int32_t trailingBlockCount = 1;
    std::optional<std::int32_t> blockCount;  // default: the number of blocks

    // recordLength of Book.dat's file header, Viewable.idx's file header and
    // its index header. Above 16, that many bytes minus 16 follow the record.
    std::int16_t bookHeaderLength = 16;
    std::int16_t indexFileHeaderLength = 16;
    std::int16_t indexHeaderLength = 16;
    std::uint8_t unnamedFieldByte = 0;  // every unnamed header byte and the extra bytes

    std::string prefixedContent;               // content of Book.dat's length-prefixed block
    std::optional<std::int32_t> prefixedLength;  // default: the content's size
    std::string gapBeforeBlocks;               // between that block and the first stored block

    std::string bytesAfterEntries;  // appended to Viewable.idx
    std::optional<std::size_t> bookDatCut;      // keep only this many bytes of Book.dat
    std::optional<std::size_t> viewableIdxCut;  // keep only this many bytes of Viewable.idx
};

struct StepBookFiles {
    std::string bookDat;
    std::string viewableIdx;
};

StepBookFiles buildStepBook(const StepBookLayout& layout);

// Builds the book and writes both files into `folder`, which must exist.
// Returns false when a file cannot be written.
bool writeStepBook(const std::string& folder, const StepBookLayout& layout);

// A layout with one block per text, the last `trailingBlockCount` of them
// trailing blocks.
StepBookLayout layoutOf(const std::vector<std::string>& texts, std::int32_t trailingBlockCount = 1);

}  // namespace quillon::bookwriter
