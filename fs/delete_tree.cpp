#include "fs/delete_tree.h"

#include <windows.h>

#include "datablock/records.h"
#include "engine/status.h"
#include "fs/paths.h"

// The walk keeps one open search per directory level in a table instead of
// nesting calls, so a deep tree costs no machine stack. Every level adds a
// backslash and at least one character to a path that, with the "\*.*"
// pattern, must fit into 1023 characters, so no walk can go deeper than 510
// levels below the directory it started in; the table has room for more.
static const int TREE_MAX_LEVELS = 512;
static HANDLE tree_search[TREE_MAX_LEVELS];
static int tree_length[TREE_MAX_LEVELS];  // length of the level's directory path
static WIN32_FIND_DATAA tree_entry;

static const char TREE_PATTERN[] = "\\*.*";

static void remove_directory(const char* path) {
    log_line_lang(LS_LOG_DIR_REMOVED, path);
    RemoveDirectoryA(path);
}

// Starts listing the directory whose path is the first `length` bytes of the
// buffer; the first entry goes into tree_entry. A pattern that would not fit
// into the buffer lists nothing. The buffer keeps the pattern; the entries'
// names replace it after the backslash.
static HANDLE open_level(char* path, int length) {
    if (length + (int)sizeof(TREE_PATTERN) > PATH_BUFFER_SIZE) return INVALID_HANDLE_VALUE;
    lstrcpyA(path + length, TREE_PATTERN);
    return FindFirstFileA(path, &tree_entry);
}

static int is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Deletes the file whose full path is in the buffer, as tree_entry lists it.
static void delete_file(const char* path) {
    log_line_lang(LS_LOG_FILE_DELETED, path);
    if (tree_entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, tree_entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileA(path);
}

// Empties the directory in the buffer (its path is `length` bytes long) and
// everything below it; the directory itself stays for the caller to remove.
static void delete_contents(char* path, int length) {
    int level = 0;
    tree_length[0] = length;
    tree_search[0] = open_level(path, length);
    if (tree_search[0] == INVALID_HANDLE_VALUE) {
        path[length] = 0;
        return;
    }
    for (;;) {
        const char* name = tree_entry.cFileName;
        const int base = tree_length[level] + 1;  // just after the level's backslash
        const int full = base + lstrlenA(name);
        // An entry whose full path would not fit into the buffer is passed
        // over without a status line; the directory holding it then stays.
        if (!is_dot_entry(name) && full < PATH_BUFFER_SIZE) {
            lstrcpyA(path + base, name);
            const DWORD attributes = tree_entry.dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                delete_file(path);
            } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || level + 1 >= TREE_MAX_LEVELS ||
                       !is_valid_install_path(path)) {
                // A directory link is removed as a link: what it points to
                // lies outside the tree and is never entered.
                remove_directory(path);
            } else {
                HANDLE search = open_level(path, full);
                if (search != INVALID_HANDLE_VALUE) {
                    // Descend: the subdirectory's first entry is in tree_entry.
                    ++level;
                    tree_length[level] = full;
                    tree_search[level] = search;
                    continue;
                }
                path[full] = 0;
                remove_directory(path);
            }
        }
        // The next entry, climbing up through every level that is done; a
        // finished subdirectory is removed when its listing ends.
        while (!FindNextFileA(tree_search[level], &tree_entry)) {
            FindClose(tree_search[level]);
            path[tree_length[level]] = 0;
            if (level == 0) return;
            remove_directory(path);
            --level;
        }
    }
}

void delete_tree(char* path, int32_t recursive) {
    if (recursive && is_valid_install_path(path)) delete_contents(path, lstrlenA(path));
    remove_directory(path);
}
