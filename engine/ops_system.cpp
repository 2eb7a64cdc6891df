// Instructions that reach outside the engine: questions to the user, programs,
// libraries, windows and the system.
#include "engine/ops_system.h"

#include <windows.h>
#include <shellapi.h>

#include "engine/engine.h"
#include "engine/status.h"
#include "engine/varslots.h"
#include "fs/process.h"
#include "ui/message_box.h"

// Shows the expanded text with the entry's style and jumps on the button
// pressed: the first target for the identifier in the low half of p2, the
// second for the one in its high half.
int32_t op_message_box(const ScriptEntry* entry) {
    char* text = param_buffers[0];
    expand_param(text, entry->p1);
    const int button = installer_message_box(text, (UINT)entry->p0);
    if (button == 0) {
        ++error_count;
        return 0;
    }
    if (button == (entry->p2 & 0xFFFF)) return entry->p3;
    if (button == (entry->p2 >> 16)) return entry->p4;
    return 0;
}

// The first directory remembered is deleted with its contents at exit; later
// ones are ignored.
int32_t op_remember_temp_directory(const ScriptEntry*) {
    if (!temp_directory[0]) lstrcpynA(temp_directory, var_slot(VAR_USER_FIRST), sizeof(temp_directory));
    return 0;
}

// Shows or hides the details list (show command p0) and the show-details
// button (p1) of the install-files page, once that page exists.
int32_t op_show_details(const ScriptEntry* entry) {
    if (details_button) ShowWindow(details_button, entry->p1);
    if (detail_list) ShowWindow(detail_list, entry->p0);
    return 0;
}

// Opens a file or a program through the shell (p0 verb, p1 file, p2
// parameters; empty verb and parameters for none) in OutputDir.
int32_t op_shell_execute(const ScriptEntry* entry) {
    char* verb = param_buffers[0];
    char* file = param_buffers[1];
    char* parameters = param_buffers[2];
    expand_param(verb, entry->p0);
    expand_param(file, entry->p1);
    expand_param(parameters, entry->p2);
    char* line = param_buffers[3];
    wsprintfA(line, "%s %s", verb, file);
    log_line_lang(LS_LOG_SHELL_EXECUTE, line);
    const HINSTANCE result = ShellExecuteA(current_main_window, verb[0] ? verb : 0, file,
                                           parameters[0] ? parameters : 0, var_slot(VAR_OUTPUT_DIR), entry->p3);
    if ((INT_PTR)result <= 32) ++error_count;
    return 0;
}

// Starts a program (p0 its command line) in OutputDir; with p1 waits for its
// end, keeping this thread's windows painted (and taking no other message),
// and puts its exit code into slot p2, or counts a nonzero one as an error
// when p2 is negative.
int32_t op_execute(const ScriptEntry* entry) {
    char* command = param_buffers[0];
    expand_param(command, entry->p0);
    log_line_lang(LS_LOG_EXECUTE, command);
    const char* output_dir = var_slot(VAR_OUTPUT_DIR);
    HANDLE process = start_process(command, output_dir[0] ? output_dir : 0);
    if (!process) {
        ++error_count;
        return 0;
    }
    if (entry->p1) {
        MSG message;
        while (WaitForSingleObject(process, 100) == WAIT_TIMEOUT)
            while (PeekMessageA(&message, 0, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&message);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        if (entry->p2 >= 0) set_slot_decimal(entry->p2, (int32_t)code);
        else if (code != 0) ++error_count;
    }
    CloseHandle(process);
    return 0;
}
