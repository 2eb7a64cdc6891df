// In-memory model of one installer or uninstaller data block, as the builder
// assembles it before layout: header record, sections, script entries, the
// string pool, languages and payload blocks. Block offsets are kept symbolic
// (payload numbers) until the writer lays the blocks out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder/image.h"
#include "builder/string_pool.h"
#include "datablock/records.h"

namespace quillmar {

struct Language {
    uint16_t lang_id = 0;
    int32_t strings[LANG_STRING_COUNT];  // StringPool offsets, -1 for none
    std::vector<int32_t> page_texts;     // 15 entries (installer) or 3 (uninstaller)

    explicit Language(uint16_t id = 0, bool uninstaller = false);
};

// An entry parameter that names a payload block: the writer replaces it with
// the block's offset.
struct BlockReference {
    size_t entry;     // index into entries
    int parameter;    // 0..4
    size_t payload;   // index into payloads
};

// One stub patch applied when the script writes an uninstaller.
struct StubPatch {
    uint32_t offset;
    Bytes bytes;
};

struct DataBlockModel {
    bool uninstaller = false;
    InstallHeader header;             // the installer's header record
    UninstallHeader uninstall_header; // the uninstaller's header record
    std::vector<SectionRecord> sections;  // installer only
    std::vector<ScriptEntry> entries;
    StringPool pool;
    std::vector<Language> languages;
    std::vector<Bytes> payloads;
    std::vector<BlockReference> block_references;
    // FirstHeader flags of the image (FH_CRC, FH_FORCE_CRC, FH_SILENT); the
    // writer sets FH_UNINSTALLER itself.
    uint32_t image_flags = FH_CRC;

    // Installer only: the uninstaller that the script writes, and the patches
    // that turn a copy of the stub into its stub. Its data block is stored
    // compressed, with a CRC-32 computed over the patched stub.
    std::shared_ptr<DataBlockModel> uninstaller_model;
    uint32_t uninstaller_flags = FH_CRC;
    std::vector<StubPatch> patches;

    explicit DataBlockModel(bool is_uninstaller = false);

    size_t add_payload(Bytes bytes) {
        payloads.push_back(std::move(bytes));
        return payloads.size() - 1;
    }
};

}  // namespace quillmar
