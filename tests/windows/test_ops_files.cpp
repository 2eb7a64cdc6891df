// The files-and-directories instructions, in-process on scripts assembled
// from text and loaded through the real reader. No message box can wait for
// a user here: the boxes' owner is a window that no longer exists, so every
// box fails at once and the instruction takes its no-answer path. The
// questions answered by a user are in test_engine_dialogs.cpp.
#include "files_fixture.h"

#include <algorithm>

#include "builder/compressor.h"
#include "datablock/crc32.h"

namespace {

using files_test::exists;
using files_test::FileScript;
using files_test::read_text;
using files_test::ticks;
using files_test::utc;
using files_test::write_text;
using Lines = std::vector<std::string>;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return s;
}

// An immediate that the assembler takes for any 32-bit word.
std::string word(uint32_t v) { return std::to_string((int32_t)v); }

class FileOps : public FileScript {
protected:
    void SetUp() override {
        FileScript::SetUp();
        HWND gone = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        DestroyWindow(gone);
        current_main_window = gone;
    }
    void TearDown() override {
        current_main_window = nullptr;
        FileScript::TearDown();
    }
};

// ---- Extraction ------------------------------------------------------------------------

const FILETIME kStored = utc(2020, 6, 1);

TEST_F(FileOps, ExtractOverwriteModesAgainstWhatIsThere) {
    payload("new", "new contents");
    const std::string t = word(kStored.dwLowDateTime) + ", " + word(kStored.dwHighDateTime);
    assemble("always:\n extract_file always, \"{var1}\", \"new\", " + t + "\n end\n" +
             "never:\n extract_file never, \"{var1}\", \"new\", " + t + "\n end\n" +
             "try:\n extract_file try, \"{var1}\", \"new\", " + t + "\n end\n" +
             "if_newer:\n extract_file if_newer, \"{var1}\", \"new\", " + t + "\n end\n" +
             "mode4:\n extract_file 4, \"{var1}\", \"new\", " + t + "\n end\n");

    enum Existing { NONE, OLDER, SAME, NEWER };
    enum Result { EXTRACTED, SKIPPED, GAVE_UP };
    struct Case {
        const char* mode;
        Existing existing;
        bool read_only;
        bool held;  // open elsewhere without write sharing
        Result result;
        int errors;
    };
    // Read-only files are seen through their attribute: an extracted file
    // must have lost it (the test run's user may write read-only files).
    const Case cases[] = {
        {"always", NONE, false, false, EXTRACTED, 0},
        {"always", NEWER, false, false, EXTRACTED, 0},
        {"always", SAME, true, false, EXTRACTED, 0},
        // The question cannot be shown: no answer counts as Abort.
        {"always", OLDER, false, true, GAVE_UP, 0},
        {"never", NONE, false, false, EXTRACTED, 0},
        {"never", OLDER, false, false, SKIPPED, 0},
        {"never", NEWER, true, false, SKIPPED, 0},
        {"try", NEWER, false, false, EXTRACTED, 0},
        {"try", OLDER, false, true, SKIPPED, 1},
        {"if_newer", NONE, false, false, EXTRACTED, 0},
        {"if_newer", SAME, false, false, SKIPPED, 0},
        {"if_newer", NEWER, false, false, SKIPPED, 0},
        {"if_newer", OLDER, false, false, EXTRACTED, 0},
        // An older read-only file is replaced at once, without a question.
        {"if_newer", OLDER, true, false, EXTRACTED, 0},
        {"if_newer", NEWER, true, false, SKIPPED, 0},
        {"if_newer", OLDER, false, true, GAVE_UP, 0},
        // Modes the builder does not make overwrite, and skip quietly.
        {"mode4", OLDER, false, false, EXTRACTED, 0},
        {"mode4", OLDER, false, true, SKIPPED, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "file" + std::to_string(n++) + ".txt", target = path(name);
        SCOPED_TRACE(std::string(c.mode) + " " + name);
        if (c.existing != NONE) {
            write_text(target, "old");
            const uint64_t stored = ticks(kStored);
            const uint64_t at = c.existing == OLDER ? stored - 10000000ull : c.existing == SAME ? stored : stored + 1;
            FILETIME ft{(DWORD)at, (DWORD)(at >> 32)};
            files_test::set_write_time(target, ft);
            if (c.read_only) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        HANDLE holder = c.held ? files_test::hold(target) : INVALID_HANDLE_VALUE;
        lstrcpyA(var_slots[1], name.c_str());
        lstrcpyA(var_slots[0], "the script's own");
        error_count = 0;

        const int32_t result = run(c.mode);
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);

        EXPECT_EQ(result, c.result == GAVE_UP ? RESULT_ABORT : 0);
        EXPECT_EQ(error_count, c.errors);
        const Lines expected = {c.result == EXTRACTED ? "extract: " + name
                                : c.result == SKIPPED ? "skipped: " + name
                                                      : "cannot write: " + target};
        EXPECT_EQ(details_.take(), expected);
        EXPECT_EQ(read_text(target), c.result == EXTRACTED ? "new contents" : c.existing == NONE ? "<missing>" : "old");
        if (c.result == EXTRACTED) {
            EXPECT_EQ(ticks(files_test::file_times(target).written), ticks(kStored));
        }
        if (c.read_only) {
            const DWORD attributes = GetFileAttributesA(target.c_str());
            EXPECT_EQ((attributes & FILE_ATTRIBUTE_READONLY) != 0, c.result != EXTRACTED);
        }
        EXPECT_STREQ(var_slots[0], "the script's own") << "UserVar 0 is put back after the question";
    }
}

TEST_F(FileOps, ExtractedFilesCarryTheStoredTimeOrTheirOwn) {
    payload("data", "0123456789");
    payload("empty", "");
    const FILETIME stored = utc(2001, 2, 3, 4, 5);
    assemble("timed:\n extract_file always, \"timed.bin\", \"data\", " + word(stored.dwLowDateTime) + ", " +
             word(stored.dwHighDateTime) + "\n end\n" +
             "untimed:\n extract_file always, \"untimed.bin\", \"data\"\n end\n"
             "empty:\n extract_file always, \"empty.bin\", \"empty\"\n end\n");
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    EXPECT_EQ(run("timed"), 0);
    EXPECT_EQ(run("untimed"), 0);
    EXPECT_EQ(run("empty"), 0);

    const files_test::Times timed = files_test::file_times(path("timed.bin"));
    EXPECT_EQ(ticks(timed.created), ticks(stored));
    EXPECT_EQ(ticks(timed.written), ticks(stored));
    EXPECT_NE(ticks(timed.accessed), ticks(stored)) << "the access time is left alone";
    // Without a stored time the file keeps what the file system gave it.
    const files_test::Times untimed = files_test::file_times(path("untimed.bin"));
    EXPECT_GE(ticks(untimed.written) + 20000000ull, ticks(before));
    EXPECT_EQ(read_text(path("untimed.bin")), "0123456789");
    EXPECT_EQ(read_text(path("empty.bin")), "");
    EXPECT_EQ(error_count, 0);
}

TEST_F(FileOps, ExtractTargetIsOutputDirAndTheNameUnlessTheNameIsAbsolute) {
    payload("data", "abc");
    assemble("relative:\n extract_file always, \"sub\\r.txt\", \"data\"\n end\n"
             "absolute:\n extract_file always, \"{var1}\", \"data\"\n end\n");
    CreateDirectoryA(path("sub").c_str(), nullptr);
    CreateDirectoryA(path("elsewhere").c_str(), nullptr);

    lstrcpyA(var_slots[VAR_OUTPUT_DIR], (dir_ + "\\").c_str());  // no second backslash is added
    EXPECT_EQ(run("relative"), 0);
    EXPECT_EQ(read_text(path("sub\\r.txt")), "abc");
    lstrcpyA(var_slots[1], path("elsewhere\\a.txt").c_str());
    lstrcpyA(var_slots[VAR_OUTPUT_DIR], path("sub").c_str());
    EXPECT_EQ(run("absolute"), 0);
    EXPECT_EQ(read_text(path("elsewhere\\a.txt")), "abc");
    EXPECT_EQ(details_.take(), (Lines{"extract: sub\\r.txt", "extract: " + path("elsewhere\\a.txt")}));

    // A target longer than any path: not cut short, just not writable.
    const std::string deep(1023 - dir_.size() - 1, 'd');
    lstrcpyA(var_slots[VAR_OUTPUT_DIR], (dir_ + "\\" + deep).c_str());
    lstrcpyA(var_slots[1], std::string(1000, 'n').c_str());
    EXPECT_EQ(run("relative"), RESULT_ABORT);  // the question has no answer here
    EXPECT_EQ(details_.take().size(), 0u) << "a line of 2000 bytes is not shown";
}

// ---- Deleting --------------------------------------------------------------------------

TEST_F(FileOps, DeleteMatchesOfAPatternButNoDirectories) {
    assemble("delete:\n delete_file \"{var1}\"\n end\n");
    for (const char* name : {"a.tmp", "b.tmp", "keep.txt"}) write_text(path(name), name);
    SetFileAttributesA(path("b.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA(path("dir.tmp").c_str(), nullptr);

    struct Case {
        std::string pattern;
        Lines lines;
    };
    const Case cases[] = {
        {path("*.tmp"), {"delete: " + path("a.tmp"), "delete: " + path("b.tmp")}},
        {path("*.none"), {}},
        {path("dir.*"), {}},  // only a directory matches
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        lstrcpyA(var_slots[1], c.pattern.c_str());
        EXPECT_EQ(run("delete"), 0);
        Lines lines = details_.take();
        std::sort(lines.begin(), lines.end());  // in the order the file system lists them
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(error_count, 0);
    }
    EXPECT_FALSE(exists(path("a.tmp")));
    EXPECT_FALSE(exists(path("b.tmp")));
    EXPECT_TRUE(exists(path("keep.txt")));
    EXPECT_TRUE(exists(path("dir.tmp")));
}

TEST_F(FileOps, DeleteWithoutADirectoryPartDeletesTheFileFound) {
    assemble("delete:\n delete_file \"{var1}\"\n end\n");
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    // A file of the same name at the root of the drive must stay.
    const std::string decoy = std::string(dir_, 0, 2) + "\\qm-delete-decoy.tmp";
    write_text(decoy, "root");
    write_text(path("qm-delete-decoy.tmp"), "here");
    write_text(path("drive-relative.tmp"), "here");

    lstrcpyA(var_slots[1], "qm-delete-*.tmp");
    EXPECT_EQ(run("delete"), 0);
    lstrcpyA(var_slots[1], (std::string(dir_, 0, 2) + "drive-relative.tmp").c_str());
    EXPECT_EQ(run("delete"), 0);

    EXPECT_FALSE(exists(path("qm-delete-decoy.tmp")));
    EXPECT_FALSE(exists(path("drive-relative.tmp")));
    EXPECT_EQ(read_text(decoy), "root");
    DeleteFileA(decoy.c_str());
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(details_.take(),
              (Lines{"delete: qm-delete-decoy.tmp", "delete: " + std::string(dir_, 0, 2) + "drive-relative.tmp"}));
}

TEST_F(FileOps, FilesInUseCountAnErrorOrWaitForTheRestart) {
    assemble("now:\n delete_file \"{var1}\"\n end\n"
             "reboot:\n delete_file \"{var1}\", at_reboot=1\n end\n");
    files_test::PendingRenames pending;
    ASSERT_TRUE(pending.opened());
    const std::string busy = path("busy.dll");
    write_text(busy, "in use");
    HANDLE holder = files_test::hold(busy);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    lstrcpyA(var_slots[1], busy.c_str());

    EXPECT_EQ(run("now"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(reboot_flag, 0);
    EXPECT_EQ(details_.take(), Lines{});

    error_count = 0;
    EXPECT_EQ(run("reboot"), 0);
    CloseHandle(holder);
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(reboot_flag, 1);
    EXPECT_EQ(details_.take(), Lines{"delete at reboot: " + busy});
    EXPECT_EQ(read_text(busy), "in use") << "nothing happens before the restart";
    const auto requests = pending.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair("\\??\\" + busy, std::string())),
              requests.end());
}

// ---- Renaming --------------------------------------------------------------------------

TEST_F(FileOps, RenameNowOrAtTheRestart) {
    assemble("rename:\n rename \"{var1}\", \"{var2}\"\n end\n"
             "reboot:\n rename \"{var1}\", \"{var2}\", at_reboot=1\n end\n");
    files_test::PendingRenames pending;
    ASSERT_TRUE(pending.opened());
    const std::string a = path("a.txt"), b = path("b.txt"), c = path("c.txt");
    write_text(a, "A");
    write_text(c, "C");
    auto names = [&](const std::string& from, const std::string& to) {
        lstrcpyA(var_slots[1], from.c_str());
        lstrcpyA(var_slots[2], to.c_str());
    };

    names(a, b);
    EXPECT_EQ(run("rename"), 0);
    EXPECT_EQ(read_text(b), "A");
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(details_.take(), Lines{"rename: " + a + "->" + b});
    EXPECT_EQ(error_count, 0);

    // The destination exists: the move fails.
    names(b, c);
    EXPECT_EQ(run("rename"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(details_.take(), Lines{});
    error_count = 0;
    EXPECT_EQ(run("reboot"), 0);
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(reboot_flag, 1);
    EXPECT_EQ(details_.take(), Lines{"rename at reboot: " + b + "->" + c});
    EXPECT_EQ(read_text(c), "C");
    const auto requests = pending.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair("\\??\\" + b, "!\\??\\" + c)),
              requests.end());

    // Nothing to rename: an error, nothing left for the restart.
    names(path("missing.txt"), path("d.txt"));
    EXPECT_EQ(run("reboot"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(reboot_flag, 1);
    EXPECT_EQ(details_.take(), Lines{});
}

// ---- Directories -----------------------------------------------------------------------

TEST_F(FileOps, CreateDirectoryWithParentsAndOptionallyTheOutputDir) {
    assemble("output:\n create_directory \"{var1}\", set_output=1\n end\n"
             "plain:\n create_directory \"{var1}\"\n end\n");
    const std::string deep = path("a\\b\\c"), other = path("x\\y");
    lstrcpyA(var_slots[1], deep.c_str());
    EXPECT_EQ(run("output"), 0);
    EXPECT_STREQ(var_slots[VAR_OUTPUT_DIR], deep.c_str());
    lstrcpyA(var_slots[1], other.c_str());
    EXPECT_EQ(run("plain"), 0);
    EXPECT_STREQ(var_slots[VAR_OUTPUT_DIR], deep.c_str());
    for (const std::string& d : {deep, other}) EXPECT_EQ(GetFileAttributesA(d.c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY) << d;
    EXPECT_EQ(details_.take(), (Lines{"output folder: " + deep, "create folder: " + other}));
    EXPECT_EQ(error_count, 0);
}

TEST_F(FileOps, RemoveDirectoryEmptyOrWithItsContents) {
    assemble("remove:\n remove_directory \"{var1}\"\n end\n"
             "tree:\n remove_directory \"{var1}\", recursive=1\n end\n");
    CreateDirectoryA(path("full").c_str(), nullptr);
    CreateDirectoryA(path("full\\sub").c_str(), nullptr);
    write_text(path("full\\sub\\ro.txt"), "x");
    SetFileAttributesA(path("full\\sub\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    write_text(path("full\\f.txt"), "y");
    CreateDirectoryA(path("empty").c_str(), nullptr);

    struct Case {
        const char* label;
        std::string dir;
        bool gone;
        int errors;
    };
    const Case cases[] = {
        {"remove", path("full"), false, 1},
        {"remove", path("empty") + "\\", true, 0},  // a final backslash is dropped
        {"remove", path("never-was"), true, 0},
        {"tree", path("full"), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        lstrcpyA(var_slots[1], c.dir.c_str());
        error_count = 0;
        EXPECT_EQ(run(c.label), 0);
        EXPECT_EQ(error_count, c.errors);
        EXPECT_EQ(exists(c.dir), !c.gone);
    }
}

TEST_F(FileOps, IfFileExistsJumpsOnFilesDirectoriesAndPatterns) {
    assemble("probe:\n if_file_exists \"{var1}\", found, missing\nfound:\n end\nmissing:\n end\n");
    write_text(path("here.txt"), "");
    CreateDirectoryA(path("subdir").c_str(), nullptr);
    const int32_t probe = at("probe"), found = at("found") + 1, missing = at("missing") + 1;
    struct Case {
        std::string path;
        int32_t target;
    };
    const Case cases[] = {
        {path("here.txt"), found}, {path("HERE.TXT"), found}, {path("*.txt"), found},
        {path("sub*"), found},     {path("none.txt"), missing}, {path("*.none"), missing},
        {"", missing},
    };
    for (const Case& c : cases) {
        lstrcpyA(var_slots[1], c.path.c_str());
        EXPECT_EQ(execute_entry(script_entries, probe), c.target) << c.path;
    }
    EXPECT_EQ(error_count, 0);
}

// ---- Attributes, paths, times, versions ------------------------------------------------

TEST_F(FileOps, SetFileAttributes) {
    assemble("set:\n set_file_attributes \"{var1}\", READONLY|HIDDEN\n end\n"
             "clear:\n set_file_attributes \"{var1}\", NORMAL\n end\n");
    const std::string f = path("f.txt");
    write_text(f, "");
    lstrcpyA(var_slots[1], f.c_str());
    EXPECT_EQ(run("set"), 0);
    EXPECT_EQ(GetFileAttributesA(f.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(run("clear"), 0);
    EXPECT_EQ(GetFileAttributesA(f.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_EQ(error_count, 0);
    lstrcpyA(var_slots[1], path("missing.txt").c_str());
    EXPECT_EQ(run("set"), 0);
    EXPECT_EQ(error_count, 1);
}

TEST_F(FileOps, FullPathLongOrShort) {
    assemble("long:\n get_full_path $var0, \"{var1}\", long\n end\n"
             "short:\n get_full_path $var0, \"{var1}\", short\n end\n");
    const std::string stored = path("LongFileName.txt");
    write_text(stored, "");
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    char short_form[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(stored.c_str(), short_form, MAX_PATH), 0u);
    ASSERT_NE(lower(short_form), lower(stored)) << "the file system gives no short names";

    struct Case {
        const char* label;
        std::string given;
        std::string result;
        int errors;
    };
    const Case cases[] = {
        // The final component as stored: long, in its own case.
        {"long", path("longfilename.TXT"), stored, 0},
        {"long", short_form, stored, 0},
        {"long", "LONGFILENAME.txt", stored, 0},  // relative to the current directory
        {"long", path("sub\\..\\LongFileName.txt"), stored, 0},
        {"long", path("missing.txt"), "", 1},
        // Nothing after the last backslash: nothing to look up.
        {"long", path("no-such-dir") + "\\", path("no-such-dir") + "\\", 0},
        {"short", stored, short_form, 0},
        {"short", path("missing.txt"), "", 1},
        {"short", path("no-such-dir") + "\\", path("no-such-dir") + "\\", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.given);
        lstrcpyA(var_slots[0], "before");
        lstrcpyA(var_slots[1], c.given.c_str());
        error_count = 0;
        EXPECT_EQ(run(c.label), 0);
        if (std::string(c.label) == "short")
            EXPECT_EQ(lower(var_slots[0]), lower(c.result));
        else
            EXPECT_EQ(std::string(var_slots[0]), c.result);
        EXPECT_EQ(error_count, c.errors);
    }
}

TEST_F(FileOps, SearchPathFindsFilesOnTheSearchPath) {
    assemble("search:\n search_path $var0, \"{var1}\"\n end\n");
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    write_text(path("local-file.qm"), "");
    struct Case {
        const char* name;
        std::string result;
        int errors;
    };
    const Case cases[] = {
        {"kernel32.dll", std::string(system) + "\\kernel32.dll", 0},
        {"local-file.qm", path("local-file.qm"), 0},
        {"no-such-file.qm", "", 1},
    };
    for (const Case& c : cases) {
        lstrcpyA(var_slots[0], "before");
        lstrcpyA(var_slots[1], c.name);
        error_count = 0;
        EXPECT_EQ(run("search"), 0);
        EXPECT_EQ(lower(var_slots[0]), lower(c.result)) << c.name;
        EXPECT_EQ(error_count, c.errors) << c.name;
    }
}

TEST_F(FileOps, TempFileNamesAreNewEmptyFiles) {
    assemble("temp:\n get_temp_file_name $var3\n end\n");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> made;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run("temp"), 0);
        const std::string name = var_slots[3];
        made.push_back(name);
        EXPECT_EQ(lower(name.substr(0, lstrlenA(temp) + 3)), lower(std::string(temp) + "tkt")) << name;
        EXPECT_EQ(lower(name.substr(name.size() - 4)), ".tmp");
        EXPECT_EQ(read_text(name), "") << "created, empty";
    }
    EXPECT_NE(made[0], made[1]);
    for (const std::string& f : made) DeleteFileA(f.c_str());
    EXPECT_EQ(error_count, 0);

    // A temporary folder that does not exist: no name, an error.
    char saved_tmp[MAX_PATH] = "", saved_temp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", saved_tmp, MAX_PATH);
    GetEnvironmentVariableA("TEMP", saved_temp, MAX_PATH);
    SetEnvironmentVariableA("TMP", path("gone").c_str());
    SetEnvironmentVariableA("TEMP", path("gone").c_str());
    EXPECT_EQ(run("temp"), 0);
    SetEnvironmentVariableA("TMP", saved_tmp[0] ? saved_tmp : nullptr);
    SetEnvironmentVariableA("TEMP", saved_temp[0] ? saved_temp : nullptr);
    EXPECT_STREQ(var_slots[3], "");
    EXPECT_EQ(error_count, 1);
}

TEST_F(FileOps, FileTimeIntoTwoSlotsAsSignedDecimal) {
    assemble("time:\n get_file_time \"{var1}\", $var4, $var5\n end\n");
    const std::string f = path("timed.txt");
    write_text(f, "");
    // A low half with its top bit set reads as a negative number.
    const FILETIME t{0x80000001u, 0x01D6380Cu};
    files_test::set_write_time(f, t);
    for (const std::string& given : {f, path("timed.*")}) {
        lstrcpyA(var_slots[1], given.c_str());
        EXPECT_EQ(run("time"), 0);
        EXPECT_STREQ(var_slots[4], "30816268") << given;
        EXPECT_STREQ(var_slots[5], "-2147483647") << given;
    }
    EXPECT_EQ(error_count, 0);
    lstrcpyA(var_slots[1], path("missing.txt").c_str());
    EXPECT_EQ(run("time"), 0);
    EXPECT_STREQ(var_slots[4], "");
    EXPECT_STREQ(var_slots[5], "");
    EXPECT_EQ(error_count, 1);
}

TEST_F(FileOps, FileVersionFromTheVersionResource) {
    assemble("version:\n get_file_version \"{var1}\", $var6, $var7\n end\n");
    // This program carries the version 32769.2.3.4 (version.rc).
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    lstrcpyA(var_slots[1], self);
    EXPECT_EQ(run("version"), 0);
    EXPECT_STREQ(var_slots[6], std::to_string((int32_t)0x80010002u).c_str());
    EXPECT_STREQ(var_slots[7], std::to_string(0x00030004).c_str());
    EXPECT_EQ(error_count, 0);

    write_text(path("plain.txt"), "no resources");
    for (const std::string& f : {path("plain.txt"), path("missing.dll")}) {
        lstrcpyA(var_slots[6], "before");
        lstrcpyA(var_slots[7], "before");
        lstrcpyA(var_slots[1], f.c_str());
        error_count = 0;
        EXPECT_EQ(run("version"), 0);
        EXPECT_STREQ(var_slots[6], "") << f;
        EXPECT_STREQ(var_slots[7], "") << f;
        EXPECT_EQ(error_count, 1) << f;
    }
}

TEST_F(FileOps, CopyFilesWithTheShell) {
    assemble("copy:\n copy_files \"{var1}\", \"{var2}\", FOF_SILENT|FOF_NOCONFIRMATION|FOF_NOERRORUI|FOF_NOCONFIRMMKDIR\n"
             " end\n");
    CreateDirectoryA(path("src").c_str(), nullptr);
    write_text(path("src\\one.txt"), "1");
    write_text(path("src\\two.txt"), "2");
    write_text(path("src\\skip.bin"), "3");
    lstrcpyA(var_slots[1], path("src\\*.txt").c_str());
    lstrcpyA(var_slots[2], path("dst").c_str());
    EXPECT_EQ(run("copy"), 0);
    EXPECT_EQ(read_text(path("dst\\one.txt")), "1");
    EXPECT_EQ(read_text(path("dst\\two.txt")), "2");
    EXPECT_FALSE(exists(path("dst\\skip.bin")));
    EXPECT_EQ(error_count, 0);
    EXPECT_EQ(details_.take(), Lines{"copy to " + path("dst")});

    lstrcpyA(var_slots[1], path("src\\missing.txt").c_str());
    EXPECT_EQ(run("copy"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(details_.take(), (Lines{"copy to " + path("dst"), "copy failed"}));
}

TEST_F(FileOps, CopyFilesTakesPathsOfTheFullLength) {
    // The longest expanded paths still get their list terminator, in a
    // buffer of their own: the shell is handed exactly the text.
    assemble("copy:\n copy_files \"{var1}\", \"{var2}\", FOF_SILENT|FOF_NOCONFIRMATION|FOF_NOERRORUI\n end\n");
    const std::string source(1023, 's'), target(1023, 't');
    lstrcpyA(var_slots[1], source.c_str());
    lstrcpyA(var_slots[2], target.c_str());
    EXPECT_EQ(run("copy"), 0);
    EXPECT_EQ(error_count, 1);
    EXPECT_EQ(details_.take(), Lines{"copy failed"}) << "the title line is too long to show";
}

// ---- The uninstaller -----------------------------------------------------------------------

const quillmar::Bytes kStub(1000, 'M');  // what engine_test::Script builds its installers with

quillmar::Bytes compress(const quillmar::Bytes& b) { return quillmar::compress_stream(b.data(), b.size()); }

std::string as_text(const quillmar::Bytes& b) { return std::string(b.begin(), b.end()); }

// The stub as the uninstaller should begin: the installer's stub, padded to
// its boundary, with the patches applied in order.
quillmar::Bytes patched_stub(const std::vector<quillmar::StubPatch>& patches) {
    quillmar::Bytes stub(quillmar::first_header_offset(kStub.size()), 0);
    std::copy(kStub.begin(), kStub.end(), stub.begin());
    for (const quillmar::StubPatch& p : patches) std::copy(p.bytes.begin(), p.bytes.end(), stub.begin() + p.offset);
    return stub;
}

class Uninstaller : public FileOps {
protected:
    void SetUp() override {
        FileOps::SetUp();
        auto un = std::make_shared<quillmar::DataBlockModel>(true);
        un->languages = {quillmar::Language(1033, true)};
        un->uninstall_header.uninstall_code = 0;
        quillmar::AssembleResult r = quillmar::assemble("delete_file \"{install_dir}\\*.*\"\nend\n", *un, "un", 1);
        ASSERT_TRUE(r.ok());
        model_.uninstaller_model = un;
        // Overlapping patches: the later one wins; the last reaches the stub's end.
        model_.patches = {{10, {'A', 'B', 'C', 'D'}}, {12, {'x'}}, {1020, {'E', 'N', 'D', '!'}}};
    }
    void write(const std::string& name) {
        lstrcpyA(var_slots[1], name.c_str());
        EXPECT_EQ(run("write"), 0);
    }
};

TEST_F(Uninstaller, WrittenAsTheBuilderMadeIt) {
    payload("data", "payload bytes");
    assemble("write:\n write_uninstaller \"{var1}\"\n end\n"
             "extract:\n extract_file always, \"after.txt\", \"data\"\n end\n");
    // What the builder says the uninstaller is: its own image of the
    // uninstaller model behind the patched stub.
    quillmar::Bytes expected;
    std::string error;
    quillmar::ImageOptions options;
    options.flags = model_.uninstaller_flags;
    ASSERT_TRUE(quillmar::build_installer(*model_.uninstaller_model, patched_stub(model_.patches), compress, options,
                                          expected, error))
        << error;
    lstrcpyA(var_slots[VAR_INSTALL_DIR], dir_.c_str());

    write("uninstall.exe");  // relative: into InstallDir
    const std::string written = read_text(path("uninstall.exe"));
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == as_text(expected)) << "the uninstaller differs from the builder's";
    // Its CRC holds over the patched stub.
    ASSERT_GT(written.size(), 516u);
    uint32_t stored;
    std::copy(written.end() - 4, written.end(), (char*)&stored);
    EXPECT_EQ(crc32_update(0, (const uint8_t*)written.data() + 512, (uint32_t)written.size() - 516), stored);

    const std::string elsewhere = path("other\\un.exe");
    CreateDirectoryA(path("other").c_str(), nullptr);
    write(elsewhere);  // absolute: as it is
    EXPECT_TRUE(read_text(elsewhere) == as_text(expected));
    EXPECT_EQ(details_.take(), (Lines{"uninstaller: uninstall.exe", "uninstaller: " + elsewhere}));

    // The reader still serves the payload afterwards, and a second
    // uninstaller comes out the same.
    EXPECT_EQ(run("extract"), 0);
    EXPECT_EQ(read_text(path("after.txt")), "payload bytes");
    write("again.exe");
    EXPECT_TRUE(read_text(path("again.exe")) == as_text(expected));
    EXPECT_EQ(error_count, 0);
}

TEST_F(Uninstaller, DamagedOrMissingUninstallerDataWritesNoFile) {
    // Patch blocks of the script's own making, each followed by a stand-in
    // for the image block.
    auto le32 = [](uint32_t v) { return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; };
    auto record = [&](uint32_t offset, const std::string& bytes) {
        return le32((uint32_t)bytes.size()) + le32(offset) + bytes;
    };
    struct Case {
        const char* what;
        std::string patches;
        int32_t length_change;  // to the patch length the header gives
        bool written;
    };
    const Case cases[] = {
        {"two good records", le32(2) + record(0, "MZ") + record(1022, "ok"), 0, true},
        {"no records", le32(0), 0, true},
        {"a record past the stub's end", le32(1) + record(1023, "ab"), 0, false},
        {"a record far past the stub", le32(1) + record(0xFFFFFFF0u, "ab"), 0, false},
        {"a record longer than the block", le32(1) + le32(100) + le32(0) + "short", 0, false},
        {"more records than the block holds", le32(3) + record(0, "a"), 0, false},
        {"a block shorter than its count", "", 0, false},
        {"a block longer than the header says", le32(1) + record(0, "abcd"), -2, false},
    };
    std::vector<size_t> blocks;
    for (const Case& c : cases) {
        blocks.push_back(payload(std::string("patch ") + c.what, c.patches));
        payload(std::string("image ") + c.what, std::string("IMAGE:") + c.what);
    }
    quillmar::DataBlock layout;
    std::string error;
    ASSERT_TRUE(quillmar::lay_out_data_block(model_, kStub, compress, layout, error)) << error;
    assemble("write:\n write_uninstaller \"{var1}\"\n end\n");
    InstallHeader* header = (InstallHeader*)header_block;
    const int32_t builder_patch = header->uninstaller_patch;

    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        header->uninstaller_patch = layout.payload_offsets[blocks[i]];
        header->uninstaller_patch_length = (int32_t)c.patches.size() + c.length_change;
        const std::string name = path("un" + std::to_string(i) + ".exe");
        write(name);
        if (c.written) {
            quillmar::Bytes stub = patched_stub({});
            std::string expected = as_text(stub);
            for (size_t at = 4; at + 8 <= c.patches.size();) {
                uint32_t n, offset;
                std::copy(c.patches.begin() + at, c.patches.begin() + at + 4, (char*)&n);
                std::copy(c.patches.begin() + at + 4, c.patches.begin() + at + 8, (char*)&offset);
                expected.replace(offset, n, c.patches.substr(at + 8, n));
                at += 8 + n;
            }
            EXPECT_EQ(read_text(name), expected + "IMAGE:" + c.what);
            EXPECT_EQ(details_.take(), Lines{"uninstaller: " + name});
        } else {
            EXPECT_FALSE(exists(name));
            EXPECT_EQ(details_.take(), Lines{"uninstaller failed: " + name});
        }
    }

    // No patch block: this installer carries no uninstaller.
    header->uninstaller_patch = -1;
    write(path("none.exe"));
    EXPECT_FALSE(exists(path("none.exe")));
    // A folder that does not exist.
    header->uninstaller_patch = builder_patch;
    write(path("no-such-dir\\un.exe"));
    EXPECT_EQ(details_.take(),
              (Lines{"uninstaller failed: " + path("none.exe"), "uninstaller failed: " + path("no-such-dir\\un.exe")}));
    EXPECT_EQ(error_count, 0) << "writing the uninstaller never counts an error";
}

TEST_F(Uninstaller, AnUninstallerWritesNoUninstaller) {
    // The same instruction in an uninstaller's script: its header has no
    // patch block to read.
    model_ = quillmar::DataBlockModel(true);
    model_.languages = {quillmar::Language(1033, true)};
    for (const files_test::Prefix& p : files_test::kPrefixes) model_.languages[0].strings[p.number] = text(p.text);
    assemble("write:\n write_uninstaller \"{var1}\"\n end\n");
    ASSERT_TRUE(uninstaller_mode);
    write(path("un.exe"));
    EXPECT_FALSE(exists(path("un.exe")));
    EXPECT_EQ(details_.take(), Lines{"uninstaller failed: " + path("un.exe")});
}

}  // namespace
