// SPDX-License-Identifier: GPL-2.0-or-later
// The buffered, line-feed translating output stream and the output file.
#include "engine/output_stream.h"

#include <cstring>

#include "engine/platform.h"

namespace quillon {

OutputStream::OutputStream(std::FILE* sink, std::size_t bufferSize) : sink_(sink), buffer_(bufferSize) {
    // This stream does the buffering; a second layer would only copy.
    std::setvbuf(sink_, nullptr, _IONBF, 0);
}

void OutputStream::write(std::string_view text) {
    while (!text.empty() && !failed_) {
        const void* lineFeed = std::memchr(text.data(), '\n', text.size());
        const std::size_t before =
            lineFeed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - text.data())
                                : text.size();
        append(text.data(), before);
        if (lineFeed == nullptr) break;
        append("\r\n", 2);
        text.remove_prefix(before + 1);
    }
}

void OutputStream::put(char byte) { write(std::string_view(&byte, 1)); }

void OutputStream::writeStored(std::string_view bytes) {
    if (!failed_) append(bytes.data(), bytes.size());
}

void OutputStream::append(const char* data, std::size_t size) {
    if (size > buffer_.size() - used_) {
        flush();
        if (size >= buffer_.size()) {
            writeToSink(data, size);
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
}

void OutputStream::writeToSink(const char* data, std::size_t size) {
    if (failed_ || size == 0) return;
    if (std::fwrite(data, 1, size, sink_) != size) failed_ = true;
}

bool OutputStream::flush() {
    writeToSink(buffer_.data(), used_);
    used_ = 0;
    return !failed_;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& path) {
    target_ = platform::replacementTarget(path);
    const platform::PathKind kind = platform::pathKind(path);
    if (kind == platform::PathKind::regularFile && !platform::canWriteExistingFile(path)) return false;

    std::FILE* file = nullptr;
    if (kind == platform::PathKind::regularFile || kind == platform::PathKind::missing) {
        // Write beside the destination and move the result into place at the
        // end, so a failed run leaves whatever was there before.
        file = platform::createFileBeside(target_, writtenPath_);
        createdWrittenFile_ = file != nullptr;
    }
    if (file == nullptr) {
        // Devices, pipes, or a folder that takes no new files: write straight through.
        file = platform::openForWriting(path);
        writtenPath_ = target_;
        createdWrittenFile_ = file != nullptr && kind == platform::PathKind::missing;
    }
    if (file == nullptr) return false;
    file_.reset(file);
    stream_ = std::make_unique<OutputStream>(file);
    return true;
}

bool OutputFile::commit() {
    if (!file_) return false;
    const bool written = stream_->flush();
    const bool closed = std::fclose(file_.release()) == 0;
    if (!written || !closed) {
        discard();
        return false;
    }
    if (createdWrittenFile_ && writtenPath_ != target_) {
        if (!platform::replaceFile(writtenPath_, target_)) {
            discard();
            return false;
        }
    }
    createdWrittenFile_ = false;
    return true;
}

void OutputFile::discard() {
    file_.reset();
    if (createdWrittenFile_) platform::removeFile(writtenPath_);
    createdWrittenFile_ = false;
}

}  // namespace quillon
