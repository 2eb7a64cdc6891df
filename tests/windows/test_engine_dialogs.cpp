// The invalid-instruction message with the stub's own instruction table, for
// opcodes outside the instruction set and for the instructions that take that
// path on a malformed entry or an endless call: each case shows the message
// (answered by the driver program) and aborts the code segment.
#include "engine_fixture.h"

#include <iterator>

#include "engine/instructions.h"

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

}  // namespace
