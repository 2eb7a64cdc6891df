// The decoder's allocation seam as the decoder tests supply it instead of the
// host's: the heap, with a count of live blocks and an allocation that can be
// made to fail.
#pragma once

namespace test_seam {

extern int allocations;  // calls so far
extern int live_blocks;  // allocated and not yet freed
extern int fail_call;    // this call number fails (1-based); 0: none fails

inline void reset(int fail = 0) {
    allocations = 0;
    fail_call = fail;
}

}  // namespace test_seam
