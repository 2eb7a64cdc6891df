// Handlers of the processes, shell, windows and system family.
#pragma once

#include "datablock/records.h"

int32_t op_message_box(const ScriptEntry* entry);
int32_t op_show_details(const ScriptEntry* entry);
int32_t op_remember_temp_directory(const ScriptEntry* entry);
int32_t op_shell_execute(const ScriptEntry* entry);
int32_t op_execute(const ScriptEntry* entry);

// Windows (ops_windows.cpp).
int32_t op_find_window(const ScriptEntry* entry);
int32_t op_send_message(const ScriptEntry* entry);
int32_t op_if_window(const ScriptEntry* entry);
int32_t op_get_dialog_item(const ScriptEntry* entry);
int32_t op_set_window_long(const ScriptEntry* entry);
