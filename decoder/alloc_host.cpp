// Host side of the decoder's allocation seam: the C heap.
#include <stdlib.h>

#include "decoder/decoder.h"

void* decoder_alloc(uint32_t size) { return calloc(1, size); }

void decoder_free(void* p) { free(p); }
