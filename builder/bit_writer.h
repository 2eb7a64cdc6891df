// MSB-first bit writer for the compressed stream: fields are big-endian
// numbers, and nothing is byte-aligned until the writer is finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillmar {

class BitWriter {
public:
    // Appends the low `count` bits of `value` (count 0..32), most significant first.
    void put(unsigned count, uint32_t value) {
        if (count == 0) return;
        acc_ = (acc_ << count) | (value & mask(count));
        live_ += count;
        while (live_ >= 8) {
            live_ -= 8;
            bytes_.push_back((uint8_t)(acc_ >> live_));
        }
    }

    // Appends the first `bit_count` bits of another writer's output.
    void append(const std::vector<uint8_t>& bytes, uint64_t bit_count) {
        size_t whole = (size_t)(bit_count / 8);
        if (live_ == 0) {
            bytes_.insert(bytes_.end(), bytes.begin(), bytes.begin() + whole);
        } else {
            for (size_t i = 0; i < whole; i++) put(8, bytes[i]);
        }
        unsigned rest = (unsigned)(bit_count % 8);
        if (rest) put(rest, (uint32_t)(bytes[whole] >> (8 - rest)));
    }

    uint64_t bit_count() const { return (uint64_t)bytes_.size() * 8 + live_; }

    // The bytes written so far, the last partial byte padded with zero bits.
    std::vector<uint8_t> finish() {
        if (live_) put(8 - live_, 0);
        return std::move(bytes_);
    }

    // Bytes and bit count without padding, for append().
    std::vector<uint8_t> take(uint64_t& bits) {
        bits = bit_count();
        if (live_) {
            bytes_.push_back((uint8_t)(acc_ << (8 - live_)));
            live_ = 0;
        }
        return std::move(bytes_);
    }

    void reserve(size_t bytes) { bytes_.reserve(bytes); }

private:
    static uint64_t mask(unsigned count) { return count >= 64 ? ~0ull : ((1ull << count) - 1); }

    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;  // holds fewer than 8 pending bits between calls
    unsigned live_ = 0;
};

}  // namespace quillmar
