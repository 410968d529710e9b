// SPDX-License-Identifier: GPL-2.0-or-later
// The table of temporary files to remove on an interruption; see interruption.h.
#include "engine/interruption.h"

#include <atomic>
#include <cstring>

namespace quillon::platform::interruption {
namespace {

// Lock-free atomics are the only shared state a signal handler may touch.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Enough for the outputs of several conversions running side by side.
constexpr int kSlots = 16;
constexpr std::size_t kLongestPath = 4096;

// A slot is claimed by the handler before it reads the path and is never
// freed after that, so a path is never rewritten while it is being removed.
enum SlotState : int { kFree, kFilling, kRemembered, kClaimed };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kLongestPath];
};

Slot slots[kSlots];
std::atomic<int> stepsUnderWay{0};
std::atomic<bool> interrupted{false};

}  // namespace

int remember(const std::string& path) {
    if (path.size() >= kLongestPath) return -1;
    for (int index = 0; index < kSlots; ++index) {
        int expected = kFree;
        if (slots[index].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(slots[index].path, path.c_str(), path.size() + 1);
            slots[index].state.store(kRemembered);
            return index;
        }
    }
    return -1;
}

void forget(int slot) {
    if (slot < 0) return;
    int expected = kRemembered;
    slots[slot].state.compare_exchange_strong(expected, kFree);
}

bool beginStep() {
    stepsUnderWay.fetch_add(1);
    if (!interrupted.load()) return true;
    stepsUnderWay.fetch_sub(1);
    return false;
}

void endStep() { stepsUnderWay.fetch_sub(1); }

void removeRememberedFiles(void (*remove)(const char* path), void (*pause)()) {
    interrupted.store(true);
    while (stepsUnderWay.load() > 0) pause();
    for (Slot& slot : slots) {
        int expected = kRemembered;
        if (slot.state.compare_exchange_strong(expected, kClaimed)) remove(slot.path);
    }
}

}  // namespace quillon::platform::interruption
