#include "ui/components_page.h"

HWND components_page_window = 0;
