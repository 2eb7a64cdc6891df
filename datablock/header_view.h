// The loaded header block, kept in memory for the whole run. The data block
// reader sets it once the header block has been decoded; until then it is null
// and every flag reads as clear.
#pragma once

#include <stdint.h>

#include "datablock/records.h"

extern uint8_t* header_block;

// misc_flags byte of the header record (same offset in both header variants).
inline uint8_t header_misc_flags() {
    return header_block ? header_block[offsetof(InstallHeader, misc_flags)] : 0;
}
