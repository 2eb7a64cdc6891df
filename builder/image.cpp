#include "builder/image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "datablock/crc32.h"
#include "datablock/records.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quillmar {

size_t first_header_offset(size_t stub_size, size_t stub_alignment) {
    return (stub_size + stub_alignment - 1) / stub_alignment * stub_alignment;
}

bool build_installer_image(const Bytes& stub, const Bytes& stream, const ImageOptions& options, Bytes& image,
                           std::string& error) {
    if (stub.empty()) {
        error = "the stub is empty";
        return false;
    }
    if (options.stub_alignment == 0 || options.stub_alignment % FIRST_HEADER_ALIGN != 0) {
        error = "the stub alignment must be a multiple of 512";
        return false;
    }
    if (options.flags & ~FH_KNOWN_FLAGS) {
        error = "unknown FirstHeader flags";
        return false;
    }
    const bool with_crc = (options.flags & FH_CRC) != 0;
    const uint64_t total = sizeof(FirstHeader) + (uint64_t)stream.size() + (with_crc ? 4 : 0);
    const size_t header_at = first_header_offset(stub.size(), options.stub_alignment);
    // The stub reads the whole file with signed 32-bit counts.
    if (total > (uint64_t)std::numeric_limits<int32_t>::max() ||
        header_at + total + options.trailer.size() > (uint64_t)std::numeric_limits<int32_t>::max()) {
        error = "the installer would be larger than 2 GiB";
        return false;
    }

    image.assign(header_at, 0);
    std::memcpy(image.data(), stub.data(), stub.size());

    const FirstHeader first = {options.flags,
                               FIRST_HEADER_MAGIC,
                               {FIRST_HEADER_SIG0, FIRST_HEADER_SIG1, FIRST_HEADER_SIG2},
                               options.header_length,
                               (int32_t)total};
    append_record(image, first);
    image.insert(image.end(), stream.begin(), stream.end());

    if (with_crc) {
        // Everything from byte 512 on, so the stub's first 512 bytes may change
        // without touching the data block.
        const uint32_t crc =
            crc32_update(0, image.data() + CRC_SKIP_BYTES, (uint32_t)(image.size() - CRC_SKIP_BYTES));
        append_record(image, crc);
    }
    image.insert(image.end(), options.trailer.begin(), options.trailer.end());
    return true;
}

bool read_file(const std::string& path, Bytes& data, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    data.clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) error = path + ": read error";
    return ok;
}

bool write_file_atomically(const std::string& path, const Bytes& data, std::string& error) {
    const std::string temp = path + ".partial";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        error = path + ": write error";
        std::remove(temp.c_str());
        return false;
    }
#ifdef _WIN32
    // The C library's rename refuses to replace an existing file here.
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = path + ": cannot replace the file (error " + std::to_string(GetLastError()) + ")";
        std::remove(temp.c_str());
        return false;
    }
#else
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
#endif
    return true;
}

}  // namespace quillmar
