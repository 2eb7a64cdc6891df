#include "engine/instructions.h"

// Families and their opcodes; a family's handlers take their places here as
// its source joins the build.
//   flow, variables, stack, integers, strings: 2-11, 16, 25-27, 29-33, 47, 48, 65
//   files and directories: 13-15, 17-22, 24, 41, 42, 45, 63
//   registry, INI files, environment: 28, 49-54
//   processes, shell, windows, system: 12, 23, 34-40, 43, 44, 46, 66, 67, 70
//   file and search handles: 55-62
const InstructionHandler instruction_table[OP_TABLE_SIZE] = {};
