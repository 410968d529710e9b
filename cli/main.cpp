// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli: converts a Step book folder into one RTF file.
#include <iostream>
#include <new>

#include "cli/command_line.h"

int main(int argc, char* argv[]) {
    // A run that runs out of memory reports it itself; this catches the rest
    // (reading the arguments, printing), where nothing has been written yet.
    try {
        return quillon::cli::runCommandLine(argc, argv, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "Not enough memory to run quillon-cli.\n";
        return quillon::cli::kExitConversionFailed;
    }
}
