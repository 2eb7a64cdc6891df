// The wizard's main window: one modal dialog that shows one page at a time,
// decides which pages exist, runs the script's callbacks around every page
// change and ends with the wizard's result.
#pragma once

#include <windows.h>
#include <stdint.h>

// Private messages of the wizard; scripts may send them too.
static const UINT MSG_INSTALL_DONE = 1028;  // to the install-files page; wParam: the failure count
static const UINT MSG_NAVIGATE = 1032;      // to the main window; wParam: +1 forward, -1 back
static const UINT MSG_UPDATE_SPACE = 1039;  // to the directory or components page

// Results of the wizard, and so exit codes of a run through it.
static const INT_PTR WIZARD_DONE = 0;       // navigation left the pages
static const INT_PTR WIZARD_CANCELLED = 1;  // cancelled, or quit while installing
static const INT_PTR WIZARD_FAILED = 2;     // closed after a failed installation

// Navigation state: the page shown (-1 before the first), and its window.
extern int32_t current_page;
extern HWND page_window;
// The main window while it exists; never cleared.
extern HWND wizard_window;

INT_PTR CALLBACK main_dialog_proc(HWND window, UINT message, WPARAM first, LPARAM second);

// The common tail of every wizard dialog procedure: a static control whose
// user data holds a colour + 1 is painted on that colour.
INT_PTR dialog_colour_hook(UINT message, WPARAM first, LPARAM second);

// Sets a control's text to a language string, as stored (unexpanded).
void set_item_language_text(HWND window, int id, int32_t number);

// Sets the main window's title to the caption followed by the expansion of
// the language string `suffix`.
void set_caption_with_suffix(int32_t suffix);
