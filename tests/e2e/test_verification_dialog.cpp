// The verification dialog of a slow verification: shown after the first
// second with the running percentage, never in a silent run.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "datablock/records.h"
#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

// Large enough that the first second of verifying cannot cover it (about
// 300 MB/s were measured under Wine here). Once the dialog is up, the
// scan dispatches window messages after every 512-byte chunk, which is cheap
// on Windows but slows the rest of the scan to about 10 MB/s under Wine; so
// the file is not made larger than it needs to be.
const size_t kSlowStreamSize = 512u << 20;
const char kTitlePrefix[] = "Vérification de l'installation: ";

// The stream is noise, not a real compressed stream (compressing half a
// gigabyte would cost more than the test is worth): it verifies, and then
// loading the header fails with the reader's message followed by the
// verification failure text, which the tests read and dismiss.
void expect_header_failure_messages(const WineProcess& installer) {
    MessageBoxSeen first = answer_message_box(installer, "ERREUR TARK", "OK", 120000);
    EXPECT_EQ(first.text, "Erreur lors de la lecture du block d'infos de l'installation") << first.report;
    MessageBoxSeen second = answer_message_box(installer, "ERREUR TARK");
    EXPECT_EQ(second.text.rfind("Echec de la vérification", 0), 0u) << second.report;
}

const Bytes& slow_stream() {
    static const Bytes stream = noise(kSlowStreamSize, 99);
    return stream;
}

// A large installer in the test's output folder, removed again when the test
// ends: a gigabyte per file is not worth keeping.
class SlowInstaller {
public:
    SlowInstaller(const std::string& name, uint32_t flags) {
        quillmar::ImageOptions options;
        options.flags = flags;
        path_ = make_installer(name, slow_stream(), options);
    }
    ~SlowInstaller() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

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
    SlowInstaller exe("slow.exe", FH_CRC);
    std::string bmp = output_dir() + "/verification-dialog.bmp";
    WineProcess installer(exe.path(), {}, 300);
    DriverRun run = drive({"wait", "--title-prefix", kTitlePrefix, "--class", "#32770", "--exe", installer.exe_name(),
                           "--timeout", "20000", ":",
                           "dump", ":", "screenshot", windows_path(bmp), ":", "sleep", "1500", ":", "title"});
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
    // Refreshed while the scan goes on. A busy machine (a build beside the
    // tests) may take a while for the next percent: the title is read again
    // until it moves, for up to half a minute.
    int later = percentage(run.value("title"));
    DriverRun again = run;
    for (int i = 0; i < 30 && later <= first && later >= 0; ++i) {
        again = drive({"wait", "--title-prefix", kTitlePrefix, "--class", "#32770", "--exe", installer.exe_name(),
                       "--timeout", "5000", ":", "sleep", "1000", ":", "title"});
        if (again.code != 0) break;
        later = percentage(again.value("title"));
    }
    EXPECT_GT(later, first) << again.report();

    std::string kept = keep_screenshot(bmp);
    std::cout << "screenshot: " << kept << "\n";
    expect_header_failure_messages(installer);
    Exit exit = installer.wait(240);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
}

// A silent run never shows the dialog, whether the silence comes from the
// command line or from the data block.
TEST(VerificationDialog, NeverInASilentRun) {
    struct Case {
        const char* name;
        uint32_t flags;
        std::vector<std::string> args;
    } cases[] = {
        {"slow_silent_option.exe", FH_CRC, {"/S"}},
        {"slow_silent_flag.exe", FH_CRC | FH_SILENT, {}},
    };
    for (const Case& c : cases) {
        SlowInstaller exe(c.name, c.flags);
        WineProcess installer(exe.path(), c.args, 300);
        DriverRun run =
            drive({"absent", "--title-prefix", "Vérification", "--exe", installer.exe_name(), "--for", "3000"});
        EXPECT_EQ(run.code, 0) << c.name << "\n" << run.report();
        expect_header_failure_messages(installer);
        Exit exit = installer.wait(240);
        ASSERT_TRUE(exit.finished) << c.name;
        EXPECT_EQ(exit.code, 0) << c.name;
        // Long enough that a dialog would have appeared within the watched time.
        EXPECT_GT(exit.seconds, 1.2) << c.name << ": verification too quick to prove anything";
    }
}

}  // namespace
