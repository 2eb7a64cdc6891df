#include "ui/message_box.h"

char caption[CAPTION_SIZE];
HWND current_main_window = 0;

int installer_message_box(const char* text, UINT style) {
    return MessageBoxA(current_main_window, text, caption, style);
}
