// qmshow - a window of known content for the driver's own tests.
//
//   qmshow.exe TITLE [noclose | nosysmenu | disabled | components]
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
// "components" shows, instead of that page, a page with id 1200 holding
//   - the tree view 1032 of kTreeItems, too short to show them all: no
//     check-box style, but a state image list of six 16x16 images drawn at
//     start-up, where the state image of an item is 0 none, 1 unchecked, 2
//     checked, 3 partly checked, 4 read-only unchecked, 5 read-only checked;
//     bold items, a subsection expanded and one collapsed, the item's value
//     (lParam) a section number with gaps, a text longer than the driver's
//     first buffer; "Program" is selected;
//   - static 1041 says where the last click on the tree hit ("click: PART
//     TEXT", PART one of state, icon, label, right, indent, button, nowhere),
//     hit-tested at the message position as a real page does; a click on the
//     state image of an item showing 1, 2 or 3 turns it to 2, 1 or 2 (read-only
//     ones stay); the space key on the tree does the same to the selected
//     item, and the tree itself never sees that key;
//   - static 1042 names the item the mouse last moved over ("hover: TEXT",
//     "hover: none" elsewhere), 1043 the newly selected item ("selected:
//     TEXT");
//   - the drop-down list 1017 of kTypes, entry 0 chosen; every selection
//     change it reports is counted in static 1021 ("selchange N: INDEX TEXT");
//   - the rich-edit control 1000 (class RICHEDIT of riched32.dll), read-only,
//     holding richText() (more than 64 KiB);
//   - button 1001 "Browse..." opens the shell's folder browser (new style,
//     file-system folders only, owned by the page, starting at C:\windows);
//     edit 1019 then shows the chosen folder, or "(cancelled)".
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
#include <ole2.h>
#include <richedit.h>
#include <shlobj.h>

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

// ------------------------------------------------------ components page --

// The tree of the components page: depth, text, state image, bold,
// expanded, value. A subsection has children; "More" starts collapsed.
struct TreeItem {
    int depth;
    const wchar_t* text;
    int image;
    bool bold;
    bool expanded;
    int value;
};
const TreeItem kTreeItems[] = {
    {0, L"Core files", 5, true, false, 0},
    {0, L"Program", 2, false, false, 1},
    {0, L"Extras", 3, true, true, 2},
    {1, L"Docs", 2, false, false, 3},
    {1, L"Samples", 1, false, false, 4},
    {1, L"More", 1, false, false, 5},
    {2, L"Deep item", 1, false, false, 6},
    {0, L"Tools", 1, false, false, 9},
    {0, L"Locked", 4, false, false, 10},
    {0, L"No image", 0, false, false, 11},
    {0, L"\u00c9t\u00e9 \u65e5\u672c", 1, false, false, 12},
    {0, nullptr, 2, false, false, 13},  // longItem()
};
const wchar_t* const kTypes[] = {L"Full", L"Minimal", L"Custom", L"\u00c9t\u00e9"};
const int kRichLines = 1500;
const size_t kLongItemLength = 700;  // more than the driver's first buffer

std::wstring longItem() {
    std::wstring text = L"long:";
    while (text.size() < kLongItemLength) text += (wchar_t)(L'a' + text.size() % 26);
    return text;
}

// More than 64 KiB of numbered lines, each with a character outside ASCII;
// the driver's tests build the same text.
std::wstring richText() {
    std::wstring text;
    for (int i = 1; i <= kRichLines; ++i) {
        wchar_t line[80];
        swprintf(line, 80, L"%05d r\u00e9sum\u00e9 of the terms, line after line after line.\r\n", i);
        text += line;
    }
    return text + L"end";
}

HWND tree = nullptr;
WNDPROC treeOwnProc = nullptr;
int selChanges = 0;

std::wstring itemText(HTREEITEM item) {
    wchar_t buf[1024] = L"";
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = buf;
    tv.cchTextMax = 1024;
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    return buf;
}

int stateImage(HTREEITEM item) {
    return (int)((SendMessageW(tree, TVM_GETITEMSTATE, (WPARAM)item, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK) >> 12);
}

void setStateImage(HTREEITEM item, int image) {
    TVITEMW tv{};
    tv.mask = TVIF_STATE | TVIF_HANDLE;
    tv.hItem = item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = INDEXTOSTATEIMAGEMASK(image);
    SendMessageW(tree, TVM_SETITEMW, 0, (LPARAM)&tv);
}

// What a user's check-box click does: read-only items and items without an
// image stay as they are.
void toggle(HTREEITEM item) {
    const int image = stateImage(item);
    if (image >= 1 && image <= 3) setStateImage(item, image == 2 ? 1 : 2);
}

// Hit-tests the position of the message being handled, as a real page does:
// the position comes from the message queue, not from the message.
TVHITTESTINFO hitAtMessagePos() {
    const DWORD pos = GetMessagePos();
    TVHITTESTINFO hit{};
    hit.pt.x = (short)LOWORD(pos);
    hit.pt.y = (short)HIWORD(pos);
    ScreenToClient(tree, &hit.pt);
    SendMessageW(tree, TVM_HITTEST, 0, (LPARAM)&hit);
    return hit;
}

const wchar_t* hitPart(UINT flags) {
    if (flags & TVHT_ONITEMSTATEICON) return L"state";
    if (flags & TVHT_ONITEMICON) return L"icon";
    if (flags & TVHT_ONITEMLABEL) return L"label";
    if (flags & TVHT_ONITEMRIGHT) return L"right";
    if (flags & TVHT_ONITEMINDENT) return L"indent";
    if (flags & TVHT_ONITEMBUTTON) return L"button";
    return L"nowhere";
}

LRESULT CALLBACK treeProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_KEYDOWN && wp == VK_SPACE) {
        HTREEITEM selected = (HTREEITEM)SendMessageW(w, TVM_GETNEXTITEM, TVGN_CARET, 0);
        if (selected) toggle(selected);
        return 0;
    }
    if (msg == WM_MOUSEMOVE) {
        TVHITTESTINFO hit = hitAtMessagePos();
        const bool onItem = hit.hItem && (hit.flags & (TVHT_ONITEM | TVHT_ONITEMRIGHT));
        SetDlgItemTextW(GetParent(w), 1042, (L"hover: " + (onItem ? itemText(hit.hItem) : L"none")).c_str());
    }
    return CallWindowProcW(treeOwnProc, w, msg, wp, lp);
}

int CALLBACK browseStart(HWND browser, UINT message, LPARAM, LPARAM) {
    if (message == BFFM_INITIALIZED) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM) "C:\\windows");
    return 0;
}

INT_PTR CALLBACK componentsProc(HWND p, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NOTIFY && ((const NMHDR*)lp)->idFrom == 1032) {
        const NMHDR* n = (const NMHDR*)lp;
        // Every notification is let through: the tree goes on as it would
        // without an owner's answer (a click selects, a selection changes).
        SetWindowLongPtrW(p, DWLP_MSGRESULT, 0);
        if (n->code == NM_CLICK) {
            TVHITTESTINFO hit = hitAtMessagePos();
            std::wstring seen = L"click: " + std::wstring(hitPart(hit.flags));
            if (hit.hItem) seen += L" " + itemText(hit.hItem);
            SetDlgItemTextW(p, 1041, seen.c_str());
            if (hit.hItem && (hit.flags & TVHT_ONITEMSTATEICON)) toggle(hit.hItem);
        } else if (n->code == TVN_SELCHANGEDW) {
            const NMTREEVIEWW* change = (const NMTREEVIEWW*)lp;
            SetDlgItemTextW(p, 1043, (L"selected: " + itemText(change->itemNew.hItem)).c_str());
        }
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wp) == 1017 && HIWORD(wp) == CBN_SELCHANGE) {
        const int index = (int)SendMessageW((HWND)lp, CB_GETCURSEL, 0, 0);
        wchar_t text[64] = L"";
        if (index >= 0 && SendMessageW((HWND)lp, CB_GETLBTEXTLEN, index, 0) < 64)
            SendMessageW((HWND)lp, CB_GETLBTEXT, index, (LPARAM)text);
        const std::wstring seen = L"selchange " + std::to_wstring(++selChanges) + L": " + std::to_wstring(index) +
                                  L" " + text;
        SetDlgItemTextW(p, 1021, seen.c_str());
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wp) == 1001 && HIWORD(wp) == BN_CLICKED) {
        // The ANSI folder browser, owned by the page, as an installer opens it.
        char name[MAX_PATH] = "";
        BROWSEINFOA info{};
        info.hwndOwner = p;
        info.pszDisplayName = name;
        info.lpszTitle = "Choose the destination folder";
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        info.lpfn = browseStart;
        LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
        char path[MAX_PATH] = "";
        if (!chosen) {
            SetDlgItemTextA(p, 1019, "(cancelled)");
        } else {
            if (!SHGetPathFromIDListA(chosen, path)) lstrcpyA(path, "(not a folder)");
            CoTaskMemFree(chosen);
            SetDlgItemTextA(p, 1019, path);
        }
        return TRUE;
    }
    return msg == WM_INITDIALOG;
}

// The six state images side by side: 0 never shown, 1 an empty box, 2 a
// ticked box, 3 a box with a grey square, 4 and 5 the grey boxes of read-only
// items.
HIMAGELIST stateImages() {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 96, 16);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    RECT all{0, 0, 96, 16};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    for (int i = 1; i <= 5; ++i) {
        const int x = i * 16;
        const bool readOnly = i >= 4;
        HBRUSH face = CreateSolidBrush(readOnly ? RGB(200, 200, 200) : RGB(255, 255, 255));
        RECT box{x + 2, 2, x + 14, 14};
        FillRect(dc, &box, face);
        DeleteObject(face);
        FrameRect(dc, &box, (HBRUSH)GetStockObject(BLACK_BRUSH));
        if (i == 2 || i == 5) {
            HPEN pen = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
            HGDIOBJ oldPen = SelectObject(dc, pen);
            MoveToEx(dc, x + 4, 8, nullptr);
            LineTo(dc, x + 7, 11);
            LineTo(dc, x + 12, 4);
            SelectObject(dc, oldPen);
            DeleteObject(pen);
        } else if (i == 3) {
            RECT mark{x + 5, 5, x + 11, 11};
            FillRect(dc, &mark, (HBRUSH)GetStockObject(GRAY_BRUSH));
        }
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32, 4, 4);
    if (list) ImageList_Add(list, bmp, nullptr);
    DeleteObject(bmp);
    return list;
}

HWND makeComponentsPage(HWND parent) {
    struct {
        DLGTEMPLATE t;
        WORD menu, cls, title;
    } tmpl{};
    tmpl.t.style = WS_CHILD | WS_VISIBLE | DS_CONTROL;
    HWND p = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &tmpl.t, parent, componentsProc, 0);
    if (!p) return nullptr;
    SetWindowLongPtrW(p, GWLP_ID, 1200);
    MoveWindow(p, 0, 0, 640, 430, FALSE);

    tree = child(p, WC_TREEVIEWW, L"",
                 WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASLINES | TVS_LINESATROOT | TVS_HASBUTTONS |
                     TVS_SHOWSELALWAYS,
                 10, 10, 300, 130, 1032);
    HIMAGELIST images = stateImages();
    if (!tree || !images) return nullptr;
    SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_STATE, (LPARAM)images);
    HTREEITEM parents[4] = {TVI_ROOT, nullptr, nullptr, nullptr};
    HTREEITEM made[sizeof kTreeItems / sizeof kTreeItems[0]] = {};
    HTREEITEM program = nullptr;
    for (size_t i = 0; i < sizeof kTreeItems / sizeof kTreeItems[0]; ++i) {
        const TreeItem& t = kTreeItems[i];
        const bool hasChildren = i + 1 < sizeof kTreeItems / sizeof kTreeItems[0] && kTreeItems[i + 1].depth > t.depth;
        TVINSERTSTRUCTW ins{};
        ins.hParent = parents[t.depth];
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM | TVIF_CHILDREN;
        const std::wstring text = t.text ? t.text : longItem();
        ins.item.pszText = const_cast<wchar_t*>(text.c_str());
        ins.item.stateMask = TVIS_STATEIMAGEMASK | TVIS_BOLD;
        ins.item.state = INDEXTOSTATEIMAGEMASK(t.image) | (t.bold ? TVIS_BOLD : 0);
        ins.item.cChildren = hasChildren ? 1 : 0;
        ins.item.lParam = t.value;
        made[i] = (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&ins);
        if (!made[i]) return nullptr;
        parents[t.depth + 1] = made[i];
        if (text == L"Program") program = made[i];
    }
    for (size_t i = 0; i < sizeof kTreeItems / sizeof kTreeItems[0]; ++i)
        if (kTreeItems[i].expanded) SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)made[i]);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)program);
    treeOwnProc = (WNDPROC)SetWindowLongPtrW(tree, GWLP_WNDPROC, (LONG_PTR)treeProc);

    child(p, L"Static", L"", WS_VISIBLE, 10, 250, 300, 18, 1041);
    child(p, L"Static", L"hover: none", WS_VISIBLE, 10, 270, 300, 18, 1042);
    child(p, L"Static", L"", WS_VISIBLE, 10, 290, 300, 18, 1043);

    HWND combo = child(p, WC_COMBOBOXW, L"", WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST,
                       320, 10, 300, 150, 1017);
    for (const wchar_t* t : kTypes) SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)t);
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    child(p, L"Static", L"", WS_VISIBLE, 320, 40, 300, 18, 1021);

    if (!LoadLibraryW(L"riched32.dll")) return nullptr;
    HWND rich = child(p, L"RICHEDIT", L"", WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                      320, 70, 300, 170, 1000);
    if (!rich) return nullptr;
    SendMessageW(rich, EM_EXLIMITTEXT, 0, 1 << 20);
    SetWindowTextW(rich, richText().c_str());

    child(p, L"Button", L"Browse...", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 320, 250, 100, 26, 1001);
    child(p, L"Edit", L"", WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 320, 285, 300, 22, 1019);
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

    const bool components = mode == L"components";
    // The new-style folder browser wants OLE in its thread.
    if (components && FAILED(OleInitialize(nullptr))) return 1;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
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
                             40, 40, components ? 660 : 500, components ? 580 : 400, nullptr, nullptr, inst,
                             nullptr);
    if (!w) return 1;
    page = components ? makeComponentsPage(w) : makePage(w);
    if (!page) return 1;
    const int dy = components ? 180 : 0;  // the buttons below the larger page
    child(w, L"Button", L"&Next", WS_VISIBLE | BS_PUSHBUTTON, 380, 300 + dy, 90, 26, 1);
    HWND cancel = child(w, L"Button", L"Cancel", WS_VISIBLE | BS_PUSHBUTTON, 280, 300 + dy, 90, 26, 2);
    EnableWindow(cancel, FALSE);
    child(w, L"Button", L"< &Back", BS_PUSHBUTTON, 180, 300 + dy, 90, 26, 3);
    child(w, L"Static", L"Working", WS_VISIBLE, 10, 270 + dy, 150, 20, 10);
    child(w, L"Static", L"Shown later", 0, 10, 300 + dy, 150, 20, 11);
    child(w, L"Static", L"Hidden later", WS_VISIBLE, 10, 330 + dy, 150, 20, 12);
    HWND later = child(w, L"Button", L"Later", WS_VISIBLE | BS_PUSHBUTTON, 180, 330 + dy, 90, 26, 13);
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
