#include "engine/engine.h"

#include "datablock/header_view.h"
#include "engine/expand.h"
#include "engine/instructions.h"
#include "engine/varslots.h"
#include "ui/message_box.h"

int32_t error_count = 0;
int32_t reboot_flag = 0;
int32_t quit_count = 0;
int32_t progress_count = 0;
int32_t progress_total = 0;
int32_t detail_output_flags = 0;  // both outputs from init_process_state on
uint8_t auto_close_flag = 0;
uint8_t all_users_flag = 0;
StackNode* string_stack = 0;
char temp_directory[1024];
HBITMAP control_bitmap = 0;

char param_buffers[PARAM_BUFFER_COUNT][1024];
int32_t call_depth = 0;
int entry_fault = 0;

// Where a bad slot parameter writes instead of outside the VarSlots.
static char spare_slot[VAR_SLOT_SIZE];

// The progress bar's set-position message.
static const UINT MSG_PROGRESS_SET_POS = 1026;

int32_t script_entry_count() {
    // entry_count sits at the same place in both header records and was
    // checked against the block's length when the header was loaded.
    return header_block && script_entries ? ((const InstallHeader*)header_block)->entry_count : 0;
}

int32_t invalid_instruction() {
    // A bad offset of the message itself gives an empty text; it must not mark
    // the entry of a caller (an OP_CALL would show the message a second time).
    const int outer_fault = entry_fault;
    installer_message_box(pool_string(lang_string_offset(LS_INVALID_INSTRUCTION)), MB_ICONSTOP | MB_OK);
    entry_fault = outer_fault;
    return RESULT_ABORT;
}

int32_t resolve_target(int32_t value) {
    if (value >= 0) return value;
    const int32_t slot = -(value + 1);  // no overflow, even for the most negative value
    if (slot >= VAR_SLOT_COUNT) {
        entry_fault = 1;
        return 0;
    }
    return read_number(var_slots[slot]);
}

int32_t execute_entry(const ScriptEntry* entries, int32_t index) {
    if (!entries || index < 0 || index >= script_entry_count()) return invalid_instruction();
    const ScriptEntry* entry = &entries[index];
    const int32_t opcode = entry->opcode;
    // An empty slot of the table (0, 1, 64, 68, 69, and the opcodes of a
    // family not built in yet: see instruction_table.cpp) is an invalid
    // instruction.
    const InstructionHandler handler = opcode >= 0 && opcode < OP_TABLE_SIZE ? instruction_table[opcode] : 0;
    if (!handler) return invalid_instruction();
    // A nested code segment (OP_CALL) must not clear what this entry's own
    // parameters have marked so far.
    const int outer_fault = entry_fault;
    entry_fault = 0;
    const int32_t result = handler(entry);
    const int fault = entry_fault;
    entry_fault = outer_fault;
    return fault ? invalid_instruction() : result;
}

static int32_t run_entries(const ScriptEntry* entries, int32_t i, HWND progress) {
    const int32_t count = entries ? script_entry_count() : 0;
    while (i >= 0) {
        // A start index past the array, or a segment that runs off its end.
        if (i >= count) return invalid_instruction();
        if (entries[i].opcode == OP_RETURN) break;
        const int32_t result = execute_entry(entries, i);
        if (result == RESULT_ABORT) return RESULT_ABORT;

        const int outer_fault = entry_fault;
        entry_fault = 0;
        const int32_t target = resolve_target(result);
        const int fault = entry_fault;
        entry_fault = outer_fault;
        if (fault) return invalid_instruction();
        // An indirect value that reads negative ends the segment normally.
        if (target < 0) return 0;
        const int32_t next = target == 0 ? i + 1 : target - 1;
        if (next >= count) return invalid_instruction();

        if (progress) {
            progress_count += next - i;
            if (progress_total == 0) progress_total = 1;
            SendMessageA(progress, MSG_PROGRESS_SET_POS, (WPARAM)MulDiv(progress_count, PROGRESS_RANGE, progress_total),
                         0);
        }
        i = next;
    }
    return 0;
}

int32_t run_code_segment(const ScriptEntry* entries, int32_t start, HWND progress) {
    if (start < 0) return 0;
    if (call_depth >= MAX_CALL_DEPTH) return invalid_instruction();
    ++call_depth;
    const int32_t result = run_entries(entries, start, progress);
    --call_depth;
    return result;
}

const char* pool_string(int32_t offset) {
    if (offset < 0) return "";
    if (!string_pool || offset >= string_pool_length) {
        entry_fault = 1;
        return "";
    }
    const char* text = string_pool + offset;
    const char* end = string_pool + string_pool_length;
    for (const char* p = text; p < end; ++p)
        if (!*p) return text;
    entry_fault = 1;  // runs to the end of the pool without a terminator
    return "";
}

void expand_param(char* buffer, int32_t offset) {
    expand_string(expansion_buffer, pool_string(offset));
    lstrcpynA(buffer, expansion_buffer, VAR_SLOT_SIZE);
}

int32_t number_param(int32_t offset) {
    expand_string(expansion_buffer, pool_string(offset));
    return read_number(expansion_buffer);
}

char* slot_param(int32_t index) {
    if (index >= 0 && index < VAR_SLOT_COUNT) return var_slots[index];
    entry_fault = 1;
    spare_slot[0] = 0;
    return spare_slot;
}

void set_slot_decimal(int32_t index, int32_t value) { wsprintfA(slot_param(index), "%d", value); }
