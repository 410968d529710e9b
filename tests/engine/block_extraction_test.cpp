// SPDX-License-Identifier: GPL-2.0-or-later
// One block's way to the output: the picture cut, the tag filter, zero bytes,
// line feeds, and stored bytes that do not match the entry's sizes.
#include "engine/block_extraction.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/test_support.h"

using namespace std::string_literals;

namespace quillon {
namespace {

using bookwriter::BlockLayout;
using bookwriter::StepBookLayout;
using testing::asOutputLine;
using testing::convertLayout;

TEST(CutAtPictureTest, EndsTheTextBeforeTheFirstPictureGroup) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text"},
        {"{\\pict\\wmetafile8 0102}rest", ""},
        {"before{\\pict 01}middle{\\pict 02}after", "before"},
        {"{\\b outer {\\pict 0102} inner} tail", "{\\b outer "},
        {"capitals {\\PICT 01} stay", "capitals {\\PICT 01} stay"},
        {"no brace \\pict 01 stays", "no brace \\pict 01 stays"},
        {"split { \\pict stays", "split { \\pict stays"},
        {"ends in {\\pic", "ends in {\\pic"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(cutAtPicture(text), expected) << text;
}

// removeAll exactly as its rule reads: erase, then search again one byte past
// where the removed occurrence began.
std::string removeAllByTheRule(std::string text, const std::string& needle) {
    std::size_t pos = text.find(needle);
    while (pos != std::string::npos) {
        text.erase(pos, needle.size());
        pos = text.find(needle, pos + 1);
    }
    return text;
}

TEST(RemoveAllTest, FollowsTheSearchAgainFromTheNextByteRule) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {"a\\v1 b", "ab"},
        {"\\v1 start and end\\v1 ", "start and end"},
        {"\\v1 ", ""},
        {"\\v1 \\v1 ", "\\v1 "},                                  // two in a row leave one
        {"\\v1 \\v1 \\v1 ", "\\v1 "},                             // three leave one
        {"\\v1 \\v1 \\v1 \\v1 ", "\\v1 \\v1 "},                    // four leave two
        {"\\v1 \\v1 \\v1 \\v1 \\v1 ", "\\v1 \\v1 "},               // five leave two
        {"x\\v1 y\\v1 z", "xyz"},                                 // separated by one byte: both go
        {"\\v\\v1 1 ", "\\v1 "},                                  // a needle formed by a removal stays
        {"\\v1\\par \\v1}", "\\v1\\par \\v1}"},                   // no space: not a tag
        {"ends in \\v1", "ends in \\v1"},
        {"\\\\v1 escaped", "\\escaped"},                          // raw bytes, RTF escaping ignored
        {"no tags at all", "no tags at all"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        removeAll(text, "\\v1 ");
        EXPECT_EQ(text, c.expected) << c.text;
    }
}

TEST(RemoveAllTest, MatchesTheRuleOnRandomTagDenseText) {
    // Texts built from pieces of the tags, so that adjacency and joins are common.
    const std::string pieces[] = {"\\v1 ", "\\v0 ", "\\", "v", "1", "0", " ", "\\v", "1 ", "0 ", "x"};
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) text += pieces[random() % std::size(pieces)];
        for (const std::string needle : {"\\v1 ", "\\v0 "}) {
            std::string actual = text;
            removeAll(actual, needle);
            ASSERT_EQ(actual, removeAllByTheRule(text, needle)) << "text: " << text << " needle: " << needle;
        }
    }
}

TEST(EntryFitsBookTest, RefusesEntriesOutsideTheFile) {
    struct Case {
        std::int32_t offset, stored;
        bool fits;
    };
    const Case cases[] = {
        {0, 0, true},       {99, 1, true},     {99, 100, true},   // runs past the end: read short
        {100, 0, false},    {-1, 10, false},   {10, -1, false},
        {10, 101, false},   {INT32_MAX, 1, false}, {0, INT32_MAX, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(entryFitsBook({c.offset, 0, c.stored}, 100), c.fits) << c.offset << "/" << c.stored;
    }
}

// What the SWORD library's own buffer holds after decompressing `stored`.
std::string decompressedBySword(std::string stored) {
    sword::LZSSCompress decompressor;
    stored += '\0';  // never a null buffer, as the engine does it
    unsigned long storedLength = stored.size() - 1;
    decompressor.setCompressedBuf(&storedLength, stored.data());
    unsigned long textLength = 0;
    const char* text = decompressor.getUncompressedBuf(&textLength);
    return std::string(text, textLength);
}

TEST(LzssDecoderTest, GivesTheLibrarysTextForAnyStoredBytes) {
    std::mt19937 random(7);
    auto randomBytes = [&random](std::size_t size) {
        std::string bytes(size, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random());
        return bytes;
    };
    std::string longText;
    for (int k = 0; k < 3000; ++k) longText += "{\\b " + std::to_string(k) + "} verse\\v1 x\\v0 \n";
    const std::string compressed = bookwriter::compressLzss(longText);
    const std::string stored[] = {
        "",
        bookwriter::compressLzss("a"),
        bookwriter::compressLzss(std::string(5000, ' ')),  // references to the ring buffer's initial spaces
        compressed,
        compressed.substr(0, compressed.size() / 2),        // cut inside the stream
        compressed + std::string(40, '\0'),                 // zero-padded like a short read
        std::string(64, '\0'),
        std::string(64, '\xFF'),
        randomBytes(1),
        randomBytes(17),
        randomBytes(100000),
    };
    LzssDecoder decoder;  // one decoder for all, as for the blocks of a book
    for (const std::string& bytes : stored) {
        SCOPED_TRACE(bytes.size());
        std::string input = bytes + '\0';
        EXPECT_EQ(decoder.decompress(input.data(), bytes.size()), decompressedBySword(bytes));
    }
}

// Converts a book whose only body block is `block`, between a plain first
// block and a trailing block, and returns what the body block became.
std::string bodyBlockOutput(const BlockLayout& block, bool strip) {
    StepBookLayout layout = bookwriter::layoutOf({"first", "", "last"}, 1);
    layout.blocks[1] = block;
    const testing::Converted converted = convertLayout(layout, false, strip);
    EXPECT_TRUE(converted.result.succeeded) << converted.result.message;
    const std::string& out = converted.output;
    const std::string head = "first\r\n", tail = "last\r\n";
    if (out.size() < head.size() + tail.size() || out.compare(0, head.size(), head) != 0 ||
        out.compare(out.size() - tail.size(), tail.size(), tail) != 0) {
        ADD_FAILURE() << "unexpected output: " << out;
        return {};
    }
    return out.substr(head.size(), out.size() - head.size() - tail.size());
}

std::string bodyBlockOutput(const std::string& text, bool strip) {
    return bodyBlockOutput(BlockLayout{text, {}, {}, {}, {}}, strip);
}

TEST(ExtractBlockTest, WritesTheBlockTextAndALineBreak) {
    struct Case {
        std::string text;
        bool strip;
        std::string expected;
    };
    const Case cases[] = {
        {"{\\b bold} text", false, "{\\b bold} text\r\n"},
        {"", false, "\r\n"},
        {"{\\pict 0102}", false, "\r\n"},
        {"keep{\\pict 01}gone{\\pict 02}", false, "keep\r\n"},
        {"zero\0byte ends it"s, false, "zero\r\n"},
        {"line\nfeed", false, "line\r\nfeed\r\n"},
        {"cr\r\nlf", false, "cr\r\r\nlf\r\n"},
        {"a\\v1 hidden\\v0 b", true, "ahiddenb\r\n"},
        {"a\\v1 hidden\\v0 b", false, "a\\v1 hidden\\v0 b\r\n"},
        {"\\v\\v0 1 x", true, "\\v1 x\r\n"},      // a \v1 formed by the \v0 pass stays
        {"\\v\\v1 0 x", true, "x\r\n"},           // a \v0 formed by the \v1 pass is removed
        {"\\v1 {\\pict \\v1 }", true, "\r\n"},    // the cut comes before the filter
        {"\xF7\x80\xFF high bytes", false, "\xF7\x80\xFF high bytes\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(bodyBlockOutput(c.text, c.strip), c.expected) << c.text;
}

TEST(ExtractBlockTest, TrustsTheDecompressedTextOverTheEntrysSizes) {
    const std::string text(5000, 'w');
    BlockLayout understated{text, {}, {}, {}, {}};
    understated.uncompressedSize = 10;
    EXPECT_EQ(bodyBlockOutput(understated, false), text + "\r\n");

    BlockLayout negative{text, {}, {}, {}, {}};
    negative.uncompressedSize = -7;
    EXPECT_EQ(bodyBlockOutput(negative, false), text + "\r\n");
}

TEST(ExtractBlockTest, EmptyStoredBlockGivesAnEmptyLineNotThePreviousText) {
    BlockLayout empty{"", std::string(), {}, {}, {}};
    EXPECT_EQ(bodyBlockOutput(empty, false), "\r\n");
}

TEST(ExtractBlockTest, BlockRunningPastTheEndOfBookDatIsReadShort) {
    StepBookLayout layout = bookwriter::layoutOf({"first", "the last block's own text"}, 1);
    const std::string stored = bookwriter::compressLzss(layout.blocks[1].text);
    layout.blocks[1].storedSize = static_cast<std::int32_t>(stored.size() + 20);
    const testing::Converted converted = convertLayout(layout, false, false);
    ASSERT_TRUE(converted.result.succeeded) << converted.result.message;
    EXPECT_EQ(converted.output.rfind("first\r\nthe last block's own text", 0), 0u) << converted.output;
    EXPECT_EQ(converted.output.substr(converted.output.size() - 2), "\r\n");
}

}  // namespace
}  // namespace quillon
