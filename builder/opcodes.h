// The instruction set as the assembler knows it: every opcode with its name
// and, per parameter, what the stored value means.
#pragma once

#include <cstdint>
#include <string>

#include "datablock/opcodes.h"

namespace quillmar {

enum class ParamKind {
    unused,       // not read by the instruction
    string,       // StringPool offset, expanded when used; -1 is the empty string
    number,       // StringPool offset of a text read as a number
    immediate,    // the value itself (modes, flags, styles, root keys...)
    slot,         // VarSlot index 0..24
    slot_or_none, // VarSlot index, or -1 for no result
    target,       // jump value: entry index + 1, 0 for the next entry, -(slot+1) indirect
    block,        // payload block, resolved by the writer
    // Parameters whose kind depends on another parameter of the same entry:
    registry_data,  // write_registry data: block for the binary type, else string
    stack_value,    // stack: string to push, or slot for a pop
    section_value,  // section: depends on the mode
};

struct Symbol {
    const char* name;  // matched without regard to case
    int64_t value;
};

struct SymbolSet {
    const Symbol* symbols;
    int count;
};

struct ParamInfo {
    const char* name;  // nullptr for an unused parameter
    ParamKind kind;
    const SymbolSet* symbols;  // immediates: the names this parameter accepts
    int32_t default_value;     // stored when the parameter is omitted
    const char* default_text;  // string/number kinds: text stored when omitted (nullptr: default_value)
    bool required;
};

struct OpcodeInfo {
    int32_t opcode;
    const char* name;  // as scripts write it
    ParamInfo params[5];
    const char* constant;  // the opcode's constant, such as "OP_JUMP"
};

// nullptr when the name (lower case, as written in the source) is unknown.
const OpcodeInfo* find_opcode(const std::string& name);
const OpcodeInfo* find_opcode(int32_t opcode);
// Every instruction, in opcode order.
const OpcodeInfo* opcode_table(int& count);

// Symbols that every immediate accepts (true, false).
const SymbolSet& common_symbols();
bool find_symbol(const SymbolSet* set, const std::string& name, int64_t& value);

}  // namespace quillmar
