// SPDX-License-Identifier: GPL-2.0-or-later
// Option parsing and the behaviour of quillon-cli.
#include "cli/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "cli/batch.h"
#include "cli/platform.h"

#include "quillon_version.h"

namespace quillon::cli {

const char kUsage[] =
    "Usage: quillon-cli [OPTIONS] BOOK_FOLDER OUTPUT_PATH\n"
    "  or:  quillon-cli [OPTIONS] BOOK_FOLDER -\n"
    "  or:  quillon-cli [OPTIONS] BOOK_FOLDER... OUTPUT_FOLDER\n"
    "  or:  quillon-cli [OPTIONS] --library LIBRARY_FOLDER OUTPUT_FOLDER\n";

namespace {

const char kHelpText[] =
    "Converts a Step book folder (Book.dat and Viewable.idx) into one RTF file,\n"
    "or several books into one folder.\n"
    "\n"
    "  BOOK_FOLDER     the folder holding the Step book\n"
    "  OUTPUT_PATH     the RTF file to write; a folder, or a path without a dot\n"
    "                  that does not exist yet, receives \"stepbook.rtf\"\n"
    "  -               write the RTF to standard output\n"
    "  BOOK_FOLDER...  two or more books: each becomes OUTPUT_FOLDER/<name of\n"
    "                  its folder>.rtf; the output folder must exist\n"
    "\n"
    "Options:\n"
    "  --no-markers   do not insert the section marker (the byte 0xF7, the division\n"
    "                 sign in code page 1252) at the beginning of each section\n"
    "  --keep-tags    keep the \\v0 and \\v1 RTF tags instead of stripping them\n"
    "  --library LIBRARY_FOLDER\n"
    "                 convert every book found below LIBRARY_FOLDER\n"
    "                 (a folder holding Book.dat and Viewable.idx, at any depth)\n"
    "                 into OUTPUT_FOLDER, whose sub-folders mirror the library's\n"
    "  -j, --jobs N   convert up to N books at once (default: the number of cores)\n"
    "  -v, --verbose  print a one-line summary of each file written\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Several books: a book that fails does not stop the others; each failure is\n"
    "one line on standard error, and a summary ends the run. On a terminal the\n"
    "progress is shown on standard error. Two books whose folders have the same\n"
    "name are refused (status 2) before any is converted.\n"
    "\n"
    "Exit status: 0 converted, 1 a conversion failed (the reason is printed on\n"
    "standard error; an existing output file is left as it was), 2 usage error.\n";

const char kVersionText[] = "quillon-cli " QUILLON_VERSION "\n" QUILLON_COPYRIGHT "\n"
    "License GPLv2+: GNU GPL version 2 or later <https://gnu.org/licenses/old-licenses/gpl-2.0.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

constexpr unsigned kMaxJobs = 64;

CommandLine usageError(std::string error) {
    CommandLine commandLine;
    commandLine.action = CommandLine::Action::usageError;
    commandLine.error = std::move(error);
    return commandLine;
}

unsigned defaultJobs() { return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxJobs); }

// 0 unless `text` is a whole number from 1 to kMaxJobs.
unsigned parseJobs(const std::string& text) {
    if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), ::isdigit)) return 0;
    const unsigned jobs = static_cast<unsigned>(std::stoul(text));
    return jobs <= kMaxJobs ? jobs : 0;
}

CommandLine withOperands(CommandLine commandLine, const std::vector<std::string>& operands) {
    const bool library = !commandLine.libraryFolder.empty();
    if (library ? operands.size() != 1 : operands.size() < 2) {
        if (library && operands.size() > 1) return usageError("unexpected argument '" + operands[1] + "'");
        return usageError(library ? "expected OUTPUT_FOLDER" : "expected BOOK_FOLDER and OUTPUT_PATH");
    }
    if (std::find(operands.begin(), operands.end(), "") != operands.end()) {
        return usageError("BOOK_FOLDER and OUTPUT_PATH must not be empty");
    }
    if (!library && operands.size() == 2) {
        commandLine.request.bookFolder = operands[0];
        commandLine.request.outputPath = operands[1];
        commandLine.toStandardOutput = operands[1] == "-";
        return commandLine;
    }
    if (operands.back() == "-") return usageError("standard output (-) takes a single book");
    commandLine.action = CommandLine::Action::convertBatch;
    commandLine.bookFolders.assign(operands.begin(), operands.end() - 1);
    commandLine.outputFolder = operands.back();
    return commandLine;
}

}  // namespace

CommandLine parseCommandLine(int argc, char* const argv[]) {
    enum { optNoMarkers = 1000, optKeepTags, optVerbose, optHelp, optVersion, optLibrary, optJobs };
    static const option longOptions[] = {
        {"no-markers", no_argument, nullptr, optNoMarkers},
        {"keep-tags", no_argument, nullptr, optKeepTags},
        {"verbose", no_argument, nullptr, optVerbose},
        {"library", required_argument, nullptr, optLibrary},
        {"jobs", required_argument, nullptr, optJobs},
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

    // The option the user typed: for a short one, possibly bundled with
    // others ("-qv"), its letter; for a long one, whose values lie above any
    // letter, the argument that holds it.
    const auto typed = [&]() -> std::string {
        if (optopt > 0 && optopt < 128) return std::string("-") + static_cast<char>(optopt);
        return optind > 0 && optind <= argc && args[optind - 1] != nullptr ? args[optind - 1] : "";
    };

    CommandLine commandLine;
    commandLine.action = CommandLine::Action::convert;
    commandLine.jobs = defaultJobs();
    int option;
    while ((option = getopt_long(argc, args.data(), ":vj:", longOptions, nullptr)) != -1) {
        switch (option) {
        case optNoMarkers: commandLine.request.insertMarkers = false; break;
        case optKeepTags: commandLine.request.stripTags = false; break;
        case 'v':
        case optVerbose: commandLine.verbose = true; break;
        case optLibrary:
            commandLine.libraryFolder = optarg;
            if (commandLine.libraryFolder.empty()) return usageError("LIBRARY_FOLDER must not be empty");
            break;
        case 'j':
        case optJobs:
            commandLine.jobs = parseJobs(optarg);
            if (commandLine.jobs == 0) {
                return usageError("the number of jobs must be from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                                  optarg + "'");
            }
            break;
        case optHelp: commandLine.action = CommandLine::Action::showHelp; return commandLine;
        case optVersion: commandLine.action = CommandLine::Action::showVersion; return commandLine;
        case ':':
            // Some getopt_long also report a value given to an option that takes none here.
            if (typed().find('=') == std::string::npos) return usageError("option '" + typed() + "' needs a value");
            return usageError("unrecognised option '" + typed() + "'");
        default: return usageError("unrecognised option '" + typed() + "'");
        }
    }
    return withOperands(std::move(commandLine), std::vector<std::string>(args.begin() + optind, args.begin() + argc));
}

int runCommandLine(int argc, char* const argv[], std::ostream& out, std::ostream& err,
                   const ProgramSetting& setting) {
    const CommandLine commandLine = parseCommandLine(argc, argv);
    switch (commandLine.action) {
    case CommandLine::Action::showHelp:
        out << kUsage << '\n' << kHelpText;
        return kExitSuccess;
    case CommandLine::Action::showVersion:
        out << kVersionText;
        return kExitSuccess;
    case CommandLine::Action::usageError:
        err << "quillon-cli: " << commandLine.error << '\n' << kUsage;
        return kExitUsage;
    case CommandLine::Action::convertBatch:
        return runBatch(commandLine, setting, out, err);
    case CommandLine::Action::convert:
        break;
    }

    ConversionRequest request = commandLine.request;
    if (commandLine.toStandardOutput) {
        // Standard output then carries the RTF alone.
        platform::makeStandardOutputBinary();
        request.outputStream = stdout;
        request.outputPath = "standard output";
    }
    const ConversionResult result = runConversion(request);
    if (!result.succeeded) {
        err << result.message << '\n';
        return kExitConversionFailed;
    }
    if (commandLine.verbose) {
        (commandLine.toStandardOutput ? err : out)
            << "quillon-cli: wrote " << result.blocksWritten << (result.blocksWritten == 1 ? " block" : " blocks")
            << " to " << result.outputPath << '\n';
    }
    return kExitSuccess;
}

}  // namespace quillon::cli
