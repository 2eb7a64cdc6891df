// The instruction table: one handler per opcode, provided by the source of
// the instruction's family (ops_flow.cpp, ops_files.cpp, ops_registry.cpp,
// ops_system.cpp, ops_handles.cpp). An opcode without a handler (0, 1, 64,
// 68, 69 and every instruction of a family not linked in) takes the
// invalid-instruction path.
#pragma once

#include "datablock/records.h"
#include "datablock/opcodes.h"

// Runs one entry; returns 0, a jump value or RESULT_ABORT.
typedef int32_t (*InstructionHandler)(const ScriptEntry* entry);

extern const InstructionHandler instruction_table[OP_TABLE_SIZE];
