// Length-limited Huffman code lengths and canonical code assignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillmar {

// Optimal prefix-code lengths for `count` symbols (2 <= count <= 2^max_length)
// whose code lengths may not exceed `max_length` (1..32), by package-merge.
// A symbol of weight 0 is counted as weight 1: every symbol of the alphabet
// gets a code. The lengths satisfy Kraft's equality (the code is complete).
// Returns false (lengths untouched) when the arguments allow no such code.
bool build_code_lengths(const uint32_t* weights, size_t count, unsigned max_length, uint8_t* lengths);

// Canonical codes for the given lengths: codes are handed out in order of
// increasing length, and within one length in increasing symbol order.
void assign_canonical_codes(const uint8_t* lengths, size_t count, uint32_t* codes);

}  // namespace quillmar
