// The license page of an installer started without /S: the license text
// arrives whole in the rich-edit control, as rich text only when it starts
// with '{', the Next button reads as the accept text and leads on, and a
// click on an address in the text hands it to the shell.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/file_helpers.h"

namespace {

using namespace e2e;

const char kCaption[] = "License test";
const std::string kLicenseTitle = std::string(kCaption) + ": License Agreement";

// An installer whose wizard asks for the license page only, with this
// license text written beside the description.
std::string build_with_license(const std::string& name, const std::string& license,
                               const std::string& settings = "") {
    test_files::write_text(output_dir() + "/" + name + ".txt", license);
    return build_from_description(name,
                                  "script = '''\n"
                                  "core:    end\n"
                                  "'''\n"
                                  "[installer]\n"
                                  "pages = [\"license\"]\n"
                                  "license_file = \"" +
                                      name + ".txt\"\n" + settings +
                                      "default_install_dir = 'C:\\QmLicense'\n"
                                      "[[sections]]\nname = \"Program\"\ncode = \"core\"\n"
                                      "[[languages]]\nid = 1033\ntexts = { caption = \"" +
                                      kCaption + "\" }\n");
}

std::string without_cr(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Waits for the license page of `installer` and reads its texts.
DriverRun read_license_page(const WineProcess& installer, const std::string& screenshot = "") {
    std::vector<std::string> commands = {"wait", "--title", kLicenseTitle, "--class", "#32770", "--exe",
                                         installer.exe_name(), "--timeout", "30000", ":", "visible", "--id",
                                         "1000", ":", "text", "--id", "1000", ":", "text", "--id", "1006", ":",
                                         "text", "--id", "1", ":", "title"};
    if (!screenshot.empty()) commands.insert(commands.end(), {":", "screenshot", windows_path(screenshot)});
    return drive(commands, 60);
}

DriverRun press(const WineProcess& installer, const std::string& title, int id) {
    return drive({"wait", "--title-prefix", title, "--class", "#32770", "--exe", installer.exe_name(), ":", "press",
                  "--id", std::to_string(id)});
}

// Cancel on the license page ends the wizard with 1.
void cancel(WineProcess& installer) {
    DriverRun run = press(installer, kLicenseTitle, 2);
    EXPECT_EQ(run.code, 0) << run.report();
    Exit exit = installer.wait(30);
    EXPECT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 1);
}

// A license of `size` bytes in numbered lines; its ends tell where a lost or
// repeated piece would be.
std::string long_license(size_t size) {
    std::string text;
    for (int line = 1; text.size() < size; ++line) {
        char buffer[96];
        snprintf(buffer, sizeof buffer, "%06d The licensee may read this line as often as it likes.\r\n", line);
        text += buffer;
    }
    return text;
}

// What the control shows, as WM_GETTEXT reads it (line breaks aside).
TEST(LicensePage, ShowsTheTextAsPlainOrRichText) {
    struct Case {
        const char* name;
        std::string license;
        std::string shown;  // as read back, without carriage returns
    } cases[] = {
        {"plain", "Plain terms, line one.\r\nLine two keeps {braces} and \\par as they are.\r\n",
         "Plain terms, line one.\nLine two keeps {braces} and \\par as they are.\n"},
        {"rich", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Rich \\b bold\\b0  terms.\\par Second paragraph.}",
         "Rich bold terms.\nSecond paragraph."},
        {"space_before_brace", " {\\rtf1\\ansi \\b not markup}", " {\\rtf1\\ansi \\b not markup}"},
        {"empty", "", ""},
        // Many transfers of the control's buffer, each one going on where
        // the last one stopped.
        {"long", long_license(100 * 1024), without_cr(long_license(100 * 1024))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string exe = build_with_license(c.name, c.license);
        ASSERT_FALSE(exe.empty());
        WineProcess installer(exe, {}, 120);
        DriverRun page = read_license_page(installer);
        ASSERT_EQ(page.code, 0) << page.report();
        const std::vector<std::string> texts = page.values("text");
        ASSERT_EQ(texts.size(), 3u) << page.report();
        const std::string shown = without_cr(texts[0]);
        EXPECT_EQ(shown.size(), c.shown.size());
        EXPECT_EQ(shown.substr(0, 80), c.shown.substr(0, 80));
        EXPECT_EQ(shown.substr(shown.size() - std::min<size_t>(shown.size(), 80)),
                  c.shown.substr(c.shown.size() - std::min<size_t>(c.shown.size(), 80)));
        EXPECT_TRUE(shown == c.shown) << "the texts differ in the middle";
        EXPECT_EQ(texts[1], "Please read the license agreement below.");
        EXPECT_EQ(texts[2], "I &Agree");
        cancel(installer);
    }
}

// Next reads as the accept text and, with no other page asked for, leads to
// the install-files page, which installs and closes.
TEST(LicensePage, NextLeadsToTheInstallFilesPage) {
    const std::string exe = build_with_license("next", "Terms.\r\n", "license_background = \"#FFFFFF\"\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    const std::string bmp = output_dir() + "/license-page.bmp";
    DriverRun page = read_license_page(installer, bmp);
    ASSERT_EQ(page.code, 0) << page.report();
    EXPECT_EQ(page.value("title"), kLicenseTitle);
    std::cout << "screenshot: " << keep_screenshot(bmp) << "\n";

    DriverRun next = press(installer, kLicenseTitle, 1);
    ASSERT_EQ(next.code, 0) << next.report();
    const std::string completed = std::string(kCaption) + ": Completed";
    DriverRun done = drive({"wait", "--title-prefix", kCaption, "--class", "#32770", "--exe", installer.exe_name(),
                            ":", "waittitle", "--timeout", "30000", completed, ":", "state", "--id", "1004", ":",
                            "absent", "--title", kLicenseTitle, "--exe", installer.exe_name(), "--for", "100"});
    ASSERT_EQ(done.code, 0) << done.report();
    EXPECT_NE(done.report().find("visible=1"), std::string::npos) << "the progress bar is shown";
    DriverRun state = drive({"wait", "--title", completed, "--class", "#32770", "--exe", installer.exe_name(), ":",
                             "state", "--id", "1000"});
    EXPECT_NE(state.code, 0) << "the license text went with its page: " << state.report();
    DriverRun close = press(installer, completed, 1);
    ASSERT_EQ(close.code, 0) << close.report();
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// Escape in the license text asks the main window to close, which with
// Cancel enabled cancels the wizard (exit code 1).
TEST(LicensePage, EscapeInTheTextCancelsTheWizard) {
    const std::string exe = build_with_license("escape", "Terms.\r\n");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    DriverRun page = read_license_page(installer);
    ASSERT_EQ(page.code, 0) << page.report();
    DriverRun escape = drive({"wait", "--title", kLicenseTitle, "--class", "#32770", "--exe", installer.exe_name(),
                              ":", "key", "--id", "1000", "27"});
    ASSERT_EQ(escape.code, 0) << escape.report();
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished) << "the wizard stayed after Escape";
    EXPECT_EQ(exit.code, 1);
}

// A click on a detected address selects it and asks the shell to open it:
// here a file address of a batch file that leaves a mark. A click beside
// the address asks for nothing.
TEST(LicensePage, ClickOnALinkOpensItThroughTheShell) {
    const std::string folder = std::string("C:\\QmLicense\\") + stub_target();
    const std::string unix_folder = drive_c_path(folder);
    const std::string mark = unix_folder + "/opened.txt";
    mkdir(drive_c_path("C:\\QmLicense").c_str(), 0755);
    mkdir(unix_folder.c_str(), 0755);
    unlink(mark.c_str());
    test_files::write_text(unix_folder + "/open.bat", "@echo opened> \"" + folder + "\\opened.txt\"\r\n");
    const std::string address = "file:///C:/QmLicense/" + std::string(stub_target()) + "/open.bat";
    const std::string license = address + "\r\nThe rest of the terms has no address.\r\n";

    const std::string exe = build_with_license("link", license);
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {}, 120);
    DriverRun page = read_license_page(installer);
    ASSERT_EQ(page.code, 0) << page.report();

    // Below the last line: the caret goes to the text's end, no link.
    DriverRun beside = drive({"wait", "--title", kLicenseTitle, "--class", "#32770", "--exe", installer.exe_name(),
                              ":", "click", "--id", "1000", "8", "150", ":", "sleep", "500", ":", "selection",
                              "--id", "1000"});
    ASSERT_EQ(beside.code, 0) << beside.report();
    const std::string caret = beside.value("selection");
    ASSERT_EQ(caret.size() > 2, true) << beside.report();
    EXPECT_EQ(caret.substr(0, caret.find(' ')), caret.substr(caret.find(' ') + 1)) << "nothing selected";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(test_files::read_text(mark), "<missing>") << "a click beside the address opened it";

    DriverRun click = drive({"wait", "--title", kLicenseTitle, "--class", "#32770", "--exe", installer.exe_name(),
                             ":", "click", "--id", "1000", "8", "5", ":", "sleep", "500", ":", "selection", "--id",
                             "1000"});
    ASSERT_EQ(click.code, 0) << click.report();
    EXPECT_EQ(click.value("selection"), "0 " + std::to_string(address.size())) << "the address stays selected";
    std::string opened = "<missing>";
    for (int i = 0; i < 100 && opened == "<missing>"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        opened = test_files::read_text(mark);
    }
    EXPECT_EQ(opened.rfind("opened", 0), 0u) << "the shell ran " << address;
    cancel(installer);
}

}  // namespace
