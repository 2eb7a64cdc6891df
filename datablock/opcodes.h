// The instruction set as stored in ScriptEntry records: the opcodes and the
// values that immediate parameters take. Portable: the stub dispatches on
// these numbers, the builder's instruction table writes them.
#pragma once

#include <stdint.h>

enum Opcode {
    OP_RETURN = 1,  // ends a code segment; never executed
    OP_JUMP = 2,
    OP_ABORT = 3,
    OP_QUIT = 4,
    OP_CALL = 5,
    OP_DETAIL_OUTPUT = 6,
    OP_SLEEP = 7,
    OP_SET_ALL_USERS = 8,
    OP_HIDE_WINDOW = 9,
    OP_BRING_TO_FRONT = 10,
    OP_SET_AUTO_CLOSE = 11,
    OP_SHOW_DETAILS = 12,
    OP_SET_FILE_ATTRIBUTES = 13,
    OP_CREATE_DIRECTORY = 14,
    OP_IF_FILE_EXISTS = 15,
    OP_IF_ERROR = 16,
    OP_RENAME = 17,
    OP_GET_FULL_PATH = 18,
    OP_SEARCH_PATH = 19,
    OP_GET_TEMP_FILE_NAME = 20,
    OP_EXTRACT_FILE = 21,
    OP_DELETE_FILE = 22,
    OP_MESSAGE_BOX = 23,
    OP_REMOVE_DIRECTORY = 24,
    OP_STRING_LENGTH = 25,
    OP_COPY_STRING = 26,
    OP_COMPARE_STRING = 27,
    OP_READ_ENVIRONMENT = 28,
    OP_COMPARE_INT = 29,
    OP_COMPARE_UINT = 30,
    OP_INT_OPERATION = 31,
    OP_FORMAT_INT = 32,
    OP_STACK = 33,
    OP_FIND_WINDOW = 34,
    OP_SEND_MESSAGE = 35,
    OP_IF_WINDOW = 36,
    OP_GET_DIALOG_ITEM = 37,
    OP_SET_WINDOW_LONG = 38,
    OP_SHELL_EXECUTE = 39,
    OP_EXECUTE = 40,
    OP_GET_FILE_TIME = 41,
    OP_GET_FILE_VERSION = 42,
    OP_CALL_LIBRARY = 43,
    OP_CREATE_SHORTCUT = 44,
    OP_COPY_FILES = 45,
    OP_REBOOT = 46,
    OP_IF_REBOOT_FLAG = 47,
    OP_SET_REBOOT_FLAG = 48,
    OP_WRITE_INI = 49,
    OP_READ_INI = 50,
    OP_DELETE_REGISTRY = 51,
    OP_WRITE_REGISTRY = 52,
    OP_READ_REGISTRY = 53,
    OP_ENUM_REGISTRY = 54,
    OP_FILE_CLOSE = 55,
    OP_FILE_OPEN = 56,
    OP_FILE_WRITE = 57,
    OP_FILE_READ = 58,
    OP_FILE_SEEK = 59,
    OP_FIND_CLOSE = 60,
    OP_FIND_NEXT = 61,
    OP_FIND_FIRST = 62,
    OP_WRITE_UNINSTALLER = 63,
    // 64: no instruction
    OP_SECTION = 65,
    OP_SET_CONTROL_BITMAP = 66,
    OP_CREATE_FONT = 67,
    // 68, 69: no instruction
    OP_REMEMBER_TEMP_DIRECTORY = 70,
    OP_TABLE_SIZE = 71,  // opcodes 0..70 have a table slot
};

// ---- Immediate parameter values ------------------------------------------------

// OP_DETAIL_OUTPUT p1: where status output goes (0 leaves the setting alone).
enum DetailOutputFlags {
    DETAIL_TO_LIST = 1,    // the details list
    DETAIL_TO_STATUS = 2,  // the status line
};

// OP_GET_FULL_PATH p2.
enum PathForm { PATH_SHORT = 0, PATH_LONG = 1 };

// OP_EXTRACT_FILE p0: what happens to a file that is already there.
enum OverwriteMode {
    OVERWRITE_ALWAYS = 0,
    OVERWRITE_NEVER = 1,
    OVERWRITE_TRY = 2,       // replace it; a file that cannot be written counts an error
    OVERWRITE_IF_NEWER = 3,  // replace it when the stored time is newer
};

// OP_EXTRACT_FILE p3 and p4 both hold this when the entry stores no file time.
static const int32_t NO_FILE_TIME = -1;

// OP_READ_ENVIRONMENT p2.
enum EnvironmentMode { ENV_EXPAND = 0, ENV_VARIABLE = 1 };

// OP_INT_OPERATION p3.
enum IntOperation {
    INT_ADD = 0,
    INT_SUB = 1,
    INT_MUL = 2,
    INT_DIV = 3,
    INT_OR = 4,
    INT_AND = 5,
    INT_XOR = 6,
    INT_NOT = 7,
    INT_LNOT = 8,
    INT_LOR = 9,
    INT_LAND = 10,
    INT_MOD = 11,
};

// OP_STACK p1; a nonzero p2 exchanges the top with the entry that deep instead.
enum StackMode { STACK_PUSH = 0, STACK_POP = 1 };

// OP_CREATE_SHORTCUT p4: icon index in bits 0..7, the show command from this
// bit, the hotkey in the top half.
static const int SHORTCUT_SHOW_SHIFT = 8;

// OP_REBOOT p0 must hold this, so that a stray entry never restarts the machine.
static const int32_t REBOOT_GUARD = 0x0BADF00D;

// OP_WRITE_REGISTRY p4: the kind of value, and so what p3 holds.
enum RegistryValueKind {
    REG_KIND_EXPAND_STRING = 0,  // p3 string
    REG_KIND_STRING = 1,         // p3 string
    REG_KIND_DWORD = 2,          // p3 number
    REG_KIND_BINARY = 3,         // p3 payload block
};

// OP_READ_REGISTRY p4.
enum RegistryReadKind { REG_READ_STRING = 0, REG_READ_NUMBER = 1 };

// OP_ENUM_REGISTRY p4.
enum RegistryEnumKind { REG_ENUM_VALUES = 0, REG_ENUM_KEYS = 1 };

// OP_SECTION p1: what p2 is (a string, a VarSlot, a number) follows from it.
enum SectionMode {
    SECTION_SET_NAME = 0,   // p2 string
    SECTION_GET_NAME = 1,   // p2 VarSlot
    SECTION_SET_FLAGS = 2,  // p2 number
    SECTION_GET_FLAGS = 3,  // p2 VarSlot; so is every mode above
};

// OP_CREATE_FONT p4.
enum FontStyle { FONT_ITALIC = 1, FONT_UNDERLINE = 2, FONT_STRIKEOUT = 4 };
