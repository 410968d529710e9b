// SPDX-License-Identifier: GPL-2.0-or-later
// Block text extraction; see block_extraction.h.
#include "engine/block_extraction.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/output_stream.h"
#include "engine/platform.h"

namespace quillon {

void writeSectionMarker(OutputStream& output) { output.put(kSectionMarker); }

std::string_view cutAtPicture(std::string_view text) {
    const std::size_t picture = text.find("{\\pict");
    return picture == std::string_view::npos ? text : text.substr(0, picture);
}

void removeAll(std::string& text, std::string_view needle) {
    if (needle.empty()) return;
    std::size_t found = text.find(needle.data(), 0, needle.size());
    if (found == std::string::npos) return;

    // Compact in place: everything before `kept` is final output, everything
    // from `next` on is still the original text.
    std::size_t kept = found;
    std::size_t next = found + needle.size();
    for (;;) {
        // The byte at `next` took the removed needle's place; searching
        // resumes just past it.
        found = text.find(needle.data(), next + 1, needle.size());
        const std::size_t end = found == std::string::npos ? text.size() : found;
        std::memmove(&text[kept], text.data() + next, end - next);
        kept += end - next;
        if (found == std::string::npos) break;
        next = found + needle.size();
    }
    text.resize(kept);
}

bool entryFitsBook(const ViewableBlockEntry& entry, std::int64_t bookSize) {
    return entry.dataOffset >= 0 && entry.storedSize >= 0 && entry.dataOffset < bookSize &&
           entry.storedSize <= bookSize;
}

std::string& LzssDecoder::decompress(char* stored, unsigned long storedSize) {
    text_.clear();
    setCompressedBuf(&storedSize, stored);
    unsigned long textLength = 0;
    getUncompressedBuf(&textLength);
    text_.resize(std::min<std::size_t>(text_.size(), textLength));
    return text_;
}

unsigned long LzssDecoder::sendChars(char* chars, unsigned long count) {
    text_.append(chars, count);
    return count;
}

void BlockExtractor::extractBlock(int bookFile, const ViewableBlockEntry& entry, OutputStream& output, bool strip) {
    // A block that ends past the end of the file is read short; the missing
    // bytes stay zero and the full stored size still goes to the decompressor.
    // The extra byte keeps the buffer non-null for an empty block, which the
    // decompressor would otherwise take as "no new input".
    const auto storedSize = static_cast<std::size_t>(entry.storedSize);
    stored_.resize(storedSize + 1);
    platform::seekDescriptor(bookFile, entry.dataOffset, 0);
    const std::size_t read = platform::readDescriptor(bookFile, stored_.data(), storedSize);
    std::memset(stored_.data() + read, 0, stored_.size() - read);

    // The text is edited where it was decoded: a damaged entry can make a
    // block of many megabytes, and a copy would double the memory it takes.
    std::string& text = decoder_.decompress(stored_.data(), storedSize);
    text.resize(cutAtPicture(std::string_view(text).substr(0, text.find('\0'))).size());
    if (strip) {
        removeAll(text, "\\v1 ");
        removeAll(text, "\\v0 ");
    }
    output.write(text);
    output.put('\n');
}

}  // namespace quillon
