#include "ui/main_window.h"

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/number.h"
#include "engine/varslots.h"
#include "fs/paths.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "startup/startup.h"
#include "ui/components_page.h"
#include "ui/directory_page.h"
#include "ui/install_files_page.h"
#include "ui/license_page.h"
#include "ui/message_box.h"
#include "ui/uninstall_page.h"

int32_t current_page = 0;  // -1 from init_process_state on
HWND page_window = 0;
HWND wizard_window = 0;

static HICON window_icon = 0;
static char title_buffer[4096];
// The colour hook keeps the brush of the last colour it was asked for.
static HBRUSH colour_brush = 0;
static COLORREF colour_brush_colour = 0;

// Pages, by table entry: an installer uses entries 0..3, an uninstaller 4..5.
struct PageEntry {
    WORD template_id;
    DLGPROC proc;
};
static const PageEntry page_table[6] = {
    {IDD_LICENSE_PAGE, license_page_proc},
    {IDD_COMPONENTS_PAGE, components_page_proc},
    {IDD_DIRECTORY_PAGE, directory_page_proc},
    {IDD_INSTALL_FILES_PAGE, install_files_page_proc},
    {IDD_UNINSTALL_PAGE, uninstall_page_proc},
    {IDD_INSTALL_FILES_PAGE, install_files_page_proc},
};

static const InstallHeader* install_header() { return (const InstallHeader*)header_block; }

// Fields that only the installer's header has read as "none" for an uninstaller.
static int32_t installer_callback(const int32_t InstallHeader::*field) {
    return uninstaller_mode ? REF_NONE : install_header()->*field;
}


static int has_page_text(int entry) { return lang_string_offset(-(entry + 1)) >= 0; }

static int page_exists(int32_t page) {
    if (uninstaller_mode) return page != 0 || has_page_text(UPT_CONFIRM_INTRO);
    switch (page) {
        case 0: return has_page_text(PT_LICENSE_TEXT);
        case 1: return has_page_text(PT_COMPONENTS_INTRO);
        case 2: return has_page_text(PT_DIR_INTRO);
        default: return 1;
    }
}

// The directory page is passed over when the script asks for that and the
// install directory is already good (and on_verify_dir agrees).
static int directory_page_wanted() {
    if (uninstaller_mode || !page_exists(2)) return 0;
    if (!(header_misc_flags() & MISC_SKIP_DIR_PAGE_IF_VALID)) return 1;
    if (!is_valid_install_path(var_slot(VAR_INSTALL_DIR))) return 1;
    return run_callback(installer_callback(&InstallHeader::on_verify_dir)) == RESULT_ABORT;
}

void set_item_language_text(HWND window, int id, int32_t number) {
    SetDlgItemTextA(window, id, pool_string(lang_string_offset(number)));
}

void set_caption_with_suffix(int32_t suffix) {
    lstrcpynA(title_buffer, caption, sizeof(title_buffer));
    const int length = lstrlenA(title_buffer);
    // The suffix is expanded into its own 1024 bytes first; the title buffer
    // holds a whole caption and a whole suffix.
    char* suffix_text = param_buffers[0];
    expand_lang_string(suffix_text, suffix);
    lstrcpynA(title_buffer + length, suffix_text, (int)sizeof(title_buffer) - length);
    SetWindowTextA(wizard_window, title_buffer);
}

INT_PTR dialog_colour_hook(UINT message, WPARAM first, LPARAM second) {
    if (message != WM_CTLCOLORSTATIC) return 0;
    const LONG_PTR value = GetWindowLongPtrA((HWND)second, GWLP_USERDATA);
    if (value == 0) return 0;
    const COLORREF colour = (COLORREF)(value - 1);
    SetBkColor((HDC)first, colour);
    if (!colour_brush || colour != colour_brush_colour) {
        if (colour_brush) DeleteObject(colour_brush);
        colour_brush = CreateSolidBrush(colour);
        colour_brush_colour = colour;
    }
    return (INT_PTR)colour_brush;
}

// The text of the Next button on page p.
static int32_t next_button_text(int32_t p) {
    if (p == last_page) return LS_CLOSE;
    if (uninstaller_mode) return -(UPT_UNINSTALL + 1);
    if (p == 0) return -(PT_LICENSE_ACCEPT + 1);
    if (p == 2 || (p == 1 && !directory_page_wanted())) return -(PT_INSTALL + 1);
    return -(PT_NEXT + 1);
}

static void show_page(HWND window, int32_t p) {
    const PageEntry& entry = page_table[page_base + p];
    page_window = CreateDialogParamA(module_handle, MAKEINTRESOURCEA(entry.template_id), window, entry.proc, 0);
    if (!page_window) return;
    RECT area;
    GetWindowRect(GetDlgItem(window, IDC_PAGE_AREA), &area);
    POINT corner = {area.left, area.top};
    ScreenToClient(window, &corner);
    SetWindowPos(page_window, 0, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
    run_callback(install_header()->on_page_shown);
    ShowWindow(page_window, SW_SHOWNA);
}

static void navigate(HWND window, int32_t direction) {
    const int32_t old_page = current_page;
    if (current_page <= 0) direction = 1;
    int32_t p;
    for (;;) {
        int32_t steps = 1;
        const int32_t start = direction > 0 ? install_header()->on_next_page
                                            : installer_callback(&InstallHeader::on_prev_page);
        if (run_callback(start) == RESULT_ABORT) {
            if (quit_count) {
                current_page = -1;
                steps = -1;
            } else {
                // The callback's abort message says where to go instead: a
                // signed number of pages, or 0 (or no number) to stay.
                const int32_t n = read_number(expansion_buffer);
                if (n != 0) {
                    direction = n > 0 ? 1 : -1;
                    steps = n > 0 ? n : (n == INT32_MIN ? INT32_MAX : -n);
                } else {
                    steps = 0;
                }
            }
        }
        // Pages that do not exist are passed over without counting. Past the
        // first or the last page every place ends the wizard alike, so the
        // walk stops there however many steps are left.
        p = current_page;
        for (;;) {
            if (p < -1 || p > last_page) break;
            if (p >= 0 && p <= 2 && !page_exists(p)) {
                p += direction;
            } else if (steps >= 1) {
                --steps;
                p += direction;
            } else {
                break;
            }
        }
        current_page = p;
        if (p == 2 && p <= last_page && !directory_page_wanted()) continue;
        break;
    }

    if (p > last_page) run_callback(install_header()->on_success);
    if (page_window && p != old_page) {
        DestroyWindow(page_window);
        page_window = 0;
    }
    if (p < 0 || p > last_page) {
        EndDialog(window, WIZARD_DONE);
        return;
    }
    if (page_window) return;

    set_item_language_text(window, IDC_NEXT, next_button_text(p));
    set_caption_with_suffix(LS_PAGE_SUFFIX_0 + p);
    show_page(window, p);

    HWND back = GetDlgItem(window, IDC_BACK);
    if (!uninstaller_mode && p >= 1 && p <= 3) {
        ShowWindow(back, SW_SHOWNA);
        EnableWindow(back, (p == 1 && page_exists(0)) || (p == 2 && (page_exists(0) || page_exists(1))));
    } else {
        ShowWindow(back, SW_HIDE);
    }
    SetFocus(GetDlgItem(window, IDC_NEXT));
}

// A button's command counts only while the user could press it: keys and
// scripts can send commands for disabled buttons too, and no callback may
// run beside the install thread.
static int button_enabled(HWND window, int id) { return IsWindowEnabled(GetDlgItem(window, id)); }

static void on_command(HWND window, int id) {
    if (!button_enabled(window, id)) return;
    if (id == IDC_NEXT) {
        if (page_window) SendMessageA(window, MSG_NAVIGATE, 1, 0);
    } else if (id == IDC_BACK) {
        if (!uninstaller_mode && page_window && current_page > 0) {
            EnableWindow(GetDlgItem(window, IDC_NEXT), TRUE);
            SendMessageA(window, MSG_NAVIGATE, (WPARAM)-1, 0);
        }
    } else if (id == IDC_CANCEL) {
        if (failure_count) {
            run_callback(install_header()->on_failure);
            EndDialog(window, WIZARD_FAILED);
        } else if (run_callback(install_header()->on_cancel) != RESULT_ABORT) {
            EndDialog(window, WIZARD_CANCELLED);
        }
    }
}

static void initialise(HWND window) {
    wizard_window = window;
    current_main_window = window;
    set_item_language_text(window, IDC_BRANDING, LS_BRANDING);
    window_icon = LoadIconA(module_handle, MAKEINTRESOURCEA(IDI_INSTALLER));
    SetClassLongPtrA(window, GCLP_HICON, (LONG_PTR)window_icon);
    set_item_language_text(window, IDC_CANCEL, LS_CANCEL);
    if (!uninstaller_mode) set_item_language_text(window, IDC_BACK, -(PT_BACK + 1));
    ShowWindow(window, SW_SHOW);
    navigate(window, 1);
}

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
        case WM_INITDIALOG:
            initialise(window);
            break;
        case MSG_NAVIGATE:
            navigate(window, (int32_t)first);
            break;
        case WM_COMMAND:
            on_command(window, LOWORD(first));
            break;
        case WM_CLOSE:
            // On the finished install-files page the close box acts as Next.
            if (!button_enabled(window, IDC_CANCEL) && button_enabled(window, IDC_NEXT))
                SendMessageA(window, WM_COMMAND, IDC_NEXT, 0);
            break;
        case WM_DESTROY:
            if (window_icon) DestroyIcon(window_icon);
            window_icon = 0;
            break;
    }
    return dialog_colour_hook(message, first, second);
}
