// CRC-32 of the data block (reflected polynomial 0xEDB88320, preset and final
// complement). Portable. The running value starts at 0 and can be fed in
// pieces: crc32_update(crc32_update(0, a, n), b, m) equals the CRC of a||b.
#pragma once

#include <stdint.h>

uint32_t crc32_update(uint32_t crc, const uint8_t* data, uint32_t count);
