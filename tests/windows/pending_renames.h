// The system's list of renames and deletions left for the next restart, kept
// and restored around a test that adds to it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace win_test {

class PendingRenames {
public:
    PendingRenames() {
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
        DWORD size = 0;
        present_ = RegQueryValueExW(key_, kValue, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS;
        if (present_) {
            saved_.resize(size);
            RegQueryValueExW(key_, kValue, nullptr, &type_, saved_.data(), &size);
        }
    }
    ~PendingRenames() {
        if (present_)
            RegSetValueExW(key_, kValue, 0, type_, saved_.data(), (DWORD)saved_.size());
        else
            RegDeleteValueW(key_, kValue);
        RegCloseKey(key_);
    }
    PendingRenames(const PendingRenames&) = delete;
    PendingRenames& operator=(const PendingRenames&) = delete;

    bool opened() const { return key_ != nullptr; }

    // The list's strings in order.
    std::vector<std::string> entries() const {
        std::vector<std::string> list;
        std::vector<char> data(1 << 16, 0);
        DWORD size = (DWORD)data.size() - 2, type = 0;
        if (RegQueryValueExA(key_, "PendingFileRenameOperations", nullptr, &type, (BYTE*)data.data(), &size) !=
            ERROR_SUCCESS)
            return list;
        for (DWORD at = 0; at < size;) {
            const std::string s = data.data() + at;
            at += (DWORD)s.size() + 1;
            if (s.empty() && at >= size) break;  // the list's closing NUL
            list.push_back(s);
        }
        return list;
    }

    // The list as pairs: the file, then its new name ("!" first when it
    // replaces one) or an empty text for a deletion.
    std::vector<std::pair<std::string, std::string>> requests() const {
        const std::vector<std::string> list = entries();
        std::vector<std::pair<std::string, std::string>> pairs;
        for (size_t i = 0; i + 1 < list.size(); i += 2) pairs.push_back({list[i], list[i + 1]});
        return pairs;
    }

private:
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    HKEY key_ = nullptr;
    bool present_ = false;
    DWORD type_ = REG_MULTI_SZ;
    std::vector<BYTE> saved_;
};

}  // namespace win_test
