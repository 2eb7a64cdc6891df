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

// Shortcut options: the show commands are offered already shifted into place.
SET(kShortcut, {"SHOW_NORMAL", 1 << SHORTCUT_SHOW_SHIFT}, {"SHOW_MAXIMIZED", 3 << SHORTCUT_SHOW_SHIFT},
    {"SHOW_MINIMIZED", 7 << SHORTCUT_SHOW_SHIFT})

SET(kOverwrite, {"always", OVERWRITE_ALWAYS}, {"never", OVERWRITE_NEVER}, {"try", OVERWRITE_TRY},
    {"if_newer", OVERWRITE_IF_NEWER})

SET(kIntOperation, {"add", INT_ADD}, {"sub", INT_SUB}, {"mul", INT_MUL}, {"div", INT_DIV}, {"or", INT_OR},
    {"and", INT_AND}, {"xor", INT_XOR}, {"not", INT_NOT}, {"lnot", INT_LNOT}, {"lor", INT_LOR},
    {"land", INT_LAND}, {"mod", INT_MOD})

SET(kDetailFlags, {"list", DETAIL_TO_LIST}, {"status", DETAIL_TO_STATUS},
    {"both", DETAIL_TO_LIST | DETAIL_TO_STATUS})

SET(kAttributes, {"READONLY", 0x1}, {"HIDDEN", 0x2}, {"SYSTEM", 0x4}, {"DIRECTORY", 0x10},
    {"ARCHIVE", 0x20}, {"NORMAL", 0x80}, {"TEMPORARY", 0x100}, {"OFFLINE", 0x1000},
    {"NOT_CONTENT_INDEXED", 0x2000},
    {"FILE_ATTRIBUTE_READONLY", 0x1}, {"FILE_ATTRIBUTE_HIDDEN", 0x2}, {"FILE_ATTRIBUTE_SYSTEM", 0x4},
    {"FILE_ATTRIBUTE_ARCHIVE", 0x20}, {"FILE_ATTRIBUTE_NORMAL", 0x80},
    {"FILE_ATTRIBUTE_TEMPORARY", 0x100}, {"FILE_ATTRIBUTE_OFFLINE", 0x1000},
    {"FILE_ATTRIBUTE_NOT_CONTENT_INDEXED", 0x2000})

SET(kPathForm, {"short", PATH_SHORT}, {"long", PATH_LONG})
SET(kEnvironment, {"expand", ENV_EXPAND}, {"variable", ENV_VARIABLE})
SET(kStackMode, {"push", STACK_PUSH}, {"pop", STACK_POP})

SET(kWindowLong, {"GWL_WNDPROC", -4}, {"GWL_HINSTANCE", -6}, {"GWL_HWNDPARENT", -8},
    {"GWL_ID", -12}, {"GWL_STYLE", -16}, {"GWL_EXSTYLE", -20}, {"GWL_USERDATA", -21})

SET(kCopyFlags, {"FOF_SILENT", 0x4}, {"FOF_RENAMEONCOLLISION", 0x8}, {"FOF_NOCONFIRMATION", 0x10},
    {"FOF_ALLOWUNDO", 0x40}, {"FOF_FILESONLY", 0x80}, {"FOF_SIMPLEPROGRESS", 0x100},
    {"FOF_NOCONFIRMMKDIR", 0x200}, {"FOF_NOERRORUI", 0x400})

SET(kRegistryType, {"expand_string", REG_KIND_EXPAND_STRING}, {"string", REG_KIND_STRING},
    {"dword", REG_KIND_DWORD}, {"binary", REG_KIND_BINARY})
SET(kReadType, {"string", REG_READ_STRING}, {"number", REG_READ_NUMBER})
SET(kEnumKind, {"values", REG_ENUM_VALUES}, {"keys", REG_ENUM_KEYS})

SET(kAccess, {"GENERIC_READ", (int64_t)0x80000000u}, {"GENERIC_WRITE", 0x40000000},
    {"read", (int64_t)0x80000000u}, {"write", 0x40000000}, {"read_write", (int64_t)0xC0000000u})
SET(kDisposition, {"CREATE_NEW", 1}, {"CREATE_ALWAYS", 2}, {"OPEN_EXISTING", 3},
    {"OPEN_ALWAYS", 4}, {"TRUNCATE_EXISTING", 5})
SET(kSeek, {"FILE_BEGIN", 0}, {"FILE_CURRENT", 1}, {"FILE_END", 2})
SET(kSectionMode, {"set_name", SECTION_SET_NAME}, {"get_name", SECTION_GET_NAME},
    {"set_flags", SECTION_SET_FLAGS}, {"get_flags", SECTION_GET_FLAGS})
SET(kFontStyle, {"italic", FONT_ITALIC}, {"underline", FONT_UNDERLINE}, {"strikeout", FONT_STRIKEOUT})

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
#define OP(code, name, a, b, c, d, e) {code, name, {a, b, c, d, e}, #code}

const OpcodeInfo kOpcodes[] = {
    OP(OP_RETURN, "end", NONE, NONE, NONE, NONE, NONE),
    OP(OP_JUMP, "jump", TARGET("to"), NONE, NONE, NONE, NONE),
    OP(OP_ABORT, "abort", STR("message"), NONE, NONE, NONE, NONE),
    OP(OP_QUIT, "quit", NONE, NONE, NONE, NONE, NONE),
    OP(OP_CALL, "call", TARGET("to"), NONE, NONE, NONE, NONE),
    OP(OP_DETAIL_OUTPUT, "detail_output", STR("text"), IMM("flags", &kDetailFlags), NONE, NONE, NONE),
    OP(OP_SLEEP, "sleep", NUM("milliseconds"), NONE, NONE, NONE, NONE),
    OP(OP_SET_ALL_USERS, "set_all_users", IMM("flag", nullptr), NONE, NONE, NONE, NONE),
    OP(OP_HIDE_WINDOW, "hide_window", NONE, NONE, NONE, NONE, NONE),
    OP(OP_BRING_TO_FRONT, "bring_to_front", NONE, NONE, NONE, NONE, NONE),
    OP(OP_SET_AUTO_CLOSE, "set_auto_close", IMM("flag", nullptr), NONE, NONE, NONE, NONE),
    OP(OP_SHOW_DETAILS, "show_details", IMM_R("list_show", &kShow), IMM_R("button_show", &kShow), NONE, NONE, NONE),
    OP(OP_SET_FILE_ATTRIBUTES, "set_file_attributes", STR_R("path"), IMM_R("attributes", &kAttributes), NONE, NONE, NONE),
    OP(OP_CREATE_DIRECTORY, "create_directory", STR_R("path"), IMM("set_output", nullptr), NONE, NONE, NONE),
    OP(OP_IF_FILE_EXISTS, "if_file_exists", STR_R("path"), TARGET("found"), TARGET("missing"), NONE, NONE),
    OP(OP_IF_ERROR, "if_error", TARGET("error"), TARGET("no_error"), IMM("new_count", nullptr), NONE, NONE),
    OP(OP_RENAME, "rename", STR_R("source"), STR_R("destination"), IMM("at_reboot", nullptr), NONE, NONE),
    OP(OP_GET_FULL_PATH, "get_full_path", SLOT("result"), STR_R("path"), IMM("form", &kPathForm), NONE, NONE),
    OP(OP_SEARCH_PATH, "search_path", SLOT("result"), STR_R("name"), NONE, NONE, NONE),
    OP(OP_GET_TEMP_FILE_NAME, "get_temp_file_name", SLOT("result"), NONE, NONE, NONE, NONE),
    OP(OP_EXTRACT_FILE, "extract_file", IMM("overwrite", &kOverwrite), STR_R("name"), BLOCK("data"),
       IMM_D("time_low", nullptr, NO_FILE_TIME), IMM_D("time_high", nullptr, NO_FILE_TIME)),
    OP(OP_DELETE_FILE, "delete_file", STR_R("path"), IMM("at_reboot", nullptr), NONE, NONE, NONE),
    OP(OP_MESSAGE_BOX, "message_box", IMM("style", &kMessageBoxStyle), STR_R("text"), IMM("buttons", &kButtons),
       TARGET("first"), TARGET("second")),
    OP(OP_REMOVE_DIRECTORY, "remove_directory", STR_R("path"), IMM("recursive", nullptr), NONE, NONE, NONE),
    OP(OP_STRING_LENGTH, "string_length", SLOT("result"), STR("text"), NONE, NONE, NONE),
    OP(OP_COPY_STRING, "copy_string", SLOT("result"), STR("text"), NUM("count"), NUM("start"), NONE),
    OP(OP_COMPARE_STRING, "compare_string", STR("a"), STR("b"), TARGET("equal"), TARGET("different"), NONE),
    OP(OP_READ_ENVIRONMENT, "read_environment", SLOT("result"), STR_R("text"), IMM("mode", &kEnvironment), NONE, NONE),
    OP(OP_COMPARE_INT, "compare_int", NUM("a"), NUM("b"), TARGET("equal"), TARGET("less"), TARGET("greater")),
    OP(OP_COMPARE_UINT, "compare_uint", NUM("a"), NUM("b"), TARGET("equal"), TARGET("less"), TARGET("greater")),
    OP(OP_INT_OPERATION, "int_operation", SLOT("result"), NUM("a"), NUM("b"), IMM_R("operation", &kIntOperation), NONE),
    OP(OP_FORMAT_INT, "format_int", SLOT("result"), STR_R("format"), NUM("value"), NONE, NONE),
    OP(OP_STACK, "stack", STACK_VALUE, IMM("mode", &kStackMode),
       IMM("exchange", nullptr), NONE, NONE),
    OP(OP_FIND_WINDOW, "find_window", SLOT_OPT("result"), STR("class"), STR("title"), NUM("parent"), NUM("after")),
    OP(OP_SEND_MESSAGE, "send_message", SLOT_OPT("result"), STR_R("window"), STR_R("message"), NUM("wparam"),
       NUM("lparam")),
    OP(OP_IF_WINDOW, "if_window", NUM("window"), TARGET("valid"), TARGET("invalid"), NONE, NONE),
    OP(OP_GET_DIALOG_ITEM, "get_dialog_item", SLOT("result"), NUM("dialog"), NUM("control"), NONE, NONE),
    OP(OP_SET_WINDOW_LONG, "set_window_long", NUM("window"), IMM_R("index", &kWindowLong), NUM("value"), NONE, NONE),
    OP(OP_SHELL_EXECUTE, "shell_execute", STR("verb"), STR_R("file"), STR("parameters"), IMM_D("show", &kShow, 1), NONE),
    OP(OP_EXECUTE, "execute", STR_R("command"), IMM("wait", nullptr), SLOT_OPT("exit_code"), NONE, NONE),
    OP(OP_GET_FILE_TIME, "get_file_time", STR_R("path"), SLOT("high"), SLOT("low"), NONE, NONE),
    OP(OP_GET_FILE_VERSION, "get_file_version", STR_R("file"), SLOT("high"), SLOT("low"), NONE, NONE),
    OP(OP_CALL_LIBRARY, "call_library", STR_R("library"), STR_R("function"), STR("status"), IMM("keep_loaded", nullptr),
       NONE),
    OP(OP_CREATE_SHORTCUT, "create_shortcut", STR_R("shortcut"), STR_R("target"), STR("arguments"), STR("icon_file"),
       IMM("options", &kShortcut)),
    OP(OP_COPY_FILES, "copy_files", STR_R("source"), STR_R("destination"), IMM("flags", &kCopyFlags), NONE, NONE),
    OP(OP_REBOOT, "reboot", IMM_D("guard", nullptr, REBOOT_GUARD), NONE, NONE, NONE, NONE),
    OP(OP_IF_REBOOT_FLAG, "if_reboot_flag", TARGET("set"), TARGET("clear"), NONE, NONE, NONE),
    OP(OP_SET_REBOOT_FLAG, "set_reboot_flag", IMM("value", nullptr), NONE, NONE, NONE, NONE),
    OP(OP_WRITE_INI, "write_ini", STR_R("section"), STR_R("entry"), STR_R("value"), STR_R("file"), NONE),
    OP(OP_READ_INI, "read_ini", SLOT("result"), STR("section"), STR("entry"), STR_R("file"), NONE),
    OP(OP_DELETE_REGISTRY, "delete_registry", IMM_R("root", &kRoots), STR_R("key"), STR_R("value"),
       IMM("only_if_empty", nullptr), NONE),
    OP(OP_WRITE_REGISTRY, "write_registry", IMM_R("root", &kRoots), STR_R("key"), STR("value"),
       REGISTRY_DATA, IMM_R("type", &kRegistryType)),
    OP(OP_READ_REGISTRY, "read_registry", SLOT("result"), IMM_R("root", &kRoots), STR_R("key"), STR("value"),
       IMM("type", &kReadType)),
    OP(OP_ENUM_REGISTRY, "enum_registry", SLOT("result"), IMM_R("root", &kRoots), STR_R("key"), NUM("index"),
       IMM("kind", &kEnumKind)),
    OP(OP_FILE_CLOSE, "file_close", SLOT("handle"), NONE, NONE, NONE, NONE),
    OP(OP_FILE_OPEN, "file_open", STR_R("file"), IMM_R("access", &kAccess), IMM_R("disposition", &kDisposition),
       SLOT("handle"), NONE),
    OP(OP_FILE_WRITE, "file_write", SLOT("handle"), STR("data"), IMM("byte", nullptr), NONE, NONE),
    OP(OP_FILE_READ, "file_read", SLOT("handle"), SLOT("result"), NUM_D("max", "1023"), IMM("byte", nullptr), NONE),
    OP(OP_FILE_SEEK, "file_seek", SLOT("handle"), NUM("distance"), IMM("method", &kSeek), SLOT_OPT("position"), NONE),
    OP(OP_FIND_CLOSE, "find_close", SLOT("handle"), NONE, NONE, NONE, NONE),
    OP(OP_FIND_NEXT, "find_next", SLOT("result"), SLOT("handle"), NONE, NONE, NONE),
    OP(OP_FIND_FIRST, "find_first", STR_R("pattern"), SLOT("result"), SLOT("handle"), NONE, NONE),
    OP(OP_WRITE_UNINSTALLER, "write_uninstaller", STR_R("name"), NONE, NONE, NONE, NONE),
    OP(OP_SECTION, "section", NUM("index"), IMM_R("mode", &kSectionMode),
       SECTION_VALUE, NONE, NONE),
    OP(OP_SET_CONTROL_BITMAP, "set_control_bitmap", STR_R("file"), IMM_R("control", nullptr), IMM("fit", nullptr), NONE, NONE),
    OP(OP_CREATE_FONT, "create_font", SLOT("result"), STR_R("face"), NUM("size"), NUM("weight"),
       IMM("style", &kFontStyle)),
    OP(OP_REMEMBER_TEMP_DIRECTORY, "remember_temp_directory", NONE, NONE, NONE, NONE, NONE),
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
