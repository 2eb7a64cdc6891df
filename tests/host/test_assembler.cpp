#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "builder/assembler.h"
#include "builder/codepage.h"
#include "builder/opcodes.h"

namespace quillmar {
namespace {

// The scripts of these tests sit in a description file from line 10 on.
const char* const kFile = "setup.toml";
const int kFirstLine = 10;

std::string pool_string(const DataBlockModel& m, int32_t offset) {
    const std::vector<uint8_t>& bytes = m.pool.bytes();
    std::string s;
    for (size_t i = (size_t)offset; i < bytes.size() && bytes[i] != 0; ++i) s += (char)bytes[i];
    return s;
}

AssembleResult run(const std::string& source, DataBlockModel& model, const PayloadResolver& payloads = {}) {
    return assemble(source, model, kFile, kFirstLine, windows_1252(), payloads);
}

std::string joined(const std::vector<Diagnostic>& diagnostics) {
    std::string s;
    for (const Diagnostic& d : diagnostics) s += d.text() + "\n";
    return s;
}

TEST(OpcodeTable, NamesEveryInstructionOnceWithUniqueParameterNames) {
    int count = 0;
    const OpcodeInfo* table = opcode_table(count);
    std::set<int32_t> opcodes;
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        const OpcodeInfo& op = table[i];
        opcodes.insert(op.opcode);
        EXPECT_TRUE(names.insert(op.name).second) << op.name;
        EXPECT_EQ(find_opcode(op.name), &op);
        EXPECT_EQ(find_opcode(op.opcode), &op);
        std::set<std::string> params;
        for (const ParamInfo& p : op.params) {
            if (p.kind == ParamKind::unused) continue;
            ASSERT_NE(p.name, nullptr) << op.name;
            EXPECT_TRUE(params.insert(p.name).second) << op.name << " " << p.name;
        }
    }
    std::set<int32_t> expected;
    for (int32_t n = 1; n <= 70; ++n)
        if (n != 64 && n != 68 && n != 69) expected.insert(n);
    EXPECT_EQ(opcodes, expected);
    EXPECT_EQ(find_opcode("return"), find_opcode(OP_RETURN));
    EXPECT_EQ(find_opcode("OP_JUMP"), nullptr);
}

// One instruction and what each of p0..p4 must hold: a number, or "s:" and
// the text at that StringPool offset.
struct EntryCase {
    const char* source;
    int32_t opcode;
    std::vector<std::string> params;
};

void expect_entry(const DataBlockModel& m, const ScriptEntry& e, const EntryCase& c) {
    EXPECT_EQ(e.opcode, c.opcode) << c.source;
    const int32_t* p = &e.p0;
    for (size_t i = 0; i < 5; ++i) {
        std::string want = i < c.params.size() ? c.params[i] : "0";
        if (want.compare(0, 2, "s:") == 0) {
            ASSERT_GE(p[i], 0) << c.source << " p" << i;
            EXPECT_EQ(pool_string(m, p[i]), want.substr(2)) << c.source << " p" << i;
        } else {
            EXPECT_EQ(std::to_string(p[i]), want) << c.source << " p" << i;
        }
    }
}

TEST(Assembler, ParameterKindsByPositionAndByName) {
    const EntryCase cases[] = {
        // strings, numbers and slots; omitted count and start are "none" (-1)
        {"copy_string $var0, \"text\"", 26, {"0", "s:text", "-1", "-1"}},
        {"copy_string $install_dir, $var3, 3, -2", 26, {"21", "s:\xDF", "s:3", "s:-2"}},
        {"copy_string result=$var1, text=\"abc\", start=2", 26, {"1", "s:abc", "-1", "s:2"}},
        {"copy_string $var1, p3=0x10, p1=\"x\"", 26, {"1", "s:x", "-1", "s:16"}},
        {"copy_string $var19, \"\", none, 0", 26, {"19", "s:", "-1", "s:0"}},
        {"string_length $lang_id, \"abc\"", 25, {"24"}},
        {"string_length $command_line, $exe_dir", 25, {"20", "s:\xF3"}},
        {"get_full_path $output_dir, \"x\", long", 18, {"22", "s:x", "1"}},
        // immediates: symbols, flags, negative and hexadecimal numbers
        {"write_registry HKLM, \"Software\\Quillmar\", \"Path\", \"{install_dir}\", string", 52,
         {"-2147483646", "s:Software\\Quillmar", "s:Path", "s:\xF1", "1"}},
        {"write_registry HKEY_CURRENT_USER, \"K\", \"N\", 5, dword", 52, {"-2147483647", "s:K", "s:N", "s:5", "2"}},
        {"read_registry $var0, hklm, \"K\"", 53, {"0", "-2147483646", "s:K", "-1", "0"}},
        {"enum_registry $var3, HKCR, \"K\", $var4, keys", 54, {"3", "-2147483648", "s:K", "s:\xE0", "1"}},
        {"delete_registry HKCU, \"Software\\X\", none, true", 51, {"-2147483647", "s:Software\\X", "-1", "1"}},
        {"message_box MB_YESNO|MB_ICONQUESTION, \"Sure?\", IDYES|IDNO<<16", 23, {"36", "s:Sure?", "458758"}},
        {"message_box style=MB_OK, text=\"Hi\"", 23, {"0", "s:Hi"}},
        {"int_operation $var2, $var0, 0x10, mod", 31, {"2", "s:\xDC", "s:16", "11"}},
        {"int_operation $var2, -7, 2, div", 31, {"2", "s:-7", "s:2", "3"}},
        {"set_reboot_flag -1", 48, {"-1"}},
        {"set_reboot_flag 0xFFFFFFFF", 48, {"-1"}},
        {"set_reboot_flag -(2+3)", 48, {"-5"}},
        {"set_reboot_flag ~0x0F", 48, {"-16"}},
        {"set_window_long $var0, GWL_USERDATA, 0x123", 38, {"s:\xDC", "-21", "s:291"}},
        {"set_file_attributes \"a\", READONLY|HIDDEN", 13, {"s:a", "3"}},
        {"copy_files \"a\\*\", \"b\", FOF_SILENT|FOF_NOCONFIRMATION", 45, {"s:a\\*", "s:b", "20"}},
        {"file_open \"{temp}\\log.txt\", GENERIC_WRITE, CREATE_ALWAYS, $var9", 56,
         {"s:\xFB\\log.txt", "1073741824", "2", "9"}},
        {"file_seek $var9, -4, FILE_END", 59, {"9", "s:-4", "2", "-1"}},
        {"create_shortcut \"{desktop}\\App.lnk\", \"{install_dir}\\app.exe\", options=2|SHOW_MAXIMIZED|0x41<<16", 44,
         {"s:\xF8\\App.lnk", "s:\xF1\\app.exe", "-1", "-1", "4260610"}},
        {"show_details SW_HIDE, SW_SHOW", 12, {"0", "5"}},
        {"read_environment $var0, \"%WINDIR%\\x\", expand", 28, {"0", "s:%WINDIR%\\x", "0"}},
        {"detail_output flags=both", 6, {"-1", "3"}},
        // natural defaults of omitted parameters
        {"reboot", 46, {"195948557"}},
        {"file_read $var0, $var1", 58, {"0", "1", "s:1023", "0"}},
        {"shell_execute \"open\", \"readme.txt\"", 39, {"s:open", "s:readme.txt", "-1", "1"}},
        {"find_window none, \"\", \"Title\"", 34, {"-1", "s:", "s:Title", "-1", "-1"}},
        {"execute \"setup.exe /q\", true, $var5", 40, {"s:setup.exe /q", "1", "5"}},
        {"execute \"setup.exe\"", 40, {"s:setup.exe", "0", "-1"}},
        {"write_ini \"S\", \"E\", none, \"{install_dir}\\a.ini\"", 49, {"s:S", "s:E", "-1", "s:\xF1\\a.ini"}},
        // parameters whose kind follows another parameter
        {"stack \"pushed\"", 33, {"s:pushed", "0", "0"}},
        {"stack $var4, pop", 33, {"4", "1", "0"}},
        {"stack exchange=1", 33, {"-1", "0", "1"}},
        {"section 2, get_flags, $var1", 65, {"s:2", "3", "1"}},
        {"section 0, set_flags, 0x80000000", 65, {"s:0", "2", "s:-2147483648"}},
        {"section 1, set_name, \"New name\"", 65, {"s:1", "0", "s:New name"}},
        {"section 1, get_name, $var7", 65, {"s:1", "1", "7"}},
        {"remember_temp_directory", 70, {}},
        {"return", 1, {}},
    };
    for (const EntryCase& c : cases) {
        DataBlockModel m;
        AssembleResult r = run(std::string(c.source) + "\nend\n", m);
        ASSERT_TRUE(r.ok()) << c.source << "\n" << joined(r.errors);
        ASSERT_EQ(m.entries.size(), 2u) << c.source;
        expect_entry(m, m.entries[0], c);
        EXPECT_EQ(m.entries[1].opcode, OP_RETURN);
    }
}

TEST(Assembler, LabelsAndLocalLabelsResolveToEntryIndexPlusOne) {
    DataBlockModel m;
    m.entries.resize(3, ScriptEntry{OP_RETURN, 0, 0, 0, 0, 0});  // code already in the model
    const char* source =
        "        jump done                          # 3\n"
        "loop:   int_operation $var0, $var0, 1, add # 4\n"
        "        compare_int $var0, 10, done, loop, next\n"
        "1:      jump 1f                            # 6: the 1: below\n"
        "        call $var2                         # 7: indirect through $var2\n"
        "1:      jump 1b                            # 8: its own line\n"
        "        jump 1b                            # 9\n"
        "\n"
        "done:\n"
        "        end                                # 10\n";
    AssembleResult r = run(source, m);
    ASSERT_TRUE(r.ok()) << joined(r.errors);
    ASSERT_EQ(m.entries.size(), 11u);
    EXPECT_EQ(r.labels.at("loop"), 4);
    EXPECT_EQ(r.labels.at("done"), 10);
    EXPECT_EQ(r.entries.size(), 8u);
    EXPECT_EQ(m.entries[3].p0, 11);
    EXPECT_EQ(m.entries[5].p2, 11);
    EXPECT_EQ(m.entries[5].p3, 5);
    EXPECT_EQ(m.entries[5].p4, 0);
    EXPECT_EQ(m.entries[6].p0, 9);
    EXPECT_EQ(m.entries[7].opcode, 5);
    EXPECT_EQ(m.entries[7].p0, -3);
    EXPECT_EQ(m.entries[8].p0, 9);
    EXPECT_EQ(m.entries[9].p0, 9);
    EXPECT_EQ(m.entries[10].opcode, OP_RETURN);
}

TEST(Assembler, SeveralSegmentsEachEndWithEnd) {
    DataBlockModel m;
    AssembleResult r = run("init: sleep 10\n  end\nsection_a: call init\n  return\n", m);
    ASSERT_TRUE(r.ok()) << joined(r.errors);
    ASSERT_EQ(m.entries.size(), 4u);
    EXPECT_EQ(r.labels.at("init"), 0);
    EXPECT_EQ(r.labels.at("section_a"), 2);
    EXPECT_EQ(m.entries[1].opcode, 1);
    EXPECT_EQ(m.entries[2].p0, 1);
    EXPECT_EQ(m.entries[3].opcode, 1);
}

TEST(Assembler, StringLiteralsPlaceholdersAndEscapes) {
    struct Case {
        const char* literal;
        std::string stored;
    };
    const Case cases[] = {
        {"C:\\Program Files\\App\\", "C:\\Program Files\\App\\"},
        {"say \"\"hi\"\"", "say \"hi\""},
        {"{{braces}} and }}{{", "{braces} and }{"},
        {"{install_dir}\\bin", "\xF1\\bin"},
        {"{main_window}{var0}{var19}{command_line}{install_dir}{output_dir}{exe_dir}{lang_id}",
         "\xDB\xDC\xEF\xF0\xF1\xF2\xF3\xF4"},
        {"{program_files}{programs}{startup}{desktop}{start_menu}{quick_launch}{temp}{windows}{system}"
         "{temp_directory}",
         "\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE"},
        // letters of the code page from 0xDB upward are escaped, those below are not
        {"caf\xC3\xA9", "caf\xFF\xE9"},
        {"\xC3\x9A\xC3\x9B \xC3\x9C \xC3\xBF", "\xDA\xFF\xDB \xFF\xDC \xFF\xFF"},
        {"\xE2\x82\xAC \xE2\x80\x93 \xE2\x80\xB0 \xC2\xA1", "\x80 \x96 \x89 \xA1"},
        {"# not a comment ; either", "# not a comment ; either"},
        {"", ""},
    };
    for (const Case& c : cases) {
        DataBlockModel m;
        AssembleResult r = run(std::string("abort \"") + c.literal + "\"\nend", m);
        ASSERT_TRUE(r.ok()) << c.literal << "\n" << joined(r.errors);
        EXPECT_EQ(pool_string(m, m.entries[0].p0), c.stored) << c.literal;
    }
}

TEST(Assembler, SameTextSharesOnePoolString) {
    DataBlockModel m;
    AssembleResult r = run("abort \"x\"\nabort \"x\"\nsleep 5\ndetail_output \"5\"\nend", m);
    ASSERT_TRUE(r.ok()) << joined(r.errors);
    EXPECT_EQ(m.entries[0].p0, m.entries[1].p0);
    EXPECT_EQ(m.entries[2].p0, m.entries[3].p0);
}

TEST(Windows1252, MapsTheCodePageAndRejectsTheRest) {
    struct Case {
        char32_t character;
        int byte;  // -1: not in the code page
    };
    const Case cases[] = {
        {U'A', 0x41},    {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x2026, 0x85}, {0x0152, 0x8C},
        {0x017D, 0x8E},  {0x2018, 0x91}, {0x2122, 0x99}, {0x0178, 0x9F}, {0x00A0, 0xA0}, {0x00E9, 0xE9},
        {0x00FF, 0xFF},  {0x0081, -1},   {0x009D, -1},   {0x0100, -1},   {0x4E2D, -1},   {0x1F600, -1},
    };
    for (const Case& c : cases) {
        std::string out;
        bool ok = windows_1252().append(c.character, out);
        if (c.byte < 0) {
            EXPECT_FALSE(ok) << std::hex << (unsigned)c.character;
        } else {
            ASSERT_TRUE(ok) << std::hex << (unsigned)c.character;
            EXPECT_EQ(out, std::string(1, (char)c.byte));
        }
    }
}

// A code page other than the default: the converter decides what is stored.
class UpperAscii : public Converter {
public:
    const char* name() const override { return "test code page"; }
    bool append(char32_t c, std::string& out) const override {
        if (c >= 0x80) return false;
        out += (char)((c >= 'a' && c <= 'z') ? c - 32 : c);
        return true;
    }
};

TEST(Assembler, UsesTheConverterItIsGiven) {
    DataBlockModel m;
    UpperAscii converter;
    AssembleResult r = assemble("abort \"ok {install_dir}\"\nabort \"\xC3\xA9\"\nend", m, kFile, 1, converter);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].text(), "setup.toml:2: column 8: character \xC3\xA9 (U+00E9) has no equivalent in test code page");
    r = assemble("abort \"ok {install_dir}\"\nend", m, kFile, 1, converter);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(pool_string(m, m.entries[0].p0), "OK \xF1");
}

TEST(Assembler, ReportsErrorsWithTheirLocation) {
    struct Case {
        const char* source;  // the first line is line 10
        const char* error;
    };
    const Case cases[] = {
        {"copy_string $var0, \"\xE4\xB8\xAD\"",
         "setup.toml:10: column 21: character \xE4\xB8\xAD (U+4E2D) has no equivalent in Windows-1252"},
        {"end\ndetail_output \"\xC3\xA9\xE4\xB8\xAD\"",
         "setup.toml:11: column 17: character \xE4\xB8\xAD (U+4E2D) has no equivalent in Windows-1252"},
        {"abort \"\xFF\"", "setup.toml:10: column 8: text is not valid UTF-8"},
        {"\n    frobnicate 1", "setup.toml:11: column 5: unknown instruction 'frobnicate'"},
        {"JUMP next", "setup.toml:10: column 1: unknown instruction 'JUMP'"},
        {"jump nowhere", "setup.toml:10: column 6: unknown label 'nowhere'"},
        {"jump 3f\nend", "setup.toml:10: column 6: no local label '3:' below this line"},
        {"3: jump 3f\nend", "setup.toml:10: column 9: no local label '3:' below this line"},
        {"jump 2b\n2: end", "setup.toml:10: column 6: no local label '2:' above this line"},
        {"jump 7", "setup.toml:10: column 6: expected a label, a local label such as 1f or 1b, next, or a variable"},
        {"copy_string $var0, colour=1", "setup.toml:10: column 20: copy_string has no parameter 'colour'"},
        {"jump p4=next", "setup.toml:10: column 6: jump has no parameter 'p4'"},
        {"quit 1", "setup.toml:10: column 6: too many parameters for quit"},
        {"copy_string", "setup.toml:10: column 1: missing parameter 'result' of copy_string"},
        {"copy_string $var0,, \"x\"", "setup.toml:10: column 19: missing parameter before ','"},
        {"copy_string text=\"a\", $var0",
         "setup.toml:10: column 23: a parameter by position cannot follow one given by name"},
        {"copy_string $var0, result=$var1", "setup.toml:10: column 20: parameter 'result' of copy_string is given twice"},
        {"abort \"{instal_dir}\"", "setup.toml:10: column 8: unknown placeholder {instal_dir}"},
        {"abort \"a}b\"", "setup.toml:10: column 9: '}' outside a placeholder (write }} for a brace)"},
        {"abort \"a{b\"", "setup.toml:10: column 9: '{' without its closing '}' (write {{ for a brace)"},
        {"abort \"abc", "setup.toml:10: column 7: string without its closing double quote"},
        {"string_length $var20, \"x\"", "setup.toml:10: column 15: unknown variable '$var20'"},
        {"string_length \"x\", \"x\"", "setup.toml:10: column 15: expected a variable such as $var0"},
        {"abort 1+2", "setup.toml:10: column 7: expected a string or variable for parameter 'message' of abort"},
        {"message_box MB_YESNOPE, \"x\"",
         "setup.toml:10: column 13: unknown value 'MB_YESNOPE' for parameter 'style' of message_box"},
        {"message_box always, \"x\"",
         "setup.toml:10: column 13: unknown value 'always' for parameter 'style' of message_box"},
        {"set_reboot_flag 0x100000000", "setup.toml:10: column 17: '0x100000000' is not a number"},
        {"set_reboot_flag 0x80000000 + 0x80000000",
         "setup.toml:10: column 17: value of parameter 'value' of set_reboot_flag does not fit in 32 bits"},
        {"set_reboot_flag 1 2", "setup.toml:10: column 19: unexpected '2' in parameter 'value' of set_reboot_flag"},
        {"sleep 12ab", "setup.toml:10: column 7: '12ab' is not a number"},
        {"stack mode=pop", "setup.toml:10: column 1: missing parameter 'value' of stack"},
        {"write_registry HKLM, \"K\", \"V\", type=binary",
         "setup.toml:10: column 1: missing parameter 'data' of write_registry"},
        {"section 1, get_name", "setup.toml:10: column 1: missing parameter 'value' of section"},
        {"a: sleep 1\na: end", "setup.toml:11: column 1: label 'a' is already defined on line 10"},
        {"next: end", "setup.toml:10: column 1: 'next' is a reserved word and cannot name a label"},
        {"sleep 1", "setup.toml:10: the code must end with 'end'; it would run on into whatever follows"},
        {"end\ntail:", "setup.toml:11: label 'tail' is not followed by an instruction"},
        {"extract_file always, \"a.txt\", \"a.txt\"", "setup.toml:10: column 31: no payload files can be named here"},
        {"abort \"a\" @", "setup.toml:10: column 11: unexpected character '@'"},
    };
    for (const Case& c : cases) {
        DataBlockModel m;
        AssembleResult r = run(c.source, m);
        ASSERT_FALSE(r.ok()) << c.source;
        EXPECT_EQ(r.errors[0].text(), c.error) << c.source;
    }
    // A NUL would cut the stored string short.
    DataBlockModel m;
    const char nul[] = "abort \"a\0b\"\nend";
    AssembleResult r = run(std::string(nul, sizeof nul - 1), m);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].text(), "setup.toml:10: column 9: a NUL character cannot be stored in a string");
}

TEST(Assembler, CollectsSeveralErrorsAndLeavesTheModelUntouched) {
    DataBlockModel m;
    int32_t kept = m.pool.add_text("kept");
    m.entries.push_back({OP_RETURN, 0, 0, 0, 0, 0});
    size_t pool_size = m.pool.bytes().size();
    const char* source =
        "abort \"fine\"\n"
        "bogus\n"
        "abort \"also fine\"\n"
        "jump missing\n"
        "end\n";
    AssembleResult r = run(source, m);
    ASSERT_EQ(r.errors.size(), 2u);
    EXPECT_EQ(r.errors[0].text(), "setup.toml:11: column 1: unknown instruction 'bogus'");
    EXPECT_EQ(r.errors[1].text(), "setup.toml:13: column 6: unknown label 'missing'");
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(m.entries.size(), 1u);
    EXPECT_EQ(m.pool.bytes().size(), pool_size);
    EXPECT_EQ(pool_string(m, kept), "kept");
}

TEST(Assembler, PayloadBlocksBecomeBlockReferences) {
    DataBlockModel m;
    m.add_payload({'h', 'i'});
    m.add_payload({1, 2, 3});
    PayloadResolver payloads = [](const std::string& name, size_t& payload, std::string& error) {
        if (name == "files\\readme.txt") payload = 0;
        else if (name == "blob \"1\".bin") payload = 1;
        else {
            error = "no payload file '" + name + "'";
            return false;
        }
        return true;
    };
    m.entries.push_back({OP_RETURN, 0, 0, 0, 0, 0});
    AssembleResult r = run(
        "extract_file if_newer, \"{output_dir}\\readme.txt\", \"files\\readme.txt\"\n"
        "write_registry HKLM, \"K\", \"Blob\", \"blob \"\"1\"\".bin\", binary\n"
        "extract_file never, \"b\", \"files\\readme.txt\", 0x1234, 0x01D00000\n"
        "end\n",
        m, payloads);
    ASSERT_TRUE(r.ok()) << joined(r.errors);
    ASSERT_EQ(m.block_references.size(), 3u);
    EXPECT_EQ(m.block_references[0].entry, 1u);
    EXPECT_EQ(m.block_references[0].parameter, 2);
    EXPECT_EQ(m.block_references[0].payload, 0u);
    EXPECT_EQ(m.block_references[1].entry, 2u);
    EXPECT_EQ(m.block_references[1].parameter, 3);
    EXPECT_EQ(m.block_references[1].payload, 1u);
    EXPECT_EQ(m.block_references[2].entry, 3u);
    EXPECT_EQ(m.entries[1].p0, 3);
    EXPECT_EQ(pool_string(m, m.entries[1].p1), "\xF2\\readme.txt");
    EXPECT_EQ(m.entries[1].p3, -1);  // no file time
    EXPECT_EQ(m.entries[1].p4, -1);
    EXPECT_EQ(m.entries[3].p3, 0x1234);
    EXPECT_EQ(m.entries[3].p4, 0x01D00000);

    DataBlockModel other;
    r = run("extract_file always, \"x\", \"missing.txt\"\nend", other, payloads);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].text(), "setup.toml:10: column 27: no payload file 'missing.txt'");
    EXPECT_TRUE(other.block_references.empty());
}

// A payload tree in memory for the file and files pseudo-instructions:
// times by payload name, and one folder "tree".
struct FakeSource {
    std::map<std::string, int64_t> times = {
        {"src/readme.txt", 0x01D5C1194B104BC0LL}, {"tree/a{1}.txt", 5}, {"tree/sub/b \"q\".txt", -1},
        {"tree/\xE4\xB8\xAD.txt", 7}};
    std::vector<SourceEntry> tree = {{"a{1}.txt", false}, {"sub", true}, {"sub/b \"q\".txt", false}};
    std::vector<std::string> resolved;  // payload names, in resolution order
    PayloadSource source;
    PayloadResolver payloads;

    FakeSource() {
        source.time = [this](const std::string& name, int64_t& filetime, std::string& error) {
            auto found = times.find(name);
            if (found == times.end()) {
                error = "cannot read the payload file '" + name + "'";
                return false;
            }
            filetime = found->second;
            return true;
        };
        source.tree = [this](const std::string& name, std::vector<SourceEntry>& entries, std::string& error) {
            if (name != "tree") {
                error = "cannot read the payload folder '" + name + "'";
                return false;
            }
            entries = tree;
            return true;
        };
        payloads = [this](const std::string& name, size_t& payload, std::string& error) {
            if (!times.count(name)) {
                error = "no payload '" + name + "'";
                return false;
            }
            resolved.push_back(name);
            payload = 0;
            return true;
        };
    }
};

TEST(Assembler, FileAndFilesBecomeExtractAndCreateDirectoryEntries) {
    FakeSource fake;
    DataBlockModel m;
    m.add_payload({1});
    AssembleResult r = assemble(
        "start: file \"src/readme.txt\"\n"
        "       file \"src/readme.txt\", \"{install_dir}\\doc\\read.txt\", overwrite=if_newer\n"
        "docs:  files \"tree/\", \"doc/en\\\", never\n"
        "       files \"tree\"\n"
        "       jump docs\n"
        "       end\n",
        m, kFile, kFirstLine, windows_1252(), fake.payloads, &fake.source);
    ASSERT_TRUE(r.ok()) << joined(r.errors);
    struct Expected {
        int32_t opcode;
        int32_t p0;
        std::string name;
        int32_t time_low, time_high;
    };
    const Expected expected[] = {
        {21, 0, "readme.txt", 0x4B104BC0, 0x01D5C119},
        {21, 3, "\xF1\\doc\\read.txt", 0x4B104BC0, 0x01D5C119},
        {14, 0, "\xF2\\doc\\en", 0, 0},
        {21, 1, "doc\\en\\a{1}.txt", 5, 0},  // braces of a file name are letters
        {14, 0, "\xF2\\doc\\en\\sub", 0, 0},
        {21, 1, "doc\\en\\sub\\b \"q\".txt", -1, -1},
        {21, 0, "a{1}.txt", 5, 0},
        {14, 0, "\xF2\\sub", 0, 0},
        {21, 0, "sub\\b \"q\".txt", -1, -1},
    };
    ASSERT_EQ(m.entries.size(), std::size(expected) + 2);
    for (size_t i = 0; i < std::size(expected); ++i) {
        const ScriptEntry& e = m.entries[i];
        const Expected& x = expected[i];
        EXPECT_EQ(e.opcode, x.opcode) << i;
        EXPECT_EQ(e.p0 >= 0 ? pool_string(m, x.opcode == OP_CREATE_DIRECTORY ? e.p0 : e.p1) : "", x.name) << i;
        if (x.opcode == OP_EXTRACT_FILE) {
            EXPECT_EQ(e.p0, x.p0) << i;
            EXPECT_EQ(e.p3, x.time_low) << i;
            EXPECT_EQ(e.p4, x.time_high) << i;
        } else {
            EXPECT_EQ(e.p1, 0) << i << ": the output folder stays";
        }
    }
    // Labels before a pseudo-instruction mark its first entry.
    EXPECT_EQ(r.labels.at("start"), 0);
    EXPECT_EQ(r.labels.at("docs"), 2);
    EXPECT_EQ(m.entries[9].opcode, 2);
    EXPECT_EQ(m.entries[9].p0, 3);
    EXPECT_EQ(r.lines[4], kFirstLine + 2);
    EXPECT_EQ(r.lines[6], kFirstLine + 3);
    EXPECT_EQ(fake.resolved, (std::vector<std::string>{"src/readme.txt", "src/readme.txt", "tree/a{1}.txt",
                                                       "tree/sub/b \"q\".txt", "tree/a{1}.txt",
                                                       "tree/sub/b \"q\".txt"}));
    ASSERT_EQ(m.block_references.size(), 6u);
    EXPECT_EQ(m.block_references[5].entry, 8u);
    EXPECT_EQ(m.block_references[5].parameter, 2);
}

TEST(Assembler, FileAndFilesReportErrorsAtTheirOperands) {
    struct Case {
        const char* source;
        const char* error;
        bool with_source;
    };
    const Case cases[] = {
        {"file\nend", "setup.toml:10: column 1: missing parameter 'source' of file", true},
        {"file 12\nend", "setup.toml:10: column 6: expected the path of the payload file in double quotes", true},
        {"file \"missing.txt\"\nend", "setup.toml:10: column 6: cannot read the payload file 'missing.txt'", true},
        {"file \"src/\"\nend", "setup.toml:10: column 6: 'src/' names no file", true},
        {"file \"src/readme.txt\", overwrite=sometimes\nend",
         "setup.toml:10: column 34: unknown value 'sometimes' for parameter 'overwrite'", true},
        {"files \"nothere\"\nend", "setup.toml:10: column 7: cannot read the payload folder 'nothere'", true},
        {"files \"tree\", \"C:\\x\"\nend", "setup.toml:10: column 15: the target of files is a folder relative", true},
        {"files \"tree\", \"{install_dir}\"\nend", "setup.toml:10: column 15: the target of files is a folder", true},
        {"files \"tree\", 3\nend", "setup.toml:10: column 15: expected a folder name in double quotes", true},
        {"file \"src/readme.txt\", \"x\", always, 4\nend", "setup.toml:10: column 37: too many parameters for file", true},
        {"file \"src/readme.txt\"\nend", "setup.toml:10: column 6: no payload files can be named here", false},
    };
    for (const Case& c : cases) {
        FakeSource fake;
        DataBlockModel m;
        AssembleResult r = assemble(c.source, m, kFile, kFirstLine, windows_1252(), fake.payloads,
                                    c.with_source ? &fake.source : nullptr);
        ASSERT_FALSE(r.ok()) << c.source;
        EXPECT_EQ(r.errors[0].text().compare(0, std::string(c.error).size(), c.error), 0) << r.errors[0].text();
        EXPECT_TRUE(m.entries.empty());
    }
    // A file name that the code page cannot hold is named in the message.
    FakeSource fake;
    fake.tree = {{"\xE4\xB8\xAD.txt", false}};
    DataBlockModel m;
    AssembleResult r = assemble("  files \"tree\"\nend", m, kFile, kFirstLine, windows_1252(), fake.payloads, &fake.source);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].text(), "setup.toml:10: column 9: file name '\xE4\xB8\xAD.txt': character \xE4\xB8\xAD (U+4E2D) has no "
                           "equivalent in Windows-1252");
}

TEST(Assembler, EmptySourceAndCommentsOnlyGiveNoEntries) {
    DataBlockModel m;
    AssembleResult r = run("", m);
    EXPECT_TRUE(r.ok());
    r = run("# nothing\n   ; still nothing\n\n", m);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(m.entries.empty());
}

}  // namespace
}  // namespace quillmar
