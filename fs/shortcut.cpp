#include "fs/shortcut.h"

#include <objbase.h>
#include <objidl.h>
#include <ole2.h>
#include <shobjidl.h>

#include "fs/paths.h"

// The class and interface identifiers, kept here so that the stub needs no
// identifier library.
static const GUID shell_link_class = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID shell_link_interface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID persist_file_interface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

static WCHAR link_path_wide[PATH_BUFFER_SIZE];

int32_t create_shortcut(const char* link_path, const char* icon_file, int32_t icon_index, const char* target,
                        const char* arguments, const char* working_directory, int32_t show_command, WORD hotkey) {
    int32_t result = 1;
    const HRESULT ole = OleInitialize(0);
    if (ole != S_OK && ole != S_FALSE) return result;
    IShellLinkA* link = 0;
    if (SUCCEEDED(CoCreateInstance(shell_link_class, 0, CLSCTX_INPROC_SERVER, shell_link_interface, (void**)&link))) {
        IPersistFile* file = 0;
        if (SUCCEEDED(link->QueryInterface(persist_file_interface, (void**)&file))) {
            const HRESULT path_set = link->SetPath(target);
            link->SetWorkingDirectory(working_directory);
            if (show_command) link->SetShowCmd(show_command);
            if (hotkey) link->SetHotkey(hotkey);
            if (icon_file) link->SetIconLocation(icon_file, icon_index);
            if (arguments) link->SetArguments(arguments);
            // A link path that cannot be converted whole is not saved anywhere.
            if (SUCCEEDED(path_set) &&
                MultiByteToWideChar(CP_ACP, 0, link_path, -1, link_path_wide, PATH_BUFFER_SIZE) &&
                SUCCEEDED(file->Save(link_path_wide, TRUE)))
                result = 0;
            file->Release();
        }
        link->Release();
    }
    OleUninitialize();
    return result;
}
