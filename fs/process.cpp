#include "fs/process.h"

HANDLE start_process(char* command_line, const char* working_directory) {
    STARTUPINFOA startup = {};
    PROCESS_INFORMATION process = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(0, command_line, 0, 0, FALSE, 0, 0, working_directory, &startup, &process)) return 0;
    if (process.hThread) CloseHandle(process.hThread);
    return process.hProcess;
}
