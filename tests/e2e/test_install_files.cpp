// Silent installers made from descriptions install files under Wine: a whole
// tree with its times, the overwrite modes against files already there, the
// question asked when another program holds the file, a damaged payload, and
// renames and deletions left to the next restart. What happened is seen from
// outside: files under the prefix's drive C, message boxes, exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "datablock/records.h"
#include "tests/decodable_length.h"
#include "tests/e2e/harness.h"
#include "tests/file_helpers.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// ---- Files on the host side ---------------------------------------------------

using test_files::read_bytes;
using test_files::read_text;
using test_files::write_bytes;
using test_files::write_text;

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Sets the last-write (and access) time; seconds and microseconds.
void set_time(const std::string& path, int64_t seconds, int64_t microseconds = 0) {
    timeval times[2] = {{(time_t)seconds, (suseconds_t)microseconds}, {(time_t)seconds, (suseconds_t)microseconds}};
    ASSERT_EQ(utimes(path.c_str(), times), 0) << path;
}

// Last-write time in nanoseconds since 1970; -1 when the file is missing.
int64_t mtime_ns(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
}

// An empty directory C:\qm-files\NAME under the prefix; its Windows path.
std::string fresh_windows_dir(const std::string& name) {
    const std::string windows = "C:\\qm-files\\" + name;
    const std::string unix_path = drive_c_path(windows);
    fs::remove_all(unix_path);
    fs::create_directories(unix_path);
    return windows;
}

// ---- Running an installer -----------------------------------------------------

struct Box {
    std::string text;
    bool icon = false;
};

// Presses OK on every message box of `installer` with this caption until the
// installer ends; the texts seen, in order.
std::vector<Box> answer_until_exit(WineProcess& installer, const std::string& caption, Exit& exit,
                                   std::string& report, double limit_seconds = 60) {
    std::vector<Box> boxes;
    for (;;) {
        exit = installer.wait(0.2);
        if (exit.finished || installer.elapsed() > limit_seconds) break;
        DriverRun run = drive({"wait", "--title", caption, "--class", "#32770", "--exe", installer.exe_name(),
                               "--timeout", "1500", ":", "msgbox", ":", "press", "OK", ":", "gone", "--timeout",
                               "5000"},
                              40);
        if (run.code == 0)
            boxes.push_back({run.value("text"), run.value("icon") == "yes"});
        else
            report += run.report();
    }
    if (!exit.finished) exit = installer.wait(10);
    return boxes;
}

Texts texts_of(const std::vector<Box>& boxes) {
    Texts t;
    for (const Box& b : boxes) t.push_back(b.text);
    return t;
}

// The holder program: opens files for reading and writing without sharing
// and keeps them open until told to let go.
class Holder {
public:
    Holder(const std::string& tag, const std::vector<std::string>& windows_files) {
        const std::string base = "C:\\qm-files\\holder-" + tag;
        ready_ = drive_c_path(base + ".ready");
        release_ = drive_c_path(base + ".release");
        fs::create_directories(fs::path(ready_).parent_path());
        std::remove(ready_.c_str());
        std::remove(release_.c_str());
        std::vector<std::string> args = {base + ".ready", base + ".release", "60000"};
        args.insert(args.end(), windows_files.begin(), windows_files.end());
        process_ = std::make_unique<WineProcess>(QM_HOLDER_EXE, args, 90);
    }
    ~Holder() { release(); }

    // True once every file is held.
    bool wait_ready(double seconds = 30) {
        for (double waited = 0; waited < seconds; waited += 0.05) {
            if (exists(ready_)) return true;
            if (process_->wait(0.05).finished) return false;
        }
        return false;
    }
    // Lets go of the files; the holder's exit (0 when it let go when told).
    Exit release() {
        if (!released_) {
            write_text(release_, "");
            released_ = true;
        }
        return process_->wait(20);
    }

private:
    std::string ready_, release_;
    std::unique_ptr<WineProcess> process_;
    bool released_ = false;
};

// Code that appends "E" or "-" to $var1 for the error count (and clears it).
const char kNoteError[] = R"(
        if_error next, 1f
        copy_string $var1, "{var1}E"
        jump 2f
1:      copy_string $var1, "{var1}-"
2:
)";

// Code that also appends "R" or "-" for the reboot flag (and clears it) and
// a space.
const char kNoteErrorAndReboot[] = R"(
        if_error next, 1f
        copy_string $var1, "{var1}E"
        jump 2f
1:      copy_string $var1, "{var1}-"
2:      if_reboot_flag next, 3f
        copy_string $var1, "{var1}R"
        jump 4f
3:      copy_string $var1, "{var1}-"
4:      set_reboot_flag 0
        copy_string $var1, "{var1} "
)";

// ---- A tree of files -----------------------------------------------------------

struct TreeFile {
    const char* path;  // relative to the tree, '/' separated
    size_t size;
    bool compressible;
};

const TreeFile tree_files[] = {
    {"readme.txt", 37, true},
    {"empty.dat", 0, false},
    {"bin/tool.bin", 300000, false},
    {"bin/lib/data.bin", 70001, true},
    {"bin/lib/deep/x", 1, false},
    {"docs/guide.txt", 4096, true},
};

TEST(InstallFiles, TreeArrivesWholeWithItsTimes) {
    const std::string source = output_dir() + "/tree";
    fs::remove_all(source);
    int n = 0;
    for (const TreeFile& f : tree_files) {
        Bytes content = noise(f.size, 100 + n);
        if (f.compressible)
            for (size_t i = 0; i < content.size(); i++) content[i] = (uint8_t)('a' + (i / 7 + n) % 26);
        write_bytes(source + "/" + f.path, content);
        // Distinct times, down to the microsecond, years apart.
        set_time(source + "/" + f.path, 1000000000 + (int64_t)n * 40000000, 1111 * (n + 1));
        ++n;
    }
    fs::create_directories(source + "/docs/empty folder");

    const std::string install = fresh_windows_dir("tree");
    std::string exe = build_from_description("tree", R"(script = '''
main:   create_directory "{install_dir}", true
        files "tree", "app"
        copy_string $var1, "installed"
        if_error next, 1f
        copy_string $var1, "errors"
1:      message_box MB_OK, "{var1} {output_dir}"
        end
'''
[[sections]]
name = "Tree"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Tree test" }
)");
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {"/S", "/D=" + install}, 90);
    Exit exit;
    std::string report;
    std::vector<Box> boxes = answer_until_exit(installer, "Tree test", exit, report);
    ASSERT_TRUE(exit.finished) << report;
    EXPECT_EQ(exit.code, 0);
    // The output folder is the install folder: `files` leaves it as it was.
    EXPECT_EQ(texts_of(boxes), Texts{"installed " + install}) << report;

    const std::string target = drive_c_path(install + "\\app");
    size_t entries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        ++entries;
        const std::string relative = fs::relative(entry.path(), source).string();
        const std::string installed = target + "/" + relative;
        SCOPED_TRACE(relative);
        if (entry.is_directory()) {
            EXPECT_TRUE(fs::is_directory(installed));
            continue;
        }
        ASSERT_TRUE(exists(installed));
        EXPECT_TRUE(read_bytes(installed) == read_bytes(entry.path().string())) << "content differs";
        EXPECT_EQ(mtime_ns(installed), mtime_ns(entry.path().string()));
    }
    size_t installed_entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(target)) ++installed_entries;
    EXPECT_EQ(installed_entries, entries) << "entries the description does not have";
}

// ---- Overwrite modes -------------------------------------------------------------

// What stands at the target before the installer runs.
enum class Before { Missing, Older, SameTime, Newer, ReadOnlyOlder, Held };

struct OverwriteCase {
    const char* name;
    const char* mode;
    Before before;
    bool replaced;  // the installed file holds the payload afterwards
    bool error;     // the error count rose
};

const OverwriteCase overwrite_cases[] = {
    {"always_missing", "always", Before::Missing, true, false},
    {"always_newer", "always", Before::Newer, true, false},
    {"always_read_only", "always", Before::ReadOnlyOlder, true, false},
    {"never_missing", "never", Before::Missing, true, false},
    {"never_older", "never", Before::Older, false, false},
    {"try_newer", "try", Before::Newer, true, false},
    {"try_held", "try", Before::Held, false, true},
    {"if_newer_missing", "if_newer", Before::Missing, true, false},
    {"if_newer_older", "if_newer", Before::Older, true, false},
    {"if_newer_same_time", "if_newer", Before::SameTime, false, false},
    {"if_newer_newer", "if_newer", Before::Newer, false, false},
    {"if_newer_read_only_older", "if_newer", Before::ReadOnlyOlder, true, false},
};

TEST(InstallFiles, OverwriteModesAgainstFilesAlreadyThere) {
    const int64_t stored = 1700000000;  // the payload's time
    const std::string payload = output_dir() + "/new.txt";
    write_text(payload, "the new contents");
    set_time(payload, stored);

    const std::string dir = fresh_windows_dir("overwrite");
    std::string script = "main:   copy_string $var1, \"\"\n";
    std::vector<std::string> held;
    std::string expected_notes;
    for (const OverwriteCase& c : overwrite_cases) {
        const std::string windows = dir + "\\" + c.name + ".txt";
        const std::string unix_path = drive_c_path(windows);
        if (c.before != Before::Missing) {
            write_text(unix_path, "the old contents");
            int64_t when = stored - 86400;
            if (c.before == Before::SameTime) when = stored;
            if (c.before == Before::Newer || c.before == Before::Held) when = stored + 86400;
            set_time(unix_path, when);
            // Wine shows a file without write permission as read-only.
            if (c.before == Before::ReadOnlyOlder) chmod(unix_path.c_str(), 0444);
            if (c.before == Before::Held) held.push_back(windows);
        }
        script += std::string("        file \"new.txt\", \"") + windows + "\", " + c.mode + kNoteError;
        expected_notes += c.error ? "E" : "-";
    }
    script += "        message_box MB_OK, \"{var1}\"\n        end\n";
    std::string exe = build_from_description("overwrite", "script = '''\n" + script + R"('''
[[sections]]
name = "Overwrite"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Overwrite test" }
)");
    ASSERT_FALSE(exe.empty());

    Holder holder("overwrite", held);
    ASSERT_TRUE(holder.wait_ready());
    WineProcess installer(exe, {"/S"}, 90);
    Exit exit;
    std::string report;
    std::vector<Box> boxes = answer_until_exit(installer, "Overwrite test", exit, report);
    EXPECT_EQ(holder.release().code, 0);
    ASSERT_TRUE(exit.finished) << report;
    EXPECT_EQ(exit.code, 0);
    ASSERT_EQ(texts_of(boxes).size(), 1u) << report;

    const std::string& notes = boxes[0].text;
    ASSERT_EQ(notes.size(), std::size(overwrite_cases)) << notes;
    size_t i = 0;
    for (const OverwriteCase& c : overwrite_cases) {
        SCOPED_TRACE(c.name);
        const std::string unix_path = drive_c_path(dir + "\\" + c.name + ".txt");
        EXPECT_EQ(notes[i] == 'E', c.error) << notes;
        EXPECT_EQ(read_text(unix_path), c.replaced ? "the new contents" : "the old contents");
        if (c.replaced) {
            // A replaced file carries the stored time and is writable again.
            EXPECT_EQ(mtime_ns(unix_path), stored * 1000000000);
            struct stat st;
            ASSERT_EQ(stat(unix_path.c_str(), &st), 0);
            EXPECT_NE(st.st_mode & 0200, 0u);
        }
        ++i;
    }
    EXPECT_EQ(notes, expected_notes);
}

// ---- A file another program holds, mode always -------------------------------------

struct HeldCase {
    const char* name;
    int button;       // answer to the question: IDABORT 3, IDRETRY 4, IDIGNORE 5
    bool release_first;  // the holder lets go before the answer
    const char* contents;
    Texts boxes_after;  // the boxes after the question
    int exit_code;
};

const HeldCase held_cases[] = {
    {"retry", 4, true, "the new contents", {"after: no error, own value"}, 0},
    {"ignore", 5, false, "the old contents", {"after: error, own value"}, 0},
    {"abort", 3, false, "the old contents", {"failure, own value"}, 1},
};

TEST(InstallFiles, HeldFileAsksAbortRetryIgnore) {
    const std::string payload = output_dir() + "/new.txt";
    write_text(payload, "the new contents");
    const std::string dir = fresh_windows_dir("held");
    for (const HeldCase& c : held_cases) {
        SCOPED_TRACE(c.name);
        const std::string windows = dir + "\\" + c.name + ".dll";
        write_text(drive_c_path(windows), "the old contents");
        std::string exe = build_from_description(c.name, R"(script = '''
main:   copy_string $var0, "own value"
        copy_string $var1, "no error"
        file "new.txt", ")" + windows + R"("
        if_error next, 1f
        copy_string $var1, "error"
1:      message_box MB_OK, "after: {var1}, {var0}"
        end
failed: message_box MB_OK, "failure, {var0}"
        end
'''
callbacks = { on_failure = "failed" }
[[sections]]
name = "Held"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Held test" }
)");
        ASSERT_FALSE(exe.empty());

        Holder holder(c.name, {windows});
        ASSERT_TRUE(holder.wait_ready());
        WineProcess installer(exe, {"/S"}, 90);
        DriverRun question = drive({"wait", "--title", "Held test", "--class", "#32770", "--exe",
                                    installer.exe_name(), "--timeout", "20000", ":", "msgbox"},
                                   60);
        ASSERT_EQ(question.code, 0) << question.report();
        // The language's text with the full path where its {var0} stands.
        EXPECT_EQ(question.value("text"), "The file cannot be opened for writing:\r\n\r\n" + windows +
                                              "\r\n\r\nAbort stops the installation, Retry tries again, Ignore "
                                              "skips this file.");
        EXPECT_EQ(question.values("button").size(), 3u) << question.report();
        EXPECT_EQ(question.value("icon"), "yes");
        if (c.release_first) {
            ASSERT_EQ(holder.release().code, 0);
        }
        DriverRun answer = drive({"wait", "--title", "Held test", "--class", "#32770", "--exe", installer.exe_name(),
                                  "--timeout", "5000", ":", "press", "--id", std::to_string(c.button), ":", "gone",
                                  "--timeout", "5000"},
                                 40);
        ASSERT_EQ(answer.code, 0) << answer.report();

        Exit exit;
        std::string report;
        std::vector<Box> boxes = answer_until_exit(installer, "Held test", exit, report);
        EXPECT_EQ(holder.release().code, 0);
        ASSERT_TRUE(exit.finished) << report;
        EXPECT_EQ(texts_of(boxes), c.boxes_after) << report;
        EXPECT_EQ(exit.code, c.exit_code);
        EXPECT_EQ(read_text(drive_c_path(windows)), c.contents);
    }
}

// ---- A damaged payload -----------------------------------------------------------

TEST(InstallFiles, DamagedPayloadShowsTheMessageAndAborts) {
    // Noise does not compress, so the payload fills the stream's last blocks
    // and its end lies far behind the header's.
    write_bytes(output_dir() + "/big.bin", noise(1200000, 7));
    const std::string install = fresh_windows_dir("damaged");
    std::string exe = build_from_description("damaged", R"(script = '''
main:   create_directory "{install_dir}", true
        file "big.bin"
        message_box MB_OK, "after the file"
        end
failed: message_box MB_OK, "failure"
        end
'''
callbacks = { on_failure = "failed" }
[[sections]]
name = "Damaged"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Damage test", corrupt_data = "The installer data is damaged." }
)");
    ASSERT_FALSE(exe.empty());
    Bytes image = read_bytes(exe);
    size_t at = 512;
    while (at + sizeof(FirstHeader) <= image.size() && first_header_total_length(&image[at]) == 0) at += 512;
    ASSERT_LT(at + sizeof(FirstHeader), image.size()) << "no data block";
    const FirstHeader* first = (const FirstHeader*)&image[at];
    ASSERT_TRUE(first->flags & FH_CRC);
    const size_t stream_start = at + sizeof(FirstHeader), stream_end = at + (size_t)first->total_length - 4;
    const Bytes intact(image.begin() + (long)stream_start, image.begin() + (long)stream_end);
    const size_t whole = decodable_length(intact);
    ASSERT_GT(whole, 1200000u);

    // The stream has no checksums of its own, and most changed bytes only
    // give other data of the same length, which nothing can notice. Set one
    // byte to 0xFF (a run of one bits, of long codes), the first one going
    // back from near the end that leaves the stream short of its payload.
    size_t spoiled = 0;
    for (size_t back = 4000; back < 40000 && !spoiled; back += 97) {
        Bytes damaged = intact;
        damaged[damaged.size() - back] = 0xFF;
        if (decodable_length(damaged) < whole) spoiled = stream_end - back;
    }
    ASSERT_NE(spoiled, 0u) << "no byte near the end spoils the stream";
    image[spoiled] = 0xFF;
    const std::string damaged_exe = write_installer("damaged-payload.exe", image);

    WineProcess installer(damaged_exe, {"/S", "/NCRC"}, 90);
    Exit exit;
    std::string report;
    std::vector<Box> boxes = answer_until_exit(installer, "Damage test", exit, report);
    ASSERT_TRUE(exit.finished) << report;
    EXPECT_EQ(texts_of(boxes), (Texts{"The installer data is damaged.", "failure"})) << report;
    if (!boxes.empty()) {
        EXPECT_TRUE(boxes[0].icon);
    }
    EXPECT_EQ(exit.code, 1);
}

// ---- Renames and deletions at the next restart ----------------------------------------

TEST(InstallFiles, RenameAndDeleteAtRestart) {
    const std::string dir = fresh_windows_dir("reboot");
    auto path = [&](const char* name) { return dir + "\\" + name; };
    auto unix_path = [&](const char* name) { return drive_c_path(path(name)); };
    for (const char* name : {"held-old.txt", "held-gone.txt", "free-old.txt", "free-gone.txt", "held-kept.txt",
                             "held-kept2.txt"})
        write_text(unix_path(name), std::string("contents of ") + name);

    struct Step {
        const char* code;
        const char* note;  // error count, reboot flag
    } steps[] = {
        // In use: left to the restart.
        {"rename \"$D\\held-old.txt\", \"$D\\held-new.txt\", at_reboot=1", "-R"},
        {"delete_file \"$D\\held-gone.txt\", at_reboot=1", "-R"},
        // Free: done at once, nothing left to the restart.
        {"rename \"$D\\free-old.txt\", \"$D\\free-new.txt\", at_reboot=1", "--"},
        {"delete_file \"$D\\free-gone.txt\", at_reboot=1", "--"},
        // In use, without the restart variant: an error.
        {"delete_file \"$D\\held-kept.txt\"", "E-"},
        {"rename \"$D\\held-kept2.txt\", \"$D\\held-kept2-new.txt\"", "E-"},
    };
    std::string script = "main:   copy_string $var1, \"\"\n";
    std::string expected;
    for (const Step& s : steps) {
        std::string code = s.code;
        for (size_t at; (at = code.find("$D")) != std::string::npos;) code.replace(at, 2, dir);
        script += "        " + code + kNoteErrorAndReboot;
        expected += std::string(s.note) + " ";
    }
    script += "        message_box MB_OK, \"{var1}\"\n        end\n";
    std::string exe = build_from_description("reboot", "script = '''\n" + script + R"('''
[[sections]]
name = "Reboot"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Reboot test" }
)");
    ASSERT_FALSE(exe.empty());

    {
        Holder holder("reboot", {path("held-old.txt"), path("held-gone.txt"), path("held-kept.txt"),
                                 path("held-kept2.txt")});
        ASSERT_TRUE(holder.wait_ready());
        WineProcess installer(exe, {"/S"}, 90);
        Exit exit;
        std::string report;
        std::vector<Box> boxes = answer_until_exit(installer, "Reboot test", exit, report);
        ASSERT_TRUE(exit.finished) << report;
        EXPECT_EQ(exit.code, 0);
        EXPECT_EQ(texts_of(boxes), Texts{expected}) << report;
        EXPECT_EQ(holder.release().code, 0);
    }
    // Before the restart only the free files have changed.
    EXPECT_TRUE(exists(unix_path("held-old.txt")));
    EXPECT_FALSE(exists(unix_path("held-new.txt")));
    EXPECT_TRUE(exists(unix_path("held-gone.txt")));
    EXPECT_FALSE(exists(unix_path("free-old.txt")));
    EXPECT_EQ(read_text(unix_path("free-new.txt")), "contents of free-old.txt");
    EXPECT_FALSE(exists(unix_path("free-gone.txt")));

    // Wine's restart carries out what was left to it.
    WineProcess restart("wineboot", {"-r"}, 120);
    Exit restarted = restart.wait(110);
    ASSERT_TRUE(restarted.finished);
    EXPECT_EQ(restarted.code, 0);
    EXPECT_FALSE(exists(unix_path("held-old.txt")));
    EXPECT_EQ(read_text(unix_path("held-new.txt")), "contents of held-old.txt");
    EXPECT_FALSE(exists(unix_path("held-gone.txt")));
    EXPECT_EQ(read_text(unix_path("held-kept.txt")), "contents of held-kept.txt");
    EXPECT_EQ(read_text(unix_path("held-kept2.txt")), "contents of held-kept2.txt");
    EXPECT_FALSE(exists(unix_path("held-kept2-new.txt")));
}

}  // namespace
