#include "datablock/reader.h"

#include "datablock/header_view.h"
#include "datablock/records.h"
#include "decoder/decoder.h"
#include "startup/progress_dialog.h"
#include "startup/startup.h"
#include "ui/message_box.h"

#define TEXT_CACHE_CREATE_FAILED "Erreur lors de l'\xE9" "criture du fichier temp"
#define TEXT_HEADER_READ_FAILED "Erreur lors de la lecture du block d'infos de l'installation"
#define TEXT_DECOMPRESSING_FORMAT "d\xE9" "compression: %d%%"

static const DWORD INPUT_CHUNK = 16384;
static const DWORD OUTPUT_WINDOW = 32768;
static const DWORD DIALOG_DELAY_MS = 500;

int32_t decode_requests = 0;

static HANDLE cache = INVALID_HANDLE_VALUE;
static DecoderStream decoder;
static uint8_t input_buffer[INPUT_CHUNK];  // also the copy buffer of read_block_to_file
static uint8_t output_window[OUTPUT_WINDOW];
static int32_t input_position = 0;
static int32_t input_end = 0;
static int32_t cache_fill = 0;
static int32_t stream_position = 0;
static int32_t block_base = 0;
static const char decompressing_format[] = TEXT_DECOMPRESSING_FORMAT;

static void seek(HANDLE file, int32_t position) { SetFilePointer(file, position, 0, FILE_BEGIN); }

// Bytes still to decode before `count` bytes from the stream position are in
// the cache. Computed wide: offsets from a corrupt script may be near 2^31.
static int64_t missing_bytes(int32_t count) {
    return (int64_t)stream_position + count - cache_fill;
}

// Decodes forward until `count` bytes from the stream position are cached.
static int32_t ensure(int32_t count) {
    if (missing_bytes(count) <= 0) return 0;
    // A request past the largest possible stream can never be met.
    if (missing_bytes(count) > 0x7FFFFFFF - (int64_t)cache_fill) return READ_ERR_DATA;
    decode_requests++;
    seek(own_file, input_position);
    seek(cache, cache_fill);
    const DWORD dialog_not_before = GetTickCount() + DIALOG_DELAY_MS;
    progress_of = (int32_t)missing_bytes(count);
    progress_done = 0;
    // The header block itself always loads without a dialog.
    const uint8_t* silent = header_silent_byte();
    const int may_show_dialog = silent && *silent == 0;
    HWND dialog = 0;
    int32_t result = 0;

    do {
        DWORD want = (DWORD)(input_end - input_position);
        if (want > INPUT_CHUNK) want = INPUT_CHUNK;
        DWORD got = 0;
        if (!ReadFile(own_file, input_buffer, want, &got, 0)) {
            result = READ_ERR_INPUT;
            break;
        }
        decoder.next_input = input_buffer;
        decoder.input_left = got;
        input_position += (int32_t)got;
        for (;;) {
            if (may_show_dialog) {
                if (dialog) {
                    progress_done = progress_of - (int32_t)missing_bytes(count);
                    dispatch_pending_messages();
                } else if ((int32_t)(GetTickCount() - dialog_not_before) > 0) {
                    dialog = create_progress_dialog(module_handle, decompressing_format);
                }
            }
            decoder.next_output = output_window;
            decoder.output_left = OUTPUT_WINDOW;
            if (decoder_decompress(&decoder) < 0) {
                result = READ_ERR_DATA;
                break;
            }
            DWORD produced = OUTPUT_WINDOW - decoder.output_left;
            if (produced == 0) {
                // Stuck with input left, or the file has nothing more to give.
                if (decoder.input_left || got == 0) result = READ_ERR_DATA;
                break;
            }
            DWORD written = 0;
            if (!WriteFile(cache, output_window, produced, &written, 0) || written != produced) {
                result = READ_ERR_WRITE;
                break;
            }
            cache_fill += (int32_t)produced;
            if (!decoder.input_left) break;
        }
    } while (result == 0 && missing_bytes(count) > 0);

    if (dialog) DestroyWindow(dialog);
    seek(cache, stream_position);
    return result;
}

// Positions the stream at the block at `offset` (negative: where it stands),
// reads its length field and makes sure the whole block is in the cache.
static int32_t open_block(int32_t offset, int32_t* length) {
    if (offset >= 0) {
        if ((int64_t)block_base + offset > 0x7FFFFFFF - 4) return READ_ERR_DATA;
        stream_position = block_base + offset;
        seek(cache, stream_position);
    }
    int32_t result = ensure(4);
    if (result < 0) return result;
    DWORD got = 0;
    if (!ReadFile(cache, length, 4, &got, 0) || got != 4) return READ_ERR_DATA;
    stream_position += 4;
    return ensure(*length);
}

int32_t read_block_to_file(int32_t offset, HANDLE file) {
    int32_t length = 0;
    int32_t result = open_block(offset, &length);
    if (result < 0) return result;
    int32_t copied = 0;
    while (length > 0) {
        DWORD piece = length < (int32_t)INPUT_CHUNK ? (DWORD)length : INPUT_CHUNK;
        DWORD got = 0, written = 0;
        if (!ReadFile(cache, input_buffer, piece, &got, 0) || got != piece) return READ_ERR_DATA;
        // The cache pointer has moved on, so the stream position follows it
        // even when the target refuses the bytes.
        stream_position += (int32_t)piece;
        if (!WriteFile(file, input_buffer, piece, &written, 0) || written != piece) return READ_ERR_WRITE;
        copied += (int32_t)piece;
        length -= (int32_t)piece;
    }
    return copied;
}

static int32_t read_open_block(int32_t length, void* buffer, int32_t capacity) {
    int32_t count = length < capacity ? length : capacity;
    if (count <= 0) return 0;
    DWORD got = 0;
    if (!ReadFile(cache, buffer, (DWORD)count, &got, 0) || got != (DWORD)count) return READ_ERR_DATA;
    stream_position += count;
    return count;
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
    cache = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (cache == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);  // the empty file the name was reserved with
        return 0;
    }
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
    if (cache != INVALID_HANDLE_VALUE) {
        CloseHandle(cache);
        cache = INVALID_HANDLE_VALUE;
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
    input_position = input_end = cache_fill = stream_position = block_base = 0;
}
