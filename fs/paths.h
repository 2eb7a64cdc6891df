// Path helpers shared by start-up, the instructions and the file-system
// services. Paths are NUL-terminated ANSI strings in 1024-byte buffers, walked
// by characters of the system code page so that the second byte of a
// double-byte character is never taken for a backslash or a colon.
#pragma once

#include <windows.h>

static const int PATH_BUFFER_SIZE = 1024;

// Appends "\" unless the last character already is one; "" becomes "\".
// The buffer needs room for one more byte.
void add_backslash(char* path);

// First byte of the last character, NUL for an empty path.
char last_char(const char* path);

// Position of the last backslash character, or null.
char* find_last_backslash(char* path);

// Cuts the path at its last backslash; a path without one becomes empty.
void trim_to_dir(char* path);

// 1 when the path starts with two backslashes or its second character is a colon.
int is_absolute_path(const char* path);

// Non-zero when the path is acceptable as an installation directory (full
// local path or a deep enough network path; roots only without no_root_dir).
int is_valid_install_path(const char* path);

// Copies count bytes strictly forwards; count <= 0 copies nothing.
void* copy_bytes(void* dest, const void* src, int count);

// CreateFileA sharing read access only; INVALID_HANDLE_VALUE on failure.
HANDLE open_file(const char* path, DWORD access, DWORD disposition);
