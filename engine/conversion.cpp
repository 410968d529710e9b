// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion run: opens the book and the output, walks the index and has
// every block written; see conversion.h.
#include "engine/conversion.h"

#include <filemgr.h>

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "engine/block_extraction.h"
#include "engine/output_stream.h"
#include "engine/platform.h"

namespace quillon {
namespace {

const char kOpenFailureAdvice[] =
    ".\n\nDid you select the folder containing your Step Book? Step books consist of multiple files in the "
    "same folder.";

// A book file descriptor that is closed when it goes out of scope.
class BookFile {
public:
    // Only regular files are opened: opening a FIFO would wait for a writer
    // that never comes. A folder opens like a file on some systems; the size
    // check refuses it, and anything swapped in between the two checks.
    explicit BookFile(const std::string& path)
        : fd_(platform::pathKind(path) == platform::PathKind::regularFile
                  ? sword::FileMgr::openFileReadOnly(platform::libraryPath(path).c_str())
                  : -1) {
        if (fd_ >= 0) size_ = platform::regularFileSize(fd_);
    }
    ~BookFile() {
        if (fd_ >= 0) platform::closeDescriptor(fd_);
    }
    BookFile(const BookFile&) = delete;
    BookFile& operator=(const BookFile&) = delete;

    bool isOpen() const { return size_.has_value(); }
    int descriptor() const { return fd_; }
    std::int64_t size() const { return *size_; }
    std::int64_t position() const { return platform::seekDescriptor(fd_, 0, 1); }

private:
    int fd_;
    std::optional<std::int64_t> size_;
};

ConversionResult failure(std::string message) {
    ConversionResult result;
    result.message = std::move(message);
    return result;
}

ConversionResult couldNotOpen(const std::string& path) {
    return failure("Could not open file: " + path + kOpenFailureAdvice);
}

ConversionResult damaged(const std::string& path, const std::string& problem) {
    return failure("The Step book file " + path + " is damaged: " + problem + ".");
}

std::string describe(RecordStatus status, const std::string& record) {
    return status == RecordStatus::invalidLength ? record + " declares an impossible length"
                                                 : "it ends inside " + record;
}

std::string withTrailingSeparator(const std::string& folder) {
    const char last = platform::lastCharacter(folder);
    if (last == '/' || last == '\\') return folder;
    return folder + platform::kPathSeparator;
}

ConversionResult convert(const ConversionRequest& request) {
    const std::string folder = withTrailingSeparator(request.bookFolder);
    const std::string bookPath = folder + "Book.dat";
    BookFile book(bookPath);
    if (!book.isOpen()) return couldNotOpen(bookPath);

    // A stream given by the caller is written as it is; a file is only
    // replaced once the whole conversion has worked.
    const bool toStream = request.outputStream != nullptr;
    const std::string outputPath = toStream ? request.outputPath : resolveOutputPath(request.outputPath);
    const std::string indexPath = folder + "Viewable.idx";
    for (const std::string& bookFile : {bookPath, indexPath}) {
        if (!toStream && platform::isSameFile(outputPath, bookFile)) {
            return failure("The output file " + outputPath + " is the Step book's own file " + bookFile +
                           "; choose another output file.");
        }
    }
    OutputFile output;
    std::optional<OutputStream> givenStream;
    if (toStream) {
        givenStream.emplace(request.outputStream);
    } else if (!output.open(outputPath)) {
        return failure("Could not open file for writing: " + outputPath);
    }

    FileHeaderRecord fileHeader;
    RecordStatus status = readFileHeaderRecord(book.descriptor(), fileHeader);
    if (status != RecordStatus::ok) return damaged(bookPath, describe(status, "its file header"));
    status = skipLengthPrefixedBlock(book.descriptor());
    if (status != RecordStatus::ok) return damaged(bookPath, describe(status, "its length-prefixed block"));

    BookFile index(indexPath);
    if (!index.isOpen()) return couldNotOpen(indexPath);

    status = readFileHeaderRecord(index.descriptor(), fileHeader);
    if (status != RecordStatus::ok) return damaged(indexPath, describe(status, "its file header"));
    IndexHeaderRecord indexHeader;
    status = readIndexHeaderRecord(index.descriptor(), indexHeader);
    if (status != RecordStatus::ok) return damaged(indexPath, describe(status, "its index header"));

    const ConversionPlan plan(indexHeader, request.insertMarkers, request.stripTags);
    const std::int64_t entriesInFile = (index.size() - index.position()) / kViewableBlockEntrySize;
    if (plan.entryCount() > entriesInFile) {
        return damaged(indexPath, "it lists " + std::to_string(entriesInFile) + " entries where its header calls for " +
                                      std::to_string(plan.entryCount()));
    }

    OutputStream& stream = toStream ? *givenStream : output.stream();
    BlockExtractor extractor;
    for (std::int64_t entry = 0; entry < plan.entryCount(); ++entry) {
        const BlockTreatment treatment = plan.treatmentOf(entry);
        ViewableBlockEntry blockEntry;
        if (readViewableBlockEntry(index.descriptor(), blockEntry) != RecordStatus::ok) {
            return damaged(indexPath, "it ends inside entry " + std::to_string(entry));
        }
        if (!entryFitsBook(blockEntry, book.size())) {
            return damaged(indexPath, "entry " + std::to_string(entry) + " points outside Book.dat");
        }
        if (treatment.marker) writeSectionMarker(stream);
        extractor.extractBlock(book.descriptor(), blockEntry, stream, treatment.strip);
        if (stream.failed()) break;
    }

    if (toStream ? !givenStream->flush() : !output.commit()) {
        return failure((toStream ? "Could not write to " : "Could not write file: ") + outputPath);
    }

    ConversionResult result;
    result.succeeded = true;
    result.outputPath = outputPath;
    result.blocksWritten = plan.entryCount();
    return result;
}

}  // namespace

ConversionResult runConversion(const ConversionRequest& request) {
    // Made before the run: once memory has run out, the message could not be.
    ConversionResult outOfMemory = failure("Not enough memory to convert the Step book in " + request.bookFolder + ".");
    try {
        return convert(request);
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    }
}

bool isStepBookFolder(const std::string& folder) {
    const std::string withSeparator = withTrailingSeparator(folder);
    return platform::pathKind(withSeparator + "Book.dat") == platform::PathKind::regularFile &&
           platform::pathKind(withSeparator + "Viewable.idx") == platform::PathKind::regularFile;
}

std::string resolveOutputPath(const std::string& outputPath) {
    const platform::PathKind kind = platform::pathKind(outputPath);
    const bool takenAsFolder = kind == platform::PathKind::folder || kind == platform::PathKind::missing;
    if (!takenAsFolder || outputPath.find('.') != std::string::npos) return outputPath;
    if (platform::lastCharacter(outputPath) == platform::kPathSeparator) return outputPath + "stepbook.rtf";
    return outputPath + platform::kPathSeparator + "stepbook.rtf";
}

ConversionPlan::ConversionPlan(const IndexHeaderRecord& header, bool insertMarkers, bool stripTags)
    : bodyEnd_(std::max<std::int64_t>(std::int64_t{header.blockCount} - header.trailingBlockCount, 1)),
      trailingCount_(std::max<std::int32_t>(header.trailingBlockCount, 0)),
      insertMarkers_(insertMarkers),
      stripTags_(stripTags) {}

BlockTreatment ConversionPlan::treatmentOf(std::int64_t entry) const {
    if (entry == 0) return {};
    if (entry < bodyEnd_) return {insertMarkers_ && entry > 3, stripTags_};
    return {insertMarkers_, false};
}

}  // namespace quillon
