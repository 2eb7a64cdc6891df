// The window instructions on windows of this process: a top-level window with
// two controls, found by class and title, reached by control id, sent
// messages (the set-text message with an expanded text), asked whether they
// still exist, and given a window value.
#include "engine_fixture.h"

namespace {

using engine_test::Script;

class Windows : public Script {
protected:
    void SetUp() override {
        top_ = CreateWindowExA(0, "STATIC", "qm window test", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
        ASSERT_NE(top_, nullptr);
        first_ = CreateWindowExA(0, "EDIT", "first", WS_CHILD, 0, 0, 50, 20, top_, (HMENU)77, nullptr, nullptr);
        second_ = CreateWindowExA(0, "STATIC", "second", WS_CHILD, 0, 30, 50, 20, top_, (HMENU)78, nullptr, nullptr);
        ASSERT_NE(first_, nullptr);
        ASSERT_NE(second_, nullptr);
    }
    void TearDown() override {
        if (top_) DestroyWindow(top_);
        Script::TearDown();
    }
    static std::string number(HWND window) { return std::to_string((int32_t)(LONG_PTR)window); }
    static std::string text_of(HWND window) {
        char text[256] = "";
        GetWindowTextA(window, text, sizeof(text));
        return text;
    }
    HWND top_ = nullptr, first_ = nullptr, second_ = nullptr;
};

TEST_F(Windows, FindByClassTitleParentAndPredecessor) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "by_title:  find_window $var0, \"Static\", \"qm window test\"\n end\n"
        "by_class:  find_window $var0, \"Edit\", \"\", $var1\n end\n"
        "first:     find_window $var0, \"\", \"\", $var1\n end\n"  // any class and title: the first child
        "after:     find_window $var0, \"\", \"\", $var1, $var2\n end\n"
        "missing:   find_window $var0, \"Static\", \"no such window here\"\n end\n"
        "no_result: find_window none, \"Static\", \"qm window test\"\n end\n"));
    EXPECT_EQ(run("by_title"), 0);
    EXPECT_STREQ(var_slots[0], number(top_).c_str());
    lstrcpyA(var_slots[1], number(top_).c_str());
    EXPECT_EQ(run("by_class"), 0);
    EXPECT_STREQ(var_slots[0], number(first_).c_str());
    EXPECT_EQ(run("first"), 0);
    EXPECT_STREQ(var_slots[0], number(first_).c_str());
    lstrcpyA(var_slots[2], number(first_).c_str());
    EXPECT_EQ(run("after"), 0);
    EXPECT_STREQ(var_slots[0], number(second_).c_str());
    EXPECT_EQ(run("missing"), 0);
    EXPECT_STREQ(var_slots[0], "0");
    lstrcpyA(var_slots[0], "kept");
    EXPECT_EQ(run("no_result"), 0);
    EXPECT_STREQ(var_slots[0], "kept");
    EXPECT_EQ(error_count, 0);
}

TEST_F(Windows, DialogItemsMessagesAndWindowValues) {
    ASSERT_NO_FATAL_FAILURE(load_script(
        "item:      get_dialog_item $var1, $var0, 78\n end\n"
        "no_item:   get_dialog_item $var1, $var0, 79\n end\n"
        "set_text:  send_message none, $var1, 12, 0, \"hello {var3}\"\n end\n"
        "length:    send_message $var4, $var1, 14\n end\n"  // the text's length comes back as the result
        "limit:     send_message none, $var2, \"0xC5\", 3\n end\n"  // an edit control's text limit, by number
        "user_data: set_window_long $var1, GWL_USERDATA, 4660\n end\n"
        "is:        if_window $var1, yes, no\n"
        "no:        copy_string $var5, \"no\"\n end\n"
        "yes:       copy_string $var5, \"yes\"\n end\n"));
    lstrcpyA(var_slots[0], number(top_).c_str());
    EXPECT_EQ(run("item"), 0);
    EXPECT_STREQ(var_slots[1], number(second_).c_str());
    EXPECT_EQ(run("no_item"), 0);
    EXPECT_STREQ(var_slots[1], "0");

    lstrcpyA(var_slots[1], number(second_).c_str());
    lstrcpyA(var_slots[3], "world");
    EXPECT_EQ(run("set_text"), 0);
    EXPECT_EQ(text_of(second_), "hello world");
    EXPECT_EQ(run("length"), 0);
    EXPECT_STREQ(var_slots[4], "11");
    lstrcpyA(var_slots[2], number(first_).c_str());
    EXPECT_EQ(run("limit"), 0);
    EXPECT_EQ(SendMessageA(first_, EM_GETLIMITTEXT, 0, 0), 3);

    EXPECT_EQ(run("user_data"), 0);
    EXPECT_EQ(GetWindowLongPtrA(second_, GWLP_USERDATA), 4660);

    struct Case {
        std::string window;
        const char* expected;
    };
    const HWND gone = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const std::string gone_number = number(gone);
    DestroyWindow(gone);
    for (const Case& k : std::vector<Case>{{number(second_), "yes"}, {"0", "no"}, {gone_number, "no"}, {"", "no"}}) {
        lstrcpyA(var_slots[1], k.window.c_str());
        EXPECT_EQ(run("is"), 0);
        EXPECT_STREQ(var_slots[5], k.expected) << "window " << k.window;
    }
    EXPECT_EQ(error_count, 0);
}

}  // namespace
