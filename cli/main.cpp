// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli: converts a Step book folder into one RTF file.
#include <iostream>

#include "cli/command_line.h"
#include "cli/platform.h"
#include "engine/platform.h"

int main(int argc, char* argv[]) {
    namespace cli = quillon::cli;
    quillon::platform::removeTemporaryFilesOnInterrupt();
    return cli::runCommandLine(argc, argv, std::cout, std::cerr,
                               {cli::platform::ownExecutable(), cli::platform::standardErrorIsTerminal()});
}
