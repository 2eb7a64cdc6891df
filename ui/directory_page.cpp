#include "ui/directory_page.h"

#include <shlobj.h>

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/varslots.h"
#include "fs/paths.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "ui/main_window.h"

static const int PATH_SIZE = 1024;
// Room for a 1023-byte network path with the backslash it may gain.
static char root_path[PATH_SIZE + 2];
// A raw page text and the size text after it.
static char space_text[PATH_SIZE + 32];
static char browse_path[PATH_SIZE];
static char browse_scratch[4096];

static const InstallHeader* header() { return (const InstallHeader*)header_block; }

void append_size_text(int32_t kb, char* buffer) {
    char* end = buffer + lstrlenA(buffer);
    // The tenth is taken from the remainder alone, so that sizes near the
    // largest int32_t do not overflow.
    if (kb < 1024) {
        wsprintfA(end, "%dKo", kb);
    } else if (kb < 1024 * 1024) {
        wsprintfA(end, "%d.%dMo", kb >> 10, ((kb & 0x3FF) * 10) >> 10);
    } else {
        // Windows versions that set the version value's top bit get a "+".
        wsprintfA(end, "%d.%dGo%s", kb >> 20, ((kb & 0xFFFFF) * 10) >> 20, (GetVersion() & 0x80000000u) ? "+" : "");
    }
}

void append_default_component(char* path, const char* default_dir) {
    const char* component = 0;
    for (const char* p = default_dir; *p; p = CharNextA(p))
        if (*p == '\\') component = p + 1;
    if (!component || !*component) return;
    const int length = lstrlenA(path);
    const int component_length = lstrlenA(component);
    if (length > component_length && path[length - component_length - 1] == '\\' &&
        lstrcmpiA(path + length - component_length, component) == 0)
        return;
    const int separator = length > 0 && path[length - 1] == '\\' ? 0 : 1;
    if (length + separator + component_length >= PATH_SIZE) return;
    if (separator) lstrcatA(path, "\\");
    lstrcatA(path, component);
}

static int32_t free_kilobytes(const char* install_dir) {
    lstrcpynA(root_path, install_dir, PATH_SIZE);
    if (root_path[0] && root_path[1] == ':') {
        root_path[3] = 0;
    } else if (root_path[0] == '\\' && root_path[1] == '\\') {
        add_backslash(root_path);
    }
    DWORD sectors, bytes, free_clusters, clusters;
    if (!GetDiskFreeSpaceA(root_path, &sectors, &bytes, &free_clusters, &clusters)) return -1;
    uint32_t kb = (free_clusters / 1024) * sectors * bytes;
    if (kb == 0) kb = sectors * bytes * free_clusters / 1024;
    return kb > 0x7FFFFFFFu ? 0x7FFFFFFF : (int32_t)kb;
}

int32_t required_kilobytes() {
    // Summed wide: the sizes of a damaged data block must not wrap around
    // into a small (or negative) need.
    int64_t total = 0;
    for (int32_t i = 0; i < section_count; ++i)
        if (section_records[i].flags & SECTION_SELECTED) total += section_records[i].size_kb;
    return total > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)total;
}

static void set_space_text(HWND page, int id, int entry, int32_t kb) {
    lstrcpynA(space_text, pool_string(lang_string_offset(-(entry + 1))), PATH_SIZE);
    append_size_text(kb, space_text);
    SetDlgItemTextA(page, id, space_text);
}

// The edit field is the install directory: read into InstallDir whenever the
// page recomputes, and the Next button follows what it holds.
static void update_space(HWND page) {
    char* install_dir = var_slot(VAR_INSTALL_DIR);
    GetDlgItemTextA(page, IDC_DIRECTORY, install_dir, VAR_SLOT_SIZE);
    const int valid = is_valid_install_path(install_dir);
    const int32_t free = free_kilobytes(install_dir);
    const int32_t required = required_kilobytes();
    if (lang_string_offset(-(PT_SPACE_REQUIRED + 1)) >= 0) {
        set_space_text(page, IDC_SPACE_REQUIRED, PT_SPACE_REQUIRED, required);
        if (free < 0) SetDlgItemTextA(page, IDC_SPACE_AVAILABLE, "");
        else set_space_text(page, IDC_SPACE_AVAILABLE, PT_SPACE_AVAILABLE, free);
    }
    const int ok = valid && (free >= required || free == -1) &&
                   run_callback(header()->on_verify_dir) != RESULT_ABORT;
    EnableWindow(GetDlgItem(GetParent(page), IDC_NEXT), ok);
}

static int CALLBACK browse_callback(HWND browser, UINT message, LPARAM, LPARAM page) {
    if (message == BFFM_INITIALIZED) {
        GetDlgItemTextA((HWND)page, IDC_DIRECTORY, browse_scratch, sizeof(browse_scratch));
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)browse_scratch);
    }
    return 0;
}

static void browse(HWND page) {
    char display_name[MAX_PATH];
    char title[256];
    GetDlgItemTextA(page, IDC_DIRECTORY, display_name, 256);
    GetDlgItemTextA(page, IDC_DIRECTORY_LABEL, title, sizeof(title));
    BROWSEINFOA info = {};
    info.hwndOwner = page;
    info.pszDisplayName = display_name;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = browse_callback;
    info.lParam = (LPARAM)page;
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item) return;
    // The shell writes at most MAX_PATH bytes; the buffer holds more, for the
    // component appended below.
    const BOOL found = SHGetPathFromIDListA(item, browse_path);
    CoTaskMemFree(item);
    if (!found) return;
    append_default_component(browse_path, pool_string(header()->default_install_dir));
    SetDlgItemTextA(page, IDC_DIRECTORY, browse_path);
}

INT_PTR CALLBACK directory_page_proc(HWND page, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(page, IDC_DIRECTORY, var_slot(VAR_INSTALL_DIR));
        set_item_language_text(page, IDC_INTRO, -(PT_DIR_INTRO + 1));
        set_item_language_text(page, IDC_BROWSE, -(PT_BROWSE + 1));
        set_item_language_text(page, IDC_DIRECTORY_LABEL, -(PT_DIR_LABEL + 1));
        SendMessageA(page, MSG_UPDATE_SPACE, 0, 0);
    } else if (message == MSG_UPDATE_SPACE) {
        update_space(page);
    } else if (message == WM_COMMAND) {
        if (LOWORD(first) == IDC_DIRECTORY && HIWORD(first) == EN_CHANGE) SendMessageA(page, MSG_UPDATE_SPACE, 0, 0);
        else if (LOWORD(first) == IDC_BROWSE) browse(page);
    } else if (message == WM_DESTROY) {
        GetDlgItemTextA(page, IDC_DIRECTORY, var_slot(VAR_INSTALL_DIR), VAR_SLOT_SIZE);
    }
    return dialog_colour_hook(message, first, second);
}
