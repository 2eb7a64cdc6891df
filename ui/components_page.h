// The components page: the tree of installable sections.
#pragma once

#include <windows.h>

// Private messages of the components page; scripts may send them too.
static const UINT MSG_TOGGLE_SELECTED = 1043;
static const UINT MSG_SECTION_TEXT = 1047;   // wParam section index, lParam StringPool offset of the new name
static const UINT MSG_SECTION_CHECK = 1048;  // wParam section index, lParam 1 selected, 0 not
static const UINT MSG_SECTION_HOVER = 1049;

// The page's window while it runs the callback that follows a change of
// selection by the user; null at every other time. The section instruction
// tells the page about the names and flags it changes only through it.
extern HWND components_page_window;
