// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-fuzz-seeds: writes the fuzzer's starting corpus, well-formed Step
// books of several shapes made with the book writer, into a folder.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tools/bookwriter/step_book_writer.h"

namespace {

using quillon::bookwriter::BlockLayout;
using quillon::bookwriter::compressLzss;
using quillon::bookwriter::layoutOf;
using quillon::bookwriter::StepBookLayout;

struct Seed {
    std::string name;
    StepBookLayout layout;
    quillon::fuzz::FuzzOptions options;
};

std::string verse(int number) {
    return "{\\b " + std::to_string(number) + "}\\v1 <" + std::to_string(number) +
           ">\\v0  The Lord is my shepherd; I shall not want.\\par\n";
}

std::vector<Seed> seeds() {
    std::vector<Seed> list;
    const std::string opening = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n";

    std::vector<std::string> psalm = {opening};
    for (int k = 1; k <= 6; ++k) psalm.push_back(verse(k));
    psalm.push_back("}");
    list.push_back({"psalm", layoutOf(psalm, 1), {true, true, false}});
    list.push_back({"psalm-kept-tags-no-markers", layoutOf(psalm, 1), {false, false, true}});
    list.push_back({"psalm-all-trailing", layoutOf(psalm, 7), {true, true, false}});

    list.push_back({"single-block", layoutOf({opening + verse(1) + "}"}, 0), {true, true, false}});

    std::vector<std::string> tiny;
    for (int k = 0; k < 40; ++k) tiny.push_back(std::string(1, static_cast<char>('a' + k % 26)));
    list.push_back({"many-tiny-blocks", layoutOf(tiny, 3), {true, true, true}});

    std::string dense;
    for (int k = 0; k < 200; ++k) dense += k % 3 ? "\\v1 \\v0 " : "\\v1 \\v1 x\\v0 \\v0 ";
    list.push_back({"dense-tags", layoutOf({opening, dense, "}"}, 1), {true, true, false}});

    list.push_back({"picture-and-zero",
                    layoutOf({opening, "text{\\pict\\wmetafile8 0a0b}after", std::string("cut\0here", 8), "}"}, 1),
                    {true, true, false}});
    list.push_back({"empty-blocks", layoutOf({"", "", "{\\rtf1 ", "", "", "}"}, 2), {true, false, false}});

    StepBookLayout odd = layoutOf(psalm, 2);
    odd.bookHeaderLength = 40;
    odd.indexFileHeaderLength = 17;
    odd.indexHeaderLength = 24;
    odd.unnamedFieldByte = 0xC3;
    odd.prefixedContent = "prefixed content";
    odd.gapBeforeBlocks = "gap";
    odd.bytesAfterEntries = std::string(7, '\x01');
    list.push_back({"odd-header-lengths", odd, {true, true, false}});

    // Later entries reuse the stored bytes of the first two; one entry's
    // stored bytes run past the end of Book.dat and are read short.
    StepBookLayout shared = layoutOf({opening, verse(1) + verse(2)}, 1);
    const std::int32_t firstOffset = 16 + 4;
    const auto openingSize = static_cast<std::int32_t>(compressLzss(opening).size());
    const auto verseSize = static_cast<std::int32_t>(compressLzss(verse(1) + verse(2)).size());
    for (int k = 0; k < 4; ++k) {
        shared.blocks.insert(shared.blocks.end() - 1,
                             BlockLayout{"", std::string(), firstOffset + openingSize, 999999, verseSize});
    }
    shared.blocks.back().storedSize = verseSize + 50;
    shared.blocks.back().uncompressedSize = -1;
    list.push_back({"shared-and-short-read", shared, {true, true, false}});

    StepBookLayout bomb = layoutOf({opening, "", "}"}, 1);
    bomb.blocks[1].storedBytes = quillon::bookwriter::maximumExpansionLzss(4000);
    list.push_back({"largest-expansion", bomb, {true, true, false}});
    return list;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "Usage: quillon-fuzz-seeds FOLDER\n";
        return 2;
    }
    for (const Seed& seed : seeds()) {
        const quillon::bookwriter::StepBookFiles files = quillon::bookwriter::buildStepBook(seed.layout);
        const std::string input = quillon::fuzz::joinFuzzInput(seed.options, files.bookDat, files.viewableIdx);
        std::ofstream out(std::string(argv[1]) + "/" + seed.name, std::ios::binary | std::ios::trunc);
        out.write(input.data(), static_cast<std::streamsize>(input.size()));
        if (!out.flush()) {
            std::cerr << "quillon-fuzz-seeds: cannot write " << seed.name << " into " << argv[1] << '\n';
            return 1;
        }
    }
    return 0;
}
