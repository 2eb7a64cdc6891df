#include "datablock/crc32.h"

namespace {

uint32_t crc_table[256];
bool crc_table_ready = false;

// Built once, on the first update, so a run that skips verification never pays for it.
void build_crc_table() {
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
    crc_table_ready = true;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t count) {
    if (!crc_table_ready) build_crc_table();
    crc = ~crc;
    while (count--) crc = crc_table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
