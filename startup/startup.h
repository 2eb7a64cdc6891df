// Process-wide state of start-up, read by the reader, the uninstaller writer
// and the relaunch later in the run.
#pragma once

#include <windows.h>
#include <stdint.h>

extern HINSTANCE module_handle;

// The stub's own file, open for reading (sharing read access) for the whole run.
extern HANDLE own_file;

// File offset of the FirstHeader (0 while none was found); also the length of
// the stub in front of the data block.
extern int32_t header_position;

// FirstHeader flags of the data block that was found.
extern uint32_t first_header_flags;

// The one error text shown at exit, or null. Only the first error is kept.
extern const char* pending_message;

// Tick count before which the verification dialog must not appear.
extern DWORD dialog_not_before;

extern uint32_t exit_code;

// Gives the process-wide state whose start value is not zero that value:
// own_file, detail_output_flags, last_page, page_base and current_page. The
// stub calls it before anything else. (Initialised globals would cost the
// stub a file section of their own; zero-initialised ones take no room.)
void init_process_state();

// Scans the own file for the FirstHeader and verifies the CRC-32. Returns 1 on
// success; on failure sets the pending message and returns 0. Leaves the file
// pointer at the FirstHeader on success.
int verify_data_block();

// Closes what start-up opened, shows the pending message, ends the process.
__attribute__((noreturn)) void exit_sequence();
