// Status output: detail lines for the install-files page's details list and
// status line. Before that page exists (a silent run, the initialisation
// callback, the earlier pages) every line is discarded.
#pragma once

#include <windows.h>
#include <stdint.h>

// The install-files page's details list and status text; null until the page
// has been created, never cleared afterwards.
extern HWND detail_list;
extern HWND detail_status;
// The page's show-details button; null before the page exists and when the
// header hides the details for good.
extern HWND details_button;

// Outputs prefix followed by text, as detail_output_flags says (bit 0: a new
// row at the end of the details list, bit 1: the status line). A line of 1024
// bytes or more is dropped whole.
void log_line(const char* prefix, const char* text);

// log_line with the language string `number` as the prefix, unexpanded.
void log_line_lang(int32_t number, const char* text);
