// The data block reader on installers made in-process by the builder library.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "datablock/header_view.h"
#include "datablock/opcodes.h"
#include "datablock/reader.h"
#include "startup/startup.h"
#include "tests/decodable_length.h"
#include "tests/file_helpers.h"

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

// Loads an installer made of `payloads` as the stub loads its own file.
// `damage` may change the compressed stream first; it gets the image and the
// stream's first and end offsets in it.
class ReaderBase : public ::testing::Test {
protected:
    using Damage = std::function<void(Bytes& image, size_t stream_start, size_t stream_end)>;

    void load(std::vector<Bytes> payloads, const Damage& damage = {}) {
        model_.languages = {quillmar::Language(1033)};
        model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        payloads_ = std::move(payloads);
        for (const Bytes& p : payloads_) model_.add_payload(p);
        std::string error;
        quillmar::DataBlock layout;
        ASSERT_TRUE(quillmar::lay_out_data_block(model_, {}, compress, layout, error)) << error;
        offsets_ = layout.payload_offsets;
        block_base_ = 4 + layout.header_length;
        stream_end_ = (int32_t)(layout.stream.size() - block_base_);

        header_position = (int32_t)quillmar::first_header_offset(1000);
        // Large installers are built once for all the tests of their suite.
        const std::string suite = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
        static std::map<std::string, Bytes> built;
        Bytes& image = built[suite];
        if (image.empty()) {
            quillmar::ImageOptions options;
            options.flags = FH_CRC;
            ASSERT_TRUE(quillmar::build_installer(model_, Bytes(1000, 'M'), compress, options, image, error)) << error;
            if (damage) {
                const FirstHeader* first = (const FirstHeader*)&image[header_position];
                damage(image, header_position + sizeof(FirstHeader),
                       header_position + (size_t)first->total_length - 4);
            }
        }
        path_ = temp_path("qmr");
        ASSERT_TRUE(test_files::write_file(path_, image.data(), image.size()));
        own_file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(own_file, INVALID_HANDLE_VALUE);
        caches_before_ = cache_files().size();
        reload();
    }

    void reload() {
        SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
        ASSERT_EQ(load_header(), 0);
    }

    void TearDown() override {
        release_data_block();
        if (own_file != INVALID_HANDLE_VALUE) CloseHandle(own_file);
        own_file = INVALID_HANDLE_VALUE;
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }

    Bytes read(int32_t offset, int32_t capacity = 4 << 20) {
        Bytes buffer((size_t)capacity);
        int32_t n = read_block_to_memory(offset, buffer.data(), capacity);
        EXPECT_GE(n, 0) << "offset " << offset;
        buffer.resize(n < 0 ? 0 : (size_t)n);
        return buffer;
    }

    // Copies a block into a new temporary file and gives back what landed there.
    Bytes copy_to_file(int32_t offset, int32_t* result) {
        std::string out = temp_path("qmo");
        HANDLE f = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(f, INVALID_HANDLE_VALUE);
        *result = read_block_to_file(offset, f);
        CloseHandle(f);
        Bytes copied = test_files::read_bytes(out);
        DeleteFileA(out.c_str());
        return copied;
    }

    // Where payload `which` ends in the decoded stream, counted as the cache
    // fill is: from the stream's first byte.
    int64_t end_of(size_t which) const {
        return block_base_ + offsets_[which] + 4 + (int64_t)payloads_[which].size();
    }

    quillmar::DataBlockModel model_;
    std::vector<Bytes> payloads_;
    std::vector<int32_t> offsets_;
    int64_t block_base_ = 0;
    int32_t stream_end_ = 0;  // from the block base
    std::string path_;
    size_t caches_before_ = 0;
};

// An installer with four payloads (one of them empty).
class Reader : public ReaderBase {
protected:
    void SetUp() override {
        // The third payload spans several compressed blocks, so reading it
        // decodes beyond what loading the header did.
        load({pattern(10000, 1), Bytes(), pattern(2500000, 2), Bytes{'x', 'y', 'z'}});
    }
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
        int32_t result = 0;
        EXPECT_EQ(copy_to_file(offsets_[which], &result), payloads_[which]) << "payload " << which;
        EXPECT_EQ(result, (int32_t)payloads_[which].size());
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

// ---- The decoding worker ------------------------------------------------------

// Decoding stops only between compressed blocks' worth of output, so the cache
// may hold up to about one block more than was asked for.
const int64_t SLACK = 2 << 20;

// Waits up to 30 s for the cache to hold at least `fill` bytes.
bool wait_for_fill(int64_t fill) {
    for (int i = 0; i < 600 && decoded_bytes() < fill; i++) Sleep(50);
    return decoded_bytes() >= fill;
}

// The cache fill once the worker has stopped: unchanged for half a second.
int32_t settled_fill() {
    int32_t fill = decoded_bytes();
    for (int quiet = 0, i = 0; quiet < 10 && i < 600; i++) {
        Sleep(50);
        const int32_t now = decoded_bytes();
        quiet = now == fill ? quiet + 1 : 0;
        fill = now;
    }
    return fill;
}

// A small payload, then one well beyond the read-ahead distance.
class ReadAhead : public ReaderBase {
protected:
    void SetUp() override { load({pattern(10000, 3), pattern(READ_AHEAD + (4 << 20), 4), Bytes{'e', 'n', 'd'}}); }
};

TEST_F(ReadAhead, MemoryReadsDecodeOnlyWhatTheyNeed) {
    EXPECT_LE(settled_fill(), block_base_ + SLACK) << "loading the header";
    EXPECT_EQ(read(offsets_[0]), payloads_[0]);
    EXPECT_LE(settled_fill(), end_of(0) + SLACK);
}

TEST_F(ReadAhead, FileExtractionKeepsTheWorkerAheadWithinItsBound) {
    int32_t result = 0;
    EXPECT_EQ(copy_to_file(offsets_[0], &result), payloads_[0]);
    const int64_t target = end_of(0) + READ_AHEAD;
    EXPECT_TRUE(wait_for_fill(target)) << "the worker stopped at " << decoded_bytes();
    EXPECT_LE(settled_fill(), target + SLACK);
    // The next file comes from what was decoded ahead, and the rest.
    const int32_t requests = decode_requests;
    EXPECT_EQ(copy_to_file(-1, &result), payloads_[1]);
    EXPECT_EQ(result, (int32_t)payloads_[1].size());
    EXPECT_EQ(decode_requests, requests + 1);
    EXPECT_EQ(read(-1), payloads_[2]);
}

TEST_F(ReadAhead, ReleasingStopsTheWorkerMidway) {
    int32_t result = 0;
    EXPECT_EQ(copy_to_file(offsets_[0], &result), payloads_[0]);
    release_data_block();  // while the worker decodes ahead
    EXPECT_EQ(cache_files().size(), caches_before_);
    // The same installer loads again from scratch.
    reload();
    EXPECT_LE(settled_fill(), block_base_ + SLACK);
    EXPECT_EQ(read(offsets_[1], (int32_t)payloads_[1].size()), payloads_[1]);
}

// A stream that cannot be decoded inside its third payload: one byte near the
// end set to 0xFF (a run of one bits, of long codes). The stream has no
// checksums of its own, and most changed bytes only give other data of the
// same length, so the test picks the first byte, going back from the end,
// whose change makes the stream fail inside that payload.
class DamagedStream : public ReaderBase {
protected:
    void SetUp() override {
        load({pattern(10000, 5), pattern(1000000, 6), pattern(1200000, 7), Bytes{'e', 'n', 'd'}},
             [this](Bytes& image, size_t start, size_t end) {
                 const Bytes intact(image.begin() + (long)start, image.begin() + (long)end);
                 for (size_t back = 4000; back < 40000; back += 97) {
                     Bytes damaged = intact;
                     damaged[damaged.size() - back] = 0xFF;
                     const int64_t decodable = (int64_t)decodable_length(damaged);
                     if (decodable >= end_of(1) && decodable < end_of(2)) {
                         image[end - back] = 0xFF;
                         decodable_ = decodable;
                         return;
                     }
                 }
             });
        ASSERT_NE(decodable_, 0) << "no byte near the end spoils the third payload";
    }
    static int64_t decodable_;  // kept with the suite's installer
};

int64_t DamagedStream::decodable_ = 0;

TEST_F(DamagedStream, AFailureAheadLeavesTheBlocksBeforeItReadable) {
    int32_t result = 0;
    EXPECT_EQ(copy_to_file(offsets_[0], &result), payloads_[0]);
    // The read-ahead runs into the damage and keeps every byte before it.
    EXPECT_EQ(settled_fill(), decodable_);
    const int32_t requests = decode_requests;
    EXPECT_EQ(read(offsets_[1]), payloads_[1]);
    EXPECT_EQ(decode_requests, requests) << "served from the cache";
    Bytes buffer(payloads_[2].size());
    EXPECT_EQ(read_block_to_file(offsets_[2], INVALID_HANDLE_VALUE), READ_ERR_DATA);
    EXPECT_EQ(read_block_to_memory(offsets_[2], buffer.data(), (int32_t)buffer.size()), READ_ERR_DATA);
    EXPECT_EQ(read_block_to_memory(offsets_[3], buffer.data(), (int32_t)buffer.size()), READ_ERR_DATA);
    // The failure stays; what came before does too.
    EXPECT_EQ(read(offsets_[0]), payloads_[0]);
    EXPECT_EQ(copy_to_file(offsets_[1], &result), payloads_[1]);
}

}  // namespace
