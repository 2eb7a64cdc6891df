// Instructions that reach outside the engine: questions to the user, programs,
// libraries, windows and the system.
#include "engine/ops_system.h"

#include "engine/engine.h"
#include "engine/status.h"
#include "engine/varslots.h"
#include "ui/message_box.h"

// Shows the expanded text with the entry's style and jumps on the button
// pressed: the first target for the identifier in the low half of p2, the
// second for the one in its high half.
int32_t op_message_box(const ScriptEntry* entry) {
    char* text = param_buffers[0];
    expand_param(text, entry->p1);
    const int button = installer_message_box(text, (UINT)entry->p0);
    if (button == 0) {
        ++error_count;
        return 0;
    }
    if (button == (entry->p2 & 0xFFFF)) return entry->p3;
    if (button == (entry->p2 >> 16)) return entry->p4;
    return 0;
}

// The first directory remembered is deleted with its contents at exit; later
// ones are ignored.
int32_t op_remember_temp_directory(const ScriptEntry*) {
    if (!temp_directory[0]) lstrcpynA(temp_directory, var_slot(VAR_USER_FIRST), sizeof(temp_directory));
    return 0;
}

// Shows or hides the details list (show command p0) and the show-details
// button (p1) of the install-files page, once that page exists.
int32_t op_show_details(const ScriptEntry* entry) {
    if (details_button) ShowWindow(details_button, entry->p1);
    if (detail_list) ShowWindow(detail_list, entry->p0);
    return 0;
}
