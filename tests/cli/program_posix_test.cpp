// SPDX-License-Identifier: GPL-2.0-or-later
// The real quillon-cli program in a child process: every form of its command
// line with its exit codes and output, an interrupted batch of books, and
// write failures.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "cli/cli_child.h"
#include "cli/command_line.h"
#include "engine/test_support.h"

namespace quillon::cli {
namespace {

namespace fs = std::filesystem;
using testing::ChildOutcome;
using testing::readFile;
using testing::runCli;
using testing::TempDir;

const std::string kAdvice =
    ".\n\nDid you select the folder containing your Step Book? Step books consist of multiple files in the same "
    "folder.";

// Every file below `folder`, by its path relative to it, with its content.
std::map<std::string, std::string> filesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    }
    return files;
}

// A book whose body block holds its folder's name, so that each output shows
// which book it came from.
void writeNamedBook(const fs::path& folder) {
    fs::create_directories(folder);
    const std::string name = folder.filename().string();
    ASSERT_TRUE(bookwriter::writeStepBook(folder.string(), bookwriter::layoutOf({"{\\rtf1 ", name + "\\v1 !", "}"})));
}

// What writeNamedBook's book becomes with both options on, and with both off.
std::string converted(const std::string& name) { return "{\\rtf1 \r\n" + name + "!\r\n\xF7}\r\n"; }
std::string convertedPlain(const std::string& name) { return "{\\rtf1 \r\n" + name + "\\v1 !\r\n}\r\n"; }

// A library: books at three depths, a folder with Book.dat alone, an empty
// folder and a damaged book; and elsewhere a book named like one of them.
class ProgramRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* book : {"Psalms", "Shelf/Hymns", "Shelf/Deeper/Proverbs"}) writeNamedBook(lib_.path() / book);
        writeNamedBook(other_.path() / "Hymns");
        fs::create_directories(lib_.path() / "Shelf/Notes");
        fs::create_directories(lib_.path() / "Empty");
        fs::copy(lib_.path() / "Psalms/Book.dat", lib_.path() / "Shelf/Notes");
        writeNamedBook(lib_.path() / "Broken");
        fs::resize_file(lib_.path() / "Broken/Viewable.idx", 40);
        brokenMessage_ = runConversion({lib("Broken"), out_.file("x.rtf")}).message;
    }

    std::string lib(const std::string& relative) const { return lib_.file(relative); }
    std::string out(const std::string& relative) const { return out_.file(relative); }

    TempDir lib_, other_, out_;
    std::string brokenMessage_;  // the single-book refusal of the damaged book
};

TEST_F(ProgramRunTest, EveryFormOfTheCommandLine) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string out, err;
        std::map<std::string, std::string> written;  // below the output folder afterwards
        std::string standardOutput = {};             // a file standard output goes to
    };
    const std::string missingBook = "Could not open file: " + lib("Nothing/Book.dat") + kAdvice;
    const std::string brokenLine = "quillon-cli: " + lib("Broken") + ": " + brokenMessage_ + "\n";
    const Case cases[] = {
        {"one book into a file", {lib("Psalms"), out("a.rtf")}, 0, "", "", {{"a.rtf", converted("Psalms")}}},
        {"one book to standard output", {lib("Psalms"), "-"}, 0, converted("Psalms"), "", {}},
        {"-v keeps standard output for the RTF",
         {"-v", lib("Psalms"), "-"}, 0, converted("Psalms"), "quillon-cli: wrote 3 blocks to standard output\n", {}},
        {"a missing book to standard output", {lib("Nothing"), "-"}, 1, "", missingBook + "\n", {}},
        {"a damaged book to standard output", {lib("Broken"), "-"}, 1, "", brokenMessage_ + "\n", {}},
        {"standard output that takes nothing",
         {lib("Psalms"), "-"}, 1, "", "Could not write to standard output\n", {}, "/dev/full"},
        {"a device that takes nothing", {lib("Psalms"), "/dev/full"}, 1, "", "Could not write file: /dev/full\n", {}},
        {"several books into a folder, with the options",
         {"--no-markers", "--keep-tags", lib("Psalms"), lib("Shelf/Hymns"), out_.str()}, 0, "",
         "2 books converted, 0 failed\n", {{"Psalms.rtf", convertedPlain("Psalms")}, {"Hymns.rtf", convertedPlain("Hymns")}}},
        {"failed books among several, one line each",
         {"-v", "-j", "1", lib("Psalms"), lib("Nothing"), lib("Broken"), out_.str()}, 1,
         "quillon-cli: wrote 3 blocks to " + out("Psalms.rtf") + "\n",
         "quillon-cli: " + lib("Nothing") + ": Could not open file: " + lib("Nothing/Book.dat") +
             ". Did you select the folder containing your Step Book? Step books consist of multiple files in the "
             "same folder.\n" + brokenLine + "1 book converted, 2 failed\n",
         {{"Psalms.rtf", converted("Psalms")}}},
        {"two books of the same name", {lib("Shelf/Hymns"), other_.file("Hymns"), out_.str()}, 2, "",
         "quillon-cli: " + lib("Shelf/Hymns") + " and " + other_.file("Hymns") + " would both be written to " +
             out("Hymns.rtf") + "; nothing was converted\n",
         {}},
        {"a library: books at any depth, folders that are no book left alone", {"--library", lib_.str(), out_.str()},
         1, "", brokenLine + "3 books converted, 1 failed\n",
         {{"Psalms.rtf", converted("Psalms")},
          {"Shelf/Hymns.rtf", converted("Hymns")},
          {"Shelf/Deeper/Proverbs.rtf", converted("Proverbs")}}},
        {"a library without a book", {"--library", lib("Empty"), out_.str()}, 1, "",
         "quillon-cli: no Step book (a folder holding Book.dat and Viewable.idx) found in " + lib("Empty") + "\n", {}},
        {"a usage error", {lib("Psalms")}, 2, "", "quillon-cli: expected BOOK_FOLDER and OUTPUT_PATH\n" + std::string(kUsage),
         {}},
        {"an output folder that does not exist", {lib("Psalms"), lib("Shelf/Hymns"), out("none")}, 1, "",
         "quillon-cli: OUTPUT_FOLDER must be an existing folder: " + out("none") + "\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out_.path());
        fs::create_directory(out_.path());
        testing::ChildLimits settings;
        settings.standardOutput = c.standardOutput;
        const ChildOutcome outcome = runCli(c.args, settings);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(filesBelow(out_.path()), c.written);
    }
}

// The lines a terminal shows after receiving `text`: a carriage return
// goes back to the start of the line, which later characters overwrite.
std::vector<std::string> screenLines(const std::string& text) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char c : text) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            lines.back().resize(std::max(lines.back().size(), column + 1), ' ');
            lines.back()[column++] = c;
        }
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    return lines;
}

TEST_F(ProgramRunTest, OnATerminalEachBookIsShownAndTheProgressClearedAway) {
    testing::ChildLimits settings;
    settings.standardErrorOnTerminal = true;
    const ChildOutcome outcome = runCli({"-j", "1", "--library", lib_.str(), out_.str()}, settings);
    EXPECT_EQ(outcome.exitCode, 1);
    for (const char* book : {"1 of 4: Broken", "2 of 4: Psalms", "3 of 4: Shelf/Deeper/Proverbs", "4 of 4: Shelf/Hymns"}) {
        EXPECT_NE(outcome.err.find(std::string("\rbook ") + book), std::string::npos) << book << " in " << outcome.err;
    }
    const std::vector<std::string> shown = {"quillon-cli: " + lib("Broken") + ": " + brokenMessage_,
                                            "3 books converted, 1 failed", ""};
    EXPECT_EQ(screenLines(outcome.err), shown);
}

// The first child process of `parent`, or 0.
pid_t firstChild(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    pid_t child = 0;
    return children >> child ? child : 0;
}

TEST_F(ProgramRunTest, AnInterruptedBatchEndsItsChildrenAndThenDiesOfTheSignal) {
    // The copy converting Psalms waits in opening its output, a FIFO that
    // nobody reads: only the interrupt passed on to it can end it.
    ASSERT_EQ(::mkfifo(out("Psalms.rtf").c_str(), 0644), 0);
    testing::ChildLimits limits;
    limits.seconds = 20;
    testing::Child batch(testing::cliCommand({"-j", "1", lib("Psalms"), lib("Shelf/Hymns"), out_.str()}), limits);
    pid_t copy = 0;
    for (int k = 0; k < 10000 && copy == 0; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        copy = firstChild(batch.pid());
    }
    ASSERT_NE(copy, 0) << "the batch started no copy of itself";

    ::kill(batch.pid(), SIGTERM);
    const ChildOutcome outcome = batch.finish();
    EXPECT_EQ(outcome.signal, SIGTERM) << "exit code " << outcome.exitCode << ", stderr: " << outcome.err;
    const bool copyGone = ::kill(copy, 0) == -1;
    if (!copyGone) ::kill(copy, SIGKILL);
    EXPECT_TRUE(copyGone) << "the copy outlived the batch";
    EXPECT_FALSE(fs::exists(out("Hymns.rtf"))) << "the batch went on after the interrupt";
}

TEST_F(ProgramRunTest, AFileSizeLimitIsAWriteFailureEvenWhenOnlyTheLastByteIsRefused) {
    std::vector<std::string> texts = {"{\\rtf1 "};
    for (int k = 0; k < 50; ++k) texts.push_back(std::string(4000, static_cast<char>('a' + k % 26)));
    texts.push_back("}");
    ASSERT_TRUE(bookwriter::writeStepBook(lib("Psalms"), bookwriter::layoutOf(texts, 1)));
    ASSERT_EQ(runCli({lib("Psalms"), out("whole.rtf")}).exitCode, 0);
    const auto size = static_cast<rlim_t>(fs::file_size(out("whole.rtf")));
    fs::remove(out("whole.rtf"));
    // The limit refuses the first write outright, or only the last byte of
    // the last write: a write that stores less than it was given.
    for (const rlim_t limit : {rlim_t{100000}, size - 1}) {
        SCOPED_TRACE(::testing::Message() << "limit " << limit << " of " << size << " bytes");
        testing::writeFile(out("kept.rtf"), "precious");
        testing::ChildLimits limits;
        limits.fileSize = limit;
        const ChildOutcome limited = runCli({lib("Psalms"), out("kept.rtf")}, limits);
        EXPECT_EQ(limited.exitCode, 1);
        EXPECT_EQ(limited.err, "Could not write file: " + out("kept.rtf") + "\n");
        EXPECT_EQ(readFile(out("kept.rtf")), "precious");
        EXPECT_EQ(testing::folderNames(out_.path()), std::vector<std::string>{"kept.rtf"}) << "no stray files";
    }
}

}  // namespace
}  // namespace quillon::cli
