// SPDX-License-Identifier: GPL-2.0-or-later
#include "tools/bookwriter/scratch_folder.h"

#include <atomic>
#include <random>

namespace quillon::bookwriter {

ScratchFolder::ScratchFolder(const std::string& prefix) {
    static const unsigned processTag = std::random_device{}();
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            (prefix + std::to_string(processTag) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // What used it may have left read-only files or folders behind.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace quillon::bookwriter
