// SPDX-License-Identifier: GPL-2.0-or-later
// quillon-cli's option parsing; what the program then does is tested on the
// real program (program_posix_test.cpp, and under Wine cli_matches_linux.sh).
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace quillon::cli {
namespace {

struct Args {
    explicit Args(std::vector<std::string> args) : strings(std::move(args)) {
        strings.insert(strings.begin(), "quillon-cli");
        for (std::string& s : strings) pointers.push_back(s.data());
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    char* const* argv() const { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// The parsed command line in one line: the action, the options that are
// not at their defaults, and the operands.
std::string describe(const CommandLine& parsed) {
    using A = CommandLine::Action;
    switch (parsed.action) {
    case A::usageError: return "usage: " + parsed.error;
    case A::showHelp: return "help";
    case A::showVersion: return "version";
    case A::convert:
    case A::convertBatch: break;
    }
    std::string text = parsed.action == A::convert ? "convert" : "batch";
    if (!parsed.request.insertMarkers) text += " no-markers";
    if (!parsed.request.stripTags) text += " keep-tags";
    if (parsed.verbose) text += " verbose";
    if (parsed.toStandardOutput) text += " stdout";
    if (parsed.action == A::convert) return text + " " + parsed.request.bookFolder + " > " + parsed.request.outputPath;
    if (!parsed.libraryFolder.empty()) text += " library " + parsed.libraryFolder;
    for (const std::string& book : parsed.bookFolders) text += " " + book;
    return text + " > " + parsed.outputFolder + " j" + std::to_string(parsed.jobs);
}

TEST(ParseCommandLineTest, OptionsAndOperands) {
    const std::string cores = "j" + std::to_string(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"book", "out.rtf"}, "convert book > out.rtf"},
        {{"--no-markers", "book", "out.rtf"}, "convert no-markers book > out.rtf"},
        {{"--keep-tags", "-j", "3", "book", "out.rtf"}, "convert keep-tags book > out.rtf"},
        {{"--keep-tags", "--no-markers", "-v", "book", "out.rtf"}, "convert no-markers keep-tags verbose book > out.rtf"},
        {{"book", "out.rtf", "--verbose"}, "convert verbose book > out.rtf"},
        {{"--", "-book", "out.rtf"}, "convert -book > out.rtf"},
        {{"book", "-"}, "convert stdout book > -"},
        {{"-", "out.rtf"}, "convert - > out.rtf"},
        {{"a", "b", "out"}, "batch a b > out " + cores},
        {{"-vj2", "--keep-tags", "a", "b", "c", "out"}, "batch keep-tags verbose a b c > out j2"},
        {{"--library", "lib", "out", "--jobs=64"}, "batch library lib > out j64"},
        {{"--library=lib", "--no-markers", "out"}, "batch no-markers library lib > out " + cores},
        {{"--help"}, "help"},
        {{"book", "--version"}, "version"},
        {{}, "usage: expected BOOK_FOLDER and OUTPUT_PATH"},
        {{"book"}, "usage: expected BOOK_FOLDER and OUTPUT_PATH"},
        {{"--library", "lib"}, "usage: expected OUTPUT_FOLDER"},
        {{"--library", "lib", "a", "out"}, "usage: unexpected argument 'out'"},
        {{"--library", "", "out"}, "usage: LIBRARY_FOLDER must not be empty"},
        {{"a", "b", "-"}, "usage: standard output (-) takes a single book"},
        {{"", "out"}, "usage: BOOK_FOLDER and OUTPUT_PATH must not be empty"},
        {{"book", ""}, "usage: BOOK_FOLDER and OUTPUT_PATH must not be empty"},
        {{"a", "", "out"}, "usage: BOOK_FOLDER and OUTPUT_PATH must not be empty"},
        // The option named is the one the user typed, wherever it stands.
        {{"--strip", "book", "out"}, "usage: unrecognised option '--strip'"},
        {{"-x", "book", "out"}, "usage: unrecognised option '-x'"},
        {{"-qv", "book", "out"}, "usage: unrecognised option '-q'"},
        {{"book", "-vq", "out"}, "usage: unrecognised option '-q'"},
        {{"--no-markers", "-v4", "book", "out"}, "usage: unrecognised option '-4'"},
        {{"--verbose=yes", "book", "out"}, "usage: unrecognised option '--verbose=yes'"},
        {{"book", "out", "-j"}, "usage: option '-j' needs a value"},
        {{"book", "out", "--library"}, "usage: option '--library' needs a value"},
        {{"-j", "0", "a", "b", "out"}, "usage: the number of jobs must be from 1 to 64, not '0'"},
        {{"-j65", "a", "b", "out"}, "usage: the number of jobs must be from 1 to 64, not '65'"},
        {{"--jobs", "2x", "a", "b", "out"}, "usage: the number of jobs must be from 1 to 64, not '2x'"},
    };
    for (const auto& [args, expected] : cases) {
        const Args argv(args);
        EXPECT_EQ(describe(parseCommandLine(argv.argc(), argv.argv())), expected) << ::testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace quillon::cli
