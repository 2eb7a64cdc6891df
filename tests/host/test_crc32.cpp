#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "datablock/crc32.h"

namespace {

TEST(Crc32, KnownCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(crc32_update(0, (const uint8_t*)text, 9), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0, nullptr, 0), 0u);
}

TEST(Crc32, MatchesZlibInAnyPieces) {
    std::mt19937 rng(12345);
    std::vector<uint8_t> data(100000);
    for (auto& b : data) b = (uint8_t)rng();
    const uint32_t reference = (uint32_t)crc32(0, data.data(), (uInt)data.size());
    EXPECT_EQ(crc32_update(0, data.data(), (uint32_t)data.size()), reference);

    // The running value carries over between pieces of any size, as the
    // 512-byte scan feeds it.
    for (size_t piece : {1u, 7u, 512u, 4099u}) {
        uint32_t crc = 0;
        for (size_t at = 0; at < data.size(); at += piece) {
            size_t n = std::min(piece, data.size() - at);
            crc = crc32_update(crc, data.data() + at, (uint32_t)n);
        }
        EXPECT_EQ(crc, reference) << "pieces of " << piece;
    }
    // Every single-byte value through zlib too.
    for (int v = 0; v < 256; v++) {
        uint8_t b = (uint8_t)v;
        EXPECT_EQ(crc32_update(0, &b, 1), (uint32_t)crc32(0, &b, 1)) << v;
    }
}

}  // namespace
