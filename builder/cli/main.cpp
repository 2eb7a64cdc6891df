// quillmar-build: makes an installer from an installer description, or, for
// tests and measurements, from payload files alone or from a ready stream.
//
//   quillmar-build DESCRIPTION.toml -o INSTALLER.exe [--stub STUB.exe] [--threads N] [--trailer FILE]
//   quillmar-build (--payload FILE)... [--no-crc] [--force-crc] [--silent] [--stub STUB.exe]
//                  [--trailer FILE] -o OUT.exe
//   quillmar-build --stream STREAM.bin [--header-length N] [--no-crc] [--force-crc] [--silent]
//                  [--uninstaller] [--stub STUB.exe] [--trailer FILE] -o OUT.exe
//
// Without --stub, the stub is quillmar-stub.exe in the folder of this program.
// Errors in a description are printed as "file:line: message"; any error
// gives exit code 1 (2 for a wrong command line) and leaves the output file
// as it was.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "builder/description.h"
#include "builder/image.h"
#include "datablock/opcodes.h"
#include "datablock/records.h"

using namespace quillmar;

namespace {

const char* const kStubName = "quillmar-stub.exe";

int usage() {
    std::fprintf(stderr,
                 "usage: quillmar-build DESCRIPTION.toml -o INSTALLER.exe [--stub STUB.exe] [--threads N]\n"
                 "                      [--trailer FILE]\n"
                 "       quillmar-build (--payload FILE)... [--no-crc] [--force-crc] [--silent]\n"
                 "                      [--stub STUB.exe] [--trailer FILE] -o OUT.exe\n"
                 "       quillmar-build --stream STREAM.bin [--header-length N] [--no-crc] [--force-crc]\n"
                 "                      [--silent] [--uninstaller] [--stub STUB.exe] [--trailer FILE] -o OUT.exe\n"
                 "Without --stub the stub is %s beside quillmar-build.\n",
                 kStubName);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "quillmar-build: %s\n", message.c_str());
    return 1;
}

// The folder of the running program, or "" when it cannot be told.
std::string program_folder(const char* argv0) {
#ifdef _WIN32
    char path[32768];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n > 0 && n < sizeof path) return std::filesystem::path(std::string(path, n)).parent_path().string();
#else
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.parent_path().string();
#endif
    return std::filesystem::path(argv0 ? argv0 : "").parent_path().string();
}

bool is_terminal(FILE* f) {
#ifdef _WIN32
    return _isatty(_fileno(f)) != 0;
#else
    return isatty(fileno(f)) != 0;
#endif
}

// Progress of one compression on standard error: one line updated in place
// on a terminal, else a line at each quarter.
class ProgressLine {
public:
    explicit ProgressLine(std::string what) : what_(std::move(what)), terminal_(is_terminal(stderr)) {}

    void operator()(size_t done, size_t total) {
        int percent = total == 0 ? 100 : (int)((unsigned long long)done * 100 / total);
        if (terminal_) {
            if (percent == shown_) return;
            std::fprintf(stderr, "\rcompressing %s: %3d%%", what_.c_str(), percent);
            if (percent == 100) std::fputc('\n', stderr);
        } else {
            if (percent / 25 == shown_ / 25 && shown_ >= 0) return;
            std::fprintf(stderr, "compressing %s: %d%%\n", what_.c_str(), percent);
        }
        shown_ = percent;
        std::fflush(stderr);
    }

private:
    std::string what_;
    bool terminal_;
    int shown_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    std::string description_path, stub_path, stream_path, trailer_path, out_path;
    std::vector<std::string> payload_paths;
    ImageOptions options;
    options.flags = FH_CRC;
    bool flag_options = false;    // --no-crc, --force-crc, --silent, --uninstaller, --header-length
    bool stream_options = false;  // --uninstaller, --header-length: only a raw stream needs them
    long long header_length = -1;
    unsigned threads = 0;

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
            flag_options = stream_options = true;
        } else if (arg == "--threads") {
            if (!value(number)) return usage();
            char* end = nullptr;
            long long n = std::strtoll(number.c_str(), &end, 10);
            if (number.empty() || *end || n < 0 || n > 1024) return fail("--threads: not a thread count: " + number);
            threads = (unsigned)n;
        } else if (arg == "--no-crc") {
            options.flags &= ~FH_CRC;
            flag_options = true;
        } else if (arg == "--force-crc") {
            options.flags |= FH_FORCE_CRC;
            flag_options = true;
        } else if (arg == "--silent") {
            options.flags |= FH_SILENT;
            flag_options = true;
        } else if (arg == "--uninstaller") {
            options.flags |= FH_UNINSTALLER;
            flag_options = stream_options = true;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "quillmar-build: unknown option %s\n", arg.c_str());
            return usage();
        } else if (description_path.empty()) {
            description_path = arg;
        } else {
            std::fprintf(stderr, "quillmar-build: only one description can be built at a time\n");
            return usage();
        }
    }
    const int modes = !description_path.empty() + !payload_paths.empty() + !stream_path.empty();
    if (out_path.empty() || modes != 1) return usage();
    if (!description_path.empty() && flag_options) {
        return fail("--no-crc, --force-crc, --silent, --uninstaller and --header-length do not apply to a "
                    "description: set crc, force_crc and silent in its [installer] table");
    }
    if (!payload_paths.empty() && stream_options) {
        return fail("--uninstaller and --header-length apply to --stream only: an installer made of payload "
                    "files gets its own header block");
    }

    // Everything is read and checked before the stub is looked for.
    DataBlockModel model;
    if (!description_path.empty()) {
        Bytes text;
        std::string error;
        if (!read_file(description_path, text, error)) return fail("cannot read the description: " + error);
        std::vector<Diagnostic> errors;
        std::string base = std::filesystem::path(description_path).parent_path().string();
        if (!load_description(std::string(text.begin(), text.end()), description_path, base, model, errors)) {
            for (const Diagnostic& e : errors) std::fprintf(stderr, "%s\n", e.text().c_str());
            std::fprintf(stderr, "quillmar-build: %zu error%s; %s not written\n", errors.size(),
                         errors.size() == 1 ? "" : "s", out_path.c_str());
            return 1;
        }
    }

    if (stub_path.empty()) {
        std::string folder = program_folder(argc > 0 ? argv[0] : nullptr);
        stub_path = (folder.empty() ? std::string(kStubName) : folder + "/" + kStubName);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(stub_path, ec))
            return fail("no stub: " + stub_path + " does not exist; give the stub with --stub FILE");
    }
    Bytes stub, stream, image;
    std::string error;
    if (!read_file(stub_path, stub, error)) return fail("cannot read the stub: " + error);
    if (!trailer_path.empty() && !read_file(trailer_path, options.trailer, error)) return fail(error);

    if (!payload_paths.empty()) {
        Language english(1033);
        english.strings[LS_CAPTION] = model.pool.add_text("Quillmar");
        model.languages = {english};
        model.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        for (const std::string& path : payload_paths) {
            Bytes payload;
            if (!read_file(path, payload, error)) return fail(error);
            model.add_payload(std::move(payload));
        }
        model.image_flags = options.flags;
    }

    if (stream_path.empty()) {
        options.flags = model.image_flags;
        int compressions = 0;
        const bool with_uninstaller = model.uninstaller_model != nullptr;
        auto compress = [&](const Bytes& b) {
            // The uninstaller's data block is compressed first, inside the installer's.
            ProgressLine progress(with_uninstaller && compressions++ == 0 ? "the uninstaller" : "the installer");
            return compress_stream(b.data(), b.size(), Framing::quillmar, threads, std::ref(progress));
        };
        try {
            if (!build_installer(model, stub, compress, options, image, error)) return fail(error);
        } catch (const std::exception& e) {
            return fail(std::string("compression failed: ") + e.what());
        }
        if (!write_file_atomically(out_path, image, error)) return fail(error);
        auto count = [](size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
        std::printf("%s: %zu bytes (stub %zu, %s, %s%s, data block at 0x%zx%s)\n", out_path.c_str(), image.size(),
                    stub.size(), count(model.sections.size(), "section").c_str(),
                    count(model.payloads.size(), "payload block").c_str(),
                    with_uninstaller ? ", with its uninstaller" : "", first_header_offset(stub.size()),
                    (options.flags & FH_CRC) ? ", CRC-32" : "");
        return 0;
    }

    if (!read_file(stream_path, stream, error)) return fail(error);
    // A raw stream carries no header records to tell the header block's
    // length, so it defaults to the whole stream.
    options.header_length = header_length >= 0 ? (int32_t)header_length : (int32_t)std::min<size_t>(stream.size(), 0x7FFFFFFF);
    if (!build_installer_image(stub, stream, options, image, error)) return fail(error);
    if (!write_file_atomically(out_path, image, error)) return fail(error);
    std::printf("%s: %zu bytes (stub %zu, data block at 0x%zx%s)\n", out_path.c_str(), image.size(), stub.size(),
                first_header_offset(stub.size(), options.stub_alignment), (options.flags & FH_CRC) ? ", CRC-32" : "");
    return 0;
}
