#include "tests/host/decoder_alloc_seam.h"

#include <stdlib.h>

#include "decoder/decoder.h"

namespace test_seam {
int allocations = 0;
int live_blocks = 0;
int fail_call = 0;
}  // namespace test_seam

void* decoder_alloc(uint32_t size) {
    test_seam::allocations++;
    if (test_seam::allocations == test_seam::fail_call) return nullptr;
    void* p = calloc(1, size);
    if (p) test_seam::live_blocks++;
    return p;
}

void decoder_free(void* p) {
    if (!p) return;
    test_seam::live_blocks--;
    free(p);
}
