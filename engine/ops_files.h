// Handlers of the files-and-directories family: extracting payload files,
// creating and removing directories, deleting, renaming and copying files
// (now or at the next restart), path, time and version queries, temporary
// names, and writing the uninstaller.
#pragma once

#include <windows.h>

#include "datablock/records.h"

// The engine's file probe: the find data of the first file or directory that
// matches `path` (a path or a wildcard pattern), or null when nothing does.
// The search is closed at once; the record is shared and the next call
// overwrites it.
const WIN32_FIND_DATAA* first_match(const char* path);

int32_t op_set_file_attributes(const ScriptEntry* entry);
int32_t op_create_directory(const ScriptEntry* entry);
int32_t op_if_file_exists(const ScriptEntry* entry);
int32_t op_rename(const ScriptEntry* entry);
int32_t op_get_full_path(const ScriptEntry* entry);
int32_t op_search_path(const ScriptEntry* entry);
int32_t op_get_temp_file_name(const ScriptEntry* entry);
int32_t op_extract_file(const ScriptEntry* entry);
int32_t op_delete_file(const ScriptEntry* entry);
int32_t op_remove_directory(const ScriptEntry* entry);
int32_t op_get_file_time(const ScriptEntry* entry);
int32_t op_get_file_version(const ScriptEntry* entry);
int32_t op_copy_files(const ScriptEntry* entry);
int32_t op_write_uninstaller(const ScriptEntry* entry);
