// How far a compressed stream decodes: the bytes the decoder gives out for it
// before it ends or fails. Tests use it to find a change that really spoils a
// stream, since the stream has no checksums of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/decoder.h"

inline size_t decodable_length(const std::vector<uint8_t>& stream) {
    DecoderStream s = {};
    size_t total = 0;
    if (decoder_init(&s) == DEC_OK) {
        std::vector<uint8_t> window(1 << 20);
        s.next_input = stream.data();
        s.input_left = (uint32_t)stream.size();
        for (;;) {
            s.next_output = window.data();
            s.output_left = (uint32_t)window.size();
            const uint32_t input_before = s.input_left;
            const int r = decoder_decompress(&s);
            const size_t produced = window.size() - s.output_left;
            total += produced;
            if (r != DEC_OK || (produced == 0 && s.input_left == input_before)) break;
        }
    }
    decoder_end(&s);
    return total;
}
