// End-to-end harness: runs Windows programs under Wine (through cmake/wine.sh,
// with the test run's persistent wineserver and display) and reads what they
// show through the driver program.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "builder/datablock_writer.h"
#include "builder/image.h"

namespace e2e {

using quillmar::Bytes;

// Output folder of the current test (created on demand), inside the build tree.
std::string output_dir();

// The stub under test: the x86_64 stub, or the one that QM_E2E_STUB names
// (QM_E2E_TARGET then says which target it was built for, such as i686).
const char* stub_path();
const char* stub_target();
// Its bytes, read once.
const Bytes& stub_bytes();
// The program-files folder as the stub under test finds it in the prefix
// (64-bit Windows): a 32-bit program sees the one for 32-bit programs.
std::string program_files();

// Pseudo-random bytes, the same for the same seed.
Bytes noise(size_t size, uint32_t seed);

// The builder's compressor, as the data block writer takes it.
Bytes compress(const Bytes& decompressed);

// A data block model with one language (English, with this caption), a script
// that only ends, and one payload block.
quillmar::DataBlockModel minimal_model(const std::string& caption, Bytes payload);

// Writes an installer image into the test's output folder; returns its path.
std::string write_installer(const std::string& name, const Bytes& image);
// Builds and writes an installer with the stub under test.
std::string make_installer(const std::string& name, const Bytes& stream, const quillmar::ImageOptions& options);

// Builds an installer with the builder's command line from description text
// (written as NAME.toml into the test's output folder, payload paths relative
// to it); returns the installer's path, or "" after reporting the builder's
// errors.
std::string build_from_description(const std::string& name, const std::string& description);

// Unix path of a Windows path under the test prefix's drive C ("C:\x" ->
// ".../drive_c/x").
std::string drive_c_path(const std::string& windows_path);

struct Exit {
    bool finished = false;  // false: still running when the wait ended
    int code = -1;          // the Windows exit code
    double seconds = 0;     // from start to exit
};

// A Windows program running under Wine in the background.
class WineProcess {
public:
    WineProcess(const std::string& exe, const std::vector<std::string>& args, int limit_seconds = 120);
    ~WineProcess();
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;

    // Waits up to `seconds` for the program to end.
    Exit wait(double seconds);
    // Ends it (and Wine's process for it) if it still runs.
    void kill();
    double elapsed() const;
    // File name of the program, as the driver's --exe option takes it.
    const std::string& exe_name() const { return exe_name_; }

private:
    std::string exe_name_;
    pid_t pid_ = -1;
    double started_ = 0;
    Exit exit_;
};

// Runs one driver command sequence (commands separated by ":").
struct DriverRun {
    int code = -1;
    std::vector<std::string> lines;  // stdout, one record per line
    std::string errors;              // stderr
    // The unescaped value after "key: " of the first line with that key.
    std::string value(const std::string& key) const;
    std::vector<std::string> values(const std::string& key) const;
    std::string report() const;  // everything, for failure messages
};
// The driver built for a target ("x86_64" or "i686"): a list view can only be
// read by a driver of its program's bitness. Without an i686 build tree the
// x86_64 driver serves both.
const char* driver_path(const std::string& target);
// Runs the sequence with the driver of the stub's target.
DriverRun drive(const std::vector<std::string>& commands, int limit_seconds = 60);
// Runs it with the driver at this path.
DriverRun drive_with(const std::string& driver, const std::vector<std::string>& commands, int limit_seconds = 60);

// Waits for the wizard's main window of `installer` (the only dialog it
// shows then) and presses one of its buttons once it is ready: 1, Next, on
// the finished install-files page (where it is Close and Cancel is
// disabled); 2, Cancel, once it is enabled.
DriverRun press_wizard_button(const WineProcess& installer, int id, int wait_ms = 20000);

// What a message box showed.
struct MessageBoxSeen {
    bool seen = false;
    std::string caption, text;
    std::vector<std::string> buttons;
    bool icon = false;
    std::string report;
};
// Waits for a message box of `owner` with this caption, reads it and presses
// `button`. Only the owner's windows count, so tests may run side by side.
MessageBoxSeen answer_message_box(const WineProcess& owner, const std::string& caption,
                                  const std::string& button = "OK", int wait_ms = 20000);

// Undoes the driver's escaping (\\ \r \n \t \xNN).
std::string unescape(const std::string& text);

// Converts a BMP screenshot to PNG beside it when ImageMagick is there;
// returns the path of the file kept.
std::string keep_screenshot(const std::string& bmp_path);

// Unix path as Wine shows it (Z: drive).
std::string windows_path(const std::string& unix_path);

}  // namespace e2e
