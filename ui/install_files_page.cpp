#include "ui/install_files_page.h"

#include <commctrl.h>

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/status.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "ui/main_window.h"

HWND progress_window = 0;

// Label tips: a line too long for the list shows whole in a tooltip.
static const LPARAM LIST_LABEL_TIP = 0x4000;

// Both header records share these fields.
static const InstallHeader* header() { return (const InstallHeader*)header_block; }

// The number of entries the installation is expected to step through.
static int32_t expected_entries() {
    if (uninstaller_mode) return ((const UninstallHeader*)header_block)->uninstall_entry_count;
    int32_t total = 0;
    for (int32_t i = 0; i < section_count; ++i)
        if (section_records[i].flags & SECTION_SELECTED) total += section_records[i].entry_count;
    return total;
}

static DWORD WINAPI install_thread(void* page) { return (DWORD)run_sections((HWND)page); }

static void initialise(HWND page) {
    HWND main = GetParent(page);
    details_button = GetDlgItem(page, IDC_SHOW_DETAILS);
    detail_status = GetDlgItem(page, IDC_STATUS_LINE);
    detail_list = GetDlgItem(page, IDC_DETAILS_LIST);
    const int32_t total = expected_entries();

    LVCOLUMNA column = {};
    SendMessageA(detail_list, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
    SendMessageA(detail_list, LVM_SETEXTENDEDLISTVIEWSTYLE, LIST_LABEL_TIP, LIST_LABEL_TIP);
    const int32_t background = (int32_t)header()->list_background_colour;
    const int32_t text = (int32_t)header()->list_text_colour;
    if (background >= 0) {
        SendMessageA(detail_list, LVM_SETBKCOLOR, 0, background);
        SendMessageA(detail_list, LVM_SETTEXTBKCOLOR, 0, background);
    }
    if (text >= 0) SendMessageA(detail_list, LVM_SETTEXTCOLOR, 0, text);

    set_item_language_text(page, IDC_SHOW_DETAILS, LS_SHOW_DETAILS);
    const uint8_t mode = header()->details_mode;
    if (mode != DETAILS_HIDDEN) {
        ShowWindow(details_button, SW_HIDE);
        if (mode == DETAILS_NONE) details_button = 0;  // not even the script can bring it back
        else ShowWindow(detail_list, SW_SHOWNA);
    }

    progress_total = total;
    const uint8_t flags = header()->progress_flags;
    progress_window = GetDlgItem(page, IDC_PROGRESS_BAR + ((flags & PROGRESS_SMOOTH) ? 1 : 0));
    ShowWindow(progress_window, SW_SHOWNA);
    SendMessageA(progress_window, PBM_SETRANGE, 0, MAKELPARAM(0, PROGRESS_RANGE));
    if (flags & PROGRESS_COLOURED) {
        SendMessageA(progress_window, PBM_SETBARCOLOR, 0, (LPARAM)header()->list_text_colour);
        SendMessageA(progress_window, PBM_SETBKCOLOR, 0, (LPARAM)header()->list_background_colour);
    }

    EnableWindow(GetDlgItem(main, IDC_NEXT), FALSE);
    EnableWindow(GetDlgItem(main, IDC_CANCEL), FALSE);
    DWORD id;
    HANDLE thread = CreateThread(0, 0, install_thread, page, 0, &id);
    if (thread) CloseHandle(thread);
}

static void installation_done(HWND page, WPARAM failures) {
    HWND main = GetParent(page);
    if (quit_count) {
        EndDialog(main, WIZARD_CANCELLED);
        return;
    }
    if (failures == 0) {
        HWND next = GetDlgItem(main, IDC_NEXT);
        EnableWindow(next, TRUE);
        if (auto_close_flag) {
            SendMessageA(main, MSG_NAVIGATE, 1, 0);
            return;
        }
        ShowWindow(main, SW_SHOWNA);
        log_line_lang(LS_COMPLETED, "");
        set_caption_with_suffix(LS_PAGE_SUFFIX_0 + last_page + 1);
        SetFocus(next);
    } else {
        HWND cancel = GetDlgItem(main, IDC_CANCEL);
        EnableWindow(cancel, TRUE);
        SetFocus(cancel);
    }
}

static void show_details() {
    ShowWindow(details_button, SW_HIDE);
    SendMessageA(detail_list, WM_VSCROLL, SB_BOTTOM, 0);
    ShowWindow(detail_list, SW_SHOWNA);
}

INT_PTR CALLBACK install_files_page_proc(HWND page, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_INITDIALOG) initialise(page);
    else if (message == MSG_INSTALL_DONE) installation_done(page, first);
    else if (message == WM_COMMAND && LOWORD(first) == IDC_SHOW_DETAILS) show_details();
    return dialog_colour_hook(message, first, second);
}
