#include "tests/host/bz2_reference.h"

#include <bzlib.h>

#include <fstream>
#include <stdexcept>

void BitWriter::put(uint32_t value, int count) {
    for (int k = count - 1; k >= 0; k--) {
        if ((bits_ & 7) == 0) bytes_.push_back(0);
        if ((value >> k) & 1u) bytes_.back() |= (uint8_t)(0x80u >> (bits_ & 7));
        bits_++;
    }
}

namespace {

inline uint32_t bit_at(const std::vector<uint8_t>& bytes, size_t i) {
    return (bytes[i >> 3] >> (7 - (i & 7))) & 1u;
}

// Eight bits starting at any bit offset (bits past the end read as 0).
inline uint32_t byte_at(const std::vector<uint8_t>& bytes, size_t i) {
    const size_t at = i >> 3;
    uint32_t word = (uint32_t)bytes[at] << 8;
    if (at + 1 < bytes.size()) word |= bytes[at + 1];
    return (word >> (8 - (i & 7))) & 0xFFu;
}

uint64_t bits48_at(const std::vector<uint8_t>& bytes, size_t i) {
    uint64_t v = 0;
    for (int k = 0; k < 6; k++) v = (v << 8) | byte_at(bytes, i + 8 * (size_t)k);
    return v;
}

const uint64_t kBlockMagic = 0x314159265359ull;
const uint64_t kEndMagic = 0x177245385090ull;

}  // namespace

void BitWriter::put_bits_of(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    size_t i = from;
    const size_t end = from + count;
    while (i + 8 <= end) {
        put(byte_at(bytes, i), 8);
        i += 8;
    }
    while (i < end) put(bit_at(bytes, i++), 1);
}

size_t reference_chunk_size(int level) {
    const size_t block = (size_t)100000 * (size_t)level - 19;  // the library's block limit
    size_t chunk = block / 5 * 4 - 16;
    return chunk > 700000 ? 700000 : chunk;
}

std::vector<uint8_t> standard_stream(const uint8_t* data, size_t size, int level) {
    std::vector<uint8_t> out(size + size / 50 + 1024);
    unsigned int out_len = (unsigned int)out.size();
    const int rc = BZ2_bzBuffToBuffCompress((char*)out.data(), &out_len, (char*)data, (unsigned int)size,
                                            level, 0, 30);
    if (rc != BZ_OK) throw std::runtime_error("BZ2_bzBuffToBuffCompress failed");
    out.resize(out_len);
    return out;
}

std::vector<BlockBits> standard_blocks(const std::vector<uint8_t>& standard, std::string* error) {
    std::vector<BlockBits> blocks;
    auto fail = [&](const char* message) {
        if (error) *error = message;
        return std::vector<BlockBits>();
    };
    if (standard.size() < 14 || standard[0] != 'B' || standard[1] != 'Z' || standard[2] != 'h')
        return fail("no stream header");
    // The end magic, its CRC and 0..7 padding bits close the stream.
    const size_t total = standard.size() * 8;
    size_t end = 0;
    for (size_t pad = 0; pad < 8 && end == 0; pad++) {
        const size_t at = total - pad - 80;
        if (bits48_at(standard, at) == kEndMagic) end = at;
    }
    if (end == 0) return fail("no end magic");
    size_t at = 32;
    while (at < end) {
        if (bits48_at(standard, at) != kBlockMagic) return fail("no block magic");
        const size_t body = at + 48 + 32;
        // The next block magic on any bit position, or the end magic.
        uint64_t window = 0;
        size_t next = end;
        for (size_t i = body; i < end; i++) {
            window = ((window << 1) | bit_at(standard, i)) & 0xFFFFFFFFFFFFull;
            if (i + 1 >= body + 48 && window == kBlockMagic) {
                next = i + 1 - 48;
                break;
            }
        }
        BitWriter w;
        w.put_bits_of(standard, body, next - body);
        blocks.push_back(BlockBits{w.bytes(), w.bit_count()});
        at = next;
    }
    return blocks;
}

std::vector<uint8_t> frame_blocks(const std::vector<BlockBits>& blocks) {
    BitWriter w;
    for (const BlockBits& b : blocks) {
        w.put_byte(0x31);
        w.put_bits_of(b.bytes, 0, b.bit_count);
    }
    w.put_byte(0x17);
    return w.bytes();
}

std::vector<BlockBits> reference_blocks(const uint8_t* data, size_t size, int level) {
    std::vector<BlockBits> blocks;
    const size_t chunk = reference_chunk_size(level);
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        std::string error;
        std::vector<BlockBits> one = standard_blocks(standard_stream(data + at, n, level), &error);
        if (one.size() != 1) throw std::runtime_error("chunk did not give exactly one block: " + error);
        blocks.push_back(one[0]);
    }
    return blocks;
}

std::vector<uint8_t> reference_stream(const uint8_t* data, size_t size, int level) {
    return frame_blocks(reference_blocks(data, size, level));
}

std::vector<uint8_t> read_file_prefix(const std::vector<std::string>& candidates, size_t limit) {
    for (const std::string& path : candidates) {
        std::ifstream f(path, std::ios::binary);
        if (!f) continue;
        std::vector<uint8_t> data(limit);
        f.read((char*)data.data(), (std::streamsize)limit);
        data.resize((size_t)f.gcount());
        if (!data.empty()) return data;
    }
    return {};
}
