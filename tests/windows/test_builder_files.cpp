// The builder's file handling where Windows differs: replacing an existing
// output file, and file times read from the file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "builder/image.h"
#include "builder/source_files.h"

namespace {

std::string temp_name(const char* prefix) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, prefix, 0, path);  // creates the file
    return path;
}

TEST(BuilderFiles, AtomicWriteReplacesAnExistingFile) {
    std::string path = temp_name("qmw");
    std::string error;
    ASSERT_TRUE(quillmar::write_file_atomically(path, {'o', 'l', 'd'}, error)) << error;
    ASSERT_TRUE(quillmar::write_file_atomically(path, {'n', 'e', 'w', '!'}, error)) << error;
    quillmar::Bytes back;
    ASSERT_TRUE(quillmar::read_file(path, back, error)) << error;
    EXPECT_EQ(back, (quillmar::Bytes{'n', 'e', 'w', '!'}));
    EXPECT_EQ(GetFileAttributesA((path + ".partial").c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(path.c_str());
}

TEST(BuilderFiles, FileTimeIsTheLastWriteTime) {
    std::string path = temp_name("qmt");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME stored = {0x4B104BC0u, 0x01D5C119u};  // 2020-01-02 03:04:05.5 UTC
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &stored));
    CloseHandle(h);
    int64_t filetime = 0;
    std::string error;
    ASSERT_TRUE(quillmar::file_time(path, filetime, error)) << error;
    EXPECT_EQ(filetime, 132224078455000000LL);
    DeleteFileA(path.c_str());

    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    EXPECT_FALSE(quillmar::file_time(dir, filetime, error));
    EXPECT_EQ(error, "it is a folder, not a file");
}

}  // namespace
