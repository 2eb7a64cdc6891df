// Stub side of the decoder's allocation seam: the process's global heap.
#include <windows.h>

#include "decoder/decoder.h"

void* decoder_alloc(uint32_t size) { return (void*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size); }

void decoder_free(void* p) {
    if (p) GlobalFree((HGLOBAL)p);
}
