#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "builder/datablock_writer.h"
#include "datablock/opcodes.h"

namespace quillmar {
namespace {

// Keeps the stream as it is, so the tests can read the layout directly.
Bytes identity(const Bytes& b) { return b; }

uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

// Reads the blocks of a decompressed stream the way the stub does.
struct StreamView {
    const Bytes& stream;
    size_t base() const { return 4 + le32(stream, 0); }
    Bytes block_at(int32_t offset) const {
        size_t at = base() + (size_t)offset;
        uint32_t n = le32(stream, at);
        return Bytes(stream.begin() + (long)at + 4, stream.begin() + (long)(at + 4 + n));
    }
    template <typename T>
    T record(size_t header_offset) const {
        T r;
        std::memcpy(&r, &stream[4 + header_offset], sizeof(T));
        return r;
    }
};

TEST(StringPool, DeduplicatesAndEscapesLiteralCodeBytes) {
    StringPool pool;
    int32_t a = pool.add_text("Hello");
    int32_t b = pool.add_text("World");
    EXPECT_EQ(pool.add_text("Hello"), a);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 6);
    // 0xDB..0xFF are expansion codes: meant literally they get the 0xFF escape;
    // bytes below stay as they are.
    int32_t c = pool.add_text("\xDA\xDB\xE9\xFF");
    const Bytes& bytes = pool.bytes();
    EXPECT_EQ(std::string(bytes.begin() + c, bytes.end()), std::string("\xDA\xFF\xDB\xFF\xE9\xFF\xFF", 7) + '\0');
    // Encoded strings are stored as given and are distinct from the escaped text.
    EXPECT_NE(pool.add_encoded("\xDB"), pool.add_text("\xDB"));
}

DataBlockModel sample_installer() {
    DataBlockModel m;
    Language en(1033), fr(1036);
    en.strings[LS_CAPTION] = m.pool.add_text("Sample Setup");
    fr.strings[LS_CAPTION] = m.pool.add_text("Installation");
    en.page_texts[PT_NEXT] = m.pool.add_text("Next >");
    m.languages = {en, fr};
    SectionRecord section = {m.pool.add_text("Core"), SECTION_SELECTED, 0, 2, 12, 0};
    m.sections = {section, section};
    m.entries = {{OP_GET_TEMP_FILE_NAME, 0, 0, 0, 0, 0}, {OP_GET_TEMP_FILE_NAME, 0, 0, 0, 0, 0}, {OP_RETURN, 0, 0, 0, 0, 0}};
    size_t first = m.add_payload({'a', 'b', 'c'});
    size_t empty = m.add_payload({});
    size_t third = m.add_payload(Bytes(1000, 7));
    m.block_references = {{0, 2, third}, {1, 2, first}, {1, 4, empty}};
    m.header.default_install_dir = m.pool.add_text("C:\\Sample");
    m.header.misc_flags = MISC_NO_ROOT_DIR;
    return m;
}

TEST(DataBlockWriter, LaysOutHeaderLanguagesAndPayloads) {
    DataBlockModel m = sample_installer();
    DataBlock block;
    std::string error;
    ASSERT_TRUE(lay_out_data_block(m, {}, identity, block, error)) << error;
    StreamView view{block.stream};

    const size_t expected_header = 152 + 2 * 24 + 3 * 24 + m.pool.bytes().size();
    EXPECT_EQ(block.header_length, (int32_t)expected_header);
    EXPECT_EQ(le32(block.stream, 0), expected_header);

    InstallHeader h = view.record<InstallHeader>(0);
    EXPECT_EQ(h.language_count, 2);
    EXPECT_EQ(h.entry_count, 3);
    EXPECT_EQ(h.section_count, 2);
    EXPECT_EQ(h.uninstaller_patch, -1);
    EXPECT_EQ(h.on_init, -1);
    EXPECT_EQ(h.misc_flags, MISC_NO_ROOT_DIR);
    EXPECT_EQ(h.default_install_dir, m.header.default_install_dir);
    // The language tables come first after the header block.
    EXPECT_EQ(h.language_table, 0);

    Bytes languages = view.block_at(h.language_table);
    ASSERT_EQ(languages.size(), 2 * sizeof(LanguageRecord));
    LanguageRecord fr;
    std::memcpy(&fr, &languages[sizeof(LanguageRecord)], sizeof(fr));
    EXPECT_EQ(fr.lang_id, 1036);
    EXPECT_EQ(fr.reserved, 0xFFFF);
    EXPECT_EQ(fr.strings[LS_CAPTION], m.languages[1].strings[LS_CAPTION]);
    EXPECT_EQ(fr.strings[LS_BRANDING], -1);
    Bytes texts = view.block_at(h.page_text_table);
    ASSERT_EQ(texts.size(), 2u * 60u);
    EXPECT_EQ((int32_t)le32(texts, 4 * PT_NEXT), m.languages[0].page_texts[PT_NEXT]);
    EXPECT_EQ((int32_t)le32(texts, 60), -1);

    // Entries refer to their payloads by offset.
    ScriptEntry e0 = view.record<ScriptEntry>(152 + 48);
    ScriptEntry e1 = view.record<ScriptEntry>(152 + 48 + 24);
    EXPECT_EQ(view.block_at(e0.p2), Bytes(1000, 7));
    EXPECT_EQ(view.block_at(e1.p2), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(view.block_at(e1.p4), Bytes{});
    // Blocks follow one another: a read at the current position after the
    // first payload finds the second.
    EXPECT_EQ(block.payload_offsets[1], block.payload_offsets[0] + 4 + 3);

    // The pool follows the entries, up to the end of the header block.
    const uint8_t* pool = &block.stream[4 + 152 + 48 + 72];
    EXPECT_STREQ((const char*)pool + m.languages[0].strings[LS_CAPTION], "Sample Setup");
}

TEST(DataBlockWriter, UninstallerImageBlockCarriesItsOwnCrc) {
    DataBlockModel m = sample_installer();
    auto un = std::make_shared<DataBlockModel>(true);
    Language en(1033, true);
    en.page_texts[UPT_UNINSTALL] = un->pool.add_text("Uninstall");
    un->languages = {en};
    un->entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    un->uninstall_header.uninstall_code = 0;
    m.uninstaller_model = un;
    m.patches = {{600, {'P', 'A', 'T', 'C', 'H'}}};

    Bytes stub(1500, 0x5A);
    // The stub copy is as long as the part before the installer's FirstHeader,
    // however far the installer pads its stub.
    for (size_t alignment : {512, 2048}) {
    SCOPED_TRACE(alignment);
    DataBlock block;
    std::string error;
    ASSERT_TRUE(lay_out_data_block(m, stub, identity, block, error, alignment)) << error;
    StreamView view{block.stream};
    InstallHeader h = view.record<InstallHeader>(0);
    ASSERT_GE(h.uninstaller_patch, 0);
    Bytes patch = view.block_at(h.uninstaller_patch);
    EXPECT_EQ(h.uninstaller_patch_length, (int32_t)patch.size());
    ASSERT_EQ(patch.size(), 4u + 8u + 5u);
    EXPECT_EQ(le32(patch, 0), 1u);
    EXPECT_EQ(le32(patch, 4), 5u);
    EXPECT_EQ(le32(patch, 8), 600u);

    // The image block follows the patch block directly.
    Bytes image_block = view.block_at(h.uninstaller_patch + 4 + (int32_t)patch.size());
    ASSERT_GT(image_block.size(), 28u);
    EXPECT_GT(first_header_total_length(image_block.data()), 0);
    EXPECT_EQ(le32(image_block, 0), FH_CRC | FH_UNINSTALLER);
    EXPECT_EQ((size_t)first_header_total_length(image_block.data()), image_block.size());

    // Its CRC holds for the patched stub copy (padded to 1536 or 2048) followed by it.
    Bytes written(alignment == 512 ? 1536 : 2048, 0);
    std::memcpy(written.data(), stub.data(), stub.size());
    std::memcpy(&written[600], "PATCH", 5);
    written.insert(written.end(), image_block.begin(), image_block.end());
    uint32_t stored = le32(written, written.size() - 4);
    EXPECT_EQ(stored, (uint32_t)crc32(0, &written[512], (uInt)(written.size() - 4 - 512)));

    // Inside: an uninstall header block with its 3-entry page texts.
    const size_t inner = 28;
    const uint32_t inner_header = le32(image_block, inner);
    EXPECT_EQ(inner_header, 76u + 24u + un->pool.bytes().size());
    UninstallHeader uh;
    std::memcpy(&uh, &image_block[inner + 4], sizeof(uh));
    EXPECT_EQ(uh.language_count, 1);
    EXPECT_EQ(uh.entry_count, 1);
    uint32_t texts_length = le32(image_block, inner + 4 + inner_header + uh.page_text_table);
    EXPECT_EQ(texts_length, 12u);
    }
}

TEST(DataBlockWriter, RefusesInconsistentModels) {
    struct Case {
        const char* what;
        std::function<void(DataBlockModel&)> spoil;
    } cases[] = {
        {"no language", [](DataBlockModel& m) { m.languages.clear(); }},
        {"page texts of the wrong variant", [](DataBlockModel& m) { m.languages[0].page_texts.resize(3); }},
        {"reference to a missing payload", [](DataBlockModel& m) { m.block_references.push_back({0, 1, 99}); }},
        {"reference to a missing entry", [](DataBlockModel& m) { m.block_references.push_back({99, 1, 0}); }},
        {"reference to parameter 5", [](DataBlockModel& m) { m.block_references.push_back({0, 5, 0}); }},
        {"patch past the stub", [](DataBlockModel& m) {
             m.uninstaller_model = std::make_shared<DataBlockModel>(true);
             m.uninstaller_model->languages = {Language(1033, true)};
             m.patches = {{510, {1, 2, 3}}};
         }},
    };
    for (const Case& c : cases) {
        DataBlockModel m = sample_installer();
        c.spoil(m);
        DataBlock block;
        std::string error;
        EXPECT_FALSE(lay_out_data_block(m, Bytes(100, 1), identity, block, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(DataBlockWriter, BuildsAFinishedImage) {
    DataBlockModel m = sample_installer();
    Bytes image;
    std::string error;
    ImageOptions options;
    options.flags = FH_CRC | FH_UNINSTALLER;  // the model decides the variant
    ASSERT_TRUE(build_installer(m, Bytes(700, 1), identity, options, image, error)) << error;
    EXPECT_EQ(le32(image, 1024), FH_CRC);
    DataBlock block;
    ASSERT_TRUE(lay_out_data_block(m, {}, identity, block, error));
    EXPECT_EQ((int32_t)le32(image, 1024 + 20), block.header_length);
    EXPECT_TRUE(std::equal(block.stream.begin(), block.stream.end(), image.begin() + 1024 + 28));
}

}  // namespace
}  // namespace quillmar
