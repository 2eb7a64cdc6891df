// Benchmark of the data block reader, run under Wine by bench/run_reader_bench.sh:
// copies the first payload block of an installer (as the builder's
// --payload option lays it out) to a file through
// read_block_to_file, then decodes the same stream with the decoder alone, and
// prints both throughputs and the process's peak memory.
//
//   bench_reader.exe INSTALLER.exe TARGET_FILE
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "datablock/records.h"
#include "decoder/decoder.h"
#include "startup/startup.h"

namespace {

double seconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

// Finds the FirstHeader the way the stub does: at multiples of 512.
bool find_first_header(HANDLE file, int32_t& at, FirstHeader& header) {
    DWORD size = GetFileSize(file, nullptr);
    for (DWORD offset = 0; offset + sizeof(header) <= size; offset += FIRST_HEADER_ALIGN) {
        DWORD got = 0;
        SetFilePointer(file, (LONG)offset, nullptr, FILE_BEGIN);
        if (!ReadFile(file, &header, sizeof(header), &got, nullptr) || got != sizeof(header)) return false;
        if (first_header_total_length(&header)) {
            at = (int32_t)offset;
            return true;
        }
    }
    return false;
}

// Decodes the whole compressed stream, 16 KB of input and 32 KB of output a call.
bool decode_only(HANDLE file, int32_t begin, int32_t end, uint64_t& produced) {
    DecoderStream stream{};
    if (decoder_init(&stream) < 0) return false;
    std::vector<uint8_t> input(16384), output(32768);
    SetFilePointer(file, begin, nullptr, FILE_BEGIN);
    int32_t position = begin;
    int result = DEC_OK;
    produced = 0;
    while (result == DEC_OK && position < end) {
        DWORD want = (DWORD)std::min<int32_t>(end - position, 16384), got = 0;
        if (!ReadFile(file, input.data(), want, &got, nullptr) || got == 0) break;
        position += (int32_t)got;
        stream.next_input = input.data();
        stream.input_left = got;
        do {
            stream.next_output = output.data();
            stream.output_left = (uint32_t)output.size();
            result = decoder_decompress(&stream);
            produced += output.size() - stream.output_left;
        } while (result == DEC_OK && (stream.input_left || stream.output_left == 0));
    }
    decoder_end(&stream);
    return result == DEC_STREAM_END;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_reader INSTALLER.exe TARGET_FILE\n");
        return 2;
    }
    own_file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FirstHeader first;
    if (own_file == INVALID_HANDLE_VALUE || !find_first_header(own_file, header_position, first)) {
        std::fprintf(stderr, "bench_reader: %s is no installer\n", argv[1]);
        return 1;
    }
    SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
    module_handle = GetModuleHandleA(nullptr);
    if (load_header() != 0) return 1;

    // The first payload block follows the page-text tables.
    std::vector<uint8_t> texts(4096);
    if (read_block_to_memory(((const InstallHeader*)header_block)->page_text_table, texts.data(), 4096) < 0) return 1;
    HANDLE target = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    int32_t copied = read_block_to_file(-1, target);
    double reader_seconds = seconds_since(start);
    CloseHandle(target);
    DeleteFileA(argv[2]);
    if (copied < 0) {
        std::fprintf(stderr, "bench_reader: read_block_to_file failed with %d\n", copied);
        return 1;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    release_data_block();

    const int32_t stream_begin = header_position + (int32_t)sizeof(FirstHeader);
    const int32_t stream_end = header_position + first.total_length - ((first.flags & FH_CRC) ? 4 : 0);
    uint64_t decoded = 0;
    QueryPerformanceCounter(&start);
    bool ok = decode_only(own_file, stream_begin, stream_end, decoded);
    double decoder_seconds = seconds_since(start);
    if (!ok) {
        std::fprintf(stderr, "bench_reader: the stream does not decode\n");
        return 1;
    }
    const double mb = 1e6;
    std::printf("payload_bytes %d\n", copied);
    std::printf("reader_seconds %.3f\nreader_mb_per_s %.1f\n", reader_seconds, copied / mb / reader_seconds);
    std::printf("decoder_bytes %llu\ndecoder_seconds %.3f\ndecoder_mb_per_s %.1f\n", (unsigned long long)decoded,
                decoder_seconds, decoded / mb / decoder_seconds);
    std::printf("peak_working_set_kib %llu\npeak_pagefile_kib %llu\n",
                (unsigned long long)(memory.PeakWorkingSetSize / 1024),
                (unsigned long long)(memory.PagefileUsage > memory.PeakPagefileUsage ? memory.PagefileUsage
                                                                                      : memory.PeakPagefileUsage) /
                    1024);
    return 0;
}
