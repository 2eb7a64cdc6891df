// The framing and the limits of the data block's compressed stream: blocks
// of block-sorting compression, each after a marker byte, the stream closed
// by an end byte; no stream header and no checksums. Portable: the stub's
// decoder reads what the builder's compressor writes by these numbers.
#pragma once

#include <stdint.h>

static const uint8_t STREAM_BLOCK_MARKER = 0x31;  // before every block
static const uint8_t STREAM_END_MARKER = 0x17;    // after the last block

enum {
    // Entries of one block: its bytes after the initial run-length coding.
    STREAM_BLOCK_CAPACITY = 900000,
    // The largest origin pointer a block header may hold.
    STREAM_MAX_ORIGIN = 900010,
    // Symbols coded with one table, between two selectors.
    STREAM_GROUP_SIZE = 50,
    STREAM_MIN_TABLES = 2,
    STREAM_MAX_TABLES = 6,
    // Byte values in use, the two run symbols, and the end of block.
    STREAM_MAX_ALPHABET = 258,
    STREAM_MAX_CODE_LENGTH = 20,
    // Selectors beyond this count are read but not kept.
    STREAM_MAX_SELECTORS = 2 + STREAM_BLOCK_CAPACITY / STREAM_GROUP_SIZE,
};
