// The builder's compressor for the data block's stream: block-sorting
// compression in 900000-byte blocks, framed as the stub's decoder expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "datablock/stream_format.h"

namespace quillmar {

enum class Framing {
    // The data block's stream: each block after STREAM_BLOCK_MARKER, the
    // stream closed by STREAM_END_MARKER; no header, no checksums.
    quillmar,
    // The same blocks in the standard bzip2 framing ("BZh9", 48-bit block and
    // end magics, block and stream CRCs). For checking against other tools.
    bzip2,
};

// Largest number of bytes in one block after the initial run-length coding.
constexpr size_t kBlockCapacity = STREAM_BLOCK_CAPACITY;

// Told after each block has been coded: the input bytes coded so far and
// the input size. Called from the coding threads, but never from two at once;
// `done` only grows and ends at `total`.
using CompressProgress = std::function<void(size_t done, size_t total)>;

// Compresses data[0..size) into one stream. `threads` 0 uses every core;
// the output bytes are the same for every thread count, with or without a
// progress callback.
//
// The one place where the builder's library throws: std::bad_alloc when
// memory runs out, std::system_error when a coding thread cannot start, and
// whatever the progress callback throws. The exception passes through
// build_installer untouched (no output is written before it returns); the
// command line reports it as a failed compression.
std::vector<uint8_t> compress_stream(const uint8_t* data, size_t size, Framing framing = Framing::quillmar,
                                     unsigned threads = 0, const CompressProgress& progress = CompressProgress());

// The pieces below are exposed for tests.

// Splits data[0..size) into blocks: the sizes, in original bytes, of
// consecutive pieces whose run-length coded form fits kBlockCapacity
// (`capacity` can be lowered to test block boundaries).
std::vector<size_t> split_blocks(const uint8_t* data, size_t size, size_t capacity = kBlockCapacity);

// Initial run-length coding of one block: runs of 4 to 255 equal bytes become
// the 4 bytes and a count byte of further copies (0..251).
std::vector<uint8_t> run_length_code(const uint8_t* data, size_t size);

// CRC of the standard bzip2 framing (CRC-32, polynomial 0x04C11DB7, MSB first).
uint32_t block_crc(const uint8_t* data, size_t size);

}  // namespace quillmar
