// The license page: the license text of the current language in a rich-edit
// control, as rich text when it starts with '{', with its web addresses
// turned into links that the shell opens.
#pragma once

#include <windows.h>

INT_PTR CALLBACK license_page_proc(HWND window, UINT message, WPARAM first, LPARAM second);

// The control's input callback: copies the license text (the cookie) from the
// stream position on, at most size - 1 bytes and a terminator.
DWORD CALLBACK license_stream_callback(DWORD_PTR text, LPBYTE buffer, LONG size, LONG* count);
