// Instructions on files and directories. Every path an instruction builds is
// bounded: a composed path that would not fit its buffer is never cut short
// (a shortened path names another file), it is either kept whole in a larger
// buffer, where the platform refuses it, or the operation counts as failed.
#include "engine/ops_files.h"

#include <shellapi.h>

#include "datablock/header_view.h"
#include "datablock/reader.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/status.h"
#include "engine/varslots.h"
#include "fs/delete_tree.h"
#include "fs/directories.h"
#include "fs/paths.h"
#include "fs/reboot_ops.h"
#include "startup/startup.h"
#include "ui/message_box.h"

static WIN32_FIND_DATAA found;

const WIN32_FIND_DATAA* first_match(const char* path) {
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return &found;
}

// The language text `number` as stored, without expansion.
static const char* lang_text(int32_t number) { return pool_string(lang_string_offset(number)); }

// Joins `first`, an optional separator and `second` into `out` of `size`
// bytes; 0 (and `out` empty) when the whole text does not fit.
static int join_path(char* out, int size, const char* first, const char* separator, const char* second) {
    const int a = lstrlenA(first), b = lstrlenA(separator), c = lstrlenA(second);
    out[0] = 0;
    if (a + b + c >= size) return 0;
    lstrcpyA(out, first);
    lstrcpyA(out + a, separator);
    lstrcpyA(out + a + b, second);
    return 1;
}

int32_t op_set_file_attributes(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    if (!SetFileAttributesA(path, (DWORD)entry->p1)) ++error_count;
    return 0;
}

int32_t op_create_directory(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    if (entry->p1) {
        log_line_lang(LS_LOG_OUTPUT_DIR, path);
        lstrcpyA(var_slots[VAR_OUTPUT_DIR], path);
    } else {
        log_line_lang(LS_LOG_DIR_CREATED, path);
    }
    create_directories(path);
    return 0;
}

int32_t op_if_file_exists(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    return first_match(path) ? entry->p1 : entry->p2;
}

int32_t op_rename(const ScriptEntry* entry) {
    char* source = param_buffers[0];
    char* target = param_buffers[1];
    char* text = param_buffers[2];
    expand_param(source, entry->p0);
    expand_param(target, entry->p1);
    if (lstrlenA(source) + lstrlenA(target) < 1021)
        join_path(text, 1024, source, "->", target);
    else
        lstrcpyA(text, source);

    if (MoveFileA(source, target)) {
        log_line_lang(LS_LOG_RENAME, text);
    } else if (entry->p2 && first_match(source)) {
        ++reboot_flag;
        move_at_reboot(source, target);
        log_line_lang(LS_LOG_RENAME_AT_REBOOT, text);
    } else {
        ++error_count;
    }
    return 0;
}

int32_t op_get_full_path(const ScriptEntry* entry) {
    char* result = slot_param(entry->p0);
    char* path = param_buffers[0];
    expand_param(path, entry->p1);
    char* name = 0;
    const DWORD length = GetFullPathNameA(path, VAR_SLOT_SIZE, result, &name);
    if (length == 0 || length >= (DWORD)VAR_SLOT_SIZE) {
        // Failed, or the full path does not fit the VarSlot.
        ++error_count;
        result[0] = 0;
    } else if (name && *name) {
        const WIN32_FIND_DATAA* match = first_match(path);
        const int at = (int)(name - result);
        if (match && at + lstrlenA(match->cFileName) < VAR_SLOT_SIZE) {
            lstrcpyA(name, match->cFileName);  // the stored name, long and in its own case
        } else {
            ++error_count;
            result[0] = 0;
        }
    }
    if (entry->p2 == PATH_SHORT) {
        // Only a successful conversion replaces the text; a path that does
        // not exist keeps its full form.
        char* short_form = param_buffers[1];
        const DWORD n = GetShortPathNameA(result, short_form, VAR_SLOT_SIZE);
        if (n > 0 && n < (DWORD)VAR_SLOT_SIZE) lstrcpyA(result, short_form);
    }
    return 0;
}

int32_t op_search_path(const ScriptEntry* entry) {
    char* result = slot_param(entry->p0);
    char* name = param_buffers[0];
    expand_param(name, entry->p1);
    char* file_part = 0;
    const DWORD length = SearchPathA(0, name, 0, VAR_SLOT_SIZE, result, &file_part);
    if (length == 0 || length >= (DWORD)VAR_SLOT_SIZE) {
        result[0] = 0;
        ++error_count;
    }
    return 0;
}

int32_t op_get_temp_file_name(const ScriptEntry* entry) {
    char* result = slot_param(entry->p0);
    char* directory = param_buffers[0];
    const DWORD length = GetTempPathA(1024, directory);
    if (length == 0 || length >= 1024 || !GetTempFileNameA(directory, "tkt", 0, result)) {
        result[0] = 0;
        ++error_count;
    }
    return 0;
}

// ---- Extracting a payload file ---------------------------------------------------

// OutputDir (1023 bytes), a backslash and a name (1023 bytes) fit whole; a
// path that long is refused by the platform and handled as a file that
// cannot be opened.
static char extract_target[2 * 1024 + 2];
static char saved_user_var[VAR_SLOT_SIZE];
static char extract_message[1024];

static void make_writable(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
}

// The open-error question, with the target path in UserVar 0 while the text
// is expanded; UserVar 0 holds its own value again before the box shows.
static int ask_open_error(const char* target) {
    char* user_var = var_slots[0];
    lstrcpyA(saved_user_var, user_var);
    lstrcpynA(user_var, target, VAR_SLOT_SIZE);
    expand_lang_string(extract_message, LS_FILE_OPEN_FAILED);
    lstrcpyA(user_var, saved_user_var);
    return installer_message_box(extract_message, MB_ABORTRETRYIGNORE | MB_ICONSTOP);
}

// Opens the target as its overwrite mode says. The if-newer mode is decided
// here once and becomes never or always, so that a retry keeps the choice.
static HANDLE open_target(const char* target, int32_t& mode, const FILETIME* stored) {
    if (mode == OVERWRITE_ALWAYS) make_writable(target);
    if (mode == OVERWRITE_IF_NEWER) {
        const WIN32_FIND_DATAA* existing = first_match(target);
        if (!existing || CompareFileTime(&existing->ftLastWriteTime, stored) >= 0) {
            mode = OVERWRITE_NEVER;
        } else {
            mode = OVERWRITE_ALWAYS;
            // An older file is replaced as in the always mode, read-only or not.
            make_writable(target);
        }
    }
    return open_file(target, GENERIC_WRITE, mode == OVERWRITE_NEVER ? CREATE_NEW : CREATE_ALWAYS);
}

int32_t op_extract_file(const ScriptEntry* entry) {
    char* name = param_buffers[0];
    expand_param(name, entry->p1);
    if (is_absolute_path(name)) {
        lstrcpyA(extract_target, name);
    } else {
        lstrcpyA(extract_target, var_slots[VAR_OUTPUT_DIR]);
        add_backslash(extract_target);
        lstrcatA(extract_target, name);
    }
    FILETIME stored;
    stored.dwLowDateTime = (DWORD)entry->p3;
    stored.dwHighDateTime = (DWORD)entry->p4;
    const int has_time = !(entry->p3 == NO_FILE_TIME && entry->p4 == NO_FILE_TIME);

    int32_t mode = entry->p0;
    for (;;) {
        // Replacing modes first try to create the file as new: on a fresh
        // install that is the whole job, without probing the attributes of a
        // file that is not there or truncating the one just created. Only an
        // existing or unopenable target goes the long way.
        HANDLE file = INVALID_HANDLE_VALUE;
        if (mode != OVERWRITE_NEVER) file = open_file(extract_target, GENERIC_WRITE, CREATE_NEW);
        if (file == INVALID_HANDLE_VALUE) file = open_target(extract_target, mode, &stored);
        if (file != INVALID_HANDLE_VALUE) {
            log_line_lang(LS_LOG_EXTRACT, name);
            const int32_t copied = read_block_to_file(entry->p2, file);
            if (has_time) SetFileTime(file, &stored, 0, &stored);
            CloseHandle(file);
            if (copied >= 0) return 0;
            if (copied == READ_ERR_WRITE)
                wsprintfA(extract_message, "%s%s", lang_text(LS_EXTRACT_WRITE_ERROR), name);
            else
                lstrcpynA(extract_message, lang_text(LS_CORRUPT_DATA), sizeof(extract_message));
            installer_message_box(extract_message, MB_ICONSTOP);
            return RESULT_ABORT;
        }
        if (mode != OVERWRITE_ALWAYS) {
            // Kept, or not writable; modes above the known ones skip quietly.
            log_line_lang(LS_LOG_SKIPPED, name);
            if (mode == OVERWRITE_TRY) ++error_count;
            return 0;
        }
        const int answer = ask_open_error(extract_target);
        if (answer == IDRETRY) continue;
        if (answer == IDIGNORE) {
            ++error_count;
            return 0;
        }
        log_line_lang(LS_LOG_WRITE_FAILED, extract_target);
        return RESULT_ABORT;
    }
}

// ---- Deleting, removing ----------------------------------------------------------

static WIN32_FIND_DATAA deleting;

int32_t op_delete_file(const ScriptEntry* entry) {
    char* pattern = param_buffers[0];
    char* directory = param_buffers[1];
    char* full = param_buffers[2];
    expand_param(pattern, entry->p0);
    // Found names are relative to the pattern's directory: its text up to the
    // last backslash, or the drive of a drive-relative pattern ("C:*.tmp"), or
    // nothing at all, when the name found is used as it is.
    const char* separator = "\\";
    lstrcpyA(directory, pattern);
    if (find_last_backslash(directory)) {
        trim_to_dir(directory);
    } else {
        separator = "";
        if (directory[0] && directory[1] == ':') directory[2] = 0;
        else directory[0] = 0;
    }

    HANDLE search = FindFirstFileA(pattern, &deleting);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (deleting.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!join_path(full, 1024, directory, separator, deleting.cFileName)) {
            ++error_count;  // a name that cannot be spelt out whole is not touched
            continue;
        }
        if (deleting.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(full, deleting.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
        if (DeleteFileA(full)) {
            log_line_lang(LS_LOG_FILE_DELETED, full);
        } else if (entry->p1) {
            ++reboot_flag;
            log_line_lang(LS_LOG_DELETE_AT_REBOOT, full);
            move_at_reboot(full, 0);
        } else {
            ++error_count;
        }
    } while (FindNextFileA(search, &deleting));
    FindClose(search);
    return 0;
}

int32_t op_remove_directory(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    if (last_char(path) == '\\') trim_to_dir(path);
    delete_tree(path, entry->p1);
    if (first_match(path)) ++error_count;
    return 0;
}

// ---- Times and versions ------------------------------------------------------------

int32_t op_get_file_time(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    const WIN32_FIND_DATAA* match = first_match(path);
    if (match) {
        set_slot_decimal(entry->p2, (int32_t)match->ftLastWriteTime.dwLowDateTime);
        set_slot_decimal(entry->p1, (int32_t)match->ftLastWriteTime.dwHighDateTime);
    } else {
        slot_param(entry->p1)[0] = 0;
        slot_param(entry->p2)[0] = 0;
        ++error_count;
    }
    return 0;
}

int32_t op_get_file_version(const ScriptEntry* entry) {
    char* path = param_buffers[0];
    expand_param(path, entry->p0);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    slot_param(entry->p1)[0] = 0;
    slot_param(entry->p2)[0] = 0;
    ++error_count;  // lowered again once the version has been read
    if (!size) return 0;
    void* data = GlobalAlloc(GPTR, size);
    if (!data) return 0;
    VS_FIXEDFILEINFO* info = 0;
    UINT info_length = 0;
    if (GetFileVersionInfoA(path, 0, size, data) && VerQueryValueA(data, "\\", (void**)&info, &info_length) && info &&
        info_length >= sizeof(VS_FIXEDFILEINFO)) {
        set_slot_decimal(entry->p1, (int32_t)info->dwFileVersionMS);
        set_slot_decimal(entry->p2, (int32_t)info->dwFileVersionLS);
        --error_count;
    }
    GlobalFree(data);
    return 0;
}

// ---- Copying with the shell ------------------------------------------------------------

// Each path is handed to the shell as a list of one name: the text and two
// NULs, so a path of 1023 bytes needs 1025.
static char copy_source[1024 + 1];
static char copy_target[1024 + 1];
static char copy_title[2 * 1024];

int32_t op_copy_files(const ScriptEntry* entry) {
    expand_param(copy_source, entry->p0);
    expand_param(copy_target, entry->p1);
    copy_source[lstrlenA(copy_source) + 1] = 0;
    copy_target[lstrlenA(copy_target) + 1] = 0;
    join_path(copy_title, sizeof(copy_title), lang_text(LS_LOG_COPY_TO), "", copy_target);
    log_line("", copy_title);

    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = current_main_window;
    operation.wFunc = FO_COPY;
    operation.pFrom = copy_source;
    operation.pTo = copy_target;
    operation.fFlags = (FILEOP_FLAGS)(entry->p2 & 0xFFFF);
    operation.lpszProgressTitle = copy_title;
    if (SHFileOperationA(&operation)) {
        log_line_lang(LS_LOG_COPY_FAILED, "");
        ++error_count;
    }
    return 0;
}

// ---- Writing the uninstaller -------------------------------------------------------------

static char uninstaller_path[2 * 1024 + 2];

// Applies the patch records of `block` (`length` bytes) to the stub copy in
// order. 0 when a record reaches past the block or past the stub: such a
// block is damaged, and an uninstaller made with it could not start.
static int apply_patches(uint8_t* stub, uint32_t stub_length, const uint8_t* block, uint32_t length) {
    if (length < 4) return 0;
    const uint32_t count = read_le32(block);
    uint32_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (length - at < sizeof(PatchRecordHead)) return 0;
        const uint32_t size = read_le32(block + at + offsetof(PatchRecordHead, length));
        const uint32_t offset = read_le32(block + at + offsetof(PatchRecordHead, offset));
        at += sizeof(PatchRecordHead);
        if (size > length - at || offset > stub_length || size > stub_length - offset) return 0;
        copy_bytes(stub + offset, block + at, (int)size);
        at += size;
    }
    return 1;
}

// Reads the stub (the own file before its data block), patches it and writes
// it to `file`; 1 on success.
static int write_patched_stub(HANDLE file) {
    const InstallHeader* header = (const InstallHeader*)header_block;
    // Only an installer carries an uninstaller, right behind its patch block;
    // without a patch block there is no uninstaller image to write.
    if (uninstaller_mode || !header || header_block_length < (int32_t)sizeof(InstallHeader)) return 0;
    if (header->uninstaller_patch < 0 || header->uninstaller_patch_length < 0 ||
        header->uninstaller_patch_length == 0x7FFFFFFF || header_position <= 0)
        return 0;

    const uint32_t stub_length = (uint32_t)header_position;
    uint8_t* stub = (uint8_t*)GlobalAlloc(GMEM_FIXED, stub_length);
    if (!stub) return 0;
    int ok = 0;
    if (read_own_file(0, stub, stub_length)) {
        // One byte more than the header gives: a block longer than that is
        // damaged, and the image block would not be where the reader stops.
        const int32_t capacity = header->uninstaller_patch_length + 1;
        uint8_t* patches = (uint8_t*)GlobalAlloc(GPTR, (SIZE_T)capacity);
        if (patches) {
            const int32_t read = read_block_to_memory(header->uninstaller_patch, patches, capacity);
            if (read >= 0 && read < capacity && apply_patches(stub, stub_length, patches, (uint32_t)read)) {
                DWORD written = 0;
                ok = WriteFile(file, stub, stub_length, &written, 0) && written == stub_length;
            }
            GlobalFree(patches);
        }
    }
    GlobalFree(stub);
    return ok;
}

int32_t op_write_uninstaller(const ScriptEntry* entry) {
    char* name = param_buffers[0];
    expand_param(name, entry->p0);
    if (is_absolute_path(name)) {
        lstrcpyA(uninstaller_path, name);
    } else {
        lstrcpyA(uninstaller_path, var_slots[VAR_INSTALL_DIR]);
        add_backslash(uninstaller_path);
        lstrcatA(uninstaller_path, name);
    }

    HANDLE file = open_file(uninstaller_path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file != INVALID_HANDLE_VALUE) {
        // The image block follows the patch block that write_patched_stub read.
        const int ok = write_patched_stub(file) && read_block_to_file(-1, file) >= 0;
        CloseHandle(file);
        if (ok) {
            log_line_lang(LS_LOG_UNINSTALLER_CREATED, name);
            return 0;
        }
        DeleteFileA(uninstaller_path);
    }
    log_line_lang(LS_LOG_UNINSTALLER_FAILED, name);
    return 0;
}
