// The stub links no C runtime, but the compiler may still emit calls to these
// for structure copies and zero-initialisation.
#include <stddef.h>

extern "C" {

void* memset(void* dest, int value, size_t count) {
    unsigned char* d = (unsigned char*)dest;
    while (count--) *d++ = (unsigned char)value;
    return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
    unsigned char* d = (unsigned char*)dest;
    const unsigned char* s = (const unsigned char*)src;
    while (count--) *d++ = *s++;
    return dest;
}

}
