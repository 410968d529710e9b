// SPDX-License-Identifier: GPL-2.0-or-later
// Turning one viewable block into output: its stored bytes are read from
// Book.dat in chunks and expanded by the SWORD library's LZSS decoder, and
// the text flows, piece by piece, through the block's rules (end at the first
// zero byte, end before the first picture group, optionally remove the
// hidden-text tags) into the output, followed by a line break. Memory use
// does not depend on the size of a block.
#pragma once

#include <lzsscomprs.h>

#include <cstdint>
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

// The rules of a block's text, each stated on the whole text. The streamed
// stages below give the same bytes.

// The text up to, not including, its first "{\pict" (matched exactly).
std::string_view cutAtPicture(std::string_view text);

// Removes occurrences of `needle` from `text`: after each removal the search
// goes on one byte past the position where the removed occurrence began, so an
// occurrence directly following a removed one stays, as does one formed by
// the removal joining its neighbours: of n adjacent needles, n/2 remain.
void removeAll(std::string& text, std::string_view needle);

// Whether the entry's stored bytes can be read from a Book.dat of `bookSize`
// bytes: they start inside the file and are no more than the whole file (an
// entry that runs past the end is read short). An entry of no stored bytes
// reads nothing and fits wherever it points.
bool entryFitsBook(const ViewableBlockEntry& entry, std::int64_t bookSize);

// Takes decoded text piece by piece.
class TextSink {
public:
    // Returns false when the text has ended and no more is wanted.
    virtual bool take(std::string_view piece) = 0;

protected:
    ~TextSink() = default;
};

// SWORD's LZSS decoder, fed through its input and output hooks: the stored
// bytes are read from Book.dat in chunks, and the text is gathered into
// pieces for a sink, which may stop the decoding early. The library then
// allocates nothing per block.
class LzssDecoder : private sword::LZSSCompress {
public:
    LzssDecoder();

    // Decodes the `storedSize` bytes at `dataOffset` in `bookFile`; those
    // past the end of the file count as zeros.
    void decodeBlock(int bookFile, std::int64_t dataOffset, std::uint32_t storedSize, TextSink& sink);

private:
    unsigned long getChars(char* chars, unsigned long count) override;
    unsigned long sendChars(char* chars, unsigned long count) override;
    bool readChunk();
    bool passText();

    std::vector<char> input_;
    std::size_t inputPos_ = 0, inputEnd_ = 0;
    std::vector<char> text_;
    std::size_t textUsed_ = 0;
    int bookFile_ = -1;
    std::uint32_t unread_ = 0;  // stored bytes not yet in input_
    bool fileEnded_ = false;
    bool wanted_ = false;
    TextSink* sink_ = nullptr;
};

// A needle sought in text that arrives a byte at a time. Bytes that may begin
// the needle are held back until a later byte decides; they are the needle's
// own first bytes, so only their count is kept. The needle's first byte must
// not recur in it, so a partial match that fails hides no other start.
class NeedleByBytes {
public:
    explicit NeedleByBytes(std::string_view needle) : needle_(needle) {}

    bool holding() const { return held_ > 0; }
    // Passes on to `next` what is not (or no longer may be) the needle;
    // returns true when `byte` completed it. The needle itself is dropped.
    template <typename Next>
    bool push(char byte, Next&& next);
    // Passes on the bytes held back: the text has ended.
    template <typename Next>
    void release(Next&& next);

private:
    std::string_view needle_;
    std::size_t held_ = 0;
};

// removeAll's rule on text that arrives a byte at a time: after a removal, the
// byte that takes the occurrence's place is passed on unsearched.
class RemovalByBytes {
public:
    explicit RemovalByBytes(std::string_view needle) : needle_(needle) {}

    bool idle() const { return !needle_.holding() && !afterRemoval_; }
    template <typename Next>
    void push(char byte, Next&& next);
    template <typename Next>
    void release(Next&& next) { needle_.release(next); }

private:
    NeedleByBytes needle_;
    bool afterRemoval_ = false;
};

// A block's rules applied to its text as it is decoded, in one pass over each
// piece: end at the first zero byte, end before the first "{\pict", and when
// stripping remove "\v1 " and then "\v0 " (the second rule takes what the
// first leaves, as it leaves it). What remains goes to the output in large
// writes, each LF as CR LF.
class BlockTextFilter : public TextSink {
public:
    BlockTextFilter(OutputStream& output, bool strip) : output_(output), strip_(strip) {}

    bool take(std::string_view piece) override;
    // Writes what was held back for the next piece: the text is complete.
    void finish();

private:
    void filter(std::string_view text);
    // The rules a byte at a time, for what filter() does not take at once.
    void pushByte(char byte);
    void removeTags(char byte);
    void removeHiddenEnd(char byte);
    void keep(char byte);
    bool idle() const { return !picture_.holding() && (!strip_ || (hiddenStart_.idle() && hiddenEnd_.idle())); }
    void flush();

    // Room for what filter() may write beyond its text: held bytes given up,
    // and the tail of a 16-byte copy.
    static constexpr std::size_t kSlack = 32;

    OutputStream& output_;
    bool strip_;
    bool ended_ = false;
    NeedleByBytes picture_{"{\\pict"};
    RemovalByBytes hiddenStart_{"\\v1 "};
    RemovalByBytes hiddenEnd_{"\\v0 "};
    char gathered_[4096];
    std::size_t used_ = 0;
};

// Writes blocks of one book; holds what can serve every block.
class BlockExtractor {
public:
    // Writes the block of `entry` to `output`: the decoded text up to its
    // first zero byte, cut at its first picture, with "\v1 " and then "\v0 "
    // removed when `strip` is set, followed by a line break. The entry must
    // fit the book (entryFitsBook).
    void extractBlock(int bookFile, const ViewableBlockEntry& entry, OutputStream& output, bool strip);

private:
    LzssDecoder decoder_;
};

}  // namespace quillon
