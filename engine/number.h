// The number syntax of the script: wherever text is read as a number (number
// parameters, indirect jump targets, the language id, handles in VarSlots).
// Portable: no platform calls.
#pragma once

#include <stdint.h>

// "0x"/"0X" then hexadecimal digits; "0" followed by a digit 0-7: octal;
// otherwise an optional '-' and decimal digits. Reading stops at the first
// character that is not a digit of the form; nothing is skipped, there is no
// '+', and arithmetic wraps at 32 bits. Text that starts with no digit reads 0.
int32_t read_number(const char* text);
