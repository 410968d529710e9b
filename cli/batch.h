// SPDX-License-Identifier: GPL-2.0-or-later
// Several books in one run: each is converted by a copy of this program of
// its own, several at once. The SWORD library's decompressor keeps its state
// in static storage, so separate processes, not threads, keep the books apart.
#pragma once

#include <ostream>

#include "cli/command_line.h"

namespace quillon::cli {

// Converts the books of a convertBatch command line and returns the exit code.
int runBatch(const CommandLine& commandLine, const ProgramSetting& setting, std::ostream& out, std::ostream& err);

}  // namespace quillon::cli
