#include "builder/source_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace quillmar {

namespace fs = std::filesystem;

int64_t unix_to_file_time(int64_t seconds, int64_t nanoseconds) {
    const int64_t earliest = -kFileTimeUnixEpoch / 10000000;  // 1601-01-01 in Unix seconds
    const int64_t latest = (INT64_MAX - kFileTimeUnixEpoch) / 10000000 - 1;
    if (seconds < earliest || seconds > latest) return -1;
    int64_t t = seconds * 10000000 + nanoseconds / 100 + kFileTimeUnixEpoch;
    return t < 0 ? -1 : t;
}

bool file_time(const std::string& path, int64_t& filetime, std::string& error) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(fs::u8path(path).c_str(), GetFileExInfoStandard, &data)) {
        error = "cannot examine it (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "it is a folder, not a file";
        return false;
    }
    filetime = (int64_t)(((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime);
    if (filetime < 0) filetime = -1;
    return true;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = std::generic_category().message(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "it is not a regular file";
        return false;
    }
    filetime = unix_to_file_time((int64_t)st.st_mtim.tv_sec, (int64_t)st.st_mtim.tv_nsec);
    return true;
#endif
}

namespace {

// `shown` is the folder as messages name it: relative to the walked root.
bool walk(const fs::path& dir, const std::string& prefix, std::vector<fs::path>& ancestors,
          std::vector<SourceEntry>& entries, std::string& error) {
    const std::string shown = prefix.empty() ? std::string("the folder") : "'" + prefix.substr(0, prefix.size() - 1) + "'";
    std::error_code ec;
    fs::path canonical = fs::canonical(dir, ec);
    if (ec) {
        error = "cannot read " + shown + ": " + ec.message();
        return false;
    }
    for (const fs::path& a : ancestors) {
        if (a == canonical) {
            error = shown + " leads back into a folder that contains it";
            return false;
        }
    }
    std::vector<std::string> files, folders;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        std::string name = p.filename().u8string();
        fs::file_status status = fs::status(p, ec);
        if (ec) {
            error = "cannot examine '" + prefix + name + "': " + ec.message();
            return false;
        }
        if (fs::is_directory(status)) {
            folders.push_back(name);
        } else if (fs::is_regular_file(status)) {
            files.push_back(name);
        } else {
            error = "'" + prefix + name + "' is neither a file nor a folder";
            return false;
        }
    }
    if (ec) {
        error = "cannot read " + shown + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const std::string& f : files) entries.push_back({prefix + f, false});
    ancestors.push_back(canonical);
    for (const std::string& f : folders) {
        entries.push_back({prefix + f, true});
        if (!walk(dir / fs::u8path(f), prefix + f + "/", ancestors, entries, error)) return false;
    }
    ancestors.pop_back();
    return true;
}

}  // namespace

bool walk_tree(const std::string& root, std::vector<SourceEntry>& entries, std::string& error) {
    std::vector<fs::path> ancestors;
    std::error_code ec;
    fs::path dir = fs::u8path(root);
    entries.clear();
    fs::file_status status = fs::status(dir, ec);
    if (status.type() == fs::file_type::not_found) {
        error = "it does not exist";
        return false;
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    if (!fs::is_directory(status)) {
        error = "it is not a folder";
        return false;
    }
    return walk(dir, "", ancestors, entries, error);
}

}  // namespace quillmar
