#include "builder/description.h"

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <sstream>

#include <toml++/toml.h>

#include "builder/assembler.h"
#include "builder/opcodes.h"

namespace quillmar {

namespace {

// One language text: its slot (n >= 0: LanguageRecord dword n; n < 0: page
// text -n-1), whether the stub expands it, and the built-in English and
// French texts (nullptr: none by default).
struct Role {
    const char* name;
    int slot;
    bool expanded;
    const char* english;
    const char* french;
};

const Role kRoles[] = {
    {"branding", LS_BRANDING, false, "Quillmar Install System", "Quillmar Install System"},
    {"cancel", LS_CANCEL, false, "Cancel", "Annuler"},
    {"show_details", LS_SHOW_DETAILS, false, "Show &details", "Afficher les &d\xC3\xA9tails"},
    {"completed", LS_COMPLETED, false, "Completed", "Termin\xC3\xA9"},
    {"close", LS_CLOSE, false, "&Close", "&Fermer"},
    {"caption", LS_CAPTION, true, "Setup", "Installation"},
    {"suffix_license", 7, true, ": License Agreement", " : Licence"},
    {"suffix_components", 8, true, ": Components", " : Composants"},
    {"suffix_directory", 9, true, ": Installation Folder", " : Dossier d'installation"},
    {"suffix_install", 10, true, ": Installing", " : Installation en cours"},
    {"suffix_completed", 11, true, ": Completed", " : Termin\xC3\xA9"},
    {"file_open_failed", LS_FILE_OPEN_FAILED, true,
     "The file cannot be opened for writing:\r\n\r\n{var0}\r\n\r\nAbort stops the installation, Retry tries "
     "again, Ignore skips this file.",
     "Impossible d'ouvrir le fichier en \xC3\xA9" "criture :\r\n\r\n{var0}\r\n\r\nAbandonner arr\xC3\xAAte "
     "l'installation, R\xC3\xA9" "essayer recommence, Ignorer passe ce fichier."},
    {"log_write_failed", LS_LOG_WRITE_FAILED, false, "Cannot write: ", "\xC3\x89" "criture impossible : "},
    {"log_dir_removed", LS_LOG_DIR_REMOVED, false, "Remove folder: ", "Suppression du dossier : "},
    {"log_copy_failed", LS_LOG_COPY_FAILED, false, "Copy failed", "\xC3\x89" "chec de la copie"},
    {"log_copy_to", LS_LOG_COPY_TO, false, "Copy to ", "Copie vers "},
    {"log_symbol_not_found", LS_LOG_SYMBOL_NOT_FOUND, false, "Function not found: ", "Fonction introuvable : "},
    {"log_library_not_loaded", LS_LOG_LIBRARY_NOT_LOADED, false, "Cannot load: ", "Chargement impossible : "},
    {"log_no_ole", LS_LOG_NO_OLE, false, "No OLE for: ", "Pas d'OLE pour : "},
    {"log_shortcut_created", LS_LOG_SHORTCUT_CREATED, false, "Create shortcut: ", "Cr\xC3\xA9" "ation du raccourci : "},
    {"log_shortcut_failed", LS_LOG_SHORTCUT_FAILED, false, "Cannot create shortcut: ",
     "Raccourci impossible : "},
    {"log_file_deleted", LS_LOG_FILE_DELETED, false, "Delete file: ", "Suppression du fichier : "},
    {"log_delete_at_reboot", LS_LOG_DELETE_AT_REBOOT, false, "Delete at restart: ",
     "Suppression au red\xC3\xA9marrage : "},
    {"log_uninstaller_created", LS_LOG_UNINSTALLER_CREATED, false, "Created uninstaller: ",
     "D\xC3\xA9sinstalleur cr\xC3\xA9\xC3\xA9 : "},
    {"log_uninstaller_failed", LS_LOG_UNINSTALLER_FAILED, false, "Cannot create uninstaller: ",
     "D\xC3\xA9sinstalleur impossible : "},
    {"log_shell_execute", LS_LOG_SHELL_EXECUTE, false, "Open: ", "Ouverture : "},
    {"log_execute", LS_LOG_EXECUTE, false, "Run: ", "Ex\xC3\xA9" "cution : "},
    {"log_rename_at_reboot", LS_LOG_RENAME_AT_REBOOT, false, "Rename at restart: ",
     "Renommage au red\xC3\xA9marrage : "},
    {"log_rename", LS_LOG_RENAME, false, "Rename: ", "Renommage : "},
    {"log_extract", LS_LOG_EXTRACT, false, "Extract: ", "Extraction : "},
    {"extract_write_error", LS_EXTRACT_WRITE_ERROR, false, "Error writing the file ",
     "Erreur d'\xC3\xA9" "criture du fichier "},
    {"corrupt_data", LS_CORRUPT_DATA, false, "The installer is damaged: its data cannot be read.",
     "Le programme d'installation est endommag\xC3\xA9 : ses donn\xC3\xA9" "es sont illisibles."},
    {"log_skipped", LS_LOG_SKIPPED, false, "Skipped: ", "Ignor\xC3\xA9 : "},
    {"invalid_instruction", LS_INVALID_INSTRUCTION, false,
     "The installer is damaged: it contains an invalid instruction.",
     "Le programme d'installation est endommag\xC3\xA9 : il contient une instruction invalide."},
    {"log_output_dir", LS_LOG_OUTPUT_DIR, false, "Output folder: ", "Dossier de destination : "},
    {"log_dir_created", LS_LOG_DIR_CREATED, false, "Create folder: ", "Cr\xC3\xA9" "ation du dossier : "},
    // page texts
    {"back", -PT_BACK - 1, false, "< &Back", "< &Pr\xC3\xA9" "c\xC3\xA9" "dent"},
    {"next", -PT_NEXT - 1, false, "&Next >", "&Suivant >"},
    {"browse", -PT_BROWSE - 1, false, "B&rowse...", "P&arcourir..."},
    {"install", -PT_INSTALL - 1, false, "&Install", "&Installer"},
    {"space_required", -PT_SPACE_REQUIRED - 1, false, "Space required: ", "Espace requis : "},
    {"space_available", -PT_SPACE_AVAILABLE - 1, false, "Space available: ", "Espace disponible : "},
    {"custom_type", -PT_CUSTOM_TYPE - 1, false, "Custom", "Personnalis\xC3\xA9" "e"},
    {"dir_intro", -PT_DIR_INTRO - 1, false,
     "Setup will install the program in the folder below. To choose another folder, click Browse.",
     "Le programme sera install\xC3\xA9 dans le dossier ci-dessous. Pour en choisir un autre, cliquez sur "
     "Parcourir."},
    {"dir_label", -PT_DIR_LABEL - 1, false, "Installation folder", "Dossier d'installation"},
    {"components_intro", -PT_COMPONENTS_INTRO - 1, false, "Choose the components to install.",
     "Choisissez les composants \xC3\xA0 installer."},
    {"components_type_label", -PT_COMPONENTS_TYPE_LABEL - 1, false, "Type of installation:",
     "Type d'installation :"},
    {"components_tree_label", -PT_COMPONENTS_TREE_LABEL - 1, false, "Components:", "Composants :"},
    {"license_intro", -PT_LICENSE_INTRO - 1, false, "Please read the license agreement below.",
     "Veuillez lire le contrat de licence ci-dessous."},
    {"license_accept", -PT_LICENSE_ACCEPT - 1, false, "I &Agree", "J'&accepte"},
};

// Page texts that decide whether a page exists.
struct PageSwitch {
    const char* page;
    int entry;
};
const PageSwitch kPages[] = {
    {"license", PT_LICENSE_TEXT}, {"components", PT_COMPONENTS_INTRO}, {"directory", PT_DIR_INTRO}};

int32_t* callback_field(InstallHeader& h, const std::string& name) {
    if (name == "on_init") return &h.on_init;
    if (name == "on_success") return &h.on_success;
    if (name == "on_failure") return &h.on_failure;
    if (name == "on_cancel") return &h.on_cancel;
    if (name == "on_next_page") return &h.on_next_page;
    if (name == "on_page_shown") return &h.on_page_shown;
    if (name == "on_prev_page") return &h.on_prev_page;
    if (name == "on_verify_dir") return &h.on_verify_dir;
    if (name == "on_mouse_over_section") return &h.on_mouse_over_section;
    if (name == "on_selection_change") return &h.on_selection_change;
    return nullptr;
}

class Loader {
public:
    Loader(const std::string& text, const std::string& file, const std::string& base_dir,
           const Converter& converter, std::vector<std::string>& errors)
        : text_(text), file_(file), base_dir_(base_dir), converter_(converter), errors_(errors) {}

    void load(DataBlockModel& m);

private:
    const std::string& text_;
    const std::string& file_;
    const std::string& base_dir_;
    const Converter& converter_;
    std::vector<std::string>& errors_;
    std::map<std::string, size_t> payloads_;

    void error(const toml::node* node, const std::string& message) {
        int line = node ? (int)node->source().begin.line : 0;
        errors_.push_back(file_ + ":" + std::to_string(line) + ": " + message);
    }

    // Adds a text to the pool, expanded or shown as stored; -1 after an error.
    int32_t text(DataBlockModel& m, const toml::node& node, bool expanded, const std::string& what) {
        const std::string* s = node.as_string() ? &node.as_string()->get() : nullptr;
        if (!s) {
            error(&node, what + " must be a string");
            return REF_NONE;
        }
        return text(m, *s, &node, expanded, what);
    }
    int32_t text(DataBlockModel& m, const std::string& s, const toml::node* node, bool expanded,
                 const std::string& what) {
        std::string stored;
        std::vector<TextProblem> problems;
        bool ok = expanded ? encode_text(s, converter_, false, stored, problems)
                           : convert_text(s, converter_, stored, problems);
        for (const TextProblem& p : problems)
            error(node, what + ", character " + std::to_string(p.column) + ": " + p.message);
        return ok ? m.pool.add_encoded(stored) : REF_NONE;
    }

    void known_keys(const toml::table& t, std::initializer_list<const char*> keys, const char* where) {
        for (const auto& kv : t) {
            bool known = false;
            for (const char* k : keys) known = known || kv.first.str() == k;
            if (!known) error(&kv.second, std::string("unknown setting '") + std::string(kv.first.str()) + "' in " + where);
        }
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

    bool read_file(const std::string& name, Bytes& bytes) {
        std::string path = base_dir_.empty() ? name : base_dir_ + "/" + name;
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !in.bad();
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

    void languages(DataBlockModel& m, const toml::node* node);
    void installer(DataBlockModel& m, const toml::table& t, std::vector<int32_t>& page_switches);
};

void Loader::installer(DataBlockModel& m, const toml::table& t, std::vector<int32_t>& page_switches) {
    InstallHeader& h = m.header;
    known_keys(t,
               {"default_install_dir", "install_dir_registry", "pages", "license_file", "details", "auto_close",
                "skip_dir_page_if_valid", "no_root_dir", "smooth_progress", "coloured_progress", "install_types",
                "install_type_mode"},
               "[installer]");
    if (const toml::node* n = t.get("default_install_dir")) h.default_install_dir = text(m, *n, true, "default_install_dir");
    if (const toml::node* n = t.get("install_dir_registry")) {
        const toml::table* r = n->as_table();
        const toml::node* root = r ? r->get("root") : nullptr;
        const toml::node* key = r ? r->get("key") : nullptr;
        const toml::node* value = r ? r->get("value") : nullptr;
        int64_t root_value = 0;
        if (!root || !key || !value || !root->is_string()) {
            error(n, "install_dir_registry needs root (such as \"HKLM\"), key and value");
        } else if (!find_symbol(find_opcode("read_registry")->params[1].symbols, root->as_string()->get(),
                                root_value)) {
            error(root, "unknown registry root '" + root->as_string()->get() + "'");
        } else {
            h.install_dir_reg_root = (uint32_t)root_value;
            h.install_dir_reg_key = text(m, *key, false, "install_dir_registry key");
            h.install_dir_reg_value = text(m, *value, false, "install_dir_registry value");
        }
    }
    if (const toml::node* n = t.get("details")) {
        const std::string* s = n->as_string() ? &n->as_string()->get() : nullptr;
        if (s && *s == "hidden") h.details_mode = 0;
        else if (s && *s == "shown") h.details_mode = 1;
        else if (s && *s == "none") h.details_mode = 2;
        else error(n, "details must be \"hidden\", \"shown\" or \"none\"");
    }
    h.misc_flags = (uint8_t)((boolean(t, "auto_close", false) ? MISC_AUTO_CLOSE : 0) |
                             (boolean(t, "skip_dir_page_if_valid", false) ? MISC_SKIP_DIR_PAGE_IF_VALID : 0) |
                             (boolean(t, "no_root_dir", false) ? MISC_NO_ROOT_DIR : 0));
    h.progress_flags = (uint8_t)((boolean(t, "smooth_progress", false) ? PROGRESS_SMOOTH : 0) |
                                 (boolean(t, "coloured_progress", false) ? PROGRESS_COLOURED : 0));
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
        if (integer(n, "install_type_mode", 0, 2, v)) h.install_type_mode = (int32_t)v;
    }
    if (const toml::node* n = t.get("pages")) {
        page_switches.clear();
        const toml::array* a = n->as_array();
        if (!a) error(n, "pages must be a list such as [\"license\", \"components\", \"directory\"]");
        for (size_t i = 0; a && i < a->size(); ++i) {
            const toml::node* p = a->get(i);
            int entry = -1;
            for (const PageSwitch& s : kPages)
                if (p->is_string() && p->as_string()->get() == s.page) entry = s.entry;
            if (entry < 0) error(p, "unknown page (license, components or directory)");
            else page_switches.push_back(entry);
        }
    }
}

void Loader::languages(DataBlockModel& m, const toml::node* node) {
    const toml::array* list = node ? node->as_array() : nullptr;
    if (!node) {
        errors_.push_back(file_ + ":1: the description has no [[languages]]");
        return;
    }
    if (!list || list->empty()) {
        error(node, "languages must be a list of tables ([[languages]])");
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
        known_keys(*t, {"id", "texts"}, "[[languages]]");
        bool duplicate = false;
        for (const Language& other : m.languages) duplicate = duplicate || other.lang_id == id;
        if (duplicate) {
            error(id_node, "language " + std::to_string(id) + " is given twice");
            continue;
        }
        Language lang((uint16_t)id, false);
        const toml::table* texts = nullptr;
        if (const toml::node* n = t->get("texts")) {
            texts = n->as_table();
            if (!texts) error(n, "texts must be a table of role = \"text\"");
        }
        if (texts) {
            for (const auto& kv : *texts) {
                bool known = false;
                for (const Role& r : kRoles) known = known || kv.first.str() == r.name;
                if (!known) error(&kv.second, "unknown language text '" + std::string(kv.first.str()) + "'");
            }
        }
        std::string missing;
        for (const Role& r : kRoles) {
            const toml::node* given = texts ? texts->get(r.name) : nullptr;
            const char* builtin = id == 1033 ? r.english : id == 1036 ? r.french : nullptr;
            int32_t offset = REF_NONE;
            if (given) offset = text(m, *given, r.expanded, r.name);
            else if (builtin) offset = text(m, builtin, &entry, r.expanded, r.name);
            else {
                missing += std::string(missing.empty() ? "" : ", ") + r.name;
                continue;
            }
            if (r.slot >= 0) lang.strings[r.slot] = offset;
            else lang.page_texts[(size_t)(-r.slot - 1)] = offset;
        }
        if (!missing.empty())
            error(&entry, "language " + std::to_string(id) + " has no built-in texts; its texts lack " + missing);
        m.languages.push_back(lang);
    }
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
        errors_.push_back(file_ + ":" + std::to_string(bad_line) +
                          ": a character other than ASCII outside a string or comment");
        return;
    }
    toml::table root;
    try {
        root = toml::parse(text_, file_);
    } catch (const toml::parse_error& e) {
        errors_.push_back(file_ + ":" + std::to_string(e.source().begin.line) + ": " +
                          std::string(e.description()));
        return;
    }
    for (const auto& kv : root) {
        std::string key(kv.first.str());
        if (key != "script" && key != "installer" && key != "callbacks" && key != "sections" && key != "languages")
            error(&kv.second, "unknown setting '" + key + "'");
    }

    // The script first: everything else points into it.
    AssembleResult code;
    const toml::node* script = root.get("script");
    if (!script || !script->is_string()) {
        error(script, "the description needs its script = '''...''' as a string");
    } else {
        PayloadResolver payloads = [&](const std::string& name, size_t& payload, std::string& message) {
            auto found = payloads_.find(name);
            if (found != payloads_.end()) {
                payload = found->second;
                return true;
            }
            Bytes bytes;
            if (!read_file(name, bytes)) {
                message = "cannot read the payload file '" + name + "'";
                return false;
            }
            payload = m.add_payload(std::move(bytes));
            payloads_[name] = payload;
            return true;
        };
        code = assemble(script->as_string()->get(), m, file_, first_script_line(*script), converter_, payloads);
        errors_.insert(errors_.end(), code.errors.begin(), code.errors.end());
    }
    auto label = [&](const toml::node& n, const std::string& what, int32_t& index) {
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
    };

    std::vector<int32_t> page_switches = {PT_DIR_INTRO};
    if (const toml::node* n = root.get("installer")) {
        if (!n->as_table()) error(n, "installer must be a table");
        else installer(m, *n->as_table(), page_switches);
    }
    if (const toml::node* n = root.get("callbacks")) {
        const toml::table* t = n->as_table();
        if (!t) error(n, "callbacks must be a table");
        if (t) for (const auto& kv : *t) {
            int32_t* field = callback_field(m.header, std::string(kv.first.str()));
            if (!field) {
                error(&kv.second, "unknown callback '" + std::string(kv.first.str()) + "'");
                continue;
            }
            label(kv.second, std::string(kv.first.str()), *field);
        }
    }
    if (const toml::node* n = root.get("sections")) {
        const toml::array* a = n->as_array();
        if (!a) error(n, "sections must be a list of tables ([[sections]])");
        if (a) for (const toml::node& s : *a) {
            const toml::table* t = s.as_table();
            if (!t) {
                error(&s, "each section must be a table");
                continue;
            }
            SectionRecord rec = {REF_NONE, 0, 0, 0, 0, 0};
            known_keys(*t, {"name", "code", "selected", "read_only", "install_types", "size_kb", "expanded"},
                       "[[sections]]");
            if (const toml::node* name = t->get("name")) rec.name = text(m, *name, true, "section name");
            const toml::node* code_node = t->get("code");
            if (!code_node) error(&s, "a section needs its code = \"label\"");
            else if (label(*code_node, "code", rec.code)) {
                int32_t end = rec.code;
                while ((size_t)end < m.entries.size() && m.entries[(size_t)end].opcode != OPCODE_END) ++end;
                rec.entry_count = end - rec.code;
            }
            if (boolean(*t, "selected", true)) rec.flags |= SECTION_SELECTED;
            if (boolean(*t, "read_only", false)) rec.flags |= SECTION_READ_ONLY;
            if (const toml::node* types = t->get("install_types")) {
                const toml::array* ta = types->as_array();
                if (!ta) error(types, "install_types must be a list of install type numbers 0..7");
                for (size_t i = 0; ta && i < ta->size(); ++i) {
                    int64_t v;
                    if (integer(ta->get(i), "install type", 0, MAX_INSTALL_TYPES - 1, v)) rec.flags |= 1u << v;
                }
            }
            if (const toml::node* size = t->get("size_kb")) {
                int64_t v;
                if (integer(size, "size_kb", 0, INT32_MAX, v)) rec.size_kb = (int32_t)v;
            }
            rec.expanded = boolean(*t, "expanded", false) ? 1 : 0;
            m.sections.push_back(rec);
        }
    }
    m.header.section_count = (int32_t)m.sections.size();

    languages(m, root.get("languages"));
    // Pages that the description does not ask for lose their switching text.
    std::string license;
    bool has_license = false;
    for (int32_t e : page_switches) has_license = has_license || e == PT_LICENSE_TEXT;
    const toml::table* inst = root.get("installer") ? root.get("installer")->as_table() : nullptr;
    const toml::node* license_node = inst ? inst->get("license_file") : nullptr;
    int32_t license_offset = REF_NONE;
    if (has_license) {
        Bytes bytes;
        if (!license_node || !license_node->is_string()) {
            error(license_node ? license_node : root.get("installer"),
                  "the license page needs license_file = \"file\"");
        } else if (!read_file(license_node->as_string()->get(), bytes)) {
            error(license_node, "cannot read the license file '" + license_node->as_string()->get() + "'");
        } else {
            license_offset = text(m, std::string(bytes.begin(), bytes.end()), license_node, false, "license text");
        }
    }
    for (Language& lang : m.languages) {
        for (const PageSwitch& s : kPages) {
            bool wanted = false;
            for (int32_t e : page_switches) wanted = wanted || e == s.entry;
            if (!wanted) lang.page_texts[(size_t)s.entry] = REF_NONE;
        }
        if (has_license) lang.page_texts[PT_LICENSE_TEXT] = license_offset;
    }
}

}  // namespace

std::vector<std::string> language_text_roles() {
    std::vector<std::string> names;
    for (const Role& r : kRoles) names.push_back(r.name);
    return names;
}

bool load_description(const std::string& text, const std::string& file, const std::string& base_dir,
                      DataBlockModel& model, std::vector<std::string>& errors, const Converter& converter) {
    DataBlockModel m(false);
    size_t before = errors.size();
    Loader loader(text, file, base_dir, converter, errors);
    loader.load(m);
    if (errors.size() != before) return false;
    model = std::move(m);
    return true;
}

}  // namespace quillmar
