// The interpreter core and the string expansion, in-process on scripts built
// by the builder library and loaded through the real reader. Nothing here
// reaches the invalid-instruction path (its message box would wait for a
// user); test_engine_core.cpp and test_engine_dialogs.cpp cover that with the
// driver program.
#include "engine_fixture.h"

#include <commctrl.h>

#include <algorithm>

#include "engine/status.h"
#include "startup/run_driver.h"
#include "tests/windows/code_page.h"
#include "ui/main_window.h"

namespace {

using engine_test::Script;

// Expands pool bytes (codes included) the way an instruction does.
class Expansion : public Script {
protected:
    // Adds each text before loading; expand() then works by index.
    void add(const std::vector<std::string>& stored) {
        for (const std::string& s : stored) offsets_.push_back(encoded(s));
        model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        load();
    }
    std::string expand(size_t i) {
        char buffer[1024];
        expand_param(buffer, offsets_[i]);
        return buffer;
    }
    std::vector<int32_t> offsets_;
};

std::string without_final_backslash(std::string s) {
    if (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}

std::string temp_folder() {
    char t[1024];
    GetTempPathA(sizeof(t), t);
    return t;
}

// ---- Code segments that execute nothing ---------------------------------------

TEST_F(Script, NegativeStartAndImmediateReturnRunNothing) {
    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}, {64, 0, 0, 0, 0, 0}, {OP_RETURN, 0, 0, 0, 0, 0}};
    load();
    for (int32_t start : {-1, -2, INT32_MIN}) EXPECT_EQ(run_code_segment(script_entries, start, nullptr), 0) << start;
    // The OP_RETURN entry is never executed; entry 1 would be an invalid instruction.
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), 0);
    EXPECT_EQ(run_code_segment(script_entries, 2, nullptr), 0);
    EXPECT_EQ(call_depth, 0);
}

TEST_F(Script, ResolvesTargetsDirectlyAndThroughVarSlots) {
    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    load();
    for (int32_t v : {0, 1, 15, INT32_MAX}) EXPECT_EQ(resolve_target(v), v);

    struct Case {
        int32_t value;
        int slot;
        const char* text;
        int32_t target;
    };
    const Case cases[] = {
        {-3, 2, "0x10", 16},   {-3, 2, "-5", -5},     {-3, 2, "", 0},
        {-1, 0, "010", 8},     {-25, 24, "1033", 1033},
        {-21, 20, "7 8", 7},
    };
    for (const Case& c : cases) {
        lstrcpyA(var_slots[c.slot], c.text);
        EXPECT_EQ(resolve_target(c.value), c.target) << c.value << " \"" << c.text << '"';
        EXPECT_EQ(entry_fault, 0);
    }
    // The slot's text is read raw: a code byte in it is not expanded.
    lstrcpyA(var_slots[VAR_COMMAND_LINE], "42");
    lstrcpyA(var_slots[0], "\xF0");
    EXPECT_EQ(resolve_target(-1), 0);

    // Past the last slot: nothing is read, the entry is marked.
    for (int32_t v : {-26, -1000, INT32_MIN}) {
        entry_fault = 0;
        EXPECT_EQ(resolve_target(v), 0) << v;
        EXPECT_EQ(entry_fault, 1) << v;
    }
}

TEST_F(Script, PoolStringsStayInsideThePool) {
    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    const int32_t first = text("first");
    load();
    const int32_t last = last_string_;
    ASSERT_EQ(last + lstrlenA("the last string") + 1, string_pool_length);
    EXPECT_STREQ(pool_string(first), "first");
    EXPECT_STREQ(pool_string(first + 2), "rst");
    EXPECT_STREQ(pool_string(-1), "");
    EXPECT_STREQ(pool_string(INT32_MIN), "");
    EXPECT_EQ(entry_fault, 0);
    for (int32_t bad : {string_pool_length, string_pool_length + 1, INT32_MAX}) {
        entry_fault = 0;
        EXPECT_STREQ(pool_string(bad), "") << bad;
        EXPECT_EQ(entry_fault, 1) << bad;
    }
    // The last string loses its terminator: it would run past the pool.
    ASSERT_EQ(string_pool[string_pool_length - 1], 0);
    string_pool[string_pool_length - 1] = 'x';
    entry_fault = 0;
    EXPECT_STREQ(pool_string(last), "");
    EXPECT_EQ(entry_fault, 1);
    entry_fault = 0;
    EXPECT_STREQ(pool_string(first), "first");
    EXPECT_EQ(entry_fault, 0);
    // number_param reads through the same check.
    EXPECT_EQ(number_param(last), 0);
    EXPECT_EQ(entry_fault, 1);
}

TEST_F(Script, SlotParametersStayInsideTheVarSlots) {
    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    load();
    set_slot_decimal(3, -42);
    set_slot_decimal(VAR_LANG_ID, INT32_MIN);
    set_slot_decimal(0, 0);
    EXPECT_STREQ(var_slots[3], "-42");
    EXPECT_STREQ(var_slots[VAR_LANG_ID], "-2147483648");
    EXPECT_STREQ(var_slots[0], "0");
    EXPECT_EQ(entry_fault, 0);

    // A bad index writes into a spare buffer; no slot changes.
    std::vector<char> before(&var_slots[0][0], &var_slots[0][0] + sizeof(var_slots));
    for (int32_t bad : {-1, 25, INT32_MAX, INT32_MIN}) {
        entry_fault = 0;
        set_slot_decimal(bad, 123456);
        EXPECT_EQ(entry_fault, 1) << bad;
        EXPECT_NE(slot_param(bad), var_slots[0]);
    }
    EXPECT_TRUE(std::equal(before.begin(), before.end(), &var_slots[0][0]));
    EXPECT_EQ(slot_param(24), var_slots[24]);
}

// ---- Expansion -------------------------------------------------------------------

TEST_F(Expansion, FolderCodesDropOneTrailingBackslash) {
    add({"\xF1\\file.txt", "\xDC\\file.txt"});
    lstrcpyA(var_slots[VAR_INSTALL_DIR], "C:\\");
    lstrcpyA(var_slots[0], "C:\\");
    EXPECT_EQ(expand(0), "C:\\file.txt");
    EXPECT_EQ(expand(1), "C:\\\\file.txt");
}

TEST_F(Expansion, EveryVarSlotCode) {
    std::vector<std::string> stored;
    for (int i = 0; i < VAR_SLOT_COUNT; ++i) stored.push_back(std::string("<") + (char)(SC_USER_VAR + i) + ">");
    add(stored);
    for (int i = 0; i < VAR_SLOT_COUNT; ++i) wsprintfA(var_slots[i], "v%d\\\\", i);
    for (int i = 0; i < VAR_SLOT_COUNT; ++i) {
        const bool folder = i == VAR_INSTALL_DIR || i == VAR_OUTPUT_DIR || i == VAR_EXE_DIR;
        // Only one backslash goes, and only for the directory slots.
        std::string value = "v" + std::to_string(i) + (folder ? "\\" : "\\\\");
        EXPECT_EQ(expand(i), "<" + value + ">") << "slot " << i;
    }
    // An empty slot inserts nothing.
    for (auto& slot : var_slots) slot[0] = 0;
    for (int i = 0; i < VAR_SLOT_COUNT; ++i) EXPECT_EQ(expand(i), "<>") << "slot " << i;
}

TEST_F(Expansion, SystemFoldersAndStateStrings) {
    add({"\xFB", "\xFC", "\xFD", "\xFE|", "[\xDB]", "\xFE"});
    char windows[1024], system[1024];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    ASSERT_EQ(temp_folder().back(), '\\');
    EXPECT_EQ(expand(0), without_final_backslash(temp_folder()));
    EXPECT_EQ(expand(1), without_final_backslash(windows));
    EXPECT_EQ(expand(2), without_final_backslash(system));
    lstrcpyA(temp_directory, "C:\\work\\tmp\\");
    EXPECT_EQ(expand(3), "C:\\work\\tmp|");
    temp_directory[0] = 0;
    EXPECT_EQ(expand(5), "");

    EXPECT_EQ(expand(4), "[0]");
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    current_main_window = window;
    EXPECT_EQ(expand(4), "[" + std::to_string((unsigned)(UINT_PTR)window) + "]");
    current_main_window = nullptr;
    DestroyWindow(window);
}

TEST_F(Expansion, EscapedBytesAndTheEndOfTheString) {
    add({"caf\xFF\xE9", "\xFF\xFF", "ab\xFF", "\xFF\xDC\xDC"});
    lstrcpyA(var_slots[0], "U");
    EXPECT_EQ(expand(0), "caf\xE9");
    EXPECT_EQ(expand(1), "\xFF");
    EXPECT_EQ(expand(2), "ab");  // an escape before the terminator ends the expansion there
    EXPECT_EQ(expand(3), "\xDCU");
    char buffer[1024] = "old";
    expand_param(buffer, -1);
    EXPECT_STREQ(buffer, "");
    expand_param(buffer, INT32_MIN);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Expansion, BoundsOfTheBuffers) {
    add({std::string(1100, 'a'), std::string(1023, 'b') + "\xDC" "c", std::string(1024, 'd') + "\xDC",
         std::string(1023, 'e') + "\xFF\xE9" "f"});
    char buffer[1024];
    // 1100 plain bytes: 1024 in the expansion buffer, 1023 in the parameter.
    expand_param(buffer, offsets_[0]);
    EXPECT_EQ(std::string(expansion_buffer), std::string(1024, 'a'));
    EXPECT_EQ(std::string(buffer), std::string(1023, 'a'));
    // An insertion that starts below the bound is written whole.
    std::string full(1023, 'u');
    lstrcpyA(var_slots[0], full.c_str());
    expand_param(buffer, offsets_[1]);
    EXPECT_EQ(std::string(expansion_buffer), std::string(1023, 'b') + full);
    EXPECT_EQ(std::string(buffer), std::string(1023, 'b'));
    // At the bound nothing more is taken.
    expand_param(buffer, offsets_[2]);
    EXPECT_EQ(std::string(expansion_buffer), std::string(1024, 'd'));
    expand_param(buffer, offsets_[3]);
    EXPECT_EQ(std::string(expansion_buffer), std::string(1023, 'e') + "\xE9");
}

TEST_F(Expansion, NumberParametersReadTheExpansion) {
    add({"0x\xDC", "\xDD" "7", "12ab"});
    lstrcpyA(var_slots[0], "1F");
    lstrcpyA(var_slots[1], "-");
    EXPECT_EQ(number_param(offsets_[0]), 31);
    EXPECT_EQ(number_param(offsets_[1]), -7);
    EXPECT_EQ(number_param(offsets_[2]), 12);
    EXPECT_EQ(number_param(-1), 0);
}

// ---- Registry-based folders ------------------------------------------------------
// The machine and user roots of this process are pointed at private keys, so
// each case sets exactly the values it needs.

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

class FolderExpansion : public Expansion {
protected:
    void SetUp() override {
        base_ = "Software\\QuillmarEngineTest" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &machine_, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &user_, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user_), ERROR_SUCCESS);
        overridden_ = true;
    }
    void TearDown() override {
        if (overridden_) {
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
            RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        }
        if (machine_) RegCloseKey(machine_);
        if (user_) RegCloseKey(user_);
        RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
        for (const std::string& d : dirs_) RemoveDirectoryA(d.c_str());
        Expansion::TearDown();
    }
    void set(HKEY root, const char* key, const char* name, const std::string& value, DWORD type = REG_SZ) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(k, name, 0, type, (const BYTE*)value.c_str(), (DWORD)value.size() + 1),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }
    std::string base_;
    HKEY machine_ = nullptr, user_ = nullptr;
    bool overridden_ = false;
    std::vector<std::string> dirs_;
};

TEST_F(FolderExpansion, ShellFoldersMachineWideFirstForAllUsers) {
    add({"\xF6", "\xF7", "\xF8", "\xF9"});
    set(machine_, kShellFolders, "Common Programs", "M:\\Programs\\");
    set(user_, kShellFolders, "Programs", "U:\\Programs\\");
    set(user_, kShellFolders, "Desktop", "U:\\Desktop");
    set(machine_, kShellFolders, "Common Startup", "M:\\Startup");
    set(user_, kShellFolders, "Startup", "U:\\Startup", REG_EXPAND_SZ);  // not a plain string

    struct Case {
        uint8_t all_users;
        size_t code;
        std::string expected;
    };
    const std::string temp = without_final_backslash(temp_folder());
    const Case cases[] = {
        {1, 0, "M:\\Programs"}, {0, 0, "U:\\Programs"},
        {1, 2, "U:\\Desktop"},  {0, 2, "U:\\Desktop"},   // no machine-wide desktop
        {1, 1, "M:\\Startup"},  {0, 1, temp},            // the user's value is no REG_SZ
        {1, 3, temp},           {0, 3, temp},            // no start menu at all
    };
    for (const Case& c : cases) {
        all_users_flag = c.all_users;
        EXPECT_EQ(expand(c.code), c.expected) << "all users " << (int)c.all_users << ", code " << c.code;
        EXPECT_EQ(all_users_flag, c.all_users);
    }
}

TEST_F(FolderExpansion, ProgramFilesFromTheRegistryOrTheDefault) {
    add({"\xF5\\App"});
    EXPECT_EQ(expand(0), "C:\\Program Files\\App");
    set(machine_, kCurrentVersion, "ProgramFilesDir", "D:\\Programme\\");
    EXPECT_EQ(expand(0), "D:\\Programme\\App");
}

TEST_F(FolderExpansion, QuickLaunchOnlyWhenTheFolderExists) {
    add({"\xFA"});
    const std::string temp = without_final_backslash(temp_folder());
    const std::string app_data = temp + "\\qmappdata" + std::to_string(GetCurrentProcessId());
    set(user_, kShellFolders, "AppData", app_data);
    EXPECT_EQ(expand(0), temp);
    std::string path = app_data;
    for (const char* part : {"", "\\Microsoft", "\\Internet Explorer", "\\Quick Launch"}) {
        path += part;
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
        dirs_.insert(dirs_.begin(), path);
    }
    EXPECT_EQ(expand(0), path);
    // An AppData folder so long that the candidate would pass the bound.
    set(user_, kShellFolders, "AppData", "C:\\" + std::string(1010, 'a'));
    EXPECT_EQ(expand(0), temp);
}

TEST_F(FolderExpansion, RegistryStringsAreBoundedAndTerminated) {
    add({"\xF5"});
    char out[1024];
    read_reg_string(machine_, "no\\such\\key", "x", out);
    EXPECT_STREQ(out, "");
    set(machine_, "k", "fits", std::string(1023, 'f'));
    set(machine_, "k", "long", std::string(1024, 'l'));
    set(machine_, "k", "expand", "%TEMP%", REG_EXPAND_SZ);
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(machine_, "k", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k, "bare", 0, REG_SZ, (const BYTE*)"abc", 3), ERROR_SUCCESS);  // no terminator
    const DWORD number = 5;
    ASSERT_EQ(RegSetValueExA(k, "dword", 0, REG_DWORD, (const BYTE*)&number, 4), ERROR_SUCCESS);
    RegCloseKey(k);

    read_reg_string(machine_, "k", "fits", out);
    EXPECT_EQ(std::string(out), std::string(1023, 'f'));
    for (const char* name : {"long", "expand", "dword", "missing"}) {
        memset(out, 'z', sizeof(out));
        read_reg_string(machine_, "k", name, out);
        EXPECT_STREQ(out, "") << name;
    }
    memset(out, 'z', sizeof(out));
    read_reg_string(machine_, "k", "bare", out);
    EXPECT_STREQ(out, "abc");
}

// ---- Language strings ---------------------------------------------------------------

TEST_F(Script, LanguageStringOffsets) {
    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    model_.languages[0].strings[0] = text("branding");
    model_.languages[0].strings[36] = encoded("\xF1 created");
    model_.languages[0].page_texts[0] = text("Back");
    model_.languages[0].page_texts[14] = text("I agree");
    load();
    lstrcpyA(var_slots[VAR_INSTALL_DIR], "C:\\App\\");
    struct Case {
        int32_t number;
        const char* expanded;
    };
    const Case cases[] = {
        {0, "branding"}, {36, "C:\\App created"}, {-1, "Back"}, {-15, "I agree"},
        {1, ""},  // -1 in the record: none
        {37, ""}, {1000, ""}, {-16, ""}, {INT32_MIN, ""}, {INT32_MAX, ""},
    };
    char out[1024];
    for (const Case& c : cases) EXPECT_STREQ(expand_lang_string(out, c.number), c.expanded) << c.number;
    EXPECT_EQ(lang_string_offset(0), model_.languages[0].strings[0]);
    EXPECT_EQ(lang_string_offset(-1), model_.languages[0].page_texts[0]);
    EXPECT_EQ(lang_string_offset(37), -1);

    // An uninstaller's page-text table has three entries.
    uninstaller_mode = 1;
    EXPECT_EQ(lang_string_offset(-3), page_texts_[2]);
    EXPECT_EQ(lang_string_offset(-4), -1);
    uninstaller_mode = 0;

    // Before a language is chosen every language string is empty.
    current_language = nullptr;
    current_page_texts = nullptr;
    EXPECT_EQ(lang_string_offset(0), -1);
    EXPECT_EQ(lang_string_offset(-1), -1);
}

// ---- Status output -------------------------------------------------------------------

// The state a run starts with, set by start-up rather than by initialised
// data: details to the list and the status line, no own file, the wizard
// before its first page, the uninstaller's page range (an installer sets its
// own in run_driver).
TEST(ProcessState, StartValues) {
    detail_output_flags = last_page = page_base = current_page = 0;
    own_file = nullptr;
    init_process_state();
    EXPECT_EQ(detail_output_flags, DETAIL_TO_LIST | DETAIL_TO_STATUS);
    EXPECT_EQ(own_file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(current_page, -1);
    EXPECT_EQ(last_page, 1);
    EXPECT_EQ(page_base, 4);
}

class StatusOutput : public Script {
protected:
    void SetUp() override {
        InitCommonControls();
        model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        model_.languages[0].strings[LS_LOG_EXTRACT] = text("Extract: ");
        model_.languages[0].strings[LS_LOG_DIR_CREATED] = encoded("\xF1: ");
        load();
        list_ = CreateWindowA(WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 0, 300, 120, nullptr,
                              nullptr, nullptr, nullptr);
        status_ = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 300, 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        ASSERT_NE(status_, nullptr);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH;
        column.cx = 10;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
        detail_list = list_;
        detail_status = status_;
    }
    void TearDown() override {
        detail_list = detail_status = nullptr;
        detail_output_flags = 3;
        DestroyWindow(list_);
        DestroyWindow(status_);
        Script::TearDown();
    }
    int rows() { return (int)SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0); }
    std::string row(int i) {
        char text[2048] = "";
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(list_, LVM_GETITEMTEXTA, i, (LPARAM)&item);
        return text;
    }
    std::string status() {
        char text[2048] = "";
        GetWindowTextA(status_, text, sizeof(text));
        return text;
    }
    HWND list_ = nullptr, status_ = nullptr;
};

TEST_F(StatusOutput, FlagsChooseListStatusBothOrNeither) {
    struct Case {
        int32_t flags;
        bool row, status;
    };
    const Case cases[] = {{3, true, true}, {1, true, false}, {2, false, true}, {4, false, false},
                          {0, false, false}, {-1, true, true}, {0x101, true, false}};
    int n = 0;
    for (const Case& c : cases) {
        detail_output_flags = c.flags;
        SetWindowTextA(status_, "before");
        const std::string line = "line " + std::to_string(c.flags);
        log_line("line ", std::to_string(c.flags).c_str());
        if (c.row) ++n;
        EXPECT_EQ(rows(), n) << c.flags;
        if (c.row) {
            EXPECT_EQ(row(n - 1), line) << c.flags;
        }
        EXPECT_EQ(status(), c.status ? line : "before") << c.flags;
    }
}

TEST_F(StatusOutput, EveryRowGoesAtTheEndAndTheColumnSpansTheList) {
    for (int i = 0; i < 30; ++i) log_line("row ", std::to_string(i).c_str());
    ASSERT_EQ(rows(), 30);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(row(i), "row " + std::to_string(i));
    // The list has scrolled to the last row.
    RECT item{LVIR_BOUNDS, 0, 0, 0}, client;
    SendMessageA(list_, LVM_GETITEMRECT, 29, (LPARAM)&item);
    GetClientRect(list_, &client);
    EXPECT_LE(item.bottom, client.bottom);
    EXPECT_GE(item.top, client.top);
    EXPECT_EQ(SendMessageA(list_, LVM_GETCOLUMNWIDTH, 0, 0), client.right - client.left);
}

TEST_F(StatusOutput, LongLinesAreDroppedWhole) {
    const std::string prefix(1000, 'p');
    log_line(prefix.c_str(), std::string(23, 't').c_str());  // 1023 bytes
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(row(0).size(), 1023u);
    EXPECT_EQ(status().size(), 1023u);
    SetWindowTextA(status_, "kept");
    log_line(prefix.c_str(), std::string(24, 't').c_str());  // 1024 bytes
    log_line("", std::string(5000, 'x').c_str());
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(status(), "kept");
}

TEST_F(StatusOutput, LanguagePrefixesStayUnexpanded) {
    lstrcpyA(var_slots[VAR_INSTALL_DIR], "C:\\App");
    log_line_lang(LS_LOG_EXTRACT, "a.txt");
    log_line_lang(LS_LOG_DIR_CREATED, "x");
    log_line_lang(LS_LOG_RENAME, "only text");  // no string: empty prefix
    ASSERT_EQ(rows(), 3);
    EXPECT_EQ(row(0), "Extract: a.txt");
    EXPECT_EQ(row(1), "\xF1: x");
    EXPECT_EQ(row(2), "only text");
}

TEST_F(StatusOutput, NothingBeforeTheDetailsListExists) {
    detail_list = nullptr;  // the status handle alone does not count
    SetWindowTextA(status_, "before");
    log_line("a", "b");
    log_line_lang(LS_LOG_EXTRACT, "c");
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(status(), "before");
}

// ---- Double-byte code pages ------------------------------------------------------------

#define KATAKANA_SO "\x83\x5C"  // one character in code page 932; its second byte is a backslash

class EngineDoubleByte : public Expansion {
protected:
    void SetUp() override {
        require_code_page_932();
    }
};

TEST_F(EngineDoubleByte, TrailByteIsNoTrailingBackslash) {
    add({"\xF1|", "\xF2|"});
    lstrcpyA(var_slots[VAR_INSTALL_DIR], "C:\\" KATAKANA_SO);
    lstrcpyA(var_slots[VAR_OUTPUT_DIR], "C:\\" KATAKANA_SO "\\");
    EXPECT_EQ(expand(0), "C:\\" KATAKANA_SO "|");
    EXPECT_EQ(expand(1), "C:\\" KATAKANA_SO "|");
}

}  // namespace
