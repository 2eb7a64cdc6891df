// What the data block reader shows, seen from outside through the driver
// program while this process works: the decompression dialog of a slow
// request, and the message when the unpack cache cannot be created.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "datablock/header_view.h"
#include "datablock/opcodes.h"
#include "datablock/reader.h"
#include "startup/startup.h"
#include "tests/file_helpers.h"
#include "tests/windows/driver_process.h"
#include "ui/message_box.h"

namespace {

using quillmar::Bytes;

using win_test::Driver;
using win_test::env;
using win_test::temp_path;

// Text-like bytes: quick to compress, and decoding 160 MB of them takes a
// few seconds, well past the dialog's half-second delay.
Bytes slow_payload() {
    Bytes b(160u << 20);
    uint32_t x = 12345;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = (uint8_t)('a' + ((x >> 16) & 15));
    }
    return b;
}

int32_t payload_offset = -1;

// One installer file for the whole suite: compressing it is the slow part.
const std::string& installer_file() {
    static std::string path;
    if (path.empty()) {
        quillmar::DataBlockModel model;
        model.languages = {quillmar::Language(1033)};
        model.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
        model.add_payload(slow_payload());
        auto compress = [](const Bytes& b) { return quillmar::compress_stream(b.data(), b.size()); };
        quillmar::DataBlock block;
        Bytes image;
        std::string error;
        quillmar::ImageOptions options;
        options.flags = FH_CRC;
        if (!quillmar::lay_out_data_block(model, {}, compress, block, error)) {
            ADD_FAILURE() << error;
            return path;
        }
        options.header_length = block.header_length;
        if (!quillmar::build_installer_image(Bytes(1000, 'M'), compress(block.stream), options, image, error)) {
            ADD_FAILURE() << error;
            return path;
        }
        payload_offset = block.payload_offsets[0];
        path = temp_path("qmd");
        EXPECT_TRUE(test_files::write_file(path, image.data(), image.size())) << path;
    }
    return path;
}

class DecompressionDialog : public ::testing::Test {
protected:
    void SetUp() override {
        if (env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
        ASSERT_FALSE(installer_file().empty());
        own_file = CreateFileA(installer_file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(own_file, INVALID_HANDLE_VALUE);
        header_position = (int32_t)quillmar::first_header_offset(1000);
        SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
        module_handle = GetModuleHandleA(nullptr);
        ASSERT_EQ(load_header(), 0);
        target_ = temp_path("qmt");
    }
    void TearDown() override {
        release_data_block();
        if (own_file != INVALID_HANDLE_VALUE) CloseHandle(own_file);
        own_file = INVALID_HANDLE_VALUE;
        DeleteFileA(target_.c_str());
    }

    // Copies the big payload to a file; returns the milliseconds it took.
    DWORD copy_payload() {
        HANDLE f = CreateFileA(target_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD start = GetTickCount();
        EXPECT_EQ(read_block_to_file(payload_offset, f), (int32_t)(160u << 20));
        DWORD took = GetTickCount() - start;
        CloseHandle(f);
        return took;
    }

    std::string target_;
};

const char kThisProgram[] = "win_dialog_tests.exe";

TEST_F(DecompressionDialog, ShownAfterHalfASecondWithThePercentage) {
    std::string shot = env("QM_TEST_OUTPUT") + "\\decompression-dialog.bmp";
    Driver driver(std::string("wait --title-prefix \"d\xC3\xA9" "compression: \" --class #32770 --exe ") + kThisProgram +
                  " --timeout 20000 : screenshot \"" + shot + "\" : sleep 700 : title");
    DWORD took = copy_payload();
    std::string output;
    DWORD code = driver.finish(output);
    ASSERT_EQ(code, 0u) << output;
    EXPECT_GT(took, 1000u) << "the request was too quick to show the dialog reliably";
    // The title carries the format with the running percentage. (The text
    // control shows the same text through the same dialog procedure; it is
    // read in the verification dialog's test. Here the reading thread does
    // not always answer another process's WM_GETTEXT in time under Wine.)
    std::smatch m;
    ASSERT_TRUE(std::regex_search(output, m, std::regex("title=d\xC3\xA9" "compression: ([0-9]+)%"))) << output;
    EXPECT_LE(std::stoi(m[1]), 100);
    // Refreshed as decoding goes on.
    ASSERT_TRUE(std::regex_search(output, m, std::regex("\ntitle: d\xC3\xA9" "compression: ([0-9]+)%"))) << output;
    EXPECT_GT(std::stoi(m[1]), 0) << output;
    // The dialog is gone once the request has returned.
    Driver after(std::string("absent --title-prefix \"d\xC3\xA9" "compression\" --exe ") + kThisProgram +
                 " --for 300");
    EXPECT_EQ(after.finish(output), 0u) << output;
}

TEST_F(DecompressionDialog, NeverInASilentRun) {
    *header_silent_byte() = 1;
    Driver driver(std::string("absent --title-prefix \"d\xC3\xA9" "compression\" --exe ") + kThisProgram +
                  " --for 2500");
    DWORD took = copy_payload();
    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    EXPECT_GT(took, 1500u) << "the request was too quick to prove anything";
}

TEST(ReaderMessages, CacheThatCannotBeCreated) {
    if (env("QM_DRIVER_EXE").empty()) GTEST_SKIP() << "QM_DRIVER_EXE names no driver";
    ASSERT_FALSE(installer_file().empty());
    own_file = CreateFileA(installer_file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(own_file, INVALID_HANDLE_VALUE);
    header_position = (int32_t)quillmar::first_header_offset(1000);
    SetFilePointer(own_file, header_position, nullptr, FILE_BEGIN);
    lstrcpyA(caption, "ERREUR TARK");
    // The driver first: it needs a temporary file for its output.
    Driver driver(std::string("wait --title \"ERREUR TARK\" --class #32770 --exe ") + kThisProgram +
                  " --timeout 20000 : msgbox : press OK");
    // The temporary directory comes from the environment: point it nowhere.
    char tmp[MAX_PATH] = "", temp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", tmp, MAX_PATH);
    GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    SetEnvironmentVariableA("TMP", "C:\\no\\such\\directory");
    SetEnvironmentVariableA("TEMP", "C:\\no\\such\\directory");
    EXPECT_EQ(load_header(), -1);
    SetEnvironmentVariableA("TMP", tmp[0] ? tmp : nullptr);
    SetEnvironmentVariableA("TEMP", temp[0] ? temp : nullptr);
    std::string output;
    EXPECT_EQ(driver.finish(output), 0u) << output;
    EXPECT_NE(output.find("text: Erreur lors de l'\xC3\xA9" "criture du fichier temp\n"), std::string::npos) << output;
    EXPECT_NE(output.find("icon: no"), std::string::npos) << output;
    release_data_block();
    CloseHandle(own_file);
    own_file = INVALID_HANDLE_VALUE;
}

}  // namespace
