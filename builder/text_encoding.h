// How the description's UTF-8 text becomes the bytes of pool strings:
// {placeholders} become string codes, characters go through the code-page
// converter, and bytes that the stub would take for codes are escaped. Also
// the quoting of the assembler's string literals, where "" is one quote.
#pragma once

#include <string>
#include <vector>

#include "builder/codepage.h"

namespace quillmar {

// A problem in a text, at a character column (1-based) of that text.
struct TextProblem {
    int column;
    std::string message;
};

// Encodes UTF-8 text for the pool as the stub expands it: {placeholders}
// become string codes, {{ and }} braces, other characters go through the
// converter and bytes from 0xDB upward are escaped. With `doubled_quotes`,
// "" stands for one double quote (the assembler's string literals).
bool encode_text(const std::string& text, const Converter& converter, bool doubled_quotes, std::string& out,
                 std::vector<TextProblem>& problems);

// Converts UTF-8 text that the stub shows as stored, without expansion:
// no placeholders and no escapes.
bool convert_text(const std::string& text, const Converter& converter, std::string& out,
                  std::vector<TextProblem>& problems);

// ANSI text meant literally, with every byte that the stub would take for a
// string code escaped.
std::string escape_literal(const std::string& ansi);

// The VarSlot index of a variable name as scripts write it (var0..var19,
// command_line, install_dir, output_dir, exe_dir, lang_id), or -1.
int slot_index(const std::string& name);

// The raw text of a string literal (as the assembler's lexer keeps it, ""
// for a quote) back to the text written, and the other way round.
std::string unquote(const std::string& raw);
std::string quote(const std::string& text);

// A payload's relative path as the raw text of a string literal that the
// stub shows as it is: backslashes, quotes doubled, braces doubled.
std::string literal_path(const std::string& path);

}  // namespace quillmar
