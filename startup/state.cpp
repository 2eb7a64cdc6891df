#include "startup/startup.h"

#include "engine/engine.h"
#include "startup/run_driver.h"
#include "ui/main_window.h"

HINSTANCE module_handle = 0;
HANDLE own_file = 0;  // INVALID_HANDLE_VALUE from init_process_state on
const char* pending_message = 0;
uint32_t exit_code = 0;

void init_process_state() {
    own_file = INVALID_HANDLE_VALUE;
    detail_output_flags = DETAIL_TO_LIST | DETAIL_TO_STATUS;
    last_page = 1;
    page_base = 4;
    current_page = -1;
}
