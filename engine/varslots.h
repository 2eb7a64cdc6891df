// VarSlots: one contiguous array of 25 string buffers of 1024 bytes. The array
// stays contiguous because plug-in libraries receive its address.
#pragma once

#include "datablock/string_codes.h"

static const int VAR_SLOT_SIZE = 1024;

extern char var_slots[VAR_SLOT_COUNT][VAR_SLOT_SIZE];

inline char* var_slot(int index) { return var_slots[index]; }
