// The quillmar-build program itself, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/compressor.h"
#include "builder/datablock_writer.h"
#include "builder/description.h"
#include "builder/image.h"
#include "tests/file_helpers.h"

namespace quillmar {
namespace {

namespace fs = std::filesystem;

using test_files::read_text;
using test_files::write_text;

struct Result {
    int code = -1;
    std::string out, err;
};

// Runs `exe` with `args` in `dir`.
Result run_builder(const fs::path& dir, const std::string& exe, const std::vector<std::string>& args) {
    std::string command = "cd '" + dir.string() + "' && '" + exe + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " >run.out 2>run.err";
    int status = std::system(command.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text(dir / "run.out");
    r.err = read_text(dir / "run.err");
    return r;
}

const char* const kSetup = R"(script = '''
core:   create_directory "{install_dir}", true
        files "app"
        write_uninstaller "uninstall.exe"
        end
'''
[[sections]]
name = "Program"
code = "core"
[[languages]]
id = 1033
[uninstaller]
code = "remove"
script = '''
remove: remove_directory "{install_dir}", true
        end
'''
)";

// A folder with a description, its payload, a stand-in stub and a broken description.
struct Project {
    fs::path dir;
    std::string stub = std::string("MZ") + std::string(698, '\x01');
    explicit Project(const char* name) : dir(fs::temp_directory_path() / name) {
        fs::remove_all(dir);
        write_text(dir / "setup.toml", kSetup);
        write_text(dir / "app/readme.txt", "read me");
        write_text(dir / "app/doc/guide.txt", std::string(5000, 'g'));
        write_text(dir / "stub.bin", stub);
        write_text(dir / "bad.toml", "script = '''\nend\n    bogus 1\n'''\n[[languages]]\nid = 1033\n[x]\n");
        write_text(dir / "payload.txt", "payload");
    }
    ~Project() { fs::remove_all(dir); }
};

TEST(Cli, BuildsTheInstallerOfADescription) {
    Project p("qm_cli_build");
    // Into a folder that does not exist yet: nothing is written.
    Result r = run_builder(p.dir, QM_BUILD_EXE, {"setup.toml", "-o", "out/setup.exe", "--stub", "stub.bin", "--threads", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("quillmar-build: out/setup.exe: No such file or directory"), std::string::npos) << r.err;
    fs::create_directories(p.dir / "out");
    r = run_builder(p.dir, QM_BUILD_EXE, {"setup.toml", "-o", "out/setup.exe", "--stub", "stub.bin", "--threads", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("compressing the uninstaller: 100%"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("compressing the installer: 100%"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("out/setup.exe: "), std::string::npos) << r.out;

    // The bytes are those of the library's build of the same description.
    DataBlockModel model;
    std::vector<Diagnostic> errors;
    ASSERT_TRUE(load_description(kSetup, "setup.toml", p.dir.string(), model, errors));
    ImageOptions options;
    options.flags = model.image_flags;
    Bytes image;
    std::string error;
    ASSERT_TRUE(build_installer(model, Bytes(p.stub.begin(), p.stub.end()),
                                [](const Bytes& b) { return compress_stream(b.data(), b.size()); }, options, image,
                                error))
        << error;
    EXPECT_TRUE(read_text(p.dir / "out/setup.exe") == std::string(image.begin(), image.end()));
    EXPECT_FALSE(fs::exists(p.dir / "out/setup.exe.partial"));

    // The payload and raw-stream modes still work.
    r = run_builder(p.dir, QM_BUILD_EXE, {"--payload", "payload.txt", "--stub", "stub.bin", "-o", "payload.exe"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_text(p.dir / "payload.exe").compare(0, p.stub.size(), p.stub), 0);
    write_text(p.dir / "stream.bin", "not really a stream");
    r = run_builder(p.dir, QM_BUILD_EXE, {"--stream", "stream.bin", "--stub", "stub.bin", "--no-crc", "-o", "stream.exe"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::file_size(p.dir / "stream.exe"), 1024u + 28u + 19u);
}

TEST(Cli, FailsWithoutTouchingTheOutput) {
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* first_error_line;  // the start of standard error
    };
    const Case cases[] = {
        {{"bad.toml", "-o", "out.exe", "--stub", "stub.bin"}, 1, "bad.toml:3: column 5: unknown instruction 'bogus'\n"
                                                                 "bad.toml:7: unknown setting 'x'\n"
                                                                 "quillmar-build: 2 errors; out.exe not written"},
        {{"missing.toml", "-o", "out.exe", "--stub", "stub.bin"}, 1, "quillmar-build: cannot read the description: missing.toml: "},
        {{"setup.toml", "-o", "out.exe", "--stub", "nostub.bin"}, 1, "quillmar-build: cannot read the stub: nostub.bin: "},
        {{"setup.toml", "-o", "out.exe", "--stub", "stub.bin", "--silent"}, 1, "quillmar-build: --no-crc, --force-crc"},
        // Once silently ignored: an installer of payload files has its own header block.
        {{"--payload", "payload.txt", "-o", "out.exe", "--stub", "stub.bin", "--uninstaller"}, 1,
         "quillmar-build: --uninstaller and --header-length apply to --stream only"},
        {{"--payload", "payload.txt", "-o", "out.exe", "--stub", "stub.bin", "--header-length", "12"}, 1,
         "quillmar-build: --uninstaller and --header-length apply to --stream only"},
        {{"setup.toml", "--stub", "stub.bin"}, 2, "usage: "},
        {{"setup.toml", "bad.toml", "-o", "out.exe"}, 2, "quillmar-build: only one description"},
        {{"setup.toml", "-o", "out.exe", "--fast"}, 2, "quillmar-build: unknown option --fast"},
        {{"setup.toml", "--payload", "payload.txt", "-o", "out.exe"}, 2, "usage: "},
        {{"setup.toml", "-o", "out.exe", "--threads", "many"}, 1, "quillmar-build: --threads: not a thread count"},
    };
    Project p("qm_cli_fail");
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += a + " ";
        for (bool existing : {false, true}) {
            SCOPED_TRACE(shown + (existing ? "(over an existing file)" : ""));
            fs::remove(p.dir / "out.exe");
            if (existing) write_text(p.dir / "out.exe", "the previous installer");
            Result r = run_builder(p.dir, QM_BUILD_EXE, c.args);
            EXPECT_EQ(r.code, c.code) << r.err;
            EXPECT_EQ(r.err.compare(0, std::string(c.first_error_line).size(), c.first_error_line), 0) << r.err;
            if (existing) EXPECT_EQ(read_text(p.dir / "out.exe"), "the previous installer");
            else EXPECT_FALSE(fs::exists(p.dir / "out.exe"));
            EXPECT_FALSE(fs::exists(p.dir / "out.exe.partial"));
        }
    }
}

TEST(Cli, TakesTheStubBesideItselfByDefault) {
    Project p("qm_cli_stub");
    fs::create_directories(p.dir / "bin");
    fs::copy_file(QM_BUILD_EXE, p.dir / "bin/quillmar-build");
    const std::string exe = (p.dir / "bin/quillmar-build").string();
    Result r = run_builder(p.dir, exe, {"setup.toml", "-o", "out.exe"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("bin/quillmar-stub.exe does not exist; give the stub with --stub FILE"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(p.dir / "out.exe"));

    write_text(p.dir / "bin/quillmar-stub.exe", p.stub);
    r = run_builder(p.dir, exe, {"setup.toml", "-o", "out.exe"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_text(p.dir / "out.exe").compare(0, p.stub.size(), p.stub), 0);
}

}  // namespace
}  // namespace quillmar
