// The one message box of the system: the current caption as title, the
// current main window (if any) as owner.
#pragma once

#include <windows.h>

static const int CAPTION_SIZE = 1024;

// Title of every message box: the start-up caption until the language caption
// replaces it.
extern char caption[CAPTION_SIZE];

// Owner of message boxes; none during start-up and in a silent run.
extern HWND current_main_window;

// Returns the platform's button identifier, or 0 when no box could be shown.
int installer_message_box(const char* text, UINT style);
