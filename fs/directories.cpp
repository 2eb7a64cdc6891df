#include "fs/directories.h"

#include <windows.h>

void create_directories(char* path) {
    char* p = path;
    while (*p == ' ') ++p;
    if (!*p) return;
    char* second = CharNextA(p);
    if (*second == ':' && second[1] == '\\') {
        p = second + 2;
    } else if (p[0] == '\\' && p[1] == '\\') {
        p += 2;
    } else {
        return;
    }
    // One level at a time: each backslash is cut for a moment so that the
    // path up to it can be created, then put back.
    for (;;) {
        while (*p && *p != '\\') p = CharNextA(p);
        if (!*p) {
            CreateDirectoryA(path, 0);
            return;
        }
        *p = 0;
        CreateDirectoryA(path, 0);
        *p = '\\';
        ++p;
        if (!*p) return;  // a trailing backslash adds no level
    }
}
