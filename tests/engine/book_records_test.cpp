// SPDX-License-Identifier: GPL-2.0-or-later
// The record readers: field decoding, the lengths that drive skipping, and
// what they say about files that end early or declare impossible lengths.
#include "engine/book_records.h"

#include <gtest/gtest.h>

#include <filemgr.h>

#include "engine/platform.h"
#include "engine/test_support.h"

namespace quillon {
namespace {

using testing::TempDir;

// An open descriptor on a file holding `bytes`.
class FileWith {
public:
    explicit FileWith(const std::string& bytes) {
        testing::writeFile(dir_.file("records"), bytes);
        // Opened as the engine opens book files: binary, on every system.
        fd_ = sword::FileMgr::openFileReadOnly(platform::libraryPath(dir_.file("records")).c_str());
    }
    ~FileWith() { platform::closeDescriptor(fd_); }
    int fd() const { return fd_; }
    std::int64_t position() const { return platform::seekDescriptor(fd_, 0, 1); }

private:
    TempDir dir_;
    int fd_ = -1;
};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(FileHeaderRecordTest, DecodesLittleEndianFields) {
    FileWith file(bytes({0x10, 0x00, 0x34, 0x12, 0xFF, 0xFF, 0x01, 0x80, 1, 2, 3, 4, 5, 6, 0xCD, 0xAB}));
    FileHeaderRecord record;
    ASSERT_EQ(readFileHeaderRecord(file.fd(), record), RecordStatus::ok);
    EXPECT_EQ(record.recordLength, 16);
    EXPECT_EQ(record.unnamed2, 0x1234);
    EXPECT_EQ(record.unnamed4, 0xFFFF);
    EXPECT_EQ(record.unnamed6, 0x8001);
    EXPECT_EQ(record.unnamed8to13[0], 1);
    EXPECT_EQ(record.unnamed8to13[5], 6);
    EXPECT_EQ(record.unnamed14, 0xABCD);
}

TEST(IndexHeaderRecordTest, DecodesSignedCounts) {
    FileWith file(bytes({0x10, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 7, 8, 9, 0, 1, 2}));
    IndexHeaderRecord record;
    ASSERT_EQ(readIndexHeaderRecord(file.fd(), record), RecordStatus::ok);
    EXPECT_EQ(record.blockCount, 10);
    EXPECT_EQ(record.trailingBlockCount, -2);
    EXPECT_EQ(record.unnamed10, 7);
    EXPECT_EQ(record.unnamed11, 8);
    EXPECT_EQ(record.unnamed12, 9);
    EXPECT_EQ(record.unnamed14, 0x0201);
}

TEST(HeaderRecordTest, RecordLengthDecidesHowMuchIsConsumed) {
    struct Case {
        std::string bytes;
        RecordStatus status;
        off_t positionAfter;
    };
    const std::string sixteen = bytes({16, 0}) + std::string(14, '\x5A');
    const std::string twenty = bytes({20, 0}) + std::string(14, '\x5A') + "XXXX";
    const std::string fifteen = bytes({15, 0}) + std::string(14, '\x5A');
    const std::string negative = bytes({0xF0, 0xFF}) + std::string(14, '\x5A');
    const Case cases[] = {
        {sixteen + "next", RecordStatus::ok, 16},
        {twenty + "next", RecordStatus::ok, 20},
        {twenty, RecordStatus::ok, 20},                           // extra bytes end exactly at the end
        {twenty.substr(0, 18), RecordStatus::endsEarly, -1},     // extra bytes past the end
        {sixteen.substr(0, 9), RecordStatus::endsEarly, -1},     // file ends inside the record
        {"", RecordStatus::endsEarly, -1},
        {fifteen + "next", RecordStatus::invalidLength, -1},
        {negative + "next", RecordStatus::invalidLength, -1},
    };
    for (const Case& c : cases) {
        for (bool indexHeader : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "size " << c.bytes.size() << " index " << indexHeader);
            FileWith file(c.bytes);
            FileHeaderRecord fileHeader;
            IndexHeaderRecord index;
            const RecordStatus status = indexHeader ? readIndexHeaderRecord(file.fd(), index)
                                                    : readFileHeaderRecord(file.fd(), fileHeader);
            EXPECT_EQ(status, c.status);
            if (c.positionAfter >= 0) {
                EXPECT_EQ(file.position(), c.positionAfter);
            }
        }
    }
}

TEST(LengthPrefixedBlockTest, SkipsExactlyItsLength) {
    struct Case {
        std::string bytes;
        RecordStatus status;
        off_t positionAfter;
    };
    const Case cases[] = {
        {bytes({0, 0, 0, 0}) + "next", RecordStatus::ok, 4},
        {bytes({3, 0, 0, 0}) + "abcnext", RecordStatus::ok, 7},
        {bytes({3, 0, 0, 0}) + "abc", RecordStatus::ok, 7},
        {bytes({4, 0, 0, 0}) + "abc", RecordStatus::endsEarly, -1},
        {bytes({0xFF, 0xFF, 0xFF, 0x7F}) + "abc", RecordStatus::endsEarly, -1},
        {bytes({0xFF, 0xFF, 0xFF, 0xFF}) + "abc", RecordStatus::invalidLength, -1},
        {bytes({3, 0}), RecordStatus::endsEarly, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        FileWith file(c.bytes);
        EXPECT_EQ(skipLengthPrefixedBlock(file.fd()), c.status);
        if (c.positionAfter >= 0) {
            EXPECT_EQ(file.position(), c.positionAfter);
        }
    }
}

TEST(ViewableBlockEntryTest, ReadsThreeSignedFieldsAndStopsAtAPartialEntry) {
    FileWith file(bytes({0x20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 1, 2, 3}));
    ViewableBlockEntry entry;
    ASSERT_EQ(readViewableBlockEntry(file.fd(), entry), RecordStatus::ok);
    EXPECT_EQ(entry.dataOffset, 32);
    EXPECT_EQ(entry.uncompressedSize, -1);
    EXPECT_EQ(entry.storedSize, INT32_MIN);
    EXPECT_EQ(readViewableBlockEntry(file.fd(), entry), RecordStatus::endsEarly);
}

TEST(ViewableBlockEntryTest, FirstEntryFollowsBothHeadersAtByte32) {
    bookwriter::StepBookLayout layout = bookwriter::layoutOf({"a", "b", "c"});
    const std::string index = bookwriter::buildStepBook(layout).viewableIdx;
    FileWith file(index);
    FileHeaderRecord fileHeader;
    IndexHeaderRecord indexHeader;
    ASSERT_EQ(readFileHeaderRecord(file.fd(), fileHeader), RecordStatus::ok);
    ASSERT_EQ(readIndexHeaderRecord(file.fd(), indexHeader), RecordStatus::ok);
    EXPECT_EQ(file.position(), 32);
    ViewableBlockEntry entry;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(readViewableBlockEntry(file.fd(), entry), RecordStatus::ok);
    EXPECT_EQ(file.position(), 32 + 3 * 12);
}

}  // namespace
}  // namespace quillon
