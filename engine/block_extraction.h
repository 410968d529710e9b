// SPDX-License-Identifier: GPL-2.0-or-later
// Turning one viewable block into output: read its stored bytes from
// Book.dat, expand them with the SWORD library's LZSS decompressor, end the
// text before its first picture group, optionally remove the hidden-text
// tags, and write it followed by a line break.
#pragma once

#include <lzsscomprs.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/book_records.h"

namespace quillon {

class OutputStream;

// The byte written in front of a block to mark where a section begins
// (the character ÷ in code page 1252).
constexpr char kSectionMarker = '\xF7';

void writeSectionMarker(OutputStream& output);

// The text up to, not including, its first "{\pict" (matched exactly).
std::string_view cutAtPicture(std::string_view text);

// Removes occurrences of `needle` from `text`. After each removal the search
// goes on one byte past the position where the removed occurrence began, so an
// occurrence directly following a removed one stays, as does one formed by
// the removal joining its neighbours: of n adjacent needles, n/2 remain.
// Runs in time linear in the text's length.
void removeAll(std::string& text, std::string_view needle);

// Whether the entry's stored bytes start inside a Book.dat of `bookSize`
// bytes and are no more than the whole file. An entry that starts inside the
// file but runs past its end still qualifies: it is read short.
bool entryFitsBook(const ViewableBlockEntry& entry, std::int64_t bookSize);

// SWORD's LZSS decompressor with the text gathered in a buffer of ours, which
// grows by doubling and is kept from block to block. The library's own buffer
// is reallocated and cleared a kilobyte beyond the end for every string it
// decodes, which costs more than the decoding itself. The text is the same.
class LzssDecoder : private sword::LZSSCompress {
public:
    // The text of `storedSize` stored bytes at `stored`, the caller's to
    // change until the next call. `stored` must not be null, even for no bytes.
    std::string& decompress(char* stored, unsigned long storedSize);

private:
    unsigned long sendChars(char* chars, unsigned long count) override;

    std::string text_;
};

// Writes blocks of one book; holds what can serve every block.
class BlockExtractor {
public:
    // Writes the block of `entry` to `output`: the decompressed text up to
    // its first zero byte, cut at its first picture, with "\v1 " and then
    // "\v0 " removed when `strip` is set, followed by a line break. The entry
    // must fit the book (entryFitsBook).
    void extractBlock(int bookFile, const ViewableBlockEntry& entry, OutputStream& output, bool strip);

private:
    LzssDecoder decoder_;
    std::vector<char> stored_;
};

}  // namespace quillon
