// The installer description: a TOML file with the header settings, the
// languages, the sections, the callbacks and the script in assembly text.
//
//   script = '''
//   init:    end
//   core:    extract_file always, "readme.txt", "files/readme.txt"
//            end
//   '''
//   [installer]
//   default_install_dir = '{program_files}\Example'
//   install_dir_registry = { root = "HKLM", key = 'Software\Example', value = "InstallDir" }
//   pages = ["license", "components", "directory"]   # the install page always exists
//   license_file = "license.txt"
//   details = "hidden"                                # hidden | shown | none
//   auto_close, skip_dir_page_if_valid, no_root_dir, smooth_progress, coloured_progress = bools
//   install_types = ["Full", "Minimal"]
//   install_type_mode = 0                             # 0, 1 or 2
//   [callbacks]
//   on_init = "init"                                  # labels of the script
//   [[sections]]
//   name = "Program"  code = "core"  selected = true  read_only = false
//   install_types = [0, 1]  size_kb = 120  expanded = false
//   [[languages]]
//   id = 1033                                         # 1033 and 1036 have built-in texts
//   texts = { caption = "Example Setup", next = "Continue >" }
//
// Payload names in the script are file paths relative to the description's
// directory.
#pragma once

#include <string>
#include <vector>

#include "builder/codepage.h"
#include "builder/model.h"

namespace quillmar {

// Reads the description `text` (from `file`; payload paths relative to
// `base_dir`) into `model`, which is replaced only when there was no error.
// Errors are "file:line: message", as many as were found.
bool load_description(const std::string& text, const std::string& file, const std::string& base_dir,
                      DataBlockModel& model, std::vector<std::string>& errors,
                      const Converter& converter = windows_1252());

// The role names accepted in a language's texts (of the installer or of the
// uninstaller), in table order: LanguageRecord roles first, then the page texts.
std::vector<std::string> language_text_roles(bool uninstaller = false);

}  // namespace quillmar
