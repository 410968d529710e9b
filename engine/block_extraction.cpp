// SPDX-License-Identifier: GPL-2.0-or-later
// Block text extraction; see block_extraction.h.
#include "engine/block_extraction.h"

#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/output_stream.h"
#include "engine/platform.h"

namespace quillon {
namespace {

// Stored bytes are read from Book.dat this many at a time.
constexpr std::size_t kInputChunkSize = 64 << 10;
// Decoded text goes to the rules in pieces of this size: small enough to stay
// in the processor's cache, and to stop soon after the text has ended.
constexpr std::size_t kTextPieceSize = 16 << 10;

// Copies a few bytes (up to 32) with fixed-size moves: the decoder hands over
// one to eighteen bytes at a time, far too few for a call of memcpy to pay.
void copyFewBytes(char* to, const char* from, std::size_t count) {
    if (count >= 16) {
        std::memcpy(to, from, 16);
        std::memcpy(to + count - 16, from + count - 16, 16);
    } else if (count >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + count - 4, from + count - 4, 4);
    } else if (count > 0) {
        to[0] = from[0];
        to[count / 2] = from[count / 2];
        to[count - 1] = from[count - 1];
    }
}

constexpr std::size_t kFewBytes = 32;

// Finds the bytes that matter in a text (zero bytes, line feeds, and two
// more), copying the text before each. Where the processor compares 16 bytes
// at once, the text between them costs almost nothing, and what one
// comparison found is kept, so that bytes close together cost one comparison.
class ByteFinder {
public:
    ByteFinder(char first, char second) : first_(first), second_(second) {}

    // Copies from `in` to `out` up to the next byte sought, or to `end`;
    // `out` must have room for 16 bytes beyond what is copied.
    void copyToNext(const char*& in, const char* end, char*& out) {
#ifdef __SSE2__
        while (found_ != 0) {
            const char* next = block_ + __builtin_ctz(found_);
            found_ &= found_ - 1;
            if (next < in) continue;  // taken along with an earlier one
            const auto before = static_cast<std::size_t>(next - in);
            if (end - in >= 16) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), load(in));
            } else {
                std::memcpy(out, in, before);
            }
            in += before;
            out += before;
            return;
        }
        const __m128i zeros = _mm_setzero_si128(), lineFeeds = _mm_set1_epi8('\n');
        const __m128i firsts = _mm_set1_epi8(first_), seconds = _mm_set1_epi8(second_);
        while (end - in >= 16) {
            const __m128i bytes = load(in);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
            const __m128i sought = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, zeros), _mm_cmpeq_epi8(bytes, lineFeeds)),
                                                _mm_or_si128(_mm_cmpeq_epi8(bytes, firsts), _mm_cmpeq_epi8(bytes, seconds)));
            const auto found = static_cast<unsigned>(_mm_movemask_epi8(sought));
            if (found != 0) {
                block_ = in;
                found_ = found & (found - 1);
                const auto before = static_cast<std::size_t>(__builtin_ctz(found));
                in += before;
                out += before;
                return;
            }
            in += 16;
            out += 16;
        }
#endif
        while (in < end && *in != '\0' && *in != '\n' && *in != first_ && *in != second_) *out++ = *in++;
    }

private:
#ifdef __SSE2__
    static __m128i load(const char* bytes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)); }

    const char* block_ = nullptr;  // where the last comparison began
    unsigned found_ = 0;           // what it found that is not yet handed out
#endif
    char first_, second_;
};

// Whether `bytes` begin with "\v1 " or "\v0 ": the two differ only in the
// lowest bit of their third byte.
bool startsWithTag(const char* bytes) {
    static const unsigned char kTag[4] = {'\\', 'v', '0', ' '}, kCompared[4] = {0xFF, 0xFF, 0xFE, 0xFF};
    std::uint32_t word, tag, compared;
    std::memcpy(&word, bytes, 4);
    std::memcpy(&tag, kTag, 4);
    std::memcpy(&compared, kCompared, 4);
    return (word & compared) == tag;
}

}  // namespace

void writeSectionMarker(OutputStream& output) { output.put(kSectionMarker); }

std::string_view cutAtPicture(std::string_view text) {
    const std::size_t picture = text.find("{\\pict");
    return picture == std::string_view::npos ? text : text.substr(0, picture);
}

void removeAll(std::string& text, std::string_view needle) {
    std::size_t pos = text.find(needle);
    while (pos != std::string::npos) {
        text.erase(pos, needle.size());
        pos = text.find(needle, pos + 1);
    }
}

bool entryFitsBook(const ViewableBlockEntry& entry, std::int64_t bookSize) {
    if (entry.dataOffset < 0 || entry.storedSize < 0) return false;
    return entry.storedSize == 0 || (entry.dataOffset < bookSize && entry.storedSize <= bookSize);
}

LzssDecoder::LzssDecoder() : input_(kInputChunkSize), text_(kTextPieceSize) {}

void LzssDecoder::decodeBlock(int bookFile, std::int64_t dataOffset, std::uint32_t storedSize, TextSink& sink) {
    bookFile_ = bookFile;
    unread_ = storedSize;
    inputPos_ = inputEnd_ = textUsed_ = 0;
    fileEnded_ = storedSize > 0 && platform::seekDescriptor(bookFile, dataOffset, 0) != dataOffset;
    wanted_ = true;
    sink_ = &sink;
    decode();
    if (wanted_ && textUsed_ > 0) passText();
    sink_ = nullptr;
}

unsigned long LzssDecoder::getChars(char* chars, unsigned long count) {
    // The decoder asks for one byte (a flag or a literal) or two (a reference).
    if (count - 1 < 2 && count <= inputEnd_ - inputPos_) {
        chars[0] = input_[inputPos_];
        chars[count - 1] = input_[inputPos_ + count - 1];
        inputPos_ += count;
        return count;
    }
    unsigned long given = 0;
    while (given < count) {
        if (inputPos_ == inputEnd_ && !readChunk()) break;
        const std::size_t size = std::min<std::size_t>(count - given, inputEnd_ - inputPos_);
        std::memcpy(chars + given, input_.data() + inputPos_, size);
        inputPos_ += size;
        given += size;
    }
    return given;
}

// The next chunk of stored bytes, as the whole block would have been read:
// what the file does not have is zeros.
bool LzssDecoder::readChunk() {
    if (unread_ == 0) return false;
    const std::size_t size = std::min<std::size_t>(unread_, input_.size());
    const std::size_t got = fileEnded_ ? 0 : platform::readDescriptor(bookFile_, input_.data(), size);
    if (got < size) {
        fileEnded_ = true;
        std::memset(input_.data() + got, 0, size - got);
    }
    unread_ -= static_cast<std::uint32_t>(size);
    inputPos_ = 0;
    inputEnd_ = size;
    return true;
}

unsigned long LzssDecoder::sendChars(char* chars, unsigned long count) {
    if (count > text_.size() - textUsed_) {
        if (!passText()) return 0;  // the decoder stops when fewer bytes were taken
        if (count > text_.size()) return sink_->take({chars, count}) ? count : 0;
    }
    if (count == 1) {
        text_[textUsed_] = chars[0];  // a literal
    } else if (count <= kFewBytes) {
        copyFewBytes(text_.data() + textUsed_, chars, count);
    } else {
        std::memcpy(text_.data() + textUsed_, chars, count);
    }
    textUsed_ += count;
    return count;
}

bool LzssDecoder::passText() {
    wanted_ = sink_->take({text_.data(), textUsed_});
    textUsed_ = 0;
    return wanted_;
}

template <typename Next>
bool NeedleByBytes::push(char byte, Next&& next) {
    if (held_ > 0) {
        if (byte == needle_[held_]) {
            if (++held_ < needle_.size()) return false;
            held_ = 0;
            return true;
        }
        release(next);  // not the needle; this byte may begin it
    }
    if (byte == needle_[0]) {
        held_ = 1;
    } else {
        next(byte);
    }
    return false;
}

template <typename Next>
void NeedleByBytes::release(Next&& next) {
    for (std::size_t k = 0; k < held_; ++k) next(needle_[k]);
    held_ = 0;
}

template <typename Next>
void RemovalByBytes::push(char byte, Next&& next) {
    if (afterRemoval_) {
        // The search resumes one byte past where the removed occurrence
        // began: the byte that took its place is passed on as it is.
        afterRemoval_ = false;
        next(byte);
        return;
    }
    afterRemoval_ = needle_.push(byte, next);
}

bool BlockTextFilter::take(std::string_view piece) {
    while (!piece.empty() && !ended_) {
        // Each byte becomes at most two (a line feed is stored as CR LF).
        const std::string_view part = piece.substr(0, (sizeof gathered_ - kSlack - used_) / 2);
        filter(part);  // ends the text at a zero byte or a picture
        piece.remove_prefix(part.size());
        if (used_ > sizeof gathered_ / 2) flush();
    }
    return !ended_;
}

void BlockTextFilter::filter(std::string_view text) {
    const char* in = text.data();
    const char* const end = in + text.size();
    char* out = gathered_ + used_;
    const auto plain = [](char byte) { return byte != '\\' && byte != '{'; };
    // Without stripping the backslash does not matter; the brace stands in.
    ByteFinder finder('{', strip_ ? '\\' : '{');
    while (in < end && !ended_) {
        if (!idle()) {
            used_ = static_cast<std::size_t>(out - gathered_);
            pushByte(*in++);
            out = gathered_ + used_;
            continue;
        }
        // While no rule holds bytes back, the text is copied up to the next
        // byte that matters, and the common shapes are taken at once where
        // the bytes after them are in hand: a line feed; a brace that opens
        // no picture; with stripping, a tag followed by a byte that begins
        // nothing (it stays, whichever rule removes the tag), and a backslash
        // that starts neither tag. Anything else goes a byte at a time.
        for (;;) {
            finder.copyToNext(in, end, out);
            if (in == end) break;
            if (*in == '\0') {
                ended_ = true;
                break;
            }
            if (*in == '\n') {
                out[0] = '\r';
                out[1] = '\n';
                out += 2;
                in += 1;
            } else if (*in == '{') {
                if (end - in < 6) break;
                if (std::memcmp(in, "{\\pict", 6) == 0) {
                    ended_ = true;
                    break;
                }
                *out++ = *in++;
            } else if (end - in >= 5 && startsWithTag(in) && plain(in[4])) {
                in += 4;
            } else if (end - in >= 2 && in[1] != 'v' && plain(in[1])) {
                *out++ = *in++;
            } else {
                break;
            }
        }
        if (in == end || ended_) break;
        used_ = static_cast<std::size_t>(out - gathered_);
        pushByte(*in++);
        out = gathered_ + used_;
    }
    used_ = static_cast<std::size_t>(out - gathered_);
}

void BlockTextFilter::pushByte(char byte) {
    if (byte == '\0' || picture_.push(byte, [this](char text) { removeTags(text); })) ended_ = true;
}

void BlockTextFilter::removeTags(char byte) {
    if (strip_) {
        hiddenStart_.push(byte, [this](char text) { removeHiddenEnd(text); });
    } else {
        keep(byte);
    }
}

void BlockTextFilter::removeHiddenEnd(char byte) {
    hiddenEnd_.push(byte, [this](char text) { keep(text); });
}

void BlockTextFilter::keep(char byte) {
    if (byte == '\n') gathered_[used_++] = '\r';
    gathered_[used_++] = byte;
}

void BlockTextFilter::finish() {
    picture_.release([this](char text) { removeTags(text); });
    hiddenStart_.release([this](char text) { removeHiddenEnd(text); });
    hiddenEnd_.release([this](char text) { keep(text); });
    flush();
}

void BlockTextFilter::flush() {
    output_.writeStored(std::string_view(gathered_, used_));
    used_ = 0;
}

void BlockExtractor::extractBlock(int bookFile, const ViewableBlockEntry& entry, OutputStream& output, bool strip) {
    BlockTextFilter text(output, strip);
    decoder_.decodeBlock(bookFile, entry.dataOffset, static_cast<std::uint32_t>(entry.storedSize), text);
    text.finish();
    output.put('\n');
}

}  // namespace quillon
