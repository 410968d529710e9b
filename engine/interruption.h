// SPDX-License-Identifier: GPL-2.0-or-later
// What both platform implementations share for removing temporary files when
// the program is interrupted: a fixed table of their paths, which a signal
// handler (or Windows' console control thread) reads without allocating or
// locking, and a count of the steps an interruption must wait for.
#pragma once

#include <string>

namespace quillon::platform::interruption {

// Records `path` for removal on an interruption and returns its slot, or -1
// when the table is full or the path too long (it is then not removed).
int remember(const std::string& path);

// Takes a path out of the table again (a slot of -1 is ignored).
void forget(int slot);

// Steps that an interruption must not cut short, such as renaming a file
// over the target: beginStep() is false, and nothing must be started, when
// an interruption is already under way.
bool beginStep();
void endStep();

// For the interrupt handlers: waits, calling `pause`, until no step is under
// way, then removes every remembered file with `remove`. Both must be safe in
// a signal handler.
void removeRememberedFiles(void (*remove)(const char* path), void (*pause)());

}  // namespace quillon::platform::interruption
