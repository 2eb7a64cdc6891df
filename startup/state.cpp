#include "startup/startup.h"

HINSTANCE module_handle = 0;
HANDLE own_file = INVALID_HANDLE_VALUE;
const char* pending_message = 0;
uint32_t exit_code = 0;
