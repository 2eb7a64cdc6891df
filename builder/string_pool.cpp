#include "builder/string_pool.h"

#include "builder/text_encoding.h"

namespace quillmar {

int32_t StringPool::add_text(const std::string& ansi) { return add_encoded(escape_literal(ansi)); }

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
