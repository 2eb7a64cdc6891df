// Writes an installer image: the stub, padded to a 512-byte boundary, then the
// data block (FirstHeader, compressed stream, CRC-32) and an optional trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmar {

using Bytes = std::vector<uint8_t>;

// Appends a record or a word of the data block as it lies in memory: the
// data block's byte order is the host's (datablock/records.h checks it).
template <typename T>
void append_record(Bytes& out, const T& record) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
    out.insert(out.end(), p, p + sizeof(T));
}

struct ImageOptions {
    uint32_t flags = 0;          // FH_ bits; FH_CRC decides whether a CRC is written
    int32_t header_length = 0;   // length of the header block in the decoded stream
    size_t stub_alignment = 512; // the stub is padded to a multiple of this (itself a multiple of 512)
    Bytes trailer;               // bytes after the data block, ignored by the stub
};

// Builds the whole image in memory. Returns false with a message when the
// inputs cannot make a valid image (bad alignment, a data block too large for
// its 32-bit length, an empty stub).
bool build_installer_image(const Bytes& stub, const Bytes& stream, const ImageOptions& options, Bytes& image,
                           std::string& error);

// Offset of the FirstHeader in an image built with these inputs.
size_t first_header_offset(size_t stub_size, size_t stub_alignment = 512);

// File helpers: whole-file read, and a write that never leaves a partial file
// behind (written to a temporary name beside the target, then renamed).
bool read_file(const std::string& path, Bytes& data, std::string& error);
bool write_file_atomically(const std::string& path, const Bytes& data, std::string& error);

}  // namespace quillmar
