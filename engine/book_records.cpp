// SPDX-License-Identifier: GPL-2.0-or-later
// Readers of the Step book records; see book_records.h.
#include "engine/book_records.h"

#include <cstring>

#include "engine/little_endian.h"
#include "engine/platform.h"

namespace quillon {
namespace {

bool readExactly(int fd, unsigned char* buffer, std::size_t count) {
    return platform::readDescriptor(fd, buffer, count) == count;
}

// Moves past `count` bytes without reading them, refusing to go beyond the
// end of the file.
RecordStatus skipBytes(int fd, std::int64_t count) {
    const std::optional<std::int64_t> size = platform::regularFileSize(fd);
    const std::int64_t position = platform::seekDescriptor(fd, 0, 1);
    if (!size || position < 0 || count > *size - position) return RecordStatus::endsEarly;
    return platform::seekDescriptor(fd, count, 1) < 0 ? RecordStatus::endsEarly : RecordStatus::ok;
}

RecordStatus skipExtraHeaderBytes(int fd, std::int16_t recordLength) {
    if (recordLength < kHeaderRecordSize) return RecordStatus::invalidLength;
    return skipBytes(fd, recordLength - kHeaderRecordSize);
}

}  // namespace

RecordStatus readFileHeaderRecord(int fd, FileHeaderRecord& record) {
    unsigned char bytes[kHeaderRecordSize];
    if (!readExactly(fd, bytes, sizeof bytes)) return RecordStatus::endsEarly;
    record.recordLength = readInt16Le(bytes);
    record.unnamed2 = readUint16Le(bytes + 2);
    record.unnamed4 = readUint16Le(bytes + 4);
    record.unnamed6 = readUint16Le(bytes + 6);
    std::memcpy(record.unnamed8to13, bytes + 8, sizeof record.unnamed8to13);
    record.unnamed14 = readUint16Le(bytes + 14);
    return skipExtraHeaderBytes(fd, record.recordLength);
}

RecordStatus readIndexHeaderRecord(int fd, IndexHeaderRecord& record) {
    unsigned char bytes[kHeaderRecordSize];
    if (!readExactly(fd, bytes, sizeof bytes)) return RecordStatus::endsEarly;
    record.recordLength = readInt16Le(bytes);
    record.blockCount = readInt32Le(bytes + 2);
    record.trailingBlockCount = readInt32Le(bytes + 6);
    record.unnamed10 = bytes[10];
    record.unnamed11 = bytes[11];
    record.unnamed12 = readUint16Le(bytes + 12);
    record.unnamed14 = readUint16Le(bytes + 14);
    return skipExtraHeaderBytes(fd, record.recordLength);
}

RecordStatus skipLengthPrefixedBlock(int fd) {
    unsigned char bytes[4];
    if (!readExactly(fd, bytes, sizeof bytes)) return RecordStatus::endsEarly;
    const std::int32_t length = readInt32Le(bytes);
    if (length < 0) return RecordStatus::invalidLength;
    return skipBytes(fd, length);
}

RecordStatus readViewableBlockEntry(int fd, ViewableBlockEntry& entry) {
    unsigned char bytes[kViewableBlockEntrySize];
    if (!readExactly(fd, bytes, sizeof bytes)) return RecordStatus::endsEarly;
    entry.dataOffset = readInt32Le(bytes);
    entry.uncompressedSize = readInt32Le(bytes + 4);
    entry.storedSize = readInt32Le(bytes + 8);
    return RecordStatus::ok;
}

}  // namespace quillon
