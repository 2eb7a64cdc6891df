// Writing a shell shortcut (.lnk file) through the shell's link object.
#pragma once

#include <windows.h>
#include <stdint.h>

// Writes the shortcut `link_path` to `target` with `working_directory`.
// `icon_file` (null: none) with `icon_index`, `arguments` (null: none), a
// nonzero `show_command` and a nonzero `hotkey` are set as given. OLE is
// initialised on the calling thread for the duration of the call.
// Returns 0 when the shortcut was written, 1 otherwise.
int32_t create_shortcut(const char* link_path, const char* icon_file, int32_t icon_index, const char* target,
                        const char* arguments, const char* working_directory, int32_t show_command, WORD hotkey);
