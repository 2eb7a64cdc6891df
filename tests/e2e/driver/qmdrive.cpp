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
                CloseBox, Visible, Hidden, Enabled, WaitText, WaitTitle, Click, Selection, Key };

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
    L"                    to the control, through its program's message loop\n"
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
                       s.op == Op::Selection || controlWait;
    const bool timeoutOpt = s.op == Op::Wait || s.op == Op::Gone || controlWait ||
                            s.op == Op::WaitTitle;
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
        if (!isMatch && !isMs && !isId)
            return s.name + L": unknown option " + quoted(o);
        if (i + 1 >= a.size()) return s.name + L": " + o + L" needs a value";
        const std::wstring& v = a[++i];
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
    case Op::Sleep:
        if (!positional(1) || !parseMs(pos[0], s.ms)) return s.name + L": usage is sleep MS";
        break;
    case Op::Screenshot:
        if (!positional(1) || pos[0].empty()) return s.name + L": usage is screenshot PATH";
        s.arg = pos[0];
        break;
    default:  // dump, msgbox, title, close, closebox, gone
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

    static void put(std::vector<BYTE>& b, size_t at, uint64_t v, size_t size) {
        for (size_t i = 0; i < size; ++i) b[at + i] = (BYTE)(v >> (8 * i));
    }
    static uint64_t get(const std::vector<BYTE>& b, size_t at, size_t size) {
        uint64_t v = 0;
        for (size_t i = 0; i < size; ++i) v |= (uint64_t)b[at + i] << (8 * i);
        return v;
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
