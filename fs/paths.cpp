#include "fs/paths.h"

#include "datablock/header_view.h"

void add_backslash(char* path) {
    if (last_char(path) != '\\') lstrcatA(path, "\\");
}

char last_char(const char* path) {
    return *CharPrevA(path, path + lstrlenA(path));
}

char* find_last_backslash(char* path) {
    if (!*path) return 0;
    char* p = CharPrevA(path, path + lstrlenA(path));
    for (;;) {
        if (*p == '\\') return p;
        if (p == path) return 0;
        p = CharPrevA(path, p);
    }
}

void trim_to_dir(char* path) {
    char* slash = find_last_backslash(path);
    if (slash)
        *slash = 0;
    else
        *path = 0;
}

int is_absolute_path(const char* path) {
    if (path[0] == '\\' && path[1] == '\\') return 1;
    return *CharNextA(path) == ':';
}

int is_valid_install_path(const char* path) {
    int no_root = (header_misc_flags() & MISC_NO_ROOT_DIR) != 0;
    if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share needs one more level when roots are refused.
        int backslashes = 0;
        for (const char* p = path; *p; p = CharNextA(p))
            if (*p == '\\') backslashes++;
        if (last_char(path) != '\\') backslashes++;
        return backslashes / (no_root ? 5 : 4);
    }
    if (!*path) return 0;
    const char* second = CharNextA(path);
    if (*second != ':') return 0;
    const char* third = CharNextA(second);
    if (*third != '\\') return 0;
    if (no_root) {
        const char* fourth = CharNextA(third);
        if (*fourth == 0 || *fourth == '\\') return 0;
    }
    return 1;
}

void* copy_bytes(void* dest, const void* src, int count) {
    char* d = (char*)dest;
    const char* s = (const char*)src;
    while (count-- > 0) *d++ = *s++;
    return dest;
}

HANDLE open_file(const char* path, DWORD access, DWORD disposition) {
    return CreateFileA(path, access, FILE_SHARE_READ, 0, disposition, 0, 0);
}
