// The code-segment loop: jumps, indirect targets, aborts, nesting and the
// progress arithmetic, and the invalid-instruction path for every value from
// the data block that points outside the script, the VarSlots or the pool.
//
// This program links its own instruction table in place of the stub's: a few
// small instructions with the result conventions of the real ones, so that
// the loop can be driven by any sequence of results. The message boxes of the
// invalid-instruction path are answered by the driver program.
#include "engine_fixture.h"

#include <commctrl.h>

#include <functional>
#include <map>
#include <utility>

#include "engine/instructions.h"

namespace {

struct Visit {
    int32_t index;
    int32_t progress;  // progress_count when the entry ran
    bool operator==(const Visit& o) const { return index == o.index && progress == o.progress; }
};
std::vector<Visit> visits;
std::map<int32_t, int> runs;

int32_t visit(const ScriptEntry* e) {
    const int32_t index = (int32_t)(e - script_entries);
    visits.push_back({index, progress_count});
    return runs[index]++;
}

// 2: result p0.
int32_t test_jump(const ScriptEntry* e) {
    visit(e);
    return e->p0;
}
// 3: abort.
int32_t test_abort(const ScriptEntry* e) {
    visit(e);
    return RESULT_ABORT;
}
// 4: result p0 the first time this entry runs, 0 afterwards.
int32_t test_once(const ScriptEntry* e) { return visit(e) == 0 ? e->p0 : 0; }
// 5: uses p1 as a string, then runs the code segment at target p0, as a
// call does.
int32_t test_call(const ScriptEntry* e) {
    visit(e);
    pool_string(e->p1);
    return run_code_segment(script_entries, resolve_target(e->p0) - 1, nullptr);
}
// 6: uses p0 as a string, p1 as a slot; result p2.
int32_t test_params(const ScriptEntry* e) {
    visit(e);
    pool_string(e->p0);
    slot_param(e->p1)[0] = 0;
    return e->p2;
}

enum { J = 2, A = 3, ONCE = 4, CALL = 5, P = 6, R = OP_RETURN };

}  // namespace

extern const InstructionHandler instruction_table[OP_TABLE_SIZE] = {
    nullptr, nullptr, test_jump, test_abort, test_once, test_call, test_params,
};

namespace {

using engine_test::Script;

ScriptEntry op(int32_t opcode, int32_t p0 = 0, int32_t p1 = 0, int32_t p2 = 0) { return {opcode, p0, p1, p2, 0, 0}; }

class Loop : public Script {
protected:
    // Builds and loads the script; once per test.
    void run_script(std::vector<ScriptEntry> entries) {
        model_.entries = std::move(entries);
        load();
        visits.clear();
        runs.clear();
    }
    std::vector<int32_t> visited() {
        std::vector<int32_t> v;
        for (const Visit& x : visits) v.push_back(x.index);
        return v;
    }
};

TEST_F(Loop, JumpValuesCountFromOneAndZeroIsTheNextEntry) {
    run_script({op(J, 0), op(J, 4), op(A), op(ONCE, 1), op(R)});
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), 0);
    EXPECT_EQ(visited(), (std::vector<int32_t>{0, 1, 3, 0, 1, 3}));
    // Started in the middle, the same code runs from there.
    visits.clear();
    EXPECT_EQ(run_code_segment(script_entries, 3, nullptr), 0);
    EXPECT_EQ(visited(), (std::vector<int32_t>{3}));
}

TEST_F(Loop, IndirectTargetsComeFromVarSlots) {
    std::vector<ScriptEntry> entries = {op(J, -3)};
    for (int i = 1; i < 15; ++i) entries.push_back(op(A));
    entries.push_back(op(J, 0));  // 15
    entries.push_back(op(R));     // 16
    run_script(entries);
    struct Case {
        const char* user_var_2;
        int32_t result;
        std::vector<int32_t> visited;
    };
    const Case cases[] = {
        {"0x10", 0, {0, 15}},       // entry 15
        {"-5", 0, {0}},             // negative: the segment ends normally
        {"0", RESULT_ABORT, {0, 1}},  // zero: the next entry
        {"17", 0, {0}},             // entry 16, the OP_RETURN
    };
    for (const Case& c : cases) {
        lstrcpyA(var_slots[2], c.user_var_2);
        visits.clear();
        EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), c.result) << c.user_var_2;
        EXPECT_EQ(visited(), c.visited) << c.user_var_2;
    }
}

TEST_F(Loop, AbortEndsTheSegmentAndEveryCaller) {
    run_script({op(CALL, 4), op(A), op(R), op(J, 0), op(CALL, 8), op(J, 0), op(R), op(A), op(R)});
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), RESULT_ABORT);
    EXPECT_EQ(visited(), (std::vector<int32_t>{0, 3, 4, 7}));
    EXPECT_EQ(call_depth, 0);
    // A call to a segment that returns continues after the call.
    visits.clear();
    EXPECT_EQ(run_code_segment(script_entries, 5, nullptr), 0);
    EXPECT_EQ(visited(), (std::vector<int32_t>{5}));
    // A call whose target is 0 runs nothing.
    script_entries[0] = op(CALL, 0);
    script_entries[1] = op(R);
    visits.clear();
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), 0);
    EXPECT_EQ(visited(), (std::vector<int32_t>{0}));
}

TEST_F(Loop, NestingUpToTheDepthLimit) {
    run_script({op(CALL, 4), op(R), op(R), op(J, 0), op(R)});
    call_depth = MAX_CALL_DEPTH - 2;  // room for this segment and the one it calls
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), 0);
    EXPECT_EQ(visited(), (std::vector<int32_t>{0, 3}));
    EXPECT_EQ(call_depth, MAX_CALL_DEPTH - 2);
    call_depth = 0;
}

// ---- Progress ----------------------------------------------------------------------

class Progress : public Loop {
protected:
    void SetUp() override {
        InitCommonControls();
        bar_ = CreateWindowA(PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(bar_, nullptr);
        // A range wide enough to read back every position that is sent.
        SendMessageA(bar_, PBM_SETRANGE32, 0, 0x7FFFFFFF);
    }
    void TearDown() override {
        DestroyWindow(bar_);
        Loop::TearDown();
    }
    int32_t position() { return (int32_t)SendMessageA(bar_, PBM_GETPOS, 0, 0); }
    HWND bar_ = nullptr;
};

TEST_F(Progress, ForwardAndBackwardJumpsMoveTheCount) {
    // 0: forward by 10; 10..13 step; 14: back by 4 once; then on to 15.
    std::vector<ScriptEntry> entries = {op(J, 11)};
    for (int i = 1; i < 10; ++i) entries.push_back(op(A));
    for (int i = 10; i < 14; ++i) entries.push_back(op(J, 0));
    entries.push_back(op(ONCE, 11));  // 14 -> 10
    entries.push_back(op(R));         // 15
    run_script(entries);
    progress_total = 100;
    EXPECT_EQ(run_code_segment(script_entries, 0, bar_), 0);
    const std::vector<Visit> expected = {{0, 0},   {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14},
                                         {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}};
    EXPECT_EQ(visits, expected);
    EXPECT_EQ(progress_count, 15);
    EXPECT_EQ(position(), 15 * 30000 / 100);
    // Without a progress window nothing moves.
    visits.clear();
    runs.clear();
    EXPECT_EQ(run_code_segment(script_entries, 0, nullptr), 0);
    EXPECT_EQ(progress_count, 15);
}

TEST_F(Progress, TotalZeroIsTakenAsOneAndPositionsAreRounded) {
    run_script({op(J, 0), op(R), op(A), op(R)});
    struct Case {
        int32_t count_before, total_before;
        int32_t position, total_after;
    };
    const Case cases[] = {
        {0, 0, 30000, 1},      // the first update makes the total 1
        {5, 0, 180000, 1},
        {0, 3, 10000, 3},
        {0, 7, 4286, 7},       // 4285.7: rounded to nearest, not cut
        {1, 7, 8571, 7},       // 8571.4
        {99999, 100000, 30000, 100000},
    };
    for (const Case& c : cases) {
        progress_count = c.count_before;
        progress_total = c.total_before;
        EXPECT_EQ(run_code_segment(script_entries, 0, bar_), 0);
        EXPECT_EQ(progress_count, c.count_before + 1);
        EXPECT_EQ(progress_total, c.total_after);
        EXPECT_EQ(position(), c.position) << c.count_before << "/" << c.total_before;
    }
    // An aborting entry moves nothing.
    progress_count = 3;
    progress_total = 10;
    SendMessageA(bar_, PBM_SETPOS, 1, 0);
    EXPECT_EQ(run_code_segment(script_entries, 2, bar_), RESULT_ABORT);
    EXPECT_EQ(progress_count, 3);
    EXPECT_EQ(position(), 1);
}

// ---- The invalid-instruction path ------------------------------------------------------

const char kCaption[] = "Moteur de test";
const char kThisProgram[] = "win_engine_tests.exe";

class InvalidPath : public Loop {
protected:
    void SetUp() override {
        if (engine_test::env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
        lstrcpyA(caption, kCaption);
    }
    // Runs every case while the driver answers one box per case; each case
    // must abort.
    void expect_one_box_each(const std::vector<std::pair<std::string, std::function<int32_t()>>>& cases) {
        engine_test::Driver driver(engine_test::press_ok_on_boxes(kCaption, kThisProgram, (int)cases.size()));
        for (const auto& c : cases) {
            EXPECT_EQ(c.second(), RESULT_ABORT) << c.first;
            EXPECT_EQ(call_depth, 0) << c.first;
        }
        std::string output;
        EXPECT_EQ(driver.finish(output), 0u) << output;
        EXPECT_EQ(engine_test::occurrences(output, std::string("text: ") + engine_test::invalid_text() + "\n"),
                  cases.size())
            << output;
        EXPECT_EQ(engine_test::occurrences(output, "icon: yes"), cases.size()) << output;
        EXPECT_EQ(engine_test::occurrences(output, "button: OK"), cases.size()) << output;
    }
};

TEST_F(InvalidPath, ValuesOutsideTheScriptVarSlotsOrPool) {
    // 0..1: a bad jump; 2..3: bad parameters; 4: runs off the end of the array.
    run_script({op(J, 0), op(R), op(P, 0, 0, 0), op(R), op(J, 0)});
    const int32_t count = script_entry_count();
    ASSERT_EQ(count, 5);
    auto set_entry = [](int32_t i, ScriptEntry e) { script_entries[i] = e; };
    auto run = [](int32_t start) { return [start] { return run_code_segment(script_entries, start, nullptr); }; };
    std::vector<std::pair<std::string, std::function<int32_t()>>> cases = {
        {"start at the entry count", run(count)},
        {"start far beyond", run(INT32_MAX)},
        {"runs off the end", run(4)},
        {"jump past the last entry", [&] { set_entry(0, op(J, count + 1)); return run(0)(); }},
        {"jump to the largest value", [&] { set_entry(0, op(J, INT32_MAX - 1)); return run(0)(); }},
        {"indirect jump through slot 25", [&] { set_entry(0, op(J, -26)); return run(0)(); }},
        {"indirect jump far below", [&] { set_entry(0, op(J, INT32_MIN)); return run(0)(); }},
        {"indirect value past the end", [&] {
             set_entry(0, op(J, -1));
             lstrcpyA(var_slots[0], "6");
             return run(0)();
         }},
        {"pool offset at the pool's end", [&] { set_entry(2, op(P, string_pool_length, 0)); return run(2)(); }},
        {"pool offset far beyond", [&] { set_entry(2, op(P, INT32_MAX, 0)); return run(2)(); }},
        {"slot 25", [&] { set_entry(2, op(P, -1, 25)); return run(2)(); }},
        {"slot -1", [&] { set_entry(2, op(P, -1, -1)); return run(2)(); }},
        {"unterminated last pool string", [&] {
             string_pool[string_pool_length - 1] = 'x';
             set_entry(2, op(P, last_string_, 0));
             const int32_t result = run(2)();
             string_pool[string_pool_length - 1] = 0;
             return result;
         }},
        {"call through slot 25", [&] { set_entry(0, op(CALL, -26)); return run(0)(); }},
        {"bad string of a call whose segment runs", [&] {
             set_entry(2, op(P, -1, 0));
             set_entry(0, op(CALL, 3, INT32_MAX));
             return run(0)();
         }},
        {"opcode without an instruction", [&] { set_entry(0, op(7)); return run(0)(); }},
        {"entry index outside the array", [&] { return execute_entry(script_entries, count); }},
        {"negative entry index", [&] { return execute_entry(script_entries, -1); }},
    };
    expect_one_box_each(cases);
}

TEST_F(InvalidPath, EndlessRecursionStopsAtTheDepthLimit) {
    run_script({op(J, 0), op(CALL, 1), op(R)});
    std::vector<std::pair<std::string, std::function<int32_t()>>> cases = {
        {"a segment that calls itself", [] { return run_code_segment(script_entries, 0, nullptr); }},
    };
    expect_one_box_each(cases);
    // Every level ran its two entries; the call from the deepest one was
    // refused with the one box, and every caller just passed the abort on.
    EXPECT_EQ(runs[0], MAX_CALL_DEPTH);
    EXPECT_EQ(runs[1], MAX_CALL_DEPTH);
}

}  // namespace
