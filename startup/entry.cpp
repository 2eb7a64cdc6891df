// Process entry of the stub, installer and uninstaller alike, and the one exit
// sequence that every run ends with.
#include <windows.h>
#include <commctrl.h>

#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "engine/engine.h"
#include "engine/varslots.h"
#include "fs/delete_tree.h"
#include "fs/paths.h"
#include "startup/options.h"
#include "startup/run_driver.h"
#include "startup/startup.h"
#include "startup/texts.h"
#include "ui/message_box.h"

void exit_sequence() {
    // The decoding worker reads the own file until the cache is closed.
    close_unpack_cache();
    if (own_file != INVALID_HANDLE_VALUE) {
        CloseHandle(own_file);
        own_file = INVALID_HANDLE_VALUE;
    }
    if (pending_message) installer_message_box(pending_message, MB_ICONERROR);
    // The temporary directory the script asked to be remembered goes with
    // everything in it.
    if (temp_directory[0]) delete_tree(temp_directory, 1);
    ExitProcess(exit_code);
}

extern "C" void stub_entry() {
    init_process_state();
    dialog_not_before = GetTickCount() + 1000;
    InitCommonControls();

    parse_command_line(GetCommandLineA());

    lstrcpyA(caption, TEXT_START_CAPTION);
    module_handle = GetModuleHandleA(0);
    char* exe_dir = var_slot(VAR_EXE_DIR);
    DWORD length = GetModuleFileNameA(module_handle, exe_dir, VAR_SLOT_SIZE);
    // A path that does not fit is cut by the system; opening it would open
    // something else, so treat it as a file that cannot be opened.
    if (length == 0 || length >= (DWORD)VAR_SLOT_SIZE) exe_dir[0] = 0;
    own_file = exe_dir[0] ? open_file(exe_dir, GENERIC_READ, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    if (own_file == INVALID_HANDLE_VALUE) {
        pending_message = TEXT_CANNOT_OPEN_SELF;
        exit_sequence();
    }
    trim_to_dir(exe_dir);

    if (!verify_data_block()) exit_sequence();
    // The header load may show a message of its own first; the verification
    // failure text follows it at exit.
    if (load_header() != 0) {
        pending_message = TEXT_VERIFICATION_FAILED;
        exit_sequence();
    }

    // An uninstaller runs as the temporary copy that its first process
    // started: the install directory follows "_=", the last argument.
    if (uninstaller_mode) {
        if (!(parse_stop[0] == '_' && parse_stop[1] == '=' && parse_stop[2])) {
            // The hand-over to a temporary copy comes with the uninstaller's
            // relaunch; until then an uninstaller started by hand ends here.
            exit_sequence();
        }
        parse_stop[-1] = 0;  // CommandLine no longer shows the argument
        const char* install_dir = parse_stop + 2;
        if (!is_valid_install_path(install_dir)) {
            pending_message = TEXT_UNINSTALL_INIT_FAILED;
            exit_sequence();
        }
        lstrcpynA(var_slot(VAR_INSTALL_DIR), install_dir, VAR_SLOT_SIZE);
        lstrcpynA(var_slot(VAR_OUTPUT_DIR), install_dir, VAR_SLOT_SIZE);
    }
    // A non-zero silent byte written by the builder forces silence; otherwise
    // it takes the effective switch.
    uint8_t* silent = header_silent_byte();
    if (*silent == 0) *silent = silent_switch;
    exit_code = (uint32_t)run_driver();
    exit_sequence();
}
