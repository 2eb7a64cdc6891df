// The run driver: settles the install directory, loads the language tables,
// chooses the language, runs the initialisation callback and then the
// installation, silently or through the wizard. Its result is the exit code.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "datablock/records.h"

// Copy of the header's section count (0 for an uninstaller).
extern int32_t section_count;

// Wizard navigation: the last page index and the first page's number.
// An installer sets 3 and 0; an uninstaller keeps 1 and 4.
extern int32_t last_page;
extern int32_t page_base;

// Code segments that aborted in run_sections (0 or 1).
extern int32_t failure_count;

// The language tables read from the data block; never freed.
extern LanguageRecord* language_records;
extern int32_t* page_text_tables;

int32_t run_driver();

// Makes the language named by LangId the current one (or keeps the current
// one), writes its id back into LangId and sets the caption.
void select_language();

// Runs the uninstall code, or every selected section (every section in a
// silent run) until one aborts; tells the install-files page when given.
// Returns failure_count.
int32_t run_sections(HWND install_page);
