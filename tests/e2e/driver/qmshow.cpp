// qmshow - a window of known content for the driver's own tests.
//
//   qmshow.exe TITLE [noclose | nosysmenu | disabled]
//
// Shows a top-level window titled TITLE with
//   - buttons 1 "Next" (pressing it starts the delayed changes below),
//     2 "Cancel" (disabled) and 3 "Back" (hidden);
//   - statics 10 "Working", 11 (hidden), 12 (shown); button 13 (disabled);
//   - a page: a child dialog with id 1000 holding the list view 1016 (the
//     items of kItems, then "line 1".."line 40", item 2 selected, scrolled to
//     the last item), the empty list view 1017 and the progress bar 1004
//     (range 10..70000, position 12345).
// About 700 ms after "Next" is pressed: the title gets " (done)" appended,
// static 10 reads "Completed", 11 is shown, 12 hidden, 13 enabled and the
// progress bar stands at 70000.
//
// A user cannot press the close box with "noclose" (the window class has
// CS_NOCLOSE), "nosysmenu" (the window has no system menu, so no close box)
// or "disabled" (the window is disabled, as under a modal window).
//
// Exit code: 3 when closed through the close box (WM_SYSCOMMAND SC_CLOSE
// came first), 4 when closed by a bare WM_CLOSE, 2 when nobody closed it
// within a minute, 1 when the window could not be made.

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace {

// The driver's tests expect exactly these items, in this order.
const wchar_t* const kItems[] = {
    L"Extract: readme.txt",
    L"Output folder: C:\\Program Files\\Example",
    L"tab\there",
    L"",
    L"\u00e9t\u00e9 \u65e5\u672c",
};
const int kNumberedLines = 40;
const int kLongLength = 3000;  // more than the driver's first buffer

const UINT_PTR kChangeTimer = 1;
const UINT_PTR kExitTimer = 2;

int exitCode = 2;
bool closeBoxPressed = false;
std::wstring baseTitle;

HWND page = nullptr;

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    return CreateWindowExW(0, cls, text, WS_CHILD | style, x, y, w, h, parent, (HMENU)(INT_PTR)id,
                           GetModuleHandleW(nullptr), nullptr);
}

INT_PTR CALLBACK pageProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// The page is an empty child dialog from a template in memory; its
// controls are added afterwards.
HWND makePage(HWND parent) {
    struct {
        DLGTEMPLATE t;
        WORD menu, cls, title;
    } tmpl{};
    tmpl.t.style = WS_CHILD | WS_VISIBLE | DS_CONTROL;
    tmpl.t.cx = 300;
    tmpl.t.cy = 160;
    HWND p = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &tmpl.t, parent, pageProc, 0);
    if (!p) return nullptr;
    SetWindowLongPtrW(p, GWLP_ID, 1000);
    MoveWindow(p, 0, 0, 480, 260, FALSE);

    HWND list = child(p, WC_LISTVIEWW, L"", WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS,
                      10, 10, 460, 120, 1016);
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH;
    col.cx = 440;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, (LPARAM)&col);
    std::wstring longItem = L"long:";
    while (longItem.size() < (size_t)kLongLength) longItem += (wchar_t)(L'a' + longItem.size() % 26);
    int n = 0;
    auto add = [&](const std::wstring& text) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = n++;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        SendMessageW(list, LVM_INSERTITEMW, 0, (LPARAM)&item);
    };
    for (const wchar_t* t : kItems) add(t);
    add(longItem);
    for (int i = 1; i <= kNumberedLines; ++i) add(L"line " + std::to_wstring(i));
    LVITEMW sel{};
    sel.stateMask = sel.state = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, 2, (LPARAM)&sel);
    SendMessageW(list, LVM_ENSUREVISIBLE, n - 1, FALSE);

    child(p, WC_LISTVIEWW, L"", WS_VISIBLE | WS_BORDER | LVS_REPORT, 10, 140, 200, 60, 1017);

    HWND bar = child(p, PROGRESS_CLASSW, L"", WS_VISIBLE, 10, 220, 460, 20, 1004);
    SendMessageW(bar, PBM_SETRANGE32, 10, 70000);
    SendMessageW(bar, PBM_SETPOS, 12345, 0);
    return p;
}

void applyChanges(HWND w) {
    SetWindowTextW(w, (baseTitle + L" (done)").c_str());
    SetDlgItemTextW(w, 10, L"Completed");
    ShowWindow(GetDlgItem(w, 11), SW_SHOW);
    ShowWindow(GetDlgItem(w, 12), SW_HIDE);
    EnableWindow(GetDlgItem(w, 13), TRUE);
    SendMessageW(GetDlgItem(page, 1004), PBM_SETPOS, 70000, 0);
}

LRESULT CALLBACK mainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wp) == 1 && HIWORD(wp) == BN_CLICKED) SetTimer(w, kChangeTimer, 700, nullptr);
        return 0;
    case WM_TIMER:
        if (wp == kChangeTimer) {
            KillTimer(w, kChangeTimer);
            applyChanges(w);
        } else if (wp == kExitTimer) {
            DestroyWindow(w);
        }
        return 0;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_CLOSE) closeBoxPressed = true;
        break;
    case WM_CLOSE:
        exitCode = closeBoxPressed ? 3 : 4;
        DestroyWindow(w);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(exitCode);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    baseTitle = argv[1];
    const std::wstring mode = argc > 2 ? argv[2] : L"";

    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = mainProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QmShowWindow";
    if (mode == L"noclose") wc.style = CS_NOCLOSE;
    if (!RegisterClassW(&wc)) return 1;
    const DWORD frame = WS_OVERLAPPED | WS_CAPTION | (mode == L"nosysmenu" ? 0 : WS_SYSMENU);
    HWND w = CreateWindowExW(0, wc.lpszClassName, baseTitle.c_str(), frame,
                             40, 40, 500, 400, nullptr, nullptr, inst, nullptr);
    if (!w) return 1;
    page = makePage(w);
    if (!page) return 1;
    child(w, L"Button", L"&Next", WS_VISIBLE | BS_PUSHBUTTON, 380, 300, 90, 26, 1);
    HWND cancel = child(w, L"Button", L"Cancel", WS_VISIBLE | BS_PUSHBUTTON, 280, 300, 90, 26, 2);
    EnableWindow(cancel, FALSE);
    child(w, L"Button", L"< &Back", BS_PUSHBUTTON, 180, 300, 90, 26, 3);
    child(w, L"Static", L"Working", WS_VISIBLE, 10, 270, 150, 20, 10);
    child(w, L"Static", L"Shown later", 0, 10, 300, 150, 20, 11);
    child(w, L"Static", L"Hidden later", WS_VISIBLE, 10, 330, 150, 20, 12);
    HWND later = child(w, L"Button", L"Later", WS_VISIBLE | BS_PUSHBUTTON, 180, 330, 90, 26, 13);
    EnableWindow(later, FALSE);
    if (mode == L"disabled") EnableWindow(w, FALSE);
    ShowWindow(w, SW_SHOW);
    UpdateWindow(w);
    SetTimer(w, kExitTimer, 60000, nullptr);

    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(page, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return (int)m.wParam;
}
