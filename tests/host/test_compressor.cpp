#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <functional>
#include <numeric>
#include <ostream>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "builder/block_sort.h"
#include "builder/compressor.h"
#include "builder/huffman.h"
#include "decoder/decoder.h"

namespace quillmar {
namespace {

using Bytes = std::vector<uint8_t>;

// --- input generators ---------------------------------------------------

Bytes repeat(size_t n, uint8_t c) { return Bytes(n, c); }

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = (uint8_t)rng();
    return b;
}

// Random bytes in which no two neighbours are equal: their run-length coded
// form is exactly as long as they are.
Bytes runless_bytes(size_t n, uint32_t seed) {
    Bytes b = random_bytes(n, seed);
    for (size_t i = 1; i < n; i++)
        if (b[i] == b[i - 1]) b[i] ^= 1;
    return b;
}

Bytes periodic(size_t n, const std::string& period) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = (uint8_t)period[i % period.size()];
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes all_byte_values(size_t copies) {
    Bytes b;
    for (int v = 0; v < 256; v++) b.insert(b.end(), copies, (uint8_t)v);
    return b;
}

// Reads up to `limit` bytes of a file; empty when it is absent.
Bytes read_prefix(const char* path, size_t limit) {
    Bytes b;
    FILE* f = std::fopen(path, "rb");
    if (!f) return b;
    b.resize(limit);
    b.resize(std::fread(b.data(), 1, limit, f));
    std::fclose(f);
    return b;
}

// --- independent decoder ------------------------------------------------

// Decodes a standard bzip2 stream with the bzip2 library, which also checks
// every block CRC and the combined CRC. Returns false on any error.
bool bzip2_decode(const Bytes& stream, Bytes& out) {
    bz_stream bz{};
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
    out.assign(1 << 16, 0);
    size_t produced = 0;
    bz.next_in = (char*)stream.data();
    bz.avail_in = (unsigned)stream.size();
    int rc;
    do {
        if (produced == out.size()) out.resize(out.size() * 2);
        bz.next_out = (char*)out.data() + produced;
        bz.avail_out = (unsigned)(out.size() - produced);
        rc = BZ2_bzDecompress(&bz);
        produced = out.size() - bz.avail_out;
    } while (rc == BZ_OK && (bz.avail_in > 0 || bz.avail_out == 0));
    BZ2_bzDecompressEnd(&bz);
    out.resize(produced);
    return rc == BZ_STREAM_END && bz.avail_in == 0;
}

// Independent inverse of the initial run-length coding.
Bytes run_length_decode(const Bytes& coded) {
    Bytes out;
    for (size_t i = 0; i < coded.size();) {
        uint8_t c = coded[i];
        size_t run = 1;
        while (run < 4 && i + run < coded.size() && coded[i + run] == c) run++;
        out.insert(out.end(), run, c);
        i += run;
        if (run == 4) {
            if (i >= coded.size()) {
                ADD_FAILURE() << "four equal bytes without a count";
                break;
            }
            out.insert(out.end(), coded[i++], c);
        }
    }
    return out;
}

// --- bit helpers for framing checks --------------------------------------

struct Bits {
    std::vector<bool> v;
    void put(unsigned n, uint64_t value) {
        for (unsigned i = n; i-- > 0;) v.push_back((value >> i) & 1);
    }
    void put_bits(const std::vector<bool>& other, size_t from, size_t count) {
        v.insert(v.end(), other.begin() + from, other.begin() + from + count);
    }
    Bytes bytes() const {
        Bytes out((v.size() + 7) / 8, 0);
        for (size_t i = 0; i < v.size(); i++)
            if (v[i]) out[i / 8] |= 0x80 >> (i % 8);
        return out;
    }
};

std::vector<bool> to_bits(const Bytes& b) {
    std::vector<bool> v;
    for (uint8_t x : b)
        for (int i = 7; i >= 0; i--) v.push_back((x >> i) & 1);
    return v;
}

uint64_t field(const std::vector<bool>& v, size_t at, unsigned n) {
    uint64_t x = 0;
    for (unsigned i = 0; i < n; i++) x = (x << 1) | v[at + i];
    return x;
}

bool zero_from(const std::vector<bool>& v, size_t at) {
    return std::find(v.begin() + at, v.end(), true) == v.end() && v.size() - at < 8;
}

// The coded bits of a one-block input (everything between the block marker
// and the end marker), found by matching its stream in both framings:
// 0x31, body, 0x17, padding against "BZh9", block magic, CRC, the same body,
// end magic, combined CRC, padding. Fails the test unless exactly one body
// length fits both.
std::vector<bool> block_body(const Bytes& piece) {
    std::vector<bool> q = to_bits(compress_stream(piece.data(), piece.size(), Framing::quillmar, 1));
    std::vector<bool> z = to_bits(compress_stream(piece.data(), piece.size(), Framing::bzip2, 1));
    const uint32_t crc = block_crc(piece.data(), piece.size());
    std::vector<bool> body;
    int matches = 0;
    for (size_t pad = 0; pad < 8 && q.size() >= 16 + pad; pad++) {
        size_t len = q.size() - 16 - pad;
        if (field(q, 0, 8) != 0x31 || field(q, 8 + len, 8) != 0x17 || !zero_from(q, 16 + len)) continue;
        if (z.size() < 32 + 80 + len + 80) continue;
        if (field(z, 0, 32) != 0x425A6839 || field(z, 32, 48) != 0x314159265359ull || field(z, 80, 32) != crc)
            continue;
        if (!std::equal(q.begin() + 8, q.begin() + 8 + len, z.begin() + 112)) continue;
        size_t end = 112 + len;
        if (field(z, end, 48) != 0x177245385090ull || field(z, end + 48, 32) != crc || !zero_from(z, end + 80))
            continue;
        matches++;
        body.assign(q.begin() + 8, q.begin() + 8 + len);
    }
    EXPECT_EQ(matches, 1) << "one-block streams in the two framings do not match";
    return body;
}

// --- round trips through the bzip2 library and the stub's decoder ----------

struct Input {
    const char* name;
    std::function<Bytes()> make;
    size_t blocks;  // blocks the input must take (0: do not check)
};

void PrintTo(const Input& input, std::ostream* os) { *os << input.name; }

Bytes boundary_run(size_t prefix, size_t run, uint8_t c) {
    // `prefix` runless bytes (none equal to c at the end), then the run, then
    // a runless tail: the run meets the end of the first block.
    Bytes p = runless_bytes(prefix, 7);
    if (!p.empty() && p.back() == c) p.back() ^= 0x80;
    Bytes tail = runless_bytes(5000, 8);
    if (tail[0] == c) tail[0] ^= 0x80;
    return concat({p, repeat(run, c), tail});
}

const std::vector<Input>& round_trip_inputs() {
    static const std::vector<Input> inputs = {
        {"empty", [] { return Bytes(); }, 0},
        {"one_byte", [] { return Bytes{0x42}; }, 1},
        {"run_3", [] { return repeat(3, 'a'); }, 1},
        {"run_4", [] { return repeat(4, 'a'); }, 1},
        {"run_5", [] { return repeat(5, 'a'); }, 1},
        {"run_255", [] { return repeat(255, 'a'); }, 1},
        {"run_256", [] { return repeat(256, 'a'); }, 1},
        {"run_259", [] { return repeat(259, 'a'); }, 1},
        {"run_260", [] { return repeat(260, 'a'); }, 1},
        {"runs_between_literals",
         [] { return concat({Bytes{'x'}, repeat(4, 'a'), Bytes{'y'}, repeat(259, 'b'), Bytes{'b' + 1}}); }, 1},
        // 255 copies of 251 code as five bytes 251: a block of one byte value.
        {"run_of_count_value", [] { return repeat(255 * 40, 251); }, 1},
        {"all_byte_values", [] { return all_byte_values(1); }, 1},
        {"all_byte_values_in_runs", [] { return all_byte_values(300); }, 1},
        {"zeros_3mb", [] { return repeat(3 << 20, 0); }, 1},
        // 3 MB of zeros code to 61 KB; 180000 coded pieces of 5 bytes fill
        // a block, so this takes two blocks of one byte value.
        {"zeros_over_two_blocks", [] { return repeat(255 * 180000 + 1000, 0); }, 2},
        {"period_2", [] { return periodic(2000000, "ab"); }, 3},
        {"period_7", [] { return periodic(1000000, "quillma"); }, 2},
        {"long_repeat", [] { Bytes r = random_bytes(70000, 3); return concat({r, r, r, r, r, r}); }, 1},
        {"random_one_full_block", [] { return runless_bytes(kBlockCapacity, 1); }, 1},
        {"random_just_over_a_block", [] { return runless_bytes(kBlockCapacity + 1, 2); }, 2},
        {"random_with_runs", [] { return random_bytes(1500000, 4); }, 2},
        {"boundary_4_before_run_300", [] { return boundary_run(kBlockCapacity - 4, 300, 'r'); }, 2},
        {"boundary_2_before_run_3", [] { return boundary_run(kBlockCapacity - 2, 3, 'r'); }, 2},
        {"boundary_5_before_run_4", [] { return boundary_run(kBlockCapacity - 5, 4, 'r'); }, 2},
        {"boundary_at_run_255", [] { return boundary_run(kBlockCapacity - 3, 255, 'r'); }, 2},
        // The first 255 of the run fill the block; the rest starts the next.
        {"boundary_5_before_run_300", [] { return boundary_run(kBlockCapacity - 5, 300, 'r'); }, 2},
        // 255 coded as 5 bytes, one more copy fits, the last two go on.
        {"boundary_6_before_run_258", [] { return boundary_run(kBlockCapacity - 6, 258, 'r'); }, 2},
        {"license_text", [] { return read_prefix("/usr/share/common-licenses/GPL-3", 1 << 20); }, 0},
        {"binary_ls", [] { return read_prefix("/usr/bin/ls", 1 << 20); }, 0},
        {"binary_cmake_prefix", [] { return read_prefix("/usr/bin/cmake", 2500000); }, 0},
    };
    return inputs;
}

class RoundTrip : public ::testing::TestWithParam<Input> {};

TEST_P(RoundTrip, Bzip2LibraryDecodesOurStream) {
    const Input& input = GetParam();
    Bytes data = input.make();
    if (data.empty() && std::string(input.name).rfind("empty", 0) != 0)
        GTEST_SKIP() << "input file absent on this machine";
    if (input.blocks) {
        EXPECT_EQ(split_blocks(data.data(), data.size()).size(), input.blocks);
    }
    Bytes stream = compress_stream(data.data(), data.size(), Framing::bzip2);
    Bytes decoded;
    ASSERT_TRUE(bzip2_decode(stream, decoded));
    ASSERT_EQ(decoded.size(), data.size());
    EXPECT_TRUE(decoded == data);
}

// Decodes one of our streams with the stub's decoder, offering the input in
// chunks of `chunk` bytes and taking the output in windows of `window` bytes.
bool quillmar_decode(const Bytes& stream, size_t chunk, size_t window, Bytes& out) {
    DecoderStream ds{};
    int rc = decoder_init(&ds);
    if (rc != DEC_OK) {
        decoder_end(&ds);
        return false;
    }
    Bytes buffer(window);
    size_t fed = 0;
    out.clear();
    for (;;) {
        if (ds.input_left == 0 && fed < stream.size()) {
            size_t n = std::min(chunk, stream.size() - fed);
            ds.next_input = stream.data() + fed;
            ds.input_left = (uint32_t)n;
            fed += n;
        }
        ds.next_output = buffer.data();
        ds.output_left = (uint32_t)window;
        rc = decoder_decompress(&ds);
        size_t produced = (size_t)(ds.next_output - buffer.data());
        out.insert(out.end(), buffer.data(), buffer.data() + produced);
        if (rc != DEC_OK) break;
        if (produced == 0 && ds.input_left == 0 && fed == stream.size()) break;  // truncated stream
    }
    bool all_read = fed == stream.size() && ds.input_left == 0;
    decoder_end(&ds);
    return rc == DEC_STREAM_END && all_read;
}

TEST_P(RoundTrip, StubDecoderDecodesOurStream) {
    const Input& input = GetParam();
    Bytes data = input.make();
    if (data.empty() && std::string(input.name).rfind("empty", 0) != 0)
        GTEST_SKIP() << "input file absent on this machine";
    Bytes stream = compress_stream(data.data(), data.size());
    // The reader's chunk and window sizes, odd small ones, and byte by byte
    // for small inputs.
    struct Windows {
        size_t chunk, window;
        size_t max_input;  // larger inputs take too many calls
    } windows[] = {{16384, 32768, SIZE_MAX}, {7, 3, 2000000}, {1, 1, 5000}};
    for (const Windows& w : windows) {
        if (data.size() > w.max_input) continue;
        Bytes decoded;
        ASSERT_TRUE(quillmar_decode(stream, w.chunk, w.window, decoded)) << "chunk " << w.chunk;
        ASSERT_EQ(decoded.size(), data.size()) << "chunk " << w.chunk;
        EXPECT_TRUE(decoded == data) << "chunk " << w.chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTrip, ::testing::ValuesIn(round_trip_inputs()),
                         [](const ::testing::TestParamInfo<Input>& info) { return std::string(info.param.name); });

// --- initial run-length coding and block splitting -----------------------

TEST(RunLengthCode, CodesRunsOfFourTo255AsFourBytesAndACount) {
    struct Case {
        size_t run;
        Bytes coded;
    } cases[] = {
        {1, {'a'}},
        {3, {'a', 'a', 'a'}},
        {4, {'a', 'a', 'a', 'a', 0}},
        {5, {'a', 'a', 'a', 'a', 1}},
        {255, {'a', 'a', 'a', 'a', 251}},
        {256, {'a', 'a', 'a', 'a', 251, 'a'}},
        {258, {'a', 'a', 'a', 'a', 251, 'a', 'a', 'a'}},
        {259, {'a', 'a', 'a', 'a', 251, 'a', 'a', 'a', 'a', 0}},
        {515, {'a', 'a', 'a', 'a', 251, 'a', 'a', 'a', 'a', 251, 'a', 'a', 'a', 'a', 1}},
    };
    for (const Case& c : cases) {
        Bytes data = repeat(c.run, 'a');
        EXPECT_EQ(run_length_code(data.data(), data.size()), c.coded) << "run of " << c.run;
    }
}

TEST(SplitBlocks, PiecesFillEachBlockAndNeverSplitACodedRun) {
    // Mixed runs of every length around the coding thresholds.
    Bytes data;
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; i++) {
        static const size_t lengths[] = {1, 2, 3, 4, 5, 254, 255, 256, 259, 300, 520};
        size_t len = lengths[rng() % 11];
        uint8_t c = data.empty() ? 0 : (uint8_t)(data.back() + 1 + rng() % 200);
        data.insert(data.end(), len, c);
    }
    for (size_t capacity : {5, 6, 7, 8, 9, 10, 64, 1000, 65536}) {
        std::vector<size_t> pieces = split_blocks(data.data(), data.size(), capacity);
        ASSERT_EQ(std::accumulate(pieces.begin(), pieces.end(), size_t(0)), data.size());
        Bytes rebuilt;
        size_t at = 0;
        for (size_t k = 0; k < pieces.size(); k++) {
            ASSERT_GT(pieces[k], 0u);
            Bytes coded = run_length_code(data.data() + at, pieces[k]);
            ASSERT_LE(coded.size(), capacity) << "capacity " << capacity << " piece " << k;
            // Only a 5-byte coded run that did not fit may leave room unused.
            if (k + 1 < pieces.size()) {
                ASSERT_GE(coded.size() + 4, capacity) << "piece " << k;
            }
            Bytes decoded = run_length_decode(coded);
            ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), data.begin() + at))
                << "capacity " << capacity << " piece " << k;
            rebuilt.insert(rebuilt.end(), decoded.begin(), decoded.end());
            at += pieces[k];
        }
        EXPECT_TRUE(rebuilt == data) << "capacity " << capacity;
    }
}

// --- block CRC -------------------------------------------------------------

TEST(BlockCrc, MatchesTheStandardCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(block_crc((const uint8_t*)text, 9), 0xFC891918u);  // CRC-32/BZIP2 check value
    EXPECT_EQ(block_crc(nullptr, 0), 0u);
}

// --- block sorting -----------------------------------------------------------

// Naive reference: sort all rotations by comparing them byte by byte.
void naive_sort(const Bytes& b, Bytes& last, std::vector<size_t>& rows) {
    size_t n = b.size();
    rows.resize(n);
    std::iota(rows.begin(), rows.end(), 0);
    std::stable_sort(rows.begin(), rows.end(), [&](size_t x, size_t y) {
        for (size_t k = 0; k < n; k++) {
            uint8_t a = b[(x + k) % n], c = b[(y + k) % n];
            if (a != c) return a < c;
        }
        return false;
    });
    last.resize(n);
    for (size_t r = 0; r < n; r++) last[r] = b[(rows[r] + n - 1) % n];
}

TEST(BlockSort, SortsCyclicRotationsLikeTheNaiveReference) {
    std::vector<Bytes> blocks;
    for (const char* s : {"a", "ab", "ba", "aaaa", "abab", "banana", "abracadabra", "zyxzyxzyx", "aab", "baa",
                          "mississippi", "abcabcabd"})
        blocks.emplace_back(s, s + std::strlen(s));
    std::mt19937 rng(5);
    for (int i = 0; i < 300; i++) {
        size_t n = 1 + rng() % 200;
        unsigned alphabet = 1 + rng() % (i % 3 == 0 ? 2 : 6);
        Bytes b(n);
        for (auto& x : b) x = (uint8_t)('a' + rng() % alphabet);
        if (i % 5 == 0) {  // a periodic block
            size_t period = 1 + rng() % 5;
            for (size_t k = period; k < n; k++) b[k] = b[k - period];
        }
        blocks.push_back(b);
    }
    blocks.push_back(all_byte_values(1));
    for (const Bytes& b : blocks) {
        Bytes expected, last(b.size());
        std::vector<size_t> rows;
        naive_sort(b, expected, rows);
        uint32_t origin = block_sort(b.data(), b.size(), last.data());
        std::string label(b.begin(), b.end());
        ASSERT_TRUE(last == expected) << label;
        ASSERT_LT(origin, b.size()) << label;
        // The origin row must hold the unrotated block (an equal rotation
        // of a periodic block is as good).
        for (size_t k = 0; k < b.size(); k++)
            ASSERT_EQ(b[(rows[origin] + k) % b.size()], b[k]) << label;
    }
}

// Inverse transform through the last column alone: from the origin row,
// each step goes to the row of the rotation that starts one byte earlier.
Bytes inverse_block_sort(const Bytes& last, uint32_t origin) {
    size_t n = last.size();
    std::vector<size_t> first_row(257, 0), rank(n);
    std::vector<size_t> seen(256, 0);
    for (size_t r = 0; r < n; r++) rank[r] = seen[last[r]]++;
    for (int c = 0; c < 256; c++) first_row[c + 1] = first_row[c] + seen[c];
    Bytes out(n);
    size_t row = origin;
    for (size_t i = n; i-- > 0;) {
        out[i] = last[row];
        row = first_row[last[row]] + rank[row];
    }
    return out;
}

TEST(BlockSort, RepetitiveFullBlocks) {
    // Linear time whatever the repetition (a comparison sort of rotations
    // would take hours here), and the transform must still invert.
    Bytes r = random_bytes(1000, 6);
    Bytes long_repeats;
    while (long_repeats.size() + r.size() <= kBlockCapacity - 1) long_repeats.insert(long_repeats.end(), r.begin(), r.end());
    long_repeats.push_back('!');  // not a whole number of periods
    struct Case {
        const char* name;
        Bytes block;
        const char* period;  // distinct letters: the transform is known, else null
    } cases[] = {
        {"all_equal", repeat(kBlockCapacity, 'x'), "x"},
        {"period_2", periodic(kBlockCapacity, "ab"), "ab"},
        {"period_10", periodic(kBlockCapacity, "cdefghijab"), "cdefghijab"},
        {"long_repeats", long_repeats, nullptr},
        {"almost_periodic", [] { Bytes b = periodic(kBlockCapacity, "ab"); b[12345] = 'a'; return b; }(), nullptr},
    };
    for (const Case& c : cases) {
        Bytes last(c.block.size());
        uint32_t origin = block_sort(c.block.data(), c.block.size(), last.data());
        ASSERT_LT(origin, c.block.size()) << c.name;
        if (c.period) {
            // Rows come in groups of equal rotations, one group per letter in
            // sorted order, each ending in the letter before it in the period.
            std::string u = c.period, sorted = u;
            std::sort(sorted.begin(), sorted.end());
            size_t copies = c.block.size() / u.size();
            Bytes expected;
            for (char letter : sorted) {
                size_t at = u.find(letter);
                expected.insert(expected.end(), copies, (uint8_t)u[(at + u.size() - 1) % u.size()]);
            }
            EXPECT_TRUE(last == expected) << c.name;
        }
        EXPECT_TRUE(inverse_block_sort(last, origin) == c.block) << c.name;
    }
}

// --- Huffman code lengths ---------------------------------------------------

// Cost of an unrestricted optimal (Huffman) code, as the reference.
uint64_t huffman_cost(const std::vector<uint32_t>& w) {
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> q;
    for (uint32_t x : w) q.push(std::max<uint32_t>(x, 1));
    uint64_t cost = 0;
    while (q.size() > 1) {
        uint64_t a = q.top();
        q.pop();
        uint64_t b = q.top();
        q.pop();
        cost += a + b;
        q.push(a + b);
    }
    return cost;
}

unsigned huffman_depth(const std::vector<uint32_t>& w) {
    using Item = std::pair<uint64_t, unsigned>;
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
    for (uint32_t x : w) q.push({std::max<uint32_t>(x, 1), 0});
    while (q.size() > 1) {
        Item a = q.top();
        q.pop();
        Item b = q.top();
        q.pop();
        q.push({a.first + b.first, std::max(a.second, b.second) + 1});
    }
    return q.top().second;
}

struct LengthCheck {
    unsigned longest = 0;
    double kraft = 0;
    uint64_t cost = 0;
};

LengthCheck check_lengths(const std::vector<uint32_t>& w, const std::vector<uint8_t>& len) {
    LengthCheck c;
    for (size_t i = 0; i < w.size(); i++) {
        EXPECT_GE(len[i], 1) << "symbol " << i;
        c.longest = std::max<unsigned>(c.longest, len[i]);
        c.kraft += std::ldexp(1.0, -len[i]);
        c.cost += (uint64_t)std::max<uint32_t>(w[i], 1) * len[i];
    }
    return c;
}

TEST(CodeLengths, SkewedWeightsStayWithinTheCapAndFormACompleteCode) {
    std::vector<uint32_t> fib = {1, 1};
    while (fib.size() < 45) fib.push_back(fib[fib.size() - 1] + fib[fib.size() - 2]);
    // A few frequent symbols over many rare and unused ones.
    std::vector<uint32_t> steep(258, 0);
    for (size_t i = 0; i < 32; i++) steep[i] = 1u << (31 - i);
    struct Case {
        const char* name;
        std::vector<uint32_t> weights;
        unsigned cap;
    } cases[] = {
        {"fibonacci", fib, 17}, {"fibonacci", fib, 20}, {"fibonacci", fib, 6}, {"steep", steep, 17},
        {"fibonacci_258", [] {
             std::vector<uint32_t> w(258);
             uint64_t a = 1, b = 1;
             for (auto& x : w) {
                 x = (uint32_t)std::min<uint64_t>(a, 0xFFFFFFFFu);
                 uint64_t c = std::min<uint64_t>(a + b, 1ull << 40);
                 a = b;
                 b = c;
             }
             return w;
         }(), 17},
    };
    for (const Case& c : cases) {
        ASSERT_GT(huffman_depth(c.weights), c.cap) << c.name << ": the unlimited code must exceed the cap";
        std::vector<uint8_t> len(c.weights.size(), 0);
        ASSERT_TRUE(build_code_lengths(c.weights.data(), c.weights.size(), c.cap, len.data())) << c.name;
        LengthCheck got = check_lengths(c.weights, len);
        EXPECT_LE(got.longest, c.cap) << c.name;
        EXPECT_EQ(got.kraft, 1.0) << c.name;
        EXPECT_GE(got.cost, huffman_cost(c.weights)) << c.name;
    }
}

TEST(CodeLengths, OptimalWhenTheCapDoesNotBind) {
    std::mt19937 rng(9);
    for (int i = 0; i < 200; i++) {
        size_t n = 2 + rng() % 257;
        std::vector<uint32_t> w(n);
        for (auto& x : w) x = (i % 4 == 0) ? rng() % 3 : rng() % 100000;
        if (huffman_depth(w) > 17) continue;
        std::vector<uint8_t> len(n);
        ASSERT_TRUE(build_code_lengths(w.data(), n, 17, len.data()));
        LengthCheck got = check_lengths(w, len);
        EXPECT_EQ(got.cost, huffman_cost(w)) << "case " << i;
        EXPECT_EQ(got.kraft, 1.0) << "case " << i;
    }
}

TEST(CodeLengths, RejectsAlphabetsNoCodeCanHold) {
    std::vector<uint32_t> w(9, 1);
    std::vector<uint8_t> len(9, 0);
    EXPECT_FALSE(build_code_lengths(w.data(), 9, 3, len.data()));  // 9 codes > 2^3
    EXPECT_FALSE(build_code_lengths(w.data(), 1, 17, len.data()));
    EXPECT_TRUE(build_code_lengths(w.data(), 8, 3, len.data()));
    for (int i = 0; i < 8; i++) EXPECT_EQ(len[i], 3) << "symbol " << i;
}

TEST(CanonicalCodes, ShorterCodesFirstThenSymbolOrder) {
    const uint8_t lengths[] = {2, 1, 4, 3, 4};
    uint32_t codes[5];
    assign_canonical_codes(lengths, 5, codes);
    const uint32_t expected[] = {0b10, 0b0, 0b1110, 0b110, 0b1111};
    for (int i = 0; i < 5; i++) EXPECT_EQ(codes[i], expected[i]) << "symbol " << i;
}

// --- framing ---------------------------------------------------------------

TEST(QuillmarFraming, EmptyInputIsTheEndMarkerAlone) {
    EXPECT_EQ(compress_stream(nullptr, 0), Bytes{0x17});
    Bytes bz = compress_stream(nullptr, 0, Framing::bzip2);
    Bytes decoded;
    EXPECT_TRUE(bzip2_decode(bz, decoded));
    EXPECT_TRUE(decoded.empty());
}

TEST(QuillmarFraming, IsTheBzip2FramingWithoutHeaderMagicsAndCrcs) {
    // Several blocks, one of them ending inside a run; each block's body is
    // taken from the one-block streams of its piece in both framings.
    Bytes data = concat({boundary_run(kBlockCapacity - 2, 3, 'q'), periodic(300000, "xyz"), repeat(1000, 9)});
    std::vector<size_t> pieces = split_blocks(data.data(), data.size());
    ASSERT_EQ(pieces.size(), 2u);

    Bits quill, bz;
    bz.put(32, 0x425A6839);
    uint32_t combined = 0;
    size_t at = 0;
    for (size_t p : pieces) {
        Bytes piece(data.begin() + at, data.begin() + at + p);
        at += p;
        std::vector<bool> body = block_body(piece);
        ASSERT_FALSE(body.empty());
        quill.put(8, 0x31);
        quill.put_bits(body, 0, body.size());
        uint32_t crc = block_crc(piece.data(), piece.size());
        bz.put(48, 0x314159265359ull);
        bz.put(32, crc);
        bz.put_bits(body, 0, body.size());
        combined = ((combined << 1) | (combined >> 31)) ^ crc;
    }
    quill.put(8, 0x17);
    bz.put(48, 0x177245385090ull);
    bz.put(32, combined);

    Bytes ours = compress_stream(data.data(), data.size());
    EXPECT_EQ(ours[0], 0x31);
    EXPECT_TRUE(ours == quill.bytes());
    EXPECT_TRUE(compress_stream(data.data(), data.size(), Framing::bzip2) == bz.bytes());
}

TEST(QuillmarFraming, BlockHeaderFields) {
    // One block of "banana": never randomised, origin pointer of the sorted
    // rotations (abanan, anaban, ananab, banana, nabana, nanaba: row 3),
    // byte values a, b, n in group 6.
    const char* text = "banana";
    std::vector<bool> q = to_bits(compress_stream((const uint8_t*)text, 6));
    EXPECT_EQ(field(q, 0, 8), 0x31u);
    EXPECT_EQ(field(q, 8, 1), 0u);
    EXPECT_EQ(field(q, 9, 24), 3u);
    EXPECT_EQ(field(q, 33, 16), 0x0200u);  // group 6 only
    EXPECT_EQ(field(q, 49, 16), (0x8000u >> 1) | (0x8000u >> 2) | (0x8000u >> 14));
    EXPECT_EQ(field(q, 65, 3), 2u);   // two tables for a tiny block
    EXPECT_EQ(field(q, 68, 15), 1u);  // one group of symbols
}

// --- threads -----------------------------------------------------------------

TEST(Compressor, OutputDoesNotDependOnTheThreadCount) {
    Bytes data = concat({random_bytes(700000, 21), periodic(900000, "abc"), read_prefix("/usr/bin/ls", 1 << 20),
                         repeat(200000, 0), random_bytes(400000, 22)});
    ASSERT_GE(split_blocks(data.data(), data.size()).size(), 3u);
    for (Framing f : {Framing::quillmar, Framing::bzip2}) {
        Bytes one = compress_stream(data.data(), data.size(), f, 1);
        EXPECT_TRUE(compress_stream(data.data(), data.size(), f, 4) == one);
        EXPECT_TRUE(compress_stream(data.data(), data.size(), f, 0) == one);
    }
}

TEST(Compressor, ReportsProgressPerBlockWithoutChangingTheOutput) {
    Bytes data = concat({random_bytes(700000, 23), periodic(900000, "xyz"), random_bytes(500000, 24)});
    const size_t blocks = split_blocks(data.data(), data.size()).size();
    ASSERT_GE(blocks, 3u);
    Bytes plain = compress_stream(data.data(), data.size(), Framing::quillmar, 1);
    for (unsigned threads : {1u, 3u}) {
        std::vector<size_t> seen;
        Bytes reported = compress_stream(data.data(), data.size(), Framing::quillmar, threads,
                                         [&](size_t done, size_t total) {
                                             EXPECT_EQ(total, data.size());
                                             seen.push_back(done);
                                         });
        EXPECT_TRUE(reported == plain) << threads << " threads";
        ASSERT_EQ(seen.size(), blocks) << threads << " threads";
        for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
        EXPECT_EQ(seen.back(), data.size());
    }
}

}  // namespace
}  // namespace quillmar
