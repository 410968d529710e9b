// SPDX-License-Identifier: GPL-2.0-or-later
// The buffered, line-feed translating output stream and the output file.
#include "engine/output_stream.h"

#include <cstring>

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

bool OutputFile::open(const std::string& path) {
    target_ = platform::replacementTarget(path);
    std::FILE* file = nullptr;
    switch (platform::pathKind(target_)) {
    case platform::PathKind::folder:
        return false;
    case platform::PathKind::other:
        device_.reset(platform::openForWriting(path));
        file = device_.get();
        break;
    case platform::PathKind::regularFile:
        if (!platform::canWriteExistingFile(target_)) return false;
        if (temporary_.createBeside(target_) || temporary_.createElsewhere()) file = temporary_.stream();
        break;
    case platform::PathKind::missing:
        if (temporary_.createBeside(target_)) file = temporary_.stream();
        break;
    }
    if (file == nullptr) return false;
    stream_ = std::make_unique<OutputStream>(file);
    return true;
}

bool OutputFile::commit() {
    if (!stream_ || !stream_->flush()) return false;
    if (device_) return std::fclose(device_.release()) == 0;
    switch (temporary_.moveOver(target_)) {
    case platform::TemporaryFile::Move::done: return true;
    case platform::TemporaryFile::Move::failed: return false;
    case platform::TemporaryFile::Move::copyInstead: break;
    }
    return temporary_.copyOver(target_);
}

}  // namespace quillon
