// quillmar-build: makes an installer from the stub and either payload files
// (a data block with one language and the files as payload blocks) or a
// ready compressed stream.
//
//   quillmar-build --stub STUB.exe (--payload FILE)... [--no-crc] [--force-crc]
//                  [--silent] [--trailer FILE] -o OUT.exe
//   quillmar-build --stub STUB.exe --stream STREAM.bin [--header-length N] ...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "builder/image.h"
#include "datablock/records.h"

using namespace quillmar;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: quillmar-build --stub STUB.exe (--payload FILE)... [--no-crc] [--force-crc]\n"
                 "                      [--silent] [--trailer FILE] -o OUT.exe\n"
                 "       quillmar-build --stub STUB.exe --stream STREAM.bin [--header-length N]\n"
                 "                      [--no-crc] [--force-crc] [--silent] [--uninstaller]\n"
                 "                      [--trailer FILE] -o OUT.exe\n");
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quillmar-build: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string stub_path, stream_path, trailer_path, out_path;
    std::vector<std::string> payload_paths;
    ImageOptions options;
    options.flags = FH_CRC;
    long long header_length = -1;

    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string number;
        if (arg == "--stub") {
            if (!value(stub_path)) return usage();
        } else if (arg == "--stream") {
            if (!value(stream_path)) return usage();
        } else if (arg == "--payload") {
            std::string path;
            if (!value(path)) return usage();
            payload_paths.push_back(path);
        } else if (arg == "--trailer") {
            if (!value(trailer_path)) return usage();
        } else if (arg == "-o") {
            if (!value(out_path)) return usage();
        } else if (arg == "--header-length") {
            if (!value(number)) return usage();
            char* end = nullptr;
            header_length = std::strtoll(number.c_str(), &end, 10);
            if (number.empty() || *end || header_length < 0 || header_length > 0x7FFFFFFF)
                return fail("--header-length: not a length: " + number);
        } else if (arg == "--no-crc") {
            options.flags &= ~FH_CRC;
        } else if (arg == "--force-crc") {
            options.flags |= FH_FORCE_CRC;
        } else if (arg == "--silent") {
            options.flags |= FH_SILENT;
        } else if (arg == "--uninstaller") {
            options.flags |= FH_UNINSTALLER;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "quillmar-build: unknown option %s\n", arg.c_str());
            return usage();
        }
    }
    if (stub_path.empty() || out_path.empty() || stream_path.empty() == payload_paths.empty()) return usage();

    Bytes stub, stream, image;
    std::string error;
    if (!read_file(stub_path, stub, error)) return fail(error);
    if (!trailer_path.empty() && !read_file(trailer_path, options.trailer, error)) return fail(error);

    if (!payload_paths.empty()) {
        DataBlockModel model;
        Language english(1033);
        english.strings[LS_CAPTION] = model.pool.add_text("Quillmar");
        model.languages = {english};
        model.entries = {{1, 0, 0, 0, 0, 0}};
        for (const std::string& path : payload_paths) {
            Bytes payload;
            if (!read_file(path, payload, error)) return fail(error);
            model.add_payload(std::move(payload));
        }
        auto compress = [](const Bytes& b) { return compress_stream(b.data(), b.size()); };
        try {
            if (!build_installer(model, stub, compress, options, image, error)) return fail(error);
        } catch (const std::exception& e) {
            return fail(std::string("compression failed: ") + e.what());
        }
        if (!write_file_atomically(out_path, image, error)) return fail(error);
        std::printf("%s: %zu bytes (stub %zu, %zu payload blocks, data block at 0x%zx%s)\n", out_path.c_str(),
                    image.size(), stub.size(), payload_paths.size(), first_header_offset(stub.size()),
                    (options.flags & FH_CRC) ? ", CRC-32" : "");
        return 0;
    }

    if (!read_file(stream_path, stream, error)) return fail(error);
    // Until the stream carries real header records, the header length defaults
    // to the whole stream.
    options.header_length = header_length >= 0 ? (int32_t)header_length : (int32_t)std::min<size_t>(stream.size(), 0x7FFFFFFF);
    if (!build_installer_image(stub, stream, options, image, error)) return fail(error);
    if (!write_file_atomically(out_path, image, error)) return fail(error);
    std::printf("%s: %zu bytes (stub %zu, data block at 0x%zx%s)\n", out_path.c_str(), image.size(), stub.size(),
                first_header_offset(stub.size(), options.stub_alignment), (options.flags & FH_CRC) ? ", CRC-32" : "");
    return 0;
}
