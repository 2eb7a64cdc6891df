#include "datablock/reader.h"

#include "datablock/header_view.h"
#include "datablock/records.h"
#include "decoder/decoder.h"
#include "startup/progress_dialog.h"
#include "startup/startup.h"
#include "startup/texts.h"
#include "ui/message_box.h"

static const DWORD INPUT_CHUNK = 16384;
static const DWORD OUTPUT_WINDOW = 32768;
static const DWORD DIALOG_DELAY_MS = 500;
static const int32_t STREAM_LIMIT = 0x7FFFFFFF;

int32_t decode_requests = 0;

static HANDLE cache = 0;  // the unpack cache file; 0 while none is open
static DecoderStream decoder;
static uint8_t input_buffer[INPUT_CHUNK];  // the decoding thread's
static uint8_t output_window[OUTPUT_WINDOW];
static uint8_t copy_buffer[INPUT_CHUNK];  // read_block_to_file's, on the reading thread
static int32_t input_position = 0;
static int32_t input_end = 0;
static int32_t stream_position = 0;
static int32_t block_base = 0;
static const char decompressing_format[] = TEXT_DECOMPRESSING_FORMAT;

// Decoding runs on a worker thread. The lock guards the file pointers of the
// own file and of the cache, which both threads move; the counters below are
// single words written with interlocked operations.
static CRITICAL_SECTION file_lock;
static int file_lock_ready = 0;
static HANDLE worker = 0;
static HANDLE work_event = 0;  // the decode target was raised, or the worker must stop
static HANDLE fill_event = 0;  // the awaited fill was reached, or decoding failed
static volatile LONG cache_fill = 0;
static volatile LONG decode_target = 0;  // the worker decodes until the cache holds this much
static volatile LONG awaited = 0;        // the fill the reading thread waits for (0: none)
// The first error decoding met. The stream cannot be decoded past it, so it
// stays: every later request beyond the cache gets it at once.
static volatile LONG stream_failure = 0;
static volatile LONG stopping = 0;
static int reading_ahead = 0;

int32_t decoded_bytes() { return cache_fill; }

static void seek(HANDLE file, int32_t position) { SetFilePointer(file, position, 0, FILE_BEGIN); }

int read_own_file(int32_t position, void* buffer, DWORD count) {
    if (file_lock_ready) EnterCriticalSection(&file_lock);
    seek(own_file, position);
    DWORD got = 0;
    const int ok = ReadFile(own_file, buffer, count, &got, 0) && got == count;
    if (file_lock_ready) LeaveCriticalSection(&file_lock);
    return ok;
}

static void lock_files() { EnterCriticalSection(&file_lock); }
static void unlock_files() { LeaveCriticalSection(&file_lock); }

static void raise_decode_target(int64_t target) {
    if (target > STREAM_LIMIT) target = STREAM_LIMIT;
    if (target > decode_target) InterlockedExchange(&decode_target, (LONG)target);
}

// ---- Decoding (on the worker, or on the reading thread without one) --------------

static int32_t append_to_cache(DWORD produced) {
    DWORD written = 0;
    lock_files();
    seek(cache, cache_fill);
    const int ok = WriteFile(cache, output_window, produced, &written, 0) && written == produced;
    unlock_files();
    if (!ok) return READ_ERR_WRITE;
    InterlockedExchangeAdd(&cache_fill, (LONG)produced);
    const LONG wanted = awaited;
    if (wanted && cache_fill >= wanted && fill_event) SetEvent(fill_event);
    return 0;
}

// Reads one input chunk and decodes all of it into the cache. `tick` keeps a
// waiting window alive when the reading thread decodes by itself.
static int32_t decode_chunk(void (*tick)()) {
    DWORD want = (DWORD)(input_end - input_position);
    if (want > INPUT_CHUNK) want = INPUT_CHUNK;
    DWORD got = 0;
    lock_files();
    seek(own_file, input_position);
    const BOOL read = ReadFile(own_file, input_buffer, want, &got, 0);
    unlock_files();
    if (!read) return READ_ERR_INPUT;
    decoder.next_input = input_buffer;
    decoder.input_left = got;
    input_position += (int32_t)got;
    for (;;) {
        if (tick) tick();
        decoder.next_output = output_window;
        decoder.output_left = OUTPUT_WINDOW;
        if (decoder_decompress(&decoder) < 0) return READ_ERR_DATA;
        const DWORD produced = OUTPUT_WINDOW - decoder.output_left;
        if (produced == 0) {
            // Stuck with input left, or the file has nothing more to give.
            if (decoder.input_left || got == 0) return READ_ERR_DATA;
            return 0;
        }
        const int32_t result = append_to_cache(produced);
        if (result < 0) return result;
        if (!decoder.input_left || stopping) return 0;
    }
}

static void decode_to_target(void (*tick)()) {
    while (!stream_failure && !stopping && cache_fill < decode_target) {
        const int32_t result = decode_chunk(tick);
        if (result < 0) {
            InterlockedExchange(&stream_failure, result);
            if (fill_event) SetEvent(fill_event);
        }
    }
}

static DWORD WINAPI decode_worker(void*) {
    while (!stopping) {
        decode_to_target(0);
        WaitForSingleObject(work_event, INFINITE);
    }
    return 0;
}

static void start_worker() {
    if (!file_lock_ready) {
        InitializeCriticalSection(&file_lock);
        file_lock_ready = 1;
    }
    stopping = 0;
    work_event = CreateEventA(0, FALSE, FALSE, 0);
    fill_event = CreateEventA(0, FALSE, FALSE, 0);
    if (work_event && fill_event) worker = CreateThread(0, 0, decode_worker, 0, 0, 0);
    // Without a worker the reading thread decodes by itself.
}

static void stop_worker() {
    if (worker) {
        InterlockedExchange(&stopping, 1);
        SetEvent(work_event);
        WaitForSingleObject(worker, INFINITE);
        CloseHandle(worker);
        worker = 0;
    }
    if (work_event) CloseHandle(work_event);
    if (fill_event) CloseHandle(fill_event);
    work_event = fill_event = 0;
}

// ---- Waiting for bytes (on the reading thread) -------------------------------------

static HWND progress_window = 0;
static DWORD progress_not_before = 0;
static int may_show_dialog = 0;
static int64_t needed_fill = 0;

static void progress_tick() {
    if (!may_show_dialog) return;
    if (progress_window) {
        progress_done = progress_of - (int32_t)(needed_fill - cache_fill);
        dispatch_pending_messages();
    } else if ((int32_t)(GetTickCount() - progress_not_before) > 0) {
        progress_window = create_progress_dialog(module_handle, decompressing_format);
    }
}

// Makes sure `count` bytes from the stream position are in the cache.
static int32_t ensure(int32_t count) {
    const int64_t need = (int64_t)stream_position + count;
    if (need <= cache_fill) {
        // Served from the cache; keep the worker ahead of the reader.
        if (reading_ahead && worker && need + READ_AHEAD / 2 > decode_target) {
            raise_decode_target(need + READ_AHEAD);
            SetEvent(work_event);
        }
        return 0;
    }
    // A request past the largest possible stream can never be met.
    if (need > STREAM_LIMIT) return READ_ERR_DATA;
    decode_requests++;
    if (stream_failure) return stream_failure;

    needed_fill = need;
    progress_not_before = GetTickCount() + DIALOG_DELAY_MS;
    progress_of = (int32_t)(need - cache_fill);
    progress_done = 0;
    // The header block itself always loads without a dialog.
    const uint8_t* silent = header_silent_byte();
    may_show_dialog = silent && *silent == 0;
    progress_window = 0;

    InterlockedExchange(&awaited, (LONG)need);
    if (worker) {
        raise_decode_target(reading_ahead ? need + READ_AHEAD : need);
        SetEvent(work_event);
        while (cache_fill < need && !stream_failure) {
            progress_tick();
            WaitForSingleObject(fill_event, progress_window ? 50 : 100);
        }
    } else {
        raise_decode_target(need);
        decode_to_target(progress_tick);
    }
    InterlockedExchange(&awaited, 0);

    if (progress_window) DestroyWindow(progress_window);
    progress_window = 0;
    return cache_fill >= need ? 0 : stream_failure;
}

// Reads from the cache at the stream position and moves past what was read.
static int read_cache(void* buffer, DWORD count) {
    DWORD got = 0;
    lock_files();
    seek(cache, stream_position);
    const int ok = ReadFile(cache, buffer, count, &got, 0) && got == count;
    unlock_files();
    if (ok) stream_position += (int32_t)count;
    return ok;
}

// Positions the stream at the block at `offset` (negative: where it stands),
// reads its length field and makes sure the whole block is in the cache.
static int32_t open_block(int32_t offset, int32_t* length) {
    if (offset >= 0) {
        if ((int64_t)block_base + offset > STREAM_LIMIT - 4) return READ_ERR_DATA;
        stream_position = block_base + offset;
    }
    int32_t result = ensure(4);
    if (result < 0) return result;
    if (!read_cache(length, 4)) return READ_ERR_DATA;
    return ensure(*length);
}

int32_t read_block_to_file(int32_t offset, HANDLE file) {
    reading_ahead = 1;
    int32_t length = 0;
    int32_t result = open_block(offset, &length);
    if (result < 0) return result;
    int32_t copied = 0;
    while (length > 0) {
        DWORD piece = length < (int32_t)INPUT_CHUNK ? (DWORD)length : INPUT_CHUNK;
        DWORD written = 0;
        // The stream position moves past the piece even when the target
        // refuses the bytes.
        if (!read_cache(copy_buffer, piece)) return READ_ERR_DATA;
        if (!WriteFile(file, copy_buffer, piece, &written, 0) || written != piece) return READ_ERR_WRITE;
        copied += (int32_t)piece;
        length -= (int32_t)piece;
    }
    return copied;
}

static int32_t read_open_block(int32_t length, void* buffer, int32_t capacity) {
    int32_t count = length < capacity ? length : capacity;
    if (count <= 0) return 0;
    return read_cache(buffer, (DWORD)count) ? count : READ_ERR_DATA;
}

int32_t read_block_to_memory(int32_t offset, void* buffer, int32_t capacity) {
    int32_t length = 0;
    int32_t result = open_block(offset, &length);
    return result < 0 ? result : read_open_block(length, buffer, capacity);
}

static int create_unpack_cache() {
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    DWORD n = GetTempPathA(MAX_PATH, directory);
    if (n == 0 || n > MAX_PATH) return 0;
    if (!GetTempFileNameA(directory, "tki", 0, name)) return 0;
    HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);  // the empty file the name was reserved with
        return 0;
    }
    cache = file;
    return 1;
}

// The views must lie inside the header block; a block too short for its own
// counts is treated like a short read.
static int set_header_views(uint8_t* block, int32_t length) {
    const int64_t record = uninstaller_mode ? sizeof(UninstallHeader) : sizeof(InstallHeader);
    if (length < record) return 0;
    const InstallHeader* h = (const InstallHeader*)block;
    const int64_t sections = uninstaller_mode ? 0 : h->section_count;
    if (h->entry_count < 0 || sections < 0) return 0;
    const int64_t entries_at = record + sections * (int64_t)sizeof(SectionRecord);
    const int64_t pool_at = entries_at + (int64_t)h->entry_count * (int64_t)sizeof(ScriptEntry);
    if (pool_at > length) return 0;
    header_block = block;
    header_block_length = length;
    section_records = uninstaller_mode ? 0 : (SectionRecord*)(block + record);
    script_entries = (ScriptEntry*)(block + entries_at);
    string_pool = (char*)(block + pool_at);
    string_pool_length = (int32_t)(length - pool_at);
    return 1;
}

int load_header() {
    FirstHeader first;
    DWORD got = 0;
    if (!ReadFile(own_file, &first, sizeof(first), &got, 0) || got != sizeof(first) ||
        !first_header_total_length(&first))
        return -1;
    const int32_t header_length = first.header_length;
    uint8_t* buffer = header_length > 0 ? (uint8_t*)GlobalAlloc(GPTR, (SIZE_T)header_length) : 0;

    if (decoder_init(&decoder) < 0) {
        if (buffer) GlobalFree(buffer);
        return -1;
    }
    if (!create_unpack_cache()) {
        if (buffer) GlobalFree(buffer);
        installer_message_box(TEXT_CACHE_CREATE_FAILED, 0);
        return -1;
    }
    input_position = header_position + (int32_t)sizeof(FirstHeader);
    input_end = header_position + first.total_length - ((first.flags & FH_CRC) ? 4 : 0);
    uninstaller_mode = (first.flags & FH_UNINSTALLER) != 0;
    start_worker();

    // The header block must be exactly header_length long and hold the
    // records its counts announce.
    int32_t block_length = -1;
    int32_t count = buffer ? open_block(-1, &block_length) : -1;
    if (count == 0) count = read_open_block(block_length, buffer, header_length);
    if (count != header_length || block_length != header_length || !set_header_views(buffer, header_length)) {
        installer_message_box(TEXT_HEADER_READ_FAILED, 0);
        if (buffer) GlobalFree(buffer);
        return -1;
    }
    block_base = stream_position;
    return 0;
}

void close_unpack_cache() {
    stop_worker();
    if (cache) {
        CloseHandle(cache);
        cache = 0;
    }
}

void release_data_block() {
    close_unpack_cache();
    decoder_end(&decoder);
    if (header_block) GlobalFree(header_block);
    header_block = 0;
    header_block_length = 0;
    section_records = 0;
    script_entries = 0;
    string_pool = 0;
    string_pool_length = 0;
    uninstaller_mode = 0;
    input_position = input_end = stream_position = block_base = 0;
    cache_fill = decode_target = awaited = stream_failure = 0;
    reading_ahead = 0;
}
