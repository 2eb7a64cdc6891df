// The script's own logic, on scripts assembled from text and run through the
// real instruction table: jumps and calls, the error counter and the flags,
// strings, integers, the string stack and the sections. The cases that end in
// the invalid-instruction message are in test_engine_dialogs.cpp, where the
// driver program answers it.
#include "engine_fixture.h"

#include <commctrl.h>

#include <climits>
#include <utility>

#include "engine/ops_flow.h"
#include "engine/status.h"

namespace {

using engine_test::Script;

class Flow : public Script {};

// One labelled segment per case, c0, c1, ..., each made from `line` with the
// case's operands; returns the script text.
template <typename Case, typename Line>
std::string one_segment_per_case(const std::vector<Case>& cases, Line line) {
    std::string source;
    for (size_t i = 0; i < cases.size(); ++i) source += "c" + std::to_string(i) + ": " + line(cases[i]) + "\n end\n";
    return source;
}

std::string c(size_t i) { return "c" + std::to_string(i); }

// ---- Strings ----------------------------------------------------------------------

TEST_F(Flow, CopyStringCountsAndStarts) {
    struct Case {
        const char* text;
        const char* count;  // operand as written; "none" means no count
        const char* start;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"abcdef", "none", "none", "abcdef"},
        {"abcdef", "3", "none", "abc"},
        {"abcdef", "-2", "none", "abcd"},
        {"abcdef", "none", "4", "ef"},
        {"abcdef", "none", "-2", "ef"},
        {"abcdef", "none", "-10", ""},
        {"abcdef", "0", "none", ""},          // a count given as 0
        {"abcdef", "\"\"", "none", ""},       // an empty count text reads as 0 too
        {"abcdef", "none", "10", ""},
        {"abcdef", "2", "1", "bc"},
        {"abcdef", "-1", "-3", "de"},         // the count applies to what the start left
        {"abcdef", "-6", "none", ""},
        {"abcdef", "-100", "2", ""},
        {"abcdef", "100", "none", "abcdef"},
        {"abcdef", "\"0x2\"", "\"01\"", "bc"},  // numbers in every syntax
        {"", "3", "-1", ""},
    };
    ASSERT_NO_FATAL_FAILURE(load_script(one_segment_per_case(cases, [](const Case& k) {
        return std::string("copy_string $var0, \"") + k.text + "\", " + k.count + ", " + k.start;
    })));
    for (size_t i = 0; i < cases.size(); ++i) {
        lstrcpyA(var_slots[0], "old");
        EXPECT_EQ(run(c(i)), 0);
        EXPECT_STREQ(var_slots[0], cases[i].expected)
            << "count " << cases[i].count << ", start " << cases[i].start;
    }
    EXPECT_EQ(error_count, 0);
}

TEST_F(Flow, CopyStringOntoItselfAndAtTheBound) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "wrap: copy_string $var0, \"<{var0}>\"\n end\n"
        "tail: copy_string $var0, $var0, none, 1\n end\n"
        "long: copy_string $var1, \"{var2}{var2}\"\n end\n"
        "cut:  copy_string $var1, \"{var2}{var2}\", 1500\n end\n"));
    lstrcpyA(var_slots[0], "ab");
    EXPECT_EQ(run("wrap"), 0);
    EXPECT_STREQ(var_slots[0], "<ab>");
    EXPECT_EQ(run("tail"), 0);
    EXPECT_STREQ(var_slots[0], "ab>");
    // Two 1000-byte insertions: the VarSlot gets the first 1023 bytes and the
    // next VarSlot is untouched, with or without a count beyond the bound.
    const std::string thousand(1000, 'x');
    lstrcpyA(var_slots[2], thousand.c_str());
    for (const char* segment : {"long", "cut"}) {
        EXPECT_EQ(run(segment), 0);
        EXPECT_EQ(std::string(var_slots[1]), std::string(1023, 'x')) << segment;
        EXPECT_EQ(std::string(var_slots[2]), thousand) << segment;
    }
}

TEST_F(Flow, StringLengthAndCaseInsensitiveComparison) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "len: string_length $var5, \"{var0}{var0}\"\n end\n"
        "cmp: compare_string $var0, $var1, 1f, 2f\n"
        "1:   copy_string $var5, \"equal\"\n end\n"
        "2:   copy_string $var5, \"different\"\n end\n"));
    struct Case {
        std::string text;
        const char* length;
    };
    // The text is $var0 twice; an expansion is cut at 1023 bytes.
    const Case lengths[] = {{"abc", "6"}, {"", "0"}, {std::string(1000, 'y'), "1023"}, {"caf\xE9", "8"}};
    for (const Case& k : lengths) {
        lstrcpyA(var_slots[0], k.text.c_str());
        EXPECT_EQ(run("len"), 0);
        EXPECT_STREQ(var_slots[5], k.length) << k.text.size();
    }
    struct Pair {
        const char* a;
        const char* b;
        const char* result;
    };
    const Pair pairs[] = {{"Hello", "hELLO", "equal"}, {"a", "b", "different"}, {"", "", "equal"},
                          {"abc", "abc ", "different"}, {"C:\\Prog", "c:\\prog", "equal"}};
    for (const Pair& k : pairs) {
        lstrcpyA(var_slots[0], k.a);
        lstrcpyA(var_slots[1], k.b);
        EXPECT_EQ(run("cmp"), 0);
        EXPECT_STREQ(var_slots[5], k.result) << k.a << " / " << k.b;
    }
}

TEST_F(Flow, FormatIntTakesOneIntegerConversionOnly) {
    struct Case {
        const char* format;  // as written in the script
        const char* value;
        const char* expected;
        bool error;
    };
    const std::vector<Case> cases = {
        {"%d", "-5", "-5", false},
        {"%i", "0x10", "16", false},
        {"%u", "-1", "4294967295", false},
        {"%08X", "255", "000000FF", false},
        {"%#x", "255", "0xff", false},
        {"%-5d|", "42", "42   |", false},
        {"%.3d", "7", "007", false},
        {"%ld and %%", "9", "9 and %", false},
        {"no conversion", "7", "no conversion", false},
        {"", "7", "", false},
        // Anything that would read more than one integer, or something else.
        {"%s", "1", "", true},
        {"%c", "65", "", true},
        {"%d %d", "1", "", true},
        {"%d%s", "1", "", true},
        {"%I64d", "1", "", true},
        {"%lld", "1", "", true},
        {"%p", "1", "", true},
        {"%*d", "1", "", true},
        {"%+d", "1", "", true},
        {"%S", "1", "", true},
        {"100%", "1", "", true},
        {"%1024d", "1", "", true},
        {"%.1024d", "1", "", true},
        {"%99999999999d", "1", "", true},
    };
    ASSERT_NO_FATAL_FAILURE(load_script(one_segment_per_case(cases, [](const Case& k) {
        return std::string("format_int $var0, \"") + k.format + "\", \"" + k.value + "\"";
    })));
    for (size_t i = 0; i < cases.size(); ++i) {
        lstrcpyA(var_slots[0], "old");
        error_count = 0;
        EXPECT_EQ(run(c(i)), 0);
        EXPECT_STREQ(var_slots[0], cases[i].expected) << cases[i].format;
        EXPECT_EQ(error_count, cases[i].error ? 1 : 0) << cases[i].format;
    }
}

TEST_F(Flow, FormatIntOutputIsCutToTheVarSlot) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "wide: format_int $var0, \"%1023d\", 12\n end\n"
        "over: format_int $var0, \"ab%1023d\", 12\n end\n"
        "text: format_int $var0, \"{var2}{var2}%d\", 12\n end\n"));
    lstrcpyA(var_slots[1], "next slot");
    lstrcpyA(var_slots[2], std::string(600, 't').c_str());
    EXPECT_EQ(run("wide"), 0);
    EXPECT_EQ(std::string(var_slots[0]), std::string(1021, ' ') + "12");
    for (const char* segment : {"over", "text"}) {
        EXPECT_EQ(run(segment), 0);
        EXPECT_LE(lstrlenA(var_slots[0]), 1023) << segment;
        EXPECT_STREQ(var_slots[1], "next slot") << segment;
    }
    EXPECT_EQ(std::string(var_slots[0], 5), "ttttt");
    EXPECT_EQ(error_count, 0);
}

TEST_F(Flow, FormatRule) {
    struct Case {
        const char* format;
        int safe;
    };
    const Case cases[] = {{"%%%d%%", 1}, {"%%s", 1}, {"%0-#10.5lX", 1}, {"%", 0}, {"%l", 0}, {"%.", 0},
                          {"%x%", 0}, {"%1023.1023u", 1}, {"%01024d", 0}, {"%n", 0}, {"%ls", 0}, {"%hc", 0}};
    for (const Case& k : cases) EXPECT_EQ(format_takes_one_int(k.format), k.safe) << k.format;
}

// ---- Integers ---------------------------------------------------------------------

TEST_F(Flow, IntegerOperations) {
    struct Case {
        const char* a;
        const char* b;
        const char* operation;
        const char* expected;
        bool error;
    };
    const std::vector<Case> cases = {
        {"7", "10", "sub", "-3", false},
        {"7", "10", "add", "17", false},
        {"2147483647", "1", "add", "-2147483648", false},
        {"-2147483648", "1", "sub", "2147483647", false},
        {"65536", "65536", "mul", "0", false},
        {"-3", "4", "mul", "-12", false},
        {"-7", "2", "div", "-3", false},
        {"7", "-2", "div", "-3", false},
        {"7", "0", "div", "0", true},
        {"-2147483648", "-1", "div", "-2147483648", false},
        {"5", "-1", "div", "-5", false},
        {"-7", "2", "mod", "-1", false},
        {"7", "-3", "mod", "1", false},
        {"7", "0", "mod", "0", true},
        {"-2147483648", "-1", "mod", "0", false},
        {"12", "3", "or", "15", false},
        {"12", "10", "and", "8", false},
        {"12", "10", "xor", "6", false},
        {"0", "99", "not", "-1", false},
        {"5", "none", "not", "-6", false},
        {"0", "7", "lnot", "1", false},
        {"5", "0", "lnot", "0", false},
        {"0", "0", "lor", "0", false},
        {"0", "3", "lor", "1", false},
        {"2", "3", "land", "1", false},
        {"2", "0", "land", "0", false},
        {"0x10", "010", "add", "24", false},
        {"42", "1", "12", "42", false},   // unknown operations store a
        {"42", "1", "-1", "42", false},
        {"42", "1", "0x7FFFFFFF", "42", false},
    };
    ASSERT_NO_FATAL_FAILURE(load_script(one_segment_per_case(cases, [](const Case& k) {
        return std::string("int_operation $var0, \"") + k.a + "\", " +
               (std::string(k.b) == "none" ? "none" : std::string("\"") + k.b + "\"") + ", " + k.operation;
    })));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& k = cases[i];
        error_count = 0;
        EXPECT_EQ(run(c(i)), 0);
        EXPECT_STREQ(var_slots[0], k.expected) << k.a << " " << k.operation << " " << k.b;
        EXPECT_EQ(error_count, k.error ? 1 : 0) << k.a << " " << k.operation << " " << k.b;
    }
}

TEST_F(Flow, SignedAndUnsignedComparison) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "int:  compare_int $var0, $var1, eq, lt, gt\n"
        "uint: compare_uint $var0, $var1, eq, lt, gt\n"
        "eq:   copy_string $var5, \"equal\"\n end\n"
        "lt:   copy_string $var5, \"less\"\n end\n"
        "gt:   copy_string $var5, \"greater\"\n end\n"));
    struct Case {
        const char* a;
        const char* b;
        const char* as_signed;
        const char* as_unsigned;
    };
    const Case cases[] = {
        {"-1", "1", "less", "greater"},
        {"1", "1", "equal", "equal"},
        {"0x80000000", "0x7FFFFFFF", "less", "greater"},
        {"2", "1", "greater", "greater"},
        {"0", "-1", "greater", "less"},
        {"4294967295", "-1", "equal", "equal"},
        {"", "0", "equal", "equal"},
    };
    for (const Case& k : cases) {
        lstrcpyA(var_slots[0], k.a);
        lstrcpyA(var_slots[1], k.b);
        EXPECT_EQ(run("int"), 0);
        EXPECT_STREQ(var_slots[5], k.as_signed) << k.a << " ? " << k.b;
        EXPECT_EQ(run("uint"), 0);
        EXPECT_STREQ(var_slots[5], k.as_unsigned) << k.a << " ? " << k.b;
    }
}

// ---- Flow, the error counter and the flags -------------------------------------------

TEST_F(Flow, IfErrorTestsAndReplacesTheCount) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "five:  if_error 1f, 2f, 5\n"
        "1:     copy_string $var0, \"error\"\n end\n"
        "2:     copy_string $var0, \"none\"\n end\n"
        "clear: if_error 1b, 2b\n end\n"));
    struct Step {
        const char* segment;
        int32_t before;
        const char* taken;
        int32_t after;
    };
    const Step steps[] = {
        {"five", 0, "none", 5}, {"five", 5, "error", 5}, {"five", 123, "error", 5},
        {"clear", 5, "error", 0}, {"clear", 0, "none", 0}, {"clear", -1, "error", 0},
    };
    for (const Step& s : steps) {
        error_count = s.before;
        EXPECT_EQ(run(s.segment), 0);
        EXPECT_STREQ(var_slots[0], s.taken) << s.segment << " from " << s.before;
        EXPECT_EQ(error_count, s.after) << s.segment << " from " << s.before;
    }
}

TEST_F(Flow, FlagsAndTheRebootFlag) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "set:   set_reboot_flag 7\n"
        "       set_all_users 0x101\n"
        "       set_auto_close 0x100\n"
        "       detail_output \"ignored\", status\n"
        "test:  if_reboot_flag 1f, 2f\n"
        "1:     copy_string $var0, \"reboot\"\n end\n"
        "2:     copy_string $var0, \"no reboot\"\n end\n"
        "clear: set_reboot_flag 0\n"
        "       set_auto_close 1\n"
        "       jump test\n end\n"));
    EXPECT_EQ(run("set"), 0);
    EXPECT_EQ(reboot_flag, 7);
    EXPECT_EQ(all_users_flag, 1);  // the low byte
    EXPECT_EQ(auto_close_flag, 0);
    EXPECT_EQ(detail_output_flags, 2);
    EXPECT_STREQ(var_slots[0], "reboot");
    EXPECT_EQ(run("clear"), 0);
    EXPECT_EQ(reboot_flag, 0);
    EXPECT_EQ(auto_close_flag, 1);
    EXPECT_STREQ(var_slots[0], "no reboot");
}

class FlowWithProgress : public Flow {
protected:
    void SetUp() override {
        InitCommonControls();
        bar_ = CreateWindowA(PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(bar_, nullptr);
        SendMessageA(bar_, PBM_SETRANGE32, 0, 30000);
    }
    void TearDown() override {
        DestroyWindow(bar_);
        Flow::TearDown();
    }
    HWND bar_ = nullptr;
};

TEST_F(FlowWithProgress, CallsRunWithoutTheProgressBar) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "main:  call sub\n"
        "       call next\n"          // target 0: runs nothing
        "       call $var5\n"         // indirect, through a VarSlot
        "       copy_string $var0, \"back\"\n"
        "       end\n"
        "sub:   copy_string $var1, \"{var1}s\"\n"
        "       jump 1f\n"
        "       abort \"never\"\n"
        "       abort \"never\"\n"
        "1:     end\n"
        "fatal: call 1f\n"
        "       copy_string $var0, \"after the abort\"\n"
        "       end\n"
        "1:     call 2f\n"
        "       end\n"
        "2:     abort\n end\n"));
    wsprintfA(var_slots[5], "%d", label("sub") + 1);
    progress_total = 100;
    EXPECT_EQ(run_code_segment(script_entries, label("main"), bar_), 0);
    EXPECT_STREQ(var_slots[0], "back");
    EXPECT_STREQ(var_slots[1], "ss");  // the segment ran twice
    // Only main's own four entries moved the bar.
    EXPECT_EQ(progress_count, 4);
    EXPECT_EQ(SendMessageA(bar_, PBM_GETPOS, 0, 0), 4 * 30000 / 100);

    // An abort two calls deep ends every caller.
    var_slots[0][0] = 0;
    EXPECT_EQ(run_code_segment(script_entries, label("fatal"), bar_), RESULT_ABORT);
    EXPECT_STREQ(var_slots[0], "");
    EXPECT_EQ(progress_count, 4);
    EXPECT_EQ(call_depth, 0);
    // A VarSlot whose jump value reads 0 or negative runs nothing.
    for (const char* value : {"0", "-3"}) {
        lstrcpyA(var_slots[5], value);
        var_slots[1][0] = 0;
        EXPECT_EQ(run("main"), 0) << value;
        EXPECT_STREQ(var_slots[1], "s") << value;
    }
}

// The details list of the install-files page, as the status output sees it.
class FlowWithDetails : public Flow {
protected:
    void SetUp() override {
        InitCommonControls();
        list_ = CreateWindowA(WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 0, 300, 120, nullptr,
                              nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH;
        column.cx = 100;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
        detail_list = list_;
    }
    void TearDown() override {
        detail_list = nullptr;
        DestroyWindow(list_);
        Flow::TearDown();
    }
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        const int n = (int)SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char text[2048] = "";
            LVITEMA item{};
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            SendMessageA(list_, LVM_GETITEMTEXTA, i, (LPARAM)&item);
            out.push_back(text);
        }
        return out;
    }
    HWND list_ = nullptr;
};

TEST_F(FlowWithDetails, DetailLinesAndTheAbortMessage) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "main: detail_output \"Step {var0}\"\n"
        "      detail_output \"not shown\", list\n"
        "      detail_output \"Step two\"\n"
        "      abort \"{var1}\"\n"
        "      detail_output \"never\"\n"
        "      end\n"
        "quit: quit\n"
        "      copy_string $var2, \"never\"\n"
        "      end\n"));
    lstrcpyA(var_slots[0], "one");
    lstrcpyA(var_slots[1], "2");
    EXPECT_EQ(run("main"), RESULT_ABORT);
    EXPECT_EQ(rows(), (std::vector<std::string>{"Step one", "Step two", "2"}));
    EXPECT_EQ(detail_output_flags, 1);
    // The wizard reads the abort's message from the expansion buffer.
    EXPECT_STREQ(expansion_buffer, "2");

    // Quit: counted; the quit message only when there is a main window.
    MSG message;
    EXPECT_EQ(run("quit"), RESULT_ABORT);
    EXPECT_EQ(quit_count, 1);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    current_main_window = list_;
    EXPECT_EQ(run("quit"), RESULT_ABORT);
    EXPECT_EQ(quit_count, 2);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_STREQ(var_slots[2], "");
}

TEST_F(Flow, MainWindowInstructions) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "hide:  hide_window\n end\n"
        "front: bring_to_front\n end\n"));
    // Without a main window (a silent run) nothing happens.
    EXPECT_EQ(run("hide"), 0);
    EXPECT_EQ(run("front"), 0);
    // A child of a hidden window stands in for the main window: its own
    // visible style changes at once, without a round trip to the display.
    HWND parent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    HWND window = CreateWindowA("STATIC", "main", WS_CHILD, 0, 0, 50, 50, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    auto shown = [&] { return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; };
    current_main_window = window;
    EXPECT_FALSE(shown());
    EXPECT_EQ(run("front"), 0);
    EXPECT_TRUE(shown());
    EXPECT_EQ(run("hide"), 0);
    EXPECT_FALSE(shown());
    current_main_window = nullptr;
    DestroyWindow(parent);
}

TEST_F(Flow, SleepWaitsAtLeastOneMillisecond) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "short: sleep $var0\n end\n"));
    // Values below 1 must not become an endless wait.
    for (const char* ms : {"0", "-1", "-2147483648", ""}) {
        lstrcpyA(var_slots[0], ms);
        const DWORD before = GetTickCount();
        EXPECT_EQ(run("short"), 0);
        EXPECT_LT(GetTickCount() - before, 1000u) << ms;
    }
    lstrcpyA(var_slots[0], "60");
    const DWORD before = GetTickCount();
    EXPECT_EQ(run("short"), 0);
    EXPECT_GE(GetTickCount() - before, 45u);
}

// ---- The string stack ----------------------------------------------------------------

std::vector<std::string> stack_texts() {
    std::vector<std::string> out;
    for (StackNode* n = string_stack; n; n = n->next) out.push_back(n->text);
    return out;
}

TEST_F(Flow, StackPushPopAndExchange) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "ab:   stack \"a\"\n"
        "      stack \"b\"\n"
        "      stack exchange=1\n"
        "      end\n"
        "c:    stack \"c{var9}\"\n"
        "      stack exchange=2\n"
        "      end\n"
        "pop:  stack $var0, pop\n"
        "      stack $var1, pop\n"
        "      stack $var2, pop\n"
        "      stack $var3, pop\n"
        "      end\n"
        "long: stack \"{var4}{var4}\"\n"
        "      end\n"));
    EXPECT_EQ(run("ab"), 0);
    EXPECT_EQ(stack_texts(), (std::vector<std::string>{"a", "b"}));
    lstrcpyA(var_slots[9], "!");
    EXPECT_EQ(run("c"), 0);  // c! a b, then the top and the third change places
    EXPECT_EQ(stack_texts(), (std::vector<std::string>{"b", "a", "c!"}));
    EXPECT_EQ(error_count, 0);

    lstrcpyA(var_slots[3], "kept");
    EXPECT_EQ(run("pop"), 0);
    EXPECT_STREQ(var_slots[0], "b");
    EXPECT_STREQ(var_slots[1], "a");
    EXPECT_STREQ(var_slots[2], "c!");
    EXPECT_STREQ(var_slots[3], "kept");  // popped from the empty stack
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(string_stack, nullptr);

    // A pushed text is cut like any expanded parameter.
    lstrcpyA(var_slots[4], std::string(1000, 'z').c_str());
    EXPECT_EQ(run("long"), 0);
    ASSERT_NE(string_stack, nullptr);
    EXPECT_EQ(std::string(string_stack->text), std::string(1023, 'z'));
}

TEST_F(Flow, StackNodesArePlainGlobalMemory) {
    ASSERT_NO_FATAL_FAILURE(load_script("pop: stack $var0, pop\n end\n"));
    // A node as a plug-in pushes it, with a text that fills the whole buffer.
    StackNode* node = (StackNode*)GlobalAlloc(GPTR, sizeof(StackNode));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(sizeof(StackNode), sizeof(void*) + 1024);
    memset(node->text, 'p', sizeof(node->text));
    string_stack = node;
    lstrcpyA(var_slots[1], "next slot");
    EXPECT_EQ(run("pop"), 0);
    EXPECT_EQ(std::string(var_slots[0]), std::string(1023, 'p'));
    EXPECT_STREQ(var_slots[1], "next slot");
    EXPECT_EQ(string_stack, nullptr);
}

// ---- Sections ------------------------------------------------------------------------

// Records what the components page would be told.
std::vector<std::pair<UINT, std::pair<WPARAM, LPARAM>>> page_messages;

LRESULT CALLBACK fake_page(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == MSG_SECTION_TEXT || message == MSG_SECTION_CHECK) page_messages.push_back({message, {w, l}});
    return DefWindowProcA(window, message, w, l);
}

class Sections : public Flow {
protected:
    void SetUp() override {
        model_.sections.push_back({text("Core"), 0x80000001u, 0, 0, 0, 0});
        model_.sections.push_back({-1, 0, 0, 0, 0, 0});  // a hidden section
        model_.sections.push_back({encoded("\xDC tools"), 2, 0, 0, 0, 0});
        ASSERT_NO_FATAL_FAILURE(load_script(
            "get_name:  section $var0, get_name, $var1\n end\n"
            "get_flags: section $var0, get_flags, $var1\n end\n"
            "set_flags: section $var0, set_flags, $var2\n end\n"
            "set_name:  section $var0, set_name, \"Renamed {var3}\"\n end\n"
            "odd_mode:  section $var0, 7, $var1\n end\n"));
        renamed_ = script_entries[label("set_name")].p2;
    }
    int32_t renamed_ = -1;
};

TEST_F(Sections, ReadAndChangeNamesAndFlags) {
    struct Step {
        const char* segment;
        const char* index;
        const char* value;  // into $var2 before the run
        const char* result;  // $var1 afterwards ("-" when nothing is written)
    };
    const Step steps[] = {
        {"get_name", "0", "", "Core"},
        {"get_name", "1", "", ""},  // negative name
        {"get_name", "2", "", "2 tools"},  // the name's code inserts $var0, the index
        {"get_flags", "0", "", "-2147483647"},  // selected: bit 31 makes it negative
        {"get_flags", "2", "", "2"},
        {"odd_mode", "0", "", "-2147483647"},   // any other mode reads the flags
        {"set_flags", "1", "0x80000000", "-"},
        {"get_flags", "1", "", "-2147483648"},
        {"set_flags", "0", "5", "-"},
        {"get_flags", "0", "", "5"},
        {"set_name", "1", "", "-"},
        {"get_name", "1", "", "Renamed V"},  // stored as an offset, expanded when read
    };
    for (const Step& s : steps) {
        lstrcpyA(var_slots[0], s.index);
        lstrcpyA(var_slots[2], s.value);
        lstrcpyA(var_slots[3], "V");
        lstrcpyA(var_slots[1], "-");
        EXPECT_EQ(run(s.segment), 0);
        EXPECT_STREQ(var_slots[1], s.result) << s.segment << " " << s.index;
    }
    EXPECT_EQ(section_records[1].name, renamed_);
    EXPECT_EQ(section_records[1].flags, 0x80000000u);
    EXPECT_EQ(section_records[0].flags, 5u);
    EXPECT_EQ(error_count, 0);
}

TEST_F(Sections, IndexOutOfRangeChangesNothing) {
    const std::vector<SectionRecord> before(section_records, section_records + 3);
    for (const char* index : {"3", "-1", "0x7FFFFFFF", "-2147483648", "4294967295"}) {
        for (const char* segment : {"get_name", "get_flags", "set_flags", "set_name"}) {
            lstrcpyA(var_slots[0], index);
            lstrcpyA(var_slots[1], "kept");
            lstrcpyA(var_slots[2], "1");
            error_count = 0;
            EXPECT_EQ(run(segment), 0);
            EXPECT_EQ(error_count, 1) << segment << " " << index;
            EXPECT_STREQ(var_slots[1], "kept") << segment << " " << index;
        }
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(section_records[i].name, before[i].name);
        EXPECT_EQ(section_records[i].flags, before[i].flags);
    }
    // An uninstaller has no sections at all.
    uninstaller_mode = 1;
    lstrcpyA(var_slots[0], "0");
    error_count = 0;
    EXPECT_EQ(run("get_flags"), 0);
    uninstaller_mode = 0;
    EXPECT_EQ(error_count, 1);
    EXPECT_STREQ(var_slots[1], "kept");
}

TEST_F(Sections, ThePublishedComponentsPageIsTold) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = fake_page;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QmFakeComponentsPage";
    RegisterClassA(&wc);
    HWND page = CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    page_messages.clear();

    // Not published: nothing is sent.
    lstrcpyA(var_slots[0], "1");
    lstrcpyA(var_slots[2], "0x80000000");
    EXPECT_EQ(run("set_flags"), 0);
    EXPECT_TRUE(page_messages.empty());

    components_page_window = page;
    EXPECT_EQ(run("set_flags"), 0);
    lstrcpyA(var_slots[0], "2");
    lstrcpyA(var_slots[2], "0x7FFFFFFF");
    EXPECT_EQ(run("set_flags"), 0);
    EXPECT_EQ(run("set_name"), 0);
    lstrcpyA(var_slots[0], "0");
    EXPECT_EQ(run("get_name"), 0);  // reading tells nothing
    EXPECT_EQ(run("get_flags"), 0);
    components_page_window = nullptr;
    DestroyWindow(page);

    using M = std::pair<UINT, std::pair<WPARAM, LPARAM>>;
    const std::vector<M> expected = {
        {MSG_SECTION_CHECK, {1, 1}},
        {MSG_SECTION_CHECK, {2, 0}},
        {MSG_SECTION_TEXT, {2, renamed_}},
    };
    EXPECT_EQ(page_messages, expected);
    EXPECT_EQ(section_records[2].name, renamed_);
}

// ---- A script that computes -----------------------------------------------------------

TEST_F(Flow, LoopThatComputes) {
    // Sums 1..10, lists the numbers, then reverses the list through the stack.
    ASSERT_NO_FATAL_FAILURE(load_script(R"(
main:   copy_string $var0, 1            # i
        copy_string $var1, 0            # sum
        copy_string $var2, ""           # digits
1:      int_operation $var1, $var1, $var0, add
        copy_string $var2, "{var2}{var0},"
        stack $var0
        int_operation $var0, $var0, 1, add
        compare_int $var0, 10, 1b, 1b, next
        format_int $var3, "sum=%d", $var1
        copy_string $var2, $var2, -1    # the last comma goes
        string_length $var4, $var2
        copy_string $var5, ""
2:      stack $var6, pop
        if_error 3f
        copy_string $var5, "{var5}{var6} "
        jump 2b
3:      compare_string $var5, "10 9 8 7 6 5 4 3 2 1 ", next, fail
        int_operation $var7, $var1, 7, mod
        end
fail:   abort "wrong order"
        end
)"));
    EXPECT_EQ(run("main"), 0);
    EXPECT_STREQ(var_slots[1], "55");
    EXPECT_STREQ(var_slots[2], "1,2,3,4,5,6,7,8,9,10");
    EXPECT_STREQ(var_slots[3], "sum=55");
    EXPECT_STREQ(var_slots[4], "20");
    EXPECT_STREQ(var_slots[5], "10 9 8 7 6 5 4 3 2 1 ");
    EXPECT_STREQ(var_slots[7], "6");
    EXPECT_EQ(error_count, 0);  // the one error of the empty pop was tested and cleared
    EXPECT_EQ(string_stack, nullptr);
}

}  // namespace
