#include "datablock/crc32.h"
#include "datablock/records.h"
#include "startup/options.h"
#include "startup/progress_dialog.h"
#include "startup/startup.h"
#include "startup/texts.h"

int32_t header_position = 0;
uint32_t first_header_flags = 0;
DWORD dialog_not_before = 0;

static const char verifying_format[] = TEXT_VERIFYING_FORMAT;

// One static chunk buffer: memory use stays constant whatever the file size.
static uint8_t chunk_buffer[FIRST_HEADER_ALIGN];

static int fail_verification(HWND dialog) {
    if (dialog) DestroyWindow(dialog);
    if (!pending_message) pending_message = TEXT_VERIFICATION_FAILED;
    return 0;
}

static int read_exact(void* buffer, DWORD count) {
    DWORD got = 0;
    return ReadFile(own_file, buffer, count, &got, 0) && got == count;
}

int verify_data_block() {
    DWORD high = 0;
    DWORD size = GetFileSize(own_file, &high);
    // An empty file, or one too large for a signed 32-bit count, is never scanned.
    if (size == INVALID_FILE_SIZE || high != 0 || size == 0 || size > 0x7FFFFFFFu)
        return fail_verification(0);
    progress_of = (int32_t)size;
    progress_done = 0;

    HWND dialog = 0;
    int32_t remaining = progress_of;
    uint32_t crc = 0;
    int check_crc = 0;
    int found = 0;

    while (remaining > 0) {
        DWORD want = remaining < (int32_t)sizeof(chunk_buffer) ? (DWORD)remaining : sizeof(chunk_buffer);
        DWORD got = 0;
        // A read that brings nothing (the file shrank under us) is a read error
        // too; otherwise the loop would never end.
        if (!ReadFile(own_file, chunk_buffer, want, &got, 0) || got == 0) return fail_verification(dialog);
        int32_t chunk = (int32_t)got;

        if (!found) {
            // A chunk shorter than a FirstHeader cannot hold one; testing it would
            // read stale bytes of the previous chunk.
            int32_t total = chunk >= (int32_t)sizeof(FirstHeader) ? first_header_total_length(chunk_buffer) : 0;
            if (total) {
                found = 1;
                header_position = progress_done;
                first_header_flags = read_le32(chunk_buffer + offsetof(FirstHeader, flags));
                if (total > remaining) return fail_verification(dialog);
                // A data block must hold at least its own FirstHeader and, when
                // announced, its CRC; anything shorter (negative included) would
                // drive the counts below out of the file.
                int32_t minimum = (int32_t)sizeof(FirstHeader) + ((first_header_flags & FH_CRC) ? 4 : 0);
                if (total < minimum) return fail_verification(dialog);
                if (first_header_flags & FH_SILENT) silent_switch++;
                if (no_crc_switch && !(first_header_flags & FH_FORCE_CRC)) break;
                if (!(first_header_flags & FH_CRC)) break;
                check_crc = 1;
                remaining = total - 4;
                if (chunk > remaining) chunk = remaining;
            }
        } else if (!silent_switch) {
            if (dialog)
                dispatch_pending_messages();
            else if ((int32_t)(GetTickCount() - dialog_not_before) > 0)
                dialog = create_progress_dialog(module_handle, verifying_format);
        }

        // Every byte from CRC_SKIP_BYTES on enters the CRC.
        if (progress_done + chunk > (int32_t)CRC_SKIP_BYTES) {
            const int32_t skip = progress_done < (int32_t)CRC_SKIP_BYTES ? (int32_t)CRC_SKIP_BYTES - progress_done : 0;
            crc = crc32_update(crc, chunk_buffer + skip, (uint32_t)(chunk - skip));
        }
        progress_done += chunk;
        remaining -= chunk;
    }

    if (dialog) DestroyWindow(dialog);
    if (!found) return fail_verification(0);
    if (check_crc) {
        uint32_t stored = 0;
        if (SetFilePointer(own_file, progress_done, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !read_exact(&stored, sizeof(stored)) || stored != crc)
            return fail_verification(0);
    }
    if (SetFilePointer(own_file, header_position, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return fail_verification(0);
    return 1;
}
