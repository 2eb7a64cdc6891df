// Renames and deletions left to the next start of Windows, for files that are
// in use now.
#pragma once

#include <stdint.h>

// Schedules `source` (an existing file) to be renamed to `target` at the next
// restart, or deleted when `target` is null. Asks the system through
// MoveFileExA when the running Windows has it, otherwise writes the request
// into the wininit.ini of the Windows folder. Nonzero on success.
int32_t move_at_reboot(const char* source, const char* target);

// Writes the request for `source` and `target` (null: a deletion) as a line
// "TARGET=SOURCE" (short path names; NUL for a deletion) at the top of the
// [Rename] section of the wininit.ini at `ini_path`, which is created when
// absent; a section is appended when the file has none, and a line that the
// section holds already is not written again. 1 on success, 0 when the file
// cannot be opened or mapped (it is then left as it was).
int32_t add_wininit_request(const char* ini_path, const char* source, const char* target);

// The first occurrence of `pattern` in `text`, byte for byte, or null. With a
// negative `limit` the text is searched up to its NUL; otherwise only an
// occurrence that lies wholly within the first `limit` bytes counts. The scan
// never reads past a NUL in the text.
const char* find_text(const char* text, const char* pattern, int32_t limit);
