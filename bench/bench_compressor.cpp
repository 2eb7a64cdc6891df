// Compression speed and ratio of the builder's compressor beside the bzip2
// library at level 9, on the same data in the same run. Not a test.
//
//   bench_compressor [file ...]   (default: a mix of files of this machine)

#include <bzlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "builder/compressor.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

bool append_file(const char* path, Bytes& data, size_t limit) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    size_t at = data.size();
    data.resize(at + limit);
    size_t got = std::fread(data.data() + at, 1, limit, f);
    data.resize(at + got);
    std::fclose(f);
    return true;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool bzip2_check(const Bytes& stream, const Bytes& expected) {
    Bytes out(expected.size() + 1);
    unsigned out_len = (unsigned)out.size();
    int rc = BZ2_bzBuffToBuffDecompress((char*)out.data(), &out_len, (char*)stream.data(),
                                        (unsigned)stream.size(), 0, 0);
    return rc == BZ_OK && out_len == expected.size() && std::equal(expected.begin(), expected.end(), out.begin());
}

}  // namespace

int main(int argc, char** argv) {
    Bytes data;
    if (argc > 1) {
        for (int i = 1; i < argc; i++)
            if (!append_file(argv[i], data, (size_t)1 << 30)) std::fprintf(stderr, "cannot read %s\n", argv[i]);
    } else {
        const char* defaults[] = {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/GPL-2",
                                  "/usr/share/common-licenses/LGPL-2.1", "/usr/bin/ls", "/usr/bin/cmake",
                                  "/usr/bin/bzip2"};
        for (const char* p : defaults) append_file(p, data, (size_t)8 << 20);
    }
    if (data.empty()) {
        std::fprintf(stderr, "no input\n");
        return 1;
    }
    const double mb = data.size() / 1e6;
    std::printf("input: %.2f MB, %u hardware threads\n", mb, std::thread::hardware_concurrency());

    auto t0 = Clock::now();
    Bytes ours1 = quillmar::compress_stream(data.data(), data.size(), quillmar::Framing::quillmar, 1);
    double s_ours1 = seconds_since(t0);
    t0 = Clock::now();
    Bytes ours = quillmar::compress_stream(data.data(), data.size(), quillmar::Framing::quillmar, 0);
    double s_ours = seconds_since(t0);

    Bytes ref(data.size() + data.size() / 100 + 600);
    unsigned ref_len = (unsigned)ref.size();
    t0 = Clock::now();
    int rc = BZ2_bzBuffToBuffCompress((char*)ref.data(), &ref_len, (char*)data.data(), (unsigned)data.size(), 9, 0, 0);
    double s_ref = seconds_since(t0);
    if (rc != BZ_OK) {
        std::fprintf(stderr, "bzip2 library failed: %d\n", rc);
        return 1;
    }

    // The same blocks in the standard framing: the like-for-like size, and a
    // check that the bzip2 library reads them back.
    Bytes framed = quillmar::compress_stream(data.data(), data.size(), quillmar::Framing::bzip2, 0);
    bool ok = ours1 == ours && bzip2_check(framed, data);

    std::printf("%-34s %8s %10s %8s\n", "", "MB/s", "bytes", "ratio");
    std::printf("%-34s %8.2f %10zu %8.4f\n", "ours, 1 thread", mb / s_ours1, ours1.size(),
                (double)ours1.size() / data.size());
    std::printf("%-34s %8.2f %10zu %8.4f\n", "ours, all threads", mb / s_ours, ours.size(),
                (double)ours.size() / data.size());
    std::printf("%-34s %8s %10zu %8.4f\n", "ours, standard bzip2 framing", "", framed.size(),
                (double)framed.size() / data.size());
    std::printf("%-34s %8.2f %10u %8.4f\n", "libbz2 level 9 (1 thread)", mb / s_ref, ref_len,
                (double)ref_len / data.size());
    std::printf("speed vs libbz2: %.2fx with 1 thread, %.2fx with all threads\n", s_ref / s_ours1, s_ref / s_ours);
    std::printf("size vs libbz2, same framing: %.4f\n", (double)framed.size() / ref_len);
    std::printf("bzip2 library reads our stream back, thread counts agree: %s\n", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
