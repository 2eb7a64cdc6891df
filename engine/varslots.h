// VarSlots: one contiguous array of 25 string buffers of 1024 bytes. The array
// stays contiguous because plug-in libraries receive its address.
#pragma once

enum VarSlotIndex {
    VAR_USER_FIRST = 0,  // UserVar 0..19
    VAR_COMMAND_LINE = 20,
    VAR_INSTALL_DIR = 21,
    VAR_OUTPUT_DIR = 22,
    VAR_EXE_DIR = 23,
    VAR_LANG_ID = 24,
    VAR_SLOT_COUNT = 25,
};

static const int VAR_SLOT_SIZE = 1024;

extern char var_slots[VAR_SLOT_COUNT][VAR_SLOT_SIZE];

inline char* var_slot(int index) { return var_slots[index]; }
