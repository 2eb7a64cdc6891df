#include "datablock/records.h"

// The record is read word by word: the buffer needs no particular alignment.
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
