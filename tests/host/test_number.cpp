// The script's number syntax: hexadecimal, octal and decimal forms, where
// reading stops, and 32-bit wrap-around.
#include <gtest/gtest.h>

#include "engine/number.h"

namespace {

struct Case {
    const char* text;
    int32_t value;
};

void expect_all(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(read_number(cases[i].text), cases[i].value) << '"' << cases[i].text << '"';
}

TEST(ReadNumber, Forms) {
    const Case cases[] = {
        {"0", 0},        {"7", 7},          {"123", 123},     {"-12", -12},      {"010", 8},
        {"0777", 511},   {"0x1F", 31},      {"0XfF", 255},    {"0xABCDEF", 0xABCDEF},
        {"0x7fffffff", 0x7FFFFFFF},         {"2147483647", 2147483647},          {"-2147483648", INT32_MIN},
    };
    expect_all(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(ReadNumber, StopsAtTheFirstCharacterOutsideTheForm) {
    const Case cases[] = {
        {"08", 8},      // not octal: the second digit is no octal digit, so decimal
        {"09x", 9},     {"0128", 10},    // octal stops at 8
        {"12ab", 12},   {"0x1G", 1},     {"0x", 0},     {"0X-1", 0},
        {"-0x10", 0},   // a sign only in decimal: 0 then 'x'
        {"-010", -10},  // a leading minus means decimal
        {"-", 0},       {"--5", 0},      {"1-2", 1},    {"5 6", 5},
        {"3\xB2", 3},   // a byte with the top bit set ends the number
        {"\xB3" "4", 0},
    };
    expect_all(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(ReadNumber, NoBlanksNoPlusNoDigits) {
    const Case cases[] = {
        {"", 0}, {" 7", 0}, {"\t7", 0}, {"+7", 0}, {"abc", 0}, {"x10", 0},
    };
    expect_all(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(ReadNumber, WrapsAt32Bits) {
    const Case cases[] = {
        {"4294967295", -1},        {"4294967296", 0},         {"4294967297", 1},
        {"2147483648", INT32_MIN}, {"-4294967295", 1},        {"0xFFFFFFFF", -1},
        {"0x100000001", 1},        {"037777777777", -1},      {"040000000001", 1},
        {"99999999999", (int32_t)(99999999999ll & 0xFFFFFFFF)},
    };
    expect_all(cases, sizeof(cases) / sizeof(cases[0]));
}

}  // namespace
