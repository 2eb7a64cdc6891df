// The builder's view of the payload files on disk: their last-write times as
// the stub stores them, and the walk of a folder of payload files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01 (UTC).
constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;

// Unix time (seconds and nanoseconds) as a Windows FILETIME; -1 for a time
// before 1601, which a FILETIME cannot hold.
int64_t unix_to_file_time(int64_t seconds, int64_t nanoseconds);

// The last-write time of a file as a FILETIME (-1: the file has no usable
// time). False with the reason when the file cannot be examined or is not a
// regular file.
bool file_time(const std::string& path, int64_t& filetime, std::string& error);

struct SourceEntry {
    std::string path;  // relative to the walked folder, '/' between names, UTF-8
    bool directory;
};

// Every file and folder below `root`, in the order they are installed:
// within each folder its files sorted by name (byte order), then each of its
// subfolders, sorted, followed by that subfolder's contents. Links are
// followed; a link back into a folder being walked is an error, as is any
// entry that is neither a file nor a folder. Messages name entries relative
// to `root`.
bool walk_tree(const std::string& root, std::vector<SourceEntry>& entries, std::string& error);

}  // namespace quillmar
