// Silent installers made from descriptions, run under Wine: which callbacks
// and sections run, the exit code, the language chosen and the install
// directory settled, each seen from outside through the message boxes that
// the scripts show.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

struct Outcome {
    std::vector<std::string> boxes;    // texts of the message boxes, in order
    std::vector<std::string> captions; // their captions
    Exit exit;
    std::string report;
};

// Runs the installer and presses OK on every message box it shows whose
// caption begins with `caption_prefix`, until it ends (or a box fails to come
// several times in a row).
Outcome run_answering(const std::string& exe, const std::vector<std::string>& args, const std::string& caption_prefix) {
    Outcome out;
    WineProcess installer(exe, args, 120);
    for (int misses = 0; misses < 4;) {
        out.exit = installer.wait(0.3);
        if (out.exit.finished) break;
        DriverRun run = drive({"wait", "--title-prefix", caption_prefix, "--class", "#32770", "--exe",
                               installer.exe_name(), "--timeout", "1500", ":",
                               "msgbox", ":", "press", "OK", ":", "gone", "--timeout", "5000"},
                              40);
        if (run.code == 0) {
            out.boxes.push_back(run.value("text"));
            out.captions.push_back(run.value("caption"));
            misses = 0;
        } else {
            out.report += run.report();
            ++misses;
        }
    }
    if (!out.exit.finished) out.exit = installer.wait(20);
    return out;
}

using Texts = std::vector<std::string>;

// One installer per case; the description's sections and callbacks show a
// box each, so that the boxes tell what ran.
struct FlowCase {
    const char* name;
    const char* description;
    Texts boxes;
    int exit_code;
};

const FlowCase flow_cases[] = {
    {"init_aborts",
     R"(script = '''
init:    message_box MB_OK, "init"
         abort "no"
         end
one:     message_box MB_OK, "one"
         end
done:    message_box MB_OK, "success"
         end
failed:  message_box MB_OK, "failure"
         end
'''
callbacks = { on_init = "init", on_success = "done", on_failure = "failed" }
[[sections]]
name = "One"
code = "one"
[[languages]]
id = 1033
texts = { caption = "Flow test" }
)",
     {"init"},
     1},
    {"second_of_three_fails",
     R"(script = '''
init:    message_box MB_OK, "init"
         end
one:     message_box MB_OK, "one"
         end
two:     message_box MB_OK, "two"
         abort "broken"
         message_box MB_OK, "after abort"
         end
three:   message_box MB_OK, "three"
         end
done:    message_box MB_OK, "success"
         end
failed:  message_box MB_OK, "failure"
         end
'''
callbacks = { on_init = "init", on_success = "done", on_failure = "failed" }
[[sections]]
name = "One"
code = "one"
[[sections]]
name = "Two"
code = "two"
[[sections]]
name = "Three"
code = "three"
[[languages]]
id = 1033
texts = { caption = "Flow test" }
)",
     {"init", "one", "two", "failure"},
     1},
    {"quit_skips_on_failure",
     R"(script = '''
one:     message_box MB_OK, "one"
         quit
         message_box MB_OK, "after quit"
         end
two:     message_box MB_OK, "two"
         end
done:    message_box MB_OK, "success"
         end
failed:  message_box MB_OK, "failure"
         end
'''
callbacks = { on_success = "done", on_failure = "failed" }
[[sections]]
name = "One"
code = "one"
[[sections]]
name = "Two"
code = "two"
[[languages]]
id = 1033
texts = { caption = "Flow test" }
)",
     {"one"},
     1},
    {"unselected_sections_run_when_silent",
     R"(script = '''
one:     message_box MB_OK, "one"
         end
two:     message_box MB_OK, "two"
         end
done:    message_box MB_OK, "success"
         end
failed:  message_box MB_OK, "failure"
         end
'''
callbacks = { on_success = "done", on_failure = "failed" }
[[sections]]
name = "One"
code = "one"
selected = false
[[sections]]
name = "Two"
code = "two"
selected = false
[[languages]]
id = 1033
texts = { caption = "Flow test" }
)",
     {"one", "two", "success"},
     0},
    {"success_outcome_does_not_change_exit_code",
     R"(script = '''
one:     message_box MB_OK, "one"
         end
done:    message_box MB_OK, "success"
         abort "ignored"
         end
'''
callbacks = { on_success = "done" }
[[sections]]
name = "One"
code = "one"
[[languages]]
id = 1033
texts = { caption = "Flow test" }
)",
     {"one", "success"},
     0},
};

class SilentFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(SilentFlow, RunsWhatTheOutcomeCallsFor) {
    const FlowCase& c = GetParam();
    std::string exe = build_from_description(c.name, c.description);
    ASSERT_FALSE(exe.empty());
    Outcome out = run_answering(exe, {"/S"}, "Flow test");
    ASSERT_TRUE(out.exit.finished) << out.report;
    EXPECT_EQ(out.boxes, c.boxes) << out.report;
    for (const std::string& caption : out.captions) EXPECT_EQ(caption, "Flow test");
    EXPECT_EQ(out.exit.code, c.exit_code);
}

INSTANTIATE_TEST_SUITE_P(Cases, SilentFlow, ::testing::ValuesIn(flow_cases),
                         [](const testing::TestParamInfo<FlowCase>& info) { return std::string(info.param.name); });

// ---- Language choice ----------------------------------------------------------

// A description with one language per id, each with its own caption; the
// section shows LangId.
std::string language_description(const std::vector<int>& ids, const std::string& init = "end") {
    std::string d = "script = '''\ninit:    " + init +
                    "\n         end\nshow:    message_box MB_OK, \"{lang_id}\"\n         end\n'''\n"
                    "callbacks = { on_init = \"init\" }\n[[sections]]\nname = \"Show\"\ncode = \"show\"\n";
    for (int id : ids)
        d += "[[languages]]\nid = " + std::to_string(id) + "\ntexts = { caption = \"Language " + std::to_string(id) +
             "\" }\n";
    return d;
}

TEST(SilentLanguage, ChoosesByUserLanguageAndLangId) {
    // Wine's user language follows the locale it starts in.
    struct Case {
        const char* name;
        const char* locale;      // for Wine; the default gives 1033
        std::vector<int> ids;
        const char* init;
        const char* lang_id;     // as the section sees it
    } cases[] = {
        {"exact_match_not_first", nullptr, {1036, 1033}, "end", "1033"},
        {"primary_language_pass", nullptr, {1036, 2057}, "end", "2057"},
        {"no_match_takes_first", nullptr, {2060, 1036}, "end", "2060"},
        {"french_user_primary_pass", "fr_FR.UTF-8", {1033, 2060}, "end", "2060"},
        {"french_user_exact", "fr_FR.UTF-8", {1033, 2060, 1036}, "end", "1036"},
        {"init_switches_language", nullptr, {1033, 1036}, "copy_string $lang_id, \"1036\"", "1036"},
        {"init_names_no_language", nullptr, {1033, 1036}, "copy_string $lang_id, \"1049\"", "1033"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string exe = build_from_description(c.name, language_description(c.ids, c.init));
        ASSERT_FALSE(exe.empty());
        if (c.locale) setenv("QM_WINE_LOCALE", c.locale, 1);
        Outcome out = run_answering(exe, {"/S"}, "Language ");
        unsetenv("QM_WINE_LOCALE");
        ASSERT_TRUE(out.exit.finished) << out.report;
        ASSERT_EQ(out.boxes, Texts{c.lang_id}) << out.report;
        EXPECT_EQ(out.captions[0], std::string("Language ") + c.lang_id);
        EXPECT_EQ(out.exit.code, 0);
    }
}

// ---- Install directory --------------------------------------------------------

// Runs a Windows command-line tool of the prefix (reg, for instance).
void run_tool(const std::vector<std::string>& command) {
    std::vector<std::string> args(command.begin() + 1, command.end());
    WineProcess tool(command[0], args, 60);
    Exit exit = tool.wait(50);
    ASSERT_TRUE(exit.finished) << command[0];
    ASSERT_EQ(exit.code, 0) << command[0] << " " << (args.empty() ? "" : args[0]);
}

void make_file(const std::string& unix_path) {
    std::string dir;
    for (size_t at = unix_path.find('/', 1); at != std::string::npos; at = unix_path.find('/', at + 1))
        mkdir(unix_path.substr(0, at).c_str(), 0755);
    std::ofstream(unix_path) << "program";
}

std::string install_dir_description(const std::string& key) {
    return "script = '''\nshow:    message_box MB_OK, \"{install_dir}\"\n         end\n'''\n"
           "[installer]\ndefault_install_dir = '{program_files}\\Quillmar Default'\n"
           "install_dir_registry = { root = \"HKCU\", key = '" +
           key +
           "', value = \"Path\" }\n"
           "[[sections]]\nname = \"Show\"\ncode = \"show\"\n"
           "[[languages]]\nid = 1033\ntexts = { caption = \"Directory test\" }\n";
}

TEST(SilentInstallDir, CommandLineThenRegistryThenDefault) {
    // An existing program for the quoted-path value, and a directory whose
    // name ends in .exe.
    make_file(drive_c_path("C:\\Program Files\\QmApp\\app.exe"));
    make_file(drive_c_path("C:\\QmTools\\tool.exe\\inside.txt"));
    struct Case {
        const char* name;
        const char* registry;  // value of HKCU\Software\QuillmarTest\<name>\Path, or null
        std::vector<std::string> args;
        std::string install_dir;
    } cases[] = {
        {"default_only", nullptr, {"/S"}, program_files() + "\\Quillmar Default"},
        {"command_line_wins", "C:\\FromRegistry", {"/S", "/D=C:\\FromCommandLine"}, "C:\\FromCommandLine"},
        {"relative_command_line_falls_back", "C:\\FromRegistry", {"/S", "/D=relative\\dir"}, "C:\\FromRegistry"},
        {"registry_plain", "C:\\FromRegistry\\Sub", {"/S"}, "C:\\FromRegistry\\Sub"},
        {"registry_quoted_program", "\"C:\\Program Files\\QmApp\\app.exe\" /quiet", {"/S"},
         "C:\\Program Files\\QmApp"},
        {"registry_program_path", "C:\\Program Files\\QmApp\\app.exe", {"/S"}, "C:\\Program Files\\QmApp"},
        {"registry_directory_named_exe", "C:\\QmTools\\tool.exe", {"/S"}, "C:\\QmTools\\tool.exe"},
        {"registry_bare_exe_name", "app.exe", {"/S"}, program_files() + "\\Quillmar Default"},
        {"registry_relative", "relative\\dir", {"/S"}, program_files() + "\\Quillmar Default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string key = std::string("Software\\QuillmarTest\\") + c.name;
        if (c.registry) run_tool({"reg", "add", "HKCU\\" + key, "/v", "Path", "/t", "REG_SZ", "/d", c.registry, "/f"});
        std::string exe = build_from_description(c.name, install_dir_description(key));
        ASSERT_FALSE(exe.empty());
        Outcome out = run_answering(exe, c.args, "Directory test");
        ASSERT_TRUE(out.exit.finished) << out.report;
        EXPECT_EQ(out.boxes, Texts{c.install_dir}) << out.report;
        EXPECT_EQ(out.exit.code, 0);
    }
}

// ---- A script that computes ----------------------------------------------------

// Builds a string in a loop, sums 1..10, keeps a stack, formats and cuts
// strings; the section shows everything it computed in one box.
const char kComputingScript[] = R"(script = '''
main:   copy_string $var0, ""
        copy_string $var1, "0"
1:      compare_int $var1, 5, 2f, next, 2f
        copy_string $var0, "{var0}{var1}"
        int_operation $var1, $var1, 1, add
        jump 1b
2:      copy_string $var2, "0"
        copy_string $var3, "1"
3:      int_operation $var2, $var2, $var3, add
        int_operation $var3, $var3, 1, add
        compare_int $var3, 10, 3b, 3b, next
        stack "first"
        stack "second"
        stack "third"
        stack exchange=2
        stack $var4, pop
        stack $var5, pop
        stack $var6, pop
        stack $var7, pop
        if_error 4f, next
        copy_string $var8, "no error"
        jump 5f
4:      copy_string $var8, "error"
5:      string_length $var9, "{var0}"
        format_int $var10, "%04X", 255
        copy_string $var11, "{var0}", 3, -4
        int_operation $var12, -7, 2, mod
        message_box MB_OK, "{var0}|{var2}|{var4},{var5},{var6}|{var8}|{var9}|{var10}|{var11}|{var12}"
        end
'''
[[sections]]
name = "Compute"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Compute test" }
)";

TEST(SilentScript, BuildsStringsLoopsComputesAndKeepsAStack) {
    std::string exe = build_from_description("computing", kComputingScript);
    ASSERT_FALSE(exe.empty());
    Outcome out = run_answering(exe, {"/S"}, "Compute test");
    ASSERT_TRUE(out.exit.finished) << out.report;
    EXPECT_EQ(out.boxes, Texts{"01234|55|first,second,third|error|5|00FF|123|-1"}) << out.report;
    EXPECT_EQ(out.exit.code, 0);
}


// ---- The remembered temporary directory ------------------------------------------

const char kTempDirectoryScript[] = R"(script = '''
main:   create_directory "{temp}\qm-remembered\sub"
        file_open "{temp}\qm-remembered\sub\note.txt", GENERIC_WRITE, CREATE_ALWAYS, $var1
        file_write $var1, "kept until exit"
        file_close $var1
        create_directory "{temp}\qm-not-remembered"
        copy_string $var0, "{temp}\qm-remembered"
        remember_temp_directory
        copy_string $var0, "{temp}\qm-not-remembered"
        remember_temp_directory
        message_box MB_OK, "{temp_directory}|{temp}\qm-not-remembered"
        end
'''
[[sections]]
name = "Temp"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Temp test" }
)";

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The first directory remembered is deleted with its contents when the
// installer ends; a second one is not remembered.
TEST(SilentScript, RememberedTemporaryDirectoryGoesAtExit) {
    std::string exe = build_from_description("temp_directory", kTempDirectoryScript);
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {"/S"}, 60);
    MessageBoxSeen box = answer_message_box(installer, "Temp test", "OK", 20000);
    ASSERT_TRUE(box.seen) << box.report;
    const size_t bar = box.text.find('|');
    ASSERT_NE(bar, std::string::npos) << box.text;
    const std::string remembered = drive_c_path(box.text.substr(0, bar));
    const std::string other = drive_c_path(box.text.substr(bar + 1));
    EXPECT_NE(box.text.find("qm-remembered|"), std::string::npos) << box.text;
    // Still there while the installer runs.
    EXPECT_TRUE(exists(remembered + "/sub/note.txt")) << remembered;
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);
    EXPECT_FALSE(exists(remembered)) << remembered;
    EXPECT_TRUE(exists(other)) << other;
    rmdir(other.c_str());
}

}  // namespace
