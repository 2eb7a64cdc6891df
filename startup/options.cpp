#include "startup/options.h"

#include <windows.h>

#include "engine/varslots.h"

char* argument_start = 0;
char* parse_stop = 0;
uint8_t silent_switch = 0;
uint8_t no_crc_switch = 0;

// True when the text at p is `word` followed by a blank or the end.
static int is_option(const char* p, const char* word) {
    while (*word)
        if (*p++ != *word++) return 0;
    return *p == ' ' || *p == 0;
}

void parse_command_line(const char* command_line) {
    char* const line = var_slot(VAR_COMMAND_LINE);
    silent_switch = 0;
    no_crc_switch = 0;
    var_slot(VAR_INSTALL_DIR)[0] = 0;
    lstrcpynA(line, command_line, VAR_SLOT_SIZE);

    // Program name: quoted up to the closing quote, else up to the first blank;
    // then one step over the quote or blank that ended it.
    char* p = line;
    if (*p == '"') {
        p++;
        while (*p && *p != '"') p = CharNextA(p);
    } else {
        while (*p && *p != ' ') p = CharNextA(p);
    }
    if (*p) p++;
    argument_start = p;

    for (;;) {
        while (*p == ' ') p++;
        if (*p != '/') break;
        if (is_option(p, "/S")) {
            silent_switch++;
            p += 2;
        } else if (is_option(p, "/NCRC")) {
            no_crc_switch++;
            p += 5;
        } else if (p[1] == 'D' && p[2] == '=') {
            // "/D=" takes the rest of the line, blanks included, and cuts the
            // command line just before itself.
            if (p > line) p[-1] = 0;
            lstrcpyA(var_slot(VAR_INSTALL_DIR), p + 3);
            p += lstrlenA(p);
            break;
        } else {
            while (*p && *p != ' ') p = CharNextA(p);
        }
    }
    parse_stop = p;
}
