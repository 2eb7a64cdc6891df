// Handlers of the processes, shell, windows and system family.
#pragma once

#include "datablock/records.h"

int32_t op_message_box(const ScriptEntry* entry);
int32_t op_show_details(const ScriptEntry* entry);
int32_t op_remember_temp_directory(const ScriptEntry* entry);
