#include "engine/status.h"

#include <commctrl.h>

#include "engine/engine.h"
#include "engine/expand.h"

HWND detail_list = 0;
HWND detail_status = 0;
HWND details_button = 0;

static const int LINE_SIZE = 1024;
static char line_buffer[LINE_SIZE];
static LVITEMA line_item;

void log_line(const char* prefix, const char* text) {
    if (!detail_list) return;
    if (lstrlenA(prefix) + lstrlenA(text) >= LINE_SIZE) return;
    lstrcpyA(line_buffer, prefix);
    lstrcatA(line_buffer, text);

    if (detail_output_flags & DETAIL_TO_LIST) {
        const int n = (int)SendMessageA(detail_list, LVM_GETITEMCOUNT, 0, 0);
        line_item.mask = LVIF_TEXT;
        line_item.iItem = n;
        line_item.iSubItem = 0;
        line_item.pszText = line_buffer;
        SendMessageA(detail_list, LVM_INSERTITEMA, 0, (LPARAM)&line_item);
        SendMessageA(detail_list, LVM_ENSUREVISIBLE, (WPARAM)n, FALSE);
        // The one column always spans the list.
        RECT client;
        GetClientRect(detail_list, &client);
        SendMessageA(detail_list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM((WORD)(client.right - client.left), 0));
    }
    if ((detail_output_flags & DETAIL_TO_STATUS) && detail_status) SetWindowTextA(detail_status, line_buffer);
}

void log_line_lang(int32_t number, const char* text) { log_line(pool_string(lang_string_offset(number)), text); }
