// The interpreter core: the engine state, running code segments, dispatching
// one entry, and the parameter helpers that every instruction uses.
//
// Values that come from the data block (jump values, start indices, VarSlot
// indices, StringPool offsets) are checked before use. A value that points
// outside the entry array, the VarSlots or the pool makes the entry that
// uses it an invalid instruction: nothing outside those arrays is ever read
// or written.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "datablock/header_view.h"
#include "datablock/opcodes.h"
#include "datablock/records.h"
#include "engine/number.h"

// Result of an instruction (and of a code segment) that ends the code segment
// fatally; every other result is a jump value.
static const int32_t RESULT_ABORT = 0x7FFFFFFF;

// ---- Engine state (process-wide, never reset between code segments) ---------

struct StackNode {
    StackNode* next;  // the node below; null for the bottom node
    char text[1024];
};

extern int32_t error_count;          // raised by failing instructions
extern int32_t reboot_flag;          // file operations left for the next restart
extern int32_t quit_count;           // the script asked the installer to quit
extern int32_t progress_count;       // entries stepped through under a progress window
extern int32_t progress_total;       // entries expected; 0 is taken as 1
extern int32_t detail_output_flags;  // bit 0: details list, bit 1: status line
extern uint8_t auto_close_flag;
extern uint8_t all_users_flag;
extern StackNode* string_stack;
extern char temp_directory[1024];    // deleted recursively at exit when set
extern HBITMAP control_bitmap;       // last bitmap shown in a dialog control

// Scratch buffers into which instructions expand their string parameters.
static const int PARAM_BUFFER_COUNT = 4;
extern char param_buffers[PARAM_BUFFER_COUNT][1024];

// OP_CALL nests code segments on the machine stack; deeper nesting than this
// is treated as an invalid instruction so that a script calling itself
// without end cannot overrun the stack.
static const int32_t MAX_CALL_DEPTH = 1024;
extern int32_t call_depth;

// Set by the parameter helpers when an entry names something outside the
// entry array, the VarSlots or the pool; cleared before each entry runs.
extern int entry_fault;

// ---- Running code ---------------------------------------------------------------

// Number of entries in the loaded script (0 when none is loaded).
int32_t script_entry_count();

// A progress window's range is 0..PROGRESS_RANGE.
static const int PROGRESS_RANGE = 30000;

// Runs the code segment of `entries` (the loaded script's entry array) from
// index `start` to its OP_RETURN. A negative start runs nothing. With a
// progress window, moves its position after every entry. Returns 0, or
// RESULT_ABORT when an instruction aborted.
int32_t run_code_segment(const ScriptEntry* entries, int32_t start, HWND progress);

// Runs a callback of the header (a code segment of the loaded script, or
// none when negative) without a progress window.
inline int32_t run_callback(int32_t start) { return run_code_segment(script_entries, start, 0); }

// Executes entry `index`; returns its result (0, a jump value, RESULT_ABORT).
int32_t execute_entry(const ScriptEntry* entries, int32_t index);

// A jump value: itself when 0 or more; -k reads the jump value from the raw
// text of VarSlot k-1.
int32_t resolve_target(int32_t value);

// The message box for a corrupt entry; returns RESULT_ABORT.
int32_t invalid_instruction();

// ---- Parameters -------------------------------------------------------------------

// The pool text at `offset`; negative: "". An offset outside the pool, or a
// string that is not terminated inside it, gives "" and marks the entry.
const char* pool_string(int32_t offset);

// Expands the pool string into `buffer` (1024 bytes), at most 1023 bytes.
void expand_param(char* buffer, int32_t offset);

// read_number of the expanded pool string.
int32_t number_param(int32_t offset);

// VarSlot `index`, or a spare buffer (and a marked entry) when the index is
// outside 0..24, so that a bad slot parameter never writes outside the slots.
char* slot_param(int32_t index);

// Writes `value` into VarSlot `index` as signed decimal.
void set_slot_decimal(int32_t index, int32_t value);
