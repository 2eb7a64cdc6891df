// The install-files page, last of the wizard: it runs the installation on an
// install thread under a progress bar, with the status line and the details
// list that the script's output fills.
#pragma once

#include <windows.h>

// The progress bar in use, once the page exists; run_sections moves it.
extern HWND progress_window;

INT_PTR CALLBACK install_files_page_proc(HWND window, UINT message, WPARAM first, LPARAM second);
