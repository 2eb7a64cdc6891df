// The driver's commands against a window of known content (qmshow.exe, built
// for the target under test): list view items, progress bar, control states,
// the waits for delayed changes, the close box; on its components page a tree
// view with state images, a combo box, a rich-edit control and the folder
// browser. Each run reads the window of its own target with its own driver,
// and with the driver of the other target.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
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

// ------------------------------------------------------ the components page --

// An item of the tree that qmshow.exe's components page shows, as `tree`
// prints it (selected aside).
struct TreeItem {
    int depth;
    std::string text;
    int state;
    bool bold, children, expanded;
    int lparam;
};

std::string long_tree_item() {
    std::string text = "long:";
    while (text.size() < 700) text += (char)('a' + text.size() % 26);
    return text;
}

const std::vector<TreeItem>& tree_items() {
    static const std::vector<TreeItem> items = {
        {0, "Core files", 5, true, false, false, 0}, {0, "Program", 2, false, false, false, 1},
        {0, "Extras", 3, true, true, true, 2},       {1, "Docs", 2, false, false, false, 3},
        {1, "Samples", 1, false, false, false, 4},   {1, "More", 1, false, true, false, 5},
        {2, "Deep item", 1, false, false, false, 6}, {0, "Tools", 1, false, false, false, 9},
        {0, "Locked", 4, false, false, false, 10},   {0, "No image", 0, false, false, false, 11},
        {0, "Été 日本", 1, false, false, false, 12}, {0, long_tree_item(), 2, false, false, false, 13},
    };
    return items;
}

std::string tree_line(const TreeItem& item, bool selected) {
    auto yes = [](bool b) { return b ? std::string("yes") : std::string("no"); };
    return "depth=" + std::to_string(item.depth) + " state=" + std::to_string(item.state) + " bold=" + yes(item.bold) +
           " children=" + yes(item.children) + " expanded=" + yes(item.expanded) + " selected=" + yes(selected) +
           " lparam=" + std::to_string(item.lparam) + " text=" + item.text;
}

// The field NAME=VALUE of a `tree` line (the text is the rest of the line).
std::string field(const std::string& line, const std::string& name) {
    const size_t at = name == "text" ? line.find(" text=") + 1 : line.find(name + "=");
    if (at == std::string::npos || at == 0) return "";
    const size_t from = at + name.size() + 1;
    return name == "text" ? line.substr(from) : line.substr(from, line.find(' ', from) - from);
}

// The state image of each item of a `tree` run, by text.
std::map<std::string, int> states(const DriverRun& run) {
    std::map<std::string, int> found;
    for (const std::string& line : run.values("treeitem")) found[field(line, "text")] = std::stoi(field(line, "state"));
    return found;
}

// The items whose state image differs from `want`, "" when none does.
std::string differences(const std::map<std::string, int>& want, const std::map<std::string, int>& got) {
    std::string found;
    for (const auto& item : want) {
        auto it = got.find(item.first);
        if (it == got.end()) {
            found += "\n  " + item.first.substr(0, 40) + ": missing";
        } else if (it->second != item.second) {
            found += "\n  " + item.first.substr(0, 40) + ": " + std::to_string(it->second) + ", not " +
                     std::to_string(item.second);
        }
    }
    if (got.size() != want.size()) found += "\n  " + std::to_string(got.size()) + " items";
    return found;
}

std::string selected_item(const DriverRun& run) {
    for (const std::string& line : run.values("treeitem"))
        if (field(line, "selected") == "yes") return field(line, "text");
    return "";
}

std::map<std::string, int> initial_states() {
    std::map<std::string, int> found;
    for (const TreeItem& item : tree_items()) found[item.text] = item.state;
    return found;
}

// The text of the rich-edit control 1000, as qmshow.exe fills it.
std::string rich_text() {
    std::string text;
    for (int i = 1; i <= 1500; ++i) {
        char line[80];
        snprintf(line, sizeof line, "%05d résumé of the terms, line after line after line.\r\n", i);
        text += line;
    }
    return text + "end";
}

// A qmshow window showing the components page, once it answers: filling
// the rich-edit control and drawing it for the first time can take some
// seconds on a busy machine.
struct Components : Shown {
    explicit Components(const std::string& name) : Shown("components " + name, {"components"}) {
        DriverRun ready = drive(with({"waittext", "--id", "10", "--timeout", "30000", "Working"}));
        EXPECT_EQ(ready.code, 0) << ready.report();
    }
};

const std::vector<std::string> kTree = {"tree", "--id", "1032"};

// Commands joined into one sequence.
std::vector<std::string> seq(std::initializer_list<std::vector<std::string>> commands) {
    std::vector<std::string> all;
    for (const auto& c : commands) {
        if (!all.empty()) all.push_back(":");
        all.insert(all.end(), c.begin(), c.end());
    }
    return all;
}

TEST(DriverComponents, ReadsTreeComboAndRichText) {
    Components shown("read");
    DriverRun run = drive(shown.with(seq({kTree, {"combo", "--id", "1017"}, {"richtext", "--id", "1000"},
                                          {"text", "--id", "1021"}})));
    ASSERT_EQ(run.code, 0) << run.report();
    std::vector<std::string> want;
    for (const TreeItem& item : tree_items()) want.push_back(tree_line(item, item.text == "Program"));
    EXPECT_EQ(run.values("count"), (std::vector<std::string>{std::to_string(want.size()), "4"}));
    EXPECT_EQ(run.values("treeitem"), want) << run.report();
    EXPECT_EQ(run.values("entry"), (std::vector<std::string>{"Full", "Minimal", "Custom", "Été"}));
    EXPECT_EQ(run.value("selected"), "0");
    // More than 64 KiB, whole: its length in characters, and every byte.
    const std::string text = rich_text();
    const size_t characters = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
    ASSERT_GT(characters, 65536u);
    EXPECT_EQ(run.value("length"), std::to_string(characters));
    const std::vector<std::string> texts = run.values("text");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].size(), text.size());
    EXPECT_TRUE(texts[0] == text) << "the rich text differs; it ends with "
                                  << texts[0].substr(texts[0].size() - std::min<size_t>(texts[0].size(), 80));
    // Reading notified nobody.
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(shown.close(), 4);
}

// treeclick puts the cursor where it clicks: the page hit-tests the position
// that the message queue gives (as the installer's components page does), and
// reports the part it found in static 1041. A click on a check image toggles
// 1 and 2 (3 becomes 2), read-only images stay. Items out of view are
// scrolled into it first.
TEST(DriverComponents, TreeClicksHitThePartTheyName) {
    Components shown("clicks");
    const struct {
        std::vector<std::string> args;  // after treeclick --id 1032
        std::string seen;               // static 1041 afterwards
        int image;                      // the item's state image afterwards
    } cases[] = {
        {{"Tools"}, "click: state Tools", 2},
        {{"Tools"}, "click: state Tools", 1},
        {{"--part", "check", "Docs"}, "click: state Docs", 1},  // one level down
        {{"Extras"}, "click: state Extras", 2},                   // partly checked
        {{"Locked"}, "click: state Locked", 4},                   // read-only
        {{"Été 日本"}, "click: state Été 日本", 2},               // below the visible part
        {{"Core files"}, "click: state Core files", 5},           // above it, then
        {{"--part", "label", "Samples"}, "click: label Samples", 1},
        {{"--part", "label", "No image"}, "click: label No image", 0},
    };
    std::map<std::string, int> want = initial_states();
    for (const auto& c : cases) {
        const std::string item = c.args.back();
        const bool label = c.args.size() == 3 && c.args[1] == "label";
        std::vector<std::string> click = {"treeclick", "--id", "1032"};
        click.insert(click.end(), c.args.begin(), c.args.end());
        DriverRun run = drive(shown.with(seq({click, {"text", "--id", "1041"}, kTree})));
        ASSERT_EQ(run.code, 0) << item << "\n" << run.report();
        EXPECT_EQ(run.value("treeclick").rfind(std::string("part=") + (label ? "label" : "check") + " x=", 0), 0u)
            << run.report();
        EXPECT_EQ(field(run.value("treeclick"), "text"), item);
        EXPECT_EQ(run.value("text"), c.seen) << run.report();
        want[item] = c.image;
        EXPECT_EQ(differences(want, states(run)), "") << item << "\n" << run.report();
        // A click on the label selects the item, as in any tree.
        if (label) {
            EXPECT_EQ(selected_item(run), item);
        }
    }
    EXPECT_EQ(shown.close(), 4);
}

// The space key reaches the tree's window procedure through the program's
// message loop (the page's tree takes it there and toggles the selected
// item); treeselect selects as a click would and the owner hears of it;
// treehover moves the mouse onto a label, the cursor with it.
TEST(DriverComponents, SelectsHoversAndPressesSpaceInTheTree) {
    Components shown("keys");
    const struct {
        std::vector<std::string> commands;
        int static_id;
        std::string seen;
        std::string item;  // its image is `image` afterwards
        int image;
    } cases[] = {
        {{"treeselect", "--id", "1032", "Samples"}, 1043, "selected: Samples", "Samples", 1},
        {{"key", "--id", "1032", "32"}, 1043, "selected: Samples", "Samples", 2},
        {{"key", "--id", "1032", "32"}, 1043, "selected: Samples", "Samples", 1},
        {{"treeselect", "--id", "1032", "Extras"}, 1043, "selected: Extras", "Extras", 3},
        {{"key", "--id", "1032", "32"}, 1043, "selected: Extras", "Extras", 2},
        {{"treehover", "--id", "1032", "Docs"}, 1042, "hover: Docs", "Docs", 2},
        // A label wider than the tree: the point stays inside the tree.
        {{"treehover", "--id", "1032", long_tree_item()}, 1042, "hover: " + long_tree_item(), long_tree_item(), 2},
        {{"treehover", "--id", "1032", "Program"}, 1042, "hover: Program", "Program", 2},
    };
    std::map<std::string, int> want = initial_states();
    std::string selected = "Program";
    for (const auto& c : cases) {
        DriverRun run = drive(shown.with(seq({c.commands, {"text", "--id", std::to_string(c.static_id)}, kTree})));
        ASSERT_EQ(run.code, 0) << c.commands[0] << " " << c.commands.back() << "\n" << run.report();
        EXPECT_EQ(run.value("text"), c.seen) << run.report();
        want[c.item] = c.image;
        if (c.commands[0] == "treeselect") selected = c.item;
        EXPECT_EQ(differences(want, states(run)), "") << run.report();
        EXPECT_EQ(selected_item(run), selected) << run.report();
    }
    DriverRun said = drive(shown.with({"treeselect", "--id", "1032", "Tools"}));
    EXPECT_EQ(said.value("treeselect"), "Tools") << said.report();
    EXPECT_EQ(shown.close(), 4);
}

// choose tells the owner (CBN_SELCHANGE) once per choice, as the drop-down
// list does, even for the entry already chosen; the page counts them.
TEST(DriverComponents, ChoosesComboEntries) {
    Components shown("combo");
    const struct {
        std::vector<std::string> how;  // after choose --id 1017
        std::string chosen, seen;
    } cases[] = {
        {{"Custom"}, "2 Custom", "selchange 1: 2 Custom"},
        {{"--index", "3"}, "3 Été", "selchange 2: 3 Été"},
        {{"Été"}, "3 Été", "selchange 3: 3 Été"},
        {{"--index", "0"}, "0 Full", "selchange 4: 0 Full"},
        {{"Minimal"}, "1 Minimal", "selchange 5: 1 Minimal"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> choose = {"choose", "--id", "1017"};
        choose.insert(choose.end(), c.how.begin(), c.how.end());
        DriverRun run = drive(shown.with(seq({choose, {"text", "--id", "1021"}, {"combo", "--id", "1017"}})));
        ASSERT_EQ(run.code, 0) << run.report();
        EXPECT_EQ(run.value("chosen"), c.chosen);
        EXPECT_EQ(run.value("text"), c.seen);
        EXPECT_EQ(run.value("selected"), c.chosen.substr(0, 1));
    }
    EXPECT_EQ(shown.close(), 4);
}

// Each refusal stops the sequence with exit 1 (2 for a usage error) and
// says why, and leaves the page as it was.
TEST(DriverComponents, RefusesWhatTheTreeOrComboCannotDo) {
    Components shown("refusals");
    const struct {
        std::vector<std::string> commands;
        int code;
        std::string error;
    } cases[] = {
        {{"treeclick", "--id", "1032", "Deep item"}, 1,
         "treeclick: item \"Deep item\" is inside the collapsed item \"More\""},
        {{"treeselect", "--id", "1032", "Deep item"}, 1,
         "treeselect: item \"Deep item\" is inside the collapsed item \"More\""},
        {{"treehover", "--id", "1032", "Nothing"}, 1, "treehover: no item \"Nothing\" in tree view 1032 (items: \"Core"},
        {{"treeclick", "--id", "1032", "No image"}, 1,
         "treeclick: item \"No image\" shows no state image that a click could hit"},
        {{"tree", "--id", "1017"}, 1, "tree: control 1017 is a ComboBox, not a tree view"},
        {{"treeclick", "--id", "1000", "Tools"}, 1, "treeclick: control 1000 is a RICHEDIT, not a tree view"},
        {{"combo", "--id", "1032"}, 1, "combo: control 1032 is a SysTreeView32, not a combo box"},
        {{"choose", "--id", "1017", "full"}, 1,
         "choose: no entry \"full\" in combo box 1017 (entries: \"Full\", \"Minimal\", \"Custom\", \"Été\")"},
        {{"choose", "--id", "1017", "--index", "4"}, 1, "choose: combo box 1017 has 4 entries, no entry 4"},
        {{"richtext", "--id", "1019"}, 1, "richtext: control 1019 is a Edit, not a rich-edit control"},
        {{"browse-cancel", "--timeout", "300"}, 1, "browse-cancel: no folder browser of window 0x"},
        {{"treeclick", "--id", "1032", "--part", "icon", "Tools"}, 2, "treeclick: --part is check or label, not \"icon\""},
        {{"choose", "--id", "1017", "--index", "1", "Full"}, 2, "choose: usage is choose --id N (TEXT | --index K)"},
        {{"treeselect", "--id", "1032"}, 2, "treeselect: usage is treeselect --id N TEXT"},
    };
    for (const auto& c : cases) {
        DriverRun run = drive(shown.with(c.commands));
        EXPECT_EQ(run.code, c.code) << c.error << "\n" << run.report();
        EXPECT_NE(run.errors.find("error: " + c.error), std::string::npos) << run.report();
    }
    DriverRun after = drive(shown.with(seq({kTree, {"text", "--id", "1021"}, {"text", "--id", "1041"}})));
    ASSERT_EQ(after.code, 0) << after.report();
    EXPECT_EQ(differences(initial_states(), states(after)), "");
    EXPECT_EQ(selected_item(after), "Program");
    EXPECT_EQ(after.values("text"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(shown.close(), 4);
}

// The page's Browse button opens the shell's folder browser; the driver
// reads it, chooses a folder in it or cancels it, and the page shows the
// result in edit 1019.
TEST(DriverComponents, ChoosesOrCancelsInTheFolderBrowser) {
    // The browser lists what exists when it opens; every run makes the
    // folders anew.
    const std::string base = std::string("C:\\QmDriver ") + stub_target();
    std::filesystem::remove_all(drive_c_path(base));
    std::filesystem::create_directories(drive_c_path(base + "\\Été"));
    std::filesystem::create_directories(drive_c_path(base + "\\Other"));
    Components shown("browser");
    // The driver writes a path's backslashes doubled.
    auto escaped = [](std::string path) {
        for (size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2) path.insert(at, 1, '\\');
        return path;
    };
    const struct {
        bool open;  // press Browse first; else the browser is still open
        std::vector<std::string> act;
        std::vector<std::string> selected;  // browser-selected lines
        std::string result;                 // edit 1019 afterwards; "" for a refusal
    } cases[] = {
        // Cancel first: the i686 Wine's browser does not select anything
        // below a folder that no browser has listed before (here the new
        // one; a browser opened later does), the x86_64 one does.
        {true, {"browse-cancel"}, {"windows"}, "(cancelled)"},
        {true, {"browse-choose", base + "\\Été"}, {"windows", "Été"}, base + "\\Été"},
        {true, {"browse-choose", base + "\\Other\\"}, {"windows", "Other"}, base + "\\Other"},
        // Not there: the browser stays open and shows what it had.
        {true, {"browse-choose", base + "\\Missing"}, {"windows", "windows"}, ""},
        {false, {"browse-cancel"}, {"windows"}, "(cancelled)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> commands = c.open ? shown.with({"press", "--id", "1001", ":"}) : shown.select();
        commands.insert(commands.end(), c.act.begin(), c.act.end());
        DriverRun run = drive(commands);
        EXPECT_EQ(run.value("browser-text"), "Choose the destination folder") << run.report();
        EXPECT_EQ(run.values("browser-selected"), c.selected) << run.report();
        if (c.result.empty()) {
            EXPECT_EQ(run.code, 1) << run.report();
            EXPECT_NE(run.errors.find("error: browse-choose: the folder browser did not select \"" +
                                      escaped(c.act[1]) + "\" (it shows \"windows\")"),
                      std::string::npos)
                << run.report();
            EXPECT_TRUE(run.values("browse").empty()) << run.report();
            continue;
        }
        ASSERT_EQ(run.code, 0) << run.report();
        EXPECT_EQ(run.value("browse"), c.act[0] == "browse-cancel" ? "cancelled" : "chose " + c.act[1]);
        DriverRun page = drive(shown.with({"waittext", "--id", "1019", "--timeout", "5000", c.result}));
        EXPECT_EQ(page.code, 0) << page.report();
    }
    EXPECT_EQ(shown.close(), 4);
}

// The tree lives in its program's memory, laid out for that program's
// bitness: the x86_64 driver reads and clicks an i686 program's tree; the
// i686 driver refuses an x86_64 program's, naming the driver to use.
TEST(DriverComponents, TreeOfTheOtherBitness) {
    const std::string other = kI686 ? "x86_64" : "i686";
    const std::string driver = driver_path(other);
    if (driver == driver_path(stub_target())) GTEST_SKIP() << "no driver built for " << other;
    DriverRun probe = drive_with(driver, {"--help"});
    if (probe.code != 0) GTEST_SKIP() << "the " << other << " driver does not run here\n" << probe.report();

    Components shown("other bitness");
    DriverRun run = drive_with(driver, shown.with(seq({{"treeclick", "--id", "1032", "Tools"}, kTree})));
    if (kI686) {
        ASSERT_EQ(run.code, 0) << run.report();
        std::map<std::string, int> want = initial_states();
        want["Tools"] = 2;
        EXPECT_EQ(differences(want, states(run)), "") << run.report();
        EXPECT_EQ(run.values("treeitem").size(), tree_items().size());
        EXPECT_EQ(field(run.values("treeitem").back(), "text"), long_tree_item());
    } else {
        EXPECT_EQ(run.code, 1) << run.report();
        EXPECT_NE(run.errors.find("error: treeclick: the tree view belongs to a 64-bit process, which this 32-bit "
                                  "driver cannot read: use the x86_64 driver"),
                  std::string::npos)
            << run.report();
        DriverRun tree = drive_with(driver, shown.with(kTree));
        EXPECT_EQ(tree.code, 1) << tree.report();
        EXPECT_TRUE(tree.values("treeitem").empty()) << tree.report();
        // The combo box needs no memory of the other process.
        DriverRun combo = drive_with(driver, shown.with({"choose", "--id", "1017", "Custom"}));
        EXPECT_EQ(combo.value("chosen"), "2 Custom") << combo.report();
    }
    EXPECT_EQ(shown.close(), 4);
}

}  // namespace
