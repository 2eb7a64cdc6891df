// Whole-file reading and writing for every test layer: the same functions on
// the host and in the Windows tests. On Windows they go through the ANSI calls
// that the stub uses, so that double-byte names and file sharing behave as the
// stub sees them; on the host through the standard library.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace test_files {

// Writes the whole file, replacing what was there; on the host, missing
// parent folders are created first. False when it cannot be written.
inline bool write_file(const std::string& path, const void* data, size_t size) {
#ifdef _WIN32
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = size == 0 || WriteFile(f, data, (DWORD)size, &written, nullptr);
    CloseHandle(f);
    return ok && written == size;
#else
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)data, (std::streamsize)size);
    return (bool)out;
#endif
}

// The whole file into `data`; false when it cannot be opened. On Windows the
// file is opened sharing reading, writing and deletion, so that a file the
// code under test holds open can still be read.
inline bool read_file(const std::string& path, std::string& data) {
    data.clear();
#ifdef _WIN32
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    data.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    if (!data.empty()) ReadFile(f, &data[0], (DWORD)data.size(), &got, nullptr);
    CloseHandle(f);
    data.resize(got);
    return true;
#else
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
#endif
}

// Writes the whole file; a file that cannot be written fails the test.
inline void write_text(const std::string& path, const std::string& text) {
    EXPECT_TRUE(write_file(path, text.data(), text.size())) << "cannot write " << path;
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(write_file(path, bytes.data(), bytes.size())) << "cannot write " << path;
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string read_text(const std::string& path) {
    std::string data;
    return read_file(path, data) ? data : std::string("<missing>");
}

// The whole file; empty when it cannot be opened.
inline std::vector<uint8_t> read_bytes(const std::string& path) {
    std::string data;
    read_file(path, data);
    return std::vector<uint8_t>(data.begin(), data.end());
}

}  // namespace test_files
