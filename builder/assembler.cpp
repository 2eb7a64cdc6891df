#include "builder/assembler.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>

#include "builder/opcodes.h"
#include "builder/text_encoding.h"
#include "datablock/string_codes.h"

namespace quillmar {

namespace {

enum class Tok { ident, word, string, slot, punct };

struct Token {
    Tok type;
    std::string text;  // identifier, word, slot name (without $), punctuation; string: raw contents
    int column;        // 1-based character column in the line
    // Strings made by a pseudo-instruction: what they stand for, for messages
    // (their characters have no columns in the line).
    std::string origin = std::string();
};

struct Operand {
    std::vector<Token> tokens;
    int column = 0;
};

struct Pending {
    int line;  // line number in the file
    int column;
    const OpcodeInfo* op;
    std::optional<Operand> params[5];
    int seq;  // position among label definitions, for local references
};

struct LocalLabel {
    int seq;
    int32_t index;
};

// A stack entry that pops into a VarSlot (an exchange names no VarSlot).
bool is_pop(const int32_t* params) { return params[1] != STACK_PUSH && params[2] == 0; }

const int32_t kPseudoFile = -1;
const int32_t kPseudoFiles = -2;

const OpcodeInfo* find_pseudo(const std::string& name) {
    static const SymbolSet* overwrite = find_opcode(OP_EXTRACT_FILE)->params[0].symbols;
    static const OpcodeInfo table[2] = {
        {kPseudoFile, "file",
         {{"source", ParamKind::string, nullptr, -1, nullptr, true},
          {"target", ParamKind::string, nullptr, -1, nullptr, false},
          {"overwrite", ParamKind::immediate, overwrite, 0, nullptr, false},
          {nullptr, ParamKind::unused, nullptr, 0, nullptr, false},
          {nullptr, ParamKind::unused, nullptr, 0, nullptr, false}},
         nullptr},
        {kPseudoFiles, "files",
         {{"source", ParamKind::string, nullptr, -1, nullptr, true},
          {"target", ParamKind::string, nullptr, -1, nullptr, false},
          {"overwrite", ParamKind::immediate, overwrite, 0, nullptr, false},
          {nullptr, ParamKind::unused, nullptr, 0, nullptr, false},
          {nullptr, ParamKind::unused, nullptr, 0, nullptr, false}},
         nullptr},
    };
    for (const OpcodeInfo& op : table)
        if (name == op.name) return &op;
    return nullptr;
}

bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_ident_char(char c) { return is_ident_start(c) || (c >= '0' && c <= '9') || c == '.'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool all_digits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

// Parses a decimal or 0x hexadecimal literal of at most 32 bits.
bool parse_word_number(const std::string& w, int64_t& value) {
    uint64_t v = 0;
    size_t i = 0;
    bool hex = w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X');
    if (hex) i = 2;
    if (i >= w.size()) return false;
    for (; i < w.size(); ++i) {
        char c = w[i];
        int d;
        if (is_digit(c)) d = c - '0';
        else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * (hex ? 16 : 10) + (uint64_t)d;
        if (v > 0xFFFFFFFFull) return false;
    }
    value = (int64_t)v;
    return true;
}

class Assembler {
public:
    Assembler(const std::string& file, int first_line, const Converter& converter,
              const PayloadResolver& payloads, const PayloadSource* sources, StringPool& pool, int32_t base)
        : file_(file), first_line_(first_line), converter_(converter), payloads_(payloads), sources_(sources),
          pool_(pool), base_(base) {}

    void run(const std::string& source, AssembleResult& result);

private:
    const std::string& file_;
    int first_line_;
    const Converter& converter_;
    const PayloadResolver& payloads_;
    const PayloadSource* sources_;
    StringPool& pool_;
    int32_t base_;

    std::vector<Diagnostic> errors_;  // sorted by line at the end
    std::vector<Pending> pending_;
    std::map<std::string, int32_t> labels_;
    std::map<std::string, int> label_lines_;
    std::map<std::string, std::vector<LocalLabel>> locals_;
    int seq_ = 0;
    std::vector<std::pair<int, std::string>> dangling_;  // labels that mark no instruction yet

    void error(int line, int column, const std::string& message) {
        errors_.push_back({file_, line, column, message});
    }

    bool lex(const std::string& text, int line, std::vector<Token>& tokens);
    void parse_line(const std::string& text, int line);
    void define_label(const Token& t, int line);
    void parse_operands(const std::vector<Token>& tokens, size_t from, Pending& p);
    void expand_pseudo(const Pending& p);
    bool add_extract(const Pending& p, const std::string& payload, const std::optional<Operand>& name);
    int param_by_name(const OpcodeInfo& op, const std::string& name);

    // Resolution of one operand by kind; false after reporting an error.
    bool resolve(const Pending& p, int index, ParamKind kind, const ScriptEntry& entry, int32_t& value,
                 AssembleResult& result, size_t entry_index);
    bool string_value(const Pending& p, int index, const Operand& o, bool number, int32_t& value);
    bool encode_literal(const Token& t, int line, std::string& out);
    bool slot_value(const Pending& p, const Operand& o, bool allow_none, int32_t& value);
    bool target_value(const Pending& p, const Operand& o, int32_t& value);
    bool immediate_value(const Pending& p, int index, const Operand& o, int64_t& value);
    bool expression(const Pending& p, const ParamInfo& info, const std::vector<Token>& t, size_t& at,
                    int64_t& value, int level);
    std::string describe(const Pending& p, int index) const {
        return "parameter '" + std::string(p.op->params[index].name) + "' of " + p.op->name;
    }
};

bool Assembler::lex(const std::string& text, int line, std::vector<Token>& tokens) {
    int column = 1;
    size_t i = 0;
    auto advance = [&](size_t to) {
        for (; i < to; ++i)
            if (((unsigned char)text[i] & 0xC0) != 0x80) ++column;
    };
    while (i < text.size()) {
        char c = text[i];
        int start_column = column;
        if (c == ' ' || c == '\t' || c == '\r') {
            advance(i + 1);
        } else if (c == '#' || c == ';') {
            break;
        } else if (c == '"') {
            size_t j = i + 1;
            std::string raw;
            bool closed = false;
            while (j < text.size()) {
                if (text[j] == '"') {
                    if (j + 1 < text.size() && text[j + 1] == '"') {
                        raw += "\"\"";
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                raw += text[j++];
            }
            if (!closed) {
                error(line, start_column, "string without its closing double quote");
                return false;
            }
            tokens.push_back({Tok::string, raw, start_column});
            advance(j + 1);
        } else if (c == '$') {
            size_t j = i + 1;
            while (j < text.size() && is_ident_char(text[j])) ++j;
            tokens.push_back({Tok::slot, text.substr(i + 1, j - i - 1), start_column});
            advance(j);
        } else if (is_ident_start(c)) {
            size_t j = i;
            while (j < text.size() && is_ident_char(text[j])) ++j;
            tokens.push_back({Tok::ident, text.substr(i, j - i), start_column});
            advance(j);
        } else if (is_digit(c)) {
            size_t j = i;
            while (j < text.size() && (is_ident_char(text[j]))) ++j;
            tokens.push_back({Tok::word, text.substr(i, j - i), start_column});
            advance(j);
        } else if (c == '<' && i + 1 < text.size() && text[i + 1] == '<') {
            tokens.push_back({Tok::punct, "<<", start_column});
            advance(i + 2);
        } else if (c == ',' || c == ':' || c == '=' || c == '|' || c == '+' || c == '-' || c == '~' ||
                   c == '(' || c == ')') {
            tokens.push_back({Tok::punct, std::string(1, c), start_column});
            advance(i + 1);
        } else {
            size_t j = i;
            char32_t ch;
            next_utf8(text, j, ch);
            error(line, start_column, "unexpected character '" + text.substr(i, j - i) + "'");
            return false;
        }
    }
    return true;
}

void Assembler::define_label(const Token& t, int line) {
    int32_t index = base_ + (int32_t)pending_.size();
    if (t.type == Tok::word) {
        if (!all_digits(t.text)) {
            error(line, t.column, "'" + t.text + "' is not a label name (local labels are digits only)");
            return;
        }
        locals_[t.text].push_back({seq_++, index});
    } else {
        if (t.text == "next" || t.text == "none") {
            error(line, t.column, "'" + t.text + "' is a reserved word and cannot name a label");
            return;
        }
        auto found = label_lines_.find(t.text);
        if (found != label_lines_.end()) {
            error(line, t.column,
                  "label '" + t.text + "' is already defined on line " + std::to_string(found->second));
            return;
        }
        labels_[t.text] = index;
        label_lines_[t.text] = line;
    }
    dangling_.push_back({line, t.text});
}

int Assembler::param_by_name(const OpcodeInfo& op, const std::string& name) {
    if (name.size() == 2 && name[0] == 'p' && name[1] >= '0' && name[1] <= '4') {
        int i = name[1] - '0';
        return op.params[i].kind == ParamKind::unused ? -1 : i;
    }
    for (int i = 0; i < 5; ++i)
        if (op.params[i].name && name == op.params[i].name) return i;
    return -1;
}

void Assembler::parse_operands(const std::vector<Token>& tokens, size_t from, Pending& p) {
    std::vector<Operand> operands;
    if (from < tokens.size()) {
        operands.emplace_back();
        int depth = 0;
        for (size_t i = from; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            if (t.type == Tok::punct && t.text == "," && depth == 0) {
                if (operands.back().tokens.empty()) error(p.line, t.column, "missing parameter before ','");
                operands.emplace_back();
                operands.back().column = t.column + 1;
                continue;
            }
            if (t.type == Tok::punct && t.text == "(") ++depth;
            if (t.type == Tok::punct && t.text == ")") --depth;
            if (operands.back().tokens.empty()) operands.back().column = t.column;
            operands.back().tokens.push_back(t);
        }
        if (operands.back().tokens.empty()) {
            error(p.line, operands.back().column, "missing parameter after ','");
            operands.pop_back();
        }
    }
    int position = 0;
    bool named_seen = false;
    for (Operand& o : operands) {
        if (o.tokens.empty()) continue;
        int index;
        int where = o.column;
        if (o.tokens.size() >= 2 && o.tokens[0].type == Tok::ident && o.tokens[1].type == Tok::punct &&
            o.tokens[1].text == "=") {
            index = param_by_name(*p.op, o.tokens[0].text);
            if (index < 0) {
                error(p.line, o.tokens[0].column,
                      std::string(p.op->name) + " has no parameter '" + o.tokens[0].text + "'");
                continue;
            }
            int column = o.tokens[0].column;
            o.tokens.erase(o.tokens.begin(), o.tokens.begin() + 2);
            if (o.tokens.empty()) {
                error(p.line, column, "no value given for " + describe(p, index));
                continue;
            }
            o.column = o.tokens[0].column;
            named_seen = true;
        } else {
            if (named_seen) {
                error(p.line, o.column, "a parameter by position cannot follow one given by name");
                continue;
            }
            while (position < 5 && p.op->params[position].kind == ParamKind::unused) ++position;
            if (position >= 5) {
                error(p.line, o.column, std::string("too many parameters for ") + p.op->name);
                break;
            }
            index = position++;
        }
        if (p.params[index]) {
            error(p.line, where, describe(p, index) + " is given twice");
            continue;
        }
        p.params[index] = o;
    }
}

void Assembler::parse_line(const std::string& text, int line) {
    std::vector<Token> tokens;
    if (!lex(text, line, tokens)) return;
    size_t i = 0;
    while (i + 1 < tokens.size() && (tokens[i].type == Tok::ident || tokens[i].type == Tok::word) &&
           tokens[i + 1].type == Tok::punct && tokens[i + 1].text == ":") {
        define_label(tokens[i], line);
        i += 2;
    }
    if (i >= tokens.size()) return;
    const Token& name = tokens[i];
    if (name.type != Tok::ident) {
        error(line, name.column, "expected an instruction name, found '" + name.text + "'");
        return;
    }
    const OpcodeInfo* op = find_opcode(name.text);
    if (!op) {
        if (const OpcodeInfo* pseudo = find_pseudo(name.text)) {
            Pending p;
            p.line = line;
            p.column = name.column;
            p.op = pseudo;
            p.seq = 0;
            parse_operands(tokens, i + 1, p);
            expand_pseudo(p);
            return;
        }
        error(line, name.column, "unknown instruction '" + name.text + "'");
        return;
    }
    Pending p;
    p.line = line;
    p.column = name.column;
    p.op = op;
    p.seq = seq_++;
    parse_operands(tokens, i + 1, p);
    pending_.push_back(std::move(p));
    dangling_.clear();
}

bool Assembler::encode_literal(const Token& t, int line, std::string& out) {
    std::vector<TextProblem> problems;
    bool ok = encode_text(t.text, converter_, true, out, problems);
    for (const TextProblem& p : problems) {
        if (t.origin.empty()) error(line, t.column + p.column, p.message);
        else error(line, t.column, t.origin + ": " + p.message);
    }
    return ok;
}

// One extract_file of a payload file, with the file's time, in place of a
// pseudo-instruction; false after an error.
bool Assembler::add_extract(const Pending& p, const std::string& payload, const std::optional<Operand>& name) {
    const Operand& source = *p.params[0];
    int64_t time = -1;
    std::string message;
    if (!sources_->time(payload, time, message)) {
        error(p.line, source.column, message);
        return false;
    }
    Pending e;
    e.line = p.line;
    e.column = p.column;
    e.op = find_opcode(OP_EXTRACT_FILE);
    e.seq = seq_++;
    e.params[0] = p.params[2];
    e.params[1] = name;
    Operand data;
    data.column = source.column;
    // The payload's name as the resolver knows it.
    data.tokens.push_back({Tok::string, quote(payload), source.column});
    e.params[2] = data;
    if (time >= 0) {
        char word[16];
        for (int half = 0; half < 2; ++half) {
            std::snprintf(word, sizeof word, "0x%08X", (unsigned)(uint32_t)((uint64_t)time >> (32 * half)));
            Operand o;
            o.column = source.column;
            o.tokens.push_back({Tok::word, word, source.column});
            e.params[3 + half] = o;
        }
    }
    pending_.push_back(std::move(e));
    dangling_.clear();
    return true;
}

void Assembler::expand_pseudo(const Pending& p) {
    const bool tree = p.op->opcode == kPseudoFiles;
    const std::string what = std::string(p.op->name);
    if (!p.params[0]) {
        error(p.line, p.column, "missing parameter 'source' of " + what);
        return;
    }
    const Operand& source = *p.params[0];
    if (source.tokens.size() != 1 || source.tokens[0].type != Tok::string) {
        error(p.line, source.column,
              std::string("expected the path of the payload ") + (tree ? "folder" : "file") + " in double quotes for " +
                  describe(p, 0));
        return;
    }
    if (!sources_) {
        error(p.line, source.column, "no payload files can be named here");
        return;
    }
    std::string path = unquote(source.tokens[0].text);
    if (!tree) {
        std::optional<Operand> name = p.params[1];
        if (!name) {
            size_t cut = path.find_last_of("/\\");
            std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
            if (base.empty()) {
                error(p.line, source.column, "'" + path + "' names no file");
                return;
            }
            Operand o;
            o.column = source.column;
            o.tokens.push_back({Tok::string, literal_path(base), source.column, "file name '" + base + "'"});
            name = o;
        }
        add_extract(p, path, name);
        return;
    }

    // A folder: its target folder, relative to the output folder.
    std::string target;
    if (p.params[1]) {
        const Operand& t = *p.params[1];
        if (t.tokens.size() != 1 || t.tokens[0].type != Tok::string) {
            error(p.line, t.column, "expected a folder name in double quotes for " + describe(p, 1));
            return;
        }
        target = unquote(t.tokens[0].text);
        if (target.find_first_of("{}:") != std::string::npos || (!target.empty() && (target[0] == '/' || target[0] == '\\'))) {
            error(p.line, t.column,
                  "the target of files is a folder relative to the output folder, without placeholders or a "
                  "drive: '" + target + "'");
            return;
        }
        for (char& c : target)
            if (c == '\\') c = '/';
        while (!target.empty() && target.back() == '/') target.pop_back();
    }
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    std::vector<SourceEntry> entries;
    std::string message;
    if (!sources_->tree(path, entries, message)) {
        error(p.line, source.column, message);
        return;
    }
    const OpcodeInfo* create = find_opcode(OP_CREATE_DIRECTORY);
    auto create_directory = [&](const std::string& folder) {
        Pending e;
        e.line = p.line;
        e.column = p.column;
        e.op = create;
        e.seq = seq_++;
        Operand o;
        o.column = source.column;
        o.tokens.push_back({Tok::string, "{output_dir}\\" + literal_path(folder), source.column,
                            "folder name '" + folder + "'"});
        e.params[0] = o;
        pending_.push_back(std::move(e));
        dangling_.clear();
    };
    const std::string prefix = target.empty() ? std::string() : target + "/";
    if (!target.empty()) create_directory(target);
    for (const SourceEntry& entry : entries) {
        if (entry.directory) {
            create_directory(prefix + entry.path);
            continue;
        }
        Operand o;
        o.column = source.column;
        o.tokens.push_back({Tok::string, literal_path(prefix + entry.path), source.column,
                            "file name '" + prefix + entry.path + "'"});
        if (!add_extract(p, path + "/" + entry.path, o)) return;
    }
}

bool Assembler::string_value(const Pending& p, int index, const Operand& o, bool number, int32_t& value) {
    const std::vector<Token>& t = o.tokens;
    std::string stored;
    if (t.size() == 1 && t[0].type == Tok::string) {
        if (!encode_literal(t[0], p.line, stored)) return false;
    } else if (t.size() == 1 && t[0].type == Tok::slot) {
        int slot = slot_index(t[0].text);
        if (slot < 0) {
            error(p.line, t[0].column, "unknown variable '$" + t[0].text + "'");
            return false;
        }
        stored = std::string(1, (char)(unsigned char)(SC_USER_VAR + slot));
    } else if (t.size() == 1 && t[0].type == Tok::ident && t[0].text == "none") {
        value = -1;
        return true;
    } else if ((t.size() == 1 && t[0].type == Tok::word) ||
               (t.size() == 2 && t[0].type == Tok::punct && t[0].text == "-" && t[1].type == Tok::word)) {
        const Token& w = t.back();
        int64_t v;
        if (!parse_word_number(w.text, v)) {
            error(p.line, w.column, "'" + w.text + "' is not a number");
            return false;
        }
        if (t.size() == 2) v = -v;
        if (v < INT32_MIN) {
            error(p.line, w.column, "number out of range");
            return false;
        }
        stored = std::to_string((int32_t)(uint32_t)(uint64_t)v);
    } else {
        error(p.line, o.column,
              std::string(number ? "expected a number, string or variable for "
                                 : "expected a string or variable for ") +
                  describe(p, index));
        return false;
    }
    value = pool_.add_encoded(stored);
    return true;
}

bool Assembler::slot_value(const Pending& p, const Operand& o, bool allow_none, int32_t& value) {
    const std::vector<Token>& t = o.tokens;
    if (t.size() == 1 && t[0].type == Tok::slot) {
        int slot = slot_index(t[0].text);
        if (slot < 0) {
            error(p.line, t[0].column, "unknown variable '$" + t[0].text + "'");
            return false;
        }
        value = slot;
        return true;
    }
    if (allow_none && t.size() == 1 && t[0].type == Tok::ident && t[0].text == "none") {
        value = -1;
        return true;
    }
    error(p.line, o.column, std::string("expected a variable such as $var0") + (allow_none ? " or none" : ""));
    return false;
}

bool Assembler::target_value(const Pending& p, const Operand& o, int32_t& value) {
    const std::vector<Token>& t = o.tokens;
    if (t.size() == 1 && t[0].type == Tok::ident) {
        if (t[0].text == "next") {
            value = 0;
            return true;
        }
        auto found = labels_.find(t[0].text);
        if (found == labels_.end()) {
            error(p.line, t[0].column, "unknown label '" + t[0].text + "'");
            return false;
        }
        value = found->second + 1;
        return true;
    }
    if (t.size() == 1 && t[0].type == Tok::slot) {
        int slot = slot_index(t[0].text);
        if (slot < 0) {
            error(p.line, t[0].column, "unknown variable '$" + t[0].text + "'");
            return false;
        }
        value = -(slot + 1);
        return true;
    }
    if (t.size() == 1 && t[0].type == Tok::word) {
        const std::string& w = t[0].text;
        char direction = w.back();
        std::string number = w.substr(0, w.size() - 1);
        if ((direction == 'f' || direction == 'b') && all_digits(number)) {
            auto found = locals_.find(number);
            if (found != locals_.end()) {
                const std::vector<LocalLabel>& defs = found->second;
                if (direction == 'b') {
                    for (size_t k = defs.size(); k-- > 0;)
                        if (defs[k].seq < p.seq) {
                            value = defs[k].index + 1;
                            return true;
                        }
                } else {
                    for (const LocalLabel& d : defs)
                        if (d.seq > p.seq) {
                            value = d.index + 1;
                            return true;
                        }
                }
            }
            error(p.line, t[0].column,
                  "no local label '" + number + ":' " + (direction == 'f' ? "below" : "above") + " this line");
            return false;
        }
    }
    error(p.line, o.column, "expected a label, a local label such as 1f or 1b, next, or a variable");
    return false;
}

bool Assembler::expression(const Pending& p, const ParamInfo& info, const std::vector<Token>& t, size_t& at,
                           int64_t& value, int level) {
    auto is = [&](const char* s) { return at < t.size() && t[at].type == Tok::punct && t[at].text == s; };
    int line = p.line;
    if (level == 0) {  // a | b, a + b, a - b
        if (!expression(p, info, t, at, value, 1)) return false;
        while (is("|") || is("+") || is("-")) {
            std::string op = t[at++].text;
            int64_t rhs;
            if (!expression(p, info, t, at, rhs, 1)) return false;
            value = op == "|" ? (int64_t)((uint32_t)value | (uint32_t)rhs) : op == "+" ? value + rhs : value - rhs;
        }
        return true;
    }
    if (level == 1) {  // a << b
        if (!expression(p, info, t, at, value, 2)) return false;
        while (is("<<")) {
            int column = t[at++].column;
            int64_t rhs;
            if (!expression(p, info, t, at, rhs, 2)) return false;
            if (rhs < 0 || rhs > 31) {
                error(line, column, "shift count must be 0 to 31");
                return false;
            }
            value = (int64_t)((uint32_t)value << rhs);
        }
        return true;
    }
    if (at >= t.size()) {
        error(line, t.empty() ? 0 : t.back().column, "expression ends too early");
        return false;
    }
    const Token& tok = t[at++];
    if (tok.type == Tok::punct && (tok.text == "-" || tok.text == "~")) {
        if (!expression(p, info, t, at, value, 2)) return false;
        value = tok.text == "-" ? -value : (int64_t)(~(uint32_t)value);
        return true;
    }
    if (tok.type == Tok::punct && tok.text == "(") {
        if (!expression(p, info, t, at, value, 0)) return false;
        if (!is(")")) {
            error(line, tok.column, "'(' without its ')'");
            return false;
        }
        ++at;
        return true;
    }
    if (tok.type == Tok::word) {
        if (!parse_word_number(tok.text, value)) {
            error(line, tok.column, "'" + tok.text + "' is not a number");
            return false;
        }
        return true;
    }
    if (tok.type == Tok::ident) {
        if (find_symbol(info.symbols, tok.text, value) || find_symbol(&common_symbols(), tok.text, value))
            return true;
        error(line, tok.column, "unknown value '" + tok.text + "' for parameter '" + info.name + "' of " + p.op->name);
        return false;
    }
    error(line, tok.column, "expected a number for parameter '" + std::string(info.name) + "' of " + p.op->name);
    return false;
}

bool Assembler::immediate_value(const Pending& p, int index, const Operand& o, int64_t& value) {
    size_t at = 0;
    if (!expression(p, p.op->params[index], o.tokens, at, value, 0)) return false;
    if (at < o.tokens.size()) {
        error(p.line, o.tokens[at].column, "unexpected '" + o.tokens[at].text + "' in " + describe(p, index));
        return false;
    }
    if (value < INT32_MIN || value > (int64_t)UINT32_MAX) {
        error(p.line, o.column, "value of " + describe(p, index) + " does not fit in 32 bits");
        return false;
    }
    return true;
}

bool Assembler::resolve(const Pending& p, int index, ParamKind kind, const ScriptEntry& entry, int32_t& value,
                        AssembleResult& result, size_t entry_index) {
    const Operand& o = *p.params[index];
    const int32_t* params = &entry.p0;
    switch (kind) {
        case ParamKind::unused:
            return true;
        case ParamKind::string:
            return string_value(p, index, o, false, value);
        case ParamKind::number:
            return string_value(p, index, o, true, value);
        case ParamKind::immediate: {
            int64_t v;
            if (!immediate_value(p, index, o, v)) return false;
            value = (int32_t)(uint32_t)(uint64_t)v;
            return true;
        }
        case ParamKind::slot:
            return slot_value(p, o, false, value);
        case ParamKind::slot_or_none:
            return slot_value(p, o, true, value);
        case ParamKind::target:
            return target_value(p, o, value);
        case ParamKind::block: {
            if (o.tokens.size() != 1 || o.tokens[0].type != Tok::string) {
                error(p.line, o.column, "expected a payload name in double quotes for " + describe(p, index));
                return false;
            }
            const std::string name = unquote(o.tokens[0].text);
            size_t payload = 0;
            std::string message;
            if (!payloads_) {
                error(p.line, o.column, "no payload files can be named here");
                return false;
            }
            if (!payloads_(name, payload, message)) {
                error(p.line, o.column, message.empty() ? "unknown payload '" + name + "'" : message);
                return false;
            }
            result.block_references.push_back({entry_index, index, payload});
            value = 0;
            return true;
        }
        case ParamKind::registry_data:  // the binary type takes a payload block
            return resolve(p, index, params[4] == REG_KIND_BINARY ? ParamKind::block : ParamKind::string, entry,
                           value, result, entry_index);
        case ParamKind::stack_value:  // a pop writes into a slot
            return resolve(p, index, is_pop(params) ? ParamKind::slot : ParamKind::string, entry, value, result,
                           entry_index);
        case ParamKind::section_value:
            return resolve(p, index,
                           params[1] == SECTION_SET_NAME    ? ParamKind::string
                           : params[1] == SECTION_SET_FLAGS ? ParamKind::number
                                                            : ParamKind::slot,
                           entry, value, result, entry_index);
    }
    return false;
}

bool is_dependent(ParamKind k) {
    return k == ParamKind::registry_data || k == ParamKind::stack_value || k == ParamKind::section_value;
}

void Assembler::run(const std::string& source, AssembleResult& result) {
    size_t start = 0;
    int line = first_line_;
    while (start <= source.size()) {
        size_t end = source.find('\n', start);
        if (end == std::string::npos) end = source.size();
        parse_line(source.substr(start, end - start), line);
        start = end + 1;
        ++line;
    }
    for (const auto& d : dangling_) error(d.first, 0, "label '" + d.second + "' is not followed by an instruction");

    for (const Pending& p : pending_) {
        ScriptEntry entry = {p.op->opcode, 0, 0, 0, 0, 0};
        int32_t* params = &entry.p0;
        size_t entry_index = (size_t)base_ + result.entries.size();
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < 5; ++i) {
                const ParamInfo& info = p.op->params[i];
                if (is_dependent(info.kind) != (pass == 1)) continue;
                if (!p.params[i]) {
                    // A pop needs its variable, binary registry data its payload.
                    bool needed = info.required || (info.kind == ParamKind::stack_value && is_pop(params)) ||
                                  (info.kind == ParamKind::registry_data && params[4] == REG_KIND_BINARY);
                    if (needed) {
                        error(p.line, p.column, "missing " + describe(p, i));
                    } else if (info.default_text) {
                        params[i] = pool_.add_encoded(info.default_text);
                    } else {
                        params[i] = info.default_value;
                    }
                    continue;
                }
                resolve(p, i, info.kind, entry, params[i], result, entry_index);
            }
        }
        result.entries.push_back(entry);
        result.lines.push_back(p.line);
    }
    if (!pending_.empty() && pending_.back().op->opcode != OP_RETURN)
        error(pending_.back().line, 0, "the code must end with 'end'; it would run on into whatever follows");
    result.labels = labels_;
    sort_by_line(errors_);
    result.errors = std::move(errors_);
}

}  // namespace

AssembleResult assemble(const std::string& source, DataBlockModel& model, const std::string& file, int first_line,
                        const Converter& converter, const PayloadResolver& payloads, const PayloadSource* sources) {
    AssembleResult result;
    StringPool pool = model.pool;  // committed only when everything assembled
    Assembler assembler(file, first_line, converter, payloads, sources, pool, (int32_t)model.entries.size());
    assembler.run(source, result);
    if (!result.ok()) {
        result.entries.clear();
        result.lines.clear();
        result.block_references.clear();
        result.labels.clear();
        return result;
    }
    model.pool = std::move(pool);
    model.entries.insert(model.entries.end(), result.entries.begin(), result.entries.end());
    model.block_references.insert(model.block_references.end(), result.block_references.begin(),
                                  result.block_references.end());
    return result;
}

}  // namespace quillmar
