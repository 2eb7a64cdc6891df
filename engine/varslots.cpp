#include "engine/varslots.h"

char var_slots[VAR_SLOT_COUNT][VAR_SLOT_SIZE];
