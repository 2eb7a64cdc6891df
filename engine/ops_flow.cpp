#include "engine/ops_flow.h"

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/status.h"
#include "engine/varslots.h"
#include "ui/components_page.h"
#include "ui/message_box.h"

// ---- Flow ------------------------------------------------------------------------

int32_t op_jump(const ScriptEntry* e) { return e->p0; }

// The message stays in the expansion buffer after the segment has ended: the
// wizard reads it there as the number of pages to move.
int32_t op_abort(const ScriptEntry* e) {
    char* message = param_buffers[0];
    expand_param(message, e->p0);
    log_line("", message);
    return RESULT_ABORT;
}

int32_t op_quit(const ScriptEntry*) {
    ++quit_count;
    if (current_main_window) PostQuitMessage(0);
    return RESULT_ABORT;
}

// The called segment runs without the progress window; its own entries never
// move the bar. run_code_segment keeps the nesting depth in bounds.
int32_t op_call(const ScriptEntry* e) {
    const int32_t target = resolve_target(e->p0);
    if (target <= 0) return 0;  // 0 runs nothing; a negative value would end a segment at once
    return run_code_segment(script_entries, target - 1, 0);
}

int32_t op_if_error(const ScriptEntry* e) {
    const int32_t count = error_count;
    error_count = e->p2;
    return count ? e->p0 : e->p1;
}

int32_t op_if_reboot_flag(const ScriptEntry* e) { return reboot_flag ? e->p0 : e->p1; }

int32_t op_set_reboot_flag(const ScriptEntry* e) {
    reboot_flag = e->p0;
    return 0;
}

// ---- Settings ----------------------------------------------------------------------

int32_t op_detail_output(const ScriptEntry* e) {
    if (e->p1) {
        detail_output_flags = e->p1;
        return 0;
    }
    char* text = param_buffers[0];
    expand_param(text, e->p0);
    log_line(text, "");
    return 0;
}

// At least 1 ms: a value below 1 would otherwise be taken as an endless wait.
int32_t op_sleep(const ScriptEntry* e) {
    const int32_t ms = number_param(e->p0);
    Sleep(ms < 1 ? 1 : (DWORD)ms);
    return 0;
}

int32_t op_set_all_users(const ScriptEntry* e) {
    all_users_flag = (uint8_t)e->p0;
    return 0;
}

// Without a main window (a silent run) the window calls do nothing.
int32_t op_hide_window(const ScriptEntry*) {
    ShowWindow(current_main_window, SW_HIDE);
    return 0;
}

int32_t op_bring_to_front(const ScriptEntry*) {
    ShowWindow(current_main_window, SW_SHOW);
    SetForegroundWindow(current_main_window);
    return 0;
}

int32_t op_set_auto_close(const ScriptEntry* e) {
    auto_close_flag = (uint8_t)e->p0;
    return 0;
}

// ---- Strings ----------------------------------------------------------------------

int32_t op_string_length(const ScriptEntry* e) {
    char* text = param_buffers[0];
    expand_param(text, e->p1);
    set_slot_decimal(e->p0, lstrlenA(text));
    return 0;
}

// The general string assignment: the text from byte `start` on, at most
// `count` bytes of it (count < 0: all but the last -count bytes). The source
// is expanded before the destination changes, so a VarSlot may be copied onto
// itself.
int32_t op_copy_string(const ScriptEntry* e) {
    int32_t count = number_param(e->p2);
    int32_t start = number_param(e->p3);
    char* text = param_buffers[0];
    expand_param(text, e->p1);
    char* dest = slot_param(e->p0);
    dest[0] = 0;
    // A count given as 0 copies nothing; a missing count means no limit.
    if (e->p2 >= 0 && count == 0) return 0;

    const int32_t length = lstrlenA(text);
    if (start < 0) {
        start += length;  // length is at most 1023: no overflow
        if (start < 0) return 0;
    }
    if (start > length) start = length;
    lstrcpyA(dest, text + start);
    if (count == 0) return 0;

    const int32_t copied = lstrlenA(dest);
    if (count < 0) {
        count += copied;  // copied is at most 1023: no overflow
        if (count < 0) count = 0;
    }
    if (count < copied) dest[count] = 0;
    return 0;
}

int32_t op_compare_string(const ScriptEntry* e) {
    char* a = param_buffers[0];
    char* b = param_buffers[1];
    expand_param(a, e->p0);
    expand_param(b, e->p1);
    return lstrcmpiA(a, b) == 0 ? e->p2 : e->p3;
}

// Reads the digits of a width or precision; 0 when it is wider than a VarSlot.
static int skip_field_width(const char*& p) {
    int32_t width = 0;
    while (*p >= '0' && *p <= '9') {
        width = width * 10 + (*p++ - '0');
        if (width >= VAR_SLOT_SIZE) return 0;
    }
    return 1;
}

// The formatter receives one 32-bit integer and nothing else; a format that
// asked for more (a string, a character, a second number, a 64-bit value)
// would make it read past that argument. Widths and precisions stay below
// the size of a VarSlot. The walk goes byte by byte, as the formatter's own
// does: no double-byte trail byte is ever a '%'.
int format_takes_one_int(const char* format) {
    int conversions = 0;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p == '-' || *p == '#' || *p == '0') ++p;
        if (!skip_field_width(p)) return 0;
        if (*p == '.') {
            ++p;
            if (!skip_field_width(p)) return 0;
        }
        if (*p == 'l' || *p == 'h') ++p;
        if (*p != 'd' && *p != 'i' && *p != 'u' && *p != 'x' && *p != 'X') return 0;
        if (++conversions > 1) return 0;
    }
    return 1;
}

// A format that the instruction cannot serve safely empties the VarSlot and
// counts as an error.
int32_t op_format_int(const ScriptEntry* e) {
    char* format = param_buffers[0];
    expand_param(format, e->p1);
    const int32_t value = number_param(e->p2);
    char* dest = slot_param(e->p0);
    if (!format_takes_one_int(format)) {
        dest[0] = 0;
        ++error_count;
        return 0;
    }
    // The formatter writes at most 1024 bytes, the size of a VarSlot; a cut
    // text ends at the VarSlot's last byte.
    wsprintfA(dest, format, value);
    dest[VAR_SLOT_SIZE - 1] = 0;
    return 0;
}

// ---- Integers ----------------------------------------------------------------------

int32_t op_compare_int(const ScriptEntry* e) {
    const int32_t a = number_param(e->p0);
    const int32_t b = number_param(e->p1);
    return a == b ? e->p2 : a < b ? e->p3 : e->p4;
}

int32_t op_compare_uint(const ScriptEntry* e) {
    const uint32_t a = (uint32_t)number_param(e->p0);
    const uint32_t b = (uint32_t)number_param(e->p1);
    return a == b ? e->p2 : a < b ? e->p3 : e->p4;
}

// Sums and products wrap at 32 bits. Dividing by zero gives 0 and an error;
// the one quotient that does not fit, INT32_MIN / -1, wraps to INT32_MIN with
// remainder 0 instead of trapping.
static int32_t int_operation(int32_t a, int32_t b, int32_t operation) {
    const uint32_t ua = (uint32_t)a, ub = (uint32_t)b;
    switch (operation) {
        case INT_ADD: return (int32_t)(ua + ub);
        case INT_SUB: return (int32_t)(ua - ub);
        case INT_MUL: return (int32_t)(ua * ub);
        case INT_DIV:
        case INT_MOD:
            if (b == 0) {
                ++error_count;
                return 0;
            }
            if (b == -1) return operation == INT_DIV ? (int32_t)(0u - ua) : 0;
            return operation == INT_DIV ? a / b : a % b;
        case INT_OR: return a | b;
        case INT_AND: return a & b;
        case INT_XOR: return a ^ b;
        case INT_NOT: return ~a;
        case INT_LNOT: return a == 0;
        case INT_LOR: return a || b;
        case INT_LAND: return a && b;
        default: return a;
    }
}

int32_t op_int_operation(const ScriptEntry* e) {
    const int32_t a = number_param(e->p1);
    const int32_t b = number_param(e->p2);
    set_slot_decimal(e->p0, int_operation(a, b, e->p3));
    return 0;
}

// ---- The string stack ----------------------------------------------------------------
// Plug-in libraries push and pop nodes of the same layout from the same heap,
// so every text is copied with a bound: a node is never trusted to be
// terminated.

static int32_t stack_exchange(int32_t depth) {
    StackNode* top = string_stack;
    if (!top || depth < 0) return invalid_instruction();
    StackNode* node = top;
    for (int32_t i = 0; i < depth; ++i) {
        node = node->next;
        if (!node) return invalid_instruction();
    }
    char* scratch = param_buffers[0];
    lstrcpynA(scratch, top->text, sizeof(top->text));
    lstrcpynA(top->text, node->text, sizeof(top->text));
    lstrcpynA(node->text, scratch, sizeof(node->text));
    return 0;
}

static int32_t stack_pop(int32_t slot) {
    char* dest = slot_param(slot);
    if (entry_fault) return 0;  // a bad slot: leave the stack as it is
    StackNode* top = string_stack;
    if (!top) {
        ++error_count;
        return 0;
    }
    lstrcpynA(dest, top->text, VAR_SLOT_SIZE);
    string_stack = top->next;
    GlobalFree(top);
    return 0;
}

static int32_t stack_push(int32_t offset) {
    StackNode* node = (StackNode*)GlobalAlloc(GPTR, sizeof(StackNode));
    if (!node) {
        ++error_count;
        return 0;
    }
    expand_param(node->text, offset);
    if (entry_fault) {  // a bad string: nothing is pushed
        GlobalFree(node);
        return 0;
    }
    node->next = string_stack;
    string_stack = node;
    return 0;
}

int32_t op_stack(const ScriptEntry* e) {
    if (e->p2) return stack_exchange(e->p2);
    return e->p1 != STACK_PUSH ? stack_pop(e->p0) : stack_push(e->p0);
}

// ---- Sections ------------------------------------------------------------------------

// An uninstaller has no sections.
static int32_t section_count() {
    if (uninstaller_mode || !section_records || !header_block) return 0;
    return ((const InstallHeader*)header_block)->section_count;
}

int32_t op_section(const ScriptEntry* e) {
    const int32_t i = number_param(e->p0);
    if (i < 0 || i >= section_count()) {
        ++error_count;
        return 0;
    }
    SectionRecord* section = &section_records[i];
    switch (e->p1) {
        case SECTION_SET_NAME:
            // The name is stored as an offset and expanded where it is shown;
            // an offset outside the pool is refused here.
            pool_string(e->p2);
            if (entry_fault) return 0;
            if (components_page_window) SendMessageA(components_page_window, MSG_SECTION_TEXT, (WPARAM)i, e->p2);
            section->name = e->p2;
            return 0;
        case SECTION_GET_NAME: {
            char* dest = slot_param(e->p2);
            expand_param(dest, section->name);
            return 0;
        }
        case SECTION_SET_FLAGS:
            section->flags = (uint32_t)number_param(e->p2);
            if (components_page_window)
                SendMessageA(components_page_window, MSG_SECTION_CHECK, (WPARAM)i,
                             (section->flags & SECTION_SELECTED) ? 1 : 0);
            return 0;
        default:
            set_slot_decimal(e->p2, (int32_t)section->flags);
            return 0;
    }
}
