#include "builder/description.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include <toml++/toml.h>

#include "builder/assembler.h"
#include "builder/builtin_texts.h"
#include "builder/image.h"
#include "builder/opcodes.h"
#include "builder/source_files.h"
#include "resources/resource_ids.h"

namespace quillmar {

namespace {

// Page texts that decide whether a page exists.
struct PageSwitch {
    const char* page;
    int entry;
};
const PageSwitch kInstallerPages[] = {
    {"license", PT_LICENSE_TEXT}, {"components", PT_COMPONENTS_INTRO}, {"directory", PT_DIR_INTRO}};
const PageSwitch kUninstallerPages[] = {{"confirm", UPT_CONFIRM_INTRO}};

// The callbacks both header records have.
template <typename H>
int32_t* common_callback(H& h, const std::string& name) {
    if (name == "on_init") return &h.on_init;
    if (name == "on_success") return &h.on_success;
    if (name == "on_failure") return &h.on_failure;
    if (name == "on_cancel") return &h.on_cancel;
    if (name == "on_next_page") return &h.on_next_page;
    if (name == "on_page_shown") return &h.on_page_shown;
    return nullptr;
}

int32_t* callback_field(UninstallHeader& h, const std::string& name) { return common_callback(h, name); }

int32_t* callback_field(InstallHeader& h, const std::string& name) {
    if (int32_t* field = common_callback(h, name)) return field;
    if (name == "on_prev_page") return &h.on_prev_page;
    if (name == "on_verify_dir") return &h.on_verify_dir;
    if (name == "on_mouse_over_section") return &h.on_mouse_over_section;
    if (name == "on_selection_change") return &h.on_selection_change;
    return nullptr;
}

// Settings of both data blocks, then those of each one.
const std::vector<const char*> kCommonKeys = {"crc", "force_crc", "silent", "details", "auto_close", "no_root_dir",
                                              "smooth_progress", "coloured_progress", "background_window",
                                              "details_colours"};
const std::vector<const char*> kInstallerKeys = {"default_install_dir", "install_dir_registry", "pages",
                                                 "license_file", "license_background", "skip_dir_page_if_valid",
                                                 "install_types", "install_type_mode"};
const std::vector<const char*> kUninstallerKeys = {"script", "code", "pages", "callbacks", "languages"};

std::vector<const char*> joined_keys(const std::vector<const char*>& a, const std::vector<const char*>& b) {
    std::vector<const char*> all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// A language as the uninstaller inherits it when it names none of its own.
struct LanguageChoice {
    uint16_t id;
    const Converter* converter;
};

class Loader {
public:
    Loader(const std::string& text, const std::string& file, const std::string& base_dir,
           const Converter& converter, std::vector<Diagnostic>& errors)
        : text_(text), file_(file), base_dir_(base_dir), converter_(converter), errors_(errors) {}

    void load(DataBlockModel& m);

private:
    const std::string& text_;
    const std::string& file_;
    const std::string& base_dir_;
    const Converter& converter_;
    std::vector<Diagnostic>& errors_;

    void error(const toml::node* node, const std::string& message) { error((int)line_of(node), message); }
    void error(int line, const std::string& message) {
        errors_.push_back({file_, line, 0, message});
    }
    static int line_of(const toml::node* node) {
        int line = node ? (int)node->source().begin.line : 0;
        return line > 0 ? line : 1;
    }

    // Adds a text to the pool, expanded or shown as stored; -1 after an error.
    int32_t text(DataBlockModel& m, const toml::node& node, bool expanded, const std::string& what,
                 const Converter& converter) {
        const std::string* s = node.as_string() ? &node.as_string()->get() : nullptr;
        if (!s) {
            error(&node, what + " must be a string");
            return REF_NONE;
        }
        return text(m, *s, &node, expanded, what, converter);
    }
    int32_t text(DataBlockModel& m, const toml::node& node, bool expanded, const std::string& what) {
        return text(m, node, expanded, what, converter_);
    }
    int32_t text(DataBlockModel& m, const std::string& s, const toml::node* node, bool expanded,
                 const std::string& what, const Converter& converter) {
        std::string stored;
        std::vector<TextProblem> problems;
        bool ok = expanded ? encode_text(s, converter, false, stored, problems)
                           : convert_text(s, converter, stored, problems);
        for (const TextProblem& p : problems)
            error(node, what + ", character " + std::to_string(p.column) + ": " + p.message);
        return ok ? m.pool.add_encoded(stored) : REF_NONE;
    }

    void known_keys(const toml::table& t, const std::vector<const char*>& keys, const char* where) {
        for (const auto& kv : t) {
            bool known = false;
            for (const char* k : keys) known = known || kv.first.str() == k;
            if (!known)
                error(&kv.second, std::string("unknown setting '") + std::string(kv.first.str()) + "' in " + where);
        }
    }

    const toml::table* table(const toml::table& parent, const char* key, const std::string& what) {
        const toml::node* n = parent.get(key);
        if (!n) return nullptr;
        if (!n->as_table()) error(n, what + " must be a table");
        return n->as_table();
    }

    bool boolean(const toml::table& t, const char* key, bool fallback) {
        const toml::node* n = t.get(key);
        if (!n) return fallback;
        if (!n->is_boolean()) {
            error(n, std::string(key) + " must be true or false");
            return fallback;
        }
        return n->as_boolean()->get();
    }

    bool integer(const toml::node* n, const std::string& what, int64_t low, int64_t high, int64_t& value) {
        if (!n->is_integer()) {
            error(n, what + " must be an integer");
            return false;
        }
        value = n->as_integer()->get();
        if (value < low || value > high) {
            error(n, what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
            return false;
        }
        return true;
    }

    // "#RRGGBB" as the stub's colour value (0x00BBGGRR); "none" or -1 for none.
    bool colour(const toml::node& n, const std::string& what, uint32_t& value) {
        if (n.is_integer() && n.as_integer()->get() == -1) {
            value = 0xFFFFFFFFu;
            return true;
        }
        const std::string* s = n.as_string() ? &n.as_string()->get() : nullptr;
        if (s && *s == "none") {
            value = 0xFFFFFFFFu;
            return true;
        }
        bool ok = s && s->size() == 7 && (*s)[0] == '#';
        uint32_t rgb = 0;
        for (size_t i = 1; ok && i < 7; ++i) {
            char c = (*s)[i];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            ok = d >= 0;
            rgb = rgb << 4 | (uint32_t)(d & 0xF);
        }
        if (!ok) {
            error(&n, what + " must be a colour \"#RRGGBB\" or \"none\"");
            return false;
        }
        value = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
        return true;
    }

    std::string source_path(const std::string& name) const {
        if (base_dir_.empty() || std::filesystem::u8path(name).is_absolute()) return name;
        return base_dir_ + "/" + name;
    }

    int first_script_line(const toml::node& node) {
        int line = (int)node.source().begin.line;
        int column = (int)node.source().begin.column;
        // A multi-line string whose delimiter ends its line starts on the next line.
        size_t at = 0;
        for (int l = 1; l < line && at != std::string::npos; ++l) {
            at = text_.find('\n', at);
            if (at != std::string::npos) ++at;
        }
        if (at == std::string::npos) return line;
        at += (size_t)(column - 1);
        if (text_.compare(at, 3, "'''") == 0 || text_.compare(at, 3, "\"\"\"") == 0) {
            size_t after = at + 3;
            if (after < text_.size() && (text_[after] == '\n' || text_.compare(after, 2, "\r\n") == 0))
                return line + 1;
        }
        return line;
    }

    AssembleResult script(DataBlockModel& m, const toml::node* node, int missing_line, const std::string& what);
    bool label(const AssembleResult& code, const toml::node& n, const std::string& what, int32_t& index);
    template <typename H>
    void callbacks(H& h, const toml::node* node, const AssembleResult& code, const std::string& where);
    template <typename H>
    void common(const toml::table& t, H& h, uint32_t& flags);
    void installer(DataBlockModel& m, const toml::table& t, std::vector<int32_t>& page_switches);
    void sections(DataBlockModel& m, const toml::node* node, const AssembleResult& code);
    void describe_sections(DataBlockModel& m);
    bool language(DataBlockModel& m, const toml::node& entry, bool un, int64_t id, const Converter& converter,
                  const toml::table* texts, const toml::node* license_file = nullptr);
    void languages(DataBlockModel& m, const toml::node* node, bool un, std::vector<LanguageChoice>& chosen,
                   const std::vector<LanguageChoice>* inherited, const toml::node* owner);
    std::vector<int32_t> pages(const toml::table* t, bool un);
    void uninstaller(DataBlockModel& m, const toml::table& t, const std::vector<LanguageChoice>& inherited);

    // Of the languages being read, in order: the code page of each, its
    // table and its own license file (null when it names none).
    struct LanguageSource {
        const Converter* converter;
        const toml::node* table;
        const toml::node* license_file;
    };
    std::vector<LanguageSource> language_sources_;

    // The sections' descriptions: the section's index, the stored text and
    // the line of the description.
    struct SectionDescription {
        int32_t section;
        int32_t text;
        int line;
    };
    std::vector<SectionDescription> descriptions_;
};

AssembleResult Loader::script(DataBlockModel& m, const toml::node* node, int missing_line, const std::string& what) {
    AssembleResult code;
    if (!node || !node->is_string()) {
        error(node ? line_of(node) : missing_line, what + " = '''...''' must be given, as a string");
        code.errors.push_back({file_, 0, 0, "no script"});
        return code;
    }
    auto cache = std::make_shared<std::map<std::string, size_t>>();
    PayloadResolver payloads = [this, &m, cache](const std::string& name, size_t& payload, std::string& message) {
        auto found = cache->find(name);
        if (found != cache->end()) {
            payload = found->second;
            return true;
        }
        Bytes bytes;
        std::string reason;
        if (!read_file(source_path(name), bytes, reason)) {
            message = "cannot read the payload file '" + name + "'";
            return false;
        }
        payload = m.add_payload(std::move(bytes));
        (*cache)[name] = payload;
        return true;
    };
    PayloadSource sources;
    sources.time = [this](const std::string& name, int64_t& filetime, std::string& message) {
        std::string reason;
        if (file_time(source_path(name), filetime, reason)) return true;
        message = "cannot read the payload file '" + name + "': " + reason;
        return false;
    };
    sources.tree = [this](const std::string& name, std::vector<SourceEntry>& entries, std::string& message) {
        std::string reason;
        if (walk_tree(source_path(name), entries, reason)) return true;
        message = "cannot read the payload folder '" + name + "': " + reason;
        return false;
    };
    code = assemble(node->as_string()->get(), m, file_, first_script_line(*node), converter_, payloads, &sources);
    errors_.insert(errors_.end(), code.errors.begin(), code.errors.end());
    return code;
}

bool Loader::label(const AssembleResult& code, const toml::node& n, const std::string& what, int32_t& index) {
    if (!n.is_string()) {
        error(&n, what + " must name a label of the script");
        return false;
    }
    auto found = code.labels.find(n.as_string()->get());
    if (found == code.labels.end()) {
        if (code.ok()) error(&n, what + ": the script has no label '" + n.as_string()->get() + "'");
        return false;
    }
    index = found->second;
    return true;
}

template <typename H>
void Loader::callbacks(H& h, const toml::node* node, const AssembleResult& code, const std::string& where) {
    if (!node) return;
    const toml::table* t = node->as_table();
    if (!t) {
        error(node, where + " must be a table");
        return;
    }
    for (const auto& kv : *t) {
        std::string name(kv.first.str());
        int32_t* field = callback_field(h, name);
        if (!field) {
            error(&kv.second, "unknown callback '" + name + "' in " + where);
            continue;
        }
        label(code, kv.second, name, *field);
    }
}

// The settings that both header records have, and the image flags.
template <typename H>
void Loader::common(const toml::table& t, H& h, uint32_t& flags) {
    const bool crc = boolean(t, "crc", true);
    const bool force = boolean(t, "force_crc", false);
    if (force && !crc) error(t.get("force_crc"), "force_crc needs crc = true: without a CRC there is nothing to verify");
    flags = (crc ? FH_CRC : 0) | (force ? FH_FORCE_CRC : 0) | (boolean(t, "silent", false) ? FH_SILENT : 0);
    if (const toml::node* n = t.get("details")) {
        const std::string* s = n->as_string() ? &n->as_string()->get() : nullptr;
        if (s && *s == "hidden") h.details_mode = DETAILS_HIDDEN;
        else if (s && *s == "shown") h.details_mode = DETAILS_SHOWN;
        else if (s && *s == "none") h.details_mode = DETAILS_NONE;
        else error(n, "details must be \"hidden\", \"shown\" or \"none\"");
    }
    h.misc_flags = (uint8_t)((boolean(t, "auto_close", false) ? MISC_AUTO_CLOSE : 0) |
                             (boolean(t, "no_root_dir", false) ? MISC_NO_ROOT_DIR : 0));
    h.progress_flags = (uint8_t)((boolean(t, "smooth_progress", false) ? PROGRESS_SMOOTH : 0) |
                                 (boolean(t, "coloured_progress", false) ? PROGRESS_COLOURED : 0));
    if (const toml::node* n = t.get("background_window")) {
        const toml::table* b = n->as_table();
        if (!b || !b->get("top") || !b->get("bottom")) {
            error(n, "background_window needs top and bottom colours (and may give text), such as "
                     "{ top = \"#000080\", bottom = \"#000000\", text = \"#FFFFFF\" }");
        } else {
            known_keys(*b, {"top", "bottom", "text"}, "background_window");
            uint32_t top, bottom, text = 0xFFFFFFFFu;
            bool ok = colour(*b->get("top"), "background_window top", top);
            ok = colour(*b->get("bottom"), "background_window bottom", bottom) && ok;
            if (const toml::node* c = b->get("text")) ok = colour(*c, "background_window text", text) && ok;
            if (ok && (top == 0xFFFFFFFFu || bottom == 0xFFFFFFFFu)) {
                error(n, "background_window needs real top and bottom colours; leave it out for no background window");
            } else if (ok) {
                h.background_top_colour = top;
                h.background_bottom_colour = bottom;
                h.background_text_colour = text;
            }
        }
    }
    if (const toml::node* n = t.get("details_colours")) {
        const toml::table* d = n->as_table();
        if (!d) {
            error(n, "details_colours must be a table such as { background = \"#000000\", text = \"#00FF00\" }");
        } else {
            known_keys(*d, {"background", "text"}, "details_colours");
            if (const toml::node* c = d->get("background")) colour(*c, "details_colours background", h.list_background_colour);
            if (const toml::node* c = d->get("text")) colour(*c, "details_colours text", h.list_text_colour);
        }
    }
}

void Loader::installer(DataBlockModel& m, const toml::table& t, std::vector<int32_t>& page_switches) {
    InstallHeader& h = m.header;
    known_keys(t, joined_keys(kCommonKeys, kInstallerKeys), "[installer]");
    common(t, h, m.image_flags);
    if (boolean(t, "skip_dir_page_if_valid", false)) h.misc_flags |= MISC_SKIP_DIR_PAGE_IF_VALID;
    if (const toml::node* n = t.get("default_install_dir")) h.default_install_dir = text(m, *n, true, "default_install_dir");
    if (const toml::node* n = t.get("install_dir_registry")) {
        const toml::table* r = n->as_table();
        const toml::node* root = r ? r->get("root") : nullptr;
        const toml::node* key = r ? r->get("key") : nullptr;
        const toml::node* value = r ? r->get("value") : nullptr;
        int64_t root_value = 0;
        if (r) known_keys(*r, {"root", "key", "value"}, "install_dir_registry");
        if (!root || !key || !value || !root->is_string()) {
            error(n, "install_dir_registry needs root (such as \"HKLM\"), key and value");
        } else if (!find_symbol(find_opcode(OP_READ_REGISTRY)->params[1].symbols, root->as_string()->get(),
                                root_value)) {
            error(root, "unknown registry root '" + root->as_string()->get() + "'");
        } else {
            h.install_dir_reg_root = (uint32_t)root_value;
            h.install_dir_reg_key = text(m, *key, false, "install_dir_registry key");
            h.install_dir_reg_value = text(m, *value, false, "install_dir_registry value");
        }
    }
    if (const toml::node* n = t.get("license_file"); n && !n->is_string())
        error(n, "license_file must be a string: the path of the license file");
    if (const toml::node* n = t.get("license_background"))
        colour(*n, "license_background", h.license_background_colour);
    if (const toml::node* n = t.get("install_types")) {
        const toml::array* a = n->as_array();
        if (!a || a->size() > (size_t)MAX_INSTALL_TYPES) {
            error(n, "install_types must be a list of at most 8 names");
        } else {
            for (size_t i = 0; i < a->size(); ++i)
                h.install_type_names[i] = text(m, *a->get(i), false, "install type name");
        }
    }
    if (const toml::node* n = t.get("install_type_mode")) {
        int64_t v;
        if (integer(n, "install_type_mode", INSTALL_TYPES_WITH_CUSTOM, INSTALL_TYPES_CUSTOM_TREE, v))
            h.install_type_mode = (int32_t)v;
    }
    page_switches = pages(&t, false);
}

// The pages a table asks for, as the page texts that switch them on.
std::vector<int32_t> Loader::pages(const toml::table* t, bool un) {
    const toml::node* n = t ? t->get("pages") : nullptr;
    if (!n) return {un ? (int32_t)UPT_CONFIRM_INTRO : (int32_t)PT_DIR_INTRO};
    std::vector<int32_t> switches;
    const toml::array* a = n->as_array();
    const char* names = un ? "confirm" : "license, components or directory";
    if (!a) error(n, std::string("pages must be a list of pages (") + names + ")");
    for (size_t i = 0; a && i < a->size(); ++i) {
        const toml::node* p = a->get(i);
        int entry = -1;
        for (const PageSwitch& s : un ? std::vector<PageSwitch>(std::begin(kUninstallerPages), std::end(kUninstallerPages))
                                      : std::vector<PageSwitch>(std::begin(kInstallerPages), std::end(kInstallerPages)))
            if (p->is_string() && p->as_string()->get() == s.page) entry = s.entry;
        if (entry < 0) error(p, std::string("unknown page (") + names + ")");
        else switches.push_back(entry);
    }
    return switches;
}

void Loader::sections(DataBlockModel& m, const toml::node* node, const AssembleResult& code) {
    if (!node) return;
    const toml::array* a = node->as_array();
    if (!a) {
        error(node, "sections must be a list of tables ([[sections]])");
        return;
    }
    int type_count = 0;
    while (type_count < MAX_INSTALL_TYPES && m.header.install_type_names[type_count] >= 0) ++type_count;
    // The payload that each extract_file entry writes.
    std::map<size_t, size_t> extracted;
    for (const BlockReference& ref : m.block_references)
        if (ref.parameter == 2 && ref.entry < m.entries.size() && m.entries[ref.entry].opcode == OP_EXTRACT_FILE)
            extracted[ref.entry] = ref.payload;
    for (const toml::node& s : *a) {
        const toml::table* t = s.as_table();
        if (!t) {
            error(&s, "each section must be a table");
            continue;
        }
        SectionRecord rec = {REF_NONE, 0, 0, 0, 0, 0};
        known_keys(*t, {"name", "code", "selected", "read_only", "install_types", "size_kb", "expanded", "description"},
                   "[[sections]]");
        const toml::node* name = t->get("name");
        if (name) rec.name = text(m, *name, true, "section name");
        if (const toml::node* d = t->get("description")) {
            const int32_t offset = text(m, *d, true, "section description");
            if (offset >= 0) descriptions_.push_back({(int32_t)m.sections.size(), offset, line_of(d)});
        }
        // A subsection's start ("-Name") or end ("-") may be a marker only,
        // with no code to run.
        const bool marker = name && name->is_string() && name->as_string()->get().compare(0, 1, "-") == 0;
        const toml::node* code_node = t->get("code");
        int64_t computed_kb = 0;
        if (!code_node && marker) {
            rec.code = -1;
        } else if (!code_node) {
            error(&s, "a section needs its code = \"label\" (only a subsection's \"-Name\" or \"-\" may leave it "
                      "out)");
        } else if (label(code, *code_node, "code", rec.code)) {
            int32_t end = rec.code;
            for (; (size_t)end < m.entries.size() && m.entries[(size_t)end].opcode != OP_RETURN; ++end) {
                auto found = extracted.find((size_t)end);
                if (found != extracted.end()) computed_kb += ((int64_t)m.payloads[found->second].size() + 1023) / 1024;
            }
            rec.entry_count = end - rec.code;
        }
        if (boolean(*t, "selected", true)) rec.flags |= SECTION_SELECTED;
        if (boolean(*t, "read_only", false)) rec.flags |= SECTION_READ_ONLY;
        if (const toml::node* types = t->get("install_types")) {
            const toml::array* ta = types->as_array();
            if (!ta) error(types, "install_types must be a list of install type numbers 0..7");
            for (size_t i = 0; ta && i < ta->size(); ++i) {
                int64_t v;
                if (!integer(ta->get(i), "install type", 0, MAX_INSTALL_TYPES - 1, v)) continue;
                if (v >= type_count)
                    error(ta->get(i), "install type " + std::to_string(v) + " is not among the " +
                                          std::to_string(type_count) + " install_types of [installer]");
                else rec.flags |= 1u << v;
            }
        }
        if (const toml::node* size = t->get("size_kb")) {
            int64_t v;
            if (integer(size, "size_kb", 0, INT32_MAX, v)) rec.size_kb = (int32_t)v;
        } else {
            rec.size_kb = (int32_t)std::min<int64_t>(computed_kb, INT32_MAX);
        }
        rec.expanded = boolean(*t, "expanded", false) ? 1 : 0;
        m.sections.push_back(rec);
    }
}

// The sections' descriptions, shown in the components page's description box
// while the mouse is over a section: a hover callback of our own, appended to
// the script, that writes the description of the section in $var0 (or an
// empty text) into the box and then runs the description's own hover
// callback, if any, with $var0 still the section's index:
//
//           stack $var1                       # $var1 is kept as it was
//           find_window $var1, "#32770", "", "{main_window}", 0
//           get_dialog_item $var1, $var1, 1043
//           compare_int $var0, 2, section_2   # one for each described section
//           send_message none, $var1, 12, 0, ""
//           jump done
//   section_2:
//           send_message none, $var1, 12, 0, "<the description of section 2>"
//           jump done
//   done:   stack $var1, pop
//   chain:  call <the description's on_mouse_over_section>
//           end
//
// It is assembled on its own, so its labels never meet the script's. The
// texts (checked and stored where the descriptions were read, and free to
// hold line breaks, which a script's string cannot) and the call's target
// are set into its entries afterwards.
void Loader::describe_sections(DataBlockModel& m) {
    if (descriptions_.empty()) return;
    const int32_t own_callback = m.header.on_mouse_over_section;
    const std::string send = "        send_message none, $var1, 12, 0, \"\"\n";
    std::string source =
        "        stack $var1\n"
        "        find_window $var1, \"#32770\", \"\", \"{main_window}\", 0\n"
        "        get_dialog_item $var1, $var1, " + std::to_string(IDC_SECTION_DESCRIPTION) + "\n";
    for (const SectionDescription& d : descriptions_) {
        const std::string index = std::to_string(d.section);
        source += "        compare_int $var0, " + index + ", section_" + index + "\n";
    }
    source += send + "        jump done\n";
    for (const SectionDescription& d : descriptions_)
        source += "section_" + std::to_string(d.section) + ":\n" + send + "        jump done\n";
    source += "done:   stack $var1, pop\n";
    if (own_callback >= 0) source += "chain:  call next\n";
    source += "        end\n";

    const int32_t start = (int32_t)m.entries.size();
    AssembleResult code = assemble(source, m, file_, 1, converter_);
    if (!code.ok()) {
        // Not the user's to mend; told at the first description, never at a
        // line of the script.
        for (const Diagnostic& d : code.errors)
            error(descriptions_.front().line, "the hover callback made for the section descriptions: line " +
                                                  std::to_string(d.line) + ": " + d.message);
        return;
    }
    for (const SectionDescription& d : descriptions_)
        m.entries[(size_t)code.labels.at("section_" + std::to_string(d.section))].p4 = d.text;
    if (own_callback >= 0) m.entries[(size_t)code.labels.at("chain")].p0 = own_callback + 1;
    m.header.on_mouse_over_section = start;
}

bool Loader::language(DataBlockModel& m, const toml::node& entry, bool un, int64_t id, const Converter& converter,
                      const toml::table* texts, const toml::node* license_file) {
    Language lang((uint16_t)id, un);
    if (texts) {
        for (const auto& kv : *texts) {
            bool known = false;
            for (const LanguageText& r : kLanguageTexts) known = known || (has_role(r, un) && kv.first.str() == r.name);
            if (!known)
                error(&kv.second, std::string("unknown ") + (un ? "uninstaller " : "") + "language text '" +
                                      std::string(kv.first.str()) + "'");
        }
    }
    // Without install types the components page hides the type list, and
    // its label stays empty unless the language gives one.
    const bool no_install_types = !un && m.header.install_type_names[0] < 0;
    std::string missing;
    for (const LanguageText& r : kLanguageTexts) {
        if (!has_role(r, un)) continue;
        const toml::node* given = texts ? texts->get(r.name) : nullptr;
        if (!given && no_install_types && r.slot == -PT_COMPONENTS_TYPE_LABEL - 1) continue;
        // Every English and every French variant (the same primary language
        // in the low 10 bits of the id) takes the built-in texts.
        const int primary = (int)(id & 0x3FF);
        const char* builtin = primary == 0x09 ? r.english : primary == 0x0C ? r.french : nullptr;
        int32_t offset = REF_NONE;
        if (given) offset = text(m, *given, r.expanded, r.name, converter);
        else if (builtin) offset = text(m, builtin, &entry, r.expanded, r.name, converter);
        else {
            missing += std::string(missing.empty() ? "" : ", ") + r.name;
            continue;
        }
        if (r.slot >= 0) lang.strings[r.slot] = offset;
        else lang.page_texts[(size_t)(-r.slot - 1)] = offset;
    }
    if (!missing.empty()) {
        error(&entry, std::string(un ? "uninstaller " : "") + "language " + std::to_string(id) +
                          " has no built-in texts; its texts lack " + missing);
        return false;
    }
    m.languages.push_back(lang);
    language_sources_.push_back({&converter, &entry, license_file});
    return true;
}

void Loader::languages(DataBlockModel& m, const toml::node* node, bool un, std::vector<LanguageChoice>& chosen,
                       const std::vector<LanguageChoice>* inherited, const toml::node* owner) {
    const char* where = un ? "[[uninstaller.languages]]" : "[[languages]]";
    language_sources_.clear();
    if (!node && inherited) {
        // The installer's languages, with the built-in texts.
        for (const LanguageChoice& l : *inherited) language(m, *owner, un, l.id, *l.converter, nullptr);
        return;
    }
    const toml::array* list = node ? node->as_array() : nullptr;
    if (!node) {
        error(1, std::string("the description has no ") + where);
        return;
    }
    if (!list || list->empty()) {
        error(node, std::string(un ? "uninstaller.languages" : "languages") + " must be a list of tables (" + where + ")");
        return;
    }
    for (const toml::node& entry : *list) {
        const toml::table* t = entry.as_table();
        if (!t) {
            error(&entry, "each language must be a table");
            continue;
        }
        const toml::node* id_node = t->get("id");
        int64_t id = 0;
        if (!id_node) {
            error(&entry, "a language needs its id (such as 1033)");
            continue;
        }
        if (!integer(id_node, "id", 1, 0xFFFF, id)) continue;
        if (un) known_keys(*t, {"id", "code_page", "texts"}, where);
        else known_keys(*t, {"id", "code_page", "texts", "license_file"}, where);
        bool duplicate = false;
        for (const Language& other : m.languages) duplicate = duplicate || other.lang_id == id;
        if (duplicate) {
            error(id_node, "language " + std::to_string(id) + " is given twice");
            continue;
        }
        const Converter* converter = &converter_;
        if (const toml::node* cp = t->get("code_page")) {
            int64_t number = 0;
            if (!integer(cp, "code_page", 1, 65535, number)) continue;
            converter = find_code_page(number);
            if (!converter) {
                error(cp, "code page " + std::to_string(number) + " is not supported (supported: 1252)");
                continue;
            }
        }
        const toml::table* texts = nullptr;
        if (const toml::node* n = t->get("texts")) {
            texts = n->as_table();
            if (!texts) error(n, "texts must be a table of role = \"text\"");
        }
        const toml::node* license_file = un ? nullptr : t->get("license_file");
        if (license_file && !license_file->is_string()) {
            error(license_file, "license_file must be a string: the path of the license file");
            license_file = nullptr;
        }
        if (language(m, entry, un, id, *converter, texts, license_file)) chosen.push_back({(uint16_t)id, converter});
    }
}

void Loader::uninstaller(DataBlockModel& m, const toml::table& t, const std::vector<LanguageChoice>& inherited) {
    auto un = std::make_shared<DataBlockModel>(true);
    known_keys(t, joined_keys(kCommonKeys, kUninstallerKeys), "[uninstaller]");
    AssembleResult code = script(*un, t.get("script"), line_of(&t), "[uninstaller] script");
    UninstallHeader& h = un->uninstall_header;
    common(t, h, m.uninstaller_flags);
    if (const toml::node* n = t.get("code")) {
        if (label(code, *n, "code", h.uninstall_code)) {
            int32_t end = h.uninstall_code;
            while ((size_t)end < un->entries.size() && un->entries[(size_t)end].opcode != OP_RETURN) ++end;
            h.uninstall_entry_count = end - h.uninstall_code;
        }
    } else {
        error(&t, "[uninstaller] needs its code = \"label\" where the uninstallation starts");
    }
    callbacks(h, t.get("callbacks"), code, "[uninstaller.callbacks]");
    for (size_t i = 0; i < code.entries.size(); ++i)
        if (code.entries[i].opcode == OP_WRITE_UNINSTALLER)
            error(code.lines[i], "the uninstaller cannot write an uninstaller: write_uninstaller belongs to the installer");
    std::vector<LanguageChoice> chosen;
    languages(*un, t.get("languages"), true, chosen, &inherited, &t);
    std::vector<int32_t> switches = pages(&t, true);
    for (Language& lang : un->languages)
        for (const PageSwitch& s : kUninstallerPages)
            if (std::find(switches.begin(), switches.end(), s.entry) == switches.end())
                lang.page_texts[(size_t)s.entry] = REF_NONE;
    m.uninstaller_model = un;
}

// TOML allows other than ASCII only inside strings and comments. Checked
// before parsing: the TOML library mishandles some such characters elsewhere
// (undefined behaviour in its whitespace test), and the message is clearer.
bool check_characters(const std::string& text, int& bad_line) {
    enum { normal, comment, basic, literal, ml_basic, ml_literal } state = normal;
    int line = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            ++line;
            if (state == comment || state == basic || state == literal) state = normal;
            continue;
        }
        auto starts = [&](const char* d) { return text.compare(i, 3, d) == 0; };
        switch (state) {
            case normal:
                if ((unsigned char)c >= 0x80) {
                    bad_line = line;
                    return false;
                }
                if (c == '#') state = comment;
                else if (starts("\"\"\"")) state = ml_basic, i += 2;
                else if (starts("'''")) state = ml_literal, i += 2;
                else if (c == '"') state = basic;
                else if (c == '\'') state = literal;
                break;
            case comment:
                break;
            case basic:
                if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') ++i;
                else if (c == '"') state = normal;
                break;
            case literal:
                if (c == '\'') state = normal;
                break;
            case ml_basic:
                if (c == '\\') {
                    if (i + 1 < text.size() && text[i + 1] == '\n') ++line;
                    ++i;
                } else if (starts("\"\"\"")) {
                    i += 2;
                    while (i + 1 < text.size() && text[i + 1] == '"') ++i;  // quotes that end the content
                    state = normal;
                }
                break;
            case ml_literal:
                if (starts("'''")) {
                    i += 2;
                    while (i + 1 < text.size() && text[i + 1] == '\'') ++i;
                    state = normal;
                }
                break;
        }
    }
    return true;
}


void Loader::load(DataBlockModel& m) {
    int bad_line = 0;
    if (!check_characters(text_, bad_line)) {
        error(bad_line, "a character other than ASCII outside a string or comment");
        return;
    }
    toml::table root;
    try {
        root = toml::parse(text_, file_);
    } catch (const toml::parse_error& e) {
        error((int)e.source().begin.line, std::string(e.description()));
        return;
    }
    for (const auto& kv : root) {
        std::string key(kv.first.str());
        if (key != "script" && key != "installer" && key != "callbacks" && key != "sections" && key != "languages" &&
            key != "uninstaller")
            error(&kv.second, "unknown setting '" + key + "'");
    }

    // The script first: everything else points into it.
    AssembleResult code = script(m, root.get("script"), 1, "the description's script");
    std::vector<int32_t> page_switches = pages(nullptr, false);
    const toml::table* inst = table(root, "installer", "installer");
    if (inst) installer(m, *inst, page_switches);
    callbacks(m.header, root.get("callbacks"), code, "[callbacks]");
    sections(m, root.get("sections"), code);
    describe_sections(m);
    m.header.section_count = (int32_t)m.sections.size();

    std::vector<LanguageChoice> chosen;
    languages(m, root.get("languages"), false, chosen, nullptr, nullptr);
    // Pages that the description does not ask for lose their switching text.
    const bool has_license =
        std::find(page_switches.begin(), page_switches.end(), PT_LICENSE_TEXT) != page_switches.end();
    const toml::node* installer_license = inst ? inst->get("license_file") : nullptr;
    if (installer_license && !installer_license->is_string()) installer_license = nullptr;  // reported above
    // Each license file is read once, and stored once per code page.
    std::map<std::string, std::optional<std::string>> license_texts;
    std::map<std::pair<std::string, const Converter*>, int32_t> license_offsets;
    for (size_t i = 0; i < m.languages.size(); ++i) {
        Language& lang = m.languages[i];
        for (const PageSwitch& s : kInstallerPages)
            if (std::find(page_switches.begin(), page_switches.end(), s.entry) == page_switches.end())
                lang.page_texts[(size_t)s.entry] = REF_NONE;
        if (!has_license) continue;
        const LanguageSource& source = language_sources_[i];
        const toml::node* file = source.license_file ? source.license_file : installer_license;
        if (!file) {
            error(source.table, "language " + std::to_string(lang.lang_id) +
                                    " has no license: the license page needs license_file = \"file\" in "
                                    "[installer] or in the language's table");
            continue;
        }
        const std::string& name = file->as_string()->get();
        auto read = license_texts.find(name);
        if (read == license_texts.end()) {
            Bytes bytes;
            std::string reason;
            std::optional<std::string> license;
            if (!read_file(source_path(name), bytes, reason)) {
                error(file, "cannot read the license file '" + name + "'");
            } else {
                license.emplace(bytes.begin(), bytes.end());
                // A byte order mark would hide the '{' by which the stub
                // tells rich text from plain text.
                if (license->compare(0, 3, "\xEF\xBB\xBF") == 0) license->erase(0, 3);
            }
            read = license_texts.emplace(name, std::move(license)).first;
        }
        if (!read->second) continue;
        const auto key = std::make_pair(name, source.converter);
        auto found = license_offsets.find(key);
        if (found == license_offsets.end())
            found = license_offsets.emplace(key, text(m, *read->second, file, false, "license text", *source.converter))
                        .first;
        lang.page_texts[PT_LICENSE_TEXT] = found->second;
    }

    const toml::table* un = table(root, "uninstaller", "uninstaller");
    for (size_t i = 0; i < code.entries.size(); ++i)
        if (code.entries[i].opcode == OP_WRITE_UNINSTALLER && !un && !root.get("uninstaller"))
            error(code.lines[i], "write_uninstaller needs an [uninstaller] table that describes the uninstaller");
    if (un) uninstaller(m, *un, chosen);
}

}  // namespace

std::vector<std::string> language_text_roles(bool uninstaller) {
    std::vector<std::string> names;
    for (const LanguageText& r : kLanguageTexts)
        if (has_role(r, uninstaller)) names.push_back(r.name);
    return names;
}

bool load_description(const std::string& text, const std::string& file, const std::string& base_dir,
                      DataBlockModel& model, std::vector<Diagnostic>& errors, const Converter& converter) {
    DataBlockModel m(false);
    size_t before = errors.size();
    Loader loader(text, file, base_dir, converter, errors);
    loader.load(m);
    if (errors.size() != before) {
        // In the order of the file, whichever part of it found them.
        std::vector<Diagnostic> found(errors.begin() + (long)before, errors.end());
        sort_by_line(found);
        std::copy(found.begin(), found.end(), errors.begin() + (long)before);
        return false;
    }
    model = std::move(m);
    return true;
}

}  // namespace quillmar
