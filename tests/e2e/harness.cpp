#include "tests/e2e/harness.h"

#include "builder/compressor.h"
#include "datablock/opcodes.h"
#include "tests/file_helpers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace e2e {

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void make_dirs(const std::string& path) {
    std::string partial;
    std::stringstream in(path);
    std::string part;
    if (!path.empty() && path[0] == '/') partial = "/";
    while (std::getline(in, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        mkdir(partial.c_str(), 0755);
    }
}

using test_files::read_text;

// Starts cmake/wine.sh run ... in its own process group, output to files.
pid_t spawn_wine(const std::string& exe, const std::vector<std::string>& args, int limit_seconds,
                 const std::string& out_path, const std::string& err_path) {
    std::vector<std::string> argv_s = {QM_WINE_SH, "run", QM_WINE_DIR, std::to_string(limit_seconds), exe};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_s) argv.push_back(&s[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);
    return pid;
}

std::atomic<int> run_counter{0};

const char* environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

const char* stub_path() { return environment("QM_E2E_STUB", QM_STUB_EXE); }

const char* stub_target() { return environment("QM_E2E_TARGET", "x86_64"); }

std::string program_files() {
    return std::string(stub_target()) == "i686" ? "C:\\Program Files (x86)" : "C:\\Program Files";
}

std::string output_dir() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
    for (char& c : name)
        if (c == '/') c = '_';
    // The runs of the two stubs keep their files apart.
    std::string dir = std::string(QM_E2E_OUTPUT) + "/" + stub_target() + "/" + name;
    make_dirs(dir);
    return dir;
}

const Bytes& stub_bytes() {
    static Bytes stub;
    if (stub.empty()) {
        std::string error;
        if (!quillmar::read_file(stub_path(), stub, error)) ADD_FAILURE() << "cannot read the stub: " << error;
    }
    return stub;
}

Bytes noise(size_t size, uint32_t seed) {
    Bytes out(size);
    uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&out[i], &x, 8);
    }
    for (; i < size; i++) out[i] = (uint8_t)(x >> (8 * (i % 8)));
    return out;
}

Bytes compress(const Bytes& decompressed) { return quillmar::compress_stream(decompressed.data(), decompressed.size()); }

quillmar::DataBlockModel minimal_model(const std::string& caption, Bytes payload) {
    quillmar::DataBlockModel model;
    quillmar::Language english(1033);
    english.strings[LS_CAPTION] = model.pool.add_text(caption);
    model.languages = {english};
    model.entries = {{OP_RETURN, 0, 0, 0, 0, 0}};
    model.add_payload(std::move(payload));
    return model;
}

std::string write_installer(const std::string& name, const Bytes& image) {
    std::string path = output_dir() + "/" + name;
    std::string error;
    if (!quillmar::write_file_atomically(path, image, error)) ADD_FAILURE() << error;
    return path;
}

std::string make_installer(const std::string& name, const Bytes& stream, const quillmar::ImageOptions& options) {
    Bytes image;
    std::string error;
    if (!quillmar::build_installer_image(stub_bytes(), stream, options, image, error)) {
        ADD_FAILURE() << error;
        return "";
    }
    return write_installer(name, image);
}

WineProcess::WineProcess(const std::string& exe, const std::vector<std::string>& args, int limit_seconds)
    : exe_name_(exe.substr(exe.find_last_of('/') + 1)) {
    int n = run_counter++;
    std::string base = output_dir() + "/run" + std::to_string(n);
    started_ = now();
    pid_ = spawn_wine(exe, args, limit_seconds, base + ".out", base + ".err");
}

WineProcess::~WineProcess() { kill(); }

double WineProcess::elapsed() const { return now() - started_; }

Exit WineProcess::wait(double seconds) {
    if (exit_.finished || pid_ <= 0) return exit_;
    double deadline = now() + seconds;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exit_.finished = true;
            exit_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            exit_.seconds = elapsed();
            pid_ = -1;
            return exit_;
        }
        if (now() >= deadline) return exit_;
        usleep(20000);
    }
}

void WineProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    if (!wait(5).finished) {
        ::kill(-pid_, SIGKILL);
        wait(5);
    }
    pid_ = -1;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < text.size()) {
            out += (char)std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16);
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::vector<std::string> DriverRun::values(const std::string& key) const {
    std::vector<std::string> found;
    const std::string prefix = key + ": ";
    for (const auto& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(unescape(line.substr(prefix.size())));
    return found;
}

std::string DriverRun::value(const std::string& key) const {
    auto all = values(key);
    return all.empty() ? std::string() : all.front();
}

std::string DriverRun::report() const {
    std::string r = "driver exit " + std::to_string(code) + "\n";
    for (const auto& line : lines) r += "  " + line + "\n";
    if (!errors.empty()) r += "  stderr: " + errors;
    return r;
}

const char* driver_path(const std::string& target) {
    if (target == "i686" && *QM_DRIVER_EXE_I686) return QM_DRIVER_EXE_I686;
    return QM_DRIVER_EXE;
}

DriverRun drive(const std::vector<std::string>& commands, int limit_seconds) {
    return drive_with(driver_path(stub_target()), commands, limit_seconds);
}

DriverRun drive_with(const std::string& driver, const std::vector<std::string>& commands, int limit_seconds) {
    int n = run_counter++;
    std::string base = output_dir() + "/driver" + std::to_string(n);
    DriverRun run;
    pid_t pid = spawn_wine(driver, commands, limit_seconds, base + ".out", base + ".err");
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::stringstream out(read_text(base + ".out"));
    std::string line;
    while (std::getline(out, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        run.lines.push_back(line);
    }
    run.errors = read_text(base + ".err");
    return run;
}

MessageBoxSeen answer_message_box(const WineProcess& owner, const std::string& caption, const std::string& button,
                                  int wait_ms) {
    DriverRun run = drive({"wait", "--title", caption, "--class", "#32770", "--exe", owner.exe_name(), "--timeout",
                           std::to_string(wait_ms), ":",
                           "msgbox", ":", "press", button},
                          wait_ms / 1000 + 30);
    MessageBoxSeen box;
    box.report = run.report();
    box.seen = run.code == 0;
    box.caption = run.value("caption");
    box.text = run.value("text");
    box.buttons = run.values("button");
    box.icon = run.value("icon") == "yes";
    return box;
}

DriverRun press_wizard_button(const WineProcess& installer, int id, int wait_ms) {
    const std::string ms = std::to_string(wait_ms);
    const double until = now() + wait_ms / 1000.0;
    DriverRun run;
    // Next counts as ready on the finished install-files page (Next enabled,
    // Cancel disabled), Cancel once it is enabled. Between showing itself and
    // creating its page the main window has both enabled for a moment, and a
    // window that is still starting may be slow to answer: the buttons are
    // looked at again until the time is up.
    do {
        run = drive({"wait", "--title-prefix", "", "--class", "#32770", "--exe", installer.exe_name(), "--timeout",
                     ms, ":", "state", "--id", "1", ":", "state", "--id", "2"},
                    wait_ms / 1000 + 30);
        auto enabled = [&](int button) {
            for (const std::string& line : run.lines)
                if (line.rfind("control: id=" + std::to_string(button) + " ", 0) == 0)
                    return line.find(" enabled=1") != std::string::npos;
            return false;
        };
        const bool ready = id == 1 ? enabled(1) && !enabled(2) : enabled(id);
        if (run.code == 0 && ready) {
            run = drive({"wait", "--title-prefix", "", "--class", "#32770", "--exe", installer.exe_name(), ":",
                         "press", "--id", std::to_string(id)});
            if (run.code == 0 || run.errors.find("did not answer") == std::string::npos) return run;
        }
        usleep(100000);
    } while (now() < until);
    run.code = run.code == 0 ? 1 : run.code;
    run.errors += "the wizard's button " + std::to_string(id) + " never became ready\n";
    return run;
}

std::string keep_screenshot(const std::string& bmp_path) {
    std::string png = bmp_path.substr(0, bmp_path.size() - 4) + ".png";
    std::string command = "convert '" + bmp_path + "' '" + png + "' 2>/dev/null";
    if (std::system(command.c_str()) == 0) {
        std::remove(bmp_path.c_str());
        return png;
    }
    return bmp_path;
}

std::string build_from_description(const std::string& name, const std::string& description) {
    const std::string dir = output_dir();
    const std::string file = dir + "/" + name + ".toml";
    const std::string exe = dir + "/" + name + ".exe";
    const std::string log = dir + "/" + name + ".build.txt";
    test_files::write_text(file, description);
    // The builder's own command line, with the stub under test.
    const std::string command = std::string("'") + QM_BUILDER_EXE + "' '" + file + "' -o '" + exe + "' --stub '" +
                                stub_path() + "' >'" + log + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "the description does not build:\n" << read_text(log);
        return "";
    }
    return exe;
}

std::string drive_c_path(const std::string& windows_path) {
    std::string p = std::string(QM_WINE_DIR) + "/prefix/drive_c/" + windows_path.substr(3);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

std::string windows_path(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

}  // namespace e2e
