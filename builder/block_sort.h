// Block sorting (Burrows-Wheeler transform) of the cyclic rotations of a block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmar {

// Sorts the n cyclic rotations of block[0..n) and writes, for each sorted
// row, the last byte of that rotation into last[0..n). Returns the row at
// which the unrotated block stands (the origin pointer). Equal rotations
// (periodic blocks) may stand in any order among themselves: their rows
// produce the same bytes. Linear time; n may be 0 (returns 0).
uint32_t block_sort(const uint8_t* block, size_t n, uint8_t* last);

}  // namespace quillmar
