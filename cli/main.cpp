// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli: converts a Step book folder into one RTF file.
#include <iostream>

#include "cli/command_line.h"
#include "engine/platform.h"

int main(int argc, char* argv[]) {
    quillon::platform::removeTemporaryFilesOnInterrupt();
    return quillon::cli::runCommandLine(argc, argv, std::cout, std::cerr);
}
