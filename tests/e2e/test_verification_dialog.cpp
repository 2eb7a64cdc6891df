// The verification dialog of a slow verification: shown after the first
// second with the running percentage, never in a silent run.
#include <gtest/gtest.h>

#include <regex>

#include "datablock/records.h"
#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

// Large enough that verifying takes well over a second under Wine here.
const size_t kSlowStreamSize = 320u << 20;
const char kTitlePrefix[] = "Vérification de l'installation: ";

std::string slow_installer(const std::string& name, uint32_t flags) {
    static const Bytes stream = noise(kSlowStreamSize, 99);
    quillmar::ImageOptions options;
    options.flags = flags;
    return make_installer(name, stream, options);
}

// The text after "key=" on a driver line; it is always the last field.
std::string field_tail(const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    return at == std::string::npos ? std::string() : unescape(line.substr(at + key.size() + 2));
}

int percentage(const std::string& text) {
    static const std::regex format("^Vérification de l'installation: ([0-9]{1,3})%$");
    std::smatch m;
    if (!std::regex_match(text, m, format)) return -1;
    return std::stoi(m[1]);
}

TEST(VerificationDialog, ShowsTheRunningPercentage) {
    std::string exe = slow_installer("slow.exe", FH_CRC);
    std::string bmp = output_dir() + "/verification-dialog.bmp";
    WineProcess installer(exe, {}, 300);
    DriverRun run = drive({"wait", "--title-prefix", kTitlePrefix, "--class", "#32770", "--timeout", "60000", ":",
                           "dump", ":", "screenshot", windows_path(bmp), ":", "sleep", "800", ":", "title"});
    ASSERT_EQ(run.code, 0) << run.report();

    std::string first_title, control_text;
    for (const auto& line : run.lines) {
        if (line.rfind("window: ", 0) == 0 && first_title.empty()) first_title = field_tail(line, "title");
        if (line.rfind("control: id=1030 ", 0) == 0) control_text = field_tail(line, "text");
    }
    const int first = percentage(first_title);
    EXPECT_GE(first, 0) << "title: " << first_title;
    EXPECT_LE(first, 100);
    // The text control shows the same format as the title.
    EXPECT_GE(percentage(control_text), first) << "control text: " << control_text;
    // Refreshed while the scan goes on.
    const int later = percentage(run.value("title"));
    EXPECT_GT(later, first) << run.report();

    std::string kept = keep_screenshot(bmp);
    std::cout << "screenshot: " << kept << "\n";
    Exit exit = installer.wait(240);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
    EXPECT_GT(exit.seconds, 1.5) << "the verification was too quick to show the dialog reliably";
}

// A silent run never shows the dialog, whether the silence comes from the
// command line or from the data block.
TEST(VerificationDialog, NeverInASilentRun) {
    struct Case {
        const char* name;
        uint32_t flags;
        std::vector<std::string> args;
    } cases[] = {
        {"silent_option.exe", FH_CRC, {"/S"}},
        {"silent_flag.exe", FH_CRC | FH_SILENT, {}},
    };
    for (const Case& c : cases) {
        std::string exe = slow_installer(c.name, c.flags);
        WineProcess installer(exe, c.args, 300);
        DriverRun run = drive({"absent", "--title-prefix", "Vérification", "--for", "3000"});
        EXPECT_EQ(run.code, 0) << c.name << "\n" << run.report();
        Exit exit = installer.wait(240);
        ASSERT_TRUE(exit.finished) << c.name;
        EXPECT_EQ(exit.code, 0) << c.name;
        // Long enough that a dialog would have appeared within the watched time.
        EXPECT_GT(exit.seconds, 2.0) << c.name << ": verification too quick to prove anything";
    }
}

}  // namespace
