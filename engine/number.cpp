#include "engine/number.h"

int32_t read_number(const char* text) {
    const unsigned char* p = (const unsigned char*)text;
    uint32_t value = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2;; ++p) {
            unsigned digit;
            if (*p >= '0' && *p <= '9') digit = *p - '0';
            else if (*p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
            else break;
            value = value * 16 + digit;
        }
        return (int32_t)value;
    }
    if (p[0] == '0' && p[1] >= '0' && p[1] <= '7') {
        for (++p; *p >= '0' && *p <= '7'; ++p) value = value * 8 + (*p - '0');
        return (int32_t)value;
    }
    const int negative = *p == '-';
    if (negative) ++p;
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');
    return (int32_t)(negative ? 0u - value : value);
}
