#include "datablock/header_view.h"

uint8_t* header_block = 0;
int32_t header_block_length = 0;
SectionRecord* section_records = 0;
ScriptEntry* script_entries = 0;
char* string_pool = 0;
int32_t string_pool_length = 0;
int uninstaller_mode = 0;
