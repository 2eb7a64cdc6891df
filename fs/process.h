// Starting a program.
#pragma once

#include <windows.h>

// Starts the program of `command_line` (a writable buffer, which the system
// may change during the call) in `working_directory`, or in the current
// directory when that is null. Returns the new process's handle, which the
// caller closes, or 0 when the program cannot be started.
HANDLE start_process(char* command_line, const char* working_directory);
