// Instructions of the registry, INI files and the environment: the script
// records the installation there, reads it back and, when uninstalling,
// deletes it again. Every failure raises the error count and nothing more.
#include "engine/ops_registry.h"

#include "datablock/reader.h"
#include "engine/engine.h"
#include "engine/varslots.h"

// Root keys are stored as their 32-bit values; on 64-bit Windows the
// predefined handles are those values sign-extended.
static HKEY root_key(int32_t value) { return (HKEY)(LONG_PTR)value; }

static char* expanded(int index, int32_t offset) {
    expand_param(param_buffers[index], offset);
    return param_buffers[index];
}

int32_t op_read_environment(const ScriptEntry* entry) {
    char* dest = slot_param(entry->p0);
    const char* text = expanded(0, entry->p1);
    // A variable or an expansion that does not fit is refused rather than
    // left half-written.
    const DWORD length = entry->p2 ? GetEnvironmentVariableA(text, dest, VAR_SLOT_SIZE)
                                   : ExpandEnvironmentStringsA(text, dest, VAR_SLOT_SIZE);
    if ((entry->p2 && length == 0) || length > VAR_SLOT_SIZE) {
        dest[0] = 0;
        ++error_count;
    }
    dest[VAR_SLOT_SIZE - 1] = 0;
    return 0;
}

int32_t op_write_ini(const ScriptEntry* entry) {
    const char* section = expanded(0, entry->p0);
    const char* name = entry->p1 >= 0 ? expanded(1, entry->p1) : 0;
    const char* value = entry->p2 >= 0 ? expanded(2, entry->p2) : 0;
    if (!WritePrivateProfileStringA(section, name, value, expanded(3, entry->p3))) ++error_count;
    return 0;
}

int32_t op_read_ini(const ScriptEntry* entry) {
    char* dest = slot_param(entry->p0);
    // The default text tells a missing entry from an empty one.
    GetPrivateProfileStringA(expanded(1, entry->p1), expanded(2, entry->p2), "!N~", dest, VAR_SLOT_SIZE - 1,
                             expanded(3, entry->p3));
    if (lstrcmpA(dest, "!N~") == 0) {
        dest[0] = 0;
        ++error_count;
    }
    return 0;
}

int delete_registry_key(HKEY parent, const char* subkey, int only_if_empty) {
    // An empty path names the parent itself: deleting "it" would empty a
    // whole root key. Nothing is deleted for it.
    const char* name = subkey;
    while (*name == '\\') ++name;
    if (!*name) return 1;
    HKEY key;
    const LONG opened = RegOpenKeyExA(parent, subkey, 0, KEY_ALL_ACCESS, &key);
    if (opened != ERROR_SUCCESS) return (int)opened;
    // Deleting renumbers what is left: the first subkey is asked for each time.
    char child[261];
    while (RegEnumKeyA(key, 0, child, sizeof(child)) == ERROR_SUCCESS) {
        if (only_if_empty) {
            RegCloseKey(key);
            return 1;
        }
        if (delete_registry_key(key, child, 0)) break;
    }
    RegCloseKey(key);
    return (int)RegDeleteKeyA(parent, subkey);
}

int32_t op_delete_registry(const ScriptEntry* entry) {
    ++error_count;
    const HKEY root = root_key(entry->p0);
    const char* subkey = expanded(1, entry->p1);
    if (entry->p2 == REF_NONE) {
        if (delete_registry_key(root, subkey, entry->p3) == 0) --error_count;
        return 0;
    }
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
    if (RegDeleteValueA(key, expanded(2, entry->p2)) == ERROR_SUCCESS) --error_count;
    RegCloseKey(key);
    return 0;
}

int32_t op_write_registry(const ScriptEntry* entry) {
    ++error_count;
    const char* name = expanded(2, entry->p2);
    HKEY key;
    if (RegCreateKeyA(root_key(entry->p0), expanded(1, entry->p1), &key) != ERROR_SUCCESS) return 0;
    BYTE* data = (BYTE*)param_buffers[3];
    DWORD type = REG_BINARY, size = 0;
    int ready = 1;
    const int32_t kind = entry->p4 < 0 ? REG_KIND_EXPAND_STRING : entry->p4;
    if (kind == REG_KIND_EXPAND_STRING || kind == REG_KIND_STRING) {
        expand_param((char*)data, entry->p3);
        type = kind == REG_KIND_STRING ? REG_SZ : REG_EXPAND_SZ;
        size = (DWORD)lstrlenA((char*)data) + 1;
    } else if (kind == REG_KIND_DWORD) {
        *(int32_t*)data = number_param(entry->p3);
        type = REG_DWORD;
        size = 4;
    } else if (kind == REG_KIND_BINARY) {
        // At most one slot's worth of the payload block.
        const int32_t read = read_block_to_memory(entry->p3, data, VAR_SLOT_SIZE);
        size = (DWORD)read;
        ready = read >= 0;
    } else {
        ready = 0;
    }
    if (ready && RegSetValueExA(key, name, 0, type, data, size) == ERROR_SUCCESS) --error_count;
    RegCloseKey(key);
    return 0;
}

int32_t op_read_registry(const ScriptEntry* entry) {
    char* dest = slot_param(entry->p0);
    const char* subkey = expanded(2, entry->p2);
    const char* name = expanded(3, entry->p3);
    *(int32_t*)dest = 0;
    HKEY key;
    if (RegOpenKeyExA(root_key(entry->p1), subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        ++error_count;
        return 0;
    }
    DWORD type, size = VAR_SLOT_SIZE;
    if (RegQueryValueExA(key, name, 0, &type, (BYTE*)dest, &size) != ERROR_SUCCESS) {
        dest[0] = 0;
        ++error_count;
    } else if (type == REG_DWORD) {
        wsprintfA(dest, "%d", *(const int32_t*)dest);
        if (entry->p4 == REG_READ_STRING) ++error_count;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // A value stored without its terminator still ends in the slot.
        if (size < VAR_SLOT_SIZE) dest[size] = 0;
        if (entry->p4 != REG_READ_STRING) ++error_count;
    } else {
        dest[0] = 0;
        ++error_count;
    }
    dest[VAR_SLOT_SIZE - 1] = 0;
    RegCloseKey(key);
    return 0;
}

int32_t op_enum_registry(const ScriptEntry* entry) {
    const DWORD index = (DWORD)number_param(entry->p3);
    const char* subkey = expanded(2, entry->p2);
    char* dest = slot_param(entry->p0);
    dest[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(root_key(entry->p1), subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        ++error_count;
        return 0;
    }
    // The end of the list shows as the empty text, not as an error.
    if (entry->p4 != REG_ENUM_VALUES) {
        RegEnumKeyA(key, index, dest, VAR_SLOT_SIZE - 1);
    } else {
        DWORD length = VAR_SLOT_SIZE - 1;
        RegEnumValueA(key, index, dest, &length, 0, 0, 0, 0);
    }
    dest[VAR_SLOT_SIZE - 1] = 0;
    RegCloseKey(key);
    return 0;
}
