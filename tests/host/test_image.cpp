#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "builder/image.h"
#include "datablock/records.h"

namespace quillmar {
namespace {

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = (uint8_t)(seed + i * 7);
    return b;
}

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

TEST(InstallerImage, LaysOutStubHeaderStreamCrcAndTrailer) {
    struct Case {
        size_t stub_size;
        size_t alignment;
        uint32_t flags;
        size_t header_at;
    } cases[] = {
        {1000, 512, FH_CRC, 1024},
        {1024, 512, FH_CRC | FH_FORCE_CRC, 1024},
        {1025, 512, 0, 1536},
        {1000, 0x1000, FH_CRC | FH_SILENT, 0x1000},
    };
    for (const Case& c : cases) {
        ImageOptions options;
        options.flags = c.flags;
        options.header_length = 77;
        options.stub_alignment = c.alignment;
        options.trailer = {'T', 'R', 'A', 'I', 'L'};
        Bytes stub = pattern(c.stub_size, 1), stream = pattern(3000, 9), image;
        std::string error;
        ASSERT_TRUE(build_installer_image(stub, stream, options, image, error)) << error;
        const bool crc = c.flags & FH_CRC;
        const size_t total = 28 + stream.size() + (crc ? 4 : 0);

        EXPECT_EQ(first_header_offset(c.stub_size, c.alignment), c.header_at);
        ASSERT_EQ(image.size(), c.header_at + total + options.trailer.size());
        EXPECT_TRUE(std::equal(stub.begin(), stub.end(), image.begin()));
        for (size_t i = c.stub_size; i < c.header_at; i++) ASSERT_EQ(image[i], 0) << "padding at " << i;
        EXPECT_EQ(first_header_total_length(&image[c.header_at]), (int32_t)total);
        EXPECT_EQ(le32(image, c.header_at), c.flags);
        EXPECT_EQ(le32(image, c.header_at + 20), 77u);
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), image.begin() + c.header_at + 28));
        if (crc) {
            // Checked with zlib over bytes 512 up to the stored value.
            const size_t crc_at = c.header_at + total - 4;
            EXPECT_EQ(le32(image, crc_at), (uint32_t)crc32(0, image.data() + 512, (uInt)(crc_at - 512)));
        }
        EXPECT_EQ(std::string(image.end() - 5, image.end()), "TRAIL");
    }
}

TEST(InstallerImage, CrcIgnoresTheFirst512Bytes) {
    ImageOptions options;
    options.flags = FH_CRC;
    Bytes stub = pattern(2048, 3), other = stub, stream = pattern(100, 5), a, b;
    for (size_t i = 0; i < 512; i++) other[i] ^= 0xFF;
    std::string error;
    ASSERT_TRUE(build_installer_image(stub, stream, options, a, error));
    ASSERT_TRUE(build_installer_image(other, stream, options, b, error));
    EXPECT_EQ(le32(a, a.size() - 4), le32(b, b.size() - 4));
    other[600] ^= 1;
    ASSERT_TRUE(build_installer_image(other, stream, options, b, error));
    EXPECT_NE(le32(a, a.size() - 4), le32(b, b.size() - 4));
}

TEST(InstallerImage, RefusesBadInput) {
    Bytes image;
    std::string error;
    ImageOptions options;
    EXPECT_FALSE(build_installer_image({}, {1}, options, image, error));
    EXPECT_NE(error.find("stub"), std::string::npos);
    options.stub_alignment = 1000;
    EXPECT_FALSE(build_installer_image({1}, {1}, options, image, error));
    options.stub_alignment = 512;
    options.flags = 0x10;
    EXPECT_FALSE(build_installer_image({1}, {1}, options, image, error));
}

TEST(InstallerImage, AtomicWriteLeavesNoPartialFile) {
    std::string dir = testing::TempDir();
    std::string path = dir + "/qm_image_test.exe";
    std::string error;
    ASSERT_TRUE(write_file_atomically(path, {1, 2, 3}, error)) << error;
    Bytes back;
    ASSERT_TRUE(read_file(path, back, error));
    EXPECT_EQ(back, (Bytes{1, 2, 3}));
    EXPECT_NE(std::fopen((path + ".partial").c_str(), "rb") != nullptr, true);
    std::remove(path.c_str());
    // A directory that does not exist: an error, and nothing written.
    EXPECT_FALSE(write_file_atomically(dir + "/no/such/dir/x.exe", {1}, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quillmar
