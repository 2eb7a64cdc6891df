// The string pool of a header block: every string stored once, NUL-terminated,
// addressed by its byte offset.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillmar {

class StringPool {
public:
    // Adds bytes exactly as they are to be stored (expansion codes included)
    // and returns their offset; equal strings share one offset.
    int32_t add_encoded(const std::string& stored);

    // Adds ANSI text meant literally: every byte from 0xDB upward, which the
    // stub would take for an expansion code, is escaped first.
    int32_t add_text(const std::string& ansi);

    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    std::map<std::string, int32_t> offsets_;
};

}  // namespace quillmar
