// Conversion of the description's UTF-8 text to the single-byte (or later
// double-byte) ANSI code page that the stub's strings are stored in.
#pragma once

#include <string>

namespace quillmar {

// One target code page. `append` adds the bytes of one Unicode character to
// `out`, or returns false when the code page has no such character.
class Converter {
public:
    virtual ~Converter() = default;
    virtual const char* name() const = 0;
    virtual bool append(char32_t character, std::string& out) const = 0;
};

// Western European code page 1252; the default for every description.
class Windows1252 : public Converter {
public:
    const char* name() const override { return "Windows-1252"; }
    bool append(char32_t character, std::string& out) const override;
};

const Converter& windows_1252();

// The converter for a Windows code page number, or nullptr when the builder
// has none for it (only 1252 so far).
const Converter* find_code_page(long long number);

// Decodes the next UTF-8 character of `text` from `at`, advancing `at`.
// Returns false on a malformed or overlong sequence (then `at` moves by one byte).
bool next_utf8(const std::string& text, size_t& at, char32_t& character);

}  // namespace quillmar
