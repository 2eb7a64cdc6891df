// Stream decoder for the data block's compressed stream: block-sorting
// compression (inverse Burrows-Wheeler transform, move-to-front, zero-run
// coding, Huffman tables, initial run-length coding, optional randomisation)
// with this system's own framing (datablock/stream_format.h): no stream
// header, a marker byte before each block and an end byte, no checksums.
//
// The decoder is resumable at every bit read and every output byte: the
// caller lends input and output windows of any size through DecoderStream and
// calls decoder_decompress again when it returns DEC_OK.
//
// Portable and freestanding: no C runtime, no allocation after decoder_init.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "datablock/stream_format.h"

enum {
    DS_IDLE = 1,    // after the end marker
    DS_OUTPUT = 2,  // a decoded block is being written out
    // The block decoder's pending reads, in the order a block passes them.
    DS_BLOCK_MARKER = 11,
    DS_RANDOMISED = 12,
    DS_ORIGIN_1 = 13,
    DS_ORIGIN_2 = 14,
    DS_ORIGIN_3 = 15,
    DS_GROUP_MAP = 16,
    DS_BYTE_MAP = 17,
    DS_TABLE_COUNT = 18,
    DS_SELECTOR_COUNT = 19,
    DS_SELECTOR = 20,
    DS_LENGTH_START = 21,
    DS_LENGTH_MORE = 22,
    DS_LENGTH_STEP = 23,
    DS_FIRST_SYMBOL = 24,
    DS_FIRST_SYMBOL_BIT = 25,
    DS_RUN_SYMBOL = 26,
    DS_RUN_SYMBOL_BIT = 27,
    DS_NEXT_SYMBOL = 28,
    DS_NEXT_SYMBOL_BIT = 29,
};

enum {
    DEC_OK = 0,               // progress made: needs more input, or the window is full
    DEC_STREAM_END = 4,       // the end marker was read
    DEC_SEQUENCE_ERROR = -1,  // decode called after the end (or without a state)
    DEC_MEM_ERROR = -3,       // an allocation failed in decoder_init
    DEC_DATA_ERROR = -4,      // the stream violates the format
};

enum {
    // Codes of up to this many bits are decoded with one table look-up.
    DEC_LOOKUP_BITS = 10,
};

struct DecoderState;

// Owned and filled by the caller; the decoder advances the four window fields.
struct DecoderStream {
    const uint8_t* next_input;
    uint32_t input_left;
    uint8_t* next_output;
    uint32_t output_left;
    DecoderState* state;  // set by decoder_init, cleared by decoder_end
};

// The whole decoder state: every table lives here, so nothing large is ever
// on the stack and a call may end at any bit read. Zero-filled when allocated.
struct DecoderState {
    DecoderStream* stream;
    int32_t state_no;

    // Output stage.
    uint8_t run_byte;
    int32_t run_left;
    uint8_t randomised;
    int32_t rand_countdown;
    int32_t rand_position;

    // Bit reader: the live bits are the low live_bits bits of bit_buffer.
    uint32_t bit_buffer;
    int32_t live_bits;

    int32_t origin;
    uint32_t walk_position;
    int32_t byte_ahead;
    int32_t byte_counts[256];
    int32_t entries_fetched;
    int32_t cumulative[257];
    uint32_t* block;  // STREAM_BLOCK_CAPACITY entries

    // Block decoder tables.
    uint8_t in_use[256];
    uint8_t group_flags[16];
    uint8_t used_bytes[256];
    int32_t used_count;
    uint8_t mtf_area[4096];
    int32_t mtf_starts[16];
    uint8_t selectors[STREAM_MAX_SELECTORS];
    uint8_t selector_indices[STREAM_MAX_SELECTORS];
    uint8_t code_lengths[STREAM_MAX_TABLES][STREAM_MAX_ALPHABET];
    int32_t limit[STREAM_MAX_TABLES][STREAM_MAX_ALPHABET];
    int32_t base[STREAM_MAX_TABLES][STREAM_MAX_ALPHABET];
    int32_t perm[STREAM_MAX_TABLES][STREAM_MAX_ALPHABET];
    int32_t min_lengths[STREAM_MAX_TABLES];
    // Short-code look-up per table, indexed by the next DEC_LOOKUP_BITS bits:
    // (length << 9) | symbol, 0 when the code is longer than the look-up.
    uint16_t lookup[STREAM_MAX_TABLES][1 << DEC_LOOKUP_BITS];

    // Working variables of the block decoder, kept across bit reads.
    int32_t i, j, t;              // symbol index, inner index, table index
    int32_t alphabet_size;
    int32_t table_count;
    int32_t selector_count;       // as read from the stream
    int32_t selectors_kept;       // min(selector_count, STREAM_MAX_SELECTORS)
    int32_t end_of_block;
    int32_t group_no;
    int32_t group_left;
    int32_t block_length;
    int32_t run_length;           // run accumulator (0: no run pending)
    int32_t run_weight;
    int32_t current_length;       // during the code-length steps
    int32_t code_length;          // pending Huffman read: length reached
    int32_t code_value;           //   and value read so far
    int32_t table_no;             // table of the current group
    int32_t failed;               // a data error happened: the stream is dead
};

// Starts a decoder: DEC_OK, or DEC_MEM_ERROR (the state may then be attached
// without a block array; decoder_end frees it).
int decoder_init(DecoderStream* stream);
// Decodes as far as the input and output windows allow.
int decoder_decompress(DecoderStream* stream);
// Frees the block array and the state; always DEC_OK.
int decoder_end(DecoderStream* stream);

// The allocation seam, supplied by each build: zero-filled memory, or null.
void* decoder_alloc(uint32_t size);
void decoder_free(void* p);

// Read-only block randomisation table.
extern const uint16_t decoder_randomisation_table[512];
