#include "datablock/header_view.h"

uint8_t* header_block = 0;
