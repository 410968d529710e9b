// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's entry point: convert one Step book folder into one RTF file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/book_records.h"

namespace quillon {

struct ConversionRequest {
    std::string bookFolder;  // may end in "\", in "/" or in neither
    std::string outputPath;  // a file, or a folder that is to receive "stepbook.rtf"
    bool insertMarkers = true;
    bool stripTags = true;
    // When set, the RTF goes to this open stream (standard output, say) as it
    // is made, and outputPath only names the stream in messages: nothing is
    // created, replaced or removed. The stream must not have been written to.
    std::FILE* outputStream = nullptr;
};

struct ConversionResult {
    bool succeeded = false;
    std::string message;  // for the user on failure; empty on success

    // What a successful run wrote, for front ends that report it.
    std::string outputPath;
    std::int64_t blocksWritten = 0;
};

// Runs synchronously. The output path keeps its previous content (or stays
// absent) unless the run succeeds.
ConversionResult runConversion(const ConversionRequest& request);

// Whether `folder` holds the two files of a Step book, Book.dat and Viewable.idx.
bool isStepBookFolder(const std::string& folder);

// The output file a run writes for `outputPath`: a path that names a folder,
// or at which nothing can be found, and that holds no "." receives
// "stepbook.rtf"; any other path is used as it is.
std::string resolveOutputPath(const std::string& outputPath);

// How one index entry is written.
struct BlockTreatment {
    bool marker = false;  // a section marker goes in front
    bool strip = false;   // "\v1 " and "\v0 " are removed
};

// Which entries a run writes and how: entry 0 plain; body entries up to
// blockCount - trailingBlockCount, stripped as asked and marked from entry 4
// on; then the trailing entries, always marked (when markers are on) and
// never stripped.
class ConversionPlan {
public:
    ConversionPlan(const IndexHeaderRecord& header, bool insertMarkers, bool stripTags);

    std::int64_t entryCount() const { return bodyEnd_ + trailingCount_; }
    BlockTreatment treatmentOf(std::int64_t entry) const;

private:
    std::int64_t bodyEnd_;        // first entry after the body blocks
    std::int64_t trailingCount_;
    bool insertMarkers_;
    bool stripTags_;
};

}  // namespace quillon
