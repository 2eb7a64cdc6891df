// qmdrive - user-interface driver for Quillmar end-to-end tests.
//
// Runs beside the installer under test (under Wine or on Windows) and acts as
// a user would: it finds the installer's windows by title and class, reads
// what they show, types into fields, ticks boxes and presses buttons.  It
// only uses ordinary Win32 calls on another process's windows; the installer
// has no test hook.
//
//   qmdrive.exe CMD [args] [: CMD [args]]...
//
// Commands run in order; the first failing one stops the sequence (exit 1).
// Exit 0 when all succeed, 2 for usage errors (checked before anything runs).
// Output is UTF-8, one record per line; errors go to stderr as "error: ...".
// Run "qmdrive.exe --help" for the command list.
//
// Build (x86_64 mingw-w64):
//   x86_64-w64-mingw32-g++-posix -O2 -Wall -Wextra -municode -static
//       -o qmdrive.exe qmdrive.cpp -luser32 -lgdi32

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
#include <shlobj.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Every message sent to another process's window is bounded by this, so a
// hung installer makes a command fail instead of freezing the test run.
const UINT kSendTimeoutMs = 5000;
// Handlers of notifications we send may do real work (validate a path...).
const UINT kNotifyTimeoutMs = 5000;
const DWORD kPollMs = 50;
const DWORD kDefaultWaitMs = 10000;
// Upper bound for a control's text; protects against absurd lengths.
const size_t kMaxText = 1u << 20;

// ---------------------------------------------------------------- output --

std::string toUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr,
                        nullptr);
    return s;
}

// Writes one line.  A console gets UTF-16 through WriteConsoleW (so the
// console code page does not matter); a pipe or file gets UTF-8 bytes.
// WriteFile is unbuffered, so every line is out as soon as it is written.
// (FlushFileBuffers is avoided on purpose: on a pipe it blocks until the
// reader has read everything.)
void writeLine(DWORD which, const std::wstring& line) {
    HANDLE h = GetStdHandle(which);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return;
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        std::wstring w = line + L"\n";
        DWORD done = 0;
        WriteConsoleW(h, w.data(), (DWORD)w.size(), &done, nullptr);
        return;
    }
    std::string s = toUtf8(line);
    s += '\n';
    const char* p = s.data();
    size_t left = s.size();
    while (left > 0) {
        DWORD done = 0;
        if (!WriteFile(h, p, (DWORD)left, &done, nullptr) || done == 0) return;
        p += done;
        left -= done;
    }
}

void out(const std::wstring& line) { writeLine(STD_OUTPUT_HANDLE, line); }
void err(const std::wstring& msg) { writeLine(STD_ERROR_HANDLE, L"error: " + msg); }

// Keeps any text on one line: \\, \r, \n, \t and \xNN for other controls.
std::wstring esc(const std::wstring& s) {
    std::wstring r;
    r.reserve(s.size());
    for (wchar_t c : s) {
        switch (c) {
        case L'\\': r += L"\\\\"; break;
        case L'\r': r += L"\\r"; break;
        case L'\n': r += L"\\n"; break;
        case L'\t': r += L"\\t"; break;
        default:
            if (c < 0x20) {
                wchar_t buf[8];
                swprintf(buf, 8, L"\\x%02X", (unsigned)c);
                r += buf;
            } else {
                r += c;
            }
        }
    }
    return r;
}

std::wstring quoted(const std::wstring& s) { return L"\"" + esc(s) + L"\""; }

std::wstring hexHwnd(HWND h) {
    wchar_t buf[32];
    swprintf(buf, 32, L"0x%llx", (unsigned long long)(uintptr_t)h);
    return buf;
}

// -------------------------------------------------------- window queries --

bool sendTimeout(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result,
                 UINT timeout = kSendTimeoutMs) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                             timeout, &r))
        return false;
    if (result) *result = r;
    return true;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), (int)a.size(), b.data(), (int)b.size(),
                                TRUE) == CSTR_EQUAL;
}

std::wstring className(HWND h) {
    wchar_t buf[260];
    int n = GetClassNameW(h, buf, 260);
    return n > 0 ? std::wstring(buf, (size_t)n) : std::wstring();
}

// Title of a top-level window.  For another process's window GetWindowTextW
// reads the stored title without sending a message, so it cannot hang.
// GetWindowTextLength is not used because it may send WM_GETTEXTLENGTH.
std::wstring windowTitle(HWND h) {
    for (size_t cap = 256; cap <= kMaxText; cap *= 4) {
        std::vector<wchar_t> buf(cap, 0);
        int n = GetWindowTextW(h, buf.data(), (int)cap);
        if (n < 0) n = 0;
        if ((size_t)n < cap - 1) return std::wstring(buf.data(), (size_t)n);
    }
    return std::wstring();
}

// Text of a control in another process: GetWindowText cannot read those, so
// ask the control itself with WM_GETTEXT (bounded by a timeout).
bool controlText(HWND h, std::wstring& text) {
    DWORD_PTR len = 0;
    if (!sendTimeout(h, WM_GETTEXTLENGTH, 0, 0, &len)) return false;
    size_t cap = (len < kMaxText ? (size_t)len : kMaxText) + 64;
    for (;;) {
        std::vector<wchar_t> buf(cap + 1, 0);
        DWORD_PTR got = 0;
        if (!sendTimeout(h, WM_GETTEXT, (WPARAM)buf.size(), (LPARAM)buf.data(), &got))
            return false;
        if (got > cap) got = cap;
        // A full buffer means the text grew since WM_GETTEXTLENGTH; retry.
        if (got < cap || cap >= kMaxText) {
            text.assign(buf.data(), (size_t)got);
            return true;
        }
        cap *= 2;
    }
}

int controlId(HWND h) { return GetDlgCtrlID(h); }

BOOL CALLBACK collectChild(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

// All descendants, in EnumChildWindows order.
std::vector<HWND> children(HWND parent) {
    std::vector<HWND> v;
    EnumChildWindows(parent, collectChild, (LPARAM)&v);
    return v;
}

HWND childById(HWND parent, int id) {
    for (HWND h : children(parent))
        if (controlId(h) == id) return h;
    return nullptr;
}

bool isClass(HWND h, const wchar_t* cls) { return equalsNoCase(className(h), cls); }

LONG style(HWND h) { return GetWindowLongW(h, GWL_STYLE); }

bool isCheckable(HWND button) {
    switch (style(button) & BS_TYPEMASK) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_3STATE: case BS_AUTO3STATE:
    case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

std::wstring stripMnemonics(const std::wstring& s) {
    std::wstring r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&') {
            if (i + 1 < s.size()) r += s[++i];  // "&&" shows as "&"
            continue;
        }
        r += s[i];
    }
    return r;
}

std::wstring windowLine(HWND h, bool withState) {
    std::wstring line = L"window: hwnd=" + hexHwnd(h) + L" class=" + esc(className(h));
    // State fields come before the title so the title stays the last field.
    if (withState)
        line += std::wstring(L" visible=") + (IsWindowVisible(h) ? L"1" : L"0") +
                L" enabled=" + (IsWindowEnabled(h) ? L"1" : L"0");
    return line + L" title=" + esc(windowTitle(h));
}

// ------------------------------------------------------ command parsing --

enum class Op { Wait, Absent, Dump, MsgBox, Text, Title, Press, Type, Check,
                Uncheck, Close, Gone, Sleep, Screenshot, Items, Progress, State,
                CloseBox, Visible, Hidden, Enabled, WaitText, WaitTitle, Click, Selection, Key,
                Tree, TreeClick, TreeSelect, TreeHover, Combo, Choose, RichText, BrowseChoose,
                BrowseCancel };

struct Step {
    Op op;
    std::wstring name;
    std::wstring title;       // wait/absent
    bool prefix = false;
    bool hasTitle = false;
    std::wstring cls;
    bool hasCls = false;
    std::wstring exe;  // file name of the process that owns the window
    bool hasExe = false;
    DWORD ms = kDefaultWaitMs;  // timeout of the waits, absent --for, sleep
    bool hasMs = false;
    int id = 0;
    bool hasId = false;
    std::wstring arg;         // press/type/waittext/waittitle TEXT, screenshot PATH
    int x = 0, y = 0;         // click; x is key's virtual-key code
    bool onLabel = false;     // treeclick --part label
    int index = -1;           // choose --index K
};

const wchar_t kUsage[] =
    L"usage: qmdrive.exe CMD [args] [: CMD [args]]...\n"
    L"  wait (--title T | --title-prefix T) [--class C] [--exe NAME] [--timeout MS]\n"
    L"  absent (--title T | --title-prefix T) [--class C] [--exe NAME] --for MS\n"
    L"  dump | msgbox | title\n"
    L"  close      posts WM_CLOSE to the window, as another program asking it to\n"
    L"             close would; works whatever state its close box is in\n"
    L"  closebox   presses the close box as a user does (posts WM_SYSCOMMAND\n"
    L"             SC_CLOSE); fails when the window is disabled or has no close\n"
    L"             box, or when the system says the box is greyed out (Windows\n"
    L"             does, Wine does not: there the program's own handling of\n"
    L"             WM_CLOSE decides)\n"
    L"  text --id N | state --id N\n"
    L"  items --id N      the items of a list view: count, item (column 0) per\n"
    L"                    item in order, selected (-1: none), top\n"
    L"  progress --id N   a progress bar's position, range LOW HIGH and visible\n"
    L"  visible --id N | hidden --id N | enabled --id N [--timeout MS]\n"
    L"                    wait until the control is shown / exists and is hidden\n"
    L"                    / is enabled\n"
    L"  waittext --id N [--timeout MS] TEXT   wait until the control shows TEXT\n"
    L"  waittitle [--timeout MS] TEXT         wait until the window's title is TEXT\n"
    L"  press TEXT | press --id N\n"
    L"  type --id N TEXT\n"
    L"  check --id N | uncheck --id N\n"
    L"  click --id N X Y  posts a left-button press and release at client\n"
    L"                    coordinates X Y of the control\n"
    L"  selection --id N  an edit control's selection: START END (EM_GETSEL)\n"
    L"  key --id N VK     posts a key press and release (virtual-key code VK)\n"
    L"                    to the control, through its program's message loop;\n"
    L"                    on a tree view it returns once the tree has handled it\n"
    L"  tree --id N       a tree view's items in display order (depth first,\n"
    L"                    collapsed ones too): count, then per item depth,\n"
    L"                    state image index (0 none), bold, children (the item\n"
    L"                    says it has some), expanded, selected, lparam, text\n"
    L"  treeclick --id N [--part check|label] TEXT\n"
    L"                    a user's left click on the state (check) image, or\n"
    L"                    the label, of the first item showing TEXT: the cursor\n"
    L"                    goes there, then a mouse move, press and release are\n"
    L"                    posted at that point; returns once the tree has\n"
    L"                    handled them. Fails unless the tree's own hit-test\n"
    L"                    finds that part of that item there\n"
    L"  treehover --id N TEXT   the mouse moves onto the item's label (cursor\n"
    L"                    and a posted mouse move), as treeclick\n"
    L"  treeselect --id N TEXT  selects the item (TVM_SELECTITEM TVGN_CARET):\n"
    L"                    the tree tells its owner, as after a user's click\n"
    L"  combo --id N      a combo box's entries: count, entry per entry in order,\n"
    L"                    selected (-1: none)\n"
    L"  choose --id N (TEXT | --index K)   selects the first entry showing TEXT,\n"
    L"                    or entry K, and sends CBN_SELCHANGE to the owner as the\n"
    L"                    drop-down list does when a user picks an entry\n"
    L"  richtext --id N   a rich-edit control's whole text: length, text\n"
    L"  browse-choose [--timeout MS] PATH | browse-cancel [--timeout MS]\n"
    L"                    waits for the folder browser that the window opened,\n"
    L"                    prints what it shows, then chooses PATH in it and\n"
    L"                    presses OK, or presses Cancel; returns once it closed\n"
    L"  gone [--timeout MS]\n"
    L"  sleep MS\n"
    L"  screenshot PATH.bmp\n"
    L"A lone ':' separates commands; '--' ends options of a command.\n"
    L"Numbers are decimal or 0x-prefixed hex; ids may be negative.";

bool parseNumber(const std::wstring& s, long long lo, long long hi, long long& v) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && s[i] == L'-') { neg = true; ++i; }
    int base = 10;
    if (i + 1 < s.size() && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    long long n = 0;
    for (; i < s.size(); ++i) {
        int d;
        wchar_t c = s[i];
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F') d = c - L'A' + 10;
        else return false;
        n = n * base + d;
        if (n > (1LL << 40)) return false;
    }
    if (neg) n = -n;
    if (n < lo || n > hi) return false;
    v = n;
    return true;
}

bool parseMs(const std::wstring& s, DWORD& ms) {
    long long v;
    if (!parseNumber(s, 0, 0x7fffffff, v)) return false;
    ms = (DWORD)v;
    return true;
}

bool parseId(const std::wstring& s, int& id) {
    long long v;
    if (!parseNumber(s, -0x80000000LL, 0xffffffffLL, v)) return false;
    id = (int)(uint32_t)(v & 0xffffffff);  // 0xffffffff and -1 are the same id
    return true;
}

bool needsWindow(Op op) {
    return op != Op::Wait && op != Op::Absent && op != Op::Sleep;
}

// Parses one command; returns an empty string or the usage error.
std::wstring parseStep(const std::vector<std::wstring>& a, Step& s) {
    static const struct { const wchar_t* name; Op op; } ops[] = {
        {L"wait", Op::Wait}, {L"absent", Op::Absent}, {L"dump", Op::Dump},
        {L"msgbox", Op::MsgBox}, {L"text", Op::Text}, {L"title", Op::Title},
        {L"press", Op::Press}, {L"type", Op::Type}, {L"check", Op::Check},
        {L"uncheck", Op::Uncheck}, {L"close", Op::Close}, {L"gone", Op::Gone},
        {L"sleep", Op::Sleep}, {L"screenshot", Op::Screenshot},
        {L"items", Op::Items}, {L"progress", Op::Progress}, {L"state", Op::State},
        {L"closebox", Op::CloseBox}, {L"visible", Op::Visible}, {L"hidden", Op::Hidden},
        {L"enabled", Op::Enabled}, {L"waittext", Op::WaitText}, {L"waittitle", Op::WaitTitle},
        {L"click", Op::Click}, {L"selection", Op::Selection}, {L"key", Op::Key},
        {L"tree", Op::Tree}, {L"treeclick", Op::TreeClick}, {L"treeselect", Op::TreeSelect},
        {L"treehover", Op::TreeHover}, {L"combo", Op::Combo}, {L"choose", Op::Choose},
        {L"richtext", Op::RichText}, {L"browse-choose", Op::BrowseChoose},
        {L"browse-cancel", Op::BrowseCancel},
    };
    s.name = a[0];
    bool known = false;
    for (const auto& o : ops)
        if (a[0] == o.name) { s.op = o.op; known = true; }
    if (!known) return L"unknown command " + quoted(a[0]);

    const bool matchOpts = s.op == Op::Wait || s.op == Op::Absent;
    const bool controlWait = s.op == Op::Visible || s.op == Op::Hidden ||
                             s.op == Op::Enabled || s.op == Op::WaitText;
    const bool idOpt = s.op == Op::Text || s.op == Op::Press || s.op == Op::Type ||
                       s.op == Op::Check || s.op == Op::Uncheck || s.op == Op::Items ||
                       s.op == Op::Progress || s.op == Op::State || s.op == Op::Click || s.op == Op::Key ||
                       s.op == Op::Selection || controlWait || s.op == Op::Tree || s.op == Op::TreeClick ||
                       s.op == Op::TreeSelect || s.op == Op::TreeHover || s.op == Op::Combo ||
                       s.op == Op::Choose || s.op == Op::RichText;
    const bool timeoutOpt = s.op == Op::Wait || s.op == Op::Gone || controlWait ||
                            s.op == Op::WaitTitle || s.op == Op::BrowseChoose || s.op == Op::BrowseCancel;
    bool hasPart = false, hasIndex = false;
    std::vector<std::wstring> pos;
    bool optsDone = false;
    for (size_t i = 1; i < a.size(); ++i) {
        const std::wstring& o = a[i];
        if (optsDone || o.size() < 2 || o.compare(0, 2, L"--") != 0) {
            pos.push_back(o);
            continue;
        }
        if (o == L"--") { optsDone = true; continue; }
        bool isMatch = matchOpts && (o == L"--title" || o == L"--title-prefix" || o == L"--class" || o == L"--exe");
        bool isMs = (timeoutOpt && o == L"--timeout") || (s.op == Op::Absent && o == L"--for");
        bool isId = idOpt && o == L"--id";
        bool isPart = s.op == Op::TreeClick && o == L"--part";
        bool isIndex = s.op == Op::Choose && o == L"--index";
        if (!isMatch && !isMs && !isId && !isPart && !isIndex)
            return s.name + L": unknown option " + quoted(o);
        if (i + 1 >= a.size()) return s.name + L": " + o + L" needs a value";
        const std::wstring& v = a[++i];
        if (isPart) {
            if (hasPart) return s.name + L": --part given twice";
            if (v != L"check" && v != L"label") return s.name + L": --part is check or label, not " + quoted(v);
            s.onLabel = v == L"label";
            hasPart = true;
            continue;
        }
        if (isIndex) {
            long long k;
            if (hasIndex) return s.name + L": --index given twice";
            if (!parseNumber(v, 0, 0x7fffffff, k)) return s.name + L": bad index " + quoted(v);
            s.index = (int)k;
            hasIndex = true;
            continue;
        }
        if (o == L"--class") {
            if (s.hasCls) return s.name + L": --class given twice";
            s.cls = v;
            s.hasCls = true;
        } else if (o == L"--exe") {
            if (s.hasExe) return s.name + L": --exe given twice";
            s.exe = v;
            s.hasExe = true;
        } else if (isMatch) {
            if (s.hasTitle) return s.name + L": give one of --title / --title-prefix, once";
            s.title = v;
            s.prefix = o == L"--title-prefix";
            s.hasTitle = true;
        } else if (isMs) {
            if (s.hasMs) return s.name + L": " + o + L" given twice";
            if (!parseMs(v, s.ms)) return s.name + L": bad milliseconds " + quoted(v);
            s.hasMs = true;
        } else {
            if (s.hasId) return s.name + L": --id given twice";
            if (!parseId(v, s.id)) return s.name + L": bad control id " + quoted(v);
            s.hasId = true;
        }
    }

    auto positional = [&](size_t n) { return pos.size() == n; };
    switch (s.op) {
    case Op::Wait:
    case Op::Absent:
        if (!s.hasTitle) return s.name + L": --title or --title-prefix is required";
        if (s.op == Op::Absent && !s.hasMs) return s.name + L": --for MS is required";
        if (!positional(0)) return s.name + L": unexpected argument " + quoted(pos[0]);
        break;
    case Op::Text: case Op::Check: case Op::Uncheck: case Op::Items: case Op::Progress:
    case Op::State: case Op::Visible: case Op::Hidden: case Op::Enabled: case Op::Selection:
    case Op::Tree: case Op::Combo: case Op::RichText:
        if (!s.hasId) return s.name + L": --id N is required";
        if (!positional(0)) return s.name + L": unexpected argument " + quoted(pos[0]);
        break;
    case Op::Press:
        if (s.hasId == !positional(0) || pos.size() > 1)
            return s.name + L": give either a button TEXT or --id N";
        if (!s.hasId) s.arg = pos[0];
        break;
    case Op::Click: {
        long long x, y;
        if (!s.hasId || !positional(2) || !parseNumber(pos[0], 0, 0x7fff, x) || !parseNumber(pos[1], 0, 0x7fff, y))
            return s.name + L": usage is click --id N X Y";
        s.x = (int)x;
        s.y = (int)y;
        break;
    }
    case Op::Key: {
        long long vk;
        if (!s.hasId || !positional(1) || !parseNumber(pos[0], 1, 0xfe, vk))
            return s.name + L": usage is key --id N VK";
        s.x = (int)vk;
        break;
    }
    case Op::Type:
        if (!s.hasId || !positional(1)) return s.name + L": usage is type --id N TEXT";
        s.arg = pos[0];
        break;
    case Op::WaitText:
        if (!s.hasId || !positional(1)) return s.name + L": usage is waittext --id N TEXT";
        s.arg = pos[0];
        break;
    case Op::WaitTitle:
        if (!positional(1)) return s.name + L": usage is waittitle TEXT";
        s.arg = pos[0];
        break;
    case Op::TreeClick: case Op::TreeSelect: case Op::TreeHover:
        if (!s.hasId || !positional(1))
            return s.name + L": usage is " + s.name + (s.op == Op::TreeClick ? L" --id N [--part check|label] TEXT"
                                                                              : L" --id N TEXT");
        s.arg = pos[0];
        break;
    case Op::Choose:
        if (!s.hasId || hasIndex == !positional(0) || pos.size() > 1)
            return s.name + L": usage is choose --id N (TEXT | --index K)";
        if (!hasIndex) s.arg = pos[0];
        break;
    case Op::BrowseChoose:
        if (!positional(1) || pos[0].empty()) return s.name + L": usage is browse-choose [--timeout MS] PATH";
        s.arg = pos[0];
        break;
    case Op::Sleep:
        if (!positional(1) || !parseMs(pos[0], s.ms)) return s.name + L": usage is sleep MS";
        break;
    case Op::Screenshot:
        if (!positional(1) || pos[0].empty()) return s.name + L": usage is screenshot PATH";
        s.arg = pos[0];
        break;
    default:  // dump, msgbox, title, close, closebox, gone, browse-cancel
        if (!positional(0)) return s.name + L": unexpected argument " + quoted(pos[0]);
    }
    return std::wstring();
}

// ---------------------------------------------------------- the commands --

struct Finder {
    const Step* step;
    HWND found;
};

// File name (without directory) of the program that owns a window, so that
// tests running side by side each find only their own installer's windows.
std::wstring ownerExe(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return std::wstring();
    wchar_t path[1024];
    DWORD size = 1024;
    std::wstring name;
    if (QueryFullProcessImageNameW(process, 0, path, &size)) {
        name.assign(path, size);
        size_t slash = name.find_last_of(L"\\/");
        if (slash != std::wstring::npos) name.erase(0, slash + 1);
    }
    CloseHandle(process);
    return name;
}

bool matches(const Step& s, HWND h) {
    if (!IsWindowVisible(h)) return false;
    std::wstring t = windowTitle(h);
    bool ok = s.prefix ? t.size() >= s.title.size() && t.compare(0, s.title.size(), s.title) == 0
                       : t == s.title;
    // Window class names (and file names) are case-insensitive in Win32.
    return ok && (!s.hasCls || equalsNoCase(className(h), s.cls)) && (!s.hasExe || equalsNoCase(ownerExe(h), s.exe));
}

BOOL CALLBACK findTop(HWND h, LPARAM lp) {
    Finder* f = reinterpret_cast<Finder*>(lp);
    if (!matches(*f->step, h)) return TRUE;
    f->found = h;
    return FALSE;
}

HWND findWindow(const Step& s) {
    Finder f{&s, nullptr};
    EnumWindows(findTop, (LPARAM)&f);
    return f.found;
}

std::wstring describeMatch(const Step& s) {
    std::wstring d = (s.prefix ? L"title starting with " : L"title ") + quoted(s.title);
    if (s.hasCls) d += L" and class " + quoted(s.cls);
    if (s.hasExe) d += L" of " + quoted(s.exe);
    return d;
}

// Polls cond() every kPollMs until it is true or ms have passed; always
// checks at least once and once more at the deadline.
template <class F>
bool pollUntil(DWORD ms, F cond) {
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (cond()) return true;
        ULONGLONG spent = GetTickCount64() - start;
        if (spent >= ms) return false;
        ULONGLONG left = ms - spent;
        Sleep((DWORD)(left < kPollMs ? left : kPollMs));
    }
}

// ------------------------------------------------ another process's list view --

// Little-endian fields of a structure copied from or for another process,
// whose pointers and sizes may be narrower than ours.
void put(std::vector<BYTE>& b, size_t at, uint64_t v, size_t size) {
    for (size_t i = 0; i < size; ++i) b[at + i] = (BYTE)(v >> (8 * i));
}
uint64_t get(const std::vector<BYTE>& b, size_t at, size_t size) {
    uint64_t v = 0;
    for (size_t i = 0; i < size; ++i) v |= (uint64_t)b[at + i] << (8 * i);
    return v;
}

// LVM_GETITEMTEXTW takes an LVITEMW that the list view reads and fills in its
// own process, so the structure and the text buffer are placed in that
// process's memory, laid out as a program of ITS bitness lays them out. Only
// the fields up to cchTextMax matter to the list view; the rest stays zero.
struct ItemLayout {
    size_t textOffset;   // pszText
    size_t maxOffset;    // cchTextMax
    size_t size;         // the structure, rounded up, zeros included
    size_t pointerSize;
};
constexpr ItemLayout kItem32{20, 24, 64, 4};
constexpr ItemLayout kItem64{24, 32, 96, 8};
// The layouts agree with the headers for our own bitness.
static_assert(offsetof(LVITEMW, pszText) == (sizeof(void*) == 8 ? kItem64 : kItem32).textOffset, "LVITEMW");
static_assert(offsetof(LVITEMW, cchTextMax) == (sizeof(void*) == 8 ? kItem64 : kItem32).maxOffset, "LVITEMW");
static_assert(sizeof(LVITEMW) <= (sizeof(void*) == 8 ? kItem64 : kItem32).size, "LVITEMW");

// Opens the process of a window for reading and writing its memory, and
// tells whether it is a 32-bit one. A 32-bit driver cannot reach into a
// 64-bit process; `what` names the window in the error.
bool openTargetProcess(HWND window, const std::wstring& command, const std::wstring& what, HANDLE& process,
                       bool& target32) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                              PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) {
        err(command + L": cannot open the " + what + L"'s process (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    // A 32-bit process on 64-bit Windows runs under WOW64; where we run
    // under WOW64 ourselves, Windows is 64-bit and a process that does
    // not is a 64-bit one.
    BOOL targetWow = FALSE, selfWow = FALSE;
    if (!IsWow64Process(process, &targetWow) || !IsWow64Process(GetCurrentProcess(), &selfWow)) {
        err(command + L": cannot tell the bitness of the " + what + L"'s process (error " +
            std::to_wstring(GetLastError()) + L")");
        return false;
    }
    const bool self64 = sizeof(void*) == 8;
    target32 = self64 ? targetWow != FALSE : (targetWow || !selfWow);
    if (!self64 && !target32) {
        err(command + L": the " + what + L" belongs to a 64-bit process, which this 32-bit driver cannot read: "
                      L"use the x86_64 driver");
        return false;
    }
    return true;
}

class ListViewReader {
public:
    ListViewReader(const std::wstring& command, HWND list) : command_(command), list_(list) {}
    ~ListViewReader() {
        if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    ListViewReader(const ListViewReader&) = delete;
    ListViewReader& operator=(const ListViewReader&) = delete;

    bool open() {
        if (!openTargetProcess(list_, command_, L"list view", process_, target32_)) return false;
        layout_ = target32_ ? kItem32 : kItem64;
        return reserve(1024);
    }

    bool count(int& n) {
        DWORD_PTR r = 0;
        if (!sendTimeout(list_, LVM_GETITEMCOUNT, 0, 0, &r)) return fail(L"the list view did not answer LVM_GETITEMCOUNT in time");
        n = (int)(INT_PTR)r;
        if (n < 0) return fail(L"the list view gave a negative item count");
        return true;
    }

    // Column 0 of item `index`.
    bool text(int index, std::wstring& t) {
        for (;;) {
            const uint64_t buffer = (uint64_t)(uintptr_t)memory_ + layout_.size;
            // The structure and, right after it, the buffer's first character
            // (zero, so that an item that vanished reads as empty).
            std::vector<BYTE> block(layout_.size + sizeof(wchar_t), 0);
            put(block, 0, LVIF_TEXT, 4);             // mask
            put(block, 4, (uint32_t)index, 4);        // iItem
            put(block, layout_.textOffset, buffer, layout_.pointerSize);
            put(block, layout_.maxOffset, (uint32_t)capacity_, 4);
            if (!WriteProcessMemory(process_, memory_, block.data(), block.size(), nullptr))
                return fail(L"cannot write into the list view's process (error " + std::to_wstring(GetLastError()) + L")");
            DWORD_PTR length = 0;
            if (!sendTimeout(list_, LVM_GETITEMTEXTW, (WPARAM)index, (LPARAM)memory_, &length))
                return fail(L"the list view did not answer LVM_GETITEMTEXTW in time");
            // A text that fills the buffer may have been cut: read it again
            // with a larger one.
            if (length + 1 >= capacity_ && capacity_ < kMaxText) {
                if (!reserve(capacity_ * 4)) return false;
                continue;
            }
            // The list view may answer with a pointer of its own (a text the
            // program supplies on request) instead of filling our buffer.
            if (!ReadProcessMemory(process_, memory_, block.data(), layout_.size, nullptr))
                return fail(L"cannot read the list view's process (error " + std::to_wstring(GetLastError()) + L")");
            uint64_t where = get(block, layout_.textOffset, layout_.pointerSize);
            size_t n = where == buffer ? std::min((size_t)length, capacity_ - 1) : std::min((size_t)length, kMaxText);
            std::vector<wchar_t> chars(n + 1, 0);
            if (n > 0 && (where == 0 || !ReadProcessMemory(process_, (LPCVOID)(uintptr_t)where, chars.data(),
                                                          n * sizeof(wchar_t), nullptr)))
                return fail(L"cannot read the text of item " + std::to_wstring(index));
            t.assign(chars.data(), n);
            return true;
        }
    }

private:
    bool fail(const std::wstring& why) {
        err(command_ + L": " + why);
        return false;
    }

    // Room for the structure and `chars` characters in the other process.
    bool reserve(size_t chars) {
        if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        capacity_ = std::min(chars, kMaxText);
        const size_t bytes = layout_.size + capacity_ * sizeof(wchar_t);
        memory_ = VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!memory_) return fail(L"cannot allocate memory in the list view's process (error " + std::to_wstring(GetLastError()) + L")");
        // A 32-bit process sees only the low 4 GiB; its pointers must fit.
        if (target32_ && (uint64_t)(uintptr_t)memory_ + bytes > 0x100000000ull)
            return fail(L"the memory given in the list view's 32-bit process lies beyond its reach");
        return true;
    }

    std::wstring command_;
    HWND list_;
    HANDLE process_ = nullptr;
    void* memory_ = nullptr;
    size_t capacity_ = 0;  // characters
    ItemLayout layout_ = kItem64;
    bool target32_ = false;
};

// ----------------------------------------------- another process's memory --

// A block of memory in a control's process, for the messages whose
// parameter points to a structure that the control reads or fills in its own
// process (the system copies no such structure between processes, neither
// Windows nor Wine). Freed when the object goes.
class RemoteBlock {
public:
    RemoteBlock(const std::wstring& command, HWND window, const std::wstring& what)
        : command_(command), window_(window), what_(what) {}
    ~RemoteBlock() {
        release();
        if (process_) CloseHandle(process_);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool open() { return openTargetProcess(window_, command_, what_, process_, target32_); }
    bool target32() const { return target32_; }
    size_t pointerSize() const { return target32_ ? 4 : 8; }
    size_t size() const { return size_; }

    // At least `bytes` of zeroed memory (the old content is lost).
    bool reserve(size_t bytes) {
        if (memory_ && bytes <= size_) return fill(0, size_);
        release();
        memory_ = VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!memory_)
            return fail(L"cannot allocate memory in the " + what_ + L"'s process (error " +
                        std::to_wstring(GetLastError()) + L")");
        size_ = bytes;
        // A 32-bit process sees only the low 4 GiB; its pointers must fit.
        if (target32_ && address(bytes) > 0x100000000ull)
            return fail(L"the memory given in the " + what_ + L"'s 32-bit process lies beyond its reach");
        return true;
    }
    // The address, in the other process, of byte `at` of the block.
    uint64_t address(size_t at) const { return (uint64_t)(uintptr_t)memory_ + at; }
    LPARAM param(size_t at = 0) const { return (LPARAM)(uintptr_t)address(at); }

    bool write(size_t at, const void* data, size_t n) {
        if (at + n > size_ || !WriteProcessMemory(process_, (BYTE*)memory_ + at, data, n, nullptr))
            return fail(L"cannot write into the " + what_ + L"'s process (error " + std::to_wstring(GetLastError()) +
                        L")");
        return true;
    }
    bool read(size_t at, void* data, size_t n) {
        if (at + n > size_ || !ReadProcessMemory(process_, (const BYTE*)memory_ + at, data, n, nullptr))
            return fail(L"cannot read the " + what_ + L"'s process (error " + std::to_wstring(GetLastError()) + L")");
        return true;
    }
    // A zero-terminated text anywhere in the process, at most `most`
    // characters; read a page at a time, so that a text that ends just
    // before unreadable memory is still read.
    bool readText(uint64_t where, size_t most, std::wstring& text) {
        text.clear();
        while (text.size() < most) {
            const uint64_t pageLeft = 4096 - (where & 4095);
            size_t n = std::min((size_t)(pageLeft / sizeof(wchar_t)), most - text.size());
            if (n == 0) n = 1;  // a character across a page boundary
            std::vector<wchar_t> chars(n, 0);
            if (!ReadProcessMemory(process_, (LPCVOID)(uintptr_t)where, chars.data(), n * sizeof(wchar_t), nullptr))
                return fail(L"cannot read a text in the " + what_ + L"'s process (error " +
                            std::to_wstring(GetLastError()) + L")");
            for (size_t i = 0; i < n; ++i) {
                if (!chars[i]) return true;
                text += chars[i];
            }
            where += n * sizeof(wchar_t);
        }
        return true;
    }


    bool fail(const std::wstring& why) {
        err(command_ + L": " + why);
        return false;
    }

private:
    bool fill(size_t at, size_t n) {
        std::vector<BYTE> zeros(n, 0);
        return write(at, zeros.data(), n);
    }
    void release() {
        if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        memory_ = nullptr;
        size_ = 0;
    }

    std::wstring command_;
    HWND window_;
    std::wstring what_;
    HANDLE process_ = nullptr;
    bool target32_ = false;
    void* memory_ = nullptr;
    size_t size_ = 0;
};

// ------------------------------------------------ another process's tree view --

// TVITEMW and TVHITTESTINFO as a program of each bitness lays them out.
struct TreeLayout {
    size_t pointerSize;
    size_t item;       // TVITEMW: its size and the offsets of its fields
    size_t hItem, state, stateMask, pszText, cchTextMax, cChildren, lParam;
    size_t hitSize, hitFlags, hitItem;  // TVHITTESTINFO
};
constexpr TreeLayout kTree32{4, 40, 4, 8, 12, 16, 20, 32, 36, 16, 8, 12};
constexpr TreeLayout kTree64{8, 56, 8, 16, 20, 24, 32, 44, 48, 24, 8, 16};
constexpr const TreeLayout& kTreeOwn = sizeof(void*) == 8 ? kTree64 : kTree32;
static_assert(sizeof(TVITEMW) == kTreeOwn.item, "TVITEMW");
static_assert(offsetof(TVITEMW, hItem) == kTreeOwn.hItem, "TVITEMW");
static_assert(offsetof(TVITEMW, state) == kTreeOwn.state, "TVITEMW");
static_assert(offsetof(TVITEMW, stateMask) == kTreeOwn.stateMask, "TVITEMW");
static_assert(offsetof(TVITEMW, pszText) == kTreeOwn.pszText, "TVITEMW");
static_assert(offsetof(TVITEMW, cchTextMax) == kTreeOwn.cchTextMax, "TVITEMW");
static_assert(offsetof(TVITEMW, cChildren) == kTreeOwn.cChildren, "TVITEMW");
static_assert(offsetof(TVITEMW, lParam) == kTreeOwn.lParam, "TVITEMW");
static_assert(sizeof(TVHITTESTINFO) == kTreeOwn.hitSize, "TVHITTESTINFO");
static_assert(offsetof(TVHITTESTINFO, flags) == kTreeOwn.hitFlags, "TVHITTESTINFO");
static_assert(offsetof(TVHITTESTINFO, hItem) == kTreeOwn.hitItem, "TVHITTESTINFO");

// An item as the tree shows it.
struct TreeNode {
    uint64_t handle = 0;
    int depth = 0;
    std::wstring text;
    int image = 0;  // the state image index
    bool bold = false, children = false, expanded = false, selected = false;
    long long value = 0;  // lParam
    bool shown = true;    // every ancestor is expanded
};

// Longest item text read; a tree's texts are short, but a longer one comes
// back whole up to this.
const size_t kMaxItemText = 1u << 16;

class TreeReader {
public:
    TreeReader(const std::wstring& command, HWND tree) : tree_(tree), block_(command, tree, L"tree view") {}

    bool open() {
        if (!block_.open()) return false;
        layout_ = block_.target32() ? kTree32 : kTree64;
        return reserveText(256);
    }
    bool fail(const std::wstring& why) { return block_.fail(why); }
    RemoteBlock& block() { return block_; }

    // A handle as the tree gave it: a 32-bit process's handles have 32 bits.
    uint64_t handle(DWORD_PTR r) const { return layout_.pointerSize == 4 ? (uint64_t)(uint32_t)r : (uint64_t)r; }

    bool next(UINT how, uint64_t from, uint64_t& item) {
        DWORD_PTR r = 0;
        if (!sendTimeout(tree_, TVM_GETNEXTITEM, how, (LPARAM)(uintptr_t)from, &r))
            return fail(L"the tree view did not answer TVM_GETNEXTITEM in time");
        item = handle(r);
        return true;
    }

    bool count(int& n) {
        DWORD_PTR r = 0;
        if (!sendTimeout(tree_, TVM_GETCOUNT, 0, 0, &r)) return fail(L"the tree view did not answer TVM_GETCOUNT in time");
        n = (int)(INT_PTR)r;
        return n >= 0 || fail(L"the tree view gave a negative item count");
    }

    // Every item in display order (depth first), the same before and after
    // (a tree may change while it is read: read again, a few times).
    bool all(std::vector<TreeNode>& nodes) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            int before = 0, after = 0;
            if (!count(before) || !walk(nodes, (size_t)before + 1) || !count(after)) return false;
            if (after == before && nodes.size() == (size_t)before) return true;
        }
        return fail(L"the tree view kept changing while it was read");
    }

    // Fills the node's fields from the tree.
    bool item(TreeNode& node) {
        for (;;) {
            const size_t textAt = layout_.item;
            std::vector<BYTE> b(layout_.item, 0);
            put(b, 0, TVIF_HANDLE | TVIF_TEXT | TVIF_STATE | TVIF_PARAM | TVIF_CHILDREN, 4);
            put(b, layout_.hItem, node.handle, layout_.pointerSize);
            put(b, layout_.stateMask, 0xFFFF, 4);
            put(b, layout_.pszText, block_.address(textAt), layout_.pointerSize);
            put(b, layout_.cchTextMax, (uint32_t)capacity_, 4);
            const wchar_t none = 0;  // an item that gives no text reads as empty
            if (!block_.write(0, b.data(), b.size()) || !block_.write(textAt, &none, sizeof none)) return false;
            DWORD_PTR ok = 0;
            if (!sendTimeout(tree_, TVM_GETITEMW, 0, block_.param(), &ok))
                return fail(L"the tree view did not answer TVM_GETITEMW in time");
            if (!ok) return fail(L"the tree view has no item " + hex(node.handle) + L" (it changed while it was read)");
            if (!block_.read(0, b.data(), b.size())) return false;
            // The tree may point to a text of its own instead of filling the
            // buffer.
            const uint64_t where = get(b, layout_.pszText, layout_.pointerSize);
            const bool ours = where == block_.address(textAt);
            if (where && !block_.readText(where, ours ? capacity_ : kMaxItemText, node.text)) return false;
            if (!where) node.text.clear();
            // A text that fills the buffer may have been cut: read it again
            // with a larger one.
            if (ours && node.text.size() + 1 >= capacity_ && capacity_ < kMaxItemText) {
                if (!reserveText(capacity_ * 4)) return false;
                continue;
            }
            const uint32_t state = (uint32_t)get(b, layout_.state, 4);
            node.image = (int)((state & TVIS_STATEIMAGEMASK) >> 12);
            node.bold = (state & TVIS_BOLD) != 0;
            node.expanded = (state & TVIS_EXPANDED) != 0;
            node.children = get(b, layout_.cChildren, 4) != 0;
            const uint64_t value = get(b, layout_.lParam, layout_.pointerSize);
            node.value = layout_.pointerSize == 4 ? (long long)(int32_t)(uint32_t)value : (long long)value;
            return true;
        }
    }

    // The rectangle of the item's text (TVM_GETITEMRECT); false with no error
    // when the tree says the item is not shown.
    bool textRect(uint64_t item, RECT& r, bool& shown) {
        std::vector<BYTE> b(sizeof(RECT), 0);
        put(b, 0, item, layout_.pointerSize);
        if (!block_.write(0, b.data(), b.size())) return false;
        DWORD_PTR ok = 0;
        if (!sendTimeout(tree_, TVM_GETITEMRECT, TRUE, block_.param(), &ok))
            return fail(L"the tree view did not answer TVM_GETITEMRECT in time");
        shown = ok != 0;
        return !shown || block_.read(0, &r, sizeof r);
    }

    // What the tree says is at client point (x, y) (TVM_HITTEST).
    bool hitTest(int x, int y, UINT& flags, uint64_t& item) {
        std::vector<BYTE> b(layout_.hitSize, 0);
        put(b, 0, (uint32_t)x, 4);
        put(b, 4, (uint32_t)y, 4);
        if (!block_.write(0, b.data(), b.size())) return false;
        DWORD_PTR r = 0;
        if (!sendTimeout(tree_, TVM_HITTEST, 0, block_.param(), &r))
            return fail(L"the tree view did not answer TVM_HITTEST in time");
        if (!block_.read(0, b.data(), b.size())) return false;
        flags = (UINT)get(b, layout_.hitFlags, 4);
        item = get(b, layout_.hitItem, layout_.pointerSize);
        return true;
    }

    static std::wstring hex(uint64_t v) {
        wchar_t buf[32];
        swprintf(buf, 32, L"0x%llx", (unsigned long long)v);
        return buf;
    }

private:
    bool reserveText(size_t chars) {
        capacity_ = std::min(chars, kMaxItemText);
        return block_.reserve(layout_.item + (capacity_ + 1) * sizeof(wchar_t));
    }

    // Depth first from the root, at most `most` items.
    bool walk(std::vector<TreeNode>& nodes, size_t most) {
        nodes.clear();
        uint64_t caret = 0, at = 0;
        if (!next(TVGN_CARET, 0, caret) || !next(TVGN_ROOT, 0, at)) return false;
        std::vector<size_t> path;  // indexes of the ancestors in `nodes`
        while (at) {
            if (nodes.size() >= most) return true;  // it grew: the caller reads again
            TreeNode node;
            node.handle = at;
            node.depth = (int)path.size();
            node.selected = at == caret;
            node.shown = path.empty() || (nodes[path.back()].shown && nodes[path.back()].expanded);
            if (!item(node)) return false;
            nodes.push_back(node);
            uint64_t down = 0;
            if (!next(TVGN_CHILD, at, down)) return false;
            if (down) {
                path.push_back(nodes.size() - 1);
                at = down;
                continue;
            }
            for (;;) {
                uint64_t sibling = 0;
                if (!next(TVGN_NEXT, at, sibling)) return false;
                if (sibling) {
                    at = sibling;
                    break;
                }
                if (path.empty()) {
                    at = 0;
                    break;
                }
                at = nodes[path.back()].handle;
                path.pop_back();
            }
        }
        return true;
    }

    HWND tree_;
    RemoteBlock block_;
    TreeLayout layout_ = kTree64;
    size_t capacity_ = 0;  // characters of the text buffer
};

// Whether the system says the close box of a window is greyed out (its
// system menu's close item is disabled). Windows tells another process so;
// Wine does not, and then the box counts as available.
bool closeBoxGreyed(HWND w) {
    TITLEBARINFO info{};
    info.cbSize = sizeof info;
    return GetTitleBarInfo(w, &info) && (info.rgstate[5] & STATE_SYSTEM_UNAVAILABLE);
}

struct Driver {
    HWND cur = nullptr;

    // The fields of a control before its text, as dump and state print them.
    // parent is "main" for a control of the window itself, else the id of the
    // window that holds it (a page is a child dialog of the main window).
    // visible is what a user sees: a control of a hidden page is not visible.
    std::wstring controlLine(HWND c) {
        HWND parent = GetAncestor(c, GA_PARENT);
        return L"control: id=" + std::to_wstring(controlId(c)) + L" class=" + esc(className(c)) +
               L" visible=" + (IsWindowVisible(c) ? L"1" : L"0") +
               L" enabled=" + (IsWindowEnabled(c) ? L"1" : L"0") +
               L" parent=" + (parent == cur ? std::wstring(L"main") : std::to_wstring(controlId(parent)));
    }

    bool curAlive(const Step& s) {
        if (cur && IsWindow(cur)) return true;
        err(s.name + L": current window " + hexHwnd(cur) + L" no longer exists");
        return false;
    }

    // A user cannot act on a window that is disabled (e.g. a modal window is
    // open on top of it) or on a hidden/disabled control.
    bool usable(const Step& s, HWND ctl, const std::wstring& what) {
        if (!IsWindowEnabled(cur)) {
            err(s.name + L": window " + hexHwnd(cur) + L" is disabled");
            return false;
        }
        if (!IsWindowVisible(ctl)) {
            err(s.name + L": " + what + L" is hidden");
            return false;
        }
        if (!IsWindowEnabled(ctl)) {
            err(s.name + L": " + what + L" is disabled");
            return false;
        }
        return true;
    }

    HWND control(const Step& s) {
        HWND h = childById(cur, s.id);
        if (!h) err(s.name + L": no control with id " + std::to_wstring(s.id));
        return h;
    }

    bool wait(const Step& s) {
        HWND h = nullptr;
        if (!pollUntil(s.ms, [&] { return (h = findWindow(s)) != nullptr; })) {
            err(L"no window with " + describeMatch(s) + L" appeared within " +
                std::to_wstring(s.ms) + L" ms");
            return false;
        }
        cur = h;
        out(windowLine(h, false));
        return true;
    }

    bool absent(const Step& s) {
        HWND h = nullptr;
        if (pollUntil(s.ms, [&] { return (h = findWindow(s)) != nullptr; })) {
            out(windowLine(h, false));
            err(L"a window with " + describeMatch(s) + L" is shown");
            return false;
        }
        out(L"absent: ok");
        return true;
    }

    bool dump(const Step& s) {
        if (!curAlive(s)) return false;
        out(windowLine(cur, true));
        RECT r{};
        GetWindowRect(cur, &r);
        out(L"rect: " + std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
            std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom));
        bool ok = true;
        for (HWND c : children(cur)) {
            std::wstring line = controlLine(c);
            std::wstring t;
            // Once one control has not answered, the dialog's thread is busy
            // or hung: do not spend another timeout on each of the others.
            if (ok && controlText(c, t)) {
                out(line + L" text=" + esc(t));
            } else {
                // Never print an unread text as if it were empty.
                out(line + L" text-error=" + (ok ? L"no-answer" : L"skipped"));
                ok = false;
            }
        }
        if (!ok) err(L"dump: some controls did not answer WM_GETTEXT in time");
        return ok;
    }

    bool msgbox(const Step& s) {
        if (!curAlive(s)) return false;
        HWND textCtl = nullptr;
        std::wstring text;
        size_t longest = 0;
        bool icon = false;
        std::vector<std::wstring> buttons;
        for (HWND c : children(cur)) {
            if (isClass(c, L"Static")) {
                if ((style(c) & SS_TYPEMASK) == SS_ICON) {
                    DWORD_PTR hi = 0;
                    if (sendTimeout(c, STM_GETICON, 0, 0, &hi) && hi) icon = true;
                    continue;
                }
                std::wstring t;
                if (!controlText(c, t)) {
                    err(L"msgbox: a static control did not answer WM_GETTEXT in time");
                    return false;
                }
                int id = controlId(c);
                // The system message box keeps its text in the static 0xFFFF.
                if (id == 0xFFFF || id == -1) {
                    if (!textCtl || longest != SIZE_MAX) {
                        textCtl = c;
                        text = t;
                        longest = SIZE_MAX;
                    }
                } else if (longest != SIZE_MAX && !t.empty() && t.size() > longest) {
                    textCtl = c;
                    text = t;
                    longest = t.size();
                }
            } else if (isClass(c, L"Button") && IsWindowVisible(c)) {
                // Only buttons a user can see; hidden ones are not choices.
                std::wstring t;
                if (!controlText(c, t)) {
                    err(L"msgbox: a button did not answer WM_GETTEXT in time");
                    return false;
                }
                buttons.push_back(t);
            }
        }
        if (!textCtl) {
            err(L"msgbox: window " + hexHwnd(cur) + L" has no message text control");
            return false;
        }
        out(L"caption: " + esc(windowTitle(cur)));
        out(L"text: " + esc(text));
        for (const auto& b : buttons) out(L"button: " + esc(b));
        out(std::wstring(L"icon: ") + (icon ? L"yes" : L"no"));
        return true;
    }

    bool text(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        std::wstring t;
        if (!controlText(c, t)) {
            err(L"text: control " + std::to_wstring(s.id) + L" did not answer WM_GETTEXT in time");
            return false;
        }
        out(L"text: " + esc(t));
        return true;
    }

    bool title(const Step& s) {
        if (!curAlive(s)) return false;
        out(L"title: " + esc(windowTitle(cur)));
        return true;
    }

    // Clicks a button the way it works across processes: push buttons by
    // posting BN_CLICKED to their parent (what the button itself would send);
    // check boxes and radio buttons with BM_CLICK, so their state changes too.
    bool press(const Step& s) {
        if (!curAlive(s)) return false;
        HWND btn = nullptr, hiddenMatch = nullptr;
        std::wstring label;
        if (s.hasId) {
            btn = control(s);
            if (!btn) return false;
            if (!isClass(btn, L"Button")) {
                err(L"press: control " + std::to_wstring(s.id) + L" is a " +
                    esc(className(btn)) + L", not a button");
                return false;
            }
            if (!controlText(btn, label)) {
                err(L"press: button did not answer WM_GETTEXT in time");
                return false;
            }
            label = stripMnemonics(label);
        } else {
            std::wstring seen;
            for (HWND c : children(cur)) {
                if (!isClass(c, L"Button") || (style(c) & BS_TYPEMASK) == BS_GROUPBOX) continue;
                std::wstring t;
                if (!controlText(c, t)) {
                    err(L"press: a button did not answer WM_GETTEXT in time");
                    return false;
                }
                t = stripMnemonics(t);
                if (IsWindowVisible(c)) seen += (seen.empty() ? L"" : L", ") + quoted(t);
                if (t != s.arg) continue;
                if (IsWindowVisible(c)) { btn = c; break; }
                if (!hiddenMatch) hiddenMatch = c;
            }
            if (!btn) btn = hiddenMatch;  // usable() reports it as hidden
            if (!btn) {
                err(L"press: no button " + quoted(s.arg) + L" (visible buttons: " +
                    (seen.empty() ? L"none" : seen) + L")");
                return false;
            }
            label = s.arg;
        }
        if (!usable(s, btn, L"button " + quoted(label))) return false;
        BOOL posted;
        if (isCheckable(btn)) {
            posted = PostMessageW(btn, BM_CLICK, 0, 0);
        } else {
            HWND parent = GetParent(btn);
            WORD id = (WORD)controlId(btn);
            posted = PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)btn);
        }
        if (!posted) {
            err(L"press: could not post the click (error " + std::to_wstring(GetLastError()) + L")");
            return false;
        }
        out(L"pressed: " + esc(label));
        return true;
    }

    bool type(const Step& s) {
        if (!curAlive(s)) return false;
        HWND e = control(s);
        if (!e) return false;
        std::wstring what = L"control " + std::to_wstring(s.id);
        if (!usable(s, e, what)) return false;
        if (isClass(e, L"Edit") && (style(e) & ES_READONLY)) {
            err(L"type: " + what + L" is read-only");
            return false;
        }
        DWORD_PTR r = 0;
        if (!sendTimeout(e, WM_SETTEXT, 0, (LPARAM)s.arg.c_str(), &r)) {
            err(L"type: " + what + L" did not answer WM_SETTEXT in time");
            return false;
        }
        // A control may refuse or alter the text (case styles, custom
        // controls); say so rather than let the test go on with another value.
        std::wstring now;
        if (!r || !controlText(e, now) || now != s.arg) {
            err(L"type: " + what + L" did not take the text (it shows " + quoted(now) + L")");
            return false;
        }
        // Notify the dialog the way an edit control does after a keystroke.
        // Sent, not posted, so the dialog has reacted before the next command.
        // A single-line edit already notifies on WM_SETTEXT by itself, so the
        // dialog may see EN_CHANGE twice, as it would for two keystrokes.
        WORD id = (WORD)controlId(e);
        if (!sendTimeout(GetParent(e), WM_COMMAND, MAKEWPARAM(id, EN_CHANGE), (LPARAM)e,
                         nullptr, kNotifyTimeoutMs)) {
            err(L"type: the dialog did not handle EN_CHANGE within " +
                std::to_wstring(kNotifyTimeoutMs) + L" ms");
            return false;
        }
        out(L"typed: id=" + std::to_wstring(s.id));
        return true;
    }

    bool check(const Step& s, bool want) {
        if (!curAlive(s)) return false;
        HWND b = control(s);
        if (!b) return false;
        std::wstring what = L"control " + std::to_wstring(s.id);
        if (!isClass(b, L"Button") || !isCheckable(b)) {
            err(s.name + L": " + what + L" is not a check box or radio button");
            return false;
        }
        if (!usable(s, b, what)) return false;
        const DWORD_PTR target = want ? BST_CHECKED : BST_UNCHECKED;
        DWORD_PTR state = 0;
        if (!sendTimeout(b, BM_GETCHECK, 0, 0, &state)) {
            err(s.name + L": " + what + L" did not answer BM_GETCHECK in time");
            return false;
        }
        // A three-state box may need up to two clicks; stop when a click
        // changes nothing (e.g. a radio button cannot be unchecked by a click).
        for (int clicks = 0; state != target && clicks < 3; ++clicks) {
            DWORD_PTR before = state;
            if (!PostMessageW(b, BM_CLICK, 0, 0)) break;
            bool changed = pollUntil(kSendTimeoutMs, [&] {
                return sendTimeout(b, BM_GETCHECK, 0, 0, &state) && state != before;
            });
            if (!changed) break;
        }
        std::wstring name = state == BST_CHECKED ? L"checked"
                            : state == BST_UNCHECKED ? L"unchecked" : L"indeterminate";
        out(L"state: id=" + std::to_wstring(s.id) + L" " + name);
        if (state != target) {
            err(s.name + L": " + what + L" stays " + name + L" after clicking");
            return false;
        }
        return true;
    }

    bool state(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        std::wstring t;
        if (!controlText(c, t)) {
            err(L"state: control " + std::to_wstring(s.id) + L" did not answer WM_GETTEXT in time");
            return false;
        }
        out(controlLine(c) + L" text=" + esc(t));
        return true;
    }

    // The control with the step's id, if it is of this class.
    HWND controlOfClass(const Step& s, const wchar_t* cls, const wchar_t* what) {
        HWND c = control(s);
        if (c && !isClass(c, cls)) {
            err(s.name + L": control " + std::to_wstring(s.id) + L" is a " + esc(className(c)) +
                L", not a " + what);
            return nullptr;
        }
        return c;
    }

    bool items(const Step& s) {
        if (!curAlive(s)) return false;
        HWND list = controlOfClass(s, WC_LISTVIEWW, L"list view");
        if (!list) return false;
        ListViewReader reader(s.name, list);
        if (!reader.open()) return false;
        // Lines may be added while we read (an installer's detail list grows
        // as it works): read until the count is the same before and after.
        std::vector<std::wstring> texts;
        bool stable = false;
        for (int attempt = 0; attempt < 5 && !stable; ++attempt) {
            int before = 0, after = 0;
            if (!reader.count(before)) return false;
            texts.clear();
            for (int i = 0; i < before; ++i) {
                std::wstring t;
                if (!reader.text(i, t)) return false;
                texts.push_back(t);
            }
            if (!reader.count(after)) return false;
            stable = after == before;
        }
        if (!stable) {
            err(s.name + L": the list view kept changing while it was read");
            return false;
        }
        DWORD_PTR selected = 0, top = 0;
        if (!sendTimeout(list, LVM_GETNEXTITEM, (WPARAM)-1, MAKELPARAM(LVNI_SELECTED, 0), &selected) ||
            !sendTimeout(list, LVM_GETTOPINDEX, 0, 0, &top)) {
            err(s.name + L": the list view did not answer in time");
            return false;
        }
        out(L"count: " + std::to_wstring(texts.size()));
        for (const auto& t : texts) out(L"item: " + esc(t));
        out(L"selected: " + std::to_wstring((int)(INT_PTR)selected));
        out(L"top: " + std::to_wstring((int)(INT_PTR)top));
        return true;
    }

    bool click(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        const LPARAM at = MAKELPARAM(s.x, s.y);
        if (!PostMessageW(c, WM_LBUTTONDOWN, MK_LBUTTON, at) || !PostMessageW(c, WM_LBUTTONUP, 0, at)) {
            err(s.name + L": posting to the control failed");
            return false;
        }
        out(L"click: " + std::to_wstring(s.x) + L" " + std::to_wstring(s.y));
        return true;
    }

    bool key(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        const UINT scan = MapVirtualKeyW((UINT)s.x, MAPVK_VK_TO_VSC);
        if (!PostMessageW(c, WM_KEYDOWN, (WPARAM)s.x, 1 | (LPARAM)(scan << 16)) ||
            !PostMessageW(c, WM_KEYUP, (WPARAM)s.x, (LPARAM)(1 | (scan << 16) | 0xC0000000u))) {
            err(s.name + L": posting to the control failed");
            return false;
        }
        // A tree view is often what a key is for (space on its selected
        // item); the next command then sees what the key did.
        if (isClass(c, WC_TREEVIEWW) && !settleTree(s, c)) return false;
        out(L"key: " + std::to_wstring(s.x));
        return true;
    }

    bool selection(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        DWORD_PTR packed = 0;
        if (!sendTimeout(c, EM_GETSEL, 0, 0, &packed)) {
            err(s.name + L": the control did not answer in time");
            return false;
        }
        out(L"selection: " + std::to_wstring(LOWORD(packed)) + L" " + std::to_wstring(HIWORD(packed)));
        return true;
    }

    bool progress(const Step& s) {
        if (!curAlive(s)) return false;
        HWND bar = controlOfClass(s, PROGRESS_CLASSW, L"progress bar");
        if (!bar) return false;
        DWORD_PTR pos = 0, low = 0, high = 0;
        if (!sendTimeout(bar, PBM_GETPOS, 0, 0, &pos) || !sendTimeout(bar, PBM_GETRANGE, TRUE, 0, &low) ||
            !sendTimeout(bar, PBM_GETRANGE, FALSE, 0, &high)) {
            err(s.name + L": the progress bar did not answer in time");
            return false;
        }
        out(L"position: " + std::to_wstring((int)(INT_PTR)pos));
        out(L"range: " + std::to_wstring((int)(INT_PTR)low) + L" " + std::to_wstring((int)(INT_PTR)high));
        out(std::wstring(L"visible: ") + (IsWindowVisible(bar) ? L"1" : L"0"));
        return true;
    }

    // Waits until the control with the step's id exists and cond(control)
    // holds; the control is looked up again on every try, since a page and
    // its controls may be created while we wait.
    // `seen`, when given and not empty at the end, says what the control showed.
    template <class F>
    bool waitControl(const Step& s, const std::wstring& want, F cond, const std::wstring* seen = nullptr) {
        HWND c = nullptr;
        bool lost = false;
        bool ok = pollUntil(s.ms, [&] {
            if (!IsWindow(cur)) return lost = true;
            c = childById(cur, s.id);
            return c && cond(c);
        });
        if (lost) {
            err(s.name + L": window " + hexHwnd(cur) + L" closed while waiting");
            return false;
        }
        if (!ok) {
            err(s.name + L": " + (c ? L"control " + std::to_wstring(s.id) + L" is not " + want
                                    : L"no control with id " + std::to_wstring(s.id) + L" appeared") +
                L" after " + std::to_wstring(s.ms) + L" ms" +
                (c && seen && !seen->empty() ? L" (" + *seen + L")" : std::wstring()));
            return false;
        }
        return true;
    }

    bool waitState(const Step& s) {
        if (!curAlive(s)) return false;
        const wchar_t* want = s.op == Op::Visible ? L"visible" : s.op == Op::Hidden ? L"hidden" : L"enabled";
        if (!waitControl(s, want, [&](HWND c) {
                if (s.op == Op::Enabled) return IsWindowEnabled(c) != FALSE;
                return (IsWindowVisible(c) != FALSE) == (s.op == Op::Visible);
            }))
            return false;
        out(std::wstring(want) + L": id=" + std::to_wstring(s.id));
        return true;
    }

    bool waitText(const Step& s) {
        if (!curAlive(s)) return false;
        std::wstring seen, shown;
        bool ok = waitControl(s, L"showing " + quoted(s.arg), [&](HWND c) {
            bool answered = controlText(c, seen);
            shown = answered ? L"it shows " + quoted(seen) : L"it did not answer WM_GETTEXT in time";
            return answered && seen == s.arg;
        }, &shown);
        if (!ok) return false;
        out(L"text: " + esc(seen));
        return true;
    }

    bool waitTitle(const Step& s) {
        if (!curAlive(s)) return false;
        std::wstring seen;
        bool lost = false;
        bool ok = pollUntil(s.ms, [&] {
            if (!IsWindow(cur)) return lost = true;
            seen = windowTitle(cur);
            return seen == s.arg;
        });
        if (lost || !ok) {
            err(s.name + L": " + (lost ? L"window " + hexHwnd(cur) + L" closed while waiting"
                                       : L"the title is still " + quoted(seen) + L" after " +
                                             std::to_wstring(s.ms) + L" ms, not " + quoted(s.arg)));
            return false;
        }
        out(L"title: " + esc(seen));
        return true;
    }

    // A click on the close box: the system turns it into WM_SYSCOMMAND
    // SC_CLOSE, and only when the box can be pressed at all.
    bool closeBox(const Step& s) {
        if (!curAlive(s)) return false;
        if (!IsWindowEnabled(cur)) {
            err(s.name + L": window " + hexHwnd(cur) + L" is disabled");
            return false;
        }
        if (!(style(cur) & WS_SYSMENU) || (GetClassLongPtrW(cur, GCL_STYLE) & CS_NOCLOSE)) {
            err(s.name + L": window " + hexHwnd(cur) + L" has no close box");
            return false;
        }
        if (closeBoxGreyed(cur)) {
            err(s.name + L": the close box of window " + hexHwnd(cur) + L" is greyed out");
            return false;
        }
        if (!PostMessageW(cur, WM_SYSCOMMAND, SC_CLOSE, 0)) {
            err(s.name + L": could not post WM_SYSCOMMAND (error " + std::to_wstring(GetLastError()) + L")");
            return false;
        }
        out(L"closebox: pressed");
        return true;
    }

    bool close(const Step& s) {
        if (!curAlive(s)) return false;
        if (!PostMessageW(cur, WM_CLOSE, 0, 0)) {
            err(L"close: could not post WM_CLOSE (error " + std::to_wstring(GetLastError()) + L")");
            return false;
        }
        out(L"closed");
        return true;
    }

    bool gone(const Step& s) {
        if (!pollUntil(s.ms, [&] { return !IsWindow(cur) || !IsWindowVisible(cur); })) {
            err(L"gone: window " + hexHwnd(cur) + L" is still shown after " +
                std::to_wstring(s.ms) + L" ms");
            return false;
        }
        out(L"gone: ok");
        return true;
    }

    bool screenshot(const Step& s) {
        if (!curAlive(s)) return false;
        SetForegroundWindow(cur);
        Sleep(150);  // let it repaint after coming to the front
        RECT r{};
        if (!GetWindowRect(cur, &r)) {
            err(L"screenshot: cannot read the window rectangle");
            return false;
        }
        const int w = r.right - r.left, h = r.bottom - r.top;
        if (w <= 0 || h <= 0 || w > 16384 || h > 16384) {
            err(L"screenshot: unusable window size " + std::to_wstring(w) + L"x" + std::to_wstring(h));
            return false;
        }
        const DWORD stride = ((DWORD)w * 3 + 3) & ~3u;
        std::vector<BYTE> pixels((size_t)stride * h);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        bi.bmiHeader.biCompression = BI_RGB;
        bi.bmiHeader.biSizeImage = stride * h;

        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
        bool captured = false;
        auto grab = [&](bool viaPrint) {
            HGDIOBJ old = SelectObject(mem, bmp);
            BOOL drawn = viaPrint ? PrintWindow(cur, mem, 0)
                                  : BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
            SelectObject(mem, old);  // GetDIBits wants the bitmap deselected
            if (!drawn || GetDIBits(screen, bmp, 0, (UINT)h, pixels.data(), &bi, DIB_RGB_COLORS) != h)
                return false;
            for (int y = 0; y < h; ++y)
                for (DWORD x = 0; x < (DWORD)w * 3; ++x)
                    if (pixels[(size_t)y * stride + x]) return true;
            return false;  // all black: nothing was really captured
        };
        const wchar_t* source = L"screen";
        if (mem && bmp) {
            captured = grab(false);
            if (!captured) {
                source = L"printwindow";
                captured = grab(true);
            }
        }
        if (bmp) DeleteObject(bmp);
        if (mem) DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        if (!captured) {
            err(L"screenshot: could not capture the window (screen copy and PrintWindow gave no image)");
            return false;
        }

        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;  // "BM"
        fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        fh.bfSize = fh.bfOffBits + (DWORD)pixels.size();
        HANDLE f = CreateFileW(s.arg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            err(L"screenshot: cannot create " + quoted(s.arg) + L" (error " +
                std::to_wstring(GetLastError()) + L")");
            return false;
        }
        auto put = [&](const void* p, DWORD n) {
            DWORD done = 0;
            return WriteFile(f, p, n, &done, nullptr) && done == n;
        };
        bool ok = put(&fh, sizeof fh) && put(&bi.bmiHeader, sizeof bi.bmiHeader) &&
                  put(pixels.data(), (DWORD)pixels.size());
        ok = CloseHandle(f) && ok;
        if (!ok) {
            DeleteFileW(s.arg.c_str());  // no half-written image left behind
            err(L"screenshot: writing " + quoted(s.arg) + L" failed");
            return false;
        }
        out(L"screenshot: " + esc(s.arg) + L" width=" + std::to_wstring(w) +
            L" height=" + std::to_wstring(h) + L" source=" + source);
        return true;
    }

    // ------------------------------------------------------------ trees --

    static std::wstring yesNo(bool b) { return b ? L"yes" : L"no"; }

    bool tree(const Step& s) {
        if (!curAlive(s)) return false;
        HWND t = controlOfClass(s, WC_TREEVIEWW, L"tree view");
        if (!t) return false;
        TreeReader reader(s.name, t);
        std::vector<TreeNode> nodes;
        if (!reader.open() || !reader.all(nodes)) return false;
        out(L"count: " + std::to_wstring(nodes.size()));
        for (const TreeNode& n : nodes)
            out(L"treeitem: depth=" + std::to_wstring(n.depth) + L" state=" + std::to_wstring(n.image) +
                L" bold=" + yesNo(n.bold) + L" children=" + yesNo(n.children) + L" expanded=" + yesNo(n.expanded) +
                L" selected=" + yesNo(n.selected) + L" lparam=" + std::to_wstring(n.value) + L" text=" + esc(n.text));
        return true;
    }

    // The first item showing the step's text, if a user can see it: every
    // item above it is expanded.
    bool shownItem(const Step& s, TreeReader& reader, TreeNode& found) {
        std::vector<TreeNode> nodes;
        if (!reader.all(nodes)) return false;
        for (size_t i = 0; i < nodes.size(); ++i) {
            if (nodes[i].text != s.arg) continue;
            if (nodes[i].shown) {
                found = nodes[i];
                return true;
            }
            // The outermost collapsed item above it is the one to open first.
            std::wstring closed;
            int depth = nodes[i].depth;
            for (size_t j = i; j-- > 0 && depth > 0;) {
                if (nodes[j].depth != depth - 1) continue;
                depth = nodes[j].depth;
                if (!nodes[j].expanded) closed = nodes[j].text;
            }
            err(s.name + L": item " + quoted(s.arg) + L" is inside the collapsed item " + quoted(closed));
            return false;
        }
        std::wstring seen;
        for (const TreeNode& n : nodes) seen += (seen.empty() ? L"" : L", ") + quoted(n.text);
        err(s.name + L": no item " + quoted(s.arg) + L" in tree view " + std::to_wstring(s.id) + L" (items: " +
            (seen.empty() ? L"none" : seen) + L")");
        return false;
    }

    // A client point of the tree on the item: the middle of its label, or
    // of the pixels left of the label that the tree's own hit-test finds on
    // its state image (with no icon that is the 16 pixels just left of the
    // text). An item outside the tree's visible part is first scrolled into
    // it, as a user would with the scroll bar.
    bool pointOnItem(const Step& s, HWND t, TreeReader& reader, const TreeNode& node, bool stateImage, POINT& pt) {
        RECT client{}, r{};
        bool shown = false;
        GetClientRect(t, &client);
        auto inView = [&] { return shown && r.top >= client.top && r.bottom <= client.bottom && r.left < client.right; };
        if (!reader.textRect(node.handle, r, shown)) return false;
        if (!inView()) {
            if (!sendTimeout(t, TVM_ENSUREVISIBLE, 0, (LPARAM)(uintptr_t)node.handle, nullptr, kNotifyTimeoutMs))
                return reader.fail(L"the tree view did not answer TVM_ENSUREVISIBLE in time");
            if (!reader.textRect(node.handle, r, shown)) return false;
            if (!inView()) {
                err(s.name + L": item " + quoted(node.text) + L" cannot be brought into the tree's visible part");
                return false;
            }
        }
        const int y = (r.top + r.bottom) / 2;
        UINT flags = 0;
        uint64_t hit = 0;
        if (!stateImage) {
            const int x = (r.left + std::min(r.right, client.right)) / 2;
            if (!reader.hitTest(x, y, flags, hit)) return false;
            if (!(flags & TVHT_ONITEMLABEL) || hit != node.handle) {
                err(s.name + L": the label of item " + quoted(node.text) + L" is not where the tree says (hit-test at " +
                    std::to_wstring(x) + L" " + std::to_wstring(y) + L" gives flags " + TreeReader::hex(flags) + L")");
                return false;
            }
            pt = {x, y};
            return true;
        }
        int from = -1, to = -1;
        for (int x = r.left - 1; x >= 0 && x >= r.left - 64; --x) {
            if (!reader.hitTest(x, y, flags, hit)) return false;
            if ((flags & TVHT_ONITEMSTATEICON) && hit == node.handle) {
                if (to < 0) to = x;
                from = x;
            } else if (to >= 0) {
                break;
            }
        }
        if (to < 0) {
            err(s.name + L": item " + quoted(node.text) + L" shows no state image that a click could hit (no point "
                L"left of its label hit-tests on it)");
            return false;
        }
        pt = {(from + to) / 2, y};
        return true;
    }

    // Puts the cursor on the tree's client point, so that the messages posted
    // next carry that position: a program reads it with GetMessagePos, as a
    // page that hit-tests its tree's clicks does. Windows and Wine give a
    // posted message the cursor position of the moment it was posted.
    bool cursorTo(const Step& s, HWND t, POINT client, POINT& screen) {
        screen = client;
        if (!ClientToScreen(t, &screen) || !SetCursorPos(screen.x, screen.y)) {
            err(s.name + L": cannot move the cursor (error " + std::to_wstring(GetLastError()) + L")");
            return false;
        }
        return cursorAt(s, screen);
    }

    bool cursorAt(const Step& s, POINT screen) {
        POINT now{};
        if (!GetCursorPos(&now) || now.x != screen.x || now.y != screen.y) {
            err(s.name + L": the cursor is at " + std::to_wstring(now.x) + L" " + std::to_wstring(now.y) + L", not at " +
                std::to_wstring(screen.x) + L" " + std::to_wstring(screen.y) + L" (another program moved it?)");
            return false;
        }
        return true;
    }

    // Returns once the tree has handled what was posted to it so far. Posted
    // messages are handled in order, and only after the messages another
    // program sends: a posted change of the tree's insert-mark colour (drawn
    // only while something is dragged over the tree) comes after them, and
    // once the tree reports the new colour they are done. The colour is set
    // back afterwards.
    bool settleTree(const Step& s, HWND t) {
        DWORD_PTR old = 0, now = 0;
        if (!sendTimeout(t, TVM_GETINSERTMARKCOLOR, 0, 0, &old)) {
            err(s.name + L": the tree view did not answer TVM_GETINSERTMARKCOLOR in time");
            return false;
        }
        const COLORREF mark = (COLORREF)old == RGB(1, 2, 3) ? RGB(3, 2, 1) : RGB(1, 2, 3);
        if (!PostMessageW(t, TVM_SETINSERTMARKCOLOR, 0, (LPARAM)mark)) {
            err(s.name + L": posting to the tree view failed");
            return false;
        }
        const bool done = pollUntil(kNotifyTimeoutMs, [&] {
            return sendTimeout(t, TVM_GETINSERTMARKCOLOR, 0, 0, &now) && (COLORREF)now == mark;
        });
        sendTimeout(t, TVM_SETINSERTMARKCOLOR, 0, (LPARAM)(COLORREF)old, nullptr);
        if (!done) {
            err(s.name + L": the tree view did not handle the posted input within " +
                std::to_wstring(kNotifyTimeoutMs) + L" ms");
            return false;
        }
        return true;
    }

    // treeclick (click) and treehover.
    bool treeMouse(const Step& s, bool click) {
        if (!curAlive(s)) return false;
        HWND t = controlOfClass(s, WC_TREEVIEWW, L"tree view");
        if (!t || !usable(s, t, L"tree view " + std::to_wstring(s.id))) return false;
        TreeReader reader(s.name, t);
        TreeNode node;
        POINT pt{}, screen{};
        const bool onState = click && !s.onLabel;
        if (!reader.open() || !shownItem(s, reader, node) || !pointOnItem(s, t, reader, node, onState, pt) ||
            !cursorTo(s, t, pt, screen))
            return false;
        const LPARAM at = MAKELPARAM(pt.x, pt.y);
        bool posted = PostMessageW(t, WM_MOUSEMOVE, 0, at);
        if (click) posted = posted && PostMessageW(t, WM_LBUTTONDOWN, MK_LBUTTON, at) && PostMessageW(t, WM_LBUTTONUP, 0, at);
        if (!posted) {
            err(s.name + L": posting to the tree view failed");
            return false;
        }
        // The position the messages carry is the cursor's when they were
        // posted: it must not have moved meanwhile.
        if (!cursorAt(s, screen) || !settleTree(s, t)) return false;
        const std::wstring where = L" x=" + std::to_wstring(pt.x) + L" y=" + std::to_wstring(pt.y) + L" text=" + esc(node.text);
        out(click ? L"treeclick: part=" + std::wstring(onState ? L"check" : L"label") + where : L"treehover:" + where);
        return true;
    }

    bool treeSelect(const Step& s) {
        if (!curAlive(s)) return false;
        HWND t = controlOfClass(s, WC_TREEVIEWW, L"tree view");
        if (!t || !usable(s, t, L"tree view " + std::to_wstring(s.id))) return false;
        TreeReader reader(s.name, t);
        TreeNode node;
        if (!reader.open() || !shownItem(s, reader, node)) return false;
        // Sent, not posted: the owner has handled the change before the next
        // command.
        DWORD_PTR ok = 0;
        if (!sendTimeout(t, TVM_SELECTITEM, TVGN_CARET, (LPARAM)(uintptr_t)node.handle, &ok, kNotifyTimeoutMs)) {
            err(s.name + L": the tree view did not handle TVM_SELECTITEM within " + std::to_wstring(kNotifyTimeoutMs) +
                L" ms");
            return false;
        }
        uint64_t caret = 0;
        if (!reader.next(TVGN_CARET, 0, caret)) return false;
        if (!ok || caret != node.handle) {
            err(s.name + L": the tree view did not select item " + quoted(node.text));
            return false;
        }
        out(L"treeselect: " + esc(node.text));
        return true;
    }

    // ------------------------------------------------------- combo boxes --

    bool comboEntries(const Step& s, HWND c, std::vector<std::wstring>& entries, int& selected) {
        DWORD_PTR n = 0, cur = 0;
        if (!sendTimeout(c, CB_GETCOUNT, 0, 0, &n) || (INT_PTR)n < 0) {
            err(s.name + L": the combo box did not give its entry count");
            return false;
        }
        entries.clear();
        for (int i = 0; i < (int)(INT_PTR)n; ++i) {
            DWORD_PTR length = 0;
            if (!sendTimeout(c, CB_GETLBTEXTLEN, (WPARAM)i, 0, &length) || (INT_PTR)length < 0 ||
                (size_t)length > kMaxText) {
                err(s.name + L": the combo box did not give the length of entry " + std::to_wstring(i));
                return false;
            }
            // The system copies this one between processes; the length may
            // count bytes of an ANSI control, which is never too little.
            std::vector<wchar_t> buf((size_t)length + 1, 0);
            DWORD_PTR got = 0;
            if (!sendTimeout(c, CB_GETLBTEXT, (WPARAM)i, (LPARAM)buf.data(), &got) || (INT_PTR)got < 0) {
                err(s.name + L": the combo box did not give entry " + std::to_wstring(i));
                return false;
            }
            entries.emplace_back(buf.data(), std::min((size_t)got, (size_t)length));
        }
        if (!sendTimeout(c, CB_GETCURSEL, 0, 0, &cur)) {
            err(s.name + L": the combo box did not answer CB_GETCURSEL in time");
            return false;
        }
        selected = (int)(INT_PTR)cur;
        return true;
    }

    bool combo(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = controlOfClass(s, WC_COMBOBOXW, L"combo box");
        std::vector<std::wstring> entries;
        int selected = -1;
        if (!c || !comboEntries(s, c, entries, selected)) return false;
        out(L"count: " + std::to_wstring(entries.size()));
        for (const auto& e : entries) out(L"entry: " + esc(e));
        out(L"selected: " + std::to_wstring(selected < 0 ? -1 : selected));
        return true;
    }

    // What the drop-down list does when a user picks an entry: the combo box
    // shows it and tells its owner with CBN_SELCHANGE (sent, so the owner
    // has reacted before the next command). It tells even when the entry was
    // already the selected one.
    bool choose(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = controlOfClass(s, WC_COMBOBOXW, L"combo box");
        if (!c || !usable(s, c, L"combo box " + std::to_wstring(s.id))) return false;
        std::vector<std::wstring> entries;
        int selected = -1;
        if (!comboEntries(s, c, entries, selected)) return false;
        int index = s.index;
        if (index < 0) {
            auto it = std::find(entries.begin(), entries.end(), s.arg);
            if (it == entries.end()) {
                std::wstring seen;
                for (const auto& e : entries) seen += (seen.empty() ? L"" : L", ") + quoted(e);
                err(s.name + L": no entry " + quoted(s.arg) + L" in combo box " + std::to_wstring(s.id) +
                    L" (entries: " + (seen.empty() ? L"none" : seen) + L")");
                return false;
            }
            index = (int)(it - entries.begin());
        } else if ((size_t)index >= entries.size()) {
            err(s.name + L": combo box " + std::to_wstring(s.id) + L" has " + std::to_wstring(entries.size()) +
                L" entries, no entry " + std::to_wstring(index));
            return false;
        }
        DWORD_PTR now = 0;
        if (!sendTimeout(c, CB_SETCURSEL, (WPARAM)index, 0, nullptr) || !sendTimeout(c, CB_GETCURSEL, 0, 0, &now) ||
            (int)(INT_PTR)now != index) {
            err(s.name + L": the combo box did not select entry " + std::to_wstring(index));
            return false;
        }
        const WORD id = (WORD)controlId(c);
        if (!sendTimeout(GetParent(c), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)c, nullptr,
                         kNotifyTimeoutMs)) {
            err(s.name + L": the owner did not handle CBN_SELCHANGE within " + std::to_wstring(kNotifyTimeoutMs) +
                L" ms");
            return false;
        }
        out(L"chosen: " + std::to_wstring(index) + L" " + esc(entries[(size_t)index]));
        return true;
    }

    // --------------------------------------------------------- rich edit --

    bool richText(const Step& s) {
        if (!curAlive(s)) return false;
        HWND c = control(s);
        if (!c) return false;
        const std::wstring cls = className(c);
        if (cls.size() < 8 || !equalsNoCase(cls.substr(0, 8), L"RichEdit")) {
            err(s.name + L": control " + std::to_wstring(s.id) + L" is a " + esc(cls) + L", not a rich-edit control");
            return false;
        }
        // WM_GETTEXT is copied between processes, whatever its length.
        std::wstring t;
        if (!controlText(c, t)) {
            err(s.name + L": control " + std::to_wstring(s.id) + L" did not answer WM_GETTEXT in time");
            return false;
        }
        out(L"length: " + std::to_wstring(t.size()));
        out(L"text: " + esc(t));
        return true;
    }

    // ---------------------------------------------------- folder browser --

    // The folder browser that the window opened: a dialog of its process,
    // owned by it, holding a tree view of folders.
    struct BrowserSearch {
        HWND owner;
        DWORD pid;
        HWND found;
    };
    static BOOL CALLBACK browserCandidate(HWND h, LPARAM lp) {
        BrowserSearch* f = reinterpret_cast<BrowserSearch*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid != f->pid || h == f->owner || !IsWindowVisible(h) || !isClass(h, L"#32770")) return TRUE;
        HWND owner = GetWindow(h, GW_OWNER);
        if (!owner || GetAncestor(owner, GA_ROOT) != f->owner) return TRUE;
        for (HWND c : children(h))
            if (isClass(c, WC_TREEVIEWW)) {
                f->found = h;
                return FALSE;
            }
        return TRUE;
    }
    HWND findBrowser() {
        BrowserSearch search{cur, 0, nullptr};
        GetWindowThreadProcessId(cur, &search.pid);
        EnumWindows(browserCandidate, (LPARAM)&search);
        return search.found;
    }

    HWND browserTree(HWND b) {
        for (HWND c : children(b))
            if (isClass(c, WC_TREEVIEWW)) return c;
        return nullptr;
    }

    // The text of the browser's selected folder ("" with none).
    bool browserSelection(const Step& s, HWND b, std::wstring& text) {
        HWND t = browserTree(b);
        TreeReader reader(s.name, t);
        uint64_t caret = 0;
        text.clear();
        if (!t || !reader.open() || !reader.next(TVGN_CARET, 0, caret)) return false;
        if (!caret) return true;
        TreeNode node;
        node.handle = caret;
        if (!reader.item(node)) return false;
        text = node.text;
        return true;
    }

    bool browse(const Step& s) {
        if (!curAlive(s)) return false;
        HWND b = nullptr;
        if (!pollUntil(s.ms, [&] { return (b = findBrowser()) != nullptr; })) {
            err(s.name + L": no folder browser of window " + hexHwnd(cur) + L" appeared within " +
                std::to_wstring(s.ms) + L" ms");
            return false;
        }
        // What it shows: its title, its texts, the selected folder, and the
        // folder field where it has one.
        out(L"browser: hwnd=" + hexHwnd(b) + L" title=" + esc(windowTitle(b)));
        for (HWND c : children(b)) {
            std::wstring t;
            if (!IsWindowVisible(c) || !(isClass(c, L"Static") || isClass(c, L"Edit"))) continue;
            if (!controlText(c, t)) {
                err(s.name + L": a control of the folder browser did not answer WM_GETTEXT in time");
                return false;
            }
            if (isClass(c, L"Edit")) out(L"browser-folder: " + esc(t));
            else if (!t.empty()) out(L"browser-text: " + esc(t));
        }
        std::wstring shown;
        if (!browserSelection(s, b, shown)) return false;
        out(L"browser-selected: " + esc(shown));

        const int button = s.op == Op::BrowseChoose ? IDOK : IDCANCEL;
        if (s.op == Op::BrowseChoose) {
            // The browser selects a folder given by its path when asked; the
            // path must lie in its process's memory.
            RemoteBlock text(s.name, b, L"folder browser");
            const size_t bytes = (s.arg.size() + 1) * sizeof(wchar_t);
            if (!text.open() || !text.reserve(bytes) || !text.write(0, s.arg.c_str(), bytes)) return false;
            if (!sendTimeout(b, BFFM_SETSELECTIONW, TRUE, text.param(), nullptr, kNotifyTimeoutMs)) {
                err(s.name + L": the folder browser did not handle BFFM_SETSELECTIONW within " +
                    std::to_wstring(kNotifyTimeoutMs) + L" ms");
                return false;
            }
            // It shows the folder's name: the path's last part, as it is
            // written or as the file system has it.
            std::wstring last = s.arg;
            while (last.size() > 1 && (last.back() == L'\\' || last.back() == L'/')) last.pop_back();
            last.erase(0, last.find_last_of(L"\\/") == std::wstring::npos ? 0 : last.find_last_of(L"\\/") + 1);
            if (!browserSelection(s, b, shown)) return false;
            out(L"browser-selected: " + esc(shown));
            if (!equalsNoCase(shown, last)) {
                err(s.name + L": the folder browser did not select " + quoted(s.arg) + L" (it shows " + quoted(shown) +
                    L")");
                return false;
            }
        }
        HWND press = GetDlgItem(b, button);
        if (!press || !IsWindowVisible(press) || !IsWindowEnabled(press)) {
            err(s.name + L": the folder browser's " + (button == IDOK ? L"OK" : L"Cancel") + L" button " +
                (press ? L"cannot be pressed" : L"is missing"));
            return false;
        }
        if (!PostMessageW(b, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)press)) {
            err(s.name + L": could not post the click (error " + std::to_wstring(GetLastError()) + L")");
            return false;
        }
        if (!pollUntil(s.ms, [&] { return !IsWindow(b) || !IsWindowVisible(b); })) {
            err(s.name + L": the folder browser is still open " + std::to_wstring(s.ms) + L" ms after the press");
            return false;
        }
        out(s.op == Op::BrowseChoose ? L"browse: chose " + esc(s.arg) : std::wstring(L"browse: cancelled"));
        return true;
    }

    bool run(const Step& s) {
        switch (s.op) {
        case Op::Wait: return wait(s);
        case Op::Absent: return absent(s);
        case Op::Dump: return dump(s);
        case Op::MsgBox: return msgbox(s);
        case Op::Text: return text(s);
        case Op::Title: return title(s);
        case Op::Press: return press(s);
        case Op::Type: return type(s);
        case Op::Check: return check(s, true);
        case Op::Uncheck: return check(s, false);
        case Op::Close: return close(s);
        case Op::Gone: return gone(s);
        case Op::Sleep: Sleep(s.ms); return true;
        case Op::Screenshot: return screenshot(s);
        case Op::Items: return items(s);
        case Op::Progress: return progress(s);
        case Op::State: return state(s);
        case Op::CloseBox: return closeBox(s);
        case Op::Visible: case Op::Hidden: case Op::Enabled: return waitState(s);
        case Op::WaitText: return waitText(s);
        case Op::WaitTitle: return waitTitle(s);
        case Op::Click: return click(s);
        case Op::Selection: return selection(s);
        case Op::Key: return key(s);
        case Op::Tree: return tree(s);
        case Op::TreeClick: return treeMouse(s, true);
        case Op::TreeHover: return treeMouse(s, false);
        case Op::TreeSelect: return treeSelect(s);
        case Op::Combo: return combo(s);
        case Op::Choose: return choose(s);
        case Op::RichText: return richText(s);
        case Op::BrowseChoose: case Op::BrowseCancel: return browse(s);
        }
        return false;
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && (std::wstring(argv[1]) == L"--help" || std::wstring(argv[1]) == L"-h")) {
        out(kUsage);
        return 0;
    }
    if (argc < 2) {
        err(L"no command given; run qmdrive.exe --help");
        return 2;
    }

    // Parse the whole sequence first, so a typo late in it cannot leave the
    // installer half-driven.
    std::vector<Step> steps;
    std::vector<std::wstring> cmd;
    bool haveWindow = false;
    for (int i = 1; i <= argc; ++i) {
        if (i < argc && std::wstring(argv[i]) != L":") {
            cmd.push_back(argv[i]);
            continue;
        }
        if (cmd.empty()) {
            err(L"empty command in the sequence (stray ':')");
            return 2;
        }
        Step s;
        std::wstring problem = parseStep(cmd, s);
        if (!problem.empty()) {
            err(problem);
            return 2;
        }
        if (s.op == Op::Wait) haveWindow = true;
        if (needsWindow(s.op) && !haveWindow) {
            err(s.name + L": no window selected yet (use wait first)");
            return 2;
        }
        steps.push_back(s);
        cmd.clear();
    }

    Driver d;
    for (const Step& s : steps)
        if (!d.run(s)) return 1;
    return 0;
}
