#include "ui/uninstall_page.h"

#include "datablock/records.h"
#include "engine/varslots.h"
#include "resources/resource_ids.h"
#include "ui/main_window.h"

INT_PTR CALLBACK uninstall_page_proc(HWND page, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_INITDIALOG) {
        set_item_language_text(page, IDC_INTRO, -(UPT_CONFIRM_INTRO + 1));
        set_item_language_text(page, IDC_UNINSTALL_LABEL, -(UPT_DIR_LABEL + 1));
        SetDlgItemTextA(page, IDC_UNINSTALL_DIRECTORY, var_slot(VAR_INSTALL_DIR));
    }
    return dialog_colour_hook(message, first, second);
}
