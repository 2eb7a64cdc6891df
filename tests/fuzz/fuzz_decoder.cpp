// Fuzz target for the stream decoder: any input must decode without a fault,
// and decoding it whole must give the same bytes and result as decoding it in
// small pieces through small windows (the piece sizes come from the input).
#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "decoder/decoder.h"

namespace {

const size_t kMaxOutput = 1 << 20;  // a tiny stream can stand for ~46 MB a block

struct Run {
    int code = DEC_OK;
    std::vector<uint8_t> out;
    bool capped = false;
};

Run decode(const uint8_t* data, size_t size, uint32_t seed) {
    Run r;
    DecoderStream s{};
    if (decoder_init(&s) != DEC_OK) __builtin_trap();
    uint8_t window[4096];
    size_t pos = 0;
    uint32_t x = seed | 1;
    auto next = [&](uint32_t max) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return 1 + x % max;
    };
    for (;;) {
        const size_t piece = seed ? next(7) : size - pos;
        const size_t give = piece < size - pos ? piece : size - pos;
        const uint32_t room = seed ? next(64) : (uint32_t)sizeof window;
        s.next_input = data + pos;
        s.input_left = (uint32_t)give;
        s.next_output = window;
        s.output_left = room;
        const int rc = decoder_decompress(&s);
        const size_t used = give - s.input_left;
        const size_t produced = room - s.output_left;
        if ((size_t)(s.next_input - (data + pos)) != used || (size_t)(s.next_output - window) != produced)
            __builtin_trap();
        r.out.insert(r.out.end(), window, window + produced);
        pos += used;
        if (rc != DEC_OK) {
            r.code = rc;
            break;
        }
        if (produced < room && used < give) __builtin_trap();  // DEC_OK while it could go on
        if (produced < room && pos == size) break;
        if (r.out.size() >= kMaxOutput) {
            r.capped = true;
            r.out.resize(kMaxOutput);
            break;
        }
    }
    decoder_end(&s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Run whole = decode(data, size, 0);
    const uint32_t seed = size ? (uint32_t)data[0] * 2654435761u + (uint32_t)size : 1u;
    const Run pieces = decode(data, size, seed);
    const size_t n = whole.out.size() < pieces.out.size() ? whole.out.size() : pieces.out.size();
    for (size_t i = 0; i < n; i++)
        if (whole.out[i] != pieces.out[i]) __builtin_trap();
    if (!whole.capped && !pieces.capped && (whole.code != pieces.code || whole.out.size() != pieces.out.size()))
        __builtin_trap();
    return 0;
}
