// Test and benchmark helper: streams in this system's framing, made by the
// bzip2 library as an independent encoder, and a small bit writer to craft
// streams by hand.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Bits appended most significant first, as the decoder reads them.
class BitWriter {
public:
    void put(uint32_t value, int count);  // count 0..32
    void put_bit(int bit) { put((uint32_t)(bit & 1), 1); }
    void put_byte(uint32_t value) { put(value & 0xFFu, 8); }
    // Bits [from, from + count) of a buffer written by another writer.
    void put_bits_of(const std::vector<uint8_t>& bytes, size_t from, size_t count);
    size_t bit_count() const { return bits_; }
    // The bytes so far, the last one padded with zero bits.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// One block as this system frames it: the bits after the block marker byte.
struct BlockBits {
    std::vector<uint8_t> bytes;
    size_t bit_count = 0;
};

// Largest input the bzip2 library is sure to code as a single block at this
// level (1..9), allowing for the 25% growth of the initial run-length coding.
size_t reference_chunk_size(int level);

// The standard stream of the data, from BZ2_bzBuffToBuffCompress.
std::vector<uint8_t> standard_stream(const uint8_t* data, size_t size, int level);

// The blocks of a standard stream: each one's bits between its block CRC and
// the next block magic or the end magic. Fails (empty result and a message
// in *error) on anything that is not a standard stream.
std::vector<BlockBits> standard_blocks(const std::vector<uint8_t>& standard, std::string* error);

// Each block after the byte 0x31, then the end byte 0x17, joined bit by bit.
std::vector<uint8_t> frame_blocks(const std::vector<BlockBits>& blocks);

// The data cut into reference_chunk_size pieces, each coded by the library as
// one standard stream of one block; one BlockBits per piece.
std::vector<BlockBits> reference_blocks(const uint8_t* data, size_t size, int level);

// frame_blocks(reference_blocks(...)): the data as one stream in our framing.
std::vector<uint8_t> reference_stream(const uint8_t* data, size_t size, int level);

// Up to `limit` bytes of the first of these files that exist, read whole or
// in part (in list order); empty when none exists.
std::vector<uint8_t> read_file_prefix(const std::vector<std::string>& candidates, size_t limit);
