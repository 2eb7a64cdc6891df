// The builder's instruction table and the stub's opcode numbers must agree:
// every instruction is written by its opcode's name in lower case.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "builder/opcodes.h"
#include "engine/opcodes.h"

namespace {

struct Named {
    int32_t opcode;
    const char* name;
};

#define OPCODE(name) {OP_##name, #name}
const Named stub_opcodes[] = {
    OPCODE(JUMP), OPCODE(ABORT), OPCODE(QUIT), OPCODE(CALL), OPCODE(DETAIL_OUTPUT), OPCODE(SLEEP),
    OPCODE(SET_ALL_USERS), OPCODE(HIDE_WINDOW), OPCODE(BRING_TO_FRONT), OPCODE(SET_AUTO_CLOSE),
    OPCODE(SHOW_DETAILS), OPCODE(SET_FILE_ATTRIBUTES), OPCODE(CREATE_DIRECTORY), OPCODE(IF_FILE_EXISTS),
    OPCODE(IF_ERROR), OPCODE(RENAME), OPCODE(GET_FULL_PATH), OPCODE(SEARCH_PATH), OPCODE(GET_TEMP_FILE_NAME),
    OPCODE(EXTRACT_FILE), OPCODE(DELETE_FILE), OPCODE(MESSAGE_BOX), OPCODE(REMOVE_DIRECTORY),
    OPCODE(STRING_LENGTH), OPCODE(COPY_STRING), OPCODE(COMPARE_STRING), OPCODE(READ_ENVIRONMENT),
    OPCODE(COMPARE_INT), OPCODE(COMPARE_UINT), OPCODE(INT_OPERATION), OPCODE(FORMAT_INT), OPCODE(STACK),
    OPCODE(FIND_WINDOW), OPCODE(SEND_MESSAGE), OPCODE(IF_WINDOW), OPCODE(GET_DIALOG_ITEM),
    OPCODE(SET_WINDOW_LONG), OPCODE(SHELL_EXECUTE), OPCODE(EXECUTE), OPCODE(GET_FILE_TIME),
    OPCODE(GET_FILE_VERSION), OPCODE(CALL_LIBRARY), OPCODE(CREATE_SHORTCUT), OPCODE(COPY_FILES), OPCODE(REBOOT),
    OPCODE(IF_REBOOT_FLAG), OPCODE(SET_REBOOT_FLAG), OPCODE(WRITE_INI), OPCODE(READ_INI),
    OPCODE(DELETE_REGISTRY), OPCODE(WRITE_REGISTRY), OPCODE(READ_REGISTRY), OPCODE(ENUM_REGISTRY),
    OPCODE(FILE_CLOSE), OPCODE(FILE_OPEN), OPCODE(FILE_WRITE), OPCODE(FILE_READ), OPCODE(FILE_SEEK),
    OPCODE(FIND_CLOSE), OPCODE(FIND_NEXT), OPCODE(FIND_FIRST), OPCODE(WRITE_UNINSTALLER), OPCODE(SECTION),
    OPCODE(SET_CONTROL_BITMAP), OPCODE(CREATE_FONT), OPCODE(REMEMBER_TEMP_DIRECTORY),
};
#undef OPCODE

std::string lower(const char* s) {
    std::string out(s);
    for (char& c : out) c = (char)std::tolower((unsigned char)c);
    return out;
}

TEST(OpcodeNames, BuilderAndStubAgree) {
    std::set<int32_t> numbers;
    for (const Named& op : stub_opcodes) {
        const quillmar::OpcodeInfo* by_name = quillmar::find_opcode(lower(op.name));
        ASSERT_NE(by_name, nullptr) << op.name;
        EXPECT_EQ(by_name->opcode, op.opcode) << op.name;
        const quillmar::OpcodeInfo* by_number = quillmar::find_opcode(op.opcode);
        ASSERT_NE(by_number, nullptr) << op.name;
        EXPECT_EQ(lower(by_number->name), lower(op.name));
        numbers.insert(op.opcode);
    }
    // 2..70 without 64, 68 and 69, and the end of a segment.
    EXPECT_EQ(numbers.size(), 66u);
    for (int32_t missing : {64, 68, 69, 0, 71}) EXPECT_EQ(quillmar::find_opcode(missing), nullptr) << missing;
    ASSERT_NE(quillmar::find_opcode(OP_RETURN), nullptr);
    int count = 0;
    quillmar::opcode_table(count);
    EXPECT_EQ(count, 67) << "the table holds exactly the instructions above and the end of a segment";
}

}  // namespace
