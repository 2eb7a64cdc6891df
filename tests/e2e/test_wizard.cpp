// The wizard of an installer started without /S, used as a person uses it:
// the install-files page installs under its progress bar while detail lines
// arrive, and the buttons, the close box, the callbacks and the exit code
// follow the outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/file_helpers.h"

namespace {

using namespace e2e;

const char kCaption[] = "Wizard test";

// One control of a driver dump.
struct Control {
    int parent = 0;
    bool visible = false, enabled = false;
    std::string text;
};

// The value after "key=" on a driver line; a text or a title is always the
// last field and may hold spaces.
std::string field(const std::string& line, const std::string& key) {
    const size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 2;
    if (key == "text" || key == "title") return unescape(line.substr(from));
    return line.substr(from, line.find(' ', from) - from);
}

// What the main window shows now, by control id, with its title; empty when
// the window is not there.
struct WizardState {
    bool found = false;
    std::string title;
    std::map<int, Control> controls;
    std::string report;
    const Control& operator[](int id) const {
        static const Control none;
        auto found_control = controls.find(id);
        return found_control == controls.end() ? none : found_control->second;
    }
};

WizardState look(const WineProcess& installer, const std::string& title_prefix, int wait_ms = 20000,
                 const std::string& screenshot = "") {
    std::vector<std::string> commands = {"wait", "--title-prefix", title_prefix, "--class", "#32770", "--exe",
                                         installer.exe_name(), "--timeout", std::to_string(wait_ms), ":", "dump"};
    if (!screenshot.empty()) {
        commands.insert(commands.end(), {":", "screenshot", windows_path(screenshot)});
    }
    DriverRun run = drive(commands, wait_ms / 1000 + 30);
    WizardState state;
    state.report = run.report();
    state.found = run.code == 0;
    for (const std::string& line : run.lines) {
        if (line.rfind("window: ", 0) == 0 && state.title.empty()) state.title = field(line, "title");
        if (line.rfind("control: id=", 0) != 0) continue;
        Control c;
        const int id = std::stoi(line.substr(12));
        c.visible = field(line, "visible") == "1";
        c.enabled = field(line, "enabled") == "1";
        c.text = field(line, "text");
        state.controls[id] = c;
    }
    return state;
}

// Looks until `ready` holds, or the time is up; returns the last look.
template <typename Ready>
WizardState look_until(const WineProcess& installer, const std::string& title_prefix, Ready ready,
                       int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    WizardState state;
    do {
        state = look(installer, title_prefix, 5000);
        if (state.found && ready(state)) return state;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (std::chrono::steady_clock::now() < until);
    return state;
}

// The main window's details list and progress bar.
struct PageOutput {
    std::vector<std::string> lines;
    int position = -1;
    std::string range;
    std::string report;
};

PageOutput page_output(const WineProcess& installer, const std::string& title_prefix) {
    DriverRun run = drive({"wait", "--title-prefix", title_prefix, "--class", "#32770", "--exe", installer.exe_name(),
                           ":", "items", "--id", "1016", ":", "progress", "--id", "1004"});
    PageOutput out;
    out.report = run.report();
    out.lines = run.values("item");
    const std::string position = run.value("position");
    if (!position.empty()) out.position = std::stoi(position);
    out.range = run.value("range");
    return out;
}

DriverRun press(const WineProcess& installer, const std::string& title_prefix, int id) {
    return drive({"wait", "--title-prefix", title_prefix, "--class", "#32770", "--exe", installer.exe_name(), ":",
                  "press", "--id", std::to_string(id)});
}

// A description whose wizard has only the install-files page; the callbacks
// say in message boxes that they ran.
std::string wizard_description(const std::string& section, const std::string& settings = "") {
    return "script = '''\n"
           "core:    create_directory \"{install_dir}\", true\n" +
           section +
           "         end\n"
           "success: message_box MB_OK, \"on_success\"\n"
           "         end\n"
           "failure: message_box MB_OK, \"on_failure\"\n"
           "         end\n"
           "cancel:  message_box MB_OK, \"on_cancel\"\n"
           "         end\n"
           "'''\n"
           "[installer]\n"
           "pages = []\n"
           "default_install_dir = 'C:\\QmWizard\\" +
           std::string(stub_target()) + "'\n" + settings +
           "[callbacks]\non_success = \"success\"\non_failure = \"failure\"\non_cancel = \"cancel\"\n"
           "[[sections]]\nname = \"Program\"\ncode = \"core\"\n"
           "[[languages]]\nid = 1033\ntexts = { caption = \"" +
           std::string(kCaption) + "\" }\n";
}

// A payload folder of a few files, written beside the description.
void write_payload() {
    for (int i = 0; i < 12; ++i)
        test_files::write_bytes(output_dir() + "/app/file" + std::to_string(i) + ".bin",
                                noise(200000, (uint32_t)i + 1));
}

const std::string kInstalling = std::string(kCaption) + ": Installing";
const std::string kCompleted = std::string(kCaption) + ": Completed";

// Presses Close once the install-files page has finished and expects a
// clean end (exit code 0).
void close_when_finished(WineProcess& installer) {
    ASSERT_EQ(press_wizard_button(installer, 1).code, 0);
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// Waits for the finished install-files page of a wizard_description
// installer, presses Close and expects on_success's box and exit code 0.
void close_with_success(WineProcess& installer) {
    WizardState finished =
        look_until(installer, kCompleted, [](const WizardState& s) { return s.title == kCompleted; });
    ASSERT_EQ(finished.title, kCompleted) << finished.report;
    ASSERT_EQ(press(installer, kCompleted, 1).code, 0);
    MessageBoxSeen success = answer_message_box(installer, kCaption);
    EXPECT_EQ(success.text, "on_success") << success.report;
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// Installs, silently, an installer that writes an uninstaller into `folder`
// whose wizard asks for `uninstaller_pages`; returns the uninstaller's path.
std::string install_with_uninstaller(const std::string& name, const std::string& folder,
                                     const std::string& uninstaller_pages) {
    const std::string exe = build_from_description(
        name,
        "script = '''\n"
        "core:    create_directory \"{install_dir}\", true\n"
        "         write_uninstaller \"uninstall.exe\"\n"
        "         end\n"
        "'''\n"
        "[installer]\npages = []\ndefault_install_dir = '" + folder + "'\n"
        "[[sections]]\nname = \"Program\"\ncode = \"core\"\n"
        "[[languages]]\nid = 1033\n"
        "[uninstaller]\npages = " + uninstaller_pages + "\ncode = \"remove\"\n"
        "script = '''\n"
        "remove:  detail_output \"removing {install_dir}\"\n"
        "         end\n"
        "'''\n");
    if (exe.empty()) return "";
    WineProcess installer(exe, {"/S"}, 120);
    Exit exit = installer.wait(100);
    EXPECT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
    return drive_c_path(folder + "\\uninstall.exe");
}

TEST(Wizard, InstallsUnderTheProgressBarThenCloseRunsOnSuccess) {
    write_payload();
    // The box in the middle holds the installation while the test looks.
    const std::string exe = build_from_description(
        "wizard", wizard_description("         files \"app\"\n"
                                     "         message_box MB_OK, \"halfway\"\n"
                                     "         files \"app\", \"again\"\n",
                                     "details = \"shown\"\n"));
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);

    const std::string running_bmp = output_dir() + "/wizard-running.bmp";
    DriverRun halfway_box = drive({"wait", "--title", kCaption, "--class", "#32770", "--exe", installer.exe_name(),
                                   "--timeout", "30000", ":", "msgbox"});
    ASSERT_EQ(halfway_box.code, 0) << halfway_box.report();
    EXPECT_EQ(halfway_box.value("text"), "halfway");
    WizardState running = look(installer, kInstalling, 5000, running_bmp);
    ASSERT_TRUE(running.found) << running.report;
    EXPECT_EQ(running.title, kInstalling);
    EXPECT_FALSE(running[1].enabled) << "Next while installing";
    EXPECT_FALSE(running[2].enabled) << "Cancel while installing";
    EXPECT_EQ(running[2].text, "Cancel");
    EXPECT_EQ(running[1].text, "&Close") << "the install-files page is the last page";
    EXPECT_TRUE(running[3].visible) << "Back is shown on the install-files page";
    EXPECT_FALSE(running[3].enabled) << "and disabled";
    EXPECT_EQ(running[1028].text, "Quillmar Install System");
    EXPECT_TRUE(running[1004].visible) << "the segmented bar";
    EXPECT_FALSE(running[1005].visible);
    EXPECT_TRUE(running[1016].visible) << "details shown from the start";
    EXPECT_FALSE(running[1027].visible);
    EXPECT_EQ(running[1006].text.rfind("Extract: ", 0), 0u) << "status line: " << running[1006].text;
    // Halfway through the script's entries, the bar is halfway too.
    PageOutput halfway_output = page_output(installer, kInstalling);
    EXPECT_EQ(halfway_output.range, "0 30000") << halfway_output.report;
    EXPECT_GT(halfway_output.position, 0) << halfway_output.report;
    EXPECT_LT(halfway_output.position, 30000) << halfway_output.report;
    ASSERT_EQ(halfway_output.lines.size(), 13u) << halfway_output.report;
    EXPECT_EQ(halfway_output.lines[0], "Output folder: C:\\QmWizard\\" + std::string(stub_target()));
    EXPECT_EQ(halfway_output.lines.back(), running[1006].text) << "the status line shows the last line";
    std::cout << "screenshot: " << keep_screenshot(running_bmp) << "\n";
    MessageBoxSeen halfway = answer_message_box(installer, kCaption);
    ASSERT_TRUE(halfway.seen) << halfway.report;

    const std::string finished_bmp = output_dir() + "/wizard-finished.bmp";
    WizardState finished =
        look_until(installer, kCompleted, [](const WizardState& s) { return s.title == kCompleted; });
    ASSERT_EQ(finished.title, kCompleted) << finished.report;
    finished = look(installer, kCompleted, 5000, finished_bmp);
    EXPECT_TRUE(finished[1].enabled);
    EXPECT_EQ(finished[1].text, "&Close");
    EXPECT_FALSE(finished[2].enabled);
    EXPECT_EQ(finished[1006].text, "Completed") << "the completion line reaches the status line";
    PageOutput finished_output = page_output(installer, kCompleted);
    EXPECT_EQ(finished_output.position, 30000) << finished_output.report;
    ASSERT_EQ(finished_output.lines.size(), 13u + 1u + 12u + 1u) << finished_output.report;
    EXPECT_EQ(finished_output.lines[13], "Create folder: C:\\QmWizard\\" + std::string(stub_target()) + "\\again");
    EXPECT_EQ(finished_output.lines.back(), "Completed");
    std::cout << "screenshot: " << keep_screenshot(finished_bmp) << "\n";

    DriverRun close = press(installer, kCompleted, 1);
    ASSERT_EQ(close.code, 0) << close.report();
    MessageBoxSeen success = answer_message_box(installer, kCaption);
    EXPECT_EQ(success.text, "on_success") << success.report;
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
    const std::string installed = drive_c_path(std::string("C:\\QmWizard\\") + stub_target());
    EXPECT_EQ(test_files::read_bytes(installed + "/again/file11.bin"), noise(200000, 12));
}

// After a failed section only Cancel is left: it runs on_failure (never
// on_cancel) and the wizard ends with 2. The close box then acts as Cancel.
TEST(Wizard, CancelAfterAFailureRunsOnFailure) {
    struct Case {
        const char* name;
        bool close_box;
    } cases[] = {{"cancel_button", false}, {"close_box", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string exe =
            build_from_description(c.name, wizard_description("         abort \"the section failed\"\n"));
        ASSERT_FALSE(exe.empty());
        WineProcess installer(exe, {}, 120);
        const std::string failed_bmp = output_dir() + "/wizard-failed-" + c.name + ".bmp";
        WizardState failed =
            look_until(installer, kInstalling, [](const WizardState& s) { return s[2].enabled; });
        ASSERT_TRUE(failed[2].enabled) << failed.report;
        failed = look(installer, kInstalling, 5000, failed_bmp);
        EXPECT_FALSE(failed[1].enabled) << "Next stays disabled after a failure";
        EXPECT_EQ(failed.title, kInstalling) << "no completion caption";
        EXPECT_EQ(failed[1006].text, "the section failed") << "the abort message is the last line";
        std::cout << "screenshot: " << keep_screenshot(failed_bmp) << "\n";

        DriverRun run = c.close_box ? drive({"wait", "--title", kInstalling, "--class", "#32770", "--exe",
                                             installer.exe_name(), ":", "closebox"})
                                    : press(installer, kInstalling, 2);
        ASSERT_EQ(run.code, 0) << run.report();
        MessageBoxSeen failure = answer_message_box(installer, kCaption);
        EXPECT_EQ(failure.text, "on_failure") << failure.report;
        Exit exit = installer.wait(60);
        ASSERT_TRUE(exit.finished) << "a second box (on_cancel?) is waiting";
        EXPECT_EQ(exit.code, 2);
    }
}

// The ends that need no button: quit in a section (1, no callback), and
// auto-close after a success (on_success, then 0).
TEST(Wizard, QuitAndAutoCloseEndTheWizardByThemselves) {
    struct Case {
        const char* name;
        const char* section;
        const char* settings;
        const char* box;  // the callback's box, or null for none
        int code;
    } cases[] = {
        {"quit_in_section", "         quit\n", "", nullptr, 1},
        {"auto_close", "         detail_output \"working\"\n", "auto_close = true\n", "on_success", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string exe = build_from_description(c.name, wizard_description(c.section, c.settings));
        ASSERT_FALSE(exe.empty());
        WineProcess installer(exe, {}, 120);
        if (c.box) {
            MessageBoxSeen box = answer_message_box(installer, kCaption);
            EXPECT_EQ(box.text, c.box) << box.report;
        }
        Exit exit = installer.wait(60);
        ASSERT_TRUE(exit.finished);
        EXPECT_EQ(exit.code, c.code);
    }
}

// On the finished page the close box is Next: it ends the wizard through
// on_success.
TEST(Wizard, CloseBoxOnTheFinishedPageActsAsNext) {
    const std::string exe = build_from_description("close_box", wizard_description(""));
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    WizardState finished =
        look_until(installer, kCompleted, [](const WizardState& s) { return s.title == kCompleted; });
    ASSERT_EQ(finished.title, kCompleted) << finished.report;
    DriverRun run =
        drive({"wait", "--title", kCompleted, "--class", "#32770", "--exe", installer.exe_name(), ":", "closebox"});
    ASSERT_EQ(run.code, 0) << run.report();
    MessageBoxSeen success = answer_message_box(installer, kCaption);
    EXPECT_EQ(success.text, "on_success") << success.report;
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// What the page shows by the header's details mode and progress style, and
// what show_details can still change.
TEST(Wizard, DetailsModesAndProgressBars) {
    struct Case {
        const char* name;
        const char* settings;
        bool button, list, smooth;
        const char* show;  // a show_details in the section, or ""
        bool button_after, list_after;
    } cases[] = {
        {"hidden", "details = \"hidden\"\n", true, false, false, "", true, false},
        {"shown_smooth", "details = \"shown\"\nsmooth_progress = true\ncoloured_progress = true\n"
                         "details_colours = { background = \"#000000\", text = \"#00FF00\" }\n",
         false, true, true, "", false, true},
        {"none", "details = \"none\"\n", false, false, false, "show_details SW_SHOW, SW_SHOW\n", false, true},
        {"hidden_script_shows_list", "details = \"hidden\"\n", true, false, false, "show_details SW_SHOW, SW_HIDE\n",
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string section = std::string("         message_box MB_OK, \"before\"\n         ") + c.show +
                                    "         message_box MB_OK, \"after\"\n";
        const std::string exe = build_from_description(c.name, wizard_description(section, c.settings));
        ASSERT_FALSE(exe.empty());
        WineProcess installer(exe, {}, 120);
        DriverRun before_box = drive({"wait", "--title", kCaption, "--class", "#32770", "--exe",
                                      installer.exe_name(), "--timeout", "30000"});
        ASSERT_EQ(before_box.code, 0) << before_box.report();
        WizardState before = look(installer, kInstalling);
        ASSERT_TRUE(before.found) << before.report;
        EXPECT_EQ(before[1027].visible, c.button);
        EXPECT_EQ(before[1016].visible, c.list);
        EXPECT_EQ(before[1005].visible, c.smooth);
        EXPECT_EQ(before[1004].visible, !c.smooth);
        EXPECT_TRUE(answer_message_box(installer, kCaption).seen);
        DriverRun after_box = drive({"wait", "--title", kCaption, "--class", "#32770", "--exe",
                                     installer.exe_name(), "--timeout", "30000"});
        ASSERT_EQ(after_box.code, 0) << after_box.report();
        WizardState after = look(installer, kInstalling);
        EXPECT_EQ(after[1027].visible, c.button_after);
        EXPECT_EQ(after[1016].visible, c.list_after);
        EXPECT_TRUE(answer_message_box(installer, kCaption).seen);
        WizardState finished =
            look_until(installer, kCompleted, [](const WizardState& s) { return s.title == kCompleted; });
        ASSERT_EQ(finished.title, kCompleted) << finished.report;
        if (c.button_after) {
            // The show-details button shows the list and goes.
            ASSERT_EQ(press(installer, kCompleted, 1027).code, 0);
            WizardState shown = look(installer, kCompleted);
            EXPECT_TRUE(shown[1016].visible);
            EXPECT_FALSE(shown[1027].visible);
        }
        close_with_success(installer);
    }
}

// The uninstaller's temporary copy ("_=" and the install directory as its last
// argument) runs the uninstall code on its own install-files page and ends
// with the wizard's result; a directory that fails the install-path test ends
// it with the start-up message instead.
TEST(Wizard, UninstallerCopyRunsItsInstallFilesPage) {
    const std::string folder = std::string("C:\\QmWizardUn\\") + stub_target();
    const std::string uninstaller = install_with_uninstaller("with_uninstaller", folder, "[]");
    ASSERT_FALSE(uninstaller.empty());

    WineProcess bad(uninstaller, {"_=relative"}, 60);
    MessageBoxSeen refused = answer_message_box(bad, "ERREUR TARK");
    EXPECT_EQ(refused.text, "Erreur lors de l'initialisation de la d\xC3\xA9sinstallation") << refused.report;
    Exit bad_exit = bad.wait(30);
    ASSERT_TRUE(bad_exit.finished);
    EXPECT_EQ(bad_exit.code, 0);

    WineProcess copy(uninstaller, {"_=" + folder}, 120);
    const std::string done = "Uninstall: Completed";
    WizardState finished = look_until(copy, done, [&](const WizardState& st) { return st.title == done; });
    ASSERT_EQ(finished.title, done) << finished.report;
    EXPECT_FALSE(finished[3].visible) << "an uninstaller has no Back button";
    EXPECT_EQ(finished[1006].text, "Completed");
    ASSERT_EQ(press(copy, done, 1).code, 0);
    Exit exit = copy.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// A description with a background window: the backdrop covers the work area
// behind the wizard with its gradient and the caption, and goes with it.
TEST(Wizard, BackgroundWindowBehindTheWizard) {
    const std::string exe = build_from_description(
        "background", wizard_description("         message_box MB_OK, \"look\"\n",
                                         "background_window = { top = \"#000080\", bottom = \"#000000\", "
                                         "text = \"#FFFFFF\" }\n"));
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    DriverRun box = drive({"wait", "--title", kCaption, "--class", "#32770", "--exe", installer.exe_name(),
                           "--timeout", "30000"});
    ASSERT_EQ(box.code, 0) << box.report();
    const std::string bmp = output_dir() + "/background-window.bmp";
    DriverRun backdrop = drive({"wait", "--title", kCaption, "--class", "_Tb", "--exe", installer.exe_name(), ":",
                                "dump", ":", "screenshot", windows_path(bmp)});
    ASSERT_EQ(backdrop.code, 0) << backdrop.report();
    std::cout << "screenshot: " << keep_screenshot(bmp) << "\n";
    EXPECT_TRUE(answer_message_box(installer, kCaption).seen);
    close_with_success(installer);
}

// The directory page: the field is the install directory, the space texts
// follow the selected sections and the drive, and Next follows the field (a
// path that is no install path, or one that on_verify_dir refuses, disables
// it); the installation goes where the field says.
TEST(WizardPages, DirectoryPageFollowsTheField) {
    const std::string base = std::string("C:\\QmDir\\") + stub_target();
    test_files::write_bytes(output_dir() + "/app/one.bin", noise(3000, 3));
    const std::string exe = build_from_description(
        "directory",
        "script = '''\n"
        "core:    create_directory \"{install_dir}\", true\n"
        "         files \"app\"\n"
        "         end\n"
        "verify:  compare_string \"{install_dir}\", \"" + base + "\\forbidden\", 1f, 2f\n"
        "1:       abort\n"
        "2:       end\n"
        "'''\n"
        "[installer]\npages = [\"directory\"]\ndefault_install_dir = '" + base + "\\Default'\n"
        "[callbacks]\non_verify_dir = \"verify\"\n"
        "[[sections]]\nname = \"Program\"\ncode = \"core\"\nsize_kb = 1536\n"
        "[[languages]]\nid = 1033\ntexts = { caption = \"Directory test\" }\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    const std::string title = "Directory test: Installation Folder";
    WizardState page = look_until(installer, title, [](const WizardState& s) { return s.controls.count(1019) > 0; });
    ASSERT_TRUE(page.found) << page.report;
    EXPECT_EQ(page[1019].text, base + "\\Default");
    EXPECT_EQ(page[1023].text, "Space required: 1.5Mo");
    EXPECT_EQ(page[1024].text.rfind("Space available: ", 0), 0u) << page[1024].text;
    EXPECT_EQ(page[1020].text, "Installation folder");
    EXPECT_EQ(page[1].text, "&Install");
    EXPECT_TRUE(page[1].enabled);

    struct Typed {
        std::string text;
        bool next;
    } typed[] = {
        {"relative\\folder", false},
        {base + "\\forbidden", false},
        {base + "\\Chosen", true},
    };
    for (const Typed& t : typed) {
        SCOPED_TRACE(t.text);
        DriverRun run = drive({"wait", "--title", title, "--class", "#32770", "--exe", installer.exe_name(), ":",
                               "type", "--id", "1019", t.text, ":", "state", "--id", "1"});
        ASSERT_EQ(run.code, 0) << run.report();
        EXPECT_NE(run.report().find(t.next ? " enabled=1" : " enabled=0"), std::string::npos) << run.report();
    }
    const std::string shot = output_dir() + "/directory-page.bmp";
    look(installer, title, 5000, shot);
    std::cout << "screenshot: " << keep_screenshot(shot) << "\n";
    ASSERT_EQ(press(installer, title, 1).code, 0);
    ASSERT_NO_FATAL_FAILURE(close_when_finished(installer));
    EXPECT_EQ(test_files::read_bytes(drive_c_path(base + "\\Chosen\\one.bin")), noise(3000, 3));
}

// A folder chosen in the shell's folder browser gets the default folder's
// last component; every keystroke in the field reaches InstallDir and
// on_verify_dir, which shows it in the title here.
TEST(WizardPages, BrowsedFolderAndEveryKeystrokeReachInstallDir) {
    const std::string base = std::string("C:\\QmBrowse ") + stub_target();
    std::filesystem::remove_all(drive_c_path(base));
    std::filesystem::create_directories(drive_c_path(base + "\\Picked"));
    test_files::write_bytes(output_dir() + "/app/one.bin", noise(3000, 4));
    const std::string title = "Browse test: Installation Folder";
    const std::string exe = build_from_description(
        "browse",
        "script = '''\n"
        "core:    create_directory \"{install_dir}\", true\n"
        "         files \"app\"\n"
        "         end\n"
        "verify:  send_message none, \"{main_window}\", 12, 0, \"" + title + " [{install_dir}]\"\n"
        "         end\n"
        "'''\n"
        "[installer]\npages = [\"directory\"]\ndefault_install_dir = '" + base + "\\Default\\Product'\n"
        "[callbacks]\non_verify_dir = \"verify\"\n"
        "[[sections]]\nname = \"Program\"\ncode = \"core\"\n"
        "[[languages]]\nid = 1033\ntexts = { caption = \"Browse test\" }\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    auto on_page = [&](std::vector<std::string> commands) {
        std::vector<std::string> all = {"wait", "--title-prefix", title, "--class", "#32770", "--exe",
                                        installer.exe_name(), "--timeout", "30000", ":"};
        all.insert(all.end(), commands.begin(), commands.end());
        return drive(all, 90);
    };
    // A browser cancelled first changes nothing (and lets the 32-bit Wine's
    // browser list the new folder, which it does only from its second time).
    DriverRun cancelled = on_page({"visible", "--id", "1001", ":", "press", "--id", "1001", ":", "browse-cancel", ":",
                                   "waittext", "--id", "1019", base + "\\Default\\Product"});
    ASSERT_EQ(cancelled.code, 0) << cancelled.report();
    const std::string picked = base + "\\Picked\\Product";
    DriverRun chosen = on_page({"press", "--id", "1001", ":", "browse-choose", base + "\\Picked", ":", "waittext",
                                "--id", "1019", picked, ":", "waittitle", title + " [" + picked + "]"});
    ASSERT_EQ(chosen.code, 0) << chosen.report();
    // End, x, y, Backspace, Backspace: the title follows every key.
    struct Key {
        const char* vk;
        std::string path;
    } keys[] = {{"35", picked}, {"88", picked + "x"}, {"89", picked + "xy"}, {"8", picked + "x"}, {"8", picked}};
    for (const Key& k : keys) {
        SCOPED_TRACE(k.vk);
        DriverRun typed = on_page({"key", "--id", "1019", k.vk, ":", "waittitle", "--timeout", "5000",
                                   title + " [" + k.path + "]"});
        EXPECT_EQ(typed.code, 0) << typed.report();
    }
    ASSERT_EQ(on_page({"press", "--id", "1"}).code, 0);
    ASSERT_NO_FATAL_FAILURE(close_when_finished(installer));
    EXPECT_EQ(test_files::read_bytes(drive_c_path(picked + "\\one.bin")), noise(3000, 4));
}

// A minimal description (a license file and two sections) in English or in
// French shows every page with its language's built-in texts.
TEST(WizardPages, MinimalDescriptionShowsEveryPageInItsLanguage) {
    struct Case {
        int id;
        std::string license_title, components_title, directory_title;
        std::string license_intro, accept, components_intro, tree_label, space_required, dir_intro_start,
            dir_label, browse, install;
    } cases[] = {
        {1033, "Setup: License Agreement", "Setup: Components", "Setup: Installation Folder",
         "Please read the license agreement below.", "I &Agree", "Choose the components to install.",
         "Components:", "Space required: ", "Setup will install the program", "Installation folder", "B&rowse...",
         "&Install"},
        {1036, "Installation : Licence", "Installation : Composants", "Installation : Dossier d'installation",
         "Veuillez lire le contrat de licence ci-dessous.", "J'&accepte", "Choisissez les composants à installer.",
         "Composants :", "Espace requis : ", "Le programme sera installé", "Dossier d'installation",
         "P&arcourir...", "&Installer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string name = "minimal" + std::to_string(c.id);
        test_files::write_text(output_dir() + "/" + name + ".txt", "Terms.\r\n");
        const std::string exe = build_from_description(
            name, "script = '''\n"
                  "one:     end\n"
                  "two:     end\n"
                  "'''\n"
                  "[installer]\npages = [\"license\", \"components\", \"directory\"]\n"
                  "license_file = \"" + name + ".txt\"\n"
                  "default_install_dir = 'C:\\QmMinimal\\" + std::to_string(c.id) + "'\n"
                  "[[sections]]\nname = \"One\"\ncode = \"one\"\n"
                  "[[sections]]\nname = \"Two\"\ncode = \"two\"\n"
                  "[[languages]]\nid = " + std::to_string(c.id) + "\n");
        ASSERT_FALSE(exe.empty());
        WineProcess installer(exe, {}, 120);
        // Waits for the page of this title to show control `id`, then reads
        // it and keeps its screenshot.
        auto arrive = [&](const std::string& title, int id, const std::string& shot_name) {
            WizardState page =
                look_until(installer, title, [id](const WizardState& s) { return s.controls.count(id) > 0; });
            if (!page.found) return page;
            const std::string shot = output_dir() + "/" + name + "-" + shot_name + ".bmp";
            page = look(installer, title, 5000, shot);
            keep_screenshot(shot);
            return page;
        };

        WizardState license = arrive(c.license_title, 1000, "license");
        ASSERT_TRUE(license.found) << license.report;
        EXPECT_EQ(license.title, c.license_title);
        EXPECT_EQ(license[1006].text, c.license_intro);
        EXPECT_EQ(license[1].text, c.accept);
        ASSERT_EQ(press(installer, c.license_title, 1).code, 0);

        WizardState components = arrive(c.components_title, 1032, "components");
        ASSERT_TRUE(components.found) << components.report;
        EXPECT_EQ(components[1006].text, c.components_intro);
        EXPECT_EQ(components[1022].text, c.tree_label);
        EXPECT_EQ(components[1021].text, "") << "no install types: no label for them";
        EXPECT_FALSE(components[1017].visible);
        EXPECT_EQ(components[1023].text, c.space_required + "0Ko");
        ASSERT_EQ(press(installer, c.components_title, 1).code, 0);

        WizardState directory = arrive(c.directory_title, 1019, "directory");
        ASSERT_TRUE(directory.found) << directory.report;
        EXPECT_EQ(directory[1006].text.rfind(c.dir_intro_start, 0), 0u) << directory[1006].text;
        EXPECT_EQ(directory[1020].text, c.dir_label);
        EXPECT_EQ(directory[1001].text, c.browse);
        EXPECT_EQ(directory[1].text, c.install);
        ASSERT_EQ(press(installer, c.directory_title, 1).code, 0);
        ASSERT_NO_FATAL_FAILURE(close_when_finished(installer));
    }
}

// The uninstaller's confirmation page names the folder it will empty; its
// Next button uninstalls.
TEST(WizardPages, UninstallerAsksBeforeItRemoves) {
    const std::string folder = std::string("C:\\QmConfirm\\") + stub_target();
    const std::string uninstaller = install_with_uninstaller("confirm", folder, "[\"confirm\"]");
    ASSERT_FALSE(uninstaller.empty());
    WineProcess copy(uninstaller, {"_=" + folder}, 120);
    const std::string title = "Uninstall: Confirmation";
    const std::string shot = output_dir() + "/uninstall-page.bmp";
    WizardState page = look_until(copy, title, [](const WizardState& s) { return s.controls.count(1000) > 0; });
    ASSERT_TRUE(page.found) << page.report;
    page = look(copy, title, 5000, shot);
    std::cout << "screenshot: " << keep_screenshot(shot) << "\n";
    EXPECT_EQ(page[1000].text, folder);
    EXPECT_EQ(page[1029].text, "Folder:");
    EXPECT_EQ(page[1006].text.rfind("The program will be removed", 0), 0u) << page[1006].text;
    EXPECT_EQ(page[1].text, "&Uninstall");
    ASSERT_EQ(press(copy, title, 1).code, 0);
    ASSERT_NO_FATAL_FAILURE(close_when_finished(copy));
}

// A drive without room for the selected sections disables Next; the space
// texts say what is needed and what is free. The drive is a 1 MiB memory file
// system mapped into the prefix as drive R: (mounting needs root; without it
// the test is skipped with the reason).
TEST(WizardPages, DriveWithoutRoomDisablesNext) {
    const std::string mount_point = output_dir() + "/small-drive";
    const std::string device = std::string(QM_WINE_DIR) + "/prefix/dosdevices/r:";
    std::filesystem::create_directories(mount_point);
    if (std::system(("mount -t tmpfs -o size=1m tmpfs '" + mount_point + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "a 1 MiB file system cannot be mounted here (mounting needs root)";
    std::filesystem::remove(device);
    std::filesystem::create_directory_symlink(mount_point, device);
    struct Cleanup {
        std::string device, mount_point;
        ~Cleanup() {
            std::filesystem::remove(device);
            std::system(("umount '" + mount_point + "'").c_str());
        }
    } cleanup{device, mount_point};

    const std::string exe = build_from_description(
        "no_room",
        "script = '''\ncore:    end\n'''\n"
        "[installer]\npages = [\"directory\"]\ndefault_install_dir = 'C:\\QmRoom'\n"
        "[[sections]]\nname = \"Big\"\ncode = \"core\"\nsize_kb = 2048\n"
        "[[languages]]\nid = 1033\ntexts = { caption = \"Room test\" }\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    const std::string title = "Room test: Installation Folder";
    WizardState page = look_until(installer, title, [](const WizardState& s) { return s.controls.count(1019) > 0; });
    ASSERT_TRUE(page.found) << page.report;
    EXPECT_TRUE(page[1].enabled) << "C: has room";
    DriverRun run = drive({"wait", "--title", title, "--class", "#32770", "--exe", installer.exe_name(), ":", "type",
                           "--id", "1019", "R:\\App", ":", "state", "--id", "1", ":", "text", "--id", "1023", ":",
                           "text", "--id", "1024"});
    ASSERT_EQ(run.code, 0) << run.report();
    EXPECT_NE(run.report().find("id=1 class=Button visible=1 enabled=0"), std::string::npos) << run.report();
    const std::vector<std::string> texts = run.values("text");
    ASSERT_EQ(texts.size(), 2u) << run.report();
    EXPECT_EQ(texts[0], "Space required: 2.0Mo");
    EXPECT_EQ(texts[1], "Space available: 1.0Mo") << "1 MiB free";
    ASSERT_EQ(press_wizard_button(installer, 2).code, 0);
    Exit exit = installer.wait(60);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 1);
}

}  // namespace
