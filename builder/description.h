// The installer description: a TOML file with the header settings, the
// languages, the sections, the callbacks, the script in assembly text and,
// when the script writes one, the uninstaller. docs/script.md is the full
// reference; in short:
//
//   script = '''
//   init:    end
//   core:    create_directory "{install_dir}", true
//            file "files/readme.txt"              # extract_file with the file's time
//            files "files/doc", "doc"             # a folder, recursively
//            write_uninstaller "uninstall.exe"
//            end
//   '''
//   [installer]
//   default_install_dir = '{program_files}\Example'
//   install_dir_registry = { root = "HKLM", key = 'Software\Example', value = "InstallDir" }
//   pages = ["license", "components", "directory"]   # the install page always exists
//   license_file = "license.txt"
//   details = "hidden"                                # hidden | shown | none
//   auto_close, skip_dir_page_if_valid, no_root_dir, smooth_progress, coloured_progress = bools
//   crc = true, force_crc = false, silent = false     # FirstHeader flags
//   background_window = { top = "#000080", bottom = "#000000", text = "#FFFFFF" }
//   details_colours = { background = "#000000", text = "#00FF00" }
//   license_background = "#FFFFFF"
//   install_types = ["Full", "Minimal"]
//   install_type_mode = 0                             # 0, 1 or 2
//   [callbacks]
//   on_init = "init"                                  # labels of the script
//   [[sections]]
//   name = "Program"  code = "core"  selected = true  read_only = false
//   install_types = [0, 1]  size_kb = 120  expanded = false   # size_kb: computed when left out
//   description = "Shown while the mouse is on the section"  # makes a hover callback
//   [[sections]]
//   name = "-Group"                                   # a group's start or end ("-") may have no code
//   [[languages]]
//   id = 1033                                         # 1033 and 1036 have built-in texts
//   code_page = 1252
//   license_file = "license-en.rtf"                   # in place of the installer's
//   texts = { caption = "Example Setup", next = "Continue >" }
//   [uninstaller]                                     # its own data block
//   script = '''...'''  code = "label"  pages = ["confirm"]  (and the common settings)
//   [uninstaller.callbacks]    [[uninstaller.languages]] (default: the installer's ids)
//
// Payload names in the scripts are file paths relative to `base_dir`.
#pragma once

#include <string>
#include <vector>

#include "builder/codepage.h"
#include "builder/diagnostic.h"
#include "builder/model.h"

namespace quillmar {

// Reads the description `text` (from `file`; payload paths relative to
// `base_dir`) into `model`, which is replaced only when there was no error.
// Every error found is added to `errors`, in the order of the lines.
bool load_description(const std::string& text, const std::string& file, const std::string& base_dir,
                      DataBlockModel& model, std::vector<Diagnostic>& errors,
                      const Converter& converter = windows_1252());

// The role names accepted in a language's texts (of the installer or of the
// uninstaller), in table order: LanguageRecord roles first, then the page texts.
std::vector<std::string> language_text_roles(bool uninstaller = false);

}  // namespace quillmar
