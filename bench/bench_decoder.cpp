// Decoder throughput next to the bzip2 library's, measured in one run on the
// same compressed blocks: the data is compressed once by the library, and its
// standard stream is converted block for block into our framing.
//
//   bench_decoder [megabytes]   (default 32: half text, half binaries)
#include <bzlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/host/bz2_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Regular files under the directories, in sorted path order, until `budget`
// bytes are gathered (files above 4 MB are skipped to mix many files).
void gather(const std::vector<std::string>& dirs, size_t budget, Bytes* out, size_t* files) {
    std::vector<fs::path> paths;
    for (const std::string& d : dirs) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(d, fs::directory_options::skip_permission_denied, ec), end;
             it != end; it.increment(ec)) {
            if (ec) break;
            std::error_code fec;
            if (it->is_regular_file(fec) && !it->is_symlink(fec)) paths.push_back(it->path());
        }
    }
    std::sort(paths.begin(), paths.end());
    const size_t start = out->size();
    for (const fs::path& p : paths) {
        if (out->size() - start >= budget) break;
        std::error_code ec;
        const auto size = fs::file_size(p, ec);
        if (ec || size == 0 || size > (4u << 20)) continue;
        std::ifstream f(p, std::ios::binary);
        Bytes data((size_t)size);
        if (!f.read((char*)data.data(), (std::streamsize)size)) continue;
        const size_t take = std::min(data.size(), budget - (out->size() - start));
        out->insert(out->end(), data.begin(), data.begin() + (ptrdiff_t)take);
        (*files)++;
    }
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Our decoder, fed in_chunk input bytes and out_window output bytes per call.
bool run_ours(const Bytes& stream, size_t in_chunk, size_t out_window, Bytes* out) {
    DecoderStream s{};
    if (decoder_init(&s) != DEC_OK) return false;
    size_t in_pos = 0, out_pos = 0;
    int rc = DEC_OK;
    while (rc == DEC_OK) {
        const size_t give = std::min(in_chunk, stream.size() - in_pos);
        const size_t room = std::min(out_window, out->size() - out_pos);
        s.next_input = stream.data() + in_pos;
        s.input_left = (uint32_t)give;
        s.next_output = out->data() + out_pos;
        s.output_left = (uint32_t)room;
        rc = decoder_decompress(&s);
        in_pos += give - s.input_left;
        out_pos += room - s.output_left;
        if (rc == DEC_OK && s.input_left == give && s.output_left == room) break;  // no progress
    }
    decoder_end(&s);
    return rc == DEC_STREAM_END && out_pos == out->size();
}

// The library on the standard stream, with the same chunking.
bool run_library(const Bytes& stream, size_t in_chunk, size_t out_window, Bytes* out) {
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return false;
    size_t in_pos = 0, out_pos = 0;
    int rc = BZ_OK;
    while (rc == BZ_OK) {
        const size_t give = std::min(in_chunk, stream.size() - in_pos);
        const size_t room = std::min(out_window, out->size() - out_pos);
        s.next_in = (char*)stream.data() + in_pos;
        s.avail_in = (unsigned)give;
        s.next_out = (char*)out->data() + out_pos;
        s.avail_out = (unsigned)room;
        rc = BZ2_bzDecompress(&s);
        in_pos += give - s.avail_in;
        out_pos += room - s.avail_out;
        if (rc == BZ_OK && s.avail_in == give && s.avail_out == room) break;
    }
    BZ2_bzDecompressEnd(&s);
    return rc == BZ_STREAM_END && out_pos == out->size();
}

template <typename F>
double best_mbps(F run, const Bytes& stream, size_t in_chunk, size_t out_window, const Bytes& data, int rounds) {
    double best = 0;
    Bytes out(data.size());
    for (int r = 0; r < rounds; r++) {
        std::fill(out.begin(), out.end(), 0);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = run(stream, in_chunk, out_window, &out);
        const double t = seconds_since(t0);
        if (!ok || out != data) {
            std::fprintf(stderr, "decode failed or gave other bytes\n");
            std::exit(1);
        }
        best = std::max(best, (double)data.size() / 1e6 / t);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? (size_t)std::atoi(argv[1]) : 32;
    const size_t half = megabytes * 1000000 / 2;
    Bytes data;
    size_t text_files = 0, binary_files = 0;
    gather({"/usr/include", "/usr/share/doc", "/usr/share/common-licenses"}, half, &data, &text_files);
    const size_t text_bytes = data.size();
    gather({"/usr/bin", "/usr/lib/x86_64-linux-gnu", "/usr/lib"}, half, &data, &binary_files);
    if (data.empty()) {
        std::fprintf(stderr, "no input files found\n");
        return 1;
    }
    std::printf("data: %.1f MB (%.1f MB text from %zu files, %.1f MB binary from %zu files)\n", data.size() / 1e6,
                text_bytes / 1e6, text_files, (data.size() - text_bytes) / 1e6, binary_files);

    const Bytes standard = standard_stream(data.data(), data.size(), 9);
    std::string error;
    const std::vector<BlockBits> blocks = standard_blocks(standard, &error);
    if (blocks.empty()) {
        std::fprintf(stderr, "cannot split the standard stream: %s\n", error.c_str());
        return 1;
    }
    const Bytes ours = frame_blocks(blocks);
    std::printf("compressed: %zu blocks, standard stream %zu bytes, our stream %zu bytes\n", blocks.size(),
                standard.size(), ours.size());

    struct Mode {
        const char* name;
        size_t in_chunk, out_window;
    };
    const Mode modes[] = {{"16 KB in / 32 KB out per call", 16384, 32768}, {"whole buffers", SIZE_MAX, SIZE_MAX}};
    const int rounds = 5;
    for (const Mode& m : modes) {
        const double lib = best_mbps(run_library, standard, m.in_chunk, m.out_window, data, rounds);
        const double dec = best_mbps(run_ours, ours, m.in_chunk, m.out_window, data, rounds);
        std::printf("%-30s  ours %7.1f MB/s   libbz2 %7.1f MB/s   ratio %.2f\n", m.name, dec, lib, dec / lib);
    }
    std::printf("(MB = 10^6 bytes of decoded output; best of %d rounds each)\n", rounds);
    return 0;
}
