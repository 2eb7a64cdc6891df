#include <gtest/gtest.h>

#include <cstring>

#include "datablock/records.h"

namespace {

struct Record {
    uint8_t bytes[28];
};

Record make_record(uint32_t flags, int32_t total_length) {
    // Written byte by byte, as it stands in the file.
    const uint8_t bytes[28] = {
        (uint8_t)flags, (uint8_t)(flags >> 8), (uint8_t)(flags >> 16), (uint8_t)(flags >> 24),
        0xEF, 0xBE, 0xAD, 0xDE,
        'Q', 'u', 'i', 'l', 'l', 'm', 'a', 'r', 'I', 'n', 's', 't',
        0x10, 0, 0, 0,
        (uint8_t)total_length, (uint8_t)(total_length >> 8), (uint8_t)(total_length >> 16),
        (uint8_t)(total_length >> 24),
    };
    Record r;
    std::memcpy(r.bytes, bytes, sizeof(bytes));
    return r;
}

TEST(FirstHeaderTest, RecognisesEveryKnownFlagCombination) {
    for (uint32_t flags = 0; flags <= FH_KNOWN_FLAGS; flags++)
        EXPECT_EQ(first_header_total_length(make_record(flags, 4660).bytes), 4660) << flags;
}

TEST(FirstHeaderTest, RejectsMalformedRecords) {
    EXPECT_EQ(first_header_total_length(make_record(0x10, 100).bytes), 0) << "bit 4 set";
    EXPECT_EQ(first_header_total_length(make_record(0x80000001u, 100).bytes), 0) << "bit 31 set";
    EXPECT_EQ(first_header_total_length(make_record(FH_CRC, 0).bytes), 0) << "total_length 0";
    // Any changed byte of the magic or of the signature.
    for (int at = 4; at < 20; at++) {
        Record r = make_record(FH_CRC, 100);
        r.bytes[at] ^= 0x20;
        EXPECT_EQ(first_header_total_length(r.bytes), 0) << "byte " << at;
    }
}

TEST(FirstHeaderTest, NeedsNoAlignment) {
    uint8_t buffer[40] = {};
    Record r = make_record(FH_CRC | FH_SILENT, 1234567);
    std::memcpy(buffer + 3, r.bytes, sizeof(r.bytes));
    EXPECT_EQ(first_header_total_length(buffer + 3), 1234567);
}

TEST(FirstHeaderTest, StructMatchesFileBytes) {
    Record r = make_record(FH_UNINSTALLER, 999);
    FirstHeader h;
    std::memcpy(&h, r.bytes, sizeof(h));
    EXPECT_EQ(h.flags, FH_UNINSTALLER);
    EXPECT_EQ(h.magic, FIRST_HEADER_MAGIC);
    EXPECT_EQ(h.signature[0], FIRST_HEADER_SIG0);
    EXPECT_EQ(h.signature[1], FIRST_HEADER_SIG1);
    EXPECT_EQ(h.signature[2], FIRST_HEADER_SIG2);
    EXPECT_EQ(h.header_length, 16);
    EXPECT_EQ(h.total_length, 999);
}

TEST(Records, LanguageIdFromFileBytes) {
    uint8_t bytes[sizeof(LanguageRecord)] = {};
    bytes[148] = 0x09;
    bytes[149] = 0x04;
    bytes[150] = 0xFF;
    bytes[151] = 0xFF;
    LanguageRecord record;
    std::memcpy(&record, bytes, sizeof(record));
    EXPECT_EQ(record.lang_id, 0x0409);
}

}  // namespace
