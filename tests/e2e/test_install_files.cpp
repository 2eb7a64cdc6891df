// Silent installations that meet files already in place: each overwrite mode
// of file extraction against existing files with older, equal and newer
// times, seen in the files under the prefix afterwards.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

void write_text(const std::string& path, const std::string& text, time_t mtime) {
    std::ofstream(path, std::ios::binary) << text;
    utimbuf times{mtime, mtime};
    utime(path.c_str(), &times);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

time_t mtime_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

const char kDescription[] = R"(script = '''
main:   create_directory "C:\QmOverwrite", true
        file "src/never.txt", "never.txt", never
        file "src/never_missing.txt", "never_missing.txt", never
        file "src/try.txt", "try.txt", try
        file "src/always.txt", "always.txt", always
        file "src/older.txt", "older.txt", if_newer
        file "src/equal.txt", "equal.txt", if_newer
        file "src/newer.txt", "newer.txt", if_newer
        file "src/newer_missing.txt", "newer_missing.txt", if_newer
        if_error 1f, next
        message_box MB_OK, "no error"
        end
1:      message_box MB_OK, "error"
        end
'''
[[sections]]
name = "Files"
code = "main"
[[languages]]
id = 1033
texts = { caption = "Overwrite test" }
)";

TEST(InstallFiles, OverwriteModesAgainstExistingFiles) {
    const time_t stored = 1700000000;  // the payload files' own time
    const std::string dir = output_dir();
    mkdir((dir + "/src").c_str(), 0755);
    const std::string target = drive_c_path("C:\\QmOverwrite");
    mkdir(target.c_str(), 0755);

    struct Case {
        const char* name;
        bool existing;
        time_t existing_time;
        bool replaced;  // the payload's bytes and time are there afterwards
    } cases[] = {
        {"never", true, stored - 3600, false},
        {"never_missing", false, 0, true},
        {"try", true, stored + 3600, true},
        {"always", true, stored + 3600, true},
        {"older", true, stored - 3600, true},
        {"equal", true, stored, false},
        {"newer", true, stored + 3600, false},
        {"newer_missing", false, 0, true},
    };
    for (const Case& c : cases) {
        write_text(dir + "/src/" + c.name + ".txt", std::string("new ") + c.name, stored);
        const std::string existing = target + "/" + c.name + ".txt";
        std::remove(existing.c_str());
        if (c.existing) write_text(existing, std::string("old ") + c.name, c.existing_time);
    }

    std::string exe = build_from_description("overwrite", kDescription);
    ASSERT_FALSE(exe.empty());
    WineProcess installer(exe, {"/S"}, 60);
    MessageBoxSeen box = answer_message_box(installer, "Overwrite test");
    ASSERT_TRUE(box.seen) << box.report;
    // Skipping an existing file is not an error.
    EXPECT_EQ(box.text, "no error");
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);

    for (const Case& c : cases) {
        const std::string path = target + "/" + c.name + ".txt";
        if (c.replaced) {
            EXPECT_EQ(read_text(path), std::string("new ") + c.name) << c.name;
            EXPECT_EQ(mtime_of(path), stored) << c.name;
        } else {
            EXPECT_EQ(read_text(path), std::string("old ") + c.name) << c.name;
            EXPECT_EQ(mtime_of(path), c.existing_time) << c.name;
        }
        std::remove(path.c_str());
    }
    rmdir(target.c_str());
}

}  // namespace
