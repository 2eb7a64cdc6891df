// The data block reader on installers made in-process by the builder library.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "startup/startup.h"

namespace {

using quillmar::Bytes;

Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Some repetition, so runs and matches occur.
        c = (uint8_t)((x >> 24) % 7 == 0 ? 'a' : x >> 16);
    }
    return b;
}

Bytes compress(const Bytes& b) { return quillmar::compress_stream(b.data(), b.size()); }

std::string temp_path(const char* prefix) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, prefix, 0, path);
    return path;
}

bool write_whole(const std::string& path, const Bytes& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

Bytes read_whole(const std::string& path) {
    Bytes out;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return out;
    out.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!out.empty()) ReadFile(f, out.data(), (DWORD)out.size(), &got, nullptr);
    CloseHandle(f);
    return out;
}

// The names of the unpack caches now in the temporary directory.
std::vector<std::string> cache_files() {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(dir) + "tki*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(std::string(dir) + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// An installer with four payloads (one of them empty), loaded as the stub
// loads its own file.
class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        model_.languages = {quillmar::Language(1033)};
        model_.entries = {{1, 0, 0, 0, 0, 0}};
        // The third payload spans several compressed blocks, so reading it
        // decodes beyond what loading the header did.
        payloads_ = {pattern(10000, 1), Bytes(), pattern(2500000, 2), Bytes{'x', 'y', 'z'}};
        for (const Bytes& p : payloads_) model_.add_payload(p);
        std::string error;
        quillmar::DataBlock layout;
        ASSERT_TRUE(quillmar::lay_out_data_block(model_, {}, compress, layout, error)) << error;
        offsets_ = layout.payload_offsets;
        stream_end_ = (int32_t)(layout.stream.size() - 4 - layout.header_length);

        Bytes image;
        quillmar::ImageOptions options;
        options.flags = FH_CRC;
        ASSERT_TRUE(quillmar::build_installer(model_, Bytes(1000, 'M'), compress, options, image, error)) << error;
        path_ = temp_path("qmr");
        ASSERT_TRUE(write_whole(path_, image));
        own_file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(own_file, INVALID_HANDLE_VALUE);
        header_position = (int32_t)quillmar::first_header_offset(1000);
        SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
        caches_before_ = cache_files().size();
        ASSERT_EQ(load_header(), 0);
    }

    void TearDown() override {
        release_data_block();
        CloseHandle(own_file);
        own_file = INVALID_HANDLE_VALUE;
        DeleteFileA(path_.c_str());
    }

    Bytes read(int32_t offset, int32_t capacity = 4 << 20) {
        Bytes buffer((size_t)capacity);
        int32_t n = read_block_to_memory(offset, buffer.data(), capacity);
        EXPECT_GE(n, 0) << "offset " << offset;
        buffer.resize(n < 0 ? 0 : (size_t)n);
        return buffer;
    }

    quillmar::DataBlockModel model_;
    std::vector<Bytes> payloads_;
    std::vector<int32_t> offsets_;
    int32_t stream_end_ = 0;
    std::string path_;
    size_t caches_before_ = 0;
};

TEST_F(Reader, LoadsTheHeaderViews) {
    ASSERT_NE(header_block, nullptr);
    EXPECT_EQ(((InstallHeader*)header_block)->entry_count, 1);
    EXPECT_EQ(script_entries, (ScriptEntry*)(header_block + sizeof(InstallHeader)));
    EXPECT_EQ(script_entries[0].opcode, 1);
    EXPECT_EQ(string_pool, (char*)(script_entries + 1));
    EXPECT_EQ(uninstaller_mode, 0);
}

TEST_F(Reader, ReadsBlocksInAnyOrderAndServesEarlierOnesFromTheCache) {
    const int32_t before = decode_requests;
    EXPECT_EQ(read(offsets_[2]), payloads_[2]);
    const int32_t decoded = decode_requests;
    EXPECT_GT(decoded, before) << "the late block had to be decoded";
    // Everything up to the third payload is cached now: earlier blocks cost
    // no decoding.
    EXPECT_EQ(read(offsets_[0]), payloads_[0]);
    EXPECT_EQ(read(offsets_[1]), payloads_[1]);
    EXPECT_EQ(read(offsets_[2]), payloads_[2]);
    EXPECT_EQ(decode_requests, decoded);
    EXPECT_EQ(read(offsets_[3]), payloads_[3]);
}

TEST_F(Reader, NegativeOffsetsReadConsecutiveBlocks) {
    EXPECT_EQ(read(offsets_[0]), payloads_[0]);
    EXPECT_EQ(read(-1), payloads_[1]);
    EXPECT_EQ(read(-1), payloads_[2]);
    EXPECT_EQ(read(-5), payloads_[3]);
}

TEST_F(Reader, CopiesBlocksToFiles) {
    for (int which : {2, 1}) {
        std::string out = temp_path("qmo");
        HANDLE f = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        EXPECT_EQ(read_block_to_file(offsets_[which], f), (int32_t)payloads_[which].size());
        CloseHandle(f);
        EXPECT_EQ(read_whole(out), payloads_[which]) << "payload " << which;
        DeleteFileA(out.c_str());
    }
}

TEST_F(Reader, CapacitySmallerThanTheBlock) {
    Bytes head = read(offsets_[2], 100);
    EXPECT_EQ(head, Bytes(payloads_[2].begin(), payloads_[2].begin() + 100));
    EXPECT_EQ(read_block_to_memory(offsets_[3], nullptr, 0), 0);
}

TEST_F(Reader, BlocksBeyondTheStreamAreDataErrors) {
    char byte;
    EXPECT_EQ(read_block_to_memory(stream_end_, &byte, 1), READ_ERR_DATA);
    EXPECT_EQ(read_block_to_memory(stream_end_ + 100000, &byte, 1), READ_ERR_DATA);
    EXPECT_EQ(read_block_to_memory(0x7FFFFFF0, &byte, 1), READ_ERR_DATA);
    // The blocks before stay readable.
    EXPECT_EQ(read(offsets_[3]), payloads_[3]);
    EXPECT_EQ(read(offsets_[0]), payloads_[0]);
}

TEST_F(Reader, UnwritableTargetLeavesTheCacheUsable) {
    std::string out = temp_path("qmo");
    // Opened for reading only: every write fails.
    HANDLE f = CreateFileA(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read_block_to_file(offsets_[2], f), READ_ERR_WRITE);
    CloseHandle(f);
    DeleteFileA(out.c_str());
    EXPECT_EQ(read(offsets_[2]), payloads_[2]);
    EXPECT_EQ(read(-1), payloads_[3]);
}

TEST_F(Reader, CacheIsPrivateAndDeletedOnClose) {
    std::vector<std::string> caches = cache_files();
    ASSERT_EQ(caches.size(), caches_before_ + 1);
    for (const std::string& name : caches) {
        HANDLE other = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
            continue;  // a cache of another, finished run: not ours
        }
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << name;
    }
    close_unpack_cache();
    EXPECT_EQ(cache_files().size(), caches_before_);
}

}  // namespace
