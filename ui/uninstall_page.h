// The uninstaller's first page: what is about to be removed, and from where.
#pragma once

#include <windows.h>

INT_PTR CALLBACK uninstall_page_proc(HWND window, UINT message, WPARAM first, LPARAM second);
