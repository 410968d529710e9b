// SPDX-License-Identifier: GPL-2.0-or-later
// The RTF output: a buffered stream that stores every line feed as CR LF (the
// same bytes on every platform), and the output file behind it, which only
// replaces what is at the output path once the whole conversion has worked.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform.h"

namespace quillon {

class OutputStream {
public:
    explicit OutputStream(std::FILE* sink, std::size_t bufferSize = 1 << 16);
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Writes `text`, each LF as CR LF. After a failed write nothing more is written.
    void write(std::string_view text);
    void put(char byte);
    // Writes `bytes` as they are: text whose line feeds are already CR LF.
    void writeStored(std::string_view bytes);

    // Hands everything buffered to the sink; false once any write has failed.
    bool flush();
    bool failed() const { return failed_; }

private:
    void append(const char* data, std::size_t size);
    void writeToSink(const char* data, std::size_t size);

    std::FILE* sink_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// The output file. What is at the output path changes only when commit()
// succeeds: the output is written into a temporary file first, beside the
// target when its folder takes new files, else in the system's temporary
// folder. At the end it is renamed over the target when that keeps all the
// target is (owner, group, permissions, access control list, extended
// attributes, hard links), or else copied into the target in place, after
// making sure there is room. Devices and pipes are written straight through.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `path` for writing, changing nothing there yet. Returns false when
    // `path` cannot be written.
    bool open(const std::string& path);

    OutputStream& stream() { return *stream_; }

    // Finishes the file and puts it at the path given to open(). On a failed
    // write returns false and leaves the path as it was before open(); only a
    // failure while copying into the target in place can damage it.
    bool commit();

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::string target_;  // where the finished output must end up
    platform::TemporaryFile temporary_;
    std::unique_ptr<std::FILE, FileCloser> device_;  // a device or pipe written straight through
    std::unique_ptr<OutputStream> stream_;
};

}  // namespace quillon
