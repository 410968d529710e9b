// SPDX-License-Identifier: GPL-2.0-or-later
// The Step book writer; see step_book_writer.h.
#include "tools/bookwriter/step_book_writer.h"

#include <lzsscomprs.h>

#include <algorithm>
#include <fstream>

namespace quillon::bookwriter {
namespace {

void putInt16(std::string& out, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    out += static_cast<char>(bits & 0xFF);
    out += static_cast<char>(bits >> 8);
}

void putInt32(std::string& out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((bits >> shift) & 0xFF);
}

void putFiller(std::string& out, std::size_t count, std::uint8_t byte) {
    out.append(count, static_cast<char>(byte));
}

void putExtraHeaderBytes(std::string& out, std::int16_t recordLength, std::uint8_t byte) {
    if (recordLength > 16) putFiller(out, static_cast<std::size_t>(recordLength - 16), byte);
}

void putFileHeaderRecord(std::string& out, std::int16_t recordLength, std::uint8_t byte) {
    putInt16(out, recordLength);
    putFiller(out, 14, byte);
    putExtraHeaderBytes(out, recordLength, byte);
}

void cut(std::string& file, const std::optional<std::size_t>& size) {
    if (size && *size < file.size()) file.resize(*size);
}

}  // namespace

std::string compressLzss(std::string_view text) {
    sword::LZSSCompress compressor;
    unsigned long length = text.size();
    compressor.setUncompressedBuf(text.data(), &length);
    unsigned long storedLength = 0;
    const char* stored = compressor.getCompressedBuf(&storedLength);
    return std::string(stored, storedLength);
}

std::string maximumExpansionLzss(std::size_t storedSize) {
    // Flag byte 0: eight references; 0x00 0x0F: ring position 0, length 15 + 3.
    std::string group(1, '\0');
    for (int reference = 0; reference < 8; ++reference) group += std::string("\x00\x0F", 2);
    std::string stored;
    stored.reserve(storedSize);
    while (stored.size() < storedSize) stored.append(group, 0, std::min(group.size(), storedSize - stored.size()));
    return stored;
}

std::uint64_t maximumExpansionTextSize(std::uint64_t storedSize) {
    const std::uint64_t groups = storedSize / kMaximumExpansionGroup, rest = storedSize % kMaximumExpansionGroup;
    return groups * 144 + (rest > 0 ? (rest - 1) / 2 * 18 : 0);
}

StepBookFiles buildStepBook(const StepBookLayout& layout) {
    StepBookFiles files;

    std::string& book = files.bookDat;
    putFileHeaderRecord(book, layout.bookHeaderLength, layout.unnamedFieldByte);
    putInt32(book, layout.prefixedLength.value_or(static_cast<std::int32_t>(layout.prefixedContent.size())));
    book += layout.prefixedContent;
    book += layout.gapBeforeBlocks;

    std::string entries;
    for (const BlockLayout& block : layout.blocks) {
        const std::string stored = block.storedBytes.value_or(compressLzss(block.text));
        putInt32(entries, block.dataOffset.value_or(static_cast<std::int32_t>(book.size())));
        putInt32(entries, block.uncompressedSize.value_or(static_cast<std::int32_t>(block.text.size())));
        putInt32(entries, block.storedSize.value_or(static_cast<std::int32_t>(stored.size())));
        book += stored;
    }

    std::string& index = files.viewableIdx;
    putFileHeaderRecord(index, layout.indexFileHeaderLength, layout.unnamedFieldByte);
    putInt16(index, layout.indexHeaderLength);
    putInt32(index, layout.blockCount.value_or(static_cast<std::int32_t>(layout.blocks.size())));
    putInt32(index, layout.trailingBlockCount);
    putFiller(index, 6, layout.unnamedFieldByte);
    putExtraHeaderBytes(index, layout.indexHeaderLength, layout.unnamedFieldByte);
    index += entries;
    index += layout.bytesAfterEntries;

    cut(book, layout.bookDatCut);
    cut(index, layout.viewableIdxCut);
    return files;
}

bool writeStepBook(const std::string& folder, const StepBookLayout& layout) {
    const StepBookFiles files = buildStepBook(layout);
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const auto& [name, content] : {std::pair{"Book.dat", &files.bookDat}, {"Viewable.idx", &files.viewableIdx}}) {
        std::ofstream out(base + name, std::ios::binary | std::ios::trunc);
        out.write(content->data(), static_cast<std::streamsize>(content->size()));
        if (!out.flush()) return false;
    }
    return true;
}

StepBookLayout layoutOf(const std::vector<std::string>& texts, std::int32_t trailingBlockCount) {
    StepBookLayout layout;
    for (const std::string& text : texts) layout.blocks.push_back(BlockLayout{text, {}, {}, {}, {}});
    layout.trailingBlockCount = trailingBlockCount;
    return layout;
}

}  // namespace quillon::bookwriter
