// SPDX-License-Identifier: GPL-2.0-or-later
// One block's way to the output: the rules of its text, stated whole and
// streamed in pieces, and the decoder fed from Book.dat.
#include "engine/block_extraction.h"

#include <filemgr.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>

#include "engine/output_stream.h"
#include "engine/platform.h"
#include "engine/test_support.h"

using namespace std::string_literals;

namespace quillon {
namespace {


// What the file holds for a block text by the whole-text rules: up to the
// first zero byte, cut at the first picture, the tags removed when stripping,
// each LF as CR LF (no line break after it).
std::string byTheRules(const std::string& text, bool strip) {
    std::string kept(cutAtPicture(std::string_view(text).substr(0, text.find('\0'))));
    if (strip) {
        removeAll(kept, "\\v1 ");
        removeAll(kept, "\\v0 ");
    }
    std::string stored;
    for (char byte : kept) stored += byte == '\n' ? "\r\n"s : std::string(1, byte);
    return stored;
}

// How many bytes of `text` the stages take before its text has ended.
std::size_t endOfText(const std::string& text) {
    const std::size_t zero = text.find('\0');
    const std::size_t picture = text.substr(0, zero).find("{\\pict");
    if (picture != std::string::npos) return picture + 6;
    return zero == std::string::npos ? std::string::npos : zero + 1;
}

TEST(BlockRulesTest, CutAtPictureEndsBeforeTheFirstExactPictureGroup) {
    const std::pair<std::string, std::string> cases[] = {
        {"before{\\pict 01}middle{\\pict 02}after", "before"},
        {"{\\b outer {\\pict 0102} inner} tail", "{\\b outer "},
        {"capitals {\\PICT 01} stay", "capitals {\\PICT 01} stay"},
        {"no brace \\pict 01, split { \\pict, ends in {\\pic", "no brace \\pict 01, split { \\pict, ends in {\\pic"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(cutAtPicture(text), expected) << text;
}

TEST(BlockRulesTest, RemoveAllSearchesOnOneBytePastEachRemoval) {
    const std::pair<std::string, std::string> cases[] = {
        {"\\v1 start, x\\v1 y\\v1 z and end\\v1 ", "start, xyz and end"},
        {"\\v1 \\v1 ", "\\v1 "},                       // two in a row leave one
        {"\\v1 \\v1 \\v1 ", "\\v1 "},                  // three leave one
        {"\\v1 \\v1 \\v1 \\v1 \\v1 ", "\\v1 \\v1 "},    // five leave two
        {"\\v\\v1 1 ", "\\v1 "},                       // a needle formed by a removal stays
        {"\\v1\\par \\v1} ends in \\v1", "\\v1\\par \\v1} ends in \\v1"},  // no space: not a tag
        {"\\\\v1 escaped", "\\escaped"},               // raw bytes, RTF escaping ignored
    };
    for (const auto& [text, expected] : cases) {
        std::string removed = text;
        removeAll(removed, "\\v1 ");
        EXPECT_EQ(removed, expected) << text;
    }
}

// Pushes `text` through the streamed stages in the pieces that `cuts` (sorted
// positions) make, as the decoder would: no more once the stages refuse.
class StreamedStages {
public:
    StreamedStages() : file_(std::tmpfile()), output_(file_) {}
    ~StreamedStages() { std::fclose(file_); }

    std::string run(const std::string& text, const std::vector<std::size_t>& cuts, bool strip) {
        const long start = std::ftell(file_);
        const std::size_t end = endOfText(text);
        BlockTextFilter filter(output_, strip);
        std::size_t from = 0;
        for (std::size_t k = 0; k <= cuts.size(); ++k) {
            const std::size_t to = k < cuts.size() ? cuts[k] : text.size();
            const bool wanted = filter.take(std::string_view(text).substr(from, to - from));
            EXPECT_EQ(wanted, to < end) << "the text ends after byte " << end << "; piece to " << to;
            from = to;
            if (!wanted) break;
        }
        filter.finish();
        output_.flush();
        const long stop = std::ftell(file_);
        std::string stored(static_cast<std::size_t>(stop - start), '\0');
        std::fseek(file_, start, SEEK_SET);
        EXPECT_EQ(std::fread(stored.data(), 1, stored.size(), file_), stored.size());
        std::fseek(file_, stop, SEEK_SET);
        return stored;
    }

private:
    std::FILE* file_;
    OutputStream output_;
};

TEST(BlockTextFilterTest, StreamedStagesGiveWhatTheWholeTextRulesGive) {
    // Texts made of the rules' own pieces, so that tags stand adjacent, form
    // by joining, and straddle cuts; zero bytes and pictures come rarely.
    const std::string pieces[] = {"\\v1 ", "\\v0 ", "\\v1 \\v1 ", "\\v2 ", "\\", "v", "1", "0", " ", "\\v", "1 ", "0 ",
                                  "\\\\", "{", "{\\pic", "\\pict", "{\\PICT", "\r", "\n", "\r\n", "x", "\xF7"};
    std::mt19937 random(20261207);
    StreamedStages stages;
    for (int round = 0; round < 600; ++round) {
        std::string text;
        for (int k = static_cast<int>(random() % 30); k > 0; --k) {
            const unsigned pick = random() % 100;
            text += pick == 0 ? "{\\pict"s : pick == 1 ? "\0"s : pieces[pick % std::size(pieces)];
        }
        std::vector<std::size_t> byteByByte, somePieces;
        for (std::size_t cut = 1; cut < text.size(); ++cut) {
            byteByByte.push_back(cut);
            if (random() % 4 == 0) somePieces.push_back(cut);
        }
        for (const bool strip : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "strip " << strip << ", text: " << ::testing::PrintToString(text));
            const std::string expected = byTheRules(text, strip);
            ASSERT_EQ(stages.run(text, {}, strip), expected) << "whole";
            ASSERT_EQ(stages.run(text, byteByByte, strip), expected) << "byte by byte";
            ASSERT_EQ(stages.run(text, somePieces, strip), expected) << "random pieces";
            for (std::size_t cut = 0; cut <= text.size(); ++cut) {
                ASSERT_EQ(stages.run(text, {cut}, strip), expected) << "cut at " << cut;
            }
        }
    }
}

// SWORD's decoder over stored bytes in memory, its text gathered whole: what
// the library makes of them. (Its own buffer grows by a copy per decoded run,
// far too slow for long texts under the sanitizers.)
class WholeTextDecoder : private sword::LZSSCompress {
public:
    std::string decodeAll(const std::string& stored) {
        stored_ = stored;
        read_ = 0;
        text_.clear();
        decode();
        return text_;
    }

private:
    unsigned long getChars(char* chars, unsigned long count) override {
        const std::size_t size = std::min<std::size_t>(count, stored_.size() - read_);
        stored_.copy(chars, size, read_);
        read_ += size;
        return size;
    }
    unsigned long sendChars(char* chars, unsigned long count) override {
        text_.append(chars, count);
        return count;
    }

    std::string stored_, text_;
    std::size_t read_ = 0;
};

struct GatheredText : TextSink {
    std::string text;
    int pieces = 0;
    int wantedPieces = INT_MAX;
    bool take(std::string_view piece) override {
        text += piece;
        return ++pieces < wantedPieces;
    }
};

// A Book.dat of `bytes` opened as a conversion opens it.
class BookFileTest : public ::testing::Test {
protected:
    int open(const std::string& bytes) {
        TearDown();
        testing::writeFile(folder_.file("Book.dat"), bytes);
        fd_ = sword::FileMgr::openFileReadOnly(platform::libraryPath(folder_.file("Book.dat")).c_str());
        EXPECT_GT(fd_, 0);
        return fd_;
    }
    void TearDown() override {
        if (fd_ > 0) platform::closeDescriptor(fd_);
        fd_ = -1;
    }

    testing::TempDir folder_;
    int fd_ = -1;
};

using LzssDecoderTest = BookFileTest;

TEST_F(LzssDecoderTest, GivesTheLibrarysTextOfTheStoredBytesWithZerosPastTheEnd) {
    std::mt19937 random(7);
    auto randomBytes = [&random](std::size_t size) {
        std::string bytes(size, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        return bytes;
    };
    std::string longText;
    for (int k = 0; k < 20000; ++k) longText += "{\\b " + std::to_string(k) + "} verse\\v1 x\\v0 \n";
    const std::string compressed = bookwriter::compressLzss(longText);  // more than one input chunk
    ASSERT_GT(compressed.size(), 1u << 16);
    struct Case {
        std::string stored;
        std::size_t missing;  // stored bytes past the end of the file
    };
    const Case cases[] = {
        {"", 0},
        {bookwriter::compressLzss("a"), 0},
        {bookwriter::compressLzss(std::string(5000, ' ')), 0},  // references to the initial ring buffer
        {compressed, 0},
        {compressed.substr(0, compressed.size() / 2), 0},         // cut inside the stream
        {compressed.substr(0, 100), 40},
        {compressed, (1 << 16) + 3},                              // whole chunks of zeros
        {"", 17},
        {std::string(64, '\xFF'), 0},
        {randomBytes(17), 0},
        {randomBytes(200000), 1},
    };
    const std::string gap = "sixteen + four..    ";
    LzssDecoder decoder;  // one decoder for all, as for the blocks of a book
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.stored.size() << " + " << c.missing);
        const int bookFile = open(gap + c.stored);
        GatheredText gathered;
        const auto storedSize = static_cast<std::uint32_t>(c.stored.size() + c.missing);
        decoder.decodeBlock(bookFile, static_cast<std::int64_t>(gap.size()), storedSize, gathered);
        EXPECT_EQ(gathered.text, WholeTextDecoder().decodeAll(c.stored + std::string(c.missing, '\0')));
    }
}

TEST_F(LzssDecoderTest, StopsReadingOnceTheTextIsNoLongerWanted) {
    const std::string stored = bookwriter::maximumExpansionLzss(std::size_t{4} << 20);
    GatheredText gathered;
    gathered.wantedPieces = 1;
    const int bookFile = open(stored);
    LzssDecoder().decodeBlock(bookFile, 0, static_cast<std::uint32_t>(stored.size()), gathered);
    EXPECT_EQ(gathered.pieces, 1);
    EXPECT_LT(platform::seekDescriptor(bookFile, 0, 1), static_cast<std::int64_t>(stored.size() / 8));
}

}  // namespace
}  // namespace quillon
