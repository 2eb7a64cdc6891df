#include "startup/progress_dialog.h"

int32_t progress_done = 0;
int32_t progress_of = 0;

// Only one progress dialog exists at a time, so one remembered format suffices.
// It is set when the dialog starts, before its timer can tick.
static const char* progress_format = 0;

static void show_progress(HWND dialog) {
    char text[64];
    wsprintfA(text, progress_format, MulDiv(progress_done, 100, progress_of));
    SetWindowTextA(dialog, text);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, text);
}

INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        progress_format = (const char*)lparam;
        SetTimer(dialog, 1, 250, 0);
        show_progress(dialog);
    } else if (message == WM_TIMER) {
        show_progress(dialog);
    }
    return 0;
}

void dispatch_pending_messages() {
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

HWND create_progress_dialog(HINSTANCE module, const char* format) {
    return CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_PROGRESS), GetDesktopWindow(),
                              progress_dialog_proc, (LPARAM)format);
}
