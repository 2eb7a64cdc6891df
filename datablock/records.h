// Byte layout of the data block that the builder appends to the stub.
// Portable: no platform calls, used by the stub, the builder and the host tests.
// All integers are little-endian; every record is a plain array of 32-bit words
// (with one byte-sized group), so the structs below have no padding and their
// layouts are pinned by the static_asserts at the end of this file.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The stub uses the records in place and the builder writes them as they lie
// in memory: both only ever run on little-endian machines.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the data block is little-endian");

// A 32-bit field at any address, whatever its alignment.
inline uint32_t read_le32(const void* at) {
    const uint8_t* p = (const uint8_t*)at;
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// A value of -1 in a reference, colour or callback field means "none".
static const int32_t REF_NONE = -1;

// ---- FirstHeader -----------------------------------------------------------

static const uint32_t FH_CRC = 1u << 0;          // a CRC-32 follows the stream
static const uint32_t FH_UNINSTALLER = 1u << 1;  // header block is an UninstallHeader
static const uint32_t FH_SILENT = 1u << 2;       // run as if "/S" was given
static const uint32_t FH_FORCE_CRC = 1u << 3;    // "/NCRC" is ignored
static const uint32_t FH_KNOWN_FLAGS = 0x0Fu;    // any higher bit: not a FirstHeader

static const uint32_t FIRST_HEADER_MAGIC = 0xDEADBEEFu;
// "QuillmarInst" read as three little-endian words.
static const uint32_t FIRST_HEADER_SIG0 = 0x6C697551u;  // "Quil"
static const uint32_t FIRST_HEADER_SIG1 = 0x72616D6Cu;  // "lmar"
static const uint32_t FIRST_HEADER_SIG2 = 0x74736E49u;  // "Inst"

// The FirstHeader is only ever looked for at multiples of this alignment.
static const uint32_t FIRST_HEADER_ALIGN = 512;
// The first bytes of the file never enter the CRC.
static const uint32_t CRC_SKIP_BYTES = 512;

struct FirstHeader {
    uint32_t flags;
    uint32_t magic;
    uint32_t signature[3];
    int32_t header_length;  // header block length in the decompressed stream
    int32_t total_length;   // FirstHeader to end of data block, CRC included
};

// Returns the record's total_length when the 28 bytes at `p` form a
// FirstHeader, else 0 (a total_length of 0 is therefore never recognised).
int32_t first_header_total_length(const void* p);

// ---- Header records --------------------------------------------------------

// misc_flags bits (byte at offset 67 of either header record).
static const uint8_t MISC_AUTO_CLOSE = 1u << 0;
static const uint8_t MISC_SKIP_DIR_PAGE_IF_VALID = 1u << 1;
static const uint8_t MISC_NO_ROOT_DIR = 1u << 3;

// details_mode values.
enum DetailsMode {
    DETAILS_HIDDEN = 0,  // behind a button that shows the list
    DETAILS_SHOWN = 1,   // shown from the start, no button
    DETAILS_NONE = 2,    // neither list nor button
};

// install_type_mode values.
enum InstallTypeMode {
    INSTALL_TYPES_WITH_CUSTOM = 0,    // the list follows the check boxes and ends with a custom entry
    INSTALL_TYPES_FIXED = 1,          // no custom entry; the check boxes follow the chosen type
    INSTALL_TYPES_CUSTOM_TREE = 2,    // the section tree is shown only for the custom entry
};

// progress_flags bits.
static const uint8_t PROGRESS_SMOOTH = 1u << 0;
static const uint8_t PROGRESS_COLOURED = 1u << 1;

static const int MAX_INSTALL_TYPES = 8;

// The first 17 dwords are shared by InstallHeader and UninstallHeader.
#define QM_COMMON_HEADER_FIELDS                                            \
    int32_t language_count;                                               \
    int32_t language_table;   /* block offset */                          \
    int32_t page_text_table;  /* block offset */                          \
    int32_t entry_count;                                                  \
    uint32_t background_top_colour;                                       \
    uint32_t background_bottom_colour;                                    \
    uint32_t background_text_colour;                                      \
    uint32_t list_background_colour;                                      \
    uint32_t list_text_colour;                                            \
    int32_t unused_dword9; /* not read; the builder writes -1 */          \
    int32_t on_init;                                                      \
    int32_t on_success;                                                   \
    int32_t on_failure;                                                   \
    int32_t on_cancel;                                                    \
    int32_t on_next_page;                                                 \
    int32_t on_page_shown;                                                \
    uint8_t details_mode;                                                 \
    uint8_t progress_flags;                                               \
    uint8_t silent;                                                       \
    uint8_t misc_flags;

struct InstallHeader {
    QM_COMMON_HEADER_FIELDS
    uint32_t install_dir_reg_root;
    int32_t install_dir_reg_key;    // string; negative: no registry default
    int32_t install_dir_reg_value;  // string
    int32_t install_type_names[MAX_INSTALL_TYPES];
    uint32_t license_background_colour;
    int32_t default_install_dir;    // string
    int32_t uninstaller_patch;      // block offset; -1: none
    int32_t uninstaller_patch_length;
    int32_t install_type_mode;
    int32_t section_count;
    int32_t on_prev_page;
    int32_t on_verify_dir;
    int32_t on_mouse_over_section;
    int32_t on_selection_change;
};

struct UninstallHeader {
    QM_COMMON_HEADER_FIELDS
    int32_t uninstall_code;
    int32_t uninstall_entry_count;
};

#undef QM_COMMON_HEADER_FIELDS

// ---- Sections and script entries -------------------------------------------

static const uint32_t SECTION_SELECTED = 1u << 31;
static const uint32_t SECTION_READ_ONLY = 1u << 30;
static const uint32_t SECTION_INSTALL_TYPE_MASK = 0xFFu;

struct SectionRecord {
    int32_t name;  // string; negative: hidden section
    uint32_t flags;
    int32_t code;  // start index of the section's code segment
    int32_t entry_count;
    int32_t size_kb;
    int32_t expanded;
};

struct ScriptEntry {
    int32_t opcode;  // 1 ends a code segment
    int32_t p0, p1, p2, p3, p4;
};

// ---- Languages ---------------------------------------------------------------

static const int LANG_STRING_COUNT = 37;  // dwords 0..36 are string offsets

// Roles of the LanguageRecord string dwords.
enum LanguageString {
    LS_BRANDING = 0,
    LS_CANCEL = 1,
    LS_SHOW_DETAILS = 2,
    LS_COMPLETED = 3,
    LS_CLOSE = 4,
    LS_UNUSED_5 = 5,
    LS_CAPTION = 6,
    LS_PAGE_SUFFIX_0 = 7,  // 7 + page: caption suffix on that page
    LS_FILE_OPEN_FAILED = 12,
    LS_LOG_WRITE_FAILED = 13,
    LS_LOG_DIR_REMOVED = 14,
    LS_LOG_COPY_FAILED = 15,
    LS_LOG_COPY_TO = 16,
    LS_LOG_SYMBOL_NOT_FOUND = 17,
    LS_LOG_LIBRARY_NOT_LOADED = 18,
    LS_LOG_NO_OLE = 19,
    LS_LOG_SHORTCUT_CREATED = 20,
    LS_LOG_SHORTCUT_FAILED = 21,
    LS_LOG_FILE_DELETED = 22,
    LS_LOG_DELETE_AT_REBOOT = 23,
    LS_LOG_UNINSTALLER_CREATED = 24,
    LS_LOG_UNINSTALLER_FAILED = 25,
    LS_LOG_SHELL_EXECUTE = 26,
    LS_LOG_EXECUTE = 27,
    LS_LOG_RENAME_AT_REBOOT = 28,
    LS_LOG_RENAME = 29,
    LS_LOG_EXTRACT = 30,
    LS_EXTRACT_WRITE_ERROR = 31,
    LS_CORRUPT_DATA = 32,
    LS_LOG_SKIPPED = 33,
    LS_INVALID_INSTRUCTION = 34,
    LS_LOG_OUTPUT_DIR = 35,
    LS_LOG_DIR_CREATED = 36,
};

struct LanguageRecord {
    int32_t strings[LANG_STRING_COUNT];
    uint16_t lang_id;   // Windows LANGID
    uint16_t reserved;  // not read; the builder writes 0xFFFF
};

// Installer page-text table entries.
enum InstallPageText {
    PT_BACK = 0,
    PT_NEXT = 1,
    PT_BROWSE = 2,
    PT_INSTALL = 3,
    PT_SPACE_REQUIRED = 4,
    PT_SPACE_AVAILABLE = 5,
    PT_CUSTOM_TYPE = 6,
    PT_DIR_INTRO = 7,  // negative: no directory page
    PT_DIR_LABEL = 8,
    PT_COMPONENTS_INTRO = 9,  // negative: no components page
    PT_COMPONENTS_TYPE_LABEL = 10,
    PT_COMPONENTS_TREE_LABEL = 11,
    PT_LICENSE_INTRO = 12,
    PT_LICENSE_TEXT = 13,  // negative: no license page
    PT_LICENSE_ACCEPT = 14,
};
static const int INSTALL_PAGE_TEXT_COUNT = 15;

// Uninstaller page-text table entries.
enum UninstallPageText {
    UPT_UNINSTALL = 0,
    UPT_CONFIRM_INTRO = 1,  // negative: no confirmation page
    UPT_DIR_LABEL = 2,
};
static const int UNINSTALL_PAGE_TEXT_COUNT = 3;

struct InstallPageTexts {
    int32_t entries[INSTALL_PAGE_TEXT_COUNT];
};

struct UninstallPageTexts {
    int32_t entries[UNINSTALL_PAGE_TEXT_COUNT];
};

// ---- Uninstaller patch block -------------------------------------------------
// uint32 patch_count, then patch_count records, each a PatchRecordHead and
// `length` replacement bytes for the stub copy at `offset`.
struct PatchRecordHead {
    uint32_t length;
    uint32_t offset;
};

// ---- Layout checks ---------------------------------------------------------------

static_assert(sizeof(FirstHeader) == 28, "FirstHeader is 28 bytes");
static_assert(offsetof(FirstHeader, magic) == 4, "magic");
static_assert(offsetof(FirstHeader, signature) == 8, "signature");
static_assert(offsetof(FirstHeader, header_length) == 20, "header_length");
static_assert(offsetof(FirstHeader, total_length) == 24, "total_length");

static_assert(sizeof(InstallHeader) == 38 * 4, "InstallHeader is 38 dwords");
static_assert(offsetof(InstallHeader, background_top_colour) == 16, "dword 4");
static_assert(offsetof(InstallHeader, unused_dword9) == 36, "dword 9");
static_assert(offsetof(InstallHeader, on_init) == 40, "dword 10");
static_assert(offsetof(InstallHeader, on_page_shown) == 60, "dword 15");
static_assert(offsetof(InstallHeader, details_mode) == 64, "byte 64");
static_assert(offsetof(InstallHeader, progress_flags) == 65, "byte 65");
static_assert(offsetof(InstallHeader, silent) == 66, "byte 66");
static_assert(offsetof(InstallHeader, misc_flags) == 67, "byte 67");
static_assert(offsetof(InstallHeader, install_dir_reg_root) == 68, "dword 17");
static_assert(offsetof(InstallHeader, install_type_names) == 80, "dword 20");
static_assert(offsetof(InstallHeader, license_background_colour) == 112, "dword 28");
static_assert(offsetof(InstallHeader, default_install_dir) == 116, "dword 29");
static_assert(offsetof(InstallHeader, uninstaller_patch) == 120, "dword 30");
static_assert(offsetof(InstallHeader, install_type_mode) == 128, "dword 32");
static_assert(offsetof(InstallHeader, section_count) == 132, "dword 33");
static_assert(offsetof(InstallHeader, on_prev_page) == 136, "dword 34");
static_assert(offsetof(InstallHeader, on_selection_change) == 148, "dword 37");

static_assert(sizeof(UninstallHeader) == 19 * 4, "UninstallHeader is 19 dwords");
static_assert(offsetof(UninstallHeader, misc_flags) == 67, "byte 67");
static_assert(offsetof(UninstallHeader, uninstall_code) == 68, "dword 17");
static_assert(offsetof(UninstallHeader, uninstall_entry_count) == 72, "dword 18");

static_assert(sizeof(SectionRecord) == 24, "SectionRecord is 24 bytes");
static_assert(offsetof(SectionRecord, size_kb) == 16, "size_kb");
static_assert(sizeof(ScriptEntry) == 24, "ScriptEntry is 24 bytes");
static_assert(offsetof(ScriptEntry, p4) == 20, "p4");

static_assert(sizeof(LanguageRecord) == 152, "LanguageRecord is 152 bytes");
static_assert(offsetof(LanguageRecord, lang_id) == 148, "lang_id");
static_assert(sizeof(InstallPageTexts) == 60, "installer page texts");
static_assert(sizeof(UninstallPageTexts) == 12, "uninstaller page texts");
static_assert(sizeof(PatchRecordHead) == 8, "patch record head");
