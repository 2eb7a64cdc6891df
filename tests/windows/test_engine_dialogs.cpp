// Message boxes of the engine, answered by the driver program: opcodes
// outside the instruction set and the instructions that take the
// invalid-instruction path on a malformed entry or an endless call (each shows
// the message and aborts the code segment, with the stub's own instruction
// table), and the questions and messages of file extraction.
#include "engine_fixture.h"

#include <atomic>
#include <iterator>
#include <thread>

#include "engine/instructions.h"
#include "tests/windows/files_fixture.h"

namespace {

const char kCaption[] = "Moteur: instructions";
const char kThisProgram[] = "win_dialog_tests.exe";

class InvalidOpcodes : public engine_test::Script {};

TEST_F(InvalidOpcodes, ShowTheMessageAndAbort) {
    if (engine_test::env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
    // Numbers that never name an instruction, and the first and the last
    // instruction whose family is not part of this build.
    std::vector<int32_t> opcodes = {0, 64, 68, 69, 71, -1, INT32_MIN, INT32_MAX};
    for (int32_t op : {0, 1, 64, 68, 69}) EXPECT_EQ(instruction_table[op], nullptr) << op;
    int32_t first_missing = 0, last_missing = 0;
    for (int32_t op = 2; op < OP_TABLE_SIZE; ++op) {
        if (op == 64 || op == 68 || op == 69 || instruction_table[op]) continue;
        if (!first_missing) first_missing = op;
        last_missing = op;
    }
    if (first_missing) opcodes.push_back(first_missing);
    if (last_missing && last_missing != first_missing) opcodes.push_back(last_missing);

    model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    for (int32_t op : opcodes) {
        model_.entries.push_back({op, 0, 0, 0, 0, 0});
        model_.entries.push_back({OP_RETURN, 0, 0, 0, 0, 0});
    }
    load();
    lstrcpyA(caption, kCaption);
    // One more box: OP_RETURN itself, when it is executed as an entry.
    engine_test::Driver driver(engine_test::press_ok_on_boxes(kCaption, kThisProgram, (int)opcodes.size() + 1));
    for (size_t i = 0; i < opcodes.size(); ++i) {
        progress_count = 0;
        EXPECT_EQ(run_code_segment(script_entries, 1 + 2 * (int32_t)i, nullptr), RESULT_ABORT) << opcodes[i];
    }
    EXPECT_EQ(execute_entry(script_entries, 0), RESULT_ABORT);
    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    const size_t boxes = opcodes.size() + 1;
    EXPECT_EQ(engine_test::occurrences(output, std::string("text: ") + engine_test::invalid_text() + "\n"), boxes)
        << output;
    EXPECT_EQ(engine_test::occurrences(output, "icon: yes"), boxes) << output;
    EXPECT_EQ(engine_test::occurrences(output, "button: OK\n"), boxes) << output;
    EXPECT_EQ(engine_test::occurrences(output, "button: "), boxes) << "OK is the only button\n" << output;
}

class MalformedFlow : public engine_test::Script {};

std::vector<std::string> stack_texts() {
    std::vector<std::string> out;
    for (StackNode* n = string_stack; n; n = n->next) out.push_back(n->text);
    return out;
}

TEST_F(MalformedFlow, DeepExchangeAndEndlessCallsShowTheMessage) {
    if (engine_test::env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
    ASSERT_NO_FATAL_FAILURE(load_script(
        "two:      stack \"a\"\n"
        "          stack \"b\"\n"
        "          end\n"
        "deep:     stack exchange=2\n"
        "          copy_string $var0, \"never\"\n"
        "          end\n"
        "backward: stack exchange=-1\n"
        "          end\n"
        "self:     call self\n"
        "          end\n"));
    lstrcpyA(caption, kCaption);
    struct Case {
        const char* segment;
        bool with_stack;
    };
    const Case cases[] = {
        {"deep", true},       // two nodes: the walk meets the end of the stack
        {"deep", false},      // no node at all
        {"backward", true},   // a negative depth names no node
        {"self", false},      // the nesting limit ends the recursion
    };
    engine_test::Driver driver(engine_test::press_ok_on_boxes(kCaption, kThisProgram, (int)std::size(cases)));
    for (const Case& c : cases) {
        while (StackNode* top = string_stack) {
            string_stack = top->next;
            GlobalFree(top);
        }
        if (c.with_stack) {
            EXPECT_EQ(run("two"), 0);
        }
        const std::vector<std::string> before = stack_texts();
        EXPECT_EQ(run(c.segment), RESULT_ABORT) << c.segment;
        EXPECT_EQ(stack_texts(), before) << c.segment;
        EXPECT_EQ(call_depth, 0) << c.segment;
    }
    EXPECT_STREQ(var_slots[0], "");
    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    const size_t boxes = std::size(cases);
    EXPECT_EQ(engine_test::occurrences(output, std::string("text: ") + engine_test::invalid_text() + "\n"), boxes)
        << output;
    EXPECT_EQ(engine_test::occurrences(output, "button: OK\n"), boxes) << output;
}

// ---- File extraction --------------------------------------------------------------

const char kFilesCaption[] = "Moteur: fichiers";

// Driver commands for one box with this title: describe it, press the
// button with this identifier, wait until it has gone.
std::string answer_box(const std::string& title, int button) {
    return "wait --title \"" + title + "\" --class #32770 --exe " + kThisProgram +
           " --timeout 20000 : msgbox : press --id " + std::to_string(button) + " : gone --timeout 5000";
}

// A message box of this process with the title, shown now; or null.
HWND shown_box(const std::string& title) {
    for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", title.c_str()); w;
         w = FindWindowExA(nullptr, w, "#32770", title.c_str())) {
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

// Once the driver has ended, answers with `button` every box with the title
// that is still shown: a driver that failed half-way makes the test fail
// instead of leaving it waiting for a user.
class LeftoverBoxes {
public:
    LeftoverBoxes(const engine_test::Driver& driver, const std::string& title, int button) {
        DuplicateHandle(GetCurrentProcess(), driver.process.hProcess, GetCurrentProcess(), &driver_, SYNCHRONIZE,
                        FALSE, 0);
        thread_ = std::thread([this, title, button] {
            while (driver_ && !stop_) {
                if (WaitForSingleObject(driver_, 50) != WAIT_OBJECT_0) continue;
                if (HWND box = shown_box(title)) PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                Sleep(50);
            }
        });
    }
    ~LeftoverBoxes() {
        stop_ = true;
        thread_.join();
        if (driver_) CloseHandle(driver_);
    }

private:
    HANDLE driver_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Counts the dialog windows this thread creates while it exists (message
// boxes, here) and lets go of a file when the second one is created: the
// first question was then asked while the file was held, the second is
// answered after it was let go.
class ReleaseAtSecondBox {
public:
    explicit ReleaseAtSecondBox(HANDLE file) {
        file_ = file;
        boxes_ = 0;
        hook_ = SetWindowsHookExA(WH_CBT, on_cbt, nullptr, GetCurrentThreadId());
    }
    ~ReleaseAtSecondBox() {
        UnhookWindowsHookEx(hook_);
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    bool hooked() const { return hook_ != nullptr; }
    int boxes() const { return boxes_; }

private:
    static LRESULT CALLBACK on_cbt(int code, WPARAM wparam, LPARAM lparam) {
        char name[16] = "";
        if (code == HCBT_CREATEWND && GetClassNameA((HWND)wparam, name, sizeof(name)) && !lstrcmpA(name, "#32770") &&
            ++boxes_ == 2 && file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }
    static HANDLE file_;
    static int boxes_;
    HHOOK hook_ = nullptr;
};
HANDLE ReleaseAtSecondBox::file_ = INVALID_HANDLE_VALUE;
int ReleaseAtSecondBox::boxes_ = 0;

class ExtractQuestions : public files_test::FileScript {
protected:
    void SetUp() override {
        if (engine_test::env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
        FileScript::SetUp();
    }
    void TearDown() override {
        caption[0] = 0;
        FileScript::TearDown();
    }
};

TEST_F(ExtractQuestions, AbortRetryIgnoreWhenTheFileCannotBeOpened) {
    payload("new", "new contents");
    assemble("always:\n extract_file always, \"{var1}\", \"new\"\n end\n");
    lstrcpyA(caption, kFilesCaption);
    const std::string name = "busy.dll", target = path(name);
    files_test::write_text(target, "old");
    lstrcpyA(var_slots[1], name.c_str());
    lstrcpyA(var_slots[0], "the script's own");
    engine_test::Driver driver(answer_box(kFilesCaption, IDIGNORE) + " : " + answer_box(kFilesCaption, IDABORT) +
                               " : " + answer_box(kFilesCaption, IDRETRY) + " : " + answer_box(kFilesCaption, IDRETRY));
    LeftoverBoxes leftovers(driver, kFilesCaption, IDABORT);

    HANDLE holder = files_test::hold(target);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Ignore: skipped with an error.
    EXPECT_EQ(run("always"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(details_.take(), std::vector<std::string>{});
    EXPECT_STREQ(var_slots[0], "the script's own");
    // Abort: the code segment ends, naming the file it could not write.
    error_count = 0;
    EXPECT_EQ(run("always"), RESULT_ABORT);
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(details_.take(), std::vector<std::string>{"cannot write: " + target});
    EXPECT_STREQ(var_slots[0], "the script's own");
    EXPECT_EQ(files_test::read_text(target), "old");

    // Retry while the file is still held asks again; the file is let go as
    // the second question comes, and Retry then writes it.
    int boxes = 0;
    {
        ReleaseAtSecondBox release(holder);
        ASSERT_TRUE(release.hooked());
        EXPECT_EQ(run("always"), 0);
        boxes = release.boxes();
    }
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(files_test::read_text(target), "new contents");
    EXPECT_EQ(details_.take(), std::vector<std::string>{"extract: " + name});
    EXPECT_STREQ(var_slots[0], "the script's own");

    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    // Every question shows the full target path through its UserVar 0 code,
    // with the stop icon and the three buttons.
    EXPECT_EQ(engine_test::occurrences(output, "text: Cannot write " + files_test::backslashes(target) + ".\n"), 4u)
        << output;
    EXPECT_EQ(engine_test::occurrences(output, "icon: yes"), 4u) << output;
    for (const char* button : {"Abort", "Retry", "Ignore"})
        EXPECT_EQ(engine_test::occurrences(output, std::string("button: &") + button + "\n") +
                      engine_test::occurrences(output, std::string("button: ") + button + "\n"),
                  4u)
            << button << "\n"
            << output;
    EXPECT_EQ(engine_test::occurrences(output, "button: "), 12u) << output;
}

TEST_F(ExtractQuestions, WriteErrorAndDamagedDataEndTheSegment) {
    payload("new", "new contents");
    // Z:\dev\full opens like a file and refuses every byte written to it,
    // as a full disk does.
    assemble("full:\n extract_file always, \"Z:\\dev\\full\", \"new\"\n end\n"
             "damaged:\n extract_file always, \"damaged.bin\", \"new\"\n end\n");
    // A block far past the end of the stream cannot be read.
    script_entries[label("damaged")].p2 = 0x01000000;
    lstrcpyA(caption, kFilesCaption);
    engine_test::Driver driver(engine_test::press_ok_on_boxes(kFilesCaption, kThisProgram, 2));
    LeftoverBoxes leftovers(driver, kFilesCaption, IDOK);

    EXPECT_EQ(run("full"), RESULT_ABORT);
    EXPECT_EQ(run("damaged"), RESULT_ABORT);
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(details_.take(), (std::vector<std::string>{"extract: Z:\\dev\\full", "extract: damaged.bin"}));

    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    EXPECT_EQ(engine_test::occurrences(output, "text: Write error: Z:\\\\dev\\\\full\n"), 1u) << output;
    EXPECT_EQ(engine_test::occurrences(output, "text: The installer is damaged.\n"), 1u) << output;
    EXPECT_EQ(engine_test::occurrences(output, "icon: yes"), 2u) << output;
    EXPECT_EQ(engine_test::occurrences(output, "button: OK\n"), 2u) << output;
}

}  // namespace
