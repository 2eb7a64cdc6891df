// Lays a DataBlockModel out as the decompressed stream of length-framed
// blocks and builds finished installer images from it.
//
// Block order: the header block, the LanguageRecords, the page-text tables,
// the payload blocks in the order they were added (the script's order), then
// the uninstaller's patch block and image block. The language tables come
// right after the header because the stub reads them first thing: placed
// after the payload, they would force the whole payload to be decoded into
// the unpack cache before the first page could show. The uninstaller comes
// last because it is written after the files have been extracted.
#pragma once

#include <functional>
#include <string>

#include "builder/image.h"
#include "builder/model.h"

namespace quillmar {

// Turns a decompressed stream into the compressed stream stored in the file.
using Compressor = std::function<Bytes(const Bytes& decompressed)>;

struct DataBlock {
    Bytes stream;                // decompressed: every block as uint32 length + bytes
    int32_t header_length = 0;   // length of the first block
    // Offset (from the block base) of each payload block, by payload number.
    std::vector<int32_t> payload_offsets;
};

// The decompressed stream of a model. `stub` and `compress` are needed only
// for an installer that writes an uninstaller (its image block is built here,
// for a stub copy as long as the installer's stub padded to `stub_alignment`).
bool lay_out_data_block(const DataBlockModel& model, const Bytes& stub, const Compressor& compress,
                        DataBlock& block, std::string& error, size_t stub_alignment = 512);

// A whole installer (or uninstaller) image: the stub with the model's data
// block. `options.flags` get FH_UNINSTALLER from the model; `header_length`
// is filled in here.
bool build_installer(const DataBlockModel& model, const Bytes& stub, const Compressor& compress,
                     ImageOptions options, Bytes& image, std::string& error);

}  // namespace quillmar
