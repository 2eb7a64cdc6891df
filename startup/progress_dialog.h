// The small progress dialog (resource 111) shared by verification and
// decompression: it shows format % MulDiv(progress_done, 100, progress_of),
// refreshed every 250 ms, in its title and in its text control.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "resources/resource_ids.h"

// The shared done/total pair: bytes of the own file scanned and its size
// during verification; reused for decompression progress later on.
extern int32_t progress_done;
extern int32_t progress_of;

// Dialog procedure; the creation parameter is the format text.
INT_PTR CALLBACK progress_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Handles every window message waiting for this thread, so that a progress
// dialog stays alive while long work runs on the same thread.
void dispatch_pending_messages();

// Creates the modeless dialog owned by the desktop; null when it cannot be made.
HWND create_progress_dialog(HINSTANCE module, const char* format);
