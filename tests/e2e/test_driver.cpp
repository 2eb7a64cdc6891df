// The driver's commands against a window of known content (qmshow.exe, built
// for the target under test): list view items, progress bar, control states,
// the waits for delayed changes, the close box. Each run reads the window of
// its own target with its own driver, and with the driver of the other target.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

const bool kI686 = std::string(stub_target()) == "i686";

// The program of the target under test.
std::string show_exe() { return kI686 && *QM_SHOW_EXE_I686 ? QM_SHOW_EXE_I686 : QM_SHOW_EXE; }

// What qmshow.exe puts into its list view 1016, in order.
std::vector<std::string> expected_items() {
    std::vector<std::string> items = {
        "Extract: readme.txt", "Output folder: C:\\Program Files\\Example", "tab\there", "", "été 日本",
    };
    std::string long_item = "long:";
    while (long_item.size() < 3000) long_item += (char)('a' + long_item.size() % 26);
    items.push_back(long_item);
    for (int i = 1; i <= 40; ++i) items.push_back("line " + std::to_string(i));
    return items;
}

// A qmshow window with a title of its own, closed at the end of the test.
struct Shown {
    std::string title;
    WineProcess process;
    Shown(const std::string& name, const std::vector<std::string>& extra = {})
        : title("Driver test " + std::string(stub_target()) + " " + name), process(show_exe(), args(title, extra), 90) {}
    static std::vector<std::string> args(const std::string& title, const std::vector<std::string>& extra) {
        std::vector<std::string> a = {title};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
    // The driver commands that select the window, to start a sequence with.
    std::vector<std::string> select() const {
        return {"wait", "--title", title, "--exe", process.exe_name(), "--timeout", "30000", ":"};
    }
    // Closes it the way `close` does.
    void post_close() {
        DriverRun run = drive(with({"close"}));
        EXPECT_EQ(run.code, 0) << run.report();
    }
    // Its exit code, once it has ended.
    int exit_code() {
        Exit exit = process.wait(20);
        return exit.finished ? exit.code : -1;
    }
    int close() {
        post_close();
        return exit_code();
    }
    std::vector<std::string> with(const std::vector<std::string>& commands) const {
        std::vector<std::string> all = select();
        all.insert(all.end(), commands.begin(), commands.end());
        return all;
    }
};

// The lines with this prefix.
std::vector<std::string> lines_starting(const DriverRun& run, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : run.lines)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

void expect_list_read(const DriverRun& run, const std::string& who) {
    ASSERT_EQ(run.code, 0) << who << "\n" << run.report();
    // The full list, then the empty one.
    std::vector<std::string> counts = run.values("count");
    ASSERT_EQ(counts.size(), 2u) << who << "\n" << run.report();
    const std::vector<std::string> want = expected_items();
    EXPECT_EQ(counts[0], std::to_string(want.size())) << who;
    EXPECT_EQ(counts[1], "0") << who;
    std::vector<std::string> items = run.values("item");
    ASSERT_EQ(items.size(), want.size()) << who << "\n" << run.report();
    // The first item that differs, if any, rather than one failure per item.
    size_t first = std::mismatch(want.begin(), want.end(), items.begin()).first - want.begin();
    if (first < want.size()) ADD_FAILURE() << who << ": item " << first << " is \"" << items[first] << "\", not \"" << want[first] << "\"";
    EXPECT_EQ(run.values("selected"), (std::vector<std::string>{"2", "-1"})) << who;
    // Scrolled to the last item: the first line shown is well into the list.
    std::vector<std::string> tops = run.values("top");
    ASSERT_EQ(tops.size(), 2u) << who;
    EXPECT_GT(std::stoi(tops[0]), 10) << who;
    EXPECT_LT(std::stoi(tops[0]), (int)want.size()) << who;
    EXPECT_EQ(tops[1], "0") << who;
}

// One window for the tests that leave it as it is. A window takes Wine two
// seconds to close on the test display (it waits for a window manager that
// is not there), so the tests share it, and close their others side by side.
class Driver : public testing::Test {
protected:
    static void SetUpTestSuite() { shared_ = new Shown("shared"); }
    static void TearDownTestSuite() {
        EXPECT_EQ(shared_->close(), 4);
        delete shared_;
        shared_ = nullptr;
    }
    static Shown* shared_;
};
Shown* Driver::shared_ = nullptr;

TEST_F(Driver, ReadsListViewProgressBarAndControls) {
    const Shown& shown = *shared_;
    DriverRun run = drive(shown.with({"items", "--id", "1016", ":", "items", "--id", "1017", ":",
                                      "progress", "--id", "1004", ":", "dump", ":",
                                      "state", "--id", "3", ":", "state", "--id", "2", ":",
                                      "state", "--id", "1016"}));
    expect_list_read(run, "own driver");
    EXPECT_EQ(run.value("position"), "12345");
    EXPECT_EQ(run.value("range"), "10 70000");
    EXPECT_EQ(run.value("visible"), "1");

    // Every control of the window and of its page, each with its parent:
    // "main" for the window's own, the page's id for the page's.
    const std::vector<std::string> dumped = lines_starting(run, "control: ");
    for (const std::string want : {
             "control: id=1000 class=#32770 visible=1 enabled=1 parent=main text=",
             "control: id=1016 class=SysListView32 visible=1 enabled=1 parent=1000 text=",
             "control: id=1004 class=msctls_progress32 visible=1 enabled=1 parent=1000 text=",
             "control: id=1 class=Button visible=1 enabled=1 parent=main text=&Next",
             "control: id=2 class=Button visible=1 enabled=0 parent=main text=Cancel",
             "control: id=3 class=Button visible=0 enabled=1 parent=main text=< &Back",
             "control: id=11 class=Static visible=0 enabled=1 parent=main text=Shown later",
         }) {
        EXPECT_NE(std::find(dumped.begin(), dumped.end(), want), dumped.end()) << want << "\n" << run.report();
    }
    // state prints one control's line as dump does, after the dump's lines.
    ASSERT_GE(dumped.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(dumped.end() - 3, dumped.end()),
              (std::vector<std::string>{
                  "control: id=3 class=Button visible=0 enabled=1 parent=main text=< &Back",
                  "control: id=2 class=Button visible=1 enabled=0 parent=main text=Cancel",
                  "control: id=1016 class=SysListView32 visible=1 enabled=1 parent=1000 text=",
              }));
}

// Each failing command stops its sequence with exit 1 and says why on stderr.
TEST_F(Driver, RefusesWhatTheControlCannotGive) {
    const Shown& shown = *shared_;
    const struct {
        std::vector<std::string> commands;
        std::string error;
    } cases[] = {
        {{"items", "--id", "10"}, "items: control 10 is a Static, not a list view"},
        {{"items", "--id", "999"}, "items: no control with id 999"},
        {{"progress", "--id", "1016"}, "progress: control 1016 is a SysListView32, not a progress bar"},
        {{"visible", "--id", "11", "--timeout", "300"}, "visible: control 11 is not visible after 300 ms"},
        {{"hidden", "--id", "12", "--timeout", "300"}, "hidden: control 12 is not hidden after 300 ms"},
        {{"enabled", "--id", "13", "--timeout", "300"}, "enabled: control 13 is not enabled after 300 ms"},
        {{"visible", "--id", "999", "--timeout", "300"}, "visible: no control with id 999 appeared after 300 ms"},
        {{"waittext", "--id", "10", "--timeout", "300", "Completed"},
         "waittext: control 10 is not showing \"Completed\" after 300 ms (it shows \"Working\")"},
        {{"waittitle", "--timeout", "300", "Something else"},
         "waittitle: the title is still \"" + shown.title + "\" after 300 ms, not \"Something else\""},
    };
    for (const auto& c : cases) {
        DriverRun run = drive(shown.with(c.commands));
        EXPECT_EQ(run.code, 1) << c.error << "\n" << run.report();
        EXPECT_NE(run.errors.find("error: " + c.error), std::string::npos) << run.report();
    }
    // Nothing of that changed the window.
    DriverRun after = drive(shown.with({"progress", "--id", "1004", ":", "waittext", "--id", "10", "Working"}));
    EXPECT_EQ(after.code, 0) << after.report();
    EXPECT_EQ(after.value("position"), "12345");
}

TEST_F(Driver, WaitsForChangesThatComeLater) {
    Shown shown("changes");
    const std::string done = shown.title + " (done)";
    // The changes come 700 ms after the press; every wait has to catch its own.
    DriverRun run = drive(shown.with({"press", "--id", "1", ":", "waittitle", "--timeout", "5000", done, ":",
                                      "visible", "--id", "11", ":", "hidden", "--id", "12", ":",
                                      "enabled", "--id", "13", ":", "waittext", "--id", "10", "Completed", ":",
                                      "progress", "--id", "1004"}));
    ASSERT_EQ(run.code, 0) << run.report();
    EXPECT_EQ(run.value("title"), done);
    EXPECT_EQ(run.value("visible"), "id=11");
    EXPECT_EQ(run.value("hidden"), "id=12");
    EXPECT_EQ(run.value("enabled"), "id=13");
    EXPECT_EQ(run.value("text"), "Completed");
    EXPECT_EQ(run.value("position"), "70000");
    // The title changed, so the window is found by its new one.
    shown.title = done;
    EXPECT_EQ(shown.close(), 4);
}

// closebox is a user's click: refused where a user could not click, and then
// close (WM_CLOSE, as another program asks) still closes the window. The
// program's exit code says which way it was closed.
TEST_F(Driver, ClosesThroughTheCloseBoxOnlyWhereAUserCould) {
    const struct {
        const char* mode;
        const char* refusal;  // nullptr: closebox closes the window
    } cases[] = {
        {"", nullptr},
        {"noclose", "has no close box"},
        {"nosysmenu", "has no close box"},
        {"disabled", "is disabled"},
    };
    std::vector<std::unique_ptr<Shown>> windows;
    for (const auto& c : cases)
        windows.push_back(std::make_unique<Shown>(std::string("close ") + (*c.mode ? c.mode : "box"),
                                                  *c.mode ? std::vector<std::string>{c.mode}
                                                          : std::vector<std::string>{}));
    for (size_t i = 0; i < windows.size(); ++i) {
        Shown& shown = *windows[i];
        DriverRun run = drive(shown.with({"closebox"}));
        if (!cases[i].refusal) {
            EXPECT_EQ(run.code, 0) << run.report();
            EXPECT_EQ(run.value("closebox"), "pressed");
            continue;
        }
        EXPECT_EQ(run.code, 1) << shown.title << "\n" << run.report();
        EXPECT_NE(run.errors.find(cases[i].refusal), std::string::npos) << run.report();
    }
    // The refused ones are still there, and close as another program asks.
    for (size_t i = 0; i < windows.size(); ++i) {
        if (!cases[i].refusal) continue;
        EXPECT_FALSE(windows[i]->process.wait(0).finished) << windows[i]->title << " closed anyway";
        windows[i]->post_close();
    }
    for (size_t i = 0; i < windows.size(); ++i)
        EXPECT_EQ(windows[i]->exit_code(), cases[i].refusal ? 4 : 3)
            << windows[i]->title << (cases[i].refusal ? ": not closed by WM_CLOSE alone" : ": not closed through WM_SYSCOMMAND SC_CLOSE");
}

// A list view lives in its program's memory, laid out for that program's
// bitness. The x86_64 driver reads an i686 program's list view; the i686
// driver refuses an x86_64 program's, naming the driver to use, and never
// prints what it could not read.
TEST_F(Driver, ListViewOfTheOtherBitness) {
    const std::string other = kI686 ? "x86_64" : "i686";
    const std::string driver = driver_path(other);
    if (driver == driver_path(stub_target())) GTEST_SKIP() << "no driver built for " << other;
    DriverRun probe = drive_with(driver, {"--help"});
    if (probe.code != 0) GTEST_SKIP() << "the " << other << " driver does not run here\n" << probe.report();

    const Shown& shown = *shared_;
    DriverRun run = drive_with(driver, shown.with({"items", "--id", "1016", ":", "items", "--id", "1017"}));
    if (kI686) {
        expect_list_read(run, "x86_64 driver, i686 program");
    } else {
        EXPECT_EQ(run.code, 1) << run.report();
        EXPECT_NE(run.errors.find("error: items: the list view belongs to a 64-bit process, which this 32-bit "
                                  "driver cannot read: use the x86_64 driver"),
                  std::string::npos)
            << run.report();
        EXPECT_TRUE(run.values("count").empty()) << run.report();
        EXPECT_TRUE(run.values("item").empty()) << run.report();
        // What needs no memory of the other process works with either driver.
        DriverRun bar = drive_with(driver, shown.with({"progress", "--id", "1004", ":", "state", "--id", "1016"}));
        EXPECT_EQ(bar.code, 0) << bar.report();
        EXPECT_EQ(bar.value("range"), "10 70000");
    }
}

}  // namespace
