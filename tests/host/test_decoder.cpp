// Stream decoder tests. The bzip2 library is the independent encoder for real
// data; small blocks are crafted bit by bit with a tiny encoder written here
// (forward transform by sorting rotations, move-to-front, zero runs,
// canonical codes), and expected outputs come from reference code in this
// file, never from the decoder itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/host/bz2_reference.h"
#include "tests/host/decoder_alloc_seam.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------
// Driving the decoder

struct Decoded {
    int code = DEC_OK;
    Bytes out;
    size_t consumed = 0;
    int calls = 0;
};

// Feeds the input in pieces of at most in_piece bytes and takes the output in
// windows of at most out_window bytes (sizes drawn at random from 1..max when
// a seed is given). Stops at the first result other than DEC_OK, or with
// DEC_OK when all input is consumed and the decoder wants more.
// When `pending` is given, it collects the state numbers that calls ended in.
Decoded decode(const Bytes& in, size_t in_piece = SIZE_MAX, size_t out_window = 1 << 16, uint32_t seed = 0,
               std::set<int>* pending = nullptr, size_t max_out = (size_t)1 << 26) {
    Decoded d;
    DecoderStream strm{};
    if (decoder_init(&strm) != DEC_OK) {
        d.code = DEC_MEM_ERROR;
        decoder_end(&strm);
        return d;
    }
    std::mt19937 rng(seed);
    auto pick = [&](size_t max) -> size_t { return (seed == 0 || max <= 1) ? max : 1 + rng() % max; };
    Bytes window(out_window);
    size_t pos = 0;
    for (;;) {
        const size_t piece = std::min(pick(in_piece), in.size() - pos);
        const size_t win = pick(out_window);
        strm.next_input = in.data() + pos;
        strm.input_left = (uint32_t)piece;
        strm.next_output = window.data();
        strm.output_left = (uint32_t)win;
        const int rc = decoder_decompress(&strm);
        d.calls++;
        if (pending) pending->insert(strm.state->state_no);
        const size_t used = (size_t)(strm.next_input - (in.data() + pos));
        const size_t produced = (size_t)(strm.next_output - window.data());
        EXPECT_EQ(used + strm.input_left, piece);
        EXPECT_EQ(produced + strm.output_left, win);
        d.out.insert(d.out.end(), window.begin(), window.begin() + (ptrdiff_t)produced);
        pos += used;
        if (rc != DEC_OK) {
            d.code = rc;
            break;
        }
        if (produced < win && used < piece) {
            ADD_FAILURE() << "DEC_OK with input left and room in the window";
            break;
        }
        if (produced < win && pos == in.size()) break;  // wants more input
        if (d.out.size() > max_out) {
            ADD_FAILURE() << "output without end";
            break;
        }
    }
    d.consumed = pos;
    decoder_end(&strm);
    return d;
}

// ---------------------------------------------------------------------------
// Reference coding, written independently of the decoder

// The initial run-length coding as the bzip2 encoder applies it: runs of 4 to
// 255 equal bytes become four bytes and a count of the rest; longer runs are
// cut at 255.
Bytes rle1_encode(const Bytes& data) {
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t j = i;
        while (j < data.size() && data[j] == data[i] && j - i < 255) j++;
        const size_t run = j - i;
        if (run < 4) {
            out.insert(out.end(), run, data[i]);
        } else {
            out.insert(out.end(), 4, data[i]);
            out.push_back((uint8_t)(run - 4));
        }
        i = j;
    }
    return out;
}

// Undoes it; false for four equal bytes at the very end with no count.
bool rle1_decode(const Bytes& r, Bytes* out) {
    out->clear();
    size_t i = 0;
    while (i < r.size()) {
        size_t j = i;
        while (j < r.size() && j - i < 4 && r[j] == r[i]) j++;
        out->insert(out->end(), r.begin() + (ptrdiff_t)i, r.begin() + (ptrdiff_t)j);
        if (j - i == 4) {
            if (j == r.size()) return false;
            out->insert(out->end(), r[j], r[i]);
            j++;
        }
        i = j;
    }
    return true;
}

// Forward transform of a small block by sorting its rotations.
Bytes forward_transform(const Bytes& s, uint32_t* origin) {
    const size_t n = s.size();
    std::vector<size_t> rot(n);
    std::iota(rot.begin(), rot.end(), 0);
    std::sort(rot.begin(), rot.end(), [&](size_t a, size_t b) {
        for (size_t k = 0; k < n; k++) {
            const uint8_t x = s[(a + k) % n], y = s[(b + k) % n];
            if (x != y) return x < y;
        }
        return a < b;
    });
    Bytes last(n);
    for (size_t r = 0; r < n; r++) {
        last[r] = s[(rot[r] + n - 1) % n];
        if (rot[r] == 0) *origin = (uint32_t)r;
    }
    return last;
}

// Inverse transform of any last column: a stable sort of its positions by
// byte gives each row's successor; the walk starts at the origin's row.
Bytes inverse_transform(const Bytes& last, uint32_t origin) {
    std::vector<uint32_t> next(last.size());
    std::iota(next.begin(), next.end(), 0u);
    std::stable_sort(next.begin(), next.end(), [&](uint32_t a, uint32_t b) { return last[a] < last[b]; });
    Bytes out;
    uint32_t p = next[origin];
    for (size_t k = 0; k < last.size(); k++) {
        out.push_back(last[p]);
        p = next[p];
    }
    return out;
}

// Zero-run digits (0 = run-A, 1 = run-B) of a run of n, least weight first.
std::vector<int> run_digits(uint64_t n) {
    std::vector<int> d;
    while (n > 0) {
        if (n & 1) {
            d.push_back(0);
            n = (n - 1) / 2;
        } else {
            d.push_back(1);
            n = (n - 2) / 2;
        }
    }
    return d;
}

// Move-to-front and zero runs of a transformed block over its used bytes.
std::vector<int> symbols_of(const Bytes& last, const std::vector<int>& used) {
    std::vector<int> list(used.size());
    std::iota(list.begin(), list.end(), 0);
    std::vector<int> sym;
    uint64_t zeros = 0;
    auto flush = [&] {
        for (int d : run_digits(zeros)) sym.push_back(d);
        zeros = 0;
    };
    for (uint8_t b : last) {
        const int idx = (int)(std::find(used.begin(), used.end(), b) - used.begin());
        const int pos = (int)(std::find(list.begin(), list.end(), idx) - list.begin());
        if (pos == 0) {
            zeros++;
            continue;
        }
        flush();
        sym.push_back(pos + 1);
        list.erase(list.begin() + pos);
        list.insert(list.begin(), idx);
    }
    flush();
    sym.push_back((int)used.size() + 1);
    return sym;
}

// ---------------------------------------------------------------------------
// Crafted blocks

struct Crafted {
    int randomised = 0;
    uint32_t origin = 0;
    std::vector<int> used;              // byte values in use, ascending
    bool raw_map = false;               // write group_map/byte_maps as given
    uint16_t group_map = 0;
    std::vector<uint16_t> byte_maps;
    int tables = 2;
    int selector_count = -1;            // -1: as many groups as the symbols need
    std::vector<int> selectors;         // move-to-front indices as written; missing ones are 0
    std::vector<std::vector<int>> lengths;  // per table; empty: a complete code
    int start_length = -1;              // >= 0: written instead of the first length
    std::vector<int> symbols;           // data symbols, end of block included
    std::vector<int> extra_bits;        // raw bits after the symbols
};

std::vector<int> complete_code(int alpha) {
    int m = 1;
    while ((1 << m) < alpha) m++;
    const int shorter = (1 << m) - alpha;
    std::vector<int> len(alpha, m);
    for (int i = 0; i < shorter; i++) len[i] = m - 1;
    return len;
}

void write_block(BitWriter& w, const Crafted& b) {
    w.put_bit(b.randomised);
    w.put(b.origin, 24);
    if (b.raw_map) {
        w.put(b.group_map, 16);
        for (uint16_t m : b.byte_maps) w.put(m, 16);
    } else {
        uint16_t groups = 0;
        uint16_t maps[16] = {};
        for (int v : b.used) {
            groups |= (uint16_t)(0x8000u >> (v / 16));
            maps[v / 16] |= (uint16_t)(0x8000u >> (v % 16));
        }
        w.put(groups, 16);
        for (int i = 0; i < 16; i++)
            if (groups & (0x8000u >> i)) w.put(maps[i], 16);
    }
    const int alpha = (int)b.used.size() + 2;
    w.put((uint32_t)b.tables, 3);
    const int needed = std::max<int>(1, ((int)b.symbols.size() + 49) / 50);
    const int count = b.selector_count >= 0 ? b.selector_count : needed;
    w.put((uint32_t)count, 15);
    std::vector<int> mtf(std::max(b.tables, 1));
    std::iota(mtf.begin(), mtf.end(), 0);
    std::vector<int> table_of;
    for (int g = 0; g < count; g++) {
        const int v = g < (int)b.selectors.size() ? b.selectors[g] : 0;
        for (int k = 0; k < v; k++) w.put_bit(1);
        w.put_bit(0);
        if (v < (int)mtf.size()) {
            const int t = mtf[v];
            mtf.erase(mtf.begin() + v);
            mtf.insert(mtf.begin(), t);
            table_of.push_back(t);
        }
    }
    // At least one table of lengths, so that even a block with a bad table
    // count can be written in full.
    const int kept_tables = std::max(b.tables, 1);
    std::vector<std::vector<int>> lengths = b.lengths;
    while ((int)lengths.size() < kept_tables) lengths.push_back(complete_code(alpha));
    for (int t = 0; t < b.tables; t++) {
        int cur = (t == 0 && b.start_length >= 0) ? b.start_length : lengths[t][0];
        w.put((uint32_t)cur, 5);
        for (int s = 0; s < alpha; s++) {
            while (cur < lengths[t][s]) {
                w.put(2, 2);
                cur++;
            }
            while (cur > lengths[t][s]) {
                w.put(3, 2);
                cur--;
            }
            w.put_bit(0);
        }
    }
    // Canonical codes: increasing length, then increasing symbol.
    std::vector<std::vector<uint32_t>> codes(kept_tables, std::vector<uint32_t>(alpha));
    for (int t = 0; t < kept_tables; t++) {
        uint32_t code = 0;
        for (int L = 1; L <= 20; L++) {
            for (int s = 0; s < alpha; s++)
                if (lengths[t][s] == L) codes[t][s] = code++;
            code <<= 1;
        }
    }
    for (size_t k = 0; k < b.symbols.size(); k++) {
        const size_t g = k / 50;
        const int t = g < table_of.size() && table_of[g] < kept_tables ? table_of[g] : 0;
        const int s = b.symbols[k];
        w.put(codes[t][s], lengths[t][s]);
    }
    for (int bit : b.extra_bits) w.put_bit(bit);
}

Bytes stream_of(const std::vector<Crafted>& blocks, int end_marker = 0x17) {
    BitWriter w;
    for (const Crafted& b : blocks) {
        w.put_byte(0x31);
        write_block(w, b);
    }
    w.put_byte((uint32_t)end_marker);
    return w.bytes();
}

std::vector<int> used_of(const Bytes& s) {
    std::vector<int> used;
    for (int v = 0; v < 256; v++)
        if (std::find(s.begin(), s.end(), (uint8_t)v) != s.end()) used.push_back(v);
    return used;
}

// A block whose inverse transform gives exactly these run-length-coded bytes.
Crafted block_of(const Bytes& rle1) {
    Crafted b;
    b.used = used_of(rle1);
    const Bytes last = forward_transform(rle1, &b.origin);
    b.symbols = symbols_of(last, b.used);
    return b;
}

// What the decoder must give for a block with these entries.
Bytes expected_of(const Bytes& entries, uint32_t origin, bool* clean) {
    Bytes out;
    *clean = rle1_decode(inverse_transform(entries, origin), &out);
    return out;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---------------------------------------------------------------------------
// Real data

// A deterministic corpus of text, binaries and synthetic extremes; files that
// are missing are skipped, the synthetic part is always there.
const Bytes& corpus() {
    static const Bytes data = [] {
        Bytes out;
        auto add = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
        add(read_file_prefix({"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2"}, 60000));
        add(read_file_prefix({"/usr/include/stdio.h", "/usr/include/stdlib.h"}, 40000));
        add(read_file_prefix({"/usr/bin/cmake", "/usr/bin/bash", "/bin/sh"}, 250000));
        add(read_file_prefix({"/usr/bin/ls", "/bin/ls"}, 80000));
        // Runs of every length from 1 to 300, alternating bytes.
        for (int len = 1; len <= 300; len++) out.insert(out.end(), (size_t)len, (uint8_t)("abcdefg"[len % 7]));
        out.insert(out.end(), 100000, 0);  // a long run
        std::mt19937 rng(7);
        for (int i = 0; i < 40000; i++) out.push_back((uint8_t)rng());  // every byte value, no structure
        for (int i = 0; i < 20000; i++) out.push_back((uint8_t)("ab"[rng() % 2]));
        return out;
    }();
    return data;
}

// ---------------------------------------------------------------------------
// Tests against the bzip2 library

TEST(DecoderReference, EveryLevelDecodesToTheData) {
    const Bytes& data = corpus();
    for (int level = 1; level <= 9; level++) {
        const Bytes stream = reference_stream(data.data(), data.size(), level);
        const Decoded d = decode(stream, SIZE_MAX, 1 << 20);
        EXPECT_EQ(d.code, DEC_STREAM_END) << "level " << level;
        EXPECT_EQ(d.consumed, stream.size()) << "level " << level;
        EXPECT_TRUE(d.out == data) << "level " << level << ": " << d.out.size() << " bytes, want " << data.size();
    }
}

TEST(DecoderReference, StandardStreamSplitIntoBlocksDecodes) {
    // A multi-block standard stream converted as a whole (the benchmark's path).
    const Bytes& data = corpus();
    std::string error;
    const std::vector<BlockBits> blocks = standard_blocks(standard_stream(data.data(), data.size(), 2), &error);
    ASSERT_GT(blocks.size(), 2u) << error;
    const Decoded d = decode(frame_blocks(blocks));
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_TRUE(d.out == data);
}

TEST(DecoderReference, RunsWithCountZeroAndMaximum) {
    // Runs of 4 and of 259 equal bytes: the encoder writes counts 0 and 255.
    Bytes data = bytes_of("start");
    data.insert(data.end(), 4, 'x');
    data.push_back('-');
    data.insert(data.end(), 259, 'y');
    data.push_back('-');
    data.insert(data.end(), 4 + 255 + 4, 'z');  // a 255 count followed by a 0 count
    const Decoded d = decode(reference_stream(data.data(), data.size(), 9), SIZE_MAX, 1);
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_TRUE(d.out == data);
}

// A few blocks with runs across window and piece boundaries.
const Bytes& piece_stream_data() {
    static const Bytes data = [] {
        const Bytes& c = corpus();
        Bytes d(c.begin(), c.begin() + (ptrdiff_t)std::min<size_t>(c.size(), 60000));
        for (int len = 1; len <= 40; len++) d.insert(d.end(), (size_t)len * 7, (uint8_t)len);
        const Bytes tail(c.end() - 40000, c.end());
        d.insert(d.end(), tail.begin(), tail.end());
        return d;
    }();
    return data;
}

TEST(DecoderPieces, OneByteInputAndOneByteWindowGiveTheSameBytes) {
    const Bytes& data = piece_stream_data();
    const Bytes stream = reference_stream(data.data(), data.size(), 1);  // two blocks
    const Decoded whole = decode(stream);
    ASSERT_EQ(whole.code, DEC_STREAM_END);
    ASSERT_TRUE(whole.out == data);

    const Decoded tiny = decode(stream, 1, 1);
    EXPECT_EQ(tiny.code, DEC_STREAM_END);
    EXPECT_EQ(tiny.consumed, stream.size());
    EXPECT_TRUE(tiny.out == data);

    for (auto [piece, window] : {std::pair<size_t, size_t>{1, 32768}, {16384, 1}, {16384, 32768}, {3, 7}}) {
        const Decoded d = decode(stream, piece, window);
        EXPECT_EQ(d.code, DEC_STREAM_END) << piece << "/" << window;
        EXPECT_TRUE(d.out == data) << piece << "/" << window;
    }
}

TEST(DecoderPieces, ResumesAtEveryKindOfRead) {
    // Byte-sized pieces end calls inside every field of a block, and each of
    // the block decoder's pending reads resumes correctly.
    const Bytes& data = piece_stream_data();
    const Bytes stream = reference_stream(data.data(), data.size(), 1);
    std::set<int> pending;
    const Decoded d = decode(stream, 1, 65536, 0, &pending);
    ASSERT_EQ(d.code, DEC_STREAM_END);
    ASSERT_TRUE(d.out == data);
    // Small blocks put the short fields at many different bit offsets.
    std::vector<Crafted> blocks;
    Bytes expected;
    for (int k = 1; k <= 12; k++) {
        Bytes text = bytes_of(std::string((size_t)k, 'a') + "block " + std::to_string(k * 7919));
        blocks.push_back(block_of(text));
        Bytes out;
        ASSERT_TRUE(rle1_decode(text, &out));
        expected.insert(expected.end(), out.begin(), out.end());
    }
    const Decoded small = decode(stream_of(blocks), 1, 65536, 0, &pending);
    ASSERT_EQ(small.code, DEC_STREAM_END);
    ASSERT_TRUE(small.out == expected);
    for (int state = DS_BLOCK_MARKER; state <= DS_NEXT_SYMBOL_BIT; state++)
        EXPECT_EQ(pending.count(state), 1u) << "no call ended at state " << state;
    EXPECT_EQ(pending.count(DS_IDLE), 1u);
}

TEST(DecoderPieces, RandomPiecesAndWindows) {
    const Bytes& data = piece_stream_data();
    const Bytes stream = reference_stream(data.data(), data.size(), 1);
    for (uint32_t seed = 1; seed <= 12; seed++) {
        const size_t max_piece = seed % 3 == 0 ? 5 : seed % 3 == 1 ? 64 : 5000;
        const size_t max_window = seed % 4 == 0 ? 3 : seed % 4 == 1 ? 100 : 40000;
        const Decoded d = decode(stream, max_piece, max_window, seed);
        EXPECT_EQ(d.code, DEC_STREAM_END) << "seed " << seed;
        EXPECT_EQ(d.consumed, stream.size()) << "seed " << seed;
        EXPECT_TRUE(d.out == data) << "seed " << seed;
    }
}

TEST(DecoderPieces, NothingAfterTheEndMarkerIsTaken) {
    // Bytes after the end marker's last byte are never consumed, whatever the
    // pieces, and a stream cut anywhere just waits for more input.
    const Bytes& data = piece_stream_data();
    Bytes stream = reference_stream(data.data(), data.size(), 1);
    const size_t length = stream.size();
    stream.insert(stream.end(), {0x31, 0xFF, 0x00, 0x17, 0x55, 0xAA, 0x12, 0x34});
    for (size_t piece : {(size_t)1, (size_t)2, (size_t)5, (size_t)4096, SIZE_MAX}) {
        const Decoded d = decode(stream, piece, 65536);
        EXPECT_EQ(d.code, DEC_STREAM_END) << piece;
        EXPECT_EQ(d.consumed, length) << piece;
    }
    for (size_t cut : {(size_t)1, (size_t)2, (size_t)10, length / 3, length / 2, length - 2, length - 1}) {
        const Bytes prefix(stream.begin(), stream.begin() + (ptrdiff_t)cut);
        const Decoded d = decode(prefix, 997, 65536);
        EXPECT_EQ(d.code, DEC_OK) << "cut at " << cut;
        EXPECT_EQ(d.consumed, cut) << "cut at " << cut;
        EXPECT_TRUE(std::equal(d.out.begin(), d.out.end(), data.begin())) << "cut at " << cut;
    }
}

// ---------------------------------------------------------------------------
// Randomised blocks

// The expected output of a block whose run-length-coded bytes are rle1, when
// its randomised flag is set: every fetched byte steps the countdown, and the
// byte whose step leaves it at 1 has its lowest bit flipped.
bool randomised_expectation(const Bytes& rle1, Bytes* out) {
    Bytes masked = rle1;
    int countdown = 0, position = 0;
    for (uint8_t& b : masked) {
        if (countdown == 0) {
            countdown = decoder_randomisation_table[position];
            position = (position + 1) % 512;
        }
        countdown--;
        if (countdown == 1) b ^= 1;
    }
    return rle1_decode(masked, out);
}

TEST(DecoderRandomised, TableIsThePublishedOne) {
    uint32_t hash = 2166136261u;
    int lo = 1000, hi = 0;
    for (int i = 0; i < 512; i++) {
        const int v = decoder_randomisation_table[i];
        hash = (hash ^ (uint32_t)v) * 16777619u;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_EQ(decoder_randomisation_table[0], 619);
    EXPECT_EQ(decoder_randomisation_table[1], 720);
    EXPECT_EQ(decoder_randomisation_table[511], 638);
    EXPECT_EQ(lo, 50);
    EXPECT_EQ(hi, 999);
    EXPECT_EQ(hash, 0xc68eb8d1u);  // FNV-1a of the 512 values of the published list
}

TEST(DecoderRandomised, FlippedFlagUndoesTheMask) {
    // Several data sets: the mask lands in literals, runs and counts.
    const Bytes& c = corpus();
    std::vector<Bytes> sets;
    sets.emplace_back(c.begin(), c.begin() + 30000);
    Bytes runs;
    for (int len = 1; len <= 300; len++) runs.insert(runs.end(), (size_t)len, (uint8_t)('a' + len % 5));
    sets.push_back(runs);
    sets.emplace_back(c.end() - 60000, c.end());
    int clean_sets = 0;
    for (size_t i = 0; i < sets.size(); i++) {
        std::vector<BlockBits> blocks = reference_blocks(sets[i].data(), sets[i].size(), 9);
        ASSERT_EQ(blocks.size(), 1u);
        blocks[0].bytes[0] ^= 0x80;  // the randomised flag is the block's first bit
        Bytes expected;
        const bool clean = randomised_expectation(rle1_encode(sets[i]), &expected);
        clean_sets += clean;
        for (size_t window : {(size_t)1, (size_t)65536}) {
            const Decoded d = decode(frame_blocks(blocks), 1 + i * 11, window);
            if (clean) {
                EXPECT_EQ(d.code, DEC_STREAM_END) << i;
                EXPECT_TRUE(d.out == expected) << "set " << i << " window " << window;
            } else {
                EXPECT_EQ(d.code, DEC_DATA_ERROR) << i;
            }
        }
    }
    EXPECT_GT(clean_sets, 0);
}

TEST(DecoderRandomised, MaskRestartsInEveryBlock) {
    const Bytes& c = corpus();
    const Bytes a(c.begin(), c.begin() + 20000), b(c.begin() + 20000, c.begin() + 45000);
    std::vector<BlockBits> blocks = reference_blocks(a.data(), a.size(), 9);
    const std::vector<BlockBits> second = reference_blocks(b.data(), b.size(), 9);
    blocks.insert(blocks.end(), second.begin(), second.end());
    blocks.push_back(second[0]);
    blocks[0].bytes[0] ^= 0x80;
    blocks[2].bytes[0] ^= 0x80;  // randomised, plain, randomised
    Bytes ra, rb, expected;
    ASSERT_TRUE(randomised_expectation(rle1_encode(a), &ra));
    ASSERT_TRUE(randomised_expectation(rle1_encode(b), &rb));
    expected = ra;
    expected.insert(expected.end(), b.begin(), b.end());
    expected.insert(expected.end(), rb.begin(), rb.end());
    const Decoded d = decode(frame_blocks(blocks), 777, 333);
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_TRUE(d.out == expected);
}

// ---------------------------------------------------------------------------
// Crafted blocks: edge cases that must decode

TEST(DecoderCrafted, EmptyStream) {
    const Decoded d = decode({0x17, 0x31, 0x00});
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_TRUE(d.out.empty());
    EXPECT_EQ(d.consumed, 1u);
}

TEST(DecoderCrafted, BlocksFromRunLengthCodedBytes) {
    struct Case {
        const char* name;
        Bytes rle1;
    };
    Bytes all_values;
    std::mt19937 rng(3);
    for (int i = 0; i < 6000; i++) all_values.push_back((uint8_t)rng());  // many moves from deep positions
    const std::vector<Case> cases = {
        {"plain", bytes_of("hello, hello world")},
        {"count 0", bytes_of(std::string("ab") + "cccc" + '\0' + "d")},
        {"count 255", bytes_of(std::string("ab") + "cccc" + '\xff' + "dd")},
        {"ends in a run of 2", bytes_of("abcdxx")},
        {"ends in a run of 3", bytes_of("abcdxxx")},
        {"ends in a counted run", bytes_of("abxxxx\x07")},
        {"single byte value", Bytes(7, 'q')},
        {"all byte values", all_values},
    };
    for (const Case& c : cases) {
        Bytes expected;
        ASSERT_TRUE(rle1_decode(c.rle1, &expected)) << c.name;
        const Bytes stream = stream_of({block_of(c.rle1)});
        for (size_t piece : {(size_t)1, SIZE_MAX}) {
            const Decoded d = decode(stream, piece, piece == 1 ? 1 : 65536);
            EXPECT_EQ(d.code, DEC_STREAM_END) << c.name;
            EXPECT_TRUE(d.out == expected) << c.name << ": " << d.out.size() << " bytes, want " << expected.size();
        }
    }
}

TEST(DecoderCrafted, BlocksFromSymbols) {
    // Blocks given by their data symbols; the entries they stand for are
    // known by construction.
    struct Case {
        const char* name;
        std::vector<int> used;
        std::vector<int> symbols;
        Bytes entries;
        uint32_t origin;
    };
    const std::vector<Case> cases = {
        {"single-symbol alphabet, runs only", {'q'}, concat(run_digits(7), {2}), Bytes(7, 'q'), 3},
        {"run ended by end of block", {'a', 'b'}, concat({2}, concat(run_digits(1), {3})), bytes_of("bb"), 1},
        {"run-B digits", {'a', 'b'}, concat(run_digits(6), {2, 3}), bytes_of("aaaaaab"), 0},
        {"full block as a run", {0}, concat(run_digits(900000), {2}), Bytes(900000, 0), 123456},
        {"full block ending in a literal", {0, 1}, concat(run_digits(899999), {2, 3}),
         [] {
             Bytes e(899999, 0);
             e.push_back(1);
             return e;
         }(),
         0},
    };
    for (const Case& c : cases) {
        Crafted b;
        b.used = c.used;
        b.symbols = c.symbols;
        b.origin = c.origin;
        bool clean = false;
        const Bytes expected = expected_of(c.entries, c.origin, &clean);
        ASSERT_TRUE(clean) << c.name;
        const Decoded d = decode(stream_of({b}), SIZE_MAX, 1 << 20);
        EXPECT_EQ(d.code, DEC_STREAM_END) << c.name;
        EXPECT_TRUE(d.out == expected) << c.name << ": " << d.out.size() << " bytes, want " << expected.size();
    }
}

TEST(DecoderCrafted, SeveralBlocksInOneCall) {
    const std::vector<Bytes> parts = {bytes_of("first block"), bytes_of("zzzz\x03zz"), bytes_of("the third")};
    std::vector<Crafted> blocks;
    Bytes expected;
    for (const Bytes& p : parts) {
        blocks.push_back(block_of(p));
        Bytes out;
        ASSERT_TRUE(rle1_decode(p, &out));
        expected.insert(expected.end(), out.begin(), out.end());
    }
    const Decoded d = decode(stream_of(blocks));
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_EQ(d.calls, 1);
    EXPECT_TRUE(d.out == expected);
}

TEST(DecoderCrafted, SelectorsBeyondTheTableAreReadAndDropped) {
    // More selectors than any block can use: accepted, and the excess ones
    // are still read (an invalid one among them is an error).
    Crafted b = block_of(bytes_of("selectors"));
    Bytes expected;
    ASSERT_TRUE(rle1_decode(bytes_of("selectors"), &expected));
    b.tables = 3;
    b.selector_count = 32767;
    b.selectors.assign(32767, 0);
    b.selectors[1] = 2;
    b.selectors[32766] = 1;
    Decoded d = decode(stream_of({b}), 1000, 65536);
    EXPECT_EQ(d.code, DEC_STREAM_END);
    EXPECT_TRUE(d.out == expected);

    b.selectors[32766] = 3;  // reaches the table count
    d = decode(stream_of({b}));
    EXPECT_EQ(d.code, DEC_DATA_ERROR);
}

TEST(DecoderCrafted, SequenceErrorAfterTheEndLeavesBuffersAlone) {
    const Bytes stream = stream_of({block_of(bytes_of("abc"))});
    DecoderStream strm{};
    ASSERT_EQ(decoder_init(&strm), DEC_OK);
    Bytes out(16, 0xEE);
    strm.next_input = stream.data();
    strm.input_left = (uint32_t)stream.size();
    strm.next_output = out.data();
    strm.output_left = (uint32_t)out.size();
    ASSERT_EQ(decoder_decompress(&strm), DEC_STREAM_END);
    EXPECT_EQ(strm.output_left, 13u);

    const uint8_t more[4] = {0x31, 0x17, 0x17, 0x17};
    Bytes fresh(8, 0x5A);
    for (int call = 0; call < 2; call++) {
        strm.next_input = more;
        strm.input_left = 4;
        strm.next_output = fresh.data();
        strm.output_left = 8;
        EXPECT_EQ(decoder_decompress(&strm), DEC_SEQUENCE_ERROR);
        EXPECT_EQ(strm.next_input, more);
        EXPECT_EQ(strm.input_left, 4u);
        EXPECT_EQ(strm.next_output, fresh.data());
        EXPECT_EQ(strm.output_left, 8u);
        EXPECT_EQ(fresh, Bytes(8, 0x5A));
    }
    decoder_end(&strm);
}

// ---------------------------------------------------------------------------
// Format violations

struct ErrorCase {
    std::string name;
    Bytes stream;
};

std::vector<ErrorCase> error_cases() {
    std::vector<ErrorCase> cases;
    const Bytes text = bytes_of("hello, hello world");
    const Crafted good = block_of(text);
    auto add = [&](const std::string& name, const Crafted& b) { cases.push_back({name, stream_of({b})}); };
    auto with = [&](auto change) {
        Crafted b = good;
        change(b);
        return b;
    };

    cases.push_back({"marker 0x32 first", {0x32}});
    cases.push_back({"marker 0x00 after a block", stream_of({good}, 0x00)});
    cases.push_back({"marker 0x30 after a block", stream_of({good, good}, 0x30)});

    {  // Rejected at the header, before the rest of the block exists.
        BitWriter w;
        w.put_byte(0x31);
        w.put_bit(0);
        w.put(900011, 24);
        cases.push_back({"origin above 900010", w.bytes()});
    }
    add("origin at the block length", with([&](Crafted& b) { b.origin = (uint32_t)text.size(); }));
    add("origin 900010 in a short block", with([](Crafted& b) { b.origin = 900010; }));
    add("first symbol ends the block", with([](Crafted& b) { b.symbols = {(int)b.used.size() + 1}; }));

    add("empty group map", with([](Crafted& b) {
            b.raw_map = true;
            b.group_map = 0;
        }));
    add("group set, no byte in it", with([](Crafted& b) {
            b.raw_map = true;
            b.group_map = 0x0101;
            b.byte_maps = {0, 0};
        }));

    for (int tables : {0, 1, 7}) add("table count " + std::to_string(tables), with([&](Crafted& b) { b.tables = tables; }));
    add("selector count 0", with([](Crafted& b) { b.selector_count = 0; }));
    add("selector reaches the table count", with([](Crafted& b) { b.selectors = {2}; }));
    add("selector index far too big", with([](Crafted& b) {
            b.tables = 6;
            b.selectors = {0, 6};
            b.selector_count = 2;
        }));

    for (int start : {0, 21, 31})
        add("start length " + std::to_string(start), with([&](Crafted& b) { b.start_length = start; }));
    add("length stepped down to 0", with([](Crafted& b) {
            b.lengths = {complete_code((int)b.used.size() + 2)};
            b.lengths[0][0] = 1;
            b.lengths[0][1] = 0;
        }));
    add("length stepped up to 21", with([](Crafted& b) {
            b.lengths = {complete_code((int)b.used.size() + 2)};
            b.lengths[0][1] = 21;
        }));

    {  // Codes 00, 01, 10: the bits 11... never end within 20 bits.
        Crafted b;
        b.used = {'a'};
        b.lengths = {{2, 2, 2}, {2, 2, 2}};
        b.symbols = {0};
        b.extra_bits.assign(40, 1);
        add("code longer than 20 bits", b);
    }
    {
        Crafted b;
        b.used = {'a', 'b'};
        for (int k = 0; k < 60; k++) b.symbols.push_back(2);
        b.symbols.push_back(3);
        b.selector_count = 1;
        add("more groups than selectors", b);
    }
    {
        Crafted b;
        b.used = {0};
        b.symbols = concat(run_digits(900001), {2});
        add("run one past the full block", b);
    }
    {
        Crafted b;
        b.used = {0, 1};
        b.symbols = concat(run_digits(899999), {2, 2, 3});
        add("literal one past the full block", b);
    }
    {
        Crafted b;
        b.used = {0, 1};
        b.symbols = concat(run_digits(900000), {2, 3});
        add("literal after a full run", b);
    }
    {
        // True length 2^32: a 32-bit accumulator wraps it to 0.
        Crafted b;
        b.used = {'a', 'b'};
        b.symbols = {1};
        for (int k = 0; k < 31; k++) b.symbols.push_back(0);
        b.symbols.push_back(2);
        b.symbols.push_back(3);
        add("run that wraps a 32-bit accumulator", b);
    }
    {
        Crafted b;
        b.used = {'a', 'b'};
        for (int k = 0; k < 45; k++) b.symbols.push_back(1);
        b.symbols.push_back(3);
        add("run of 45 run-B digits", b);
    }
    {
        Crafted b = block_of(bytes_of("abxxxx"));  // four equal bytes close the block, no count
        add("four equal bytes without a count", b);
    }
    return cases;
}

TEST(DecoderErrors, EveryViolationIsADataError) {
    // The good block itself decodes, so each case fails for its own reason.
    const Decoded good = decode(stream_of({block_of(bytes_of("hello, hello world"))}));
    ASSERT_EQ(good.code, DEC_STREAM_END);
    ASSERT_EQ(good.out, bytes_of("hello, hello world"));

    for (const ErrorCase& c : error_cases()) {
        EXPECT_EQ(decode(c.stream).code, DEC_DATA_ERROR) << c.name;
        EXPECT_EQ(decode(c.stream, 1, 1).code, DEC_DATA_ERROR) << c.name << " (byte by byte)";
        EXPECT_EQ(decode(c.stream, 3, 5, 99).code, DEC_DATA_ERROR) << c.name << " (random pieces)";
    }
}

TEST(DecoderErrors, OverlongCodeFailsAtItsTwentyFirstBit) {
    // Codes 00, 01, 10; then twenty 1 bits end the input. The decoder waits
    // for the 21st bit however the input is cut, and fails once it comes.
    bool tried = false;
    for (int extra = 0; extra < 8; extra++) {
        Crafted b;
        b.used = {'a'};
        b.lengths = {{2, 2, 2}, {2, 2, 2}};
        b.symbols = {0};
        b.selector_count = 1 + extra;  // one bit each: moves the code to a byte end
        b.extra_bits.assign(20, 1);
        BitWriter w;
        w.put_byte(0x31);
        write_block(w, b);
        if (w.bit_count() % 8 != 0) continue;
        tried = true;
        Bytes stream = w.bytes();
        EXPECT_EQ(decode(stream).code, DEC_OK);
        EXPECT_EQ(decode(stream, 1, 1).code, DEC_OK);
        stream.push_back(0x00);
        EXPECT_EQ(decode(stream).code, DEC_DATA_ERROR);
        EXPECT_EQ(decode(stream, 1, 1).code, DEC_DATA_ERROR);
    }
    EXPECT_TRUE(tried);
}

TEST(DecoderErrors, DeadAfterADataError) {
    const Bytes bad = {0x31, 0xFF, 0xFF, 0xFF, 0xFF};  // origin far above the limit
    DecoderStream strm{};
    ASSERT_EQ(decoder_init(&strm), DEC_OK);
    strm.next_input = bad.data();
    strm.input_left = (uint32_t)bad.size();
    uint8_t out[4] = {1, 2, 3, 4};
    strm.next_output = out;
    strm.output_left = 4;
    ASSERT_EQ(decoder_decompress(&strm), DEC_DATA_ERROR);
    const Bytes valid = {0x17};
    strm.next_input = valid.data();
    strm.input_left = 1;
    EXPECT_EQ(decoder_decompress(&strm), DEC_DATA_ERROR);
    EXPECT_EQ(strm.input_left, 1u);
    EXPECT_EQ(strm.output_left, 4u);
    decoder_end(&strm);
}

// ---------------------------------------------------------------------------
// Lifecycle and allocation

TEST(DecoderLifecycle, InitAndEndFreeEverything) {
    test_seam::reset();
    const int live = test_seam::live_blocks;
    DecoderStream strm{};
    ASSERT_EQ(decoder_init(&strm), DEC_OK);
    EXPECT_NE(strm.state, nullptr);
    EXPECT_EQ(test_seam::allocations, 2);  // state and block array, through the seam
    EXPECT_EQ(test_seam::live_blocks, live + 2);
    EXPECT_EQ(decoder_end(&strm), DEC_OK);
    EXPECT_EQ(strm.state, nullptr);
    EXPECT_EQ(test_seam::live_blocks, live);
    EXPECT_EQ(decoder_end(&strm), DEC_OK);  // a second end has nothing to free
}

TEST(DecoderLifecycle, StateAllocationFails) {
    test_seam::reset(1);
    const int live = test_seam::live_blocks;
    DecoderStream strm{};
    EXPECT_EQ(decoder_init(&strm), DEC_MEM_ERROR);
    EXPECT_EQ(strm.state, nullptr);
    EXPECT_EQ(decoder_decompress(&strm), DEC_SEQUENCE_ERROR);
    EXPECT_EQ(decoder_end(&strm), DEC_OK);
    EXPECT_EQ(test_seam::live_blocks, live);
    test_seam::reset();
}

TEST(DecoderLifecycle, BlockArrayAllocationFails) {
    test_seam::reset(2);
    const int live = test_seam::live_blocks;
    DecoderStream strm{};
    EXPECT_EQ(decoder_init(&strm), DEC_MEM_ERROR);
    ASSERT_NE(strm.state, nullptr);  // attached, so that decoder_end frees it
    EXPECT_EQ(test_seam::live_blocks, live + 1);
    const uint8_t in[1] = {0x31};
    uint8_t out[1];
    strm.next_input = in;
    strm.input_left = 1;
    strm.next_output = out;
    strm.output_left = 1;
    EXPECT_EQ(decoder_decompress(&strm), DEC_SEQUENCE_ERROR);
    EXPECT_EQ(strm.input_left, 1u);
    EXPECT_EQ(decoder_end(&strm), DEC_OK);
    EXPECT_EQ(strm.state, nullptr);
    EXPECT_EQ(test_seam::live_blocks, live);
    test_seam::reset();
}

TEST(DecoderLifecycle, RestartAfterEnd) {
    const Bytes stream = stream_of({block_of(bytes_of("again"))});
    for (int round = 0; round < 2; round++) {
        const Decoded d = decode(stream);
        EXPECT_EQ(d.code, DEC_STREAM_END);
        EXPECT_EQ(d.out, bytes_of("again"));
    }
}

}  // namespace
