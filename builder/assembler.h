// The script assembler: turns the assembly text of a description into
// ScriptEntry records, strings in the model's pool and payload references.
//
// Language, one instruction per line:
//
//   label:                      a label on its own line, or before an instruction
//   1:                          a local label (digits); `1f` is the next `1:` below,
//                               `1b` the last `1:` above (or on the same line)
//   name p0, p1, name=value     parameters by position, then by name (`p2=` works too)
//   # comment  ; comment        to the end of the line, outside strings
//
// Values by parameter kind:
//   string / number   "text with {install_dir} and {var3}", $var0, 42, -1, none (-1)
//   slot              $var0..$var19 $command_line $install_dir $output_dir $exe_dir $lang_id
//   target            label, 1f, 1b, next (the following entry), $var2 (indirect)
//   immediate         12, 0x1F, -3, symbols (HKLM, MB_YESNO, IDYES, add, always...),
//                     combined with | + - << ~ and parentheses: MB_YESNO|MB_ICONQUESTION
//   payload block     "name" as the caller's payload resolver knows it
//
// String literals: backslash is an ordinary character (C:\Windows as is); ""
// is a double quote, {{ and }} are braces; {name} inserts a string code:
// install_dir output_dir exe_dir command_line lang_id var0..var19 main_window
// program_files programs startup desktop start_menu quick_launch temp windows
// system temp_directory. Other bytes from 0xDB upward are escaped.
//
// A segment ends with `end` (or `return`), and the text must end with one.
//
// Two pseudo-instructions add payload files and become ordinary instructions
// where they stand (labels before them mark the first of those):
//   file "src/path" [, "target name"] [, overwrite]
//        one extract_file of the file, with its last-write time; the target
//        name defaults to the source's file name
//   files "src/dir" [, "target folder"] [, overwrite]
//        every file below the folder, as create_directory "{output_dir}\sub"
//        for each subfolder and extract_file "sub\name" for each file, in
//        the order of walk_tree; a target folder (relative to the output
//        folder) is created first and prefixed to every name
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "builder/codepage.h"
#include "builder/diagnostic.h"
#include "builder/model.h"
#include "builder/source_files.h"
#include "builder/text_encoding.h"

namespace quillmar {

// Maps a payload name written in the script to a payload number of the
// model; returns false with a message when there is no such payload.
using PayloadResolver = std::function<bool(const std::string& name, size_t& payload, std::string& error)>;

// What the file and files pseudo-instructions ask about payload files and
// folders, by the names written in the script.
struct PayloadSource {
    // Last-write time as a FILETIME, -1 for none; false with a message.
    std::function<bool(const std::string& name, int64_t& filetime, std::string& error)> time;
    // The files and folders below a folder, in installation order.
    std::function<bool(const std::string& name, std::vector<SourceEntry>& entries, std::string& error)> tree;
};

struct AssembleResult {
    std::vector<ScriptEntry> entries;              // the entries appended to the model
    std::vector<int> lines;                        // the source line of each entry
    std::vector<BlockReference> block_references;  // appended to the model too
    std::map<std::string, int32_t> labels;         // entry index (in the model) of each label
    std::vector<Diagnostic> errors;                // in the order of their lines
    bool ok() const { return errors.empty(); }
};

// Assembles `source` whose first line is line `first_line` of `file`. On
// success the entries go to the end of model.entries (labels count from
// there), their strings into model.pool and their payload references into
// model.block_references. On any error the model is left as it was.
AssembleResult assemble(const std::string& source, DataBlockModel& model, const std::string& file,
                        int first_line, const Converter& converter = windows_1252(),
                        const PayloadResolver& payloads = PayloadResolver(),
                        const PayloadSource* sources = nullptr);

}  // namespace quillmar
