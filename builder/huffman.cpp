#include "builder/huffman.h"

#include <algorithm>
#include <vector>

namespace quillmar {

namespace {

struct Node {
    uint64_t weight;
    int32_t left;   // -1 for a leaf
    int32_t right;  // the symbol of a leaf, else the second child
};

}  // namespace

bool build_code_lengths(const uint32_t* weights, size_t count, unsigned max_length, uint8_t* lengths) {
    if (count < 2 || max_length < 1 || max_length > 32) return false;
    if (max_length < 32 && count > (size_t(1) << max_length)) return false;

    // Package-merge: the coin-collector formulation. Each list holds the
    // leaves merged with the pairs ("packages") of the list one level deeper;
    // the cheapest 2*count-2 items of the top list select the code lengths.
    std::vector<Node> nodes;
    nodes.reserve(count * 2 * max_length + count);
    std::vector<int32_t> leaves(count);
    for (size_t i = 0; i < count; i++) leaves[i] = (int32_t)i;
    std::stable_sort(leaves.begin(), leaves.end(), [&](int32_t a, int32_t b) {
        return std::max<uint32_t>(weights[a], 1) < std::max<uint32_t>(weights[b], 1);
    });
    for (size_t i = 0; i < count; i++) {
        int32_t sym = leaves[i];
        nodes.push_back(Node{std::max<uint32_t>(weights[sym], 1), -1, sym});
        leaves[i] = (int32_t)i;
    }

    std::vector<int32_t> list = leaves, next;
    for (unsigned level = 1; level < max_length; level++) {
        next.clear();
        size_t li = 0, pi = 0, packages = list.size() / 2;
        while (li < count || pi < packages) {
            uint64_t pw = 0;
            if (pi < packages) pw = nodes[list[2 * pi]].weight + nodes[list[2 * pi + 1]].weight;
            if (pi >= packages || (li < count && nodes[leaves[li]].weight <= pw)) {
                next.push_back(leaves[li++]);
            } else {
                nodes.push_back(Node{pw, list[2 * pi], list[2 * pi + 1]});
                next.push_back((int32_t)nodes.size() - 1);
                pi++;
            }
        }
        list.swap(next);
    }

    std::vector<uint32_t> depth(count, 0);
    std::vector<int32_t> stack;
    for (size_t i = 0; i < 2 * count - 2; i++) {
        stack.push_back(list[i]);
        while (!stack.empty()) {
            const Node& node = nodes[stack.back()];
            stack.pop_back();
            if (node.left < 0) {
                depth[node.right]++;
            } else {
                stack.push_back(node.left);
                stack.push_back(node.right);
            }
        }
    }
    for (size_t i = 0; i < count; i++) lengths[i] = (uint8_t)depth[i];
    return true;
}

void assign_canonical_codes(const uint8_t* lengths, size_t count, uint32_t* codes) {
    unsigned longest = 0;
    for (size_t i = 0; i < count; i++) longest = std::max<unsigned>(longest, lengths[i]);
    uint32_t next = 0;
    for (unsigned len = 1; len <= longest; len++) {
        for (size_t i = 0; i < count; i++)
            if (lengths[i] == len) codes[i] = next++;
        next <<= 1;
    }
}

}  // namespace quillmar
