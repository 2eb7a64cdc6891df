#include "builder/text_encoding.h"

#include <cstdio>

#include "datablock/string_codes.h"

namespace quillmar {

namespace {

// Names of the VarSlots, by index.
const char* const kSlotNames[VAR_SLOT_COUNT] = {
    "var0",  "var1",  "var2",  "var3",  "var4",  "var5",  "var6",  "var7",  "var8",
    "var9",  "var10", "var11", "var12", "var13", "var14", "var15", "var16", "var17",
    "var18", "var19", "command_line", "install_dir", "output_dir", "exe_dir", "lang_id",
};

struct Placeholder {
    const char* name;
    uint8_t code;
};

// Every string code but the user variables, which are {var0} to {var19}.
const Placeholder kPlaceholders[] = {
    {"main_window", SC_MAIN_WINDOW},     {"command_line", SC_COMMAND_LINE}, {"install_dir", SC_INSTALL_DIR},
    {"output_dir", SC_OUTPUT_DIR},       {"exe_dir", SC_EXE_DIR},           {"lang_id", SC_LANG_ID},
    {"program_files", SC_PROGRAM_FILES}, {"programs", SC_PROGRAMS},         {"startup", SC_STARTUP},
    {"desktop", SC_DESKTOP},             {"start_menu", SC_START_MENU},     {"quick_launch", SC_QUICK_LAUNCH},
    {"temp", SC_TEMP_PATH},              {"windows", SC_WINDOWS},           {"system", SC_SYSTEM},
    {"temp_directory", SC_TEMP_DIRECTORY},
};

void append_literal_byte(std::string& out, unsigned char b) {
    if (b >= SC_FIRST) out += (char)SC_ESCAPE;
    out += (char)b;
}

int placeholder_code(const std::string& name) {
    for (const Placeholder& ph : kPlaceholders)
        if (name == ph.name) return ph.code;
    if (name.size() > 3 && name.compare(0, 3, "var") == 0) {
        const int slot = slot_index(name);
        if (slot >= 0 && slot < USER_VAR_COUNT) return SC_USER_VAR + slot;
    }
    return -1;
}

// Converts the character that takes text[from..to) into `out`; false with a
// problem when the code page cannot hold it.
bool convert_character(const std::string& text, size_t from, size_t to, char32_t ch, const Converter& converter,
                       int column, std::string& out, std::vector<TextProblem>& problems) {
    if (ch == 0) {
        problems.push_back({column, "a NUL character cannot be stored in a string"});
        return false;
    }
    if (converter.append(ch, out)) return true;
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", (unsigned)ch);
    problems.push_back({column, "character " + text.substr(from, to - from) + " (" + code +
                                    ") has no equivalent in " + converter.name()});
    return false;
}

}  // namespace

int slot_index(const std::string& name) {
    for (int i = 0; i < VAR_SLOT_COUNT; ++i)
        if (name == kSlotNames[i]) return i;
    return -1;
}

std::string escape_literal(const std::string& ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (unsigned char c : ansi) append_literal_byte(out, c);
    return out;
}

bool encode_text(const std::string& raw, const Converter& converter, bool doubled_quotes, std::string& out,
                 std::vector<TextProblem>& problems) {
    int column = 1;
    size_t i = 0;
    bool ok = true;
    while (i < raw.size()) {
        char c = raw[i];
        if (c == '"' && doubled_quotes) {  // "" in assembly text; the lexer lets no single one through
            append_literal_byte(out, '"');
            i += 2;
            column += 2;
        } else if ((c == '{' || c == '}') && i + 1 < raw.size() && raw[i + 1] == c) {
            append_literal_byte(out, (unsigned char)c);
            i += 2;
            column += 2;
        } else if (c == '}') {
            problems.push_back({column, "'}' outside a placeholder (write }} for a brace)"});
            ok = false;
            ++i;
            ++column;
        } else if (c == '{') {
            size_t close = raw.find('}', i);
            if (close == std::string::npos) {
                problems.push_back({column, "'{' without its closing '}' (write {{ for a brace)"});
                return false;
            }
            const std::string name = raw.substr(i + 1, close - i - 1);
            const int code = placeholder_code(name);
            if (code < 0) {
                problems.push_back({column, "unknown placeholder {" + name + "}"});
                ok = false;
            } else {
                out += (char)(unsigned char)code;
            }
            for (size_t k = i; k <= close; ++k)
                if (((unsigned char)raw[k] & 0xC0) != 0x80) ++column;
            i = close + 1;
        } else {
            size_t at = i;
            char32_t ch;
            if (!next_utf8(raw, at, ch)) {
                problems.push_back({column, "text is not valid UTF-8"});
                return false;
            }
            std::string bytes;
            if (!convert_character(raw, i, at, ch, converter, column, bytes, problems)) ok = false;
            for (unsigned char b : bytes) append_literal_byte(out, b);
            i = at;
            ++column;
        }
    }
    return ok;
}

bool convert_text(const std::string& text, const Converter& converter, std::string& out,
                  std::vector<TextProblem>& problems) {
    size_t i = 0;
    int column = 1;
    bool ok = true;
    while (i < text.size()) {
        size_t at = i;
        char32_t ch;
        if (!next_utf8(text, at, ch)) {
            problems.push_back({column, "text is not valid UTF-8"});
            return false;
        }
        if (!convert_character(text, i, at, ch, converter, column, out, problems)) ok = false;
        i = at;
        ++column;
    }
    return ok;
}

std::string unquote(const std::string& raw) {
    std::string s;
    for (size_t i = 0; i < raw.size(); ++i) {
        s += raw[i];
        if (raw[i] == '"') ++i;  // "" stands for one quote
    }
    return s;
}

std::string quote(const std::string& text) {
    std::string raw;
    for (char c : text) raw += c == '"' ? std::string("\"\"") : std::string(1, c);
    return raw;
}

std::string literal_path(const std::string& path) {
    std::string raw;
    for (char c : path) {
        if (c == '/') raw += '\\';
        else if (c == '{' || c == '}') raw += std::string(2, c);
        else raw += quote(std::string(1, c));
    }
    return raw;
}

}  // namespace quillmar
