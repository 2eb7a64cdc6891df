#include "builder/codepage.h"

namespace quillmar {

namespace {

// Code page 1252 bytes 0x80..0x9F; 0 where the byte has no character.
const char16_t kHigh1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

bool Windows1252::append(char32_t c, std::string& out) const {
    // The C1 control characters U+0080..U+009F are never wanted in installer
    // text and share their byte values with the letters of the table above.
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        out += (char)(unsigned char)c;
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHigh1252[i] != 0 && kHigh1252[i] == c) {
            out += (char)(unsigned char)(0x80 + i);
            return true;
        }
    }
    return false;
}

const Converter& windows_1252() {
    static const Windows1252 converter;
    return converter;
}

const Converter* find_code_page(long long number) {
    return number == 1252 ? &windows_1252() : nullptr;
}

bool next_utf8(const std::string& text, size_t& at, char32_t& c) {
    unsigned char b = (unsigned char)text[at];
    int extra;
    char32_t min;
    if (b < 0x80) {
        c = b;
        ++at;
        return true;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1; c = b & 0x1F; min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2; c = b & 0x0F; min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3; c = b & 0x07; min = 0x10000;
    } else {
        ++at;
        return false;
    }
    if (at + (size_t)extra >= text.size()) {
        ++at;
        return false;
    }
    for (int i = 1; i <= extra; ++i) {
        unsigned char t = (unsigned char)text[at + (size_t)i];
        if ((t & 0xC0) != 0x80) {
            ++at;
            return false;
        }
        c = (c << 6) | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++at;
        return false;
    }
    at += (size_t)extra + 1;
    return true;
}

}  // namespace quillmar
