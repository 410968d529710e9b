// SPDX-License-Identifier: GPL-2.0-or-later
// A throwaway folder to write books and outputs into, removed with its
// content; shared by the tests, the benchmark and the fuzzer.
#pragma once

#include <filesystem>
#include <string>

namespace quillon::bookwriter {

class ScratchFolder {
public:
    // A new, empty folder under the system's temporary folder, named after
    // `prefix` and unique across processes running side by side.
    explicit ScratchFolder(const std::string& prefix = "quillon-");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace quillon::bookwriter
