// Handlers of the file and search handle family, and the table of the
// handles they open.
//
// The platform's handles never reach a VarSlot. Every file or search handle
// that the script opens takes an entry of one fixed table, and the VarSlot
// receives a handle number in signed decimal: the entry's index plus one,
// plus the table size times the number of times the entry has been closed
// before. Handle numbers are therefore always 1 or more (a failed open leaves
// the VarSlot empty, as without the table), fit in 31 bits on every build,
// and change each time an entry is reused, so that the text of a closed
// handle does not name the handle that took its entry later.
//
// A text names an open handle only when it is exactly the decimal form of
// the number written (no sign, no leading zero, nothing before or after) and
// the entry is open with the same number and the same kind (file or
// search). Any other text (empty, garbage, a closed or stale number, a
// platform handle value, a search handle given to a file instruction or the
// other way round) names no handle, and the instruction behaves as the
// platform call on a bad handle would: it fails, raising error_count where a
// failing call does, and closing such a text does nothing.
//
// When every entry is taken, file_open and find_first fail as a failed open
// does (handle VarSlot emptied, error_count raised) without asking the
// platform: a file opened to be created anew is not truncated.
#pragma once

#include "datablock/records.h"

// Open file and search handles at most, together.
static const int32_t HANDLE_TABLE_SIZE = 64;

int32_t op_file_close(const ScriptEntry* entry);
int32_t op_file_open(const ScriptEntry* entry);
int32_t op_file_write(const ScriptEntry* entry);
int32_t op_file_read(const ScriptEntry* entry);
int32_t op_file_seek(const ScriptEntry* entry);
int32_t op_find_close(const ScriptEntry* entry);
int32_t op_find_next(const ScriptEntry* entry);
int32_t op_find_first(const ScriptEntry* entry);
