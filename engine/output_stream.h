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

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // discards the output unless commit() succeeded

    // Opens `path` for writing. An existing regular file is not touched until
    // commit(): the output goes to a new file beside it. Returns false, having
    // changed nothing, when `path` cannot be written.
    bool open(const std::string& path);

    OutputStream& stream() { return *stream_; }

    // Finishes the file and puts it at the path given to open(). On a failed
    // write or close, returns false and leaves the path as it was before open().
    bool commit();

private:
    void discard();

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::string target_;       // where the finished output must end up
    std::string writtenPath_;  // the file actually being written
    bool createdWrittenFile_ = false;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::unique_ptr<OutputStream> stream_;
};

}  // namespace quillon
