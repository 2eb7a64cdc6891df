#include "datablock/records.h"

// Reads the record word by word so that the buffer needs no particular alignment.
static uint32_t read_le32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

int32_t first_header_total_length(const void* record) {
    const uint8_t* p = (const uint8_t*)record;
    if (read_le32(p + offsetof(FirstHeader, flags)) & ~FH_KNOWN_FLAGS) return 0;
    if (read_le32(p + offsetof(FirstHeader, magic)) != FIRST_HEADER_MAGIC) return 0;
    const uint8_t* sig = p + offsetof(FirstHeader, signature);
    if (read_le32(sig) != FIRST_HEADER_SIG0 || read_le32(sig + 4) != FIRST_HEADER_SIG1 ||
        read_le32(sig + 8) != FIRST_HEADER_SIG2)
        return 0;
    return (int32_t)read_le32(p + offsetof(FirstHeader, total_length));
}
