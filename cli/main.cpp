// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli: converts a Step book folder into one RTF file.
#include <iostream>
#include <new>

#include "cli/command_line.h"
#include "cli/platform.h"
#include "engine/platform.h"

int main(int argc, char* argv[]) {
    namespace cli = quillon::cli;
    quillon::platform::removeTemporaryFilesOnInterrupt();
    // A conversion that runs out of memory reports it itself; this catches
    // the rest (reading the arguments, finding books, printing).
    try {
        return cli::runCommandLine(argc, argv, std::cout, std::cerr,
                                   {cli::platform::ownExecutable(), cli::platform::standardErrorIsTerminal()});
    } catch (const std::bad_alloc&) {
        std::cerr << "Not enough memory to run quillon-cli.\n";
        return cli::kExitConversionFailed;
    }
}
