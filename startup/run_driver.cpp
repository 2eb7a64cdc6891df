#include "startup/run_driver.h"

#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/number.h"
#include "engine/varslots.h"
#include "fs/paths.h"
#include "resources/resource_ids.h"
#include "startup/startup.h"
#include "ui/background_window.h"
#include "ui/install_files_page.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

int32_t section_count = 0;
int32_t last_page = 0;  // 1 and 4 from init_process_state on
int32_t page_base = 0;
int32_t failure_count = 0;
LanguageRecord* language_records = 0;
int32_t* page_text_tables = 0;

// The backdrop behind the wizard, when the header asks for one; its title is
// the caption.
static HWND background_window = 0;

// Languages in the loaded tables: the header's count, or 0 when the tables
// could not be made.
static int32_t language_table_count = 0;
// More languages than this cannot come from a sound data block (their records
// alone would exceed what a 32-bit offset can address).
static const int32_t MAX_LANGUAGES = 0x7FFFFFFF / (int32_t)sizeof(LanguageRecord);

static const InstallHeader* install_header() { return (const InstallHeader*)header_block; }

static int32_t page_text_count() { return uninstaller_mode ? UNINSTALL_PAGE_TEXT_COUNT : INSTALL_PAGE_TEXT_COUNT; }

// Callbacks and the run driver's own segments run without a progress window.

// Registry roots are stored as 32-bit values; the platform's predefined keys
// are those values sign-extended on a 64-bit build.
static HKEY registry_root(uint32_t root) { return (HKEY)(LONG_PTR)(int32_t)root; }

// The install directory from the registry value the header names: a quoted
// program path loses its quotes and arguments, a program file its file name.
static void install_dir_from_registry(char* install_dir) {
    const InstallHeader* header = install_header();
    if (header->install_dir_reg_key < 0) return;
    char key[1024], value_name[1024], text[1024];
    expand_param(key, header->install_dir_reg_key);
    expand_param(value_name, header->install_dir_reg_value);
    read_reg_string(registry_root(header->install_dir_reg_root), key, value_name, text);
    if (!text[0]) return;

    char* start = text;
    if (*start == '"') {
        ++start;
        for (char* p = start; *p; p = CharNextA(p)) {
            if (*p == '"') {
                *p = 0;
                break;
            }
        }
    }
    const int length = lstrlenA(start);
    if (length > 4 && lstrcmpiA(start + length - 4, ".exe") == 0) {
        const DWORD attributes = GetFileAttributesA(start);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            char* backslash = find_last_backslash(start);
            if (backslash) *backslash = 0;
        }
    }
    lstrcpynA(install_dir, start, VAR_SLOT_SIZE);
}

static void settle_install_dir() {
    char* install_dir = var_slot(VAR_INSTALL_DIR);
    if (is_valid_install_path(install_dir)) return;
    install_dir_from_registry(install_dir);
    if (!is_valid_install_path(install_dir)) expand_param(install_dir, install_header()->default_install_dir);
}

// Zero-filled tables, so that a short block leaves zeros; the counts were
// checked against the header block when it was loaded.
static void load_language_tables() {
    const InstallHeader* header = install_header();
    int32_t count = header->language_count;
    if (count < 0 || count > MAX_LANGUAGES) count = 0;
    const int32_t records_size = count * (int32_t)sizeof(LanguageRecord);
    const int32_t texts_size = count * page_text_count() * (int32_t)sizeof(int32_t);
    language_records = (LanguageRecord*)GlobalAlloc(GPTR, records_size ? records_size : sizeof(LanguageRecord));
    page_text_tables = (int32_t*)GlobalAlloc(GPTR, texts_size ? texts_size : sizeof(int32_t) * INSTALL_PAGE_TEXT_COUNT);
    if (!language_records || !page_text_tables) {
        language_records = 0;
        return;
    }
    language_table_count = count;
    if (count) {
        read_block_to_memory(header->language_table, language_records, records_size);
        read_block_to_memory(header->page_text_table, page_text_tables, texts_size);
    }
    current_language = language_records;
    current_page_texts = page_text_tables;
}

void select_language() {
    if (!language_records) return;
    const int32_t count = language_table_count;
    const int32_t wanted = read_number(var_slot(VAR_LANG_ID));
    int32_t chosen = -1;
    for (int32_t i = 0; i < count && chosen < 0; ++i)
        if (language_records[i].lang_id == (uint16_t)wanted) chosen = i;
    for (int32_t i = 0; i < count && chosen < 0; ++i)
        if ((language_records[i].lang_id & 0x3FF) == (wanted & 0x3FF)) chosen = i;
    if (chosen >= 0) {
        current_language = &language_records[chosen];
        current_page_texts = page_text_tables + chosen * page_text_count();
    }
    wsprintfA(var_slot(VAR_LANG_ID), "%u", (unsigned)current_language->lang_id);
    expand_lang_string(caption, LS_CAPTION);
    if (background_window) SetWindowTextA(background_window, caption);
}

int32_t run_sections(HWND install_page) {
    // The install-files page's progress bar when the page runs the sections.
    HWND progress = install_page ? progress_window : 0;
    if (uninstaller_mode) {
        const UninstallHeader* header = (const UninstallHeader*)header_block;
        if (run_code_segment(script_entries, header->uninstall_code, progress) == RESULT_ABORT) ++failure_count;
    } else {
        const int silent = *header_silent_byte() != 0;
        for (int32_t i = 0; i < section_count && failure_count == 0; ++i) {
            const SectionRecord* section = &section_records[i];
            if (!(section->flags & SECTION_SELECTED) && !silent) continue;
            if (run_code_segment(script_entries, section->code, progress) == RESULT_ABORT) ++failure_count;
        }
    }
    if (install_page) SendMessageA(install_page, MSG_INSTALL_DONE, (WPARAM)failure_count, 0);
    return failure_count;
}

int32_t run_driver() {
    const InstallHeader* header = install_header();
    section_count = uninstaller_mode ? 0 : header->section_count;
    auto_close_flag = (header_misc_flags() & MISC_AUTO_CLOSE) ? 1 : 0;
    if (!uninstaller_mode) {
        last_page = 3;
        page_base = 0;
        settle_install_dir();
    }

    load_language_tables();
    wsprintfA(var_slot(VAR_LANG_ID), "%u", (unsigned)GetUserDefaultLangID());
    select_language();

    if (*header_silent_byte()) {
        if (run_callback(header->on_init) == RESULT_ABORT) return 1;
        select_language();
        if (run_sections(0) == 0) {
            run_callback(header->on_success);
            return 0;
        }
        if (quit_count == 0) run_callback(header->on_failure);
        return 1;
    }

    // The wizard's parent, the background window or the desktop, owns the
    // message boxes of on_init.
    if (header->background_top_colour != 0xFFFFFFFFu)
        background_window = create_background_window(module_handle, header->background_top_colour,
                                                     header->background_bottom_colour,
                                                     header->background_text_colour);
    HWND parent = background_window ? background_window : GetDesktopWindow();
    current_main_window = parent;
    const int32_t init = run_callback(header->on_init);
    current_main_window = 0;
    if (init == RESULT_ABORT) return 1;
    select_language();
    if (background_window) ShowWindow(background_window, SW_SHOW);
    return (int32_t)DialogBoxParamA(module_handle, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), parent, main_dialog_proc, 0);
}
