// SPDX-License-Identifier: GPL-2.0-or-later
// The command-line converter's logic, kept apart from main() so that tests
// can drive it in-process.
#pragma once

#include <ostream>
#include <string>

#include "engine/conversion.h"

namespace quillon::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitConversionFailed = 1,
    kExitUsage = 2,
};

struct CommandLine {
    enum class Action { convert, showHelp, showVersion, usageError };

    Action action = Action::usageError;
    ConversionRequest request;  // filled for Action::convert
    bool verbose = false;
    std::string error;  // for Action::usageError
};

CommandLine parseCommandLine(int argc, char* const argv[]);

// Runs the converter as `quillon-cli` would and returns its exit code.
int runCommandLine(int argc, char* const argv[], std::ostream& out, std::ostream& err);

extern const char kUsageLine[];

}  // namespace quillon::cli
