#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <fstream>
#include <string>
#include <vector>

#include "builder/datablock_writer.h"
#include "builder/description.h"

namespace quillmar {
namespace {

std::string pool_string(const DataBlockModel& m, int32_t offset) {
    if (offset < 0) return "<none>";
    const std::vector<uint8_t>& bytes = m.pool.bytes();
    std::string s;
    for (size_t i = (size_t)offset; i < bytes.size() && bytes[i] != 0; ++i) s += (char)bytes[i];
    return s;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// A directory of payload files for one test.
struct Files {
    std::filesystem::path dir;
    explicit Files(const char* name) : dir(std::filesystem::temp_directory_path() / name) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "files");
    }
    ~Files() { std::filesystem::remove_all(dir); }
    void write(const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary) << content;
    }
};

const char* const kDescription = R"(# sample description
script = '''
init:
    end
core:
    create_directory "{install_dir}", true
    extract_file always, "readme.txt", "files/readme.txt"
    extract_file always, "again.txt", "files/readme.txt"
    end
extras:
    end
'''

[installer]
default_install_dir = '{program_files}\Example'
install_dir_registry = { root = "HKLM", key = 'Software\Example', value = "InstallDir" }
pages = ["license", "directory"]
license_file = "license.txt"
details = "shown"
auto_close = true
no_root_dir = true
smooth_progress = true
install_types = ["Full", "Minimal"]
install_type_mode = 1

[callbacks]
on_init = "init"
on_verify_dir = "init"

[[sections]]
name = "Program"
code = "core"
read_only = true
install_types = [0, 1]
size_kb = 120

[[sections]]
name = "-Extras"
code = "extras"
selected = false
expanded = true

[[languages]]
id = 1033
texts = { caption = "Example Setup", next = "Continue >" }

[[languages]]  # français
id = 1036
texts = { cancel = "Annuler l’installation" }
)";

TEST(Description, FillsHeaderSectionsLanguagesAndPayloads) {
    Files files("qm_description_full");
    files.write("files/readme.txt", "read me");
    files.write("license.txt", "Licence \xC3\xA9");
    DataBlockModel m;
    std::vector<std::string> errors;
    ASSERT_TRUE(load_description(kDescription, "example.toml", files.dir.string(), m, errors)) << joined(errors);

    const InstallHeader& h = m.header;
    EXPECT_EQ(pool_string(m, h.default_install_dir), "\xF5\\Example");
    EXPECT_EQ(h.install_dir_reg_root, 0x80000002u);
    EXPECT_EQ(pool_string(m, h.install_dir_reg_key), "Software\\Example");
    EXPECT_EQ(pool_string(m, h.install_dir_reg_value), "InstallDir");
    EXPECT_EQ(h.details_mode, 1);
    EXPECT_EQ(h.misc_flags, MISC_AUTO_CLOSE | MISC_NO_ROOT_DIR);
    EXPECT_EQ(h.progress_flags, PROGRESS_SMOOTH);
    EXPECT_EQ(pool_string(m, h.install_type_names[1]), "Minimal");
    EXPECT_EQ(h.install_type_names[2], REF_NONE);
    EXPECT_EQ(h.install_type_mode, 1);
    EXPECT_EQ(h.on_init, 0);
    EXPECT_EQ(h.on_verify_dir, 0);
    EXPECT_EQ(h.on_success, REF_NONE);

    ASSERT_EQ(m.sections.size(), 2u);
    EXPECT_EQ(h.section_count, 2);
    EXPECT_EQ(pool_string(m, m.sections[0].name), "Program");
    EXPECT_EQ(m.sections[0].code, 1);
    EXPECT_EQ(m.sections[0].entry_count, 3);
    EXPECT_EQ(m.sections[0].flags, SECTION_SELECTED | SECTION_READ_ONLY | 3u);
    EXPECT_EQ(m.sections[0].size_kb, 120);
    EXPECT_EQ(m.sections[1].code, 5);
    EXPECT_EQ(m.sections[1].entry_count, 0);
    EXPECT_EQ(m.sections[1].flags, 0u);
    EXPECT_EQ(m.sections[1].expanded, 1);

    // One payload for the file named twice.
    ASSERT_EQ(m.payloads.size(), 1u);
    EXPECT_EQ(std::string(m.payloads[0].begin(), m.payloads[0].end()), "read me");
    ASSERT_EQ(m.block_references.size(), 2u);
    EXPECT_EQ(m.block_references[0].entry, 2u);
    EXPECT_EQ(m.block_references[1].entry, 3u);

    ASSERT_EQ(m.languages.size(), 2u);
    const Language& en = m.languages[0];
    const Language& fr = m.languages[1];
    EXPECT_EQ(en.lang_id, 1033);
    EXPECT_EQ(pool_string(m, en.strings[LS_CAPTION]), "Example Setup");
    EXPECT_EQ(pool_string(m, en.page_texts[PT_NEXT]), "Continue >");
    EXPECT_EQ(pool_string(m, en.page_texts[PT_BACK]), "< &Back");
    EXPECT_EQ(fr.lang_id, 1036);
    EXPECT_EQ(pool_string(m, fr.strings[LS_CAPTION]), "Installation");
    EXPECT_EQ(pool_string(m, fr.strings[LS_CANCEL]), "Annuler l\x92installation");
    // Texts shown as stored keep their letters unescaped; expanded ones get
    // the escape and the placeholder codes.
    EXPECT_EQ(pool_string(m, fr.strings[LS_LOG_DIR_CREATED]), "Cr\xE9" "ation du dossier : ");
    std::string question = pool_string(m, fr.strings[LS_FILE_OPEN_FAILED]);
    EXPECT_NE(question.find("\xFF\xE9" "criture"), std::string::npos);
    EXPECT_NE(question.find('\xDC'), std::string::npos);
    EXPECT_EQ(pool_string(m, fr.page_texts[PT_LICENSE_TEXT]), "Licence \xE9");
    EXPECT_EQ(fr.page_texts[PT_COMPONENTS_INTRO], REF_NONE);  // no components page
    EXPECT_GE(fr.page_texts[PT_DIR_INTRO], 0);
    for (const Language* lang : {&en, &fr})
        for (int i = 0; i < LANG_STRING_COUNT; ++i)
            if (i != LS_UNUSED_5) {
                EXPECT_GE(lang->strings[i], 0) << lang->lang_id << " role " << i;
            }

    // The model lays out as a data block.
    DataBlock block;
    std::string error;
    ASSERT_TRUE(lay_out_data_block(m, {}, [](const Bytes& b) { return b; }, block, error)) << error;
}

TEST(Description, ReportsErrorsByLineOfTheDescriptionAndChangesNothing) {
    struct Case {
        const char* toml;
        const char* error;
    };
    const Case cases[] = {
        {"script = '''\nend\nbogus 1\n'''\n[[languages]]\nid = 1033\n",
         "d.toml:3: column 1: unknown instruction 'bogus'"},
        {"script = '''end\n  jump nowhere\nend'''\n[[languages]]\nid = 1033\n",
         "d.toml:2: column 8: unknown label 'nowhere'"},
        {"script = '''\nend\n'''\n[callbacks]\non_init = \"start\"\n[[languages]]\nid = 1033\n",
         "d.toml:5: on_init: the script has no label 'start'"},
        {"script = '''\nend\n'''\n[callbacks]\non_start = \"x\"\n[[languages]]\nid = 1033\n",
         "d.toml:5: unknown callback 'on_start'"},
        {"script = '''\nend\n'''\n[[languages]]\nid = 1033\ntexts = { nxt = \"x\" }\n",
         "d.toml:6: unknown language text 'nxt'"},
        {"script = '''\nend\n'''\n[[languages]]\nid = 1049\n",
         "d.toml:4: language 1049 has no built-in texts; its texts lack branding, cancel, "},
        {"script = '''\nend\n'''\n[[languages]]\nid = 1033\ntexts = { caption = \"\xE4\xB8\xAD\" }\n",
         "d.toml:6: caption, character 1: character \xE4\xB8\xAD (U+4E2D) has no equivalent in Windows-1252"},
        {"script = '''\nend\n'''\n", "d.toml:1: the description has no [[languages]]"},
        {"script = '''\nend\n'''\ncolour = 1\n[[languages]]\nid = 1033\n", "d.toml:4: unknown setting 'colour'"},
        {"script = '''\nend\n'''\n[installer]\ndetails = \"loud\"\n[[languages]]\nid = 1033\n",
         "d.toml:5: details must be \"hidden\", \"shown\" or \"none\""},
        {"script = '''\nend\n'''\n[installer]\npages = [\"license\"]\n[[languages]]\nid = 1033\n",
         "d.toml:4: the license page needs license_file = \"file\""},
        {"script = '''\n  extract_file always, \"a\", \"missing.bin\"\nend\n'''\n[[languages]]\nid = 1033\n",
         "d.toml:2: column 29: cannot read the payload file 'missing.bin'"},
        {"script = '''\nend\n'''\n[[sections]]\nname = \"S\"\n[[languages]]\nid = 1033\n",
         "d.toml:4: a section needs its code = \"label\""},
        {"script = = 1\n", "d.toml:1: "},
        {"script = '''\nend\n'''\n[installer]\nauto_closee = true\n[[languages]]\nid = 1033\n",
         "d.toml:5: unknown setting 'auto_closee' in [installer]"},
        {"script = '''\nend\n'''\n[[languages]]\nid = 1033\n[[languages]]\nid = 1033\n",
         "d.toml:7: language 1033 is given twice"},
        {"script = '''\nend\n'''\n\xC3\xA9 = 1\n[[languages]]\nid = 1033\n",
         "d.toml:4: a character other than ASCII outside a string or comment"},
        {"a = \"\\\"\xCA\xA4\"\n\xCA\xA4\n", "d.toml:2: a character other than ASCII outside a string or comment"},
    };
    Files files("qm_description_errors");
    for (const Case& c : cases) {
        DataBlockModel m;
        m.pool.add_text("kept");
        size_t pool_size = m.pool.bytes().size();
        std::vector<std::string> errors;
        EXPECT_FALSE(load_description(c.toml, "d.toml", files.dir.string(), m, errors)) << c.toml;
        ASSERT_FALSE(errors.empty()) << c.toml;
        EXPECT_EQ(errors[0].compare(0, std::string(c.error).size(), c.error), 0) << errors[0];
        EXPECT_EQ(m.pool.bytes().size(), pool_size);
        EXPECT_TRUE(m.entries.empty());
        EXPECT_TRUE(m.languages.empty());
    }
}

TEST(Description, RoleNamesAreUnique) {
    std::vector<std::string> roles = language_text_roles();
    std::set<std::string> unique(roles.begin(), roles.end());
    EXPECT_EQ(unique.size(), roles.size());
    EXPECT_EQ(roles.size(), (size_t)(LANG_STRING_COUNT - 1 + INSTALL_PAGE_TEXT_COUNT - 1));
}

}  // namespace
}  // namespace quillmar
