// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-make-book: builds a Step book folder from RTF block files, one
// index entry per file in the order given.
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
    if (args.size() >= 2 && args[0] == "--trailing") {
        trailing = std::atoi(args[1].c_str());
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2) {
        std::cerr << "Usage: quillon-make-book [--trailing N] BOOK_FOLDER BLOCK_FILE...\n";
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
    if (!quillon::bookwriter::writeStepBook(args[0], quillon::bookwriter::layoutOf(texts, trailing))) {
        std::cerr << "quillon-make-book: cannot write the book into " << args[0] << '\n';
        return 1;
    }
    return 0;
}
