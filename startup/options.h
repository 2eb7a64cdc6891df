// Command-line copy and option parsing of the process entry.
#pragma once

#include <stdint.h>

// Where the first argument begins in CommandLine, and where option parsing
// stopped (the uninstaller looks for its hand-over argument there).
extern char* argument_start;
extern char* parse_stop;

// Counters: non-zero means on. The silent switch is also raised by FH_SILENT.
extern uint8_t silent_switch;
extern uint8_t no_crc_switch;

// Copies `command_line` into the CommandLine VarSlot (cut to 1023 bytes),
// skips the program name and parses "/S", "/NCRC" and a final "/D=dir" into
// the switches and InstallDir. Resets the switches first.
void parse_command_line(const char* command_line);
