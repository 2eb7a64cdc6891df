// The VarSlots that script entries address by index, and the codes that pool
// strings carry in place of their values. Portable: the stub expands these
// codes, the builder writes them.
#pragma once

#include <stdint.h>

// VarSlot indices, as slot parameters of script entries hold them.
enum VarSlotIndex {
    VAR_USER_FIRST = 0,  // UserVar 0..19
    VAR_COMMAND_LINE = 20,
    VAR_INSTALL_DIR = 21,
    VAR_OUTPUT_DIR = 22,
    VAR_EXE_DIR = 23,
    VAR_LANG_ID = 24,
    VAR_SLOT_COUNT = 25,
};
static const int USER_VAR_COUNT = 20;

// String codes: bytes from SC_FIRST upward in a pool string. The codes
// SC_USER_VAR..SC_LANG_ID insert the VarSlot of index (code - SC_USER_VAR).
// A literal byte in that range is stored as SC_ESCAPE followed by the byte.
enum StringCode {
    SC_MAIN_WINDOW = 0xDB,    // the current main window's handle, "%u"
    SC_USER_VAR = 0xDC,       // UserVar 0; 0xDC..0xEF are UserVar 0..19
    SC_COMMAND_LINE = 0xF0,
    SC_INSTALL_DIR = 0xF1,
    SC_OUTPUT_DIR = 0xF2,
    SC_EXE_DIR = 0xF3,
    SC_LANG_ID = 0xF4,
    SC_PROGRAM_FILES = 0xF5,
    SC_PROGRAMS = 0xF6,       // the shell folders, in this order
    SC_STARTUP = 0xF7,
    SC_DESKTOP = 0xF8,
    SC_START_MENU = 0xF9,
    SC_QUICK_LAUNCH = 0xFA,
    SC_TEMP_PATH = 0xFB,
    SC_WINDOWS = 0xFC,
    SC_SYSTEM = 0xFD,
    SC_TEMP_DIRECTORY = 0xFE,
    SC_ESCAPE = 0xFF,
    SC_FIRST = SC_MAIN_WINDOW,
};

static_assert(SC_USER_VAR + VAR_COMMAND_LINE == SC_COMMAND_LINE && SC_USER_VAR + VAR_LANG_ID == SC_LANG_ID,
              "the VarSlot codes follow the VarSlot indices");
