// The stub's base relocations, checked against a second link of the same
// objects at another image base: every word that differs between the two
// links must be a relocated place that moved by exactly the difference of
// the bases, and everything else must be equal. A place without its
// relocation would only show on a system that loads the stub elsewhere (ASLR),
// which Wine does not do.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint64_t le(const Bytes& b, size_t at, int size) {
    uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
    return v;
}

struct Section {
    std::string name;
    uint32_t rva, raw_size, raw_at;
};

struct Image {
    uint64_t base = 0;
    int word = 0;  // bytes of an address: 4 or 8
    std::vector<Section> sections;
    std::map<uint32_t, int> relocated;  // RVA of each relocated word -> its size
    std::string error;
};

// The parts of a PE file that the comparison needs; `error` says what is wrong.
Image parse(const Bytes& f) {
    Image image;
    if (f.size() < 0x40 || f[0] != 'M' || f[1] != 'Z') {
        image.error = "not an executable";
        return image;
    }
    const size_t pe = le(f, 0x3C, 4);
    const size_t optional = pe + 24;
    const uint32_t magic = le(f, optional, 2);
    image.word = magic == 0x20B ? 8 : 4;
    image.base = image.word == 8 ? le(f, optional + 24, 8) : le(f, optional + 28, 4);
    const size_t directories = optional + (image.word == 8 ? 112 : 96);
    const uint32_t reloc_rva = le(f, directories + 5 * 8, 4), reloc_size = le(f, directories + 5 * 8 + 4, 4);
    const size_t section_count = le(f, pe + 6, 2);
    const size_t table = optional + le(f, pe + 20, 2);
    for (size_t i = 0; i < section_count; ++i) {
        const size_t at = table + i * 40;
        Section s;
        s.name.assign((const char*)&f.at(at), 8);
        s.name.resize(s.name.find('\0') == std::string::npos ? 8 : s.name.find('\0'));
        s.rva = le(f, at + 12, 4);
        s.raw_size = le(f, at + 16, 4);
        s.raw_at = le(f, at + 20, 4);
        image.sections.push_back(s);
    }
    // The relocation blocks, read through the section that holds them.
    size_t at = 0;
    for (const Section& s : image.sections)
        if (reloc_rva >= s.rva && reloc_rva + reloc_size <= s.rva + s.raw_size) at = s.raw_at + (reloc_rva - s.rva);
    if (!at) {
        image.error = "no base relocations";
        return image;
    }
    for (size_t done = 0; done < reloc_size;) {
        const uint32_t page = le(f, at + done, 4), block = le(f, at + done + 4, 4);
        if (block < 8 || done + block > reloc_size) {
            image.error = "malformed relocation block";
            return image;
        }
        for (size_t e = 8; e < block; e += 2) {
            const uint32_t entry = le(f, at + done + e, 2);
            const int type = entry >> 12;
            if (type == 0) continue;  // padding
            if (type != 3 && type != 10) {
                image.error = "relocation of type " + std::to_string(type);
                return image;
            }
            image.relocated[page + (entry & 0xFFF)] = type == 3 ? 4 : 8;
        }
        done += block;
    }
    return image;
}

// Compares the two links; returns what is wrong, or "" when they agree.
std::string compare(const Bytes& a, const Bytes& b) {
    const Image x = parse(a), y = parse(b);
    if (!x.error.empty()) return x.error;
    if (!y.error.empty()) return "rebased: " + y.error;
    if (x.base == y.base) return "both links have the same image base";
    if (x.relocated != y.relocated) return "the two links relocate different places";
    if (x.sections.size() != y.sections.size()) return "different section counts";
    const uint64_t delta = y.base - x.base;
    std::ostringstream problems;
    int count = 0;
    for (size_t i = 0; i < x.sections.size(); ++i) {
        const Section& s = x.sections[i];
        const Section& t = y.sections[i];
        if (s.name != t.name || s.rva != t.rva || s.raw_size != t.raw_size) return "different layouts";
        for (uint32_t o = 0; o < s.raw_size;) {
            const uint32_t rva = s.rva + o;
            auto r = x.relocated.find(rva);
            if (r != x.relocated.end()) {
                const int size = r->second;
                const uint64_t mask = size == 8 ? ~0ull : 0xFFFFFFFFull;
                const uint64_t va = le(a, s.raw_at + o, size), vb = le(b, t.raw_at + o, size);
                if (((vb - va) & mask) != (delta & mask) && count++ < 10)
                    problems << s.name << "+0x" << std::hex << o << std::dec << ": relocated word moved by "
                             << (int64_t)(vb - va) << "\n";
                o += size;
                continue;
            }
            if (a.at(s.raw_at + o) != b.at(t.raw_at + o) && count++ < 10)
                problems << s.name << "+0x" << std::hex << o << std::dec
                         << ": differs between the links but has no relocation\n";
            ++o;
        }
    }
    return problems.str();
}

TEST(StubRelocations, EveryAddressInTheStubIsRelocated) {
    struct Stub {
        const char* label;
        std::string path;
    } stubs[] = {
        {"x86_64", QM_WIN64_STUB},
        {"i686", QM_WIN32_STUB},
    };
    for (const Stub& s : stubs) {
        if (s.path.empty()) continue;  // the tree was configured without it
        SCOPED_TRACE(s.label);
        const Bytes stub = read_file(s.path);
        const Bytes rebased = read_file(s.path.substr(0, s.path.size() - 4) + "-rebased.exe");
        ASSERT_FALSE(stub.empty()) << s.path;
        ASSERT_FALSE(rebased.empty()) << s.path << " (its rebased twin)";
        EXPECT_GT(parse(stub).relocated.size(), 0u);
        EXPECT_EQ(compare(stub, rebased), "");
    }
}

}  // namespace
