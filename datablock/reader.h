// Serves the blocks of the data block's one compressed stream by block offset.
// The stream is decoded strictly forward, by a worker thread, as far as the
// requests need (and, once files are being extracted, a bounded distance
// ahead); every decoded byte is kept in the unpack cache, a delete-on-close
// temporary file, so each block is decoded once and can be read again in any
// order.
#pragma once

#include <windows.h>
#include <stdint.h>

static const int32_t READ_ERR_INPUT = -1;  // reading the own file failed
static const int32_t READ_ERR_WRITE = -2;  // writing the cache or the target failed
static const int32_t READ_ERR_DATA = -3;   // bad or exhausted stream, or a cache read failed

// Once files are being extracted, the worker keeps this many decoded bytes
// ahead of the furthest byte asked for, so that the next files decode while
// the current ones are written: far enough to carry the writing through a run
// of many small files while the worker goes on. The cache keeps every decoded
// byte anyway, so the distance costs temporary disk space only when the
// installation ends early. The wizard pages and memory reads never make it
// decode more than they need.
static const int32_t READ_AHEAD = 64 << 20;

// Reads the FirstHeader at the own file's position, starts the decoder,
// creates the unpack cache and loads the header block into memory with its
// views. 0 on success, -1 on failure (after its own message, where it has one).
int load_header();

// Copies the block at `offset` (negative: the current position) into `file`.
// Returns the bytes copied or a READ_ERR_ code.
int32_t read_block_to_file(int32_t offset, HANDLE file);

// Reads min(block length, capacity) bytes of the block at `offset` (negative:
// the current position) into `buffer`. Returns that count or a READ_ERR_ code.
int32_t read_block_to_memory(int32_t offset, void* buffer, int32_t capacity);

// Reads `count` bytes of the own file at `position`, safely beside the
// decoding worker, which moves the own file's pointer too. 1 on success.
int read_own_file(int32_t position, void* buffer, DWORD count);

// Stops the decoding worker and closes the unpack cache, which deletes it.
// Part of the exit sequence, before the own file is closed.
void close_unpack_cache();

// How many times decoding had to run to satisfy a request (for diagnostics
// and tests: a request served from the cache does not count).
extern int32_t decode_requests;

// How many bytes of the stream the unpack cache holds so far (for diagnostics
// and tests; the worker may raise it at any moment).
int32_t decoded_bytes();

// Ends the decoder, closes the cache and forgets the header block, so that
// another data block can be loaded in the same process (the in-process tests
// load many).
void release_data_block();
