#include "builder/opcodes.h"

#include <cctype>

namespace quillmar {

namespace {

#define SET(name, ...)                                    \
    const Symbol name##_list[] = {__VA_ARGS__};           \
    const SymbolSet name = {name##_list, (int)(sizeof(name##_list) / sizeof(Symbol))};

SET(kCommon, {"true", 1}, {"false", 0})

SET(kRoots, {"HKCR", (int64_t)0x80000000u}, {"HKEY_CLASSES_ROOT", (int64_t)0x80000000u},
    {"HKCU", (int64_t)0x80000001u}, {"HKEY_CURRENT_USER", (int64_t)0x80000001u},
    {"HKLM", (int64_t)0x80000002u}, {"HKEY_LOCAL_MACHINE", (int64_t)0x80000002u},
    {"HKU", (int64_t)0x80000003u}, {"HKEY_USERS", (int64_t)0x80000003u},
    {"HKPD", (int64_t)0x80000004u}, {"HKEY_PERFORMANCE_DATA", (int64_t)0x80000004u},
    {"HKCC", (int64_t)0x80000005u}, {"HKEY_CURRENT_CONFIG", (int64_t)0x80000005u},
    {"HKDD", (int64_t)0x80000006u}, {"HKEY_DYN_DATA", (int64_t)0x80000006u})

SET(kMessageBoxStyle, {"MB_OK", 0}, {"MB_OKCANCEL", 1}, {"MB_ABORTRETRYIGNORE", 2},
    {"MB_YESNOCANCEL", 3}, {"MB_YESNO", 4}, {"MB_RETRYCANCEL", 5},
    {"MB_ICONSTOP", 0x10}, {"MB_ICONERROR", 0x10}, {"MB_ICONHAND", 0x10},
    {"MB_ICONQUESTION", 0x20}, {"MB_ICONEXCLAMATION", 0x30}, {"MB_ICONWARNING", 0x30},
    {"MB_ICONINFORMATION", 0x40}, {"MB_ICONASTERISK", 0x40},
    {"MB_DEFBUTTON1", 0}, {"MB_DEFBUTTON2", 0x100}, {"MB_DEFBUTTON3", 0x200}, {"MB_DEFBUTTON4", 0x300},
    {"MB_APPLMODAL", 0}, {"MB_SYSTEMMODAL", 0x1000}, {"MB_TASKMODAL", 0x2000},
    {"MB_SETFOREGROUND", 0x10000}, {"MB_TOPMOST", 0x40000}, {"MB_RIGHT", 0x80000},
    {"MB_RTLREADING", 0x100000})

SET(kButtons, {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5},
    {"IDYES", 6}, {"IDNO", 7})

SET(kShow, {"SW_HIDE", 0}, {"SW_SHOWNORMAL", 1}, {"SW_NORMAL", 1}, {"SW_SHOWMINIMIZED", 2},
    {"SW_SHOWMAXIMIZED", 3}, {"SW_MAXIMIZE", 3}, {"SW_SHOWNOACTIVATE", 4}, {"SW_SHOW", 5},
    {"SW_MINIMIZE", 6}, {"SW_SHOWMINNOACTIVE", 7}, {"SW_SHOWNA", 8}, {"SW_RESTORE", 9},
    {"SW_SHOWDEFAULT", 10})

// Shortcut options: icon index in bits 0..7, show command in bits 8..15,
// hotkey in bits 16..31; the show commands are offered already shifted.
SET(kShortcut, {"SHOW_NORMAL", 1 << 8}, {"SHOW_MAXIMIZED", 3 << 8}, {"SHOW_MINIMIZED", 7 << 8})

SET(kOverwrite, {"always", 0}, {"never", 1}, {"try", 2}, {"if_newer", 3})

SET(kIntOperation, {"add", 0}, {"sub", 1}, {"mul", 2}, {"div", 3}, {"or", 4}, {"and", 5},
    {"xor", 6}, {"not", 7}, {"lnot", 8}, {"lor", 9}, {"land", 10}, {"mod", 11})

SET(kDetailFlags, {"list", 1}, {"status", 2}, {"both", 3})

SET(kAttributes, {"READONLY", 0x1}, {"HIDDEN", 0x2}, {"SYSTEM", 0x4}, {"DIRECTORY", 0x10},
    {"ARCHIVE", 0x20}, {"NORMAL", 0x80}, {"TEMPORARY", 0x100}, {"OFFLINE", 0x1000},
    {"NOT_CONTENT_INDEXED", 0x2000},
    {"FILE_ATTRIBUTE_READONLY", 0x1}, {"FILE_ATTRIBUTE_HIDDEN", 0x2}, {"FILE_ATTRIBUTE_SYSTEM", 0x4},
    {"FILE_ATTRIBUTE_ARCHIVE", 0x20}, {"FILE_ATTRIBUTE_NORMAL", 0x80},
    {"FILE_ATTRIBUTE_TEMPORARY", 0x100}, {"FILE_ATTRIBUTE_OFFLINE", 0x1000},
    {"FILE_ATTRIBUTE_NOT_CONTENT_INDEXED", 0x2000})

SET(kPathForm, {"short", 0}, {"long", 1})
SET(kEnvironment, {"expand", 0}, {"variable", 1})
SET(kStackMode, {"push", 0}, {"pop", 1})

SET(kWindowLong, {"GWL_WNDPROC", -4}, {"GWL_HINSTANCE", -6}, {"GWL_HWNDPARENT", -8},
    {"GWL_ID", -12}, {"GWL_STYLE", -16}, {"GWL_EXSTYLE", -20}, {"GWL_USERDATA", -21})

SET(kCopyFlags, {"FOF_SILENT", 0x4}, {"FOF_RENAMEONCOLLISION", 0x8}, {"FOF_NOCONFIRMATION", 0x10},
    {"FOF_ALLOWUNDO", 0x40}, {"FOF_FILESONLY", 0x80}, {"FOF_SIMPLEPROGRESS", 0x100},
    {"FOF_NOCONFIRMMKDIR", 0x200}, {"FOF_NOERRORUI", 0x400})

SET(kRegistryType, {"expand_string", 0}, {"string", 1}, {"dword", 2}, {"binary", 3})
SET(kReadType, {"string", 0}, {"number", 1})
SET(kEnumKind, {"values", 0}, {"keys", 1})

SET(kAccess, {"GENERIC_READ", (int64_t)0x80000000u}, {"GENERIC_WRITE", 0x40000000},
    {"read", (int64_t)0x80000000u}, {"write", 0x40000000}, {"read_write", (int64_t)0xC0000000u})
SET(kDisposition, {"CREATE_NEW", 1}, {"CREATE_ALWAYS", 2}, {"OPEN_EXISTING", 3},
    {"OPEN_ALWAYS", 4}, {"TRUNCATE_EXISTING", 5})
SET(kSeek, {"FILE_BEGIN", 0}, {"FILE_CURRENT", 1}, {"FILE_END", 2})
SET(kSectionMode, {"set_name", 0}, {"get_name", 1}, {"set_flags", 2}, {"get_flags", 3})
SET(kFontStyle, {"italic", 1}, {"underline", 2}, {"strikeout", 4})

#undef SET

using K = ParamKind;

// Parameter shorthands: name, kind, symbols, default, default text, required.
#define NONE {nullptr, K::unused, nullptr, 0, nullptr, false}
#define STR(n) {n, K::string, nullptr, -1, nullptr, false}
#define STR_R(n) {n, K::string, nullptr, -1, nullptr, true}
#define NUM(n) {n, K::number, nullptr, -1, nullptr, false}
#define NUM_D(n, text) {n, K::number, nullptr, -1, text, false}
#define IMM(n, set) {n, K::immediate, set, 0, nullptr, false}
#define IMM_D(n, set, d) {n, K::immediate, set, d, nullptr, false}
#define IMM_R(n, set) {n, K::immediate, set, 0, nullptr, true}
#define SLOT(n) {n, K::slot, nullptr, 0, nullptr, true}
#define SLOT_OPT(n) {n, K::slot_or_none, nullptr, -1, nullptr, false}
#define TARGET(n) {n, K::target, nullptr, 0, nullptr, false}
#define BLOCK(n) {n, K::block, nullptr, 0, nullptr, true}
#define STACK_VALUE {"value", K::stack_value, nullptr, -1, nullptr, false}
#define REGISTRY_DATA {"data", K::registry_data, nullptr, -1, nullptr, false}
#define SECTION_VALUE {"value", K::section_value, nullptr, -1, nullptr, true}
#define OP(code, name, a, b, c, d, e) {code, name, {a, b, c, d, e}}

const OpcodeInfo kOpcodes[] = {
    OP(1, "end", NONE, NONE, NONE, NONE, NONE),
    OP(2, "jump", TARGET("to"), NONE, NONE, NONE, NONE),
    OP(3, "abort", STR("message"), NONE, NONE, NONE, NONE),
    OP(4, "quit", NONE, NONE, NONE, NONE, NONE),
    OP(5, "call", TARGET("to"), NONE, NONE, NONE, NONE),
    OP(6, "detail_output", STR("text"), IMM("flags", &kDetailFlags), NONE, NONE, NONE),
    OP(7, "sleep", NUM("milliseconds"), NONE, NONE, NONE, NONE),
    OP(8, "set_all_users", IMM("flag", nullptr), NONE, NONE, NONE, NONE),
    OP(9, "hide_window", NONE, NONE, NONE, NONE, NONE),
    OP(10, "bring_to_front", NONE, NONE, NONE, NONE, NONE),
    OP(11, "set_auto_close", IMM("flag", nullptr), NONE, NONE, NONE, NONE),
    OP(12, "show_details", IMM_R("list_show", &kShow), IMM_R("button_show", &kShow), NONE, NONE, NONE),
    OP(13, "set_file_attributes", STR_R("path"), IMM_R("attributes", &kAttributes), NONE, NONE, NONE),
    OP(14, "create_directory", STR_R("path"), IMM("set_output", nullptr), NONE, NONE, NONE),
    OP(15, "if_file_exists", STR_R("path"), TARGET("found"), TARGET("missing"), NONE, NONE),
    OP(16, "if_error", TARGET("error"), TARGET("no_error"), IMM("new_count", nullptr), NONE, NONE),
    OP(17, "rename", STR_R("source"), STR_R("destination"), IMM("at_reboot", nullptr), NONE, NONE),
    OP(18, "get_full_path", SLOT("result"), STR_R("path"), IMM("form", &kPathForm), NONE, NONE),
    OP(19, "search_path", SLOT("result"), STR_R("name"), NONE, NONE, NONE),
    OP(20, "get_temp_file_name", SLOT("result"), NONE, NONE, NONE, NONE),
    OP(21, "extract_file", IMM("overwrite", &kOverwrite), STR_R("name"), BLOCK("data"),
       IMM_D("time_low", nullptr, -1), IMM_D("time_high", nullptr, -1)),
    OP(22, "delete_file", STR_R("path"), IMM("at_reboot", nullptr), NONE, NONE, NONE),
    OP(23, "message_box", IMM("style", &kMessageBoxStyle), STR_R("text"), IMM("buttons", &kButtons),
       TARGET("first"), TARGET("second")),
    OP(24, "remove_directory", STR_R("path"), IMM("recursive", nullptr), NONE, NONE, NONE),
    OP(25, "string_length", SLOT("result"), STR("text"), NONE, NONE, NONE),
    OP(26, "copy_string", SLOT("result"), STR("text"), NUM("count"), NUM("start"), NONE),
    OP(27, "compare_string", STR("a"), STR("b"), TARGET("equal"), TARGET("different"), NONE),
    OP(28, "read_environment", SLOT("result"), STR_R("text"), IMM("mode", &kEnvironment), NONE, NONE),
    OP(29, "compare_int", NUM("a"), NUM("b"), TARGET("equal"), TARGET("less"), TARGET("greater")),
    OP(30, "compare_uint", NUM("a"), NUM("b"), TARGET("equal"), TARGET("less"), TARGET("greater")),
    OP(31, "int_operation", SLOT("result"), NUM("a"), NUM("b"), IMM_R("operation", &kIntOperation), NONE),
    OP(32, "format_int", SLOT("result"), STR_R("format"), NUM("value"), NONE, NONE),
    OP(33, "stack", STACK_VALUE, IMM("mode", &kStackMode),
       IMM("exchange", nullptr), NONE, NONE),
    OP(34, "find_window", SLOT_OPT("result"), STR("class"), STR("title"), NUM("parent"), NUM("after")),
    OP(35, "send_message", SLOT_OPT("result"), STR_R("window"), STR_R("message"), NUM("wparam"),
       NUM("lparam")),
    OP(36, "if_window", NUM("window"), TARGET("valid"), TARGET("invalid"), NONE, NONE),
    OP(37, "get_dialog_item", SLOT("result"), NUM("dialog"), NUM("control"), NONE, NONE),
    OP(38, "set_window_long", NUM("window"), IMM_R("index", &kWindowLong), NUM("value"), NONE, NONE),
    OP(39, "shell_execute", STR("verb"), STR_R("file"), STR("parameters"), IMM_D("show", &kShow, 1), NONE),
    OP(40, "execute", STR_R("command"), IMM("wait", nullptr), SLOT_OPT("exit_code"), NONE, NONE),
    OP(41, "get_file_time", STR_R("path"), SLOT("high"), SLOT("low"), NONE, NONE),
    OP(42, "get_file_version", STR_R("file"), SLOT("high"), SLOT("low"), NONE, NONE),
    OP(43, "call_library", STR_R("library"), STR_R("function"), STR("status"), IMM("keep_loaded", nullptr),
       NONE),
    OP(44, "create_shortcut", STR_R("shortcut"), STR_R("target"), STR("arguments"), STR("icon_file"),
       IMM("options", &kShortcut)),
    OP(45, "copy_files", STR_R("source"), STR_R("destination"), IMM("flags", &kCopyFlags), NONE, NONE),
    OP(46, "reboot", IMM_D("guard", nullptr, REBOOT_GUARD), NONE, NONE, NONE, NONE),
    OP(47, "if_reboot_flag", TARGET("set"), TARGET("clear"), NONE, NONE, NONE),
    OP(48, "set_reboot_flag", IMM("value", nullptr), NONE, NONE, NONE, NONE),
    OP(49, "write_ini", STR_R("section"), STR_R("entry"), STR_R("value"), STR_R("file"), NONE),
    OP(50, "read_ini", SLOT("result"), STR("section"), STR("entry"), STR_R("file"), NONE),
    OP(51, "delete_registry", IMM_R("root", &kRoots), STR_R("key"), STR_R("value"),
       IMM("only_if_empty", nullptr), NONE),
    OP(52, "write_registry", IMM_R("root", &kRoots), STR_R("key"), STR("value"),
       REGISTRY_DATA, IMM_R("type", &kRegistryType)),
    OP(53, "read_registry", SLOT("result"), IMM_R("root", &kRoots), STR_R("key"), STR("value"),
       IMM("type", &kReadType)),
    OP(54, "enum_registry", SLOT("result"), IMM_R("root", &kRoots), STR_R("key"), NUM("index"),
       IMM("kind", &kEnumKind)),
    OP(55, "file_close", SLOT("handle"), NONE, NONE, NONE, NONE),
    OP(56, "file_open", STR_R("file"), IMM_R("access", &kAccess), IMM_R("disposition", &kDisposition),
       SLOT("handle"), NONE),
    OP(57, "file_write", SLOT("handle"), STR("data"), IMM("byte", nullptr), NONE, NONE),
    OP(58, "file_read", SLOT("handle"), SLOT("result"), NUM_D("max", "1023"), IMM("byte", nullptr), NONE),
    OP(59, "file_seek", SLOT("handle"), NUM("distance"), IMM("method", &kSeek), SLOT_OPT("position"), NONE),
    OP(60, "find_close", SLOT("handle"), NONE, NONE, NONE, NONE),
    OP(61, "find_next", SLOT("result"), SLOT("handle"), NONE, NONE, NONE),
    OP(62, "find_first", STR_R("pattern"), SLOT("result"), SLOT("handle"), NONE, NONE),
    OP(63, "write_uninstaller", STR_R("name"), NONE, NONE, NONE, NONE),
    OP(65, "section", NUM("index"), IMM_R("mode", &kSectionMode),
       SECTION_VALUE, NONE, NONE),
    OP(66, "set_control_bitmap", STR_R("file"), IMM_R("control", nullptr), IMM("fit", nullptr), NONE, NONE),
    OP(67, "create_font", SLOT("result"), STR_R("face"), NUM("size"), NUM("weight"),
       IMM("style", &kFontStyle)),
    OP(70, "remember_temp_directory", NONE, NONE, NONE, NONE, NONE),
};

const int kOpcodeCount = (int)(sizeof(kOpcodes) / sizeof(kOpcodes[0]));

}  // namespace

const OpcodeInfo* opcode_table(int& count) {
    count = kOpcodeCount;
    return kOpcodes;
}

const OpcodeInfo* find_opcode(const std::string& name) {
    if (name == "return") return &kOpcodes[0];  // another name for end
    for (const OpcodeInfo& op : kOpcodes)
        if (name == op.name) return &op;
    return nullptr;
}

const OpcodeInfo* find_opcode(int32_t opcode) {
    for (const OpcodeInfo& op : kOpcodes)
        if (op.opcode == opcode) return &op;
    return nullptr;
}

const SymbolSet& common_symbols() { return kCommon; }

bool find_symbol(const SymbolSet* set, const std::string& name, int64_t& value) {
    if (!set) return false;
    for (int i = 0; i < set->count; ++i) {
        const char* s = set->symbols[i].name;
        size_t n = 0;
        while (s[n] && n < name.size() &&
               std::tolower((unsigned char)s[n]) == std::tolower((unsigned char)name[n]))
            ++n;
        if (!s[n] && n == name.size()) {
            value = set->symbols[i].value;
            return true;
        }
    }
    return false;
}

}  // namespace quillmar
