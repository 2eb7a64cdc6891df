// The directory page: the installation folder, typed or browsed for, with the
// space the selected sections need and the space free on its drive.
#pragma once

#include <windows.h>
#include <stdint.h>

INT_PTR CALLBACK directory_page_proc(HWND window, UINT message, WPARAM first, LPARAM second);

// Appends the size text of `kilobytes` ("1023Ko", "1.5Mo", "2.0Go") to the
// text in `buffer`. The components page shows sizes the same way.
void append_size_text(int32_t kilobytes, char* buffer);

// The space the selected sections need, in KB (at most the largest int32_t).
int32_t required_kilobytes();

// A folder chosen in the browser gets the last component of the default
// install directory appended (with a backslash), unless it already ends with
// it; `path` holds 1024 bytes and is left as it is when the result would not
// fit.
void append_default_component(char* path, const char* default_dir);
