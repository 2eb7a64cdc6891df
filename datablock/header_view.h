// The loaded header block, kept in memory for the whole run, and the views
// into it. The data block reader sets them once the header block has been
// decoded; until then they are null and every flag reads as clear.
#pragma once

#include <stdint.h>

#include "datablock/records.h"

extern uint8_t* header_block;
extern int32_t header_block_length;
extern SectionRecord* section_records;  // installer only
extern ScriptEntry* script_entries;
extern char* string_pool;
extern int32_t string_pool_length;
extern int uninstaller_mode;

// misc_flags byte of the header record (same offset in both header variants).
inline uint8_t header_misc_flags() {
    return header_block ? header_block[offsetof(InstallHeader, misc_flags)] : 0;
}

// The header's silent byte (same offset in both variants).
inline uint8_t* header_silent_byte() {
    return header_block ? &header_block[offsetof(InstallHeader, silent)] : 0;
}
