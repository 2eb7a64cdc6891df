// Loading the header block at start-up: a header block that does not match
// its FirstHeader, or a stream that cannot be decoded, gives the reader's
// message and then the verification failure text, and exit code 0.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/e2e/harness.h"

namespace {

using namespace e2e;
using quillmar::ImageOptions;

const char kCaption[] = "ERREUR TARK";
const char kHeaderReadFailed[] = "Erreur lors de la lecture du block d'infos de l'installation";
const char kVerificationFailedStart[] = "Echec de la vérification de l'installation.\r\n";

enum class Spoil { none, header_length_plus_10, header_length_minus_1, block_marker, section_count };

struct HeaderCase {
    const char* name;
    Spoil spoil;
    std::vector<std::string> args;
    bool expect_messages;
};

const HeaderCase header_cases[] = {
    {"intact", Spoil::none, {}, false},
    {"header_block_shorter_than_header_length", Spoil::header_length_plus_10, {}, true},
    // A header block longer than announced does not match it either.
    {"header_block_longer_than_header_length", Spoil::header_length_minus_1, {}, true},
    // The CRC is skipped, so only decoding finds the damage.
    {"stream_corrupted_under_ncrc", Spoil::block_marker, {"/NCRC"}, true},
    // Counts that place the records outside the header block.
    {"section_count_past_the_header_block", Spoil::section_count, {"/NCRC"}, true},
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

class HeaderLoad : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderLoad, ReportsInOrder) {
    const HeaderCase& c = GetParam();
    quillmar::DataBlockModel model = minimal_model("Header test", noise(5000, 5));
    if (c.spoil == Spoil::section_count) model.header.section_count = 1000;
    quillmar::DataBlock block;
    std::string error;
    ASSERT_TRUE(quillmar::lay_out_data_block(model, {}, compress, block, error)) << error;
    if (c.spoil == Spoil::section_count) {
        // The writer sets the count from the sections it has; put the bad
        // count straight into the stream's header record.
        int32_t bad = 1000;
        std::memcpy(&block.stream[4 + offsetof(InstallHeader, section_count)], &bad, 4);
    }
    quillmar::Bytes stream = compress(block.stream);
    if (c.spoil == Spoil::block_marker) stream[0] = 0x55;

    ImageOptions options;
    options.flags = FH_CRC;
    options.header_length = block.header_length;
    if (c.spoil == Spoil::header_length_plus_10) options.header_length += 10;
    if (c.spoil == Spoil::header_length_minus_1) options.header_length -= 1;
    std::string exe = make_installer(std::string(c.name) + ".exe", stream, options);

    WineProcess installer(exe, c.args, 60);
    if (c.expect_messages) {
        MessageBoxSeen first = answer_message_box(installer, kCaption);
        ASSERT_TRUE(first.seen) << first.report;
        EXPECT_EQ(first.text, kHeaderReadFailed);
        EXPECT_EQ(first.buttons, std::vector<std::string>{"OK"});
        EXPECT_FALSE(first.icon) << "the reader's messages have no icon";
        MessageBoxSeen second = answer_message_box(installer, kCaption);
        ASSERT_TRUE(second.seen) << second.report;
        EXPECT_EQ(second.text.rfind(kVerificationFailedStart, 0), 0u) << second.text;
        EXPECT_TRUE(second.icon);
    } else {
        // A header that loads goes on to the run driver and its wizard,
        // which has nothing to install and is closed.
        DriverRun close = press_wizard_button(installer, 1);
        EXPECT_EQ(close.code, 0) << close.report();
    }
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished) << drive({"wait", "--title", kCaption, "--exe", installer.exe_name(), "--timeout", "1000", ":", "msgbox"}).report();
    // Start-up errors end with 0, and so does the closed wizard.
    EXPECT_EQ(exit.code, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderLoad, ::testing::ValuesIn(header_cases),
                         [](const testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

}  // namespace
