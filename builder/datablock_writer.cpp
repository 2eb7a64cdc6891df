#include "builder/datablock_writer.h"

#include <cstring>
#include <limits>

namespace quillmar {

Language::Language(uint16_t id, bool uninstaller)
    : lang_id(id), page_texts(uninstaller ? UNINSTALL_PAGE_TEXT_COUNT : INSTALL_PAGE_TEXT_COUNT, REF_NONE) {
    for (int32_t& s : strings) s = REF_NONE;
}

DataBlockModel::DataBlockModel(bool is_uninstaller) : uninstaller(is_uninstaller) {
    // Every reference, colour and callback starts as "none"; counts as 0.
    std::memset(&header, 0xFF, sizeof(header));
    std::memset(&uninstall_header, 0xFF, sizeof(uninstall_header));
    header.language_count = uninstall_header.language_count = 0;
    header.entry_count = uninstall_header.entry_count = 0;
    header.details_mode = uninstall_header.details_mode = 0;
    header.progress_flags = uninstall_header.progress_flags = 0;
    header.silent = uninstall_header.silent = 0;
    header.misc_flags = uninstall_header.misc_flags = 0;
    header.install_dir_reg_root = 0;
    header.uninstaller_patch_length = 0;
    header.install_type_mode = 0;
    header.section_count = 0;
    uninstall_header.uninstall_code = 0;
    uninstall_header.uninstall_entry_count = 0;
}

namespace {

// Appends one framed block; returns its offset from the block base.
bool append_block(Bytes& stream, size_t block_base, const Bytes& content, int32_t& offset, std::string& error) {
    const size_t limit = (size_t)std::numeric_limits<int32_t>::max();
    if (content.size() > limit || stream.size() + 4 + content.size() > limit) {
        error = "the data block would exceed 2 GiB";
        return false;
    }
    offset = (int32_t)(stream.size() - block_base);
    append_record(stream, (uint32_t)content.size());
    stream.insert(stream.end(), content.begin(), content.end());
    return true;
}

bool build_uninstaller_image_block(const DataBlockModel& installer, const Bytes& stub, const Compressor& compress,
                                   size_t stub_alignment, Bytes& image_block, std::string& error) {
    DataBlock inner;
    if (!lay_out_data_block(*installer.uninstaller_model, stub, compress, inner, error)) return false;
    // The stub copy the runtime patches is everything before the installer's
    // FirstHeader: the stub padded as the installer's image pads it.
    if (stub_alignment == 0 || stub_alignment % FIRST_HEADER_ALIGN != 0) {
        error = "the stub alignment must be a multiple of 512";
        return false;
    }
    Bytes patched(first_header_offset(stub.size(), stub_alignment), 0);
    std::memcpy(patched.data(), stub.data(), stub.size());
    for (const StubPatch& patch : installer.patches) {
        if ((uint64_t)patch.offset + patch.bytes.size() > patched.size()) {
            error = "an uninstaller patch reaches past the end of the stub";
            return false;
        }
        std::memcpy(patched.data() + patch.offset, patch.bytes.data(), patch.bytes.size());
    }
    ImageOptions options;
    options.flags = (installer.uninstaller_flags & ~FH_UNINSTALLER) | FH_UNINSTALLER;
    options.header_length = inner.header_length;
    Bytes image;
    if (!build_installer_image(patched, compress(inner.stream), options, image, error)) return false;
    image_block.assign(image.begin() + (long)patched.size(), image.end());
    return true;
}

}  // namespace

bool lay_out_data_block(const DataBlockModel& model, const Bytes& stub, const Compressor& compress, DataBlock& block,
                        std::string& error, size_t stub_alignment) {
    const bool un = model.uninstaller;
    if (model.languages.empty()) {
        error = "an installer needs at least one language";
        return false;
    }
    const size_t page_texts = un ? UNINSTALL_PAGE_TEXT_COUNT : INSTALL_PAGE_TEXT_COUNT;
    for (const Language& language : model.languages) {
        if (language.page_texts.size() != page_texts) {
            error = "language " + std::to_string(language.lang_id) + ": wrong number of page texts";
            return false;
        }
    }
    if (un && !model.sections.empty()) {
        error = "an uninstaller has no sections";
        return false;
    }
    if (un && model.uninstaller_model) {
        error = "an uninstaller cannot write another uninstaller";
        return false;
    }

    std::vector<ScriptEntry> entries = model.entries;
    // Payload offsets are known only once the header block's length is, so
    // the stream is laid out with the header block's final size first.
    const size_t header_size = (un ? sizeof(UninstallHeader) : sizeof(InstallHeader)) +
                               model.sections.size() * sizeof(SectionRecord) + entries.size() * sizeof(ScriptEntry) +
                               model.pool.bytes().size();
    Bytes body;  // everything after the header block
    const size_t base = 0;
    int32_t language_offset, page_text_offset;
    Bytes languages, texts;
    for (const Language& language : model.languages) {
        LanguageRecord record;
        std::memcpy(record.strings, language.strings, sizeof(record.strings));
        record.lang_id = language.lang_id;
        record.reserved = 0xFFFF;
        append_record(languages, record);
        for (int32_t t : language.page_texts) append_record(texts, t);
    }
    if (!append_block(body, base, languages, language_offset, error)) return false;
    if (!append_block(body, base, texts, page_text_offset, error)) return false;
    block.payload_offsets.clear();
    for (const Bytes& payload : model.payloads) {
        int32_t offset;
        if (!append_block(body, base, payload, offset, error)) return false;
        block.payload_offsets.push_back(offset);
    }
    for (const BlockReference& ref : model.block_references) {
        if (ref.entry >= entries.size() || ref.parameter < 0 || ref.parameter > 4 || ref.payload >= model.payloads.size()) {
            error = "a block reference names no entry, parameter or payload";
            return false;
        }
        int32_t* params = &entries[ref.entry].p0;
        params[ref.parameter] = block.payload_offsets[ref.payload];
    }

    int32_t patch_offset = REF_NONE, patch_length = 0;
    if (model.uninstaller_model) {
        Bytes patch_block, image_block;
        append_record(patch_block, (uint32_t)model.patches.size());
        for (const StubPatch& patch : model.patches) {
            append_record(patch_block, PatchRecordHead{(uint32_t)patch.bytes.size(), patch.offset});
            patch_block.insert(patch_block.end(), patch.bytes.begin(), patch.bytes.end());
        }
        if (!build_uninstaller_image_block(model, stub, compress, stub_alignment, image_block, error)) return false;
        int32_t image_offset;
        if (!append_block(body, base, patch_block, patch_offset, error)) return false;
        if (!append_block(body, base, image_block, image_offset, error)) return false;
        patch_length = (int32_t)patch_block.size();
    }

    Bytes header_block;
    if (un) {
        UninstallHeader h = model.uninstall_header;
        h.language_count = (int32_t)model.languages.size();
        h.language_table = language_offset;
        h.page_text_table = page_text_offset;
        h.entry_count = (int32_t)entries.size();
        append_record(header_block, h);
    } else {
        InstallHeader h = model.header;
        h.language_count = (int32_t)model.languages.size();
        h.language_table = language_offset;
        h.page_text_table = page_text_offset;
        h.entry_count = (int32_t)entries.size();
        h.section_count = (int32_t)model.sections.size();
        h.uninstaller_patch = patch_offset;
        h.uninstaller_patch_length = patch_length;
        append_record(header_block, h);
        for (const SectionRecord& s : model.sections) append_record(header_block, s);
    }
    for (const ScriptEntry& e : entries) append_record(header_block, e);
    header_block.insert(header_block.end(), model.pool.bytes().begin(), model.pool.bytes().end());
    if (header_block.size() != header_size) {
        error = "internal error: header block size";
        return false;
    }

    block.stream.clear();
    int32_t ignored;
    if (!append_block(block.stream, 0, header_block, ignored, error)) return false;
    if (block.stream.size() + body.size() > (size_t)std::numeric_limits<int32_t>::max()) {
        error = "the data block would exceed 2 GiB";
        return false;
    }
    block.stream.insert(block.stream.end(), body.begin(), body.end());
    block.header_length = (int32_t)header_block.size();
    return true;
}

bool build_installer(const DataBlockModel& model, const Bytes& stub, const Compressor& compress, ImageOptions options,
                     Bytes& image, std::string& error) {
    DataBlock block;
    if (!lay_out_data_block(model, stub, compress, block, error, options.stub_alignment)) return false;
    options.flags = model.uninstaller ? (options.flags | FH_UNINSTALLER) : (options.flags & ~FH_UNINSTALLER);
    options.header_length = block.header_length;
    return build_installer_image(stub, compress(block.stream), options, image, error);
}

}  // namespace quillmar
