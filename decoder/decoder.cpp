// Stream decoder: the block decoder (a resumable state machine over bit
// reads), the driver, and the output stage (inverse transform walk, initial
// run-length decoding, randomisation).
//
// Freestanding: only <stdint.h>/<stddef.h>, no library calls, no allocation
// after decoder_init, small stack frames (every table lives in DecoderState).
#include "decoder/decoder.h"

namespace {

// ---------------------------------------------------------------------------
// Bit reader

// Takes n (1..20) bits, most significant first. Bytes are taken from the
// input only when bits are needed, one at a time; when the input runs out the
// read is left pending (bytes already taken stay in the buffer).
inline bool get_bits(DecoderState* s, int32_t n, uint32_t* value) {
    DecoderStream* st = s->stream;
    while (s->live_bits < n) {
        if (st->input_left == 0) return false;
        s->bit_buffer = (s->bit_buffer << 8) | *st->next_input;
        st->next_input++;
        st->input_left--;
        s->live_bits += 8;
    }
    s->live_bits -= n;
    *value = (s->bit_buffer >> s->live_bits) & ((1u << n) - 1u);
    return true;
}

// ---------------------------------------------------------------------------
// Move-to-front list: 256 entries in 16 segments of 16 inside a 4096-byte
// area. Moving an entry to the front shifts whole segments down by one place,
// so the list drifts towards index 0 and is repacked at the top when segment
// 0 reaches the bottom.

void mtf_reset(DecoderState* s) {
    int32_t k = 4095;
    for (int32_t seg = 15; seg >= 0; seg--) {
        for (int32_t o = 15; o >= 0; o--) {
            s->mtf_area[k] = (uint8_t)(seg * 16 + o);
            k--;
        }
        s->mtf_starts[seg] = k + 1;
    }
}

inline uint32_t mtf_take(DecoderState* s, uint32_t p) {
    uint8_t* a = s->mtf_area;
    int32_t* starts = s->mtf_starts;
    if (p < 16) {
        uint8_t* q = a + starts[0];
        const uint8_t v = q[p];
        while (p > 0) {
            q[p] = q[p - 1];
            p--;
        }
        q[0] = v;
        return v;
    }
    int32_t seg = (int32_t)(p >> 4);
    int32_t at = starts[seg] + (int32_t)(p & 15);
    const uint8_t v = a[at];
    while (at > starts[seg]) {
        a[at] = a[at - 1];
        at--;
    }
    starts[seg]++;
    while (seg > 0) {
        starts[seg]--;
        a[starts[seg]] = a[starts[seg - 1] + 15];
        seg--;
    }
    starts[0]--;
    a[starts[0]] = v;
    if (starts[0] == 0) {
        int32_t k = 4095;
        for (int32_t sg = 15; sg >= 0; sg--) {
            for (int32_t o = 15; o >= 0; o--) {
                a[k] = a[starts[sg] + o];
                k--;
            }
            starts[sg] = k + 1;
        }
    }
    return v;
}

inline uint32_t mtf_front(const DecoderState* s) { return s->mtf_area[s->mtf_starts[0]]; }

// ---------------------------------------------------------------------------
// Huffman tables

const uint32_t kLookupMask = (1u << DEC_LOOKUP_BITS) - 1u;
const uint32_t kBadSymbol = 511;  // look-up entry symbol of a code index out of range

// Canonical decoding tables of table t (codes in order of increasing length,
// within one length in increasing symbol order), and its short-code look-up.
void build_table(DecoderState* s, int32_t t) {
    const uint8_t* len = s->code_lengths[t];
    const int32_t alpha = s->alphabet_size;
    int32_t* limit = s->limit[t];
    int32_t* base = s->base[t];
    int32_t* perm = s->perm[t];

    int32_t min_len = 32, max_len = 0;
    for (int32_t i = 0; i < alpha; i++) {
        if (len[i] > max_len) max_len = len[i];
        if (len[i] < min_len) min_len = len[i];
    }
    int32_t pp = 0;
    for (int32_t L = min_len; L <= max_len; L++)
        for (int32_t i = 0; i < alpha; i++)
            if (len[i] == L) perm[pp++] = i;

    int32_t count[23];
    for (int32_t L = 0; L < 23; L++) count[L] = 0;
    for (int32_t i = 0; i < alpha; i++) count[len[i]]++;
    base[0] = 0;
    for (int32_t L = 1; L < 23; L++) base[L] = base[L - 1] + count[L - 1];
    for (int32_t L = 0; L < 23; L++) limit[L] = 0;
    int32_t v = 0;
    for (int32_t L = min_len; L <= max_len; L++) {
        v += count[L];
        limit[L] = v - 1;
        v <<= 1;
    }
    for (int32_t L = min_len + 1; L <= max_len; L++) base[L] = ((limit[L - 1] + 1) << 1) - base[L];
    s->min_lengths[t] = min_len;

    // Each look-up entry is what the bit-by-bit canonical decode gives for a
    // code that starts with those bits, when it stops within the look-up
    // width; 0 sends the decode to the long path.
    uint16_t* lookup = s->lookup[t];
    for (uint32_t p = 0; p <= kLookupMask; p++) {
        uint32_t entry = 0;
        for (int32_t L = min_len; L <= DEC_LOOKUP_BITS; L++) {
            const int32_t code = (int32_t)(p >> (DEC_LOOKUP_BITS - L));
            if (code <= limit[L]) {
                const int32_t idx = code - base[L];
                const uint32_t sym = (idx < 0 || idx >= alpha) ? kBadSymbol : (uint32_t)perm[idx];
                entry = ((uint32_t)L << 9) | sym;
                break;
            }
        }
        lookup[p] = (uint16_t)entry;
    }
}

// Finishes a code read bit by bit: the symbol, kNeedBit after moving the
// pending read to one more bit, or kCodeError.
const int32_t kNeedBit = -1;
const int32_t kCodeError = -2;

int32_t resolve_code(DecoderState* s) {
    const int32_t t = s->table_no;
    const int32_t L = s->code_length;
    const int32_t v = s->code_value;
    if (L > STREAM_MAX_CODE_LENGTH) return kCodeError;
    if (v > s->limit[t][L]) {
        s->code_length = L + 1;
        s->state_no |= 1;  // DS_FIRST/RUN/NEXT_SYMBOL -> the matching _BIT state
        return kNeedBit;
    }
    const int32_t idx = v - s->base[t][L];
    if (idx < 0 || idx >= s->alphabet_size) return kCodeError;
    return s->perm[t][idx];
}

// ---------------------------------------------------------------------------
// End of block: link the block array for the inverse transform and prime the
// output walk.

inline void randomise(int32_t* countdown, int32_t* position, uint32_t* b) {
    if (*countdown == 0) {
        *countdown = decoder_randomisation_table[*position];
        *position = (*position + 1) & 511;
    }
    (*countdown)--;
    if (*countdown == 1) *b ^= 1u;
}

int finish_block(DecoderState* s) {
    const int32_t n = s->block_length;
    if (s->origin >= n) return DEC_DATA_ERROR;
    s->run_byte = 0;
    s->run_left = 0;
    s->state_no = DS_OUTPUT;

    int32_t* cum = s->cumulative;
    cum[0] = 0;
    for (int32_t b = 0; b < 256; b++) cum[b + 1] = cum[b] + s->byte_counts[b];
    uint32_t* tt = s->block;
    for (int32_t k = 0; k < n; k++) {
        const uint32_t b = tt[k] & 0xFFu;
        tt[cum[b]] |= (uint32_t)k << 8;
        cum[b]++;
    }

    s->walk_position = tt[s->origin] >> 8;
    s->entries_fetched = 0;
    if (s->randomised) {
        s->rand_countdown = 0;
        s->rand_position = 0;
    }
    const uint32_t e = tt[s->walk_position];
    uint32_t b = e & 0xFFu;
    s->walk_position = e >> 8;
    s->entries_fetched = 1;
    if (s->randomised) randomise(&s->rand_countdown, &s->rand_position, &b);
    s->byte_ahead = (int32_t)b;
    return DEC_OK;
}

// ---------------------------------------------------------------------------
// Data symbols. run_symbols handles a symbol already read bit by bit (sym >=
// 0) and then decodes on through the look-up tables for as long as the
// buffered bits and the input hold at least STREAM_MAX_CODE_LENGTH bits, working
// on local copies. It leaves a pending symbol read for the bit-by-bit path
// when fewer bits remain.

// The local bit buffer is 32 bits on every build, so the path the 32-bit stub
// runs is the path the host tests run (a 64-bit buffer gains only ~3%).
typedef uint32_t BitWord;
const int32_t kWordBits = 32;

enum { SYM_NEED_BITS = 0, SYM_BLOCK_DONE = 1, SYM_ERROR = -1 };

int run_symbols(DecoderState* s, int32_t sym) {
    DecoderStream* st = s->stream;
    const uint8_t* in = st->next_input;
    uint32_t in_left = st->input_left;
    uint32_t loaded = 0;  // bytes taken from the input by this call
    BitWord buf = s->bit_buffer;
    int32_t live = s->live_bits;

    uint32_t* const tt = s->block;
    int32_t* const counts = s->byte_counts;
    const uint8_t* const used = s->used_bytes;
    const int32_t eob = s->end_of_block;
    const int32_t alpha = s->alphabet_size;
    int32_t nblock = s->block_length;
    int32_t run_length = s->run_length;
    int32_t run_weight = s->run_weight;
    int32_t group_left = s->group_left;
    int32_t group_no = s->group_no;
    int32_t table_no = s->table_no;
    int32_t next_state = s->state_no;

    const uint16_t* lookup = s->lookup[table_no];
    const int32_t* limit = s->limit[table_no];
    const int32_t* base = s->base[table_no];
    const int32_t* perm = s->perm[table_no];
    int32_t min_len = s->min_lengths[table_no];

    int result;
    for (;;) {
        if (sym < 0) {
            if (live < STREAM_MAX_CODE_LENGTH) {
                while (live <= kWordBits - 8 && in_left != 0) {
                    buf = (buf << 8) | *in++;
                    in_left--;
                    loaded++;
                    live += 8;
                }
                if (live < STREAM_MAX_CODE_LENGTH) {
                    result = SYM_NEED_BITS;
                    break;
                }
            }
            const uint32_t e = lookup[(uint32_t)(buf >> (live - DEC_LOOKUP_BITS)) & kLookupMask];
            int32_t len;
            if (e != 0) {
                len = (int32_t)(e >> 9);
                sym = (int32_t)(e & 511u);
            } else {
                // Longer than the look-up: continue the canonical decode on
                // the next 20 bits.
                const uint32_t p20 = (uint32_t)(buf >> (live - STREAM_MAX_CODE_LENGTH)) & 0xFFFFFu;
                int32_t L, v;
                bool found = false;
                if (min_len <= DEC_LOOKUP_BITS) {
                    L = DEC_LOOKUP_BITS;  // no stop up to here, or the entry would be set
                    v = (int32_t)(p20 >> (STREAM_MAX_CODE_LENGTH - L));
                } else {
                    L = min_len;
                    v = (int32_t)(p20 >> (STREAM_MAX_CODE_LENGTH - L));
                    found = v <= limit[L];
                }
                while (!found && L < STREAM_MAX_CODE_LENGTH) {
                    L++;
                    v = (v << 1) | (int32_t)((p20 >> (STREAM_MAX_CODE_LENGTH - L)) & 1u);
                    found = v <= limit[L];
                }
                if (!found) {
                    // Longer than 20 bits: an error once its 21st bit is
                    // read. The bit-by-bit path reads it, so the result does
                    // not depend on how the input was cut.
                    result = SYM_NEED_BITS;
                    break;
                }
                const int32_t idx = v - base[L];
                sym = (idx < 0 || idx >= alpha) ? (int32_t)kBadSymbol : perm[idx];
                len = L;
            }
            if (sym == (int32_t)kBadSymbol) {
                result = SYM_ERROR;
                break;
            }
            live -= len;
        }

        if (sym <= 1) {
            // Run digit: run-A weighs the current weight, run-B twice that.
            // The run is checked against the space left after every digit,
            // so the accumulator stays at most 900000 and never wraps.
            run_length += run_weight << sym;
            run_weight <<= 1;
            if (run_length > STREAM_BLOCK_CAPACITY - nblock) {
                result = SYM_ERROR;
                break;
            }
            next_state = DS_RUN_SYMBOL;
        } else {
            if (run_length > 0) {
                const uint32_t b = used[mtf_front(s)];
                counts[b] += run_length;
                uint32_t* p = tt + nblock;
                uint32_t* const end = p + run_length;
                while (p != end) *p++ = b;
                nblock += run_length;
                run_length = 0;
                run_weight = 1;
            }
            if (sym == eob) {
                result = SYM_BLOCK_DONE;
                break;
            }
            if (nblock >= STREAM_BLOCK_CAPACITY) {
                result = SYM_ERROR;
                break;
            }
            const uint32_t b = used[mtf_take(s, (uint32_t)sym - 1u)];
            counts[b]++;
            tt[nblock++] = b;
            next_state = DS_NEXT_SYMBOL;
        }
        sym = -1;

        if (group_left == 0) {
            // selectors_kept bounds the selector table. A block cannot need
            // more than 18001 groups before it overflows, so this is the
            // selector count of any stream that gets this far.
            group_no++;
            if (group_no >= s->selectors_kept) {
                result = SYM_ERROR;
                break;
            }
            table_no = s->selectors[group_no];
            lookup = s->lookup[table_no];
            limit = s->limit[table_no];
            base = s->base[table_no];
            perm = s->perm[table_no];
            min_len = s->min_lengths[table_no];
            group_left = STREAM_GROUP_SIZE;
        }
        group_left--;
    }

    // Hand back whole bytes taken here but not needed yet, so the input is
    // consumed exactly as by a reader that takes a byte only when it needs it.
    while (live >= 8 && loaded != 0) {
        buf >>= 8;
        live -= 8;
        loaded--;
        in--;
        in_left++;
    }
    s->bit_buffer = (uint32_t)buf;
    s->live_bits = live;
    st->next_input = in;
    st->input_left = in_left;
    s->block_length = nblock;
    s->run_length = run_length;
    s->run_weight = run_weight;
    s->group_left = group_left;
    s->group_no = group_no;
    s->table_no = table_no;
    if (result == SYM_NEED_BITS) s->state_no = next_state;
    if (result == SYM_BLOCK_DONE && finish_block(s) != DEC_OK) result = SYM_ERROR;
    return result;
}

// Moves i to the next group, from i on, whose group-map bit is set.
bool next_mapped_group(DecoderState* s) {
    while (s->i < 16 && !s->group_flags[s->i]) s->i++;
    return s->i < 16;
}

// The used-byte list and the alphabet, once the symbol map is read.
int finish_symbol_map(DecoderState* s) {
    int32_t n = 0;
    for (int32_t b = 0; b < 256; b++)
        if (s->in_use[b]) s->used_bytes[n++] = (uint8_t)b;
    s->used_count = n;
    if (n == 0) return DEC_DATA_ERROR;
    s->alphabet_size = n + 2;
    s->end_of_block = n + 1;
    s->state_no = DS_TABLE_COUNT;
    return DEC_OK;
}

// Selectors as read are move-to-front indices over the table numbers.
void undo_selector_mtf(DecoderState* s) {
    uint8_t list[STREAM_MAX_TABLES];
    for (int32_t k = 0; k < STREAM_MAX_TABLES; k++) list[k] = (uint8_t)k;
    for (int32_t g = 0; g < s->selectors_kept; g++) {
        int32_t v = s->selector_indices[g];
        const uint8_t table = list[v];
        while (v > 0) {
            list[v] = list[v - 1];
            v--;
        }
        list[0] = table;
        s->selectors[g] = table;
    }
}

// All code lengths read: build the tables and get ready for the first symbol.
void start_symbols(DecoderState* s) {
    for (int32_t t = 0; t < s->table_count; t++) build_table(s, t);
    for (int32_t b = 0; b < 256; b++) s->byte_counts[b] = 0;
    s->block_length = 0;
    s->run_length = 0;
    s->run_weight = 1;
    mtf_reset(s);
    // Group 0 for the first symbol; selectors_kept is at least 1.
    s->group_no = 0;
    s->table_no = s->selectors[0];
    s->group_left = STREAM_GROUP_SIZE - 1;
    s->state_no = DS_FIRST_SYMBOL;
}

int block_decode(DecoderState* s) {
    for (;;) {
        uint32_t v;
        switch (s->state_no) {
        case DS_BLOCK_MARKER:
            if (!get_bits(s, 8, &v)) return DEC_OK;
            if (v == STREAM_END_MARKER) {
                s->state_no = DS_IDLE;
                return DEC_STREAM_END;
            }
            if (v != STREAM_BLOCK_MARKER) return DEC_DATA_ERROR;
            s->state_no = DS_RANDOMISED;
            break;
        case DS_RANDOMISED:
            if (!get_bits(s, 1, &v)) return DEC_OK;
            s->randomised = (uint8_t)v;
            s->origin = 0;
            s->state_no = DS_ORIGIN_1;
            break;
        case DS_ORIGIN_1:
        case DS_ORIGIN_2:
        case DS_ORIGIN_3:
            if (!get_bits(s, 8, &v)) return DEC_OK;
            s->origin = (s->origin << 8) | (int32_t)v;
            if (s->state_no != DS_ORIGIN_3) {
                s->state_no++;
                break;
            }
            if (s->origin > STREAM_MAX_ORIGIN) return DEC_DATA_ERROR;
            s->i = 0;
            s->state_no = DS_GROUP_MAP;
            break;
        case DS_GROUP_MAP:
            if (!get_bits(s, 1, &v)) return DEC_OK;
            s->group_flags[s->i] = (uint8_t)v;
            s->i++;
            if (s->i < 16) break;
            for (int32_t b = 0; b < 256; b++) s->in_use[b] = 0;
            s->i = 0;
            s->j = 0;
            if (next_mapped_group(s)) {
                s->state_no = DS_BYTE_MAP;
            } else if (finish_symbol_map(s) != DEC_OK) {
                return DEC_DATA_ERROR;
            }
            break;
        case DS_BYTE_MAP:
            if (!get_bits(s, 1, &v)) return DEC_OK;
            if (v) s->in_use[s->i * 16 + s->j] = 1;
            s->j++;
            if (s->j < 16) break;
            s->j = 0;
            s->i++;
            if (!next_mapped_group(s) && finish_symbol_map(s) != DEC_OK) return DEC_DATA_ERROR;
            break;
        case DS_TABLE_COUNT:
            if (!get_bits(s, 3, &v)) return DEC_OK;
            if (v < STREAM_MIN_TABLES || v > STREAM_MAX_TABLES) return DEC_DATA_ERROR;
            s->table_count = (int32_t)v;
            s->state_no = DS_SELECTOR_COUNT;
            break;
        case DS_SELECTOR_COUNT:
            if (!get_bits(s, 15, &v)) return DEC_OK;
            if (v < 1) return DEC_DATA_ERROR;
            // A count above the table size is accepted: the selectors beyond
            // it are read and checked but not kept. No block can use them
            // (a full block needs 18001 groups), so nothing else changes.
            s->selector_count = (int32_t)v;
            s->selectors_kept = v > STREAM_MAX_SELECTORS ? STREAM_MAX_SELECTORS : (int32_t)v;
            s->i = 0;
            s->j = 0;
            s->state_no = DS_SELECTOR;
            break;
        case DS_SELECTOR:
            if (!get_bits(s, 1, &v)) return DEC_OK;
            if (v) {
                s->j++;
                if (s->j >= s->table_count) return DEC_DATA_ERROR;
                break;
            }
            if (s->i < STREAM_MAX_SELECTORS) s->selector_indices[s->i] = (uint8_t)s->j;
            s->i++;
            s->j = 0;
            if (s->i < s->selector_count) break;
            undo_selector_mtf(s);
            s->t = 0;
            s->state_no = DS_LENGTH_START;
            break;
        case DS_LENGTH_START:
            if (!get_bits(s, 5, &v)) return DEC_OK;
            s->current_length = (int32_t)v;
            s->i = 0;
            s->state_no = DS_LENGTH_MORE;
            break;
        case DS_LENGTH_MORE:
            if (s->current_length < 1 || s->current_length > STREAM_MAX_CODE_LENGTH) return DEC_DATA_ERROR;
            if (!get_bits(s, 1, &v)) return DEC_OK;
            if (v) {
                s->state_no = DS_LENGTH_STEP;
                break;
            }
            s->code_lengths[s->t][s->i] = (uint8_t)s->current_length;
            s->i++;
            if (s->i < s->alphabet_size) break;
            s->t++;
            if (s->t < s->table_count) {
                s->state_no = DS_LENGTH_START;
                break;
            }
            start_symbols(s);
            break;
        case DS_LENGTH_STEP:
            if (!get_bits(s, 1, &v)) return DEC_OK;
            s->current_length += v ? -1 : 1;
            s->state_no = DS_LENGTH_MORE;
            break;
        case DS_FIRST_SYMBOL:
        case DS_RUN_SYMBOL:
        case DS_NEXT_SYMBOL:
        case DS_FIRST_SYMBOL_BIT:
        case DS_RUN_SYMBOL_BIT:
        case DS_NEXT_SYMBOL_BIT: {
            if ((s->state_no & 1) == 0) {
                // At a symbol boundary: the look-up path first.
                const int r = run_symbols(s, -1);
                if (r == SYM_BLOCK_DONE) return DEC_OK;
                if (r == SYM_ERROR) return DEC_DATA_ERROR;
                const int32_t min_len = s->min_lengths[s->table_no];
                if (!get_bits(s, min_len, &v)) return DEC_OK;
                s->code_length = min_len;
                s->code_value = (int32_t)v;
            } else {
                if (!get_bits(s, 1, &v)) return DEC_OK;
                s->code_value = (s->code_value << 1) | (int32_t)v;
            }
            const int32_t sym = resolve_code(s);
            if (sym == kNeedBit) break;
            if (sym == kCodeError) return DEC_DATA_ERROR;
            const int r = run_symbols(s, sym);
            if (r == SYM_BLOCK_DONE) return DEC_OK;
            if (r == SYM_ERROR) return DEC_DATA_ERROR;
            break;
        }
        default:
            return DEC_OK;
        }
    }
}

// ---------------------------------------------------------------------------
// Output stage: walks the linked block and undoes the initial run-length
// coding (four equal bytes, then a count of 0..255 further copies). Returns 1
// when the block is written out, 0 when the window is full, -1 on a block that
// ends in four equal bytes without their count. One copy serves plain and
// randomised blocks: the test per byte costs nothing measurable on the
// 32-bit stub (about 1% on the host) and a second copy 400 bytes of stub.

int output_block(DecoderState* s) {
    const bool randomised = s->randomised != 0;
    DecoderStream* st = s->stream;
    uint8_t* out = st->next_output;
    uint32_t left = st->output_left;
    const uint32_t* const tt = s->block;
    uint32_t pos = s->walk_position;
    int32_t fetched = s->entries_fetched;
    const int32_t end = s->block_length + 1;  // the walk fetches one past the block
    uint32_t c = s->run_byte;
    int32_t m = s->run_left;
    uint32_t k = (uint32_t)s->byte_ahead;
    int32_t countdown = s->rand_countdown;
    int32_t position = s->rand_position;

#define QM_FETCH(b)                                                   \
    do {                                                              \
        const uint32_t e_ = tt[pos];                                  \
        b = e_ & 0xFFu;                                               \
        pos = e_ >> 8;                                                \
        fetched++;                                                    \
        if (randomised) randomise(&countdown, &position, &b);         \
    } while (0)

    int result;
    for (;;) {
        if (m > 0) {
            if (left == 0) {
                result = 0;
                break;
            }
            uint32_t n = (uint32_t)m < left ? (uint32_t)m : left;
            left -= n;
            m -= (int32_t)n;
            while (n--) *out++ = (uint8_t)c;
            if (m > 0) {
                result = 0;
                break;
            }
        }
        if (fetched == end) {
            result = 1;
            break;
        }
        c = k;
        uint32_t b;
        QM_FETCH(b);
        if (b != k || fetched == end) {
            k = b;
            if (left == 0) {
                m = 1;
                continue;
            }
            *out++ = (uint8_t)c;
            left--;
            continue;
        }
        m = 2;
        QM_FETCH(b);
        if (fetched == end) continue;
        if (b != k) {
            k = b;
            continue;
        }
        m = 3;
        QM_FETCH(b);
        if (fetched == end) continue;
        if (b != k) {
            k = b;
            continue;
        }
        QM_FETCH(b);
        if (fetched == end) {
            // The count would be the fetch past the block: a corrupt block
            // that ends in four equal bytes. Its walk would never meet the
            // end mark again, so it stops here.
            result = -1;
            break;
        }
        m = (int32_t)b + 4;
        QM_FETCH(k);
    }
#undef QM_FETCH

    st->next_output = out;
    st->output_left = left;
    s->walk_position = pos;
    s->entries_fetched = fetched;
    s->run_byte = (uint8_t)c;
    s->run_left = m;
    s->byte_ahead = (int32_t)k;
    s->rand_countdown = countdown;
    s->rand_position = position;
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Operations

int decoder_init(DecoderStream* stream) {
    stream->state = 0;
    DecoderState* s = (DecoderState*)decoder_alloc((uint32_t)sizeof(DecoderState));
    if (!s) return DEC_MEM_ERROR;
    stream->state = s;
    s->stream = stream;
    s->state_no = DS_BLOCK_MARKER;
    s->block = (uint32_t*)decoder_alloc((uint32_t)STREAM_BLOCK_CAPACITY * (uint32_t)sizeof(uint32_t));
    if (!s->block) return DEC_MEM_ERROR;
    return DEC_OK;
}

int decoder_decompress(DecoderStream* stream) {
    // A stream without a complete state (never started, ended, or started
    // without its block array) cannot decode.
    if (!stream || !stream->state) return DEC_SEQUENCE_ERROR;
    DecoderState* s = stream->state;
    if (s->stream != stream || !s->block) return DEC_SEQUENCE_ERROR;
    // After a data error the stream is dead: every further call reports it
    // again without touching the buffers.
    if (s->failed) return DEC_DATA_ERROR;

    for (;;) {
        if (s->state_no == DS_IDLE) return DEC_SEQUENCE_ERROR;
        if (s->state_no == DS_OUTPUT) {
            const int r = output_block(s);
            if (r < 0) {
                s->failed = 1;
                return DEC_DATA_ERROR;
            }
            if (r == 0) return DEC_OK;
            s->state_no = DS_BLOCK_MARKER;
        }
        const int r = block_decode(s);
        if (r == DEC_STREAM_END) return r;
        if (r == DEC_DATA_ERROR) {
            s->failed = 1;
            return r;
        }
        if (s->state_no != DS_OUTPUT) return r;
    }
}

int decoder_end(DecoderStream* stream) {
    if (!stream) return DEC_OK;
    DecoderState* s = stream->state;
    if (s) {
        if (s->block) decoder_free(s->block);
        decoder_free(s);
    }
    stream->state = 0;
    return DEC_OK;
}
