// The optional backdrop behind the wizard: a top-level window over the
// desktop's work area, painted with a vertical colour gradient and the
// window's title in large italic letters in its top-left corner.
#pragma once

#include <windows.h>

// Registers the window class "_Tb" and creates the window, hidden, over the
// work area. Colours are RGB values (red in the low byte); a text colour of
// -1 (all bits set) draws no title. The colours are kept for every paint.
// Returns the window, or null when the class cannot be registered.
HWND create_background_window(HINSTANCE instance, COLORREF top, COLORREF bottom, COLORREF text);

// Paints the gradient and the title; every other message goes to the
// platform's default procedure.
LRESULT CALLBACK background_window_proc(HWND window, UINT message, WPARAM first, LPARAM second);
