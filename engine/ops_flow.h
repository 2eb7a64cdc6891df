// Flow, settings, variables, the string stack, integers, strings and sections:
// the instructions that carry the script's own logic. None of them touches
// the file system or the registry.
#pragma once

#include "datablock/records.h"

int32_t op_jump(const ScriptEntry* e);              // 2
int32_t op_abort(const ScriptEntry* e);             // 3
int32_t op_quit(const ScriptEntry* e);              // 4
int32_t op_call(const ScriptEntry* e);              // 5
int32_t op_detail_output(const ScriptEntry* e);     // 6
int32_t op_sleep(const ScriptEntry* e);             // 7
int32_t op_set_all_users(const ScriptEntry* e);     // 8
int32_t op_hide_window(const ScriptEntry* e);       // 9
int32_t op_bring_to_front(const ScriptEntry* e);    // 10
int32_t op_set_auto_close(const ScriptEntry* e);    // 11
int32_t op_if_error(const ScriptEntry* e);          // 16
int32_t op_string_length(const ScriptEntry* e);     // 25
int32_t op_copy_string(const ScriptEntry* e);       // 26
int32_t op_compare_string(const ScriptEntry* e);    // 27
int32_t op_compare_int(const ScriptEntry* e);       // 29
int32_t op_compare_uint(const ScriptEntry* e);      // 30
int32_t op_int_operation(const ScriptEntry* e);     // 31
int32_t op_format_int(const ScriptEntry* e);        // 32
int32_t op_stack(const ScriptEntry* e);             // 33
int32_t op_if_reboot_flag(const ScriptEntry* e);    // 47
int32_t op_set_reboot_flag(const ScriptEntry* e);   // 48
int32_t op_section(const ScriptEntry* e);           // 65

// 1 when `format` asks the formatter for nothing but at most one integer
// conversion (%d, %i, %u, %x or %X, with the flags - # 0, a width, a
// precision and an h or l size; widths and precisions below 1024), and %%
// escapes; 0 for anything else.
int format_takes_one_int(const char* format);
