// The file-system services in-process: recursive delete, rename and delete at
// the next restart, directory creation, process launch and shortcuts. Every
// test works in a directory of its own under the temporary folder and removes
// it afterwards.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shobjidl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "engine/status.h"
#include "tests/windows/pending_renames.h"
#include "fs/delete_tree.h"
#include "fs/directories.h"
#include "fs/paths.h"
#include "fs/process.h"
#include "fs/reboot_ops.h"
#include "fs/shortcut.h"
#include "tests/file_helpers.h"
#include "tests/windows/code_page.h"

namespace {

#define KATAKANA_SO "\x83\x5C"  // one character in code page 932; its second byte is a backslash

// ---- Scratch directories -----------------------------------------------------------

std::wstring widen(const std::string& s) {
    std::wstring w(s.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], (int)w.size());
    w.resize(n > 0 ? n - 1 : 0);
    return w;
}

// Removes a tree whatever its attributes, without any of the code under test.
void remove_all(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_all(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(dir.c_str());
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

using test_files::read_text;
using test_files::write_text;

// Names found directly in a directory, "." and ".." left out, sorted.
std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh directory under the temporary folder, removed with all it holds.
class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "qmfs" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
        remove_all(widen(path_));
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchDir() { remove_all(widen(path_)); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// Keeps and restores the current directory.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& dir) {
        GetCurrentDirectoryA(MAX_PATH, saved_);
        SetCurrentDirectoryA(dir.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryA(saved_); }

private:
    char saved_[MAX_PATH];
};

// A 1024-byte path buffer followed by guard bytes that nothing may touch.
struct GuardedPath {
    static const int GUARD = 64;
    char bytes[PATH_BUFFER_SIZE + GUARD];
    explicit GuardedPath(const std::string& path) {
        std::memset(bytes, 0x7E, sizeof(bytes));
        std::memcpy(bytes, path.c_str(), path.size() + 1);
    }
    bool guard_intact() const {
        for (int i = PATH_BUFFER_SIZE; i < PATH_BUFFER_SIZE + GUARD; ++i)
            if (bytes[i] != 0x7E) return false;
        return true;
    }
};

// A long path of `length` characters: the scratch directory and then levels
// of "a" characters.
std::string long_path(const std::string& start, size_t length) {
    std::string path = start + "\\";
    while (path.size() < length) path += (path.size() % 50 == 0) ? '\\' : 'a';
    if (path.back() == '\\') path.back() = 'a';
    return path;
}

// ---- Recursive delete --------------------------------------------------------------

// The details list, on which delete_tree's status lines can be read.
class DeleteTree : public engine_test::Script {
protected:
    void SetUp() override {
        InitCommonControls();
        model_.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        model_.languages[0].strings[LS_LOG_FILE_DELETED] = text("Delete: ");
        model_.languages[0].strings[LS_LOG_DIR_REMOVED] = text("Remove: ");
        load();
        list_ = CreateWindowA(WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_NOCOLUMNHEADER, 0, 0, 300, 120, nullptr,
                              nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH;
        column.cx = 10;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, (LPARAM)&column);
        detail_list = list_;
        detail_output_flags = 1;
    }
    void TearDown() override {
        detail_list = nullptr;
        detail_output_flags = 3;
        DestroyWindow(list_);
        Script::TearDown();
    }
    void set_no_root_dir(bool on) {
        uint8_t& flags = header_block[offsetof(InstallHeader, misc_flags)];
        flags = on ? (flags | MISC_NO_ROOT_DIR) : (flags & ~MISC_NO_ROOT_DIR);
    }
    std::vector<std::string> lines() {
        std::vector<std::string> all;
        const int n = (int)SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char text[2048] = "";
            LVITEMA item{};
            item.pszText = text;
            item.cchTextMax = sizeof(text);
            SendMessageA(list_, LVM_GETITEMTEXTA, i, (LPARAM)&item);
            all.push_back(text);
        }
        return all;
    }
    void clear_lines() { SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0); }
    // Runs delete_tree on a copy of the path in a 1024-byte buffer and checks
    // that the buffer holds the path again afterwards.
    void run(const std::string& path, int32_t recursive) {
        char buffer[PATH_BUFFER_SIZE];
        lstrcpyA(buffer, path.c_str());
        delete_tree(buffer, recursive);
        EXPECT_EQ(std::string(buffer), path);
    }

    HWND list_ = nullptr;
    ScratchDir scratch_;
};

TEST_F(DeleteTree, NestedTreeGoesDepthFirstWithALineForEveryEntry) {
    const std::string root = scratch_ / "tree";
    const std::vector<std::string> dirs = {"", "sub1", "sub1\\deep", "sub1\\deep\\deeper", "sub2", "empty"};
    // Read-only, hidden and system files; names that begin with dots are
    // ordinary entries.
    const std::map<std::string, DWORD> files = {
        {"top.txt", FILE_ATTRIBUTE_READONLY},
        {".dotted", FILE_ATTRIBUTE_NORMAL},
        {"..twice", FILE_ATTRIBUTE_HIDDEN},
        {"sub1\\b.bin", FILE_ATTRIBUTE_NORMAL},
        {"sub1\\deep\\c", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"sub1\\deep\\deeper\\d.txt", FILE_ATTRIBUTE_READONLY},
        {"sub2\\e.txt", FILE_ATTRIBUTE_SYSTEM},
    };
    std::vector<std::string> expected;
    for (const std::string& d : dirs) {
        const std::string path = d.empty() ? root : root + "\\" + d;
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
        expected.push_back("Remove: " + path);
    }
    for (const auto& f : files) {
        write_text(root + "\\" + f.first, "x");
        SetFileAttributesA((root + "\\" + f.first).c_str(), f.second);
        expected.push_back("Delete: " + root + "\\" + f.first);
    }

    run(root, 1);
    EXPECT_FALSE(exists(root));

    const std::vector<std::string> got = lines();
    std::vector<std::string> sorted_got = got, sorted_expected = expected;
    std::sort(sorted_got.begin(), sorted_got.end());
    std::sort(sorted_expected.begin(), sorted_expected.end());
    EXPECT_EQ(sorted_got, sorted_expected);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(got.back(), "Remove: " + root) << "the given directory goes last";
    // Depth first: the lines of everything below a directory come directly
    // before the directory's own line.
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].rfind("Remove: ", 0) != 0) continue;
        const std::string below = got[i].substr(8) + "\\";
        size_t count = 0;
        for (const std::string& e : expected)
            if (e.find(below) != std::string::npos) ++count;
        ASSERT_GE(i, count);
        for (size_t k = i - count; k < i; ++k) EXPECT_NE(got[k].find(below), std::string::npos) << got[k];
    }
}

TEST_F(DeleteTree, WithoutTheFlagOnlyAnEmptyDirectoryGoes) {
    const std::string full = scratch_ / "full", empty = scratch_ / "empty";
    CreateDirectoryA(full.c_str(), nullptr);
    CreateDirectoryA(empty.c_str(), nullptr);
    write_text(full + "\\keep.txt", "keep");

    run(full, 0);
    EXPECT_TRUE(exists(full + "\\keep.txt"));
    run(empty, 0);
    EXPECT_FALSE(exists(empty));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Remove: " + full, "Remove: " + empty}));
}

TEST_F(DeleteTree, PathsThatAreNoDirectoryToEmptyOnlyTryTheRemoval) {
    const std::string dir = scratch_ / "dir";
    CreateDirectoryA(dir.c_str(), nullptr);
    write_text(dir + "\\a.txt", "a");
    write_text(dir + "\\b.log", "b");
    write_text(scratch_ / "plain.txt", "file");
    CurrentDirectory in_scratch(scratch_.path());

    set_no_root_dir(true);
    const struct {
        std::string path;
        const char* what;
    } cases[] = {
        {"C:\\", "a drive root while roots are refused"},
        {"dir", "a relative path"},
        {dir + "\\*.txt", "a wildcard pattern"},
        {dir + "\\*.*", "the enumeration pattern itself"},
        {scratch_ / "missing", "a missing directory"},
        {scratch_ / "plain.txt", "a file"},
    };
    for (const auto& c : cases) {
        clear_lines();
        run(c.path, 1);
        EXPECT_EQ(lines(), std::vector<std::string>{"Remove: " + c.path}) << c.what;
    }
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"a.txt", "b.log"}));
    EXPECT_EQ(read_text(scratch_ / "plain.txt"), "file");
    EXPECT_TRUE(is_directory("C:\\windows"));
}

TEST_F(DeleteTree, DeepChainIsRemovedWithoutNestingCalls) {
    // As deep as the platform's ANSI paths allow: one level per two characters.
    std::string path = scratch_ / "d";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    int levels = 1;
    while (path.size() + 2 < MAX_PATH - 12) {
        path += "\\d";
        ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path.size();
        write_text(path + "\\f", "");
        ++levels;
    }
    ASSERT_GT(levels, 100);
    run(scratch_ / "d", 1);
    EXPECT_FALSE(exists(scratch_ / "d"));
    EXPECT_EQ(lines().size(), (size_t)(2 * levels - 1));
}

TEST_F(DeleteTree, LongPathsNeverWritePastTheBuffer) {
    // A pattern that would not fit leaves the buffer as it is; one that just
    // fits ends exactly at the last byte.
    for (size_t length : {1018u, 1019u, 1020u, 1023u}) {
        const std::string path = long_path(scratch_.path(), length);
        ASSERT_EQ(path.size(), length);
        GuardedPath buffer(path);
        delete_tree(buffer.bytes, 1);
        EXPECT_TRUE(buffer.guard_intact()) << length;
        EXPECT_EQ(std::string(buffer.bytes), path) << length;
    }
}

// Runs a program of the host system (Wine starts those too) and waits until
// `done` holds; false when it never does.
template <typename Done>
bool host_command(std::string command, Done done) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // A host program has no process handle to wait on.
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    for (int i = 0; i < 100 && !done(); ++i) Sleep(50);
    return done();
}

// The host system's name for a Windows path ("" outside Wine).
std::string unix_path(const std::string& path) {
    typedef char*(CDECL * UnixName)(const WCHAR*);
    UnixName unix_name = (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    char* name = unix_name ? unix_name(widen(path).c_str()) : nullptr;
    if (!name) return "";
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// A directory link inside the tree is removed as a link; what it points to is
// never entered. The link is a symbolic link of the host system, which Wine
// shows as a directory reparse point.
TEST_F(DeleteTree, DirectoryLinksAreNotFollowed) {
    const std::string outside = scratch_ / "outside", tree = scratch_ / "tree", link = tree + "\\link";
    CreateDirectoryA(outside.c_str(), nullptr);
    CreateDirectoryA(tree.c_str(), nullptr);
    write_text(outside + "\\precious.txt", "keep me");
    write_text(tree + "\\own.txt", "own");
    const std::string outside_unix = unix_path(outside), link_unix = unix_path(link);
    if (outside_unix.empty() || !exists("Z:\\bin\\ln")) GTEST_SKIP() << "needs Wine and the host's ln";
    ASSERT_TRUE(host_command("Z:\\bin\\ln -s \"" + outside_unix + "\" \"" + link_unix + "\"", [&] { return exists(link); }));
    const DWORD link_attributes = GetFileAttributesA(link.c_str());
    EXPECT_TRUE(link_attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "the platform does not show links as such";

    run(tree, 1);
    EXPECT_EQ(read_text(outside + "\\precious.txt"), "keep me");
    EXPECT_FALSE(exists(tree + "\\own.txt"));
    const std::vector<std::string> got = lines();
    EXPECT_NE(std::find(got.begin(), got.end(), "Remove: " + link), got.end());
    for (const std::string& l : got) EXPECT_EQ(l.find("precious"), std::string::npos) << l;
    // Wine cannot remove a host link as a directory; the host removes it.
    if (exists(link)) host_command("Z:\\bin\\rm \"" + link_unix + "\"", [&] { return !exists(link); });
}

// ---- Rename and delete at the next restart -------------------------------------------

TEST(TextSearch, FirstOccurrenceWithinTheLimit) {
    struct Case {
        const char* text;
        size_t text_size;  // bytes of `text` including embedded NULs
        const char* pattern;
        int32_t limit;
        int expected;  // offset, -1 for none
    };
    const Case cases[] = {
        {"abcabc", 6, "bc", -1, 1},
        {"abcabc", 6, "ca", -1, 2},
        {"abcabc", 6, "bc", 2, -1},   // the first occurrence ends past the limit
        {"abcabc", 6, "bc", 3, 1},    // ... and wholly inside it
        {"abcabc", 6, "abc", 3, 0},
        {"abcabc", 6, "abc", 5, 0},
        {"xxabc", 5, "abc", 4, -1},
        {"abc", 3, "abcd", -1, -1},
        {"abc", 3, "", -1, 0},
        {"abc", 3, "", 0, 0},
        {"", 0, "a", -1, -1},
        {"aBc", 3, "bc", -1, -1},      // byte-exact
        {"[rename]\r\n", 10, "[Rename]\r\n", -1, -1},
        {"ab\0cd", 5, "cd", -1, -1},   // the scan stops at a NUL
        {"ab\0cd", 5, "cd", 5, -1},
        {"aab", 3, "ab", -1, 1},
        {"abcabc", 6, "bc", -5, 1},    // every negative limit means up to the NUL
    };
    for (const Case& c : cases) {
        const std::string text(c.text, c.text_size);
        const char* found = find_text(text.c_str(), c.pattern, c.limit);
        EXPECT_EQ(found ? (int)(found - text.c_str()) : -1, c.expected)
            << '"' << c.text << "\" \"" << c.pattern << "\" " << c.limit;
    }
}

std::string short_name(const std::string& path) {
    char buffer[MAX_PATH];
    const DWORD n = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return n && n < MAX_PATH ? std::string(buffer) : "<no short name>";
}

class WininitRequest : public ::testing::Test {
protected:
    void SetUp() override {
        ini_ = scratch_ / "wininit.ini";
        source_ = scratch_ / "Source file with a long name.dll";
        other_ = scratch_ / "other.dll";
        target_ = scratch_ / "Target file with a long name.dll";
        write_text(source_, "s");
        write_text(other_, "o");
        write_text(target_, "t");
        source_line_ = short_name(target_) + "=" + short_name(source_) + "\r\n";
        ASSERT_NE(short_name(source_), source_) << "the platform gives no short names";
    }
    ScratchDir scratch_;
    std::string ini_, source_, other_, target_, source_line_;
};

TEST_F(WininitRequest, EditsTheRenameSection) {
    const std::string line = source_line_;
    const struct {
        const char* what;
        bool present;
        std::string before, after;
    } cases[] = {
        {"no file", false, "", "[Rename]\r\n" + line},
        {"an empty file", true, "", "[Rename]\r\n" + line},
        {"other sections only", true, "[boot]\r\nx=1\r\n", "[boot]\r\nx=1\r\n[Rename]\r\n" + line},
        {"no final line break", true, "x=1", "x=1[Rename]\r\n" + line},
        {"a section with lines", true, "[a]\r\n[Rename]\r\nA=B\r\n[z]\r\nq=r\r\n",
         "[a]\r\n[Rename]\r\n" + line + "A=B\r\n[z]\r\nq=r\r\n"},
        {"a section header at the very end", true, "[Rename]\r\n", "[Rename]\r\n" + line},
        {"the line present already", true, "[Rename]\r\nA=B\r\n" + line + "[z]\r\n",
         "[Rename]\r\nA=B\r\n" + line + "[z]\r\n"},
        {"the line only above the section", true, line + "[Rename]\r\nA=B\r\n", line + "[Rename]\r\n" + line + "A=B\r\n"},
        {"a longer line that starts alike", true, "[Rename]\r\n" + line.substr(0, line.size() - 2) + ".old\r\n",
         "[Rename]\r\n" + line + line.substr(0, line.size() - 2) + ".old\r\n"},
        {"the header in other letter case", true, "[rename]\r\nA=B\r\n", "[rename]\r\nA=B\r\n[Rename]\r\n" + line},
        {"a header line without its carriage return", true, "[Rename]\nA=B\n", "[Rename]\nA=B\n[Rename]\r\n" + line},
        {"a NUL before the section", true, std::string("x\0[Rename]\r\n", 12),
         std::string("x\0[Rename]\r\n", 12) + "[Rename]\r\n" + line},
        {"two sections", true, "[Rename]\r\nA=B\r\n[Rename]\r\nC=D\r\n",
         "[Rename]\r\n" + line + "A=B\r\n[Rename]\r\nC=D\r\n"},
    };
    for (const auto& c : cases) {
        DeleteFileA(ini_.c_str());
        if (c.present) write_text(ini_, c.before);
        EXPECT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), target_.c_str()), 1) << c.what;
        EXPECT_EQ(read_text(ini_), c.after) << c.what;
    }
}

TEST_F(WininitRequest, RepeatedAndFurtherRequests) {
    const std::string deletion = "NUL=" + short_name(other_) + "\r\n";
    ASSERT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), target_.c_str()), 1);
    ASSERT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), target_.c_str()), 1);
    EXPECT_EQ(read_text(ini_), "[Rename]\r\n" + source_line_) << "the same request once";
    ASSERT_EQ(add_wininit_request(ini_.c_str(), other_.c_str(), nullptr), 1);
    EXPECT_EQ(read_text(ini_), "[Rename]\r\n" + deletion + source_line_) << "the newest request first";
}

TEST_F(WininitRequest, LargeFileMovesItsTailIntact) {
    std::string head(300000, '\0'), tail(200000, '\0');
    for (size_t i = 0; i < head.size(); ++i) head[i] = (char)('a' + i % 26);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = (i % 64 == 63) ? '\n' : (char)('A' + i % 26);
    write_text(ini_, head + "[Rename]\r\n" + tail);
    ASSERT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), target_.c_str()), 1);
    const std::string after = read_text(ini_);
    EXPECT_EQ(after.size(), head.size() + 10 + source_line_.size() + tail.size());
    EXPECT_TRUE(after == head + "[Rename]\r\n" + source_line_ + tail);
}

TEST_F(WininitRequest, NamesWithoutAShortFormStayWhole) {
    const std::string long_dir = scratch_ / "Directory with a long name";
    CreateDirectoryA(long_dir.c_str(), nullptr);
    const struct {
        std::string target, expected;
        const char* what;
    } cases[] = {
        {long_dir + "\\New name of the file.dll", short_name(long_dir) + "\\New name of the file.dll",
         "a new name in an existing directory: the directory's short form"},
        {scratch_ / "missing dir\\new.dll", scratch_ / "missing dir\\new.dll", "a missing directory: the path as given"},
        {"new.dll", "new.dll", "a bare name"},
        {long_path(scratch_.path(), 1000) + "\\new.dll", long_path(scratch_.path(), 1000) + "\\new.dll",
         "a line longer than one path buffer"},
    };
    for (const auto& c : cases) {
        DeleteFileA(ini_.c_str());
        ASSERT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), c.target.c_str()), 1) << c.what;
        EXPECT_EQ(read_text(ini_), "[Rename]\r\n" + c.expected + "=" + short_name(source_) + "\r\n") << c.what;
    }
}

TEST_F(WininitRequest, FileThatCannotBeOpenedStaysAsItWas) {
    const std::string nowhere = scratch_ / "no such dir\\wininit.ini";
    EXPECT_EQ(add_wininit_request(nowhere.c_str(), source_.c_str(), target_.c_str()), 0);
    EXPECT_FALSE(exists(nowhere));

    write_text(ini_, "[Rename]\r\nA=B\r\n");
    HANDLE held = CreateFileA(ini_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(add_wininit_request(ini_.c_str(), source_.c_str(), target_.c_str()), 0);
    CloseHandle(held);
    EXPECT_EQ(read_text(ini_), "[Rename]\r\nA=B\r\n");
}

// The Windows folder's wininit.ini, as seen before and after a request.
std::string wininit_state() {
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, MAX_PATH);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((std::string(dir) + "\\wininit.ini").c_str(), GetFileExInfoStandard, &data))
        return "absent";
    return std::to_string(data.nFileSizeLow) + " " + std::to_string(data.ftLastWriteTime.dwLowDateTime) + " " +
           std::to_string(data.ftLastWriteTime.dwHighDateTime);
}

using win_test::PendingRenames;

TEST(MoveAtReboot, AsksTheSystemAndLeavesWininitAlone) {
    ScratchDir scratch;
    const std::string source = scratch / "in use.dll", target = scratch / "replaced.dll", doomed = scratch / "old.dll";
    write_text(source, "new");
    write_text(doomed, "old");
    PendingRenames pending;
    ASSERT_TRUE(pending.opened());
    const std::string wininit_before = wininit_state();

    EXPECT_NE(move_at_reboot(source.c_str(), target.c_str()), 0);
    EXPECT_NE(move_at_reboot(doomed.c_str(), nullptr), 0);

    // Each request is a pair: the source, then the new name ("!" for
    // replacing an existing file) or an empty string for a deletion.
    const std::vector<std::string> list = pending.entries();
    bool renamed = false, deleted = false;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        if (list[i] == "\\??\\" + source && list[i + 1] == "!\\??\\" + target) renamed = true;
        if (list[i] == "\\??\\" + doomed && list[i + 1].empty()) deleted = true;
    }
    std::string shown;
    for (const std::string& s : list) shown += "[" + s + "]";
    EXPECT_TRUE(renamed) << shown;
    EXPECT_TRUE(deleted) << shown;
    EXPECT_EQ(wininit_state(), wininit_before);
    // Nothing happens before the restart.
    EXPECT_EQ(read_text(source), "new");
    EXPECT_EQ(read_text(doomed), "old");
}

// ---- Directory creation ------------------------------------------------------------

// Runs create_directories on a copy of the path and checks the buffer after.
void make_dirs(const std::string& path) {
    GuardedPath buffer(path);
    create_directories(buffer.bytes);
    EXPECT_EQ(std::string(buffer.bytes), path);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(CreateDirectories, CreatesEveryMissingLevel) {
    ScratchDir scratch;
    CreateDirectoryA((scratch / "have").c_str(), nullptr);
    const struct {
        std::string path;
        std::vector<std::string> made;  // relative to the scratch directory
    } cases[] = {
        {scratch / "a\\b\\c", {"a", "a\\b", "a\\b\\c"}},
        {scratch / "x\\y\\", {"x", "x\\y"}},
        {scratch / "have\\in\\deeper", {"have\\in", "have\\in\\deeper"}},
        {scratch / "a\\b\\c", {"a\\b\\c"}},  // all there already
        {scratch / "two\\\\gaps", {"two", "two\\gaps"}},
        {"\\\\?\\" + scratch / "unc\\level", {"unc", "unc\\level"}},  // from the "server" level on
    };
    for (const auto& c : cases) {
        make_dirs(c.path);
        for (const std::string& m : c.made) EXPECT_TRUE(is_directory(scratch / m)) << c.path << ": " << m;
    }
    EXPECT_EQ(listing(scratch.path()), (std::vector<std::string>{"a", "have", "two", "unc", "x"}));
    EXPECT_EQ(listing(scratch / "x\\y"), std::vector<std::string>{});
}

TEST(CreateDirectories, PathsThatAreNotFullCreateNothing) {
    ScratchDir scratch;
    CurrentDirectory in_scratch(scratch.path());
    // Paths relative to the scratch directory, and roots and network paths
    // whose levels cannot be created.
    const std::vector<std::string> paths = {"dir\\sub", "C:dir\\sub", "", "   ",
                                            "\\dir\\sub" + std::to_string(GetCurrentProcessId()), "C:\\", "C:",
                                            "\\\\", "\\\\qm-no-such-server\\share\\dir"};
    for (const std::string& path : paths) make_dirs(path);
    EXPECT_EQ(listing(scratch.path()), std::vector<std::string>{});
    EXPECT_FALSE(exists("C:\\dir"));
}

TEST(CreateDirectories, LongPathsStayInTheirBuffer) {
    ScratchDir scratch;
    for (size_t length : {1000u, 1023u}) make_dirs(long_path(scratch.path(), length));
}

// ---- Process launch ----------------------------------------------------------------

using win_test::child_program;

// Starts `command` through start_process; -1 when nothing started, else the
// exit code after waiting for it.
DWORD run_and_wait(std::string command, const char* working_directory) {
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    HANDLE process = start_process(line.data(), working_directory);
    if (!process) return (DWORD)-1;
    DWORD code = (DWORD)-2;
    if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

std::string without_final_backslash(std::string s) {
    if (s.size() > 3 && s.back() == '\\') s.pop_back();
    return s;
}

TEST(StartProcess, RunsProgramsInTheGivenDirectory) {
    ScratchDir scratch, elsewhere;
    const std::string out = scratch / "cwd.txt";
    const std::string child = "\"" + child_program() + "\" \"" + out + "\" ";
    ASSERT_TRUE(exists(child_program()));

    EXPECT_EQ(run_and_wait(child + "3", scratch.path().c_str()), 3u);
    EXPECT_EQ(without_final_backslash(read_text(out)), scratch.path());
    {
        CurrentDirectory in_elsewhere(elsewhere.path());
        EXPECT_EQ(run_and_wait(child + "0", nullptr), 0u);
        EXPECT_EQ(without_final_backslash(read_text(out)), elsewhere.path()) << "none: the caller's directory";
    }
    EXPECT_EQ(run_and_wait("cmd.exe /c exit 7", nullptr), 7u);
}

TEST(StartProcess, ReturnsWhileTheProgramRuns) {
    ScratchDir scratch;
    const std::string event_name = "qmfs_go_" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, event_name.c_str());
    ASSERT_NE(go, nullptr);
    std::string command = "\"" + child_program() + "\" \"" + (scratch / "cwd.txt") + "\" 5 " + event_name;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    HANDLE process = start_process(line.data(), nullptr);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(WaitForSingleObject(process, 200), (DWORD)WAIT_TIMEOUT) << "still waiting for the event";
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(process, 20000), (DWORD)WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 5u);
    CloseHandle(process);
    CloseHandle(go);
}

TEST(StartProcess, FailureGivesNoHandle) {
    ScratchDir scratch;
    EXPECT_EQ(run_and_wait("\"" + (scratch / "no such program.exe") + "\"", nullptr), (DWORD)-1);
    EXPECT_EQ(run_and_wait("", nullptr), (DWORD)-1);
    EXPECT_EQ(run_and_wait("cmd.exe /c exit 0", (scratch / "missing dir").c_str()), (DWORD)-1);
}

// ---- Shortcuts ---------------------------------------------------------------------

struct LinkFields {
    std::string path, arguments, directory, icon;
    int icon_index = -1, show = -1;
    WORD hotkey = 0xFFFF;
    bool operator==(const LinkFields& o) const {
        return path == o.path && arguments == o.arguments && directory == o.directory && icon == o.icon &&
               icon_index == o.icon_index && show == o.show && hotkey == o.hotkey;
    }
};

std::ostream& operator<<(std::ostream& os, const LinkFields& f) {
    return os << "path=" << f.path << " args=" << f.arguments << " dir=" << f.directory << " icon=" << f.icon << ","
              << f.icon_index << " show=" << f.show << " hotkey=" << f.hotkey;
}

// Reads a .lnk file back through the shell's link object; the show command
// comes from the file's fixed header (its 32-bit field at offset 0x3C), since
// Wine's link object writes it but does not read it back.
bool read_link(const std::string& file, LinkFields& f) {
    const std::string raw = read_text(file);
    if (raw.size() < 0x4C) return false;
    std::memcpy(&f.show, raw.data() + 0x3C, 4);
    bool ok = false;
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&link))) {
        IPersistFile* persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist))) {
            if (SUCCEEDED(persist->Load(widen(file).c_str(), STGM_READ))) {
                char text[MAX_PATH * 2];
                link->GetPath(text, sizeof(text), nullptr, SLGP_RAWPATH);
                f.path = text;
                link->GetArguments(text, sizeof(text));
                f.arguments = text;
                link->GetWorkingDirectory(text, sizeof(text));
                f.directory = text;
                link->GetIconLocation(text, sizeof(text), &f.icon_index);
                f.icon = text;
                link->GetHotkey(&f.hotkey);
                ok = true;
            }
            persist->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return ok;
}

TEST(CreateShortcut, WritesWhatTheShellReadsBack) {
    ScratchDir scratch;
    const std::string target = child_program(), icon = scratch / "app.ico";
    write_text(icon, "");
    const WORD hotkey = MAKEWORD('Q', HOTKEYF_CONTROL | HOTKEYF_ALT);

    const std::string full = scratch / "full.lnk";
    ASSERT_EQ(create_shortcut(full.c_str(), icon.c_str(), 3, target.c_str(), "-x \"two words\"",
                              scratch.path().c_str(), SW_SHOWMAXIMIZED, hotkey),
              0);
    LinkFields f;
    ASSERT_TRUE(read_link(full, f));
    LinkFields expected;
    expected.path = target;
    expected.arguments = "-x \"two words\"";
    expected.directory = scratch.path();
    expected.icon = icon;
    expected.icon_index = 3;
    expected.show = SW_SHOWMAXIMIZED;
    expected.hotkey = hotkey;
    EXPECT_EQ(f, expected);

    // Neither icon nor arguments, show command and hotkey left unset.
    const std::string plain = scratch / "plain.lnk";
    ASSERT_EQ(create_shortcut(plain.c_str(), nullptr, 5, target.c_str(), nullptr, scratch.path().c_str(), 0, 0), 0);
    LinkFields g;
    ASSERT_TRUE(read_link(plain, g));
    expected.arguments = "";
    expected.icon = "";
    expected.icon_index = 0;
    expected.show = SW_SHOWNORMAL;
    expected.hotkey = 0;
    EXPECT_EQ(g, expected);
}

struct ShortcutAttempt {
    std::string link, target, dir;
    int32_t result = -1;
};

DWORD WINAPI shortcut_in_multithreaded_apartment(void* p) {
    ShortcutAttempt* a = (ShortcutAttempt*)p;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    a->result = create_shortcut(a->link.c_str(), nullptr, 0, a->target.c_str(), nullptr, a->dir.c_str(), 0, 0);
    CoUninitialize();
    return 0;
}

TEST(CreateShortcut, FailuresWriteNoFile) {
    ScratchDir scratch;
    const std::string target = child_program();
    const std::string nowhere = scratch / "no such dir\\x.lnk";
    EXPECT_EQ(create_shortcut(nowhere.c_str(), nullptr, 0, target.c_str(), nullptr, scratch.path().c_str(), 0, 0), 1);
    EXPECT_FALSE(exists(nowhere));

    // A thread whose COM apartment does not admit OLE gets no shortcut.
    ShortcutAttempt attempt{scratch / "mta.lnk", target, scratch.path()};
    HANDLE thread = CreateThread(nullptr, 0, shortcut_in_multithreaded_apartment, &attempt, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    EXPECT_EQ(attempt.result, 1);
    EXPECT_FALSE(exists(attempt.link));
}

// An empty target fails where the platform's link object refuses it as a
// path (Windows does; Wine takes it).
TEST(CreateShortcut, EmptyTargetWritesNoFile) {
    ScratchDir scratch;
    CoInitialize(nullptr);
    IShellLinkA* probe = nullptr;
    HRESULT refused = E_FAIL;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void**)&probe))) {
        refused = probe->SetPath("");
        probe->Release();
    }
    CoUninitialize();
    if (SUCCEEDED(refused)) GTEST_SKIP() << "this platform's link object takes an empty target";
    const std::string empty = scratch / "empty.lnk";
    EXPECT_EQ(create_shortcut(empty.c_str(), nullptr, 0, "", nullptr, scratch.path().c_str(), 0, 0), 1);
    EXPECT_FALSE(exists(empty));
}

// ---- Double-byte code page ------------------------------------------------------------

// Names whose second byte is a backslash: the services walk them by characters.
class FsServicesDoubleByte : public DeleteTree {
protected:
    void SetUp() override {
        require_code_page_932();
        if (IsSkipped() || HasFatalFailure()) return;
        DeleteTree::SetUp();
    }
};

TEST_F(FsServicesDoubleByte, TrailBytesAreNoSeparators) {
    const std::string so = KATAKANA_SO;
    ASSERT_TRUE(is_directory(scratch_.path())) << scratch_.path();
    // Directory creation: one level named by the character, one below it.
    make_dirs(scratch_ / (so + "\\inner" + so + "\\"));
    EXPECT_EQ(listing(scratch_.path()), std::vector<std::string>{so});
    EXPECT_EQ(listing(scratch_ / so), std::vector<std::string>{"inner" + so});

    // A shortcut whose name is converted in the current code page.
    const std::string link = scratch_ / (so + "\\" + so + ".lnk");
    EXPECT_EQ(create_shortcut(link.c_str(), nullptr, 0, child_program().c_str(), nullptr, scratch_.path().c_str(), 0, 0),
              0);
    EXPECT_NE(GetFileAttributesW((widen(scratch_ / so) + L"\\\x30BD.lnk").c_str()), INVALID_FILE_ATTRIBUTES);

    // The tree goes, with its lines.
    write_text(scratch_ / (so + "\\inner" + so + "\\" + so + ".txt"), "x");
    run(scratch_ / so, 1);
    EXPECT_FALSE(exists(scratch_ / so));
    EXPECT_EQ(lines().size(), 4u);
    EXPECT_EQ(lines().back(), "Remove: " + (scratch_ / so));
}

}  // namespace
