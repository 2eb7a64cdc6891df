// Handlers of the registry, INI file and environment family.
#pragma once

#include <windows.h>

#include "datablock/records.h"

int32_t op_read_environment(const ScriptEntry* entry);
int32_t op_write_ini(const ScriptEntry* entry);
int32_t op_read_ini(const ScriptEntry* entry);
int32_t op_delete_registry(const ScriptEntry* entry);
int32_t op_write_registry(const ScriptEntry* entry);
int32_t op_read_registry(const ScriptEntry* entry);
int32_t op_enum_registry(const ScriptEntry* entry);

// Deletes `subkey` of `parent` with everything below it, or only when it has
// no subkeys; 0 when the key is gone, else a platform error code or 1. An
// empty path (the parent itself) is never deleted.
int delete_registry_key(HKEY parent, const char* subkey, int only_if_empty);
