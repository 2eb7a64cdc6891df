// An installer built from a description with an uninstaller, and the
// uninstaller exactly as the installer's write_uninstaller writes it (the
// stub copy, the patch records, the image block): both must pass their CRC
// and load their header blocks under the stub, and a silent installation
// must write that very uninstaller.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "builder/description.h"
#include "builder/image.h"
#include "datablock/records.h"
#include "tests/e2e/harness.h"

namespace {

using namespace e2e;

uint32_t le32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

const char kFixture[] = "/with_uninstaller";

// The installer built from the fixture's description, and the uninstaller
// that its write_uninstaller must write: the bytes before the FirstHeader,
// patched, then the image block that follows the patch block.
void build_fixture(Bytes& installer, Bytes& uninstaller) {
    const std::string dir = std::string(QM_E2E_FIXTURES) + kFixture;
    Bytes text;
    std::string error;
    ASSERT_TRUE(quillmar::read_file(dir + "/setup.toml", text, error)) << error;
    quillmar::DataBlockModel model;
    std::vector<quillmar::Diagnostic> errors;
    ASSERT_TRUE(quillmar::load_description(std::string(text.begin(), text.end()), "setup.toml", dir, model, errors))
        << errors[0].text();

    quillmar::DataBlock block;
    ASSERT_TRUE(quillmar::lay_out_data_block(model, stub_bytes(), compress, block, error)) << error;
    quillmar::ImageOptions options;
    options.flags = model.image_flags;
    options.header_length = block.header_length;
    ASSERT_TRUE(quillmar::build_installer_image(stub_bytes(), compress(block.stream), options, installer, error));

    InstallHeader header;
    std::memcpy(&header, &block.stream[4], sizeof header);
    ASSERT_GE(header.uninstaller_patch, 0);
    const size_t patch_at = 4 + (size_t)block.header_length + (size_t)header.uninstaller_patch;
    const Bytes& s = block.stream;
    uninstaller.assign(installer.begin(), installer.begin() + (long)quillmar::first_header_offset(stub_bytes().size()));
    size_t at = patch_at + 4;
    for (uint32_t n = le32(s, at), i = 0; i < n; ++i) {
        uint32_t length = le32(s, at + 4), offset = le32(s, at + 8);
        ASSERT_LE((size_t)offset + length, uninstaller.size());
        std::memcpy(&uninstaller[offset], &s[at + 12], length);
        at += 8 + length;
    }
    const size_t image_at = patch_at + 4 + (size_t)header.uninstaller_patch_length;
    const uint32_t image_length = le32(s, image_at);
    uninstaller.insert(uninstaller.end(), s.begin() + (long)image_at + 4,
                       s.begin() + (long)(image_at + 4 + image_length));
}

TEST(DescriptionImages, InstallerAndItsUninstallerLoadUnderTheStub) {
    Bytes installer, uninstaller;
    ASSERT_NO_FATAL_FAILURE(build_fixture(installer, uninstaller));

    WineProcess install(write_installer("described-setup.exe", installer), {}, 60);
    WineProcess uninstall(write_installer("described-uninstall.exe", uninstaller), {}, 60);
    // The installer goes on to its wizard, whose license page this stub does
    // not have yet: only Cancel ends it (1). The uninstaller ends after
    // loading its header until its hand-over to a temporary copy exists (0).
    DriverRun cancel = press_wizard_button(install, 2);
    EXPECT_EQ(cancel.code, 0) << cancel.report();
    for (auto [p, code] : {std::pair{&install, 1}, std::pair{&uninstall, 0}}) {
        Exit exit = p->wait(30);
        ASSERT_TRUE(exit.finished) << p->exe_name() << ": "
                                   << drive({"wait", "--title", "ERREUR TARK", "--exe", p->exe_name(), "--timeout", "1000", ":", "msgbox"}).report();
        EXPECT_EQ(exit.code, code) << p->exe_name();
    }
}

// A silent installation extracts the payload with the files' own times and
// writes the uninstaller byte for byte as the builder laid it out.
TEST(DescriptionImages, SilentInstallWritesTheFilesAndTheUninstaller) {
    Bytes installer, expected;
    ASSERT_NO_FATAL_FAILURE(build_fixture(installer, expected));
    const std::string target = "C:\\qm-e2e-with-uninstaller";
    const std::filesystem::path installed = drive_c_path(target);
    std::filesystem::remove_all(installed);

    WineProcess install(write_installer("silent-setup.exe", installer), {"/S", "/D=" + target}, 60);
    const Exit exit = install.wait(50);
    ASSERT_TRUE(exit.finished);
    EXPECT_EQ(exit.code, 0);

    const std::filesystem::path app = std::filesystem::path(QM_E2E_FIXTURES) / (kFixture + 1) / "app";
    for (const char* name : {"readme.txt", "doc/guide.txt"}) {
        SCOPED_TRACE(name);
        Bytes want, got;
        std::string error;
        ASSERT_TRUE(quillmar::read_file((app / name).string(), want, error)) << error;
        ASSERT_TRUE(quillmar::read_file((installed / name).string(), got, error)) << error;
        EXPECT_EQ(got, want);
        // The stored time has the platform's 100 ns steps.
        struct stat source{}, copy{};
        ASSERT_EQ(stat((app / name).c_str(), &source), 0);
        ASSERT_EQ(stat((installed / name).c_str(), &copy), 0);
        EXPECT_EQ(copy.st_mtim.tv_sec, source.st_mtim.tv_sec);
        EXPECT_EQ(copy.st_mtim.tv_nsec, source.st_mtim.tv_nsec / 100 * 100);
    }
    Bytes written;
    std::string error;
    ASSERT_TRUE(quillmar::read_file((installed / "uninstall.exe").string(), written, error)) << error;
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "the uninstaller differs from the one the builder laid out";
    std::filesystem::remove_all(installed);
}

}  // namespace
