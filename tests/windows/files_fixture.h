// Shared by the tests of the files-and-directories instructions: a script
// assembled from text with its payloads, loaded through the real reader, a
// fresh work directory per test, a details list that records the lines the
// instructions output, and small file helpers.
#pragma once

#include "tests/windows/pending_renames.h"

#include "engine_fixture.h"

#include <map>

#include "builder/assembler.h"
#include "tests/file_helpers.h"
#include "tests/windows/detail_capture.h"

namespace files_test {

// Log prefixes of the scripts' language, by role.
struct Prefix {
    int number;
    const char* text;
};
const Prefix kPrefixes[] = {
    {LS_LOG_EXTRACT, "extract: "},
    {LS_LOG_SKIPPED, "skipped: "},
    {LS_LOG_WRITE_FAILED, "cannot write: "},
    {LS_LOG_FILE_DELETED, "delete: "},
    {LS_LOG_DELETE_AT_REBOOT, "delete at reboot: "},
    {LS_LOG_RENAME, "rename: "},
    {LS_LOG_RENAME_AT_REBOOT, "rename at reboot: "},
    {LS_LOG_OUTPUT_DIR, "output folder: "},
    {LS_LOG_DIR_CREATED, "create folder: "},
    {LS_LOG_DIR_REMOVED, "remove folder: "},
    {LS_LOG_COPY_TO, "copy to "},
    {LS_LOG_COPY_FAILED, "copy failed"},
    {LS_LOG_UNINSTALLER_CREATED, "uninstaller: "},
    {LS_LOG_UNINSTALLER_FAILED, "uninstaller failed: "},
    {LS_EXTRACT_WRITE_ERROR, "Write error: "},
    {LS_CORRUPT_DATA, "The installer is damaged."},
    {LS_LOG_SHELL_EXECUTE, "open: "},
    {LS_LOG_EXECUTE, "run: "},
};

using test_files::read_text;
using test_files::write_text;

// The text as the driver program prints it: each backslash doubled.
inline std::string backslashes(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A FILETIME from a UTC date and time.
inline FILETIME utc(WORD year, WORD month, WORD day, WORD hour = 12, WORD minute = 0) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

inline uint64_t ticks(const FILETIME& t) { return ((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime; }

inline void set_write_time(const std::string& path, const FILETIME& t) {
    HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    SetFileTime(f, nullptr, nullptr, &t);
    CloseHandle(f);
}

struct Times {
    FILETIME created, accessed, written;
};
inline Times file_times(const std::string& path) {
    Times t{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        t.created = data.ftCreationTime;
        t.accessed = data.ftLastAccessTime;
        t.written = data.ftLastWriteTime;
    }
    return t;
}

// Opens the file for reading and shares nothing but reading: nobody else
// can write or delete it while the handle is open.
inline HANDLE hold(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Deletes a directory with everything in it (read-only files included).
inline void remove_tree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(dir.c_str());
}

class FileScript : public engine_test::Script {
protected:
    void SetUp() override {
        ASSERT_TRUE(details_.ready());
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        saved_cwd_ = cwd;
        dir_ = engine_test::temp_path("qmf");
        DeleteFileA(dir_.c_str());
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
        for (const Prefix& p : kPrefixes) model_.languages[0].strings[p.number] = text(p.text);
        // The open-error question shows the target through UserVar 0.
        model_.languages[0].strings[LS_FILE_OPEN_FAILED] = encoded("Cannot write \xDC.");
    }

    void TearDown() override {
        SetCurrentDirectoryA(saved_cwd_.c_str());
        if (!dir_.empty()) remove_tree(dir_);
        Script::TearDown();
    }

    size_t payload(const std::string& name, const std::string& bytes) {
        payloads_[name] = model_.add_payload(quillmar::Bytes(bytes.begin(), bytes.end()));
        return payloads_[name];
    }

    // Assembles the script (its payloads added before) and loads it, with
    // OutputDir in the work directory. Call it through ASSERT_NO_FATAL_FAILURE.
    void assemble(const std::string& source) {
        quillmar::PayloadResolver resolver = [this](const std::string& name, size_t& payload, std::string& error) {
            auto it = payloads_.find(name);
            if (it == payloads_.end()) {
                error = "no payload " + name;
                return false;
            }
            payload = it->second;
            return true;
        };
        quillmar::AssembleResult result =
            quillmar::assemble(source, model_, "test", 1, quillmar::windows_1252(), resolver);
        std::string errors;
        for (const quillmar::Diagnostic& e : result.errors) errors += e.text() + "\n";
        ASSERT_TRUE(result.ok()) << errors;
        labels_ = result.labels;
        load();
        lstrcpyA(var_slots[VAR_OUTPUT_DIR], dir_.c_str());
    }

    std::string path(const std::string& name) const { return dir_ + "\\" + name; }

    win_test::DetailCapture details_;
    std::map<std::string, size_t> payloads_;
    std::string dir_, saved_cwd_;
};

using win_test::PendingRenames;

}  // namespace files_test
