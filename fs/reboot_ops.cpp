#include "fs/reboot_ops.h"

#include <windows.h>

#include "fs/paths.h"

typedef BOOL(WINAPI* MoveFileExFunction)(LPCSTR, LPCSTR, DWORD);

static const char RENAME_SECTION[] = "[Rename]\r\n";
static const int RENAME_SECTION_LENGTH = sizeof(RENAME_SECTION) - 1;

// Working buffers: the short target and source, the ini path, and the
// request line, which holds both names, "=" and the line break.
static char short_target[PATH_BUFFER_SIZE];
static char short_source[PATH_BUFFER_SIZE];
static char ini_path_buffer[PATH_BUFFER_SIZE];
static char request_line[2 * PATH_BUFFER_SIZE + 4];

// A file this large leaves no room for the request behind it in one mapping.
static const DWORD WININIT_MAX_SIZE = 0x7FFFF000;

const char* find_text(const char* text, const char* pattern, int32_t limit) {
    const int32_t length = lstrlenA(pattern);
    for (int32_t at = 0; limit < 0 || at <= limit - length; ++at) {
        int32_t k = 0;
        while (k < length && text[at + k] == pattern[k]) ++k;
        if (k == length) return text + at;
        if (!text[at]) return 0;
    }
    return 0;
}

// The short (8.3) form of `path` into `dest`. A path that does not exist yet,
// such as the new name of a rename, has no short form: then its directory's
// short form and the final name as given, and failing that the path itself.
static void short_path(char* dest, const char* path) {
    DWORD n = GetShortPathNameA(path, dest, PATH_BUFFER_SIZE);
    if (n && n < (DWORD)PATH_BUFFER_SIZE) return;
    lstrcpynA(dest, path, PATH_BUFFER_SIZE);
    char* slash = find_last_backslash(dest);
    if (!slash) return;
    const char* name = path + (slash - dest);  // the backslash and the final name
    *slash = 0;
    n = GetShortPathNameA(dest, dest, PATH_BUFFER_SIZE);
    // Taken only when it is no longer than the long form, so the name still fits.
    if (n && n <= (DWORD)(slash - dest))
        lstrcatA(dest, name);
    else
        lstrcpynA(dest, path, PATH_BUFFER_SIZE);
}

// Edits the mapped text of `size` bytes (followed by at least
// RENAME_SECTION_LENGTH + line_length zero bytes); returns the new size.
static DWORD insert_request(char* text, DWORD size, const char* line, int line_length) {
    const char* section = find_text(text, RENAME_SECTION, -1);
    if (!section) {
        lstrcpyA(text + size, RENAME_SECTION);
        copy_bytes(text + size + RENAME_SECTION_LENGTH, line, line_length);
        return size + RENAME_SECTION_LENGTH + line_length;
    }
    // The header line ends with the line feed of the match itself.
    char* insert = text + (section - text) + RENAME_SECTION_LENGTH;
    const int32_t tail = (int32_t)(size - (DWORD)(insert - text));
    if (find_text(insert, line, tail)) return size;
    // Move the section's lines down by the line's length, last byte first so
    // that the overlapping areas need no separate buffer.
    for (int32_t i = tail - 1; i >= 0; --i) insert[line_length + i] = insert[i];
    copy_bytes(insert, line, line_length);
    return size + line_length;
}

int32_t add_wininit_request(const char* ini_path, const char* source, const char* target) {
    if (target)
        short_path(short_target, target);
    else
        lstrcpyA(short_target, "NUL");
    short_path(short_source, source);
    lstrcpyA(request_line, short_target);
    lstrcatA(request_line, "=");
    lstrcatA(request_line, short_source);
    lstrcatA(request_line, "\r\n");
    const int line_length = lstrlenA(request_line);

    HANDLE file = CreateFileA(ini_path, GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    const DWORD size = GetFileSize(file, 0);
    if (size == INVALID_FILE_SIZE || size > WININIT_MAX_SIZE) {
        CloseHandle(file);
        return 0;
    }
    int32_t result = 0;
    DWORD final_size = size;
    HANDLE mapping = CreateFileMappingA(file, 0, PAGE_READWRITE, 0, size + line_length + RENAME_SECTION_LENGTH, 0);
    if (mapping) {
        char* view = (char*)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
        if (view) {
            final_size = insert_request(view, size, request_line, line_length);
            result = 1;
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    SetFilePointer(file, (LONG)final_size, 0, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    return result;
}

int32_t move_at_reboot(const char* source, const char* target) {
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (kernel) {
        MoveFileExFunction move_file_ex = (MoveFileExFunction)(void*)GetProcAddress(kernel, "MoveFileExA");
        BOOL moved = move_file_ex && move_file_ex(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
        FreeLibrary(kernel);
        if (moved) return 1;
    }
    // Room for "\wininit.ini" behind the Windows folder.
    const UINT length = GetWindowsDirectoryA(ini_path_buffer, PATH_BUFFER_SIZE - 16);
    if (length == 0 || length >= (UINT)(PATH_BUFFER_SIZE - 16)) return 0;
    lstrcatA(ini_path_buffer, "\\wininit.ini");
    return add_wininit_request(ini_path_buffer, source, target);
}
