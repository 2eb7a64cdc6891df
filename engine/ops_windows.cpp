// Instructions on windows: find them, send them messages, ask whether a
// handle still names one, reach a dialog's control and change a window value.
// Window handles travel through the slots as decimal numbers.
#include "engine/ops_system.h"

#include "engine/engine.h"
#include "engine/number.h"

static HWND window_param(int32_t offset) { return (HWND)(LONG_PTR)number_param(offset); }

// Finds a window (p1 class, p2 title, each empty for any; p3 parent, p4 the
// child after which to look), or sends a message (p1 window, p2 message, p3
// and p4 its parameters, p4 a text for the set-text message); the result
// goes into slot p0 unless p0 is negative.
static int32_t find_or_send(const ScriptEntry* entry, int send) {
    const LONG_PTR first = number_param(entry->p3);
    LONG_PTR second = number_param(entry->p4);
    char* one = param_buffers[0];
    char* two = param_buffers[1];
    expand_param(one, entry->p1);
    expand_param(two, entry->p2);
    LONG_PTR result;
    if (send) {
        const UINT message = (UINT)read_number(two);
        if (message == WM_SETTEXT) {
            expand_param(param_buffers[2], entry->p4);
            second = (LONG_PTR)param_buffers[2];
        }
        result = SendMessageA((HWND)(LONG_PTR)read_number(one), message, (WPARAM)first, (LPARAM)second);
    } else {
        result = (LONG_PTR)FindWindowExA((HWND)first, (HWND)second, one[0] ? one : 0, two[0] ? two : 0);
    }
    if (entry->p0 >= 0) set_slot_decimal(entry->p0, (int32_t)result);
    return 0;
}

int32_t op_find_window(const ScriptEntry* entry) { return find_or_send(entry, 0); }
int32_t op_send_message(const ScriptEntry* entry) { return find_or_send(entry, 1); }

int32_t op_if_window(const ScriptEntry* entry) {
    return IsWindow(window_param(entry->p0)) ? entry->p1 : entry->p2;
}

int32_t op_get_dialog_item(const ScriptEntry* entry) {
    set_slot_decimal(entry->p0, (int32_t)(LONG_PTR)GetDlgItem(window_param(entry->p1), number_param(entry->p2)));
    return 0;
}

int32_t op_set_window_long(const ScriptEntry* entry) {
    SetWindowLongA(window_param(entry->p0), entry->p1, number_param(entry->p2));
    return 0;
}
