// SPDX-License-Identifier: GPL-2.0-or-later
// Several books in one run: which books, where each one's RTF goes, and the
// copies of this program that convert them.
#include "cli/batch.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cli/platform.h"
#include "engine/conversion.h"
#include "engine/platform.h"

namespace quillon::cli {
namespace {

struct Job {
    std::string bookFolder;
    std::string label;                       // how the progress line names the book
    std::vector<std::string> foldersToMake;  // for the output, outermost first
    std::string outputPath;
};

// What a batch prints: failure lines and the summary on standard error, the
// converting copies' -v lines on standard output, and, on a terminal, one
// progress line on standard error that is rewritten in place.
class Report {
public:
    Report(std::ostream& out, std::ostream& err, bool showProgress)
        : out_(out), err_(err), showProgress_(showProgress) {}

    void progress(std::size_t number, std::size_t total, const std::string& label) {
        if (!showProgress_) return;
        std::string line = "book " + std::to_string(number) + " of " + std::to_string(total) + ": " + label;
        line.resize(std::min<std::size_t>(line.size(), 79));
        const std::size_t width = line.size();
        line.resize(std::max(width, progressWidth_), ' ');
        err_ << '\r' << line << std::flush;
        progressWidth_ = width;
    }

    void failure(const std::string& folder, const std::string& message) {
        clearProgress();
        err_ << "quillon-cli: " << folder << ": " << message << '\n' << std::flush;
    }

    void written(const std::string& printed) {
        if (printed.empty()) return;
        clearProgress();
        out_ << printed << std::flush;
    }

    void summary(std::size_t converted, std::size_t failed) {
        clearProgress();
        err_ << converted << (converted == 1 ? " book" : " books") << " converted, " << failed << " failed\n";
    }

private:
    void clearProgress() {
        if (progressWidth_ == 0) return;
        err_ << '\r' << std::string(progressWidth_, ' ') << '\r' << std::flush;
        progressWidth_ = 0;
    }

    std::ostream& out_;
    std::ostream& err_;
    const bool showProgress_;
    std::size_t progressWidth_ = 0;
};

// What a child printed, as one line: its line breaks become single spaces.
std::string oneLine(const std::string& text) {
    std::string line;
    bool lineBreak = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            lineBreak = !line.empty();
            continue;
        }
        if (lineBreak) line += ' ';
        lineBreak = false;
        line += c;
    }
    return line;
}

std::string failureMessage(const platform::ChildEnd& end) {
    const std::string printed = oneLine(end.printed);
    if (!end.abnormalEnd.empty()) {
        return "the conversion ended abnormally (" + end.abnormalEnd + ")" + (printed.empty() ? "" : ": " + printed);
    }
    return printed.empty() ? "the conversion failed (exit status " + std::to_string(end.exitCode) + ")" : printed;
}

// Adds the book in `folder`, if it is one, and those below it. `relative`
// holds the names of the folders from the library down to `folder`.
void findBooks(const std::string& folder, std::vector<std::string>& relative, const std::string& outputFolder,
               std::vector<Job>& jobs, std::vector<std::string>& unreadable) {
    if (isStepBookFolder(folder)) {
        Job job;
        job.bookFolder = folder;
        std::string output = outputFolder;
        for (std::size_t i = 0; i + 1 < relative.size(); ++i) {
            output = platform::childPath(output, relative[i]);
            job.foldersToMake.push_back(output);
        }
        const std::string name = relative.empty() ? platform::folderName(folder) : relative.back();
        job.outputPath = platform::childPath(output, name + ".rtf");
        for (const std::string& part : relative) job.label = job.label.empty() ? part : platform::childPath(job.label, part);
        if (job.label.empty()) job.label = name;
        jobs.push_back(job);
    }
    std::optional<std::vector<std::string>> names = platform::subfolderNames(folder);
    if (!names) {
        unreadable.push_back(folder);
        return;
    }
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) {
        relative.push_back(name);
        findBooks(platform::childPath(folder, name), relative, outputFolder, jobs, unreadable);
        relative.pop_back();
    }
}

std::vector<std::string> childArguments(const CommandLine& commandLine, const Job& job) {
    std::vector<std::string> arguments;
    if (!commandLine.request.insertMarkers) arguments.push_back("--no-markers");
    if (!commandLine.request.stripTags) arguments.push_back("--keep-tags");
    if (commandLine.verbose) arguments.push_back("-v");
    arguments.insert(arguments.end(), {"--", job.bookFolder, job.outputPath});
    return arguments;
}

struct Tally {
    std::size_t converted = 0;
    std::size_t failed = 0;
};

// Converts the books, each by a copy of this program, at most
// commandLine.jobs at once. An interrupt ends the children and then this
// process, by the same signal.
Tally convertAll(const CommandLine& commandLine, const std::string& executable, const std::vector<Job>& jobs,
                 Report& report) {
    Tally tally;
    platform::ChildProcesses children;
    const std::size_t atOnce = std::min<std::size_t>(commandLine.jobs, platform::ChildProcesses::kMaxRunning);
    std::size_t next = 0;
    while (!children.interrupted()) {
        for (; next < jobs.size() && children.running() < atOnce && !children.interrupted(); ++next) {
            const Job& job = jobs[next];
            report.progress(next + 1, jobs.size(), job.label);
            std::string error;
            const auto unmade = std::find_if(job.foldersToMake.begin(), job.foldersToMake.end(),
                                             [](const std::string& folder) { return !platform::makeFolder(folder); });
            if (unmade != job.foldersToMake.end()) {
                error = "Could not create folder: " + *unmade;
            } else if (children.start(executable, childArguments(commandLine, job), next, error)) {
                continue;
            }
            report.failure(job.bookFolder, error);
            ++tally.failed;
        }
        if (children.running() == 0) break;
        const platform::ChildEnd end = children.waitForOne();
        if (children.interrupted()) break;
        if (end.exitCode == kExitSuccess) {
            ++tally.converted;
            report.written(end.printed);
        } else {
            report.failure(jobs[end.tag].bookFolder, failureMessage(end));
            ++tally.failed;
        }
    }
    if (children.interrupted()) {
        while (children.running() > 0) children.waitForOne();
        children.dieOfInterrupt();
    }
    return tally;
}

}  // namespace

int runBatch(const CommandLine& commandLine, const ProgramSetting& setting, std::ostream& out, std::ostream& err) {
    const std::string& outputFolder = commandLine.outputFolder;
    if (quillon::platform::pathKind(outputFolder) != quillon::platform::PathKind::folder) {
        err << "quillon-cli: OUTPUT_FOLDER must be an existing folder: " << outputFolder << '\n';
        return kExitConversionFailed;
    }

    std::vector<Job> jobs;
    std::vector<std::string> unreadable;
    if (!commandLine.libraryFolder.empty()) {
        std::vector<std::string> relative;
        findBooks(commandLine.libraryFolder, relative, outputFolder, jobs, unreadable);
        for (const std::string& folder : unreadable) {
            err << "quillon-cli: " << folder << ": Could not read folder; no book in it is converted\n";
        }
        if (jobs.empty()) {
            err << "quillon-cli: no Step book (a folder holding Book.dat and Viewable.idx) found in "
                << commandLine.libraryFolder << '\n';
            return kExitConversionFailed;
        }
    }
    for (const std::string& folder : commandLine.bookFolders) {
        const std::string name = platform::folderName(folder);
        if (name.empty()) {
            err << "quillon-cli: cannot name an output file after the folder " << folder << '\n';
            return kExitUsage;
        }
        jobs.push_back({folder, folder, {}, platform::childPath(outputFolder, name + ".rtf")});
    }

    // Two books must not overwrite each other: refused before either is converted.
    std::map<std::string, const Job*> byOutput;
    for (const Job& job : jobs) {
        const auto [first, added] = byOutput.emplace(platform::fileNameKey(job.outputPath), &job);
        if (added) continue;
        err << "quillon-cli: " << first->second->bookFolder << " and " << job.bookFolder
            << " would both be written to " << job.outputPath << "; nothing was converted\n";
        return kExitUsage;
    }

    Report report(out, err, setting.stderrIsTerminal);
    const Tally tally = convertAll(commandLine, setting.executable, jobs, report);
    report.summary(tally.converted, tally.failed);
    return tally.failed > 0 || !unreadable.empty() ? kExitConversionFailed : kExitSuccess;
}

}  // namespace quillon::cli
