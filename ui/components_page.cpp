#include "ui/components_page.h"

#include "datablock/header_view.h"
#include "engine/engine.h"
#include "engine/expand.h"
#include "engine/varslots.h"
#include "resources/resource_ids.h"
#include "startup/run_driver.h"
#include "startup/startup.h"
#include "ui/directory_page.h"
#include "ui/main_window.h"

HWND components_page_window = 0;
int32_t current_install_type = 0;

static int32_t install_type_count = 0;
// One tree item per section (null for sections not shown), while the page exists.
static HTREEITEM* section_items = 0;
static HIMAGELIST check_images = 0;
static WNDPROC tree_own_proc = 0;
// The section of the last hover report; -1 (set when the page makes its
// tree, and again when the tree goes) while the tree has reported none.
static int32_t last_hover_section;
// UserVar 0 while the hover callback borrows it.
static char saved_user_var[VAR_SLOT_SIZE];
// A raw page text and the size text after it.
static char space_text[128];

static const InstallHeader* header() { return (const InstallHeader*)header_block; }
static int32_t type_mode() { return header()->install_type_mode; }
static HWND tree_of(HWND page) { return GetDlgItem(page, IDC_COMPONENTS_TREE); }

static int is_read_only(int32_t section) { return (section_records[section].flags & SECTION_READ_ONLY) != 0; }
static int is_member(int32_t section, int32_t type) { return (section_records[section].flags >> type) & 1; }
static void set_selected(int32_t section, int selected) {
    if (selected) section_records[section].flags |= SECTION_SELECTED;
    else section_records[section].flags &= ~SECTION_SELECTED;
}

// The tree item of a section; null when it has none.
static HTREEITEM item_of(int32_t section) {
    return section >= 0 && section < section_count && section_items ? section_items[section] : 0;
}

// The item's check image and section index; 0 when the item has no check
// image or names no section of this installer.
static int read_item(HWND tree, HTREEITEM item, int32_t* section) {
    TVITEMA tv;
    tv.mask = TVIF_STATE | TVIF_PARAM;
    tv.hItem = item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = 0;
    tv.lParam = -1;
    if (!item || !SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&tv)) return 0;
    if (tv.lParam < 0 || tv.lParam >= section_count) return 0;
    *section = (int32_t)tv.lParam;
    return (int)((tv.state & TVIS_STATEIMAGEMASK) >> 12);
}

static void set_image(HWND tree, HTREEITEM item, int image) {
    TVITEMA tv;
    tv.mask = TVIF_STATE;
    tv.hItem = item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = INDEXTOSTATEIMAGEMASK(image);
    SendMessageA(tree, TVM_SETITEMA, 0, (LPARAM)&tv);
}

static HTREEITEM next_item(HWND tree, HTREEITEM item, WPARAM relation) {
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, relation, (LPARAM)item);
}

void mark_subtree(HWND tree, HTREEITEM root, int image) {
    // Walked without recursion: a data block may nest its subsections as deep
    // as it has sections.
    HTREEITEM item = root;
    for (;;) {
        int32_t section;
        HTREEITEM next = 0;
        if (read_item(tree, item, &section)) {
            if (!is_read_only(section)) {
                set_selected(section, image == CHECK_CHECKED);
                set_image(tree, item, image);
            }
            next = next_item(tree, item, TVGN_CHILD);
        }
        while (!next) {
            if (item == root) return;
            next = next_item(tree, item, TVGN_NEXT);
            if (!next) item = next_item(tree, item, TVGN_PARENT);
        }
        item = next;
    }
}

void update_parents(HWND tree, HTREEITEM item) {
    for (HTREEITEM parent = next_item(tree, item, TVGN_PARENT); parent;
         parent = next_item(tree, parent, TVGN_PARENT)) {
        int agreed = CHECK_NONE;
        for (HTREEITEM child = next_item(tree, parent, TVGN_CHILD); child; child = next_item(tree, child, TVGN_NEXT)) {
            int32_t section;
            int image = read_item(tree, child, &section);
            if (!image || is_read_only(section)) continue;
            if (image == CHECK_READ_ONLY_CHECKED) image = CHECK_CHECKED;
            else if (image == CHECK_READ_ONLY_UNCHECKED) image = CHECK_UNCHECKED;
            if (agreed == CHECK_NONE) agreed = image;
            else if (agreed != image) agreed = CHECK_PARTLY;
        }
        if (agreed != CHECK_NONE) set_image(tree, parent, agreed);
    }
}

void set_check(HWND tree, HTREEITEM item, int checked) {
    int32_t section;
    if (!read_item(tree, item, &section)) return;
    set_image(tree, item,
              checked ? CHECK_CHECKED : is_read_only(section) ? CHECK_READ_ONLY_UNCHECKED : CHECK_UNCHECKED);
    mark_subtree(tree, item, checked ? CHECK_CHECKED : CHECK_UNCHECKED);
    update_parents(tree, item);
}

// Only the parts of an item that a user sees as the item itself count.
static const UINT ITEM_HIT = TVHT_ONITEMSTATEICON | TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMRIGHT;

// The item under the position of the last message, or null when the
// position is not on one of the item's own parts.
static HTREEITEM tree_hit_test(HWND tree) {
    const DWORD position = GetMessagePos();
    TVHITTESTINFO hit;
    hit.pt.x = (short)LOWORD(position);
    hit.pt.y = (short)HIWORD(position);
    ScreenToClient(tree, &hit.pt);
    SendMessageA(tree, TVM_HITTEST, 0, (LPARAM)&hit);
    return (hit.flags & ITEM_HIT) ? hit.hItem : 0;
}

static void scroll_to_top(HWND tree) { SendMessageA(tree, WM_VSCROLL, SB_TOP, 0); }

static void update_space(HWND page) {
    if (type_mode() == INSTALL_TYPES_CUSTOM_TREE) {
        const int shown = install_type_count != 0 && current_install_type == install_type_count;
        ShowWindow(tree_of(page), shown ? SW_SHOWNA : SW_HIDE);
        ShowWindow(GetDlgItem(page, IDC_COMPONENTS_TREE_LABEL), shown ? SW_SHOWNA : SW_HIDE);
    }
    const int32_t entry = lang_string_offset(-(PT_SPACE_REQUIRED + 1));
    if (entry < 0) return;
    // Room is kept for the longest size text ("2047.9Go+").
    lstrcpynA(space_text, pool_string(entry), sizeof(space_text) - 16);
    append_size_text(required_kilobytes(), space_text);
    SetDlgItemTextA(page, IDC_SPACE_REQUIRED, space_text);
}

// The install type that the check boxes now show (the custom entry when
// none matches); with the fixed types the boxes go back to the current one.
static int32_t matching_install_type(HWND tree) {
    int32_t t = 0;
    for (; t < install_type_count; ++t) {
        int32_t i = 0;
        for (; i < section_count; ++i) {
            HTREEITEM item = item_of(i);
            const char* name = pool_string(section_records[i].name);
            if (!item || !name[0] || name[0] == '-') continue;
            if (type_mode() == INSTALL_TYPES_FIXED) {
                set_check(tree, item, is_member(i, current_install_type));
                continue;
            }
            if (is_read_only(i)) continue;
            int32_t section;
            if (is_member(i, t) != (read_item(tree, item, &section) > CHECK_UNCHECKED)) break;
        }
        if (i == section_count) break;
    }
    return t;
}

static void toggle(HWND page, HTREEITEM item) {
    HWND tree = tree_of(page);
    int32_t section;
    const int image = read_item(tree, item, &section);
    if (!image || is_read_only(section)) return;
    const int check = image != CHECK_CHECKED;
    set_selected(section, check);
    set_check(tree, item, check);

    components_page_window = page;
    run_callback(header()->on_selection_change);
    components_page_window = 0;

    const int32_t t = matching_install_type(tree);
    if (type_mode() == INSTALL_TYPES_WITH_CUSTOM) {
        SendDlgItemMessageA(page, IDC_INSTALL_TYPES, CB_SETCURSEL, (WPARAM)t, 0);
        current_install_type = t;
    }
    SendMessageA(page, MSG_UPDATE_SPACE, 0, 0);
}

static void install_type_chosen(HWND page) {
    const LRESULT chosen = SendDlgItemMessageA(page, IDC_INSTALL_TYPES, CB_GETCURSEL, 0, 0);
    if (chosen == CB_ERR) return;
    current_install_type = (int32_t)chosen;
    if (current_install_type != install_type_count) {
        HWND tree = tree_of(page);
        for (int32_t i = 0; i < section_count; ++i) {
            HTREEITEM item = item_of(i);
            if (!item || is_read_only(i)) continue;
            const int member = is_member(i, current_install_type);
            set_selected(i, member);
            set_image(tree, item, member ? CHECK_CHECKED : CHECK_UNCHECKED);
            update_parents(tree, item);
        }
        scroll_to_top(tree);
    }
    SendMessageA(page, MSG_UPDATE_SPACE, 0, 0);
}

static void add_install_types(HWND page) {
    HWND combo = GetDlgItem(page, IDC_INSTALL_TYPES);
    const int32_t* names = header()->install_type_names;
    install_type_count = 0;
    if (names[0] < 0) {
        ShowWindow(combo, SW_HIDE);
        return;
    }
    while (install_type_count < MAX_INSTALL_TYPES && names[install_type_count] >= 0)
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)pool_string(names[install_type_count++]));
    if (type_mode() != INSTALL_TYPES_FIXED)
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)pool_string(lang_string_offset(-(PT_CUSTOM_TYPE + 1))));
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)current_install_type, 0);
}

static HTREEITEM insert_item(HWND tree, HTREEITEM parent, const char* text, int image, int bold, int children,
                             int32_t section) {
    TVINSERTSTRUCTA insert;
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_STATE | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = (char*)text;
    insert.item.stateMask = TVIS_STATEIMAGEMASK | TVIS_BOLD;
    insert.item.state = INDEXTOSTATEIMAGEMASK(image) | (bold ? TVIS_BOLD : 0);
    insert.item.cChildren = children;
    insert.item.lParam = section;
    return (HTREEITEM)SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&insert);
}

// Builds the tree from the section records: '-Name' opens a subsection
// ('-!Name' a bold one), '-' alone closes it, '!Name' is a bold item.
// Returns whether a subsection exists.
static int fill_tree(HWND tree) {
    const int reset_to_type = install_type_count != 0 && current_install_type != install_type_count;
    HTREEITEM parent = TVI_ROOT;
    int subsections = 0;
    for (int32_t i = 0; i < section_count; ++i) {
        SectionRecord* section = &section_records[i];
        if (section->name < 0) continue;
        expand_param(param_buffers[0], section->name);
        const char* text = param_buffers[0];
        if (reset_to_type && !is_read_only(i)) set_selected(i, is_member(i, current_install_type));
        int image = (section->flags & SECTION_SELECTED) ? CHECK_CHECKED : CHECK_UNCHECKED;
        if (is_read_only(i)) image += 3;
        int skip = 0, bold = 0, opens = 0;
        if (text[0] == '!') {
            skip = bold = 1;
        } else if (text[0] == '-') {
            if (!text[1]) {
                if (parent != TVI_ROOT && i != 0) {
                    if (section_items[i - 1]) update_parents(tree, section_items[i - 1]);
                    parent = next_item(tree, parent, TVGN_PARENT);
                    if (!parent) parent = TVI_ROOT;
                }
                continue;
            }
            bold = text[1] == '!';
            skip = 1 + bold;
            opens = subsections = 1;
        }
        HTREEITEM item = insert_item(tree, parent, text + skip, image, bold, opens, i);
        section_items[i] = item;
        if (opens) parent = item;
    }
    for (int32_t i = 0; i < section_count; ++i)
        if (section_items[i] && section_records[i].expanded == 1)
            SendMessageA(tree, TVM_EXPAND, TVE_TOGGLE, (LPARAM)section_items[i]);
    return subsections;
}

static void initialise(HWND page) {
    if (section_items) GlobalFree(section_items);
    section_items = (HTREEITEM*)GlobalAlloc(GPTR, (SIZE_T)section_count * sizeof(HTREEITEM) + 1);
    HBITMAP bitmap = LoadBitmapA(module_handle, MAKEINTRESOURCEA(IDB_CHECK_IMAGES));
    set_item_language_text(page, IDC_INTRO, -(PT_COMPONENTS_INTRO + 1));
    set_item_language_text(page, IDC_INSTALL_TYPES_LABEL, -(PT_COMPONENTS_TYPE_LABEL + 1));
    set_item_language_text(page, IDC_COMPONENTS_TREE_LABEL, -(PT_COMPONENTS_TREE_LABEL + 1));

    HWND tree = tree_of(page);
    last_hover_section = -1;
    tree_own_proc = (WNDPROC)SetWindowLongPtrA(tree, GWLP_WNDPROC, (LONG_PTR)tree_subclass_proc);
    if (check_images) ImageList_Destroy(check_images);
    check_images = ImageList_Create(16, 16, ILC_COLOR32, 4, 4);
    ImageList_SetBkColor(check_images, GetSysColor(COLOR_WINDOW));
    ImageList_Add(check_images, bitmap, 0);
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, (LPARAM)check_images);
    DeleteObject(bitmap);

    add_install_types(page);
    if (!section_items) return;
    if (!fill_tree(tree)) SetWindowLongPtrA(tree, GWL_STYLE, GetWindowLongPtrA(tree, GWL_STYLE) & ~TVS_LINESATROOT);
    scroll_to_top(tree);
    SendMessageA(page, MSG_UPDATE_SPACE, 0, 0);
}

static void on_notify(HWND page, const NMHDR* header) {
    if (header->idFrom != IDC_COMPONENTS_TREE) return;
    if (header->code == NM_CLICK) {
        toggle(page, tree_hit_test(header->hwndFrom));
    } else if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW) {
        // Both forms of the notification keep the new item's value in the
        // same place; only the value (the section index) is used.
        SendMessageA(header->hwndFrom, MSG_SECTION_HOVER, 0, ((const NMTREEVIEWA*)header)->itemNew.lParam);
    }
}

INT_PTR CALLBACK components_page_proc(HWND page, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
        case WM_INITDIALOG:
            initialise(page);
            break;
        case WM_NOTIFY:
            on_notify(page, (const NMHDR*)second);
            break;
        case MSG_TOGGLE_SELECTED:
            toggle(page, next_item(tree_of(page), 0, TVGN_CARET));
            break;
        case WM_COMMAND:
            if (LOWORD(first) == IDC_INSTALL_TYPES && HIWORD(first) == CBN_SELCHANGE) install_type_chosen(page);
            break;
        case MSG_UPDATE_SPACE:
            update_space(page);
            break;
        case MSG_SECTION_TEXT: {
            const int32_t section = (int32_t)first;
            HTREEITEM item = item_of(section);
            if (!item) break;
            if ((int32_t)second >= 0) {
                expand_param(param_buffers[0], (int32_t)second);
                TVITEMA tv;
                tv.mask = TVIF_TEXT;
                tv.hItem = item;
                tv.pszText = param_buffers[0];
                SendDlgItemMessageA(page, IDC_COMPONENTS_TREE, TVM_SETITEMA, 0, (LPARAM)&tv);
            }
            SendMessageA(page, MSG_SECTION_CHECK, first, (section_records[section].flags & SECTION_SELECTED) ? 1 : 0);
            break;
        }
        case MSG_SECTION_CHECK: {
            HTREEITEM item = item_of((int32_t)first);
            if (item) set_check(tree_of(page), item, (int)second);
            break;
        }
        case WM_DESTROY:
            if (check_images) ImageList_Destroy(check_images);
            check_images = 0;
            GlobalFree(section_items);
            section_items = 0;
            break;
    }
    return dialog_colour_hook(message, first, second);
}

// Runs the hover callback for a section the tree has not reported last,
// with the section's index in UserVar 0 for its duration.
static void hover(int32_t section) {
    if (section == last_hover_section) return;
    last_hover_section = section;
    lstrcpynA(saved_user_var, var_slot(0), VAR_SLOT_SIZE);
    set_slot_decimal(0, section);
    run_callback(header()->on_mouse_over_section);
    lstrcpynA(var_slot(0), saved_user_var, VAR_SLOT_SIZE);
}

LRESULT CALLBACK tree_subclass_proc(HWND tree, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_KEYDOWN && first == VK_SPACE) {
        SendMessageA(GetParent(tree), MSG_TOGGLE_SELECTED, 0, 0);
        return 0;
    }
    if (message == WM_MOUSEMOVE) {
        int32_t section;
        if (read_item(tree, tree_hit_test(tree), &section)) {
            hover(section);
            return 0;
        }
    } else if (message == MSG_SECTION_HOVER) {
        hover((int32_t)second);
        return 0;
    } else if (message == WM_DESTROY) {
        last_hover_section = -1;
    }
    return CallWindowProcA(tree_own_proc, tree, message, first, second);
}
