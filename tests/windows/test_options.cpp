#include <gtest/gtest.h>

#include <string>

#include "engine/varslots.h"
#include "startup/options.h"

namespace {

struct OptionCase {
    const char* command_line;
    int silent;
    int no_crc;
    const char* install_dir;
    const char* command_line_after;  // CommandLine once parsing has cut it
    const char* arguments;           // text at the argument start
    const char* parse_stop;          // text where option parsing stopped
};

const OptionCase option_cases[] = {
    // Quoted program name: the argument start is the blank after the quote.
    {"\"C:\\a b\\setup.exe\" /S /NCRC", 1, 1, "", "\"C:\\a b\\setup.exe\" /S /NCRC", " /S /NCRC", ""},
    // "/D=" takes the rest of the line, blanks and later options included.
    // The argument text starts after the cut byte and keeps "/D=".
    {"setup.exe /D=C:\\Program Files\\App /S", 0, 0, "C:\\Program Files\\App /S", "setup.exe",
     "/D=C:\\Program Files\\App /S", ""},
    // The blank before "/D=" becomes the end of CommandLine.
    {"\"C:\\x\\setup.exe\" /S /D=D:\\x", 1, 0, "D:\\x", "\"C:\\x\\setup.exe\" /S", " /S", ""},
    {"setup.exe /D=", 0, 0, "", "setup.exe", "/D=", ""},
    // Options are case-sensitive whole words.
    {"setup.exe /SILENT", 0, 0, "", "setup.exe /SILENT", "/SILENT", ""},
    {"setup.exe /s /ncrc", 0, 0, "", "setup.exe /s /ncrc", "/s /ncrc", ""},
    {"setup.exe /S/NCRC", 0, 0, "", "setup.exe /S/NCRC", "/S/NCRC", ""},
    {"setup.exe /NCRCX /SX", 0, 0, "", "setup.exe /NCRCX /SX", "/NCRCX /SX", ""},
    {"setup.exe /X /S", 1, 0, "", "setup.exe /X /S", "/X /S", ""},
    // A word that is no option stops parsing.
    {"setup.exe foo /S", 0, 0, "", "setup.exe foo /S", "foo /S", "foo /S"},
    {"setup.exe /S foo /NCRC", 1, 0, "", "setup.exe /S foo /NCRC", "/S foo /NCRC", "foo /NCRC"},
    // The uninstaller's hand-over argument is found at the parse stop.
    {"\"C:\\T\\A~TARKu_.exe\" /S _=C:\\Program Files\\App", 1, 0, "",
     "\"C:\\T\\A~TARKu_.exe\" /S _=C:\\Program Files\\App", " /S _=C:\\Program Files\\App", "_=C:\\Program Files\\App"},
    // Counters count.
    {"setup.exe /S /S /NCRC", 2, 1, "", "setup.exe /S /S /NCRC", "/S /S /NCRC", ""},
    // Only one blank ends the program name; further blanks are skipped.
    {"setup.exe   /S", 1, 0, "", "setup.exe   /S", "  /S", ""},
    // Directly after the closing quote, the quote itself is stepped over.
    {"\"setup.exe\"/S", 1, 0, "", "\"setup.exe\"/S", "/S", ""},
    // An unterminated quote makes everything the program name.
    {"\"setup.exe /S", 0, 0, "", "\"setup.exe /S", "", ""},
    {"setup.exe", 0, 0, "", "setup.exe", "", ""},
    {"", 0, 0, "", "", "", ""},
    // A leading blank: empty program name, the options follow.
    {" /S", 1, 0, "", " /S", "/S", ""},
    {"setup.exe /D=C:\\dir", 0, 0, "C:\\dir", "setup.exe", "/D=C:\\dir", ""},
};

class OptionParsing : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionParsing, Parses) {
    const OptionCase& c = GetParam();
    parse_command_line(c.command_line);
    EXPECT_EQ(silent_switch, c.silent);
    EXPECT_EQ(no_crc_switch, c.no_crc);
    EXPECT_STREQ(var_slot(VAR_INSTALL_DIR), c.install_dir);
    EXPECT_STREQ(var_slot(VAR_COMMAND_LINE), c.command_line_after);
    EXPECT_STREQ(argument_start, c.arguments);
    EXPECT_STREQ(parse_stop, c.parse_stop);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OptionParsing, ::testing::ValuesIn(option_cases));

TEST(OptionParsingLimits, CommandLineIsCutTo1023Bytes) {
    std::string line = "setup.exe /S /D=C:\\" + std::string(1200, 'd');
    parse_command_line(line.c_str());
    EXPECT_EQ(silent_switch, 1);
    std::string dir = var_slot(VAR_INSTALL_DIR);
    // 1023 bytes in all, of which "setup.exe /S /D=" takes 16.
    EXPECT_EQ(dir.size(), 1023u - 16u);
    EXPECT_EQ(dir.substr(0, 4), "C:\\d");
    EXPECT_STREQ(var_slot(VAR_COMMAND_LINE), "setup.exe /S");
}

TEST(OptionParsingLimits, ReparsingStartsFromClearSwitches) {
    parse_command_line("setup.exe /S /NCRC /D=C:\\x");
    parse_command_line("setup.exe");
    EXPECT_EQ(silent_switch, 0);
    EXPECT_EQ(no_crc_switch, 0);
    EXPECT_STREQ(var_slot(VAR_INSTALL_DIR), "");
}

}  // namespace
