// Instructions that give the script files and directory searches by handle:
// open, read, write, seek and close a file; start, continue and close a
// search. The handles live in the table described in ops_handles.h.
#include "engine/ops_handles.h"

#include "engine/engine.h"
#include "engine/varslots.h"
#include "fs/paths.h"

enum HandleKind {
    HANDLE_FREE = 0,
    HANDLE_FILE = 1,
    HANDLE_SEARCH = 2,
};

struct OpenHandle {
    HANDLE handle;
    int32_t kind;
    int32_t reuse;  // times the entry has been closed, below REUSE_LIMIT
};

static OpenHandle open_handles[HANDLE_TABLE_SIZE];

// Keeps every handle number below 2^31.
static const int32_t REUSE_LIMIT = 0x7FFFFFFF / HANDLE_TABLE_SIZE;

// The find data of the last search step; only its name is handed on.
static WIN32_FIND_DATAA find_data;

// A free entry, or -1 when all are taken.
static int32_t free_handle_entry() {
    for (int32_t i = 0; i < HANDLE_TABLE_SIZE; ++i)
        if (open_handles[i].kind == HANDLE_FREE) return i;
    return -1;
}

// Takes entry `index` for `handle` and writes its handle number into VarSlot `slot`.
static void store_handle(int32_t slot, int32_t index, HANDLE handle, int32_t kind) {
    OpenHandle& h = open_handles[index];
    h.handle = handle;
    h.kind = kind;
    set_slot_decimal(slot, h.reuse * HANDLE_TABLE_SIZE + index + 1);
}

static void release_handle_entry(int32_t index) {
    OpenHandle& h = open_handles[index];
    h.handle = 0;
    h.kind = HANDLE_FREE;
    h.reuse = h.reuse + 1 < REUSE_LIMIT ? h.reuse + 1 : 0;
}

// The entry that handle text `text` names among the open handles of `kind`,
// or -1 when it names none.
static int32_t named_handle_entry(const char* text, int32_t kind) {
    const int32_t number = read_number(text);
    if (number < 1) return -1;
    char exact[16];
    wsprintfA(exact, "%d", number);
    // Stops at the first difference, so neither text is read past its end.
    for (int i = 0; exact[i] || text[i]; ++i)
        if (exact[i] != text[i]) return -1;
    const int32_t index = (number - 1) % HANDLE_TABLE_SIZE;
    const OpenHandle& h = open_handles[index];
    if (h.kind != kind || h.reuse != (number - 1) / HANDLE_TABLE_SIZE) return -1;
    return index;
}

// The parameter helpers mark a slot or string parameter that points outside
// the VarSlots or the pool; the handlers below fetch every parameter first
// and then act only on a sound entry (the interpreter takes the
// invalid-instruction path for a marked one).

int32_t op_file_close(const ScriptEntry* entry) {
    const int32_t index = named_handle_entry(slot_param(entry->p0), HANDLE_FILE);
    if (entry_fault || index < 0) return 0;
    CloseHandle(open_handles[index].handle);
    release_handle_entry(index);
    return 0;
}

int32_t op_file_open(const ScriptEntry* entry) {
    char* name = param_buffers[0];
    expand_param(name, entry->p0);
    char* handle_slot = slot_param(entry->p3);
    if (entry_fault) return 0;
    const int32_t index = free_handle_entry();
    const HANDLE file = index >= 0 ? open_file(name, (DWORD)entry->p1, (DWORD)entry->p2) : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        handle_slot[0] = 0;
        ++error_count;
        return 0;
    }
    store_handle(entry->p3, index, file, HANDLE_FILE);
    return 0;
}

int32_t op_file_write(const ScriptEntry* entry) {
    char* data = param_buffers[0];
    DWORD count = 1;
    if (entry->p2) {
        data[0] = (char)number_param(entry->p1);
    } else {
        expand_param(data, entry->p1);
        count = (DWORD)lstrlenA(data);
    }
    const int32_t index = named_handle_entry(slot_param(entry->p0), HANDLE_FILE);
    if (entry_fault) return 0;
    DWORD written = 0;
    if (index < 0 || !WriteFile(open_handles[index].handle, data, count, &written, 0)) ++error_count;
    return 0;
}

// Reads a line of at most `max` bytes; a line break (CR, LF, CR LF or LF CR)
// is kept with the line, and a zero byte ends it without being kept.
int32_t op_file_read(const ScriptEntry* entry) {
    const char* handle_text = slot_param(entry->p0);
    char* text = slot_param(entry->p1);
    int32_t max = number_param(entry->p2);
    if (entry_fault || max < 1) return 0;
    if (max > VAR_SLOT_SIZE - 1) max = VAR_SLOT_SIZE - 1;
    // Looked up before the destination is written: both may be one VarSlot.
    const int32_t index = named_handle_entry(handle_text, HANDLE_FILE);
    int32_t n = 0;
    if (index >= 0) {
        const HANDLE file = open_handles[index].handle;
        unsigned char previous = 0;  // the last byte stored; 0 for none
        while (n < max) {
            unsigned char c = 0;
            DWORD got = 0;
            if (!ReadFile(file, &c, 1, &got, 0) || got != 1) break;
            if (entry->p3) {
                set_slot_decimal(entry->p1, c);
                return 0;
            }
            if (c == 0) break;
            if (previous == '\r' || previous == '\n') {
                if ((previous == '\r' && c == '\n') || (previous == '\n' && c == '\r'))
                    text[n++] = (char)c;
                else
                    SetFilePointer(file, -1, 0, FILE_CURRENT);  // the next line's first byte
                break;
            }
            text[n++] = (char)c;
            previous = c;
        }
    }
    text[n] = 0;
    if (n == 0) ++error_count;
    return 0;
}

// The new position goes into VarSlot p3 when p3 is not negative: -1 when the
// move failed, and also when VarSlot p0 names no handle (empty included), so
// that the destination never keeps an earlier position.
int32_t op_file_seek(const ScriptEntry* entry) {
    const int32_t index = named_handle_entry(slot_param(entry->p0), HANDLE_FILE);
    const int32_t distance = number_param(entry->p1);
    if (entry->p3 >= 0) slot_param(entry->p3);
    if (entry_fault) return 0;
    DWORD position = INVALID_SET_FILE_POINTER;
    if (index >= 0) position = SetFilePointer(open_handles[index].handle, distance, 0, (DWORD)entry->p2);
    if (entry->p3 >= 0) set_slot_decimal(entry->p3, (int32_t)position);
    return 0;
}

int32_t op_find_close(const ScriptEntry* entry) {
    const int32_t index = named_handle_entry(slot_param(entry->p0), HANDLE_SEARCH);
    if (entry_fault || index < 0) return 0;
    FindClose(open_handles[index].handle);
    release_handle_entry(index);
    return 0;
}

int32_t op_find_next(const ScriptEntry* entry) {
    char* name = slot_param(entry->p0);
    const int32_t index = named_handle_entry(slot_param(entry->p1), HANDLE_SEARCH);
    if (entry_fault) return 0;
    if (index >= 0 && FindNextFileA(open_handles[index].handle, &find_data)) {
        lstrcpynA(name, find_data.cFileName, VAR_SLOT_SIZE);
    } else {
        name[0] = 0;
        ++error_count;
    }
    return 0;
}

int32_t op_find_first(const ScriptEntry* entry) {
    char* pattern = param_buffers[0];
    expand_param(pattern, entry->p0);
    char* name = slot_param(entry->p1);
    char* handle_slot = slot_param(entry->p2);
    if (entry_fault) return 0;
    const int32_t index = free_handle_entry();
    const HANDLE search = index >= 0 ? FindFirstFileA(pattern, &find_data) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE) {
        name[0] = 0;
        handle_slot[0] = 0;
        ++error_count;
        return 0;
    }
    store_handle(entry->p2, index, search, HANDLE_SEARCH);
    lstrcpynA(name, find_data.cFileName, VAR_SLOT_SIZE);
    return 0;
}
