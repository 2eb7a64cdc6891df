#include "engine/expand.h"

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/varslots.h"
#include "ui/message_box.h"

char expansion_buffer[EXPANSION_BUFFER_SIZE];
const LanguageRecord* current_language = 0;
const int32_t* current_page_texts = 0;

static const int TEXT_SIZE = 1024;  // every inserted text is at most 1023 bytes
static const char shell_folders_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char quick_launch_suffix[] = "\\Microsoft\\Internet Explorer\\Quick Launch";

// "Common " and the folder name; the names are this file's own, all short.
static char folder_value_name[32];
// The quick-launch candidate: a folder of up to 1023 bytes plus the suffix.
static char quick_launch_candidate[TEXT_SIZE + sizeof(quick_launch_suffix)];

// Folder names of the codes SC_PROGRAMS..SC_START_MENU, in code order.
static const char* const shell_folder_names[] = {"Programs", "Startup", "Desktop", "Start Menu"};

void read_reg_string(HKEY root, const char* subkey, const char* name, char* out) {
    out[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD type = 0;
    DWORD size = TEXT_SIZE;
    if (RegQueryValueExA(key, name, 0, &type, (BYTE*)out, &size) != ERROR_SUCCESS || type != REG_SZ) {
        out[0] = 0;
    } else if (size < (DWORD)TEXT_SIZE) {
        // A value stored without its terminator must not pick up whatever the
        // buffer held beyond it.
        out[size] = 0;
    }
    out[TEXT_SIZE - 1] = 0;
    RegCloseKey(key);
}

static void temp_folder(char* out) {
    const DWORD n = GetTempPathA(TEXT_SIZE, out);
    if (n == 0 || n >= (DWORD)TEXT_SIZE) out[0] = 0;
}

static void system_folder(UINT (WINAPI* query)(LPSTR, UINT), char* out) {
    const UINT n = query(out, TEXT_SIZE);
    if (n == 0 || n >= (UINT)TEXT_SIZE) out[0] = 0;
}

void shell_folder_path(const char* name, char* out) {
    if (all_users_flag) {
        lstrcpyA(folder_value_name, "Common ");
        lstrcatA(folder_value_name, name);
        read_reg_string(HKEY_LOCAL_MACHINE, shell_folders_key, folder_value_name, out);
        if (out[0]) return;
    }
    read_reg_string(HKEY_CURRENT_USER, shell_folders_key, name, out);
    if (out[0]) return;
    temp_folder(out);
}

// The candidate is formed in a buffer of its own: near the bound, the folder
// and the suffix together would not fit into what is left of the expansion.
static void quick_launch_path(char* out) {
    shell_folder_path("AppData", quick_launch_candidate);
    lstrcatA(quick_launch_candidate, quick_launch_suffix);
    if (lstrlenA(quick_launch_candidate) < TEXT_SIZE) {
        const DWORD attributes = GetFileAttributesA(quick_launch_candidate);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            lstrcpyA(out, quick_launch_candidate);
            return;
        }
    }
    temp_folder(out);
}

// Writes the text of code `code` at `out`, NUL-terminated, at most 1023 bytes.
static void insert_code(unsigned char code, char* out) {
    if (code == SC_MAIN_WINDOW) {
        wsprintfA(out, "%u", (unsigned)(UINT_PTR)current_main_window);
    } else if (code <= SC_LANG_ID) {
        lstrcpynA(out, var_slots[code - SC_USER_VAR], TEXT_SIZE);
    } else if (code == SC_PROGRAM_FILES) {
        read_reg_string(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", out);
        if (!out[0]) lstrcpyA(out, "C:\\Program Files");
    } else if (code <= SC_START_MENU) {
        shell_folder_path(shell_folder_names[code - SC_PROGRAMS], out);
    } else if (code == SC_QUICK_LAUNCH) {
        quick_launch_path(out);
    } else if (code == SC_TEMP_PATH) {
        temp_folder(out);
    } else if (code == SC_WINDOWS) {
        system_folder(GetWindowsDirectoryA, out);
    } else if (code == SC_SYSTEM) {
        system_folder(GetSystemDirectoryA, out);
    } else {  // SC_TEMP_DIRECTORY
        lstrcpynA(out, temp_directory, TEXT_SIZE);
    }
}

// Folder codes lose a final backslash, so that "C:\" followed by "\file"
// does not double it. The text is walked by characters: the second byte of
// a double-byte character is never taken for a backslash.
static int drops_trailing_backslash(unsigned char code) {
    return code == SC_INSTALL_DIR || code == SC_OUTPUT_DIR || code == SC_EXE_DIR ||
           (code >= SC_PROGRAM_FILES && code <= SC_TEMP_DIRECTORY);
}

static void drop_trailing_backslash(char* text) {
    char* last = 0;
    for (char* p = text; *p; p = CharNextA(p)) last = p;
    if (last && *last == '\\') *last = 0;
}

void expand_string(char* dest, const char* source) {
    const unsigned char* s = (const unsigned char*)source;
    char* w = dest;
    while (*s && w - dest < TEXT_SIZE) {
        const unsigned char c = *s++;
        if (c < SC_FIRST) {
            *w++ = (char)c;
        } else if (c == SC_ESCAPE) {
            if (!*s) break;  // nothing is read beyond the terminator
            *w++ = (char)*s++;
        } else {
            // w is below dest + 1024 and the text is at most 1023 bytes and its
            // NUL, so it stays inside the 2048-byte destination.
            insert_code(c, w);
            if (drops_trailing_backslash(c)) drop_trailing_backslash(w);
            w += lstrlenA(w);
        }
    }
    *w = 0;
}

int32_t lang_string_offset(int32_t number) {
    if (number >= 0)
        return current_language && number < LANG_STRING_COUNT ? current_language->strings[number] : REF_NONE;
    const int32_t entry = -(number + 1);
    const int32_t count = uninstaller_mode ? UNINSTALL_PAGE_TEXT_COUNT : INSTALL_PAGE_TEXT_COUNT;
    return current_page_texts && entry < count ? current_page_texts[entry] : REF_NONE;
}

char* expand_lang_string(char* dest, int32_t number) {
    expand_param(dest, lang_string_offset(number));
    return dest;
}
