#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "builder/datablock_writer.h"
#include "builder/description.h"
#include "builder/opcodes.h"
#include "datablock/opcodes.h"
#include "datablock/string_codes.h"
#include "resources/resource_ids.h"
#include "tests/file_helpers.h"

namespace quillmar {
namespace {

std::string pool_string(const DataBlockModel& m, int32_t offset) {
    if (offset < 0) return "<none>";
    const std::vector<uint8_t>& bytes = m.pool.bytes();
    std::string s;
    for (size_t i = (size_t)offset; i < bytes.size() && bytes[i] != 0; ++i) s += (char)bytes[i];
    return s;
}

std::string joined(const std::vector<Diagnostic>& diagnostics) {
    std::string s;
    for (const Diagnostic& d : diagnostics) s += d.text() + "\n";
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
        test_files::write_text(dir / name, content);
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
    std::vector<Diagnostic> errors;
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

// Every variant of English or French takes that language's built-in texts.
TEST(Description, LanguageVariantsTakeTheBuiltInTexts) {
    const struct {
        int id;
        const char* cancel;
    } cases[] = {{2057, "Cancel"}, {3081, "Cancel"}, {2060, "Annuler"}, {3084, "Annuler"}};
    for (const auto& c : cases) {
        const std::string text = "script = '''\nend\n'''\n[[languages]]\nid = " + std::to_string(c.id) + "\n";
        DataBlockModel m;
        std::vector<Diagnostic> errors;
        ASSERT_TRUE(load_description(text, "d.toml", ".", m, errors)) << c.id << ": " << joined(errors);
        ASSERT_EQ(m.languages.size(), 1u);
        EXPECT_EQ(m.languages[0].lang_id, c.id);
        EXPECT_EQ(pool_string(m, m.languages[0].strings[LS_CANCEL]), c.cancel) << c.id;
    }
}

// Pieces of the error descriptions: an empty script, and one language.
#define S "script = '''\nend\n'''\n"
#define L "[[languages]]\nid = 1033\n"

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
         "d.toml:6: language 1033 has no license: the license page needs license_file = \"file\" in [installer] or "
         "in the language's table"},
        {S "[installer]\nlicense_file = 5\n" L, "d.toml:5: license_file must be a string"},
        {S "[[languages]]\nid = 1033\nlicense_file = true\n", "d.toml:6: license_file must be a string"},
        {S "[installer]\npages = [\"license\"]\n[[languages]]\nid = 1033\nlicense_file = \"gone.txt\"\n",
         "d.toml:8: cannot read the license file 'gone.txt'"},
        {"script = '''\n  extract_file always, \"a\", \"missing.bin\"\nend\n'''\n[[languages]]\nid = 1033\n",
         "d.toml:2: column 29: cannot read the payload file 'missing.bin'"},
        {"script = '''\nend\n'''\n[[sections]]\nname = \"S\"\n[[languages]]\nid = 1033\n",
         "d.toml:4: a section needs its code = \"label\""},
        // only a subsection's start or end may go without code
        {S "[[sections]]\nselected = true\n" L, "d.toml:4: a section needs its code = \"label\""},
        {S "[[sections]]\nname = \"!-Bold\"\n" L, "d.toml:4: a section needs its code = \"label\""},
        {S "[[sections]]\nname = \" -Spaced\"\n" L, "d.toml:4: a section needs its code = \"label\""},
        {S "[[sections]]\nname = \"-G\"\ndescription = \"\xE4\xB8\xAD\"\n" L,
         "d.toml:6: section description, character 1: character \xE4\xB8\xAD (U+4E2D) has no equivalent"},
        {S "[[sections]]\nname = \"-G\"\ndescription = 3\n" L, "d.toml:6: section description must be a string"},
        {"script = = 1\n", "d.toml:1: "},
        {"script = '''\nend\n'''\n[installer]\nauto_closee = true\n[[languages]]\nid = 1033\n",
         "d.toml:5: unknown setting 'auto_closee' in [installer]"},
        {"script = '''\nend\n'''\n[[languages]]\nid = 1033\n[[languages]]\nid = 1033\n",
         "d.toml:7: language 1033 is given twice"},
        {"script = '''\nend\n'''\n\xC3\xA9 = 1\n[[languages]]\nid = 1033\n",
         "d.toml:4: a character other than ASCII outside a string or comment"},
        {"a = \"\\\"\xCA\xA4\"\n\xCA\xA4\n", "d.toml:2: a character other than ASCII outside a string or comment"},
        // header settings: types, values, unknown keys
        {S "[installer]\ncrc = \"yes\"\n" L, "d.toml:5: crc must be true or false"},
        {S "[installer]\ncrc = false\nforce_crc = true\n" L, "d.toml:6: force_crc needs crc = true"},
        {S "[installer]\nlicense_background = \"#12345\"\n" L,
         "d.toml:5: license_background must be a colour \"#RRGGBB\" or \"none\""},
        {S "[installer]\nbackground_window = { top = \"#000000\" }\n" L,
         "d.toml:5: background_window needs top and bottom colours"},
        {S "[installer]\nbackground_window = { top = \"none\", bottom = \"#000000\" }\n" L,
         "d.toml:5: background_window needs real top and bottom colours"},
        {S "[installer]\nbackground_window = { top = \"#000000\", bottom = \"#000000\", txt = \"#FFFFFF\" }\n" L,
         "d.toml:5: unknown setting 'txt' in background_window"},
        {S "[installer]\ndetails_colours = \"#000000\"\n" L, "d.toml:5: details_colours must be a table"},
        {S "[installer]\ninstall_dir_registry = { root = \"HKLM\", key = 'K', value = 'V', default = 'D' }\n" L,
         "d.toml:5: unknown setting 'default' in install_dir_registry"},
        {S "[installer]\ninstall_dir_registry = { root = \"HKXX\", key = 'K', value = 'V' }\n" L,
         "d.toml:5: unknown registry root 'HKXX'"},
        {"script = '''\ns: end\n'''\n[installer]\ninstall_types = [\"Full\"]\n[[sections]]\ncode = \"s\"\n"
         "install_types = [0, 1]\n" L,
         "d.toml:8: install type 1 is not among the 1 install_types of [installer]"},
        {S "[[languages]]\nid = 1041\ncode_page = 932\n", "d.toml:6: code page 932 is not supported (supported: 1252)"},
        {S "[[languages]]\nid = 1033\ncode_page = \"1252\"\n", "d.toml:6: code_page must be an integer"},
        // payload files of the conveniences
        {"script = '''\n  file \"files/none.txt\"\nend\n'''\n" L,
         "d.toml:2: column 8: cannot read the payload file 'files/none.txt': No such file or directory"},
        {"script = '''\n  files \"nothere\"\nend\n'''\n" L,
         "d.toml:2: column 9: cannot read the payload folder 'nothere': it does not exist"},
        {"script = '''\n  file \"files\"\nend\n'''\n" L,
         "d.toml:2: column 8: cannot read the payload file 'files': it is a folder, not a file"},
        // the uninstaller
        {"script = '''\n  write_uninstaller \"u.exe\"\nend\n'''\n" L,
         "d.toml:2: write_uninstaller needs an [uninstaller] table"},
        {S L "[uninstaller]\nscript = '''\nend\n'''\n", "d.toml:6: [uninstaller] needs its code = \"label\""},
        {S L "[uninstaller]\ncode = \"u\"\n", "d.toml:6: [uninstaller] script = '''...''' must be given"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[uninstaller.callbacks]\non_init = \"nope\"\n",
         "d.toml:12: on_init: the script has no label 'nope'"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[uninstaller.callbacks]\non_verify_dir = \"u\"\n",
         "d.toml:12: unknown callback 'on_verify_dir' in [uninstaller.callbacks]"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: write_uninstaller \"again.exe\"\nend\n'''\n",
         "d.toml:9: the uninstaller cannot write an uninstaller"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[[uninstaller.languages]]\nid = 1033\n"
             "texts = { next = \"x\" }\n",
         "d.toml:13: unknown uninstaller language text 'next'"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[[uninstaller.languages]]\nid = 1036\n"
             "texts = { caption = \"\xE4\xB8\xAD\" }\n",
         "d.toml:13: caption, character 1: character \xE4\xB8\xAD (U+4E2D) has no equivalent in Windows-1252"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[[uninstaller.languages]]\nid = 1049\n",
         "d.toml:11: uninstaller language 1049 has no built-in texts; its texts lack branding"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\npages = [\"license\"]\n",
         "d.toml:11: unknown page (confirm)"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\ndefault_install_dir = 'C:\\x'\n",
         "d.toml:11: unknown setting 'default_install_dir' in [uninstaller]"},
        {S L "[uninstaller]\ncode = \"u\"\nscript = '''\nu: end\n'''\n[[uninstaller.languages]]\nid = 1033\n"
             "license_file = \"l.txt\"\n",
         "d.toml:13: unknown setting 'license_file' in [[uninstaller.languages]]"},
    };
    Files files("qm_description_errors");
    for (const Case& c : cases) {
        DataBlockModel m;
        m.pool.add_text("kept");
        size_t pool_size = m.pool.bytes().size();
        std::vector<Diagnostic> errors;
        EXPECT_FALSE(load_description(c.toml, "d.toml", files.dir.string(), m, errors)) << c.toml;
        ASSERT_FALSE(errors.empty()) << c.toml;
        EXPECT_EQ(errors[0].text().compare(0, std::string(c.error).size(), c.error), 0) << errors[0].text();
        EXPECT_EQ(m.pool.bytes().size(), pool_size);
        EXPECT_TRUE(m.entries.empty());
        EXPECT_TRUE(m.languages.empty());
    }
}

TEST(Description, RoleNamesAreUnique) {
    // Every text has a role but dword 5 and the license text (from its file);
    // an uninstaller has no pages 2 and 3, so dwords 10 and 11 go too.
    for (bool un : {false, true}) {
        std::vector<std::string> roles = language_text_roles(un);
        std::set<std::string> unique(roles.begin(), roles.end());
        EXPECT_EQ(unique.size(), roles.size());
        EXPECT_EQ(roles.size(), un ? (size_t)(LANG_STRING_COUNT - 3 + UNINSTALL_PAGE_TEXT_COUNT)
                                   : (size_t)(LANG_STRING_COUNT - 1 + INSTALL_PAGE_TEXT_COUNT - 1));
    }
}

}  // namespace
}  // namespace quillmar

namespace quillmar {
namespace {

DataBlockModel loaded(const std::string& toml, const std::string& base_dir = "") {
    DataBlockModel m;
    std::vector<Diagnostic> errors;
    EXPECT_TRUE(load_description(toml, "d.toml", base_dir, m, errors)) << toml << "\n" << joined(errors);
    return m;
}

TEST(Description, HeaderSettingsAndTheirDefaults) {
    const uint32_t none = 0xFFFFFFFFu;
    struct Case {
        const char* installer;
        std::function<void(const DataBlockModel&)> check;
    };
    const Case cases[] = {
        {"", [&](const DataBlockModel& m) {
             const InstallHeader& h = m.header;
             EXPECT_EQ(m.image_flags, FH_CRC);
             for (uint32_t c : {h.background_top_colour, h.background_bottom_colour, h.background_text_colour,
                                h.list_background_colour, h.list_text_colour, h.license_background_colour})
                 EXPECT_EQ(c, none);
             EXPECT_EQ(h.unused_dword9, -1);
             EXPECT_EQ(h.details_mode, 0);
             EXPECT_EQ(h.misc_flags, 0);
             EXPECT_EQ(h.progress_flags, 0);
             EXPECT_EQ(h.silent, 0);
             EXPECT_EQ(h.install_dir_reg_key, REF_NONE);
             EXPECT_EQ(h.default_install_dir, REF_NONE);
             EXPECT_EQ(h.install_type_names[0], REF_NONE);
             EXPECT_EQ(h.uninstaller_patch, REF_NONE);
             EXPECT_FALSE(m.uninstaller_model);
             // Only the directory page.
             const Language& en = m.languages[0];
             EXPECT_GE(en.page_texts[PT_DIR_INTRO], 0);
             EXPECT_EQ(en.page_texts[PT_COMPONENTS_INTRO], REF_NONE);
             EXPECT_EQ(en.page_texts[PT_LICENSE_TEXT], REF_NONE);
         }},
        {"crc = false", [](const DataBlockModel& m) { EXPECT_EQ(m.image_flags, 0u); }},
        {"force_crc = true\nsilent = true",
         [](const DataBlockModel& m) { EXPECT_EQ(m.image_flags, FH_CRC | FH_FORCE_CRC | FH_SILENT); }},
        {"background_window = { top = \"#102030\", bottom = \"#000080\" }", [&](const DataBlockModel& m) {
             EXPECT_EQ(m.header.background_top_colour, 0x302010u);
             EXPECT_EQ(m.header.background_bottom_colour, 0x800000u);
             EXPECT_EQ(m.header.background_text_colour, none);
         }},
        {"background_window = { top = \"#000000\", bottom = \"#FFFFFF\", text = \"#ff8000\" }",
         [](const DataBlockModel& m) { EXPECT_EQ(m.header.background_text_colour, 0x0080FFu); }},
        {"details_colours = { text = \"#00FF00\" }", [&](const DataBlockModel& m) {
             EXPECT_EQ(m.header.list_text_colour, 0x00FF00u);
             EXPECT_EQ(m.header.list_background_colour, none);
         }},
        {"details_colours = { background = \"none\", text = -1 }", [&](const DataBlockModel& m) {
             EXPECT_EQ(m.header.list_background_colour, none);
             EXPECT_EQ(m.header.list_text_colour, none);
         }},
        {"license_background = \"#FFFFFF\"",
         [](const DataBlockModel& m) { EXPECT_EQ(m.header.license_background_colour, 0xFFFFFFu); }},
        {"skip_dir_page_if_valid = true\ndetails = \"none\"\ncoloured_progress = true", [](const DataBlockModel& m) {
             EXPECT_EQ(m.header.misc_flags, MISC_SKIP_DIR_PAGE_IF_VALID);
             EXPECT_EQ(m.header.details_mode, 2);
             EXPECT_EQ(m.header.progress_flags, PROGRESS_COLOURED);
         }},
        {"pages = []", [](const DataBlockModel& m) { EXPECT_EQ(m.languages[0].page_texts[PT_DIR_INTRO], REF_NONE); }},
        {"pages = [\"components\"]", [](const DataBlockModel& m) {
             EXPECT_GE(m.languages[0].page_texts[PT_COMPONENTS_INTRO], 0);
             EXPECT_EQ(m.languages[0].page_texts[PT_DIR_INTRO], REF_NONE);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.installer);
        DataBlockModel m = loaded(std::string("script = '''\nend\n'''\n[installer]\n") + c.installer +
                                  "\n[[languages]]\nid = 1033\n");
        if (!m.languages.empty()) c.check(m);
    }
}

const char* const kWithUninstaller = R"(script = '''
core:   create_directory "{install_dir}", true
        write_uninstaller "uninstall.exe"
        end
'''
[installer]
silent = true
[[sections]]
code = "core"
[[languages]]
id = 1033
[[languages]]
id = 1036
texts = { caption = "Mon installation" }

[uninstaller]
crc = false
details = "shown"
auto_close = true
no_root_dir = true
details_colours = { background = "#000000" }
code = "remove"
script = '''
init:   end
remove: file "files/note.txt", "{temp}\note.txt"
        delete_file "{install_dir}\uninstall.exe"
        remove_directory "{install_dir}", true
        end
'''
[uninstaller.callbacks]
on_init = "init"
on_success = "init"
)";

TEST(Description, UninstallerGetsItsOwnDataBlock) {
    Files files("qm_description_uninstaller");
    files.write("files/note.txt", "note");
    DataBlockModel m = loaded(kWithUninstaller, files.dir.string());
    ASSERT_TRUE(m.uninstaller_model);
    const DataBlockModel& un = *m.uninstaller_model;
    EXPECT_TRUE(un.uninstaller);
    EXPECT_EQ(m.image_flags, FH_CRC | FH_SILENT);
    EXPECT_EQ(m.uninstaller_flags, 0u);

    const UninstallHeader& h = un.uninstall_header;
    EXPECT_EQ(h.uninstall_code, 1);
    EXPECT_EQ(h.uninstall_entry_count, 3);
    EXPECT_EQ(h.on_init, 0);
    EXPECT_EQ(h.on_success, 0);
    EXPECT_EQ(h.on_cancel, REF_NONE);
    EXPECT_EQ(h.misc_flags, MISC_AUTO_CLOSE | MISC_NO_ROOT_DIR);
    EXPECT_EQ(h.details_mode, 1);
    EXPECT_EQ(h.list_background_colour, 0u);
    EXPECT_EQ(h.background_top_colour, 0xFFFFFFFFu);

    // Its own entries, strings and payloads.
    ASSERT_EQ(un.entries.size(), 5u);
    EXPECT_EQ(un.entries[1].opcode, 21);
    EXPECT_EQ(pool_string(un, un.entries[1].p1), "\xFB\\note.txt");
    ASSERT_EQ(un.payloads.size(), 1u);
    EXPECT_TRUE(m.payloads.empty());

    // No languages of its own: the installer's, with the built-in uninstaller texts.
    ASSERT_EQ(un.languages.size(), 2u);
    const Language& en = un.languages[0];
    const Language& fr = un.languages[1];
    EXPECT_EQ(en.lang_id, 1033);
    EXPECT_EQ(fr.lang_id, 1036);
    ASSERT_EQ(en.page_texts.size(), (size_t)UNINSTALL_PAGE_TEXT_COUNT);
    EXPECT_EQ(pool_string(un, en.strings[LS_CAPTION]), "Uninstall");
    EXPECT_EQ(pool_string(un, fr.strings[LS_CAPTION]), "D\xFF\xE9sinstallation");  // expanded: escaped
    EXPECT_EQ(pool_string(un, fr.page_texts[UPT_UNINSTALL]), "&D\xE9sinstaller");   // shown as stored
    EXPECT_EQ(pool_string(un, en.page_texts[UPT_DIR_LABEL]), "Folder:");
    EXPECT_GE(en.page_texts[UPT_CONFIRM_INTRO], 0);
    EXPECT_EQ(pool_string(un, fr.strings[9]), " : Termin\xFF\xE9");
    for (const Language* lang : {&en, &fr})
        for (int i = 0; i < LANG_STRING_COUNT; ++i) {
            if (i == LS_UNUSED_5 || i == 10 || i == 11) EXPECT_EQ(lang->strings[i], REF_NONE) << i;
            else EXPECT_GE(lang->strings[i], 0) << lang->lang_id << " role " << i;
        }

    // Laid out: the image block after the patch block is an uninstaller
    // data block without CRC, holding this header.
    DataBlock block;
    std::string error;
    ASSERT_TRUE(lay_out_data_block(m, Bytes(1500, 0x5A), [](const Bytes& b) { return b; }, block, error)) << error;
    InstallHeader ih;
    std::memcpy(&ih, &block.stream[4], sizeof ih);
    ASSERT_GE(ih.uninstaller_patch, 0);
    const size_t base = 4 + (size_t)block.header_length;
    const size_t patch_at = base + (size_t)ih.uninstaller_patch;
    EXPECT_EQ(ih.uninstaller_patch_length, 4);  // no patches: the count alone
    const size_t image_at = patch_at + 4 + (size_t)ih.uninstaller_patch_length;
    uint32_t image_length;
    std::memcpy(&image_length, &block.stream[image_at], 4);
    const uint8_t* image = &block.stream[image_at + 4];
    EXPECT_EQ(first_header_total_length(image), (int32_t)image_length);
    uint32_t flags;
    std::memcpy(&flags, image, 4);
    EXPECT_EQ(flags, FH_UNINSTALLER);
    UninstallHeader inner;
    std::memcpy(&inner, image + 28 + 4, sizeof inner);
    EXPECT_EQ(inner.uninstall_code, 1);
    EXPECT_EQ(inner.uninstall_entry_count, 3);
    EXPECT_EQ(inner.language_count, 2);
    EXPECT_EQ(inner.entry_count, 5);

    // Languages of its own replace the inherited ones; pages = [] drops the
    // confirmation page.
    std::string own = std::string(kWithUninstaller) +
                      "[[uninstaller.languages]]\nid = 1036\ncode_page = 1252\ntexts = { caption = \"Retrait\" }\n";
    own.replace(own.find("code = \"remove\""), 15, "code = \"remove\"\npages = []");
    DataBlockModel m2 = loaded(own, files.dir.string());
    ASSERT_TRUE(m2.uninstaller_model);
    ASSERT_EQ(m2.uninstaller_model->languages.size(), 1u);
    const Language& only = m2.uninstaller_model->languages[0];
    EXPECT_EQ(only.lang_id, 1036);
    EXPECT_EQ(pool_string(*m2.uninstaller_model, only.strings[LS_CAPTION]), "Retrait");
    EXPECT_EQ(only.page_texts[UPT_CONFIRM_INTRO], REF_NONE);
    EXPECT_GE(only.page_texts[UPT_UNINSTALL], 0);
}

// The payload tree of the convenience tests, created in the order given.
void make_app(Files& files, bool reversed) {
    std::vector<std::pair<std::string, std::string>> tree = {
        {"app/one.bin", "1"}, {"app/doc/k.bin", std::string(1024, 'k')}, {"app/doc/big.bin", std::string(1025, 'b')}};
    if (reversed) std::reverse(tree.begin(), tree.end());
    std::filesystem::remove_all(files.dir / "app");
    for (const auto& f : tree) {
        std::filesystem::create_directories((files.dir / f.first).parent_path());
        files.write(f.first, f.second);
    }
    // one.bin: 2020-01-02 03:04:05.5 UTC; the others a day later.
    for (const auto& f : tree) {
        const long seconds = f.first == "app/one.bin" ? 1577934245 : 1577934245 + 86400;
        struct timespec times[2] = {{seconds, 500000000}, {seconds, 500000000}};
        ASSERT_EQ(utimensat(AT_FDCWD, (files.dir / f.first).c_str(), times, 0), 0);
    }
}

TEST(Description, ConveniencesStoreFileTimesAndComputeSectionSizes) {
    const char* toml = R"(script = '''
all:    create_directory "{install_dir}", true
        files "app"
        end
two:    file "app/one.bin", "first.bin"
        extract_file always, "big.bin", "app/doc/big.bin"
        end
fixed:  files "app/doc"
        end
empty:  end
'''
[[sections]]
name = "All"
code = "all"
[[sections]]
name = "Two"
code = "two"
[[sections]]
name = "Fixed"
code = "fixed"
size_kb = 99
[[sections]]
name = "Empty"
code = "empty"
[[languages]]
id = 1033
)";
    Files files("qm_description_conveniences");
    make_app(files, false);
    DataBlockModel m = loaded(toml, files.dir.string());
    ASSERT_EQ(m.sections.size(), 4u);
    // Sizes round each file up to whole KB: 1 + 1024 + 1025 bytes are 1 + 1 + 2 KB.
    EXPECT_EQ(m.sections[0].size_kb, 4);
    EXPECT_EQ(m.sections[1].size_kb, 3);
    EXPECT_EQ(m.sections[2].size_kb, 99);
    EXPECT_EQ(m.sections[3].size_kb, 0);
    EXPECT_EQ(m.sections[0].entry_count, 5);

    struct Expected {
        int32_t opcode;
        const char* name;
    };
    const Expected all[] = {{14, "\xF1"}, {21, "one.bin"}, {14, "\xF2\\doc"}, {21, "doc\\big.bin"}, {21, "doc\\k.bin"}};
    for (size_t i = 0; i < std::size(all); ++i) {
        const ScriptEntry& e = m.entries[i];
        EXPECT_EQ(e.opcode, all[i].opcode) << i;
        EXPECT_EQ(pool_string(m, e.opcode == OP_CREATE_DIRECTORY ? e.p0 : e.p1), all[i].name) << i;
    }
    EXPECT_EQ(m.entries[1].p3, (int32_t)0x4B104BC0);
    EXPECT_EQ(m.entries[1].p4, 0x01D5C119);
    EXPECT_EQ(m.entries[6].p3, (int32_t)0x4B104BC0);  // file "app/one.bin" too
    EXPECT_EQ(m.entries[3].p3, 0x757A0BC0);  // a day later
    EXPECT_EQ(m.entries[3].p4, 0x01D5C1E2);
    EXPECT_EQ(pool_string(m, m.entries[6].p1), "first.bin");
    EXPECT_EQ(m.entries[7].p3, -1);  // a plain extract_file stores no time
    // A file named twice is stored once.
    EXPECT_EQ(m.payloads.size(), 3u);

    // The same tree made in another order gives the same model.
    make_app(files, true);
    DataBlockModel again = loaded(toml, files.dir.string());
    ASSERT_EQ(again.entries.size(), m.entries.size());
    EXPECT_EQ(std::memcmp(again.entries.data(), m.entries.data(), m.entries.size() * sizeof(ScriptEntry)), 0);
    EXPECT_EQ(again.pool.bytes(), m.pool.bytes());
    EXPECT_EQ(again.payloads, m.payloads);
}

}  // namespace
}  // namespace quillmar

namespace quillmar {
namespace {

TEST(Description, SubsectionMarkersMayLeaveOutTheirCode) {
    const char* toml = R"(script = '''
core:   file "files/a.bin"
        end
'''
[[sections]]
name = "-Group"
[[sections]]
name = "!Item"
code = "core"
[[sections]]
name = "-!Bold group {var3}"
size_kb = 7
[[sections]]
name = "-"
[[sections]]
name = "-With code"
code = "core"
[[sections]]
name = "-"
[[languages]]
id = 1033
)";
    Files files("qm_description_markers");
    files.write("files/a.bin", std::string(1500, 'a'));
    DataBlockModel m = loaded(toml, files.dir.string());
    ASSERT_EQ(m.sections.size(), 6u);
    const struct {
        int32_t code, entry_count, size_kb;
    } expected[] = {{-1, 0, 0}, {0, 1, 2}, {-1, 0, 7}, {-1, 0, 0}, {0, 1, 2}, {-1, 0, 0}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m.sections[i].code, expected[i].code);
        EXPECT_EQ(m.sections[i].entry_count, expected[i].entry_count);
        EXPECT_EQ(m.sections[i].size_kb, expected[i].size_kb);
    }
    DataBlock block;
    std::string error;
    EXPECT_TRUE(lay_out_data_block(m, {}, [](const Bytes& b) { return b; }, block, error)) << error;
}

// An entry as text: the instruction's name, then each parameter by its kind
// (strings as the pool holds them, variables as $n, targets as @n).
std::string entry_text(const DataBlockModel& m, const ScriptEntry& e) {
    const OpcodeInfo* op = find_opcode(e.opcode);
    if (!op) return "opcode " + std::to_string(e.opcode);
    std::string s = op->name;
    const int32_t* p = &e.p0;
    for (int i = 0; i < 5; ++i) {
        ParamKind kind = op->params[i].kind;
        if (kind == ParamKind::unused) continue;
        if (kind == ParamKind::stack_value) kind = p[1] == STACK_PUSH ? ParamKind::string : ParamKind::slot;
        s += i ? ", " : " ";
        if (kind == ParamKind::string || kind == ParamKind::number)
            s += p[i] < 0 ? "none" : "\"" + pool_string(m, p[i]) + "\"";
        else if (kind == ParamKind::slot || kind == ParamKind::slot_or_none)
            s += p[i] < 0 ? "none" : "$" + std::to_string(p[i]);
        else if (kind == ParamKind::target)
            s += "@" + std::to_string(p[i]);
        else
            s += std::to_string(p[i]);
    }
    return s;
}

// What the hover callback does for one value of $var0, followed from `start`
// through its jumps: the texts it sends to the description box, the pushes
// left on the stack at its end and the target of its call (0: none).
struct Hover {
    std::vector<std::string> sent;
    int pushes = 0;
    int32_t called = 0;
    bool ended = false;
};

Hover follow_hover(const DataBlockModel& m, int32_t start, int var0) {
    Hover h;
    size_t at = (size_t)start;
    for (int steps = 0; steps < 1000 && at < m.entries.size(); ++steps) {
        const ScriptEntry& e = m.entries[at];
        int32_t target = 0;
        switch (e.opcode) {
            case OP_RETURN:
                h.ended = true;
                return h;
            case OP_STACK:
                h.pushes += e.p1 == STACK_PUSH ? 1 : -1;
                break;
            case OP_SEND_MESSAGE:
                if (pool_string(m, e.p2) == "12") h.sent.push_back(pool_string(m, e.p4));
                break;
            case OP_COMPARE_INT: {
                const int b = std::atoi(pool_string(m, e.p1).c_str());
                target = var0 == b ? e.p2 : var0 < b ? e.p3 : e.p4;
                break;
            }
            case OP_JUMP:
                target = e.p0;
                break;
            case OP_CALL:
                h.called = e.p0;
                break;
        }
        at = target > 0 ? (size_t)(target - 1) : at + 1;
    }
    return h;
}

TEST(Description, SectionDescriptionsMakeAHoverCallback) {
    // The script's labels have the names that a generated callback might
    // use; they must not meet.
    const std::string script = R"(script = '''
core:   end
done:   detail_output "{var0}"
section_1:
chain:  end
'''
)";
    const std::string sections = R"(
[[sections]]
name = "-Tools"
description = "All the tools"
[[sections]]
name = "!Editor"
code = "core"
description = "Edits \"files\" in {install_dir}, r\u00E9ellement\nSecond line"
[[sections]]
name = "Viewer"
code = "core"
[[sections]]
name = "-"
)";
    const std::string plain_sections = "[[sections]]\nname = \"Viewer\"\ncode = \"core\"\n";
    const std::string callback = "[callbacks]\non_mouse_over_section = \"done\"\n";
    const std::string v0 = std::string(1, (char)SC_USER_VAR), v1 = std::string(1, (char)(SC_USER_VAR + 1));
    const std::string tools = "All the tools";
    const std::string editor = "Edits \"files\" in \xF1, r\xFF\xE9" "ellement\nSecond line";
    const int32_t start = 3;  // after the script's three entries
    const std::vector<std::string> shape = {
        "stack \"" + v1 + "\", 0, 0",
        "find_window $1, \"#32770\", \"\", \"\xDB\", \"0\"",
        "get_dialog_item $1, \"" + v1 + "\", \"" + std::to_string(IDC_SECTION_DESCRIPTION) + "\"",
        "compare_int \"" + v0 + "\", \"0\", @11, @0, @0",
        "compare_int \"" + v0 + "\", \"1\", @13, @0, @0",
        "send_message none, \"" + v1 + "\", \"12\", \"0\", \"\"",
        "jump @15",
        "send_message none, \"" + v1 + "\", \"12\", \"0\", \"" + tools + "\"",
        "jump @15",
        "send_message none, \"" + v1 + "\", \"12\", \"0\", \"" + editor + "\"",
        "jump @15",
        "stack $1, 1, 0",
    };
    struct Case {
        const char* what;
        bool described, own_callback;
    };
    const Case cases[] = {
        {"descriptions alone", true, false},
        {"descriptions and the description's own hover callback", true, true},
        {"no description", false, false},
        {"no description, the description's own hover callback", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DataBlockModel m = loaded(script + (c.own_callback ? callback : "") +
                                  (c.described ? sections : plain_sections) + "[[languages]]\nid = 1033\n");
        if (!c.described) {
            // Nothing added: the hover callback is the description's own, or none.
            EXPECT_EQ(m.entries.size(), (size_t)start);
            EXPECT_EQ(m.header.on_mouse_over_section, c.own_callback ? 1 : REF_NONE);
            continue;
        }
        EXPECT_EQ(m.header.on_mouse_over_section, start);
        std::vector<std::string> expected = shape;
        if (c.own_callback) expected.push_back("call @2");  // the script's "done"
        expected.push_back("end");
        std::vector<std::string> got;
        for (size_t i = (size_t)start; i < m.entries.size(); ++i) got.push_back(entry_text(m, m.entries[i]));
        EXPECT_EQ(got, expected);

        // Each section shows its own description, an undescribed one an
        // empty text; $var1 is pushed and popped on every path.
        const std::vector<std::string> shown[] = {{tools}, {editor}, {""}, {""}};
        for (int section = 0; section < 4; ++section) {
            Hover h = follow_hover(m, start, section);
            EXPECT_TRUE(h.ended) << section;
            EXPECT_EQ(h.sent, shown[section]) << section;
            EXPECT_EQ(h.pushes, 0) << section;
            EXPECT_EQ(h.called, c.own_callback ? 2 : 0) << section;
        }
        DataBlock block;
        std::string error;
        EXPECT_TRUE(lay_out_data_block(m, {}, [](const Bytes& b) { return b; }, block, error)) << error;
    }
}

TEST(Description, EachLanguageMayHaveItsOwnLicense) {
    Files files("qm_description_licenses");
    files.write("license.txt", "Plain licence \xC3\xA9");
    files.write("fr.rtf", "\xEF\xBB\xBF{\\rtf1 Fran\xC3\xA7" "ais}");
    files.write("same.txt", "Plain licence \xC3\xA9");
    const char* toml = R"(script = '''
end
'''
[installer]
pages = ["license", "directory"]
license_file = "license.txt"
[[languages]]
id = 1033
[[languages]]
id = 1036
license_file = "fr.rtf"
[[languages]]
id = 3084
license_file = "fr.rtf"
[[languages]]
id = 2057
license_file = "license.txt"
[[languages]]
id = 3081
license_file = "same.txt"
)";
    DataBlockModel m = loaded(toml, files.dir.string());
    ASSERT_EQ(m.languages.size(), 5u);
    const int32_t en = m.languages[0].page_texts[PT_LICENSE_TEXT];
    const int32_t fr = m.languages[1].page_texts[PT_LICENSE_TEXT];
    EXPECT_EQ(pool_string(m, en), "Plain licence \xE9");
    // The byte order mark is gone, so the stub sees rich text.
    EXPECT_EQ(pool_string(m, fr), "{\\rtf1 Fran\xE7" "ais}");
    // One stored string per file and code page (and per content).
    EXPECT_EQ(m.languages[2].page_texts[PT_LICENSE_TEXT], fr);
    EXPECT_EQ(m.languages[3].page_texts[PT_LICENSE_TEXT], en);
    EXPECT_EQ(m.languages[4].page_texts[PT_LICENSE_TEXT], en);

    // Without the installer's license, every language lacking its own is
    // reported at its table, all of them.
    const std::string installer_license = "license_file = \"license.txt\"\n";
    std::string without = toml;
    without.erase(without.find(installer_license), installer_license.size());
    std::vector<Diagnostic> errors;
    DataBlockModel failed;
    EXPECT_FALSE(load_description(without, "d.toml", files.dir.string(), failed, errors));
    ASSERT_EQ(errors.size(), 1u) << joined(errors);
    EXPECT_EQ(errors[0].text(), "d.toml:6: language 1033 has no license: the license page needs license_file = "
                                "\"file\" in [installer] or in the language's table");
    without += "[[languages]]\nid = 2060\n";
    errors.clear();
    EXPECT_FALSE(load_description(without, "d.toml", files.dir.string(), failed, errors));
    ASSERT_EQ(errors.size(), 2u) << joined(errors);
    EXPECT_EQ(errors[1].text().substr(0, 40), "d.toml:20: language 2060 has no license:");

    // Without the license page, no license is needed and none is stored.
    std::string no_page = without;
    no_page.replace(no_page.find("\"license\", "), 11, "");
    DataBlockModel unlicensed = loaded(no_page, files.dir.string());
    for (const Language& lang : unlicensed.languages) EXPECT_EQ(lang.page_texts[PT_LICENSE_TEXT], REF_NONE);
}

TEST(Description, TheInstallTypeLabelOnlyWithInstallTypes) {
    std::string every_role;  // a language without built-in texts gives them all
    for (const std::string& role : language_text_roles())
        if (role != "components_type_label") every_role += role + " = \"x\", ";
    struct Case {
        const char* installer;
        std::string language;
        const char* label;  // nullptr: none stored
    };
    const Case cases[] = {
        {"", "id = 1033", nullptr},
        {"install_types = []", "id = 1036", nullptr},
        {"install_types = [\"Full\"]", "id = 1033", "Type of installation:"},
        {"", "id = 1033\ntexts = { components_type_label = \"Kind:\" }", "Kind:"},
        {"install_types = [\"Full\"]", "id = 1033\ntexts = { components_type_label = \"Kind:\" }", "Kind:"},
        // Not needed where it would not be shown.
        {"", "id = 1049\ntexts = { " + every_role.substr(0, every_role.size() - 2) + " }", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.installer) + " / " + c.language.substr(0, 40));
        DataBlockModel m = loaded(std::string("script = '''\nend\n'''\n[installer]\npages = [\"components\"]\n") +
                                  c.installer + "\n[[languages]]\n" + c.language + "\n");
        ASSERT_EQ(m.languages.size(), 1u);
        const int32_t label = m.languages[0].page_texts[PT_COMPONENTS_TYPE_LABEL];
        if (c.label) EXPECT_EQ(pool_string(m, label), c.label);
        else EXPECT_EQ(label, REF_NONE);
        EXPECT_GE(m.languages[0].page_texts[PT_COMPONENTS_TREE_LABEL], 0);
    }
    // With install types, a language without built-in texts must still give it.
    std::vector<Diagnostic> errors;
    DataBlockModel m;
    EXPECT_FALSE(load_description("script = '''\nend\n'''\n[installer]\ninstall_types = [\"Full\"]\n[[languages]]\n"
                                  "id = 1049\ntexts = { " + every_role.substr(0, every_role.size() - 2) + " }\n",
                                  "d.toml", "", m, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text(), "d.toml:6: language 1049 has no built-in texts; its texts lack components_type_label");
}

}  // namespace
}  // namespace quillmar
