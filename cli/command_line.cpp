// SPDX-License-Identifier: GPL-2.0-or-later
// Option parsing and the behaviour of quillon-cli.
#include "cli/command_line.h"

#include <getopt.h>

#include <vector>

namespace quillon::cli {

const char kUsageLine[] = "Usage: quillon-cli [--no-markers] [--keep-tags] [--verbose] BOOK_FOLDER OUTPUT_PATH";

namespace {

const char kHelpText[] =
    "Converts a Step book folder (Book.dat and Viewable.idx) into one RTF file.\n"
    "\n"
    "  BOOK_FOLDER    the folder holding the Step book\n"
    "  OUTPUT_PATH    the RTF file to write; a folder, or a path without a dot\n"
    "                 that does not exist yet, receives \"stepbook.rtf\"\n"
    "\n"
    "Options:\n"
    "  --no-markers   do not insert the section marker (the byte 0xF7, the division\n"
    "                 sign in code page 1252) at the beginning of each section\n"
    "  --keep-tags    keep the \\v0 and \\v1 RTF tags instead of stripping them\n"
    "  -v, --verbose  print a one-line summary after a successful conversion\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Exit status: 0 converted, 1 the conversion failed (the reason is printed on\n"
    "standard error; an existing output file is left as it was), 2 usage error.\n";

const char kVersionText[] = "quillon-cli 1.0\n";

CommandLine usageError(std::string error) {
    CommandLine commandLine;
    commandLine.action = CommandLine::Action::usageError;
    commandLine.error = std::move(error);
    return commandLine;
}

}  // namespace

CommandLine parseCommandLine(int argc, char* const argv[]) {
    enum { optNoMarkers = 1000, optKeepTags, optHelp, optVersion };
    static const option longOptions[] = {
        {"no-markers", no_argument, nullptr, optNoMarkers},
        {"keep-tags", no_argument, nullptr, optKeepTags},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, optHelp},
        {"version", no_argument, nullptr, optVersion},
        {nullptr, 0, nullptr, 0},
    };

    // getopt_long reorders its argument array and keeps global state; work on
    // a copy and start it afresh, so it can be called more than once.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    optind = 0;
    opterr = 0;

    CommandLine commandLine;
    commandLine.action = CommandLine::Action::convert;
    int option;
    while ((option = getopt_long(argc, args.data(), "v", longOptions, nullptr)) != -1) {
        switch (option) {
        case optNoMarkers: commandLine.request.insertMarkers = false; break;
        case optKeepTags: commandLine.request.stripTags = false; break;
        case 'v': commandLine.verbose = true; break;
        case optHelp: commandLine.action = CommandLine::Action::showHelp; return commandLine;
        case optVersion: commandLine.action = CommandLine::Action::showVersion; return commandLine;
        default: {
            const std::string given = args[optind - 1] != nullptr ? args[optind - 1] : "";
            return usageError("unrecognised option '" + given + "'");
        }
        }
    }

    const int operands = argc - optind;
    if (operands != 2) {
        return usageError(operands < 2 ? "expected BOOK_FOLDER and OUTPUT_PATH"
                                       : "unexpected argument '" + std::string(args[optind + 2]) + "'");
    }
    commandLine.request.bookFolder = args[optind];
    commandLine.request.outputPath = args[optind + 1];
    if (commandLine.request.bookFolder.empty()) return usageError("BOOK_FOLDER must not be empty");
    if (commandLine.request.outputPath.empty()) return usageError("OUTPUT_PATH must not be empty");
    return commandLine;
}

int runCommandLine(int argc, char* const argv[], std::ostream& out, std::ostream& err) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::showHelp:
        out << kUsageLine << "\n\n" << kHelpText;
        return kExitSuccess;
    case CommandLine::Action::showVersion:
        out << kVersionText;
        return kExitSuccess;
    case CommandLine::Action::usageError:
        err << "quillon-cli: " << commandLine.error << '\n' << kUsageLine << '\n';
        return kExitUsage;
    case CommandLine::Action::convert:
        break;
    }

    const ConversionResult result = runConversion(commandLine.request);
    if (!result.succeeded) {
        err << result.message << '\n';
        return kExitConversionFailed;
    }
    if (commandLine.verbose) {
        out << "quillon-cli: wrote " << result.blocksWritten << (result.blocksWritten == 1 ? " block" : " blocks")
            << " to " << result.outputPath << '\n';
    }
    return kExitSuccess;
}

}  // namespace quillon::cli
