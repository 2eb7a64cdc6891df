#include "ui/license_page.h"

#include <richedit.h>
#include <shellapi.h>

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "resources/resource_ids.h"
#include "ui/main_window.h"

// Loaded once, never released: the text control's class comes from it.
static HMODULE rich_edit_library = 0;
// Where the next transfer of the license text starts.
static LONG stream_position = 0;

DWORD CALLBACK license_stream_callback(DWORD_PTR text, LPBYTE buffer, LONG size, LONG* count) {
    const char* from = (const char*)text + stream_position;
    LONG n = 0;
    while (n < size - 1 && from[n]) {
        buffer[n] = (BYTE)from[n];
        ++n;
    }
    if (size > 0) buffer[n] = 0;
    stream_position += n;
    *count = n;
    return 0;
}

static void initialise(HWND page) {
    HWND control = GetDlgItem(page, IDC_LICENSE_TEXT);
    const char* text = pool_string(lang_string_offset(-(PT_LICENSE_TEXT + 1)));
    SendMessageA(control, EM_AUTOURLDETECT, TRUE, 0);
    const int32_t colour = (int32_t)((const InstallHeader*)header_block)->license_background_colour;
    SendMessageA(control, EM_SETBKGNDCOLOR, 0, colour < 0 ? (LPARAM)GetSysColor(COLOR_BTNFACE) : colour);
    SendMessageA(control, EM_SETEVENTMASK, 0, ENM_LINK);
    stream_position = 0;
    EDITSTREAM stream = {(DWORD_PTR)text, 0, license_stream_callback};
    SendMessageA(control, EM_STREAMIN, text[0] == '{' ? SF_RTF : SF_TEXT, (LPARAM)&stream);
    set_item_language_text(page, IDC_LICENSE_INTRO, -(PT_LICENSE_INTRO + 1));
}

static void open_link(HWND page, const ENLINK* link) {
    HWND control = link->nmhdr.hwndFrom;
    SendMessageA(control, EM_EXSETSEL, 0, (LPARAM)&link->chrg);
    // Two bytes a character: in a double-byte code page the selected text
    // may take more bytes than it has characters.
    const LONG characters = link->chrg.cpMax - link->chrg.cpMin;
    if (characters < 0) return;
    char* address = (char*)GlobalAlloc(GPTR, (SIZE_T)characters * 2 + 1);
    if (!address) return;
    SendMessageA(control, EM_GETSELTEXT, 0, (LPARAM)address);
    SetCursor(LoadCursorA(0, IDC_WAIT));
    ShellExecuteA(page, "open", address, 0, 0, SW_SHOWNORMAL);
    SetCursor(LoadCursorA(0, IDC_ARROW));
    GlobalFree(address);
}

INT_PTR CALLBACK license_page_proc(HWND page, UINT message, WPARAM first, LPARAM second) {
    // The first message (the template's font) comes before the controls are
    // made, so the library is there in time; a failed load is tried again.
    if (!rich_edit_library) rich_edit_library = LoadLibraryA("RichEd32.dll");
    if (message == WM_INITDIALOG) {
        initialise(page);
    } else if (message == WM_NOTIFY && ((const NMHDR*)second)->code == EN_LINK) {
        const ENLINK* link = (const ENLINK*)second;
        if (link->msg == WM_LBUTTONDOWN) open_link(page, link);
        else if (link->msg == WM_SETCURSOR) SetCursor(LoadCursorA(0, IDC_HAND));
    } else if (message == WM_CLOSE) {
        // Escape in the text control: the main window decides.
        SendMessageA(GetParent(page), WM_CLOSE, 0, 0);
    }
    return dialog_colour_hook(message, first, second);
}
