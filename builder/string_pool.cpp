#include "builder/string_pool.h"

#include "datablock/records.h"

namespace quillmar {

std::string StringPool::escape_literal(const std::string& ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (unsigned char c : ansi) {
        if (c >= SC_FIRST) out += (char)SC_ESCAPE;
        out += (char)c;
    }
    return out;
}

int32_t StringPool::add_encoded(const std::string& stored) {
    auto found = offsets_.find(stored);
    if (found != offsets_.end()) return found->second;
    int32_t offset = (int32_t)bytes_.size();
    bytes_.insert(bytes_.end(), stored.begin(), stored.end());
    bytes_.push_back(0);
    offsets_.emplace(stored, offset);
    return offset;
}

}  // namespace quillmar
