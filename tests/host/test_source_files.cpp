#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builder/source_files.h"
#include "tests/file_helpers.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;

struct Tree {
    fs::path dir;
    explicit Tree(const char* name) : dir(fs::temp_directory_path() / name) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Tree() { fs::remove_all(dir); }
    void file(const std::string& name, const std::string& content = "x") {
        test_files::write_text(dir / name, content);
    }
    void folder(const std::string& name) { fs::create_directories(dir / name); }
    std::string path(const std::string& name = "") const { return (dir / name).string(); }
};

std::vector<std::string> listed(const std::vector<SourceEntry>& entries) {
    std::vector<std::string> names;
    for (const SourceEntry& e : entries) names.push_back(e.path + (e.directory ? "/" : ""));
    return names;
}

TEST(SourceFiles, WalkListsFilesThenSubfoldersSortedByName) {
    Tree t("qm_walk_order");
    // Created out of order: the walk sorts.
    for (const char* name : {"z/last.txt", "b.txt", "m/n/deep.txt", "A.txt", "m/x.txt", "a.txt"}) t.file(name);
    t.folder("m/empty");
    std::vector<SourceEntry> entries;
    std::string error;
    ASSERT_TRUE(walk_tree(t.path(), entries, error)) << error;
    EXPECT_EQ(listed(entries), (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "m/", "m/x.txt", "m/empty/",
                                                         "m/n/", "m/n/deep.txt", "z/", "z/last.txt"}));
    // A link to a file is walked as the file it names.
    fs::create_symlink(t.dir / "a.txt", t.dir / "link.txt");
    ASSERT_TRUE(walk_tree(t.path("m/n"), entries, error)) << error;
    EXPECT_EQ(listed(entries), std::vector<std::string>{"deep.txt"});
}

TEST(SourceFiles, WalkRefusesLoopsOddEntriesAndMissingFolders) {
    struct Case {
        const char* what;
        void (*make)(Tree&);
        const char* root;
        const char* error;
    };
    const Case cases[] = {
        {"link back to an enclosing folder", [](Tree& t) { t.folder("top/sub"); fs::create_directory_symlink(t.dir / "top", t.dir / "top/sub/up"); },
         "top", "'sub/up' leads back into a folder that contains it"},
        {"named pipe", [](Tree& t) { t.folder("top"); ASSERT_EQ(mkfifo(t.path("top/pipe").c_str(), 0600), 0); },
         "top", "'pipe' is neither a file nor a folder"},
        {"dangling link", [](Tree& t) { t.folder("top"); fs::create_symlink(t.dir / "nowhere", t.dir / "top/gone"); },
         "top", "cannot examine 'gone': No such file or directory"},
        {"missing root", [](Tree&) {}, "top", "it does not exist"},
        {"root is a file", [](Tree& t) { t.file("top"); }, "top", "it is not a folder"},
    };
    for (const Case& c : cases) {
        Tree t("qm_walk_errors");
        c.make(t);
        std::vector<SourceEntry> entries;
        std::string error;
        EXPECT_FALSE(walk_tree(t.path(c.root), entries, error)) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
}

TEST(SourceFiles, FileTimeIsTheLastWriteTimeAsAFiletime) {
    Tree t("qm_file_time");
    t.file("f.txt");
    // 2020-01-02 03:04:05.5 UTC.
    struct timespec times[2] = {{1577934245, 500000000}, {1577934245, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, t.path("f.txt").c_str(), times, 0), 0);
    int64_t filetime = 0;
    std::string error;
    ASSERT_TRUE(file_time(t.path("f.txt"), filetime, error)) << error;
    EXPECT_EQ(filetime, 132224078455000000LL);

    t.folder("d");
    EXPECT_FALSE(file_time(t.path("d"), filetime, error));
    EXPECT_EQ(error, "it is a folder, not a file");
    EXPECT_FALSE(file_time(t.path("missing"), filetime, error));
    EXPECT_EQ(error, "No such file or directory");

    struct Case {
        int64_t seconds, nanoseconds, filetime;
    };
    const Case cases[] = {
        {0, 0, kFileTimeUnixEpoch},
        {0, 199, kFileTimeUnixEpoch + 1},  // 100 ns steps, truncated
        {-11644473600LL, 0, 0},            // 1601-01-01
        {-11644473601LL, 0, -1},           // before what a FILETIME holds
        {INT64_MAX / 2, 0, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(unix_to_file_time(c.seconds, c.nanoseconds), c.filetime) << c.seconds;
}

}  // namespace
}  // namespace quillmar
