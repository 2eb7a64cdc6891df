// The components page: the tree of installable sections with their check
// boxes, and the install types.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <stdint.h>

// Private messages of the components page; scripts may send them too.
static const UINT MSG_TOGGLE_SELECTED = 1043;  // to the page: toggle the tree's selected item
static const UINT MSG_SECTION_TEXT = 1047;     // wParam section index, lParam StringPool offset of the new name
static const UINT MSG_SECTION_CHECK = 1048;    // wParam section index, lParam 1 selected, 0 not
static const UINT MSG_SECTION_HOVER = 1049;    // to the tree; lParam section index

// Check images of the tree items (state images; 0 is no image).
enum CheckImage {
    CHECK_NONE = 0,
    CHECK_UNCHECKED = 1,
    CHECK_CHECKED = 2,
    CHECK_PARTLY = 3,
    CHECK_READ_ONLY_UNCHECKED = 4,
    CHECK_READ_ONLY_CHECKED = 5,
};

// The page's window while it runs the callback that follows a change of
// selection by the user; null at every other time. The section instruction
// tells the page about the names and flags it changes only through it.
extern HWND components_page_window;

// The install type chosen on the page (the type count: the custom entry);
// kept between visits.
extern int32_t current_install_type;

INT_PTR CALLBACK components_page_proc(HWND window, UINT message, WPARAM first, LPARAM second);
LRESULT CALLBACK tree_subclass_proc(HWND tree, UINT message, WPARAM first, LPARAM second);

// Shows `checked` on the item (read-only unchecked items show their own
// image), marks its subtree alike and brings its parents up to date.
void set_check(HWND tree, HTREEITEM item, int checked);
// Gives every non-read-only section in the subtree image `image` (unchecked
// or checked) and the matching selected bit. An item without a check image
// ends the walk below it.
void mark_subtree(HWND tree, HTREEITEM item, int image);
// Gives every ancestor of the item the image its counted children agree on,
// or partly checked when they differ.
void update_parents(HWND tree, HTREEITEM item);
