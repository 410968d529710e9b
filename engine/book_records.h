// SPDX-License-Identifier: GPL-2.0-or-later
// The records of a Step book's Book.dat and Viewable.idx, and their readers.
//
// Book.dat:      FileHeaderRecord, a length-prefixed block, then the stored
//                (compressed) blocks, reached only through index entries.
// Viewable.idx:  FileHeaderRecord, IndexHeaderRecord, then one
//                ViewableBlockEntry per viewable block, in output order.
//
// Each reader reads at the descriptor's current position and leaves it
// directly after what it consumed.
#pragma once

#include <cstdint>

namespace quillon {

struct FileHeaderRecord {
    std::int16_t recordLength = 0;  // whole record, itself included; normally 16
    std::uint16_t unnamed2 = 0;
    std::uint16_t unnamed4 = 0;
    std::uint16_t unnamed6 = 0;
    std::uint8_t unnamed8to13[6] = {};
    std::uint16_t unnamed14 = 0;
};

struct IndexHeaderRecord {
    std::int16_t recordLength = 0;
    std::int32_t blockCount = 0;
    std::int32_t trailingBlockCount = 0;
    std::uint8_t unnamed10 = 0;
    std::uint8_t unnamed11 = 0;
    std::uint16_t unnamed12 = 0;
    std::uint16_t unnamed14 = 0;
};

struct ViewableBlockEntry {
    std::int32_t dataOffset = 0;        // from the start of Book.dat
    std::int32_t uncompressedSize = 0;  // as the index claims it; not trusted
    std::int32_t storedSize = 0;        // compressed bytes at dataOffset
};

constexpr int kHeaderRecordSize = 16;
constexpr int kViewableBlockEntrySize = 12;

enum class RecordStatus {
    ok,
    endsEarly,       // the file ends before the record (or the bytes it declares) does
    invalidLength,   // a length field that no well-formed file holds
};

// Reads the 16 bytes of the record and skips recordLength - 16 further bytes.
// A recordLength below 16 is invalid.
RecordStatus readFileHeaderRecord(int fd, FileHeaderRecord& record);
RecordStatus readIndexHeaderRecord(int fd, IndexHeaderRecord& record);

// Skips a 32-bit length L and then L bytes. A negative L is invalid.
RecordStatus skipLengthPrefixedBlock(int fd);

RecordStatus readViewableBlockEntry(int fd, ViewableBlockEntry& entry);

}  // namespace quillon
