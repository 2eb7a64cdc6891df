#include "builder/block_sort.h"

#include <algorithm>
#include <vector>

namespace quillmar {

namespace {

// Induced sorting of suffixes (SA-IS). Type bits: kS = the suffix is smaller
// than the next one (else L); kLms = leftmost S of a run, these seed the sort.
constexpr uint8_t kS = 1, kLms = 2;

template <typename Char>
struct Induce {
    const Char* s;
    int32_t* sa;
    int32_t n;
    int32_t k;
    const std::vector<uint8_t>& type;
    std::vector<int32_t> counts;  // occurrences of each symbol
    std::vector<int32_t> bucket;

    void count_symbols() {
        counts.assign(k, 0);
        for (int32_t i = 0; i < n; i++) counts[s[i]]++;
        bucket.resize(k);
    }

    bool lms(int32_t i) const { return type[i] & kLms; }

    void bucket_bounds(bool ends) {
        int32_t sum = 0;
        for (int32_t c = 0; c < k; c++) {
            sum += counts[c];
            bucket[c] = ends ? sum : sum - counts[c];
        }
    }

    void induce_l() {
        bucket_bounds(false);
        for (int32_t i = 0; i < n; i++) {
            int32_t j = sa[i] - 1;
            if (sa[i] > 0 && !(type[j] & kS)) sa[bucket[s[j]]++] = j;
        }
    }

    void induce_s() {
        bucket_bounds(true);
        for (int32_t i = n - 1; i >= 0; i--) {
            int32_t j = sa[i] - 1;
            if (sa[i] > 0 && (type[j] & kS)) sa[--bucket[s[j]]] = j;
        }
    }
};

template <typename Char>
void sais(const Char* s, int32_t* sa, int32_t n, int32_t k) {
    if (n == 1) {
        sa[0] = 0;
        return;
    }
    std::vector<uint8_t> type(n);
    type[n - 1] = kS;
    for (int32_t i = n - 2; i >= 0; i--) {
        type[i] = (s[i] < s[i + 1] || (s[i] == s[i + 1] && (type[i + 1] & kS))) ? kS : 0;
        if (!type[i] && (type[i + 1] & kS)) type[i + 1] |= kLms;
    }
    Induce<Char> in{s, sa, n, k, type, {}, {}};
    in.count_symbols();

    // Sort the LMS substrings: seed them at their bucket ends and induce.
    in.bucket_bounds(true);
    std::fill(sa, sa + n, -1);
    for (int32_t i = 1; i < n; i++)
        if (in.lms(i)) sa[--in.bucket[s[i]]] = i;
    in.induce_l();
    in.induce_s();

    // Gather the sorted LMS positions at the front and name their substrings.
    int32_t n1 = 0;
    for (int32_t i = 0; i < n; i++)
        if (in.lms(sa[i])) sa[n1++] = sa[i];
    std::fill(sa + n1, sa + n, -1);
    int32_t names = 0, prev = -1;
    for (int32_t i = 0; i < n1; i++) {
        int32_t pos = sa[i];
        bool differs = prev < 0;
        for (int32_t d = 0; !differs; d++) {
            if (s[pos + d] != s[prev + d] || (type[pos + d] & kS) != (type[prev + d] & kS)) {
                differs = true;
            } else if (d > 0 && (in.lms(pos + d) || in.lms(prev + d))) {
                break;  // both substrings end here, equal
            }
        }
        if (differs) {
            names++;
            prev = pos;
        }
        sa[n1 + pos / 2] = names - 1;
    }
    for (int32_t i = n - 1, j = n - 1; i >= n1; i--)
        if (sa[i] >= 0) sa[j--] = sa[i];

    // Sort the reduced string, recursively when names repeat.
    int32_t* s1 = sa + n - n1;
    if (names < n1) {
        sais<int32_t>(s1, sa, n1, names);
    } else {
        for (int32_t i = 0; i < n1; i++) sa[s1[i]] = i;
    }

    // Place the LMS suffixes in their final order and induce the rest.
    for (int32_t i = 1, j = 0; i < n; i++)
        if (in.lms(i)) s1[j++] = i;
    for (int32_t i = 0; i < n1; i++) sa[i] = s1[sa[i]];
    std::fill(sa + n1, sa + n, -1);
    in.bucket_bounds(true);
    for (int32_t i = n1 - 1; i >= 0; i--) {
        int32_t j = sa[i];
        sa[i] = -1;
        sa[--in.bucket[s[j]]] = j;
    }
    in.induce_l();
    in.induce_s();
}

// Smallest period p of block[0..n) that divides n (n itself when the block
// is primitive), from the border lengths of its prefixes; `border` holds n
// entries.
size_t whole_period(const uint8_t* block, size_t n, int32_t* border) {
    border[0] = 0;
    for (size_t i = 1; i < n; i++) {
        int32_t k = border[i - 1];
        while (k > 0 && block[i] != block[k]) k = border[k - 1];
        if (block[i] == block[k]) k++;
        border[i] = k;
    }
    size_t p = n - (size_t)border[n - 1];
    return n % p == 0 ? p : n;
}

// Start of the lexicographically least rotation of u[0..n).
size_t least_rotation(const uint8_t* u, size_t n) {
    size_t i = 0, j = 1, k = 0;
    while (i < n && j < n && k < n) {
        size_t x = i + k, y = j + k;  // both below 2n
        uint8_t a = u[x < n ? x : x - n], b = u[y < n ? y : y - n];
        if (a == b) {
            k++;
            continue;
        }
        if (a > b) {
            i += k + 1;
        } else {
            j += k + 1;
        }
        if (i == j) j++;
        k = 0;
    }
    return std::min(i, j);
}

}  // namespace

uint32_t block_sort(const uint8_t* block, size_t n, uint8_t* last) {
    if (n == 0) return 0;
    // A periodic block is u repeated n/p times: each rotation of u stands for
    // n/p equal rotations of the block, in consecutive rows, ending in the
    // same byte. So sort the rotations of the primitive u only.
    std::vector<int32_t> sa(n + 1);
    const size_t p = whole_period(block, n, sa.data());
    const size_t copies = n / p;

    // Rotated to its least rotation r, the primitive u is a Lyndon word, and
    // for a Lyndon word the order of the rotations is the order of the
    // suffixes (a suffix that is a prefix of another sorts first, as the
    // rotation that continues with the whole word does). So the suffix array
    // of that rotation, closed by a unique smallest sentinel, is the order
    // of the rotations.
    const size_t r = least_rotation(block, p);
    std::vector<uint16_t> text(p + 1);
    for (size_t i = 0; i < p; i++) text[i] = (uint16_t)(block[i + r < p ? i + r : i + r - p] + 1);
    text[p] = 0;
    sais<uint16_t>(text.data(), sa.data(), (int32_t)(p + 1), 257);

    uint32_t origin = 0;
    size_t row = 0;
    for (size_t k = 1; k <= p; k++) {  // sa[0] is the sentinel
        size_t start = (size_t)sa[k] + r;  // rotation of u in block coordinates
        if (start >= p) start -= p;
        if (start == 0) origin = (uint32_t)row;
        uint8_t c = block[start == 0 ? p - 1 : start - 1];
        if (copies == 1) {
            last[row++] = c;
        } else {
            for (size_t c2 = 0; c2 < copies; c2++) last[row++] = c;
        }
    }
    return origin;
}

}  // namespace quillmar
