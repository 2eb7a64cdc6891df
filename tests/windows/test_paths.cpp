#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "datablock/header_view.h"
#include "fs/paths.h"
#include "tests/windows/code_page.h"

namespace {

// Makes is_valid_install_path see a header whose no_root_dir flag is as given.
class HeaderFlags {
public:
    explicit HeaderFlags(bool no_root_dir) {
        std::memset(block_, 0, sizeof(block_));
        if (no_root_dir) block_[offsetof(InstallHeader, misc_flags)] = MISC_NO_ROOT_DIR;
        header_block = block_;
    }
    ~HeaderFlags() { header_block = nullptr; }

private:
    uint8_t block_[sizeof(InstallHeader)];
};

std::string trimmed(const char* path) {
    char buffer[PATH_BUFFER_SIZE];
    lstrcpyA(buffer, path);
    trim_to_dir(buffer);
    return buffer;
}

std::string with_backslash(const char* path) {
    char buffer[PATH_BUFFER_SIZE];
    lstrcpyA(buffer, path);
    add_backslash(buffer);
    return buffer;
}

// Offset of the last backslash, -1 for none.
int last_backslash_at(const char* path) {
    char buffer[PATH_BUFFER_SIZE];
    lstrcpyA(buffer, path);
    char* p = find_last_backslash(buffer);
    return p ? (int)(p - buffer) : -1;
}

TEST(PathHelpers, TrimToDir) {
    EXPECT_EQ(trimmed("C:\\dir\\file.txt"), "C:\\dir");
    EXPECT_EQ(trimmed("C:\\file.txt"), "C:");
    EXPECT_EQ(trimmed("file.txt"), "");
    EXPECT_EQ(trimmed("C:\\dir\\"), "C:\\dir");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("\\"), "");
}

TEST(PathHelpers, AddBackslash) {
    EXPECT_EQ(with_backslash("C:\\dir\\"), "C:\\dir\\");
    EXPECT_EQ(with_backslash("C:\\dir"), "C:\\dir\\");
    EXPECT_EQ(with_backslash(""), "\\");
    EXPECT_EQ(with_backslash("C:"), "C:\\");
}

TEST(PathHelpers, LastCharAndLastBackslash) {
    EXPECT_EQ(last_char(""), 0);
    EXPECT_EQ(last_char("abc"), 'c');
    EXPECT_EQ(last_char("C:\\"), '\\');
    EXPECT_EQ(last_backslash_at(""), -1);
    EXPECT_EQ(last_backslash_at("file.txt"), -1);
    EXPECT_EQ(last_backslash_at("\\"), 0);
    EXPECT_EQ(last_backslash_at("C:\\a\\b"), 4);
    EXPECT_EQ(last_backslash_at("C:\\a\\b\\"), 6);
}

TEST(PathHelpers, IsAbsolutePath) {
    struct Case {
        const char* path;
        int expected;
    } cases[] = {
        {"C:dir", 1}, {"\\\\server", 1}, {"\\dir", 0}, {"C:\\dir", 1},
        {"dir\\sub", 0}, {"", 0}, {"\\", 0}, {"c:", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(is_absolute_path(c.path), c.expected) << c.path;
}

TEST(PathHelpers, IsValidInstallPath) {
    struct Case {
        const char* path;
        bool with_roots;     // no_root_dir clear
        bool without_roots;  // no_root_dir set
    } cases[] = {
        {"C:\\", true, false},
        {"C:\\\\", true, false},  // a second backslash is no directory name either
        {"C:\\dir", true, true},
        {"C:\\dir\\", true, true},
        {"\\\\server\\share", true, false},
        {"\\\\server\\share\\", true, false},
        {"\\\\server\\share\\dir", true, true},
        {"\\\\server", false, false},
        {"\\\\server\\", false, false},
        {"dir\\sub", false, false},
        {"", false, false},
        {"C:", false, false},
        {"C:dir", false, false},
        {"C:/dir", false, false},
        {"\\dir", false, false},
        {"//server/share/dir", false, false},
    };
    for (const Case& c : cases) {
        {
            HeaderFlags flags(false);
            EXPECT_EQ(is_valid_install_path(c.path) != 0, c.with_roots) << c.path << " with roots allowed";
        }
        {
            HeaderFlags flags(true);
            EXPECT_EQ(is_valid_install_path(c.path) != 0, c.without_roots) << c.path << " with no_root_dir";
        }
    }
}

TEST(PathHelpers, NoHeaderLoadedMeansRootsAllowed) {
    ASSERT_EQ(header_block, nullptr);
    EXPECT_NE(is_valid_install_path("C:\\"), 0);
}

TEST(PathHelpers, CopyBytesCopiesForwards) {
    char buffer[] = "abcdefgh";
    // Destination before the source: a forward copy is safe.
    copy_bytes(buffer, buffer + 2, 6);
    EXPECT_STREQ(buffer, "cdefghgh");
    // Destination after the source: the forward copy repeats the first bytes.
    char overlap[] = "abcdefgh";
    copy_bytes(overlap + 1, overlap, 4);
    EXPECT_STREQ(overlap, "aaaaafgh");
    char untouched[] = "xyz";
    EXPECT_EQ(copy_bytes(untouched, "abc", 0), untouched);
    copy_bytes(untouched, "abc", -5);
    EXPECT_STREQ(untouched, "xyz");
}

TEST(PathHelpers, OpenFileSharesReadAccessOnly) {
    char dir[MAX_PATH], path[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "qmt", 0, path), 0u);

    HANDLE first = open_file(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // A second reader is welcome, a writer is not.
    HANDLE reader = open_file(path, GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    CloseHandle(first);

    DeleteFileA(path);
    EXPECT_EQ(open_file(path, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    HANDLE created = open_file(path, GENERIC_WRITE, CREATE_NEW);
    EXPECT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
    DeleteFileA(path);
}

// ---- Under a double-byte ANSI code page ------------------------------------
// Code page 932: 0x83 0x5C is one character (a katakana letter) whose second
// byte happens to be a backslash.

class DoubleBytePaths : public ::testing::Test {
protected:
    void SetUp() override {
        require_code_page_932();
    }
};

#define KATAKANA_SO "\x83\x5C"

TEST_F(DoubleBytePaths, TrailByteIsNoBackslash) {
    EXPECT_EQ(last_char("C:\\dir\\" KATAKANA_SO), '\x83');
    EXPECT_EQ(with_backslash("C:\\dir\\" KATAKANA_SO), "C:\\dir\\" KATAKANA_SO "\\");
    EXPECT_EQ(last_backslash_at("C:\\dir\\" KATAKANA_SO), 6);
    EXPECT_EQ(last_backslash_at(KATAKANA_SO), -1);
    EXPECT_EQ(trimmed("C:\\" KATAKANA_SO "\\" KATAKANA_SO "x"), "C:\\" KATAKANA_SO);
    EXPECT_EQ(trimmed(KATAKANA_SO KATAKANA_SO), "");
    EXPECT_EQ(last_char(KATAKANA_SO), '\x83');
}

TEST_F(DoubleBytePaths, ValidityCountsCharacters) {
    HeaderFlags flags(true);
    // A directory named by one double-byte character is no root.
    EXPECT_NE(is_valid_install_path("C:\\" KATAKANA_SO), 0);
    // \\server\share whose server name holds the character: three real
    // backslashes plus one for the missing final one make a share root, which
    // no_root_dir refuses (counting the trail byte would make it five).
    EXPECT_EQ(is_valid_install_path("\\\\" KATAKANA_SO "x\\share"), 0);
    EXPECT_NE(is_valid_install_path("\\\\" KATAKANA_SO "x\\share\\dir"), 0);
    // A leading double-byte character moves the colon to the third byte.
    EXPECT_EQ(is_absolute_path(KATAKANA_SO ":"), 1);
    EXPECT_EQ(is_valid_install_path(KATAKANA_SO ":\\dir"), 1);
}

}  // namespace
