// SPDX-License-Identifier: GPL-2.0-or-later
// The command-line converter's logic, kept apart from main() so that tests
// can drive it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/conversion.h"

namespace quillon::cli {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitConversionFailed = 1,
    kExitUsage = 2,
};

struct CommandLine {
    enum class Action { convert, convertBatch, showHelp, showVersion, usageError };

    Action action = Action::usageError;
    ConversionRequest request;  // convert: the whole request; convertBatch: the two options
    bool toStandardOutput = false;  // convert: OUTPUT_PATH is "-"
    bool verbose = false;

    // convertBatch: the books, named one by one or found below libraryFolder,
    // each converted into outputFolder, `jobs` of them at once.
    std::vector<std::string> bookFolders;
    std::string libraryFolder;
    std::string outputFolder;
    unsigned jobs = 1;

    std::string error;  // for Action::usageError
};

CommandLine parseCommandLine(int argc, char* const argv[]);

// What a run needs to know of the process it runs in.
struct ProgramSetting {
    std::string executable;          // this program, started once for each book of a batch
    bool stderrIsTerminal = false;   // a batch then shows its progress there
};

// Runs the converter as `quillon-cli` would and returns its exit code.
int runCommandLine(int argc, char* const argv[], std::ostream& out, std::ostream& err,
                   const ProgramSetting& setting = {});

extern const char kUsage[];

}  // namespace quillon::cli
