// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-make-book: builds a Step book folder from RTF block files, one
// index entry per file in the order given. With --repeat N the index lists
// the blocks N times over, every copy pointing at the one stored copy of its
// block: a small book that takes long to convert.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bookwriter/step_book_writer.h"

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int trailing = 1;
    int repeat = 1;
    while (args.size() >= 2 && (args[0] == "--trailing" || args[0] == "--repeat")) {
        (args[0] == "--trailing" ? trailing : repeat) = std::atoi(args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2 || repeat < 1) {
        std::cerr << "Usage: quillon-make-book [--trailing N] [--repeat N] BOOK_FOLDER BLOCK_FILE...\n";
        return 2;
    }

    std::vector<std::string> texts;
    for (auto file = args.begin() + 1; file != args.end(); ++file) {
        std::ifstream in(*file, std::ios::binary);
        if (!in) {
            std::cerr << "quillon-make-book: cannot read " << *file << '\n';
            return 1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        texts.push_back(text.str());
    }
    quillon::bookwriter::StepBookLayout layout = quillon::bookwriter::layoutOf(texts, trailing);
    // The stored blocks follow Book.dat's 16-byte header and its empty length-prefixed block.
    std::int32_t offset = 16 + 4;
    std::vector<quillon::bookwriter::BlockLayout> copies;
    for (const std::string& text : texts) {
        const auto storedSize = static_cast<std::int32_t>(quillon::bookwriter::compressLzss(text).size());
        copies.push_back({"", std::string(), offset, static_cast<std::int32_t>(text.size()), storedSize});
        offset += storedSize;
    }
    for (int round = 1; round < repeat; ++round) {
        layout.blocks.insert(layout.blocks.end(), copies.begin(), copies.end());
    }
    if (!quillon::bookwriter::writeStepBook(args[0], layout)) {
        std::cerr << "quillon-make-book: cannot write the book into " << args[0] << '\n';
        return 1;
    }
    return 0;
}
