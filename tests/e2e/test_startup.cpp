// Start-up of real installers under Wine: options, finding the data block,
// CRC verification and the start-up messages, read through the driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "datablock/records.h"
#include "tests/e2e/harness.h"

namespace {

using namespace e2e;
using quillmar::ImageOptions;

const char kCaption[] = "ERREUR TARK";
const char kVerificationFailed[] =
    "Echec de la vérification de l'installation.\r\n\r\n"
    "Ceca peut provenir d'un téléchargement incomplet,\r\n"
    "un disque déféctueux, ou d'une (possible) corruption de la par d'un virus.\r\n\r\n"
    "Vous pouvez essayer de forcer l'installation en utilisant l'option /NCRC\r\n"
    "en ligne de commande (mais ceci n'est PAS recommandé).";

// How an installer file is spoilt before it runs.
enum class Damage {
    none,
    stub_dos_text,    // a byte of the stub's DOS message, inside the first 512 bytes
    stub_padding,     // a byte of the padding after the stub, past byte 512
    stream,           // a byte of the compressed stream
    header_length,    // the FirstHeader's header_length field
    stored_crc,       // the stored CRC itself
    truncate,         // the file cut inside the stream
    no_first_header,  // the FirstHeader's magic broken
    flag_bit4,        // FirstHeader flags 0x10
    shift_by_4,       // the data block moved from a 0x1000 boundary 4 bytes on
    tiny_total,       // total_length smaller than a FirstHeader
    negative_total,   // total_length negative
};

struct StartupCase {
    const char* name;
    uint32_t flags;
    std::vector<std::string> args;
    Damage damage;
    bool trailer;
    bool expect_failure_text;
};

std::ostream& operator<<(std::ostream& os, const StartupCase& c) { return os << c.name; }

const uint32_t kCrc = FH_CRC;

const StartupCase startup_cases[] = {
    {"plain", kCrc, {}, Damage::none, false, false},
    {"silent_option", kCrc, {"/S"}, Damage::none, false, false},
    {"silent_flag", kCrc | FH_SILENT, {}, Damage::none, false, false},
    {"no_crc_block", 0, {}, Damage::stream, false, false},
    {"trailer_after_total_length", kCrc, {}, Damage::none, true, false},
    {"changed_byte_in_first_512", kCrc, {}, Damage::stub_dos_text, false, false},
    {"changed_byte_in_stub_padding", kCrc, {}, Damage::stub_padding, false, true},
    {"changed_byte_in_stream", kCrc, {}, Damage::stream, false, true},
    {"changed_header_length", kCrc, {}, Damage::header_length, false, true},
    {"changed_stored_crc", kCrc, {}, Damage::stored_crc, false, true},
    {"silent_run_still_reports", kCrc, {"/S"}, Damage::stream, false, true},
    // "/NCRC" skips the check unless the data block forces it.
    {"ncrc_skips_check", kCrc, {"/S", "/NCRC"}, Damage::stream, false, false},
    {"ncrc_with_force_crc", kCrc | FH_FORCE_CRC, {"/S", "/NCRC"}, Damage::stream, false, true},
    {"ncrc_with_force_crc_intact", kCrc | FH_FORCE_CRC, {"/NCRC"}, Damage::none, false, false},
    {"ncrc_lower_case_is_no_option", kCrc, {"/ncrc"}, Damage::stream, false, true},
    {"ncrc_after_a_word_is_not_parsed", kCrc, {"foo", "/NCRC"}, Damage::stream, false, true},
    {"ncrc_inside_install_dir", kCrc, {"/D=C:\\x /NCRC"}, Damage::stream, false, true},
    {"ncrc_before_install_dir", kCrc, {"/NCRC", "/D=C:\\x"}, Damage::stream, false, false},
    // Finding the data block.
    {"truncated", kCrc, {}, Damage::truncate, false, true},
    {"truncated_without_crc", 0, {"/NCRC"}, Damage::truncate, false, true},
    {"no_first_header", kCrc, {}, Damage::no_first_header, false, true},
    {"flags_bit4", kCrc, {}, Damage::flag_bit4, false, true},
    {"first_header_4_bytes_past_a_boundary", kCrc, {}, Damage::shift_by_4, false, true},
    {"total_length_below_record", kCrc, {"/NCRC"}, Damage::tiny_total, false, true},
    {"total_length_negative", kCrc, {}, Damage::negative_total, false, true},
};

// A real data block whose payload spans several compressed blocks, so that a
// byte spoilt near the end of the stream lies beyond what loading the header
// decodes.
struct SampleBlock {
    Bytes stream;
    int32_t header_length = 0;
};

const SampleBlock& sample_block() {
    static SampleBlock sample;
    if (sample.stream.empty()) {
        quillmar::DataBlockModel model = minimal_model("Start-up test", noise(2000000, 11));
        quillmar::DataBlock block;
        std::string error;
        if (!quillmar::lay_out_data_block(model, {}, compress, block, error)) ADD_FAILURE() << error;
        sample.stream = compress(block.stream);
        sample.header_length = block.header_length;
    }
    return sample;
}

void put_le32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

class Startup : public ::testing::TestWithParam<StartupCase> {};

// The stub with 16 bytes of its own appended, so that padding to 0x1000
// always leaves padding bytes after it, whatever size the stub has (stubs
// are a whole number of 512-byte pieces).
const Bytes& stub_with_tail() {
    static Bytes stub;
    if (stub.empty()) {
        stub = stub_bytes();
        stub.insert(stub.end(), 16, 0);
    }
    return stub;
}

// Start-up errors end with 0 after their message. A run that gets past them
// with this script (no sections, no callbacks) ends with 0 too: at once when
// silent, else once the test closes its finished wizard.
bool opens_the_wizard(const StartupCase& c) {
    if (c.expect_failure_text) return false;
    return !(c.flags & FH_SILENT) && std::find(c.args.begin(), c.args.end(), "/S") == c.args.end();
}

TEST_P(Startup, ExitsWithTheRightMessage) {
    const StartupCase& c = GetParam();
    ImageOptions options;
    options.flags = c.flags;
    options.header_length = sample_block().header_length;
    // Padding to a multiple of 0x1000 puts the FirstHeader on a 0x1000 boundary
    // and leaves padding bytes after the stub that the CRC covers.
    options.stub_alignment = 0x1000;
    const size_t fh = quillmar::first_header_offset(stub_with_tail().size(), 0x1000);
    ASSERT_GE(fh - stub_with_tail().size(), 8u) << "no padding bytes to spoil";
    if (c.trailer) options.trailer = noise(3000, 7);
    const Bytes& stream = sample_block().stream;
    Bytes image;
    std::string error;
    ASSERT_TRUE(quillmar::build_installer_image(stub_with_tail(), stream, options, image, error)) << error;

    const size_t total = 28 + stream.size() + ((c.flags & FH_CRC) ? 4 : 0);
    switch (c.damage) {
    case Damage::none: break;
    case Damage::stub_dos_text: {
        // The DOS message of the stub: harmless to the loader.
        const char* msg = "This program cannot be run in DOS mode";
        auto at = std::search(image.begin(), image.begin() + 512, msg, msg + std::strlen(msg));
        ASSERT_NE(at, image.begin() + 512);
        at[5] ^= 0x20;
        break;
    }
    case Damage::stub_padding: image[fh - 8] ^= 0x01; break;
    case Damage::stream: image[fh + 28 + stream.size() - 300] ^= 0x40; break;
    case Damage::header_length: image[fh + 20] ^= 0x01; break;
    case Damage::stored_crc: image[fh + total - 1] ^= 0x80; break;
    case Damage::truncate: image.resize(fh + total - 100); break;
    case Damage::no_first_header: image[fh + 4] ^= 0xFF; break;
    case Damage::flag_bit4: put_le32(image, fh, c.flags | 0x10); break;
    case Damage::shift_by_4: image.insert(image.begin() + fh, 4, 0); break;
    case Damage::tiny_total: put_le32(image, fh + 24, 20); break;
    case Damage::negative_total: put_le32(image, fh + 24, 0xFFFFFF00u); break;
    }
    std::string exe = write_installer(std::string(c.name) + ".exe", image);

    WineProcess installer(exe, c.args, 60);
    if (c.expect_failure_text) {
        MessageBoxSeen box = answer_message_box(installer, kCaption);
        ASSERT_TRUE(box.seen) << box.report;
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_EQ(box.text, kVerificationFailed);
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        EXPECT_TRUE(box.icon) << "start-up errors show the stop icon";
    }
    if (opens_the_wizard(c)) {
        DriverRun close = press_wizard_button(installer, 1);
        EXPECT_EQ(close.code, 0) << close.report();
    }
    // A message box would keep the process waiting, so a prompt exit also shows
    // that no message was shown where none is expected.
    Exit exit = installer.wait(30);
    ASSERT_TRUE(exit.finished) << "the installer did not end; windows now: "
                               << drive({"wait", "--title", kCaption, "--exe", installer.exe_name(), "--timeout", "1000", ":", "msgbox"}).report();
    EXPECT_EQ(exit.code, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Startup, ::testing::ValuesIn(startup_cases),
                         [](const testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

// The data block is found at 0x1000 only because that is a multiple of 512:
// shown by the same record one 512-byte step further, which is found too.
TEST(StartupPlacement, FirstHeaderAtAnyMultipleOf512) {
    for (size_t alignment : {512u, 0x1000u, 0x1200u}) {
        ImageOptions options;
        options.flags = FH_CRC;
        options.stub_alignment = alignment;
        options.header_length = sample_block().header_length;
        std::string exe = make_installer("aligned_" + std::to_string(alignment) + ".exe", sample_block().stream, options);
        WineProcess installer(exe, {"/S"}, 60);
        Exit exit = installer.wait(30);
        ASSERT_TRUE(exit.finished) << "alignment " << alignment;
        EXPECT_EQ(exit.code, 0) << "alignment " << alignment;
    }
}

}  // namespace
