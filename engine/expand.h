// String expansion: the codes 0xDB..0xFF of pool strings become VarSlots,
// state strings and well-known folders, looked up when the string is used.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "datablock/records.h"

// Every pool expansion is made here; it keeps the last one until the next.
static const int EXPANSION_BUFFER_SIZE = 2048;
extern char expansion_buffer[EXPANSION_BUFFER_SIZE];

// The language in use: its LanguageRecord and its page-text table (15 entries,
// 3 for an uninstaller). Null until the run driver has chosen a language;
// every language string is empty until then.
extern const LanguageRecord* current_language;
extern const int32_t* current_page_texts;

// Expands `source` into `dest`, which must provide EXPANSION_BUFFER_SIZE bytes.
// Source bytes are taken while fewer than 1024 bytes have been written; an
// insertion that starts below that bound is written whole.
void expand_string(char* dest, const char* source);

// StringPool offset of a language string: n >= 0 is field n of the current
// LanguageRecord, n < 0 entry -n-1 of the current page-text table. A number
// outside the record or the table gives -1 (the empty string).
int32_t lang_string_offset(int32_t number);

// expand_param of the language string; returns `dest` (1024 bytes).
char* expand_lang_string(char* dest, int32_t number);

// A folder of the shell ("Programs", "Desktop", ...): the machine-wide one
// first when all_users_flag is set, then the current user's, else the
// temporary folder. `out` has 1024 bytes.
void shell_folder_path(const char* name, char* out);

// A REG_SZ value into `out` (1024 bytes); empty when the key or value is
// missing, too long or of another type.
void read_reg_string(HKEY root, const char* subkey, const char* name, char* out);
