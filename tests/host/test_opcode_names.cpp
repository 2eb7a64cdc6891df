// Scripts write every instruction by the name of its opcode constant in lower
// case, without the OP_ prefix; the end of a segment (OP_RETURN) is `end`.
// The builder's table takes its numbers from the stub's constants, so what is
// left to check is that each name belongs to its constant.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "builder/opcodes.h"
#include "datablock/opcodes.h"

namespace {

std::string script_name(const char* constant) {
    std::string out(constant);
    out.erase(0, 3);  // "OP_"
    for (char& c : out) c = (char)std::tolower((unsigned char)c);
    return out;
}

TEST(OpcodeNames, EveryInstructionIsNamedAfterItsConstant) {
    int count = 0;
    const quillmar::OpcodeInfo* table = quillmar::opcode_table(count);
    std::set<int32_t> numbers;
    for (int i = 0; i < count; ++i) {
        const quillmar::OpcodeInfo& op = table[i];
        ASSERT_NE(op.constant, nullptr) << op.name;
        ASSERT_EQ(std::string(op.constant, 3), "OP_");
        const std::string expected = op.opcode == OP_RETURN ? std::string("end") : script_name(op.constant);
        EXPECT_EQ(op.name, expected) << op.constant;
        EXPECT_EQ(quillmar::find_opcode(op.name), &op) << op.name;
        EXPECT_EQ(quillmar::find_opcode(op.opcode), &op) << op.name;
        if (i > 0) {
            EXPECT_LT(table[i - 1].opcode, op.opcode) << "the table is in opcode order: " << op.name;
        }
        numbers.insert(op.opcode);
    }
    // Opcodes 2..70 without 64, 68 and 69, and the end of a segment.
    EXPECT_EQ(count, 67);
    EXPECT_EQ(numbers.size(), (size_t)count);
    for (int32_t missing : {0, 64, 68, 69, (int32_t)OP_TABLE_SIZE})
        EXPECT_EQ(quillmar::find_opcode(missing), nullptr) << missing;
}

}  // namespace
