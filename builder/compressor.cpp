#include "builder/compressor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "builder/bit_writer.h"
#include "builder/block_sort.h"
#include "builder/huffman.h"

namespace quillmar {

namespace {

// Shorter codes than the stream allows cost a little size and keep the
// packed group cost below within 10 bits.
constexpr unsigned kMaxCodeLength = 17;
static_assert(kMaxCodeLength <= STREAM_MAX_CODE_LENGTH, "codes the decoder reads");
constexpr size_t kGroupSize = STREAM_GROUP_SIZE;
constexpr int kRefinePasses = 4;
constexpr uint64_t kBzBlockMagic = 0x314159265359ull;
constexpr uint64_t kBzEndMagic = 0x177245385090ull;

// Length of the run of equal bytes that starts at data[i] and ends by `end`.
size_t run_at(const uint8_t* data, size_t i, size_t end) {
    size_t j = i + 1;
    while (j < end && data[j] == data[i]) j++;
    return j - i;
}

struct CodedBlock {
    std::vector<uint8_t> bytes;  // block bits after its marker (or magic and CRC)
    uint64_t bits = 0;
    uint32_t crc = 0;
};

// Number of Huffman tables for a block of `symbols` coded symbols: small
// blocks cannot pay for many tables.
unsigned table_count(size_t symbols) {
    static_assert(STREAM_MIN_TABLES == 2 && STREAM_MAX_TABLES == 6, "table counts of the stream");
    if (symbols < 200) return 2;
    if (symbols < 600) return 3;
    if (symbols < 1200) return 4;
    if (symbols < 2400) return 5;
    return 6;
}

void encode_block(const uint8_t* data, size_t size, CodedBlock& out) {
    out.crc = block_crc(data, size);
    std::vector<uint8_t> coded = run_length_code(data, size);
    const size_t n = coded.size();
    if (n == 0 || n > kBlockCapacity) throw std::logic_error("block size out of range");

    std::vector<uint8_t> last(n);
    const uint32_t origin = block_sort(coded.data(), n, last.data());
    coded.clear();
    coded.shrink_to_fit();

    // Byte values in use and their ranks.
    bool used[256] = {};
    for (uint8_t b : last) used[b] = true;
    uint8_t rank[256] = {};
    unsigned in_use = 0;
    for (unsigned b = 0; b < 256; b++)
        if (used[b]) rank[b] = (uint8_t)in_use++;
    const unsigned alphabet = in_use + 2;
    const uint16_t end_of_block = (uint16_t)(in_use + 1);

    // Move-to-front, zero runs as run-A/run-B digits in bijective base 2.
    std::vector<uint16_t> symbols;
    symbols.reserve(n + 1);
    uint8_t order[256];
    for (unsigned i = 0; i < 256; i++) order[i] = (uint8_t)i;
    size_t zeros = 0;
    auto flush_zeros = [&]() {
        while (zeros > 0) {
            zeros--;
            symbols.push_back((zeros & 1) ? 1 : 0);
            zeros >>= 1;
        }
    };
    for (size_t i = 0; i < n; i++) {
        uint8_t r = rank[last[i]];
        if (order[0] == r) {
            zeros++;
            continue;
        }
        flush_zeros();
        unsigned pos = (unsigned)((const uint8_t*)std::memchr(order + 1, r, 255) - order);
        std::memmove(order + 1, order, pos);
        order[0] = r;
        symbols.push_back((uint16_t)(pos + 1));
    }
    flush_zeros();
    symbols.push_back(end_of_block);
    last.clear();
    last.shrink_to_fit();

    const size_t groups = (symbols.size() + kGroupSize - 1) / kGroupSize;
    const unsigned tables = table_count(symbols.size());

    // Initial tables: each favours one slice of the alphabet holding about
    // an equal share of the symbols.
    std::vector<uint32_t> freq(alphabet, 0);
    for (uint16_t s : symbols) freq[s]++;
    uint8_t lengths[6][258];
    {
        size_t remaining = symbols.size();
        unsigned lo = 0;
        for (unsigned t = 0; t < tables; t++) {
            size_t target = remaining / (tables - t);
            unsigned hi = lo;
            size_t taken = 0;
            while (hi < alphabet && (hi == lo || taken < target) &&
                   (alphabet - hi) > (tables - t - 1)) {
                taken += freq[hi++];
            }
            if (t == tables - 1) hi = alphabet;
            for (unsigned s = 0; s < alphabet; s++) lengths[t][s] = (s >= lo && s < hi) ? 0 : 15;
            remaining -= std::min(remaining, taken);
            lo = hi;
        }
    }

    // Refinement: give each group to its cheapest table, then rebuild every
    // table from the groups it was given.
    std::vector<uint8_t> selectors(groups);
    auto choose_tables = [&](std::vector<std::vector<uint32_t>>* counts) {
        // The costs of one group under all tables in one word: 10 bits per
        // table hold up to 50 * kMaxCodeLength.
        static_assert(kGroupSize * kMaxCodeLength < 1024, "packed group cost");
        uint64_t packed[258];
        for (unsigned s = 0; s < alphabet; s++) {
            packed[s] = 0;
            for (unsigned t = 0; t < tables; t++) packed[s] |= (uint64_t)lengths[t][s] << (10 * t);
        }
        for (size_t g = 0; g < groups; g++) {
            size_t begin = g * kGroupSize, end = std::min(symbols.size(), begin + kGroupSize);
            uint64_t sum = 0;
            for (size_t i = begin; i < end; i++) sum += packed[symbols[i]];
            unsigned best = 0;
            for (unsigned t = 1; t < tables; t++)
                if (((sum >> (10 * t)) & 1023) < ((sum >> (10 * best)) & 1023)) best = t;
            selectors[g] = (uint8_t)best;
            if (counts)
                for (size_t i = begin; i < end; i++) (*counts)[best][symbols[i]]++;
        }
    };
    for (int pass = 0; pass < kRefinePasses; pass++) {
        std::vector<std::vector<uint32_t>> counts(tables, std::vector<uint32_t>(alphabet, 0));
        choose_tables(&counts);
        for (unsigned t = 0; t < tables; t++)
            if (!build_code_lengths(counts[t].data(), alphabet, kMaxCodeLength, lengths[t]))
                throw std::logic_error("code lengths");
    }
    choose_tables(nullptr);  // best selectors for the final tables

    // Write the block.
    BitWriter w;
    w.reserve(n / 2 + 1024);
    w.put(1, 0);  // never randomised
    w.put(24, origin);
    uint32_t group_map = 0;
    for (unsigned i = 0; i < 16; i++)
        for (unsigned j = 0; j < 16; j++)
            if (used[16 * i + j]) group_map |= 0x8000u >> i;
    w.put(16, group_map);
    for (unsigned i = 0; i < 16; i++) {
        if (!(group_map & (0x8000u >> i))) continue;
        uint32_t map = 0;
        for (unsigned j = 0; j < 16; j++)
            if (used[16 * i + j]) map |= 0x8000u >> j;
        w.put(16, map);
    }
    w.put(3, tables);
    w.put(15, (uint32_t)groups);
    uint8_t table_order[6] = {0, 1, 2, 3, 4, 5};
    for (size_t g = 0; g < groups; g++) {
        unsigned pos = 0;
        while (table_order[pos] != selectors[g]) pos++;
        std::memmove(table_order + 1, table_order, pos);
        table_order[0] = selectors[g];
        w.put(pos + 1, ((1u << pos) - 1) << 1);  // pos one bits, then a zero bit
    }
    for (unsigned t = 0; t < tables; t++) {
        unsigned current = lengths[t][0];
        w.put(5, current);
        for (unsigned s = 0; s < alphabet; s++) {
            while (current < lengths[t][s]) {
                w.put(2, 2);  // 1,0: one longer
                current++;
            }
            while (current > lengths[t][s]) {
                w.put(2, 3);  // 1,1: one shorter
                current--;
            }
            w.put(1, 0);
        }
    }
    uint32_t codes[6][258];
    for (unsigned t = 0; t < tables; t++) assign_canonical_codes(lengths[t], alphabet, codes[t]);
    for (size_t i = 0; i < symbols.size(); i++) {
        unsigned t = selectors[i / kGroupSize];
        uint16_t s = symbols[i];
        w.put(lengths[t][s], codes[t][s]);
    }
    out.bytes = w.take(out.bits);
}

}  // namespace

uint32_t block_crc(const uint8_t* data, size_t size) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; k++) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) crc = (crc << 8) ^ table[(crc >> 24) ^ data[i]];
    return ~crc;
}

std::vector<uint8_t> run_length_code(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size + size / 64 + 8);
    for (size_t i = 0; i < size;) {
        size_t run = run_at(data, i, std::min(size, i + 255));
        uint8_t c = data[i];
        if (run >= 4) {
            out.insert(out.end(), 4, c);
            out.push_back((uint8_t)(run - 4));
        } else {
            out.insert(out.end(), run, c);
        }
        i += run;
    }
    return out;
}

std::vector<size_t> split_blocks(const uint8_t* data, size_t size, size_t capacity) {
    std::vector<size_t> pieces;
    if (capacity < 5) throw std::invalid_argument("block capacity");
    size_t start = 0, coded = 0;
    for (size_t i = 0; i < size;) {
        // Runs are coded in pieces of at most 255 bytes; a piece of 4 or more
        // is 5 coded bytes that must stay together, a shorter one is literal
        // bytes that may be split.
        size_t run = run_at(data, i, std::min(size, i + 255));
        size_t cost = run >= 4 ? 5 : run;
        if (coded + cost > capacity) {
            if (run < 4) {
                run = capacity - coded;  // as many literal copies as fit
                i += run;
            }
            pieces.push_back(i - start);
            start = i;
            coded = 0;
            continue;
        }
        coded += cost;
        i += run;
    }
    if (size > start) pieces.push_back(size - start);
    return pieces;
}

std::vector<uint8_t> compress_stream(const uint8_t* data, size_t size, Framing framing, unsigned threads,
                                     const CompressProgress& progress) {
    std::vector<size_t> pieces = split_blocks(data, size);
    std::vector<size_t> offsets(pieces.size());
    for (size_t b = 0, at = 0; b < pieces.size(); b++) {
        offsets[b] = at;
        at += pieces[b];
    }

    std::vector<CodedBlock> blocks(pieces.size());
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = (unsigned)std::min<size_t>(threads, pieces.size());
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    std::mutex progress_lock;
    size_t done = 0;
    auto work = [&]() {
        for (size_t b; (b = next.fetch_add(1)) < pieces.size();) {
            try {
                encode_block(data + offsets[b], pieces[b], blocks[b]);
                if (progress) {
                    std::lock_guard<std::mutex> lock(progress_lock);
                    done += pieces[b];
                    progress(done, size);
                }
            } catch (...) {
                std::lock_guard<std::mutex> lock(failure_lock);
                if (!failure) failure = std::current_exception();
                next = pieces.size();
            }
        }
    };
    if (threads <= 1) {
        work();
    } else {
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < threads; t++) pool.emplace_back(work);
        for (auto& t : pool) t.join();
    }
    if (failure) std::rethrow_exception(failure);

    BitWriter w;
    size_t total = 16;
    for (const CodedBlock& b : blocks) total += b.bytes.size() + 12;
    w.reserve(total);
    uint32_t combined = 0;
    if (framing == Framing::bzip2) {
        for (char c : {'B', 'Z', 'h', '9'}) w.put(8, (uint8_t)c);
    }
    for (CodedBlock& b : blocks) {
        if (framing == Framing::bzip2) {
            w.put(24, (uint32_t)(kBzBlockMagic >> 24));
            w.put(24, (uint32_t)(kBzBlockMagic & 0xFFFFFF));
            w.put(32, b.crc);
            combined = ((combined << 1) | (combined >> 31)) ^ b.crc;
        } else {
            w.put(8, STREAM_BLOCK_MARKER);
        }
        w.append(b.bytes, b.bits);
        b.bytes = std::vector<uint8_t>();
    }
    if (framing == Framing::bzip2) {
        w.put(24, (uint32_t)(kBzEndMagic >> 24));
        w.put(24, (uint32_t)(kBzEndMagic & 0xFFFFFF));
        w.put(32, combined);
    } else {
        w.put(8, STREAM_END_MARKER);
    }
    return w.finish();
}

}  // namespace quillmar
