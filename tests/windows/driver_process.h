// The driver program (tests/e2e/driver/qmdrive.exe) started from an in-process
// test, so that the test can see its own windows from outside, as a user
// would, while it works. QM_DRIVER_EXE names the driver.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace win_test {

inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

inline std::string temp_path(const char* prefix) {
    char dir[MAX_PATH], path[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, dir) || !GetTempFileNameA(dir, prefix, 0, path)) {
        ADD_FAILURE() << "no temporary file name";
        return "";
    }
    return path;
}

// The test child program beside this test program (tests/windows/fs_child.cpp):
// it writes its working directory into the file of its first argument and
// exits with the code of its second.
inline std::string child_program() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\') + 1) + "fs_child.exe";
}

// Starts the driver with a command sequence (UTF-8; titles have accents),
// its output going to a file.
struct Driver {
    PROCESS_INFORMATION process{};
    std::string out_path = temp_path("qmo");

    explicit Driver(const std::string& commands) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string line = "\"" + env("QM_DRIVER_EXE") + "\" " + commands;
        std::vector<wchar_t> buffer(line.size() + 1, 0);
        MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, buffer.data(), (int)buffer.size());
        if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &process))
            ADD_FAILURE() << "cannot start the driver: " << line;
        CloseHandle(out);
    }

    // Waits for the driver; returns its exit code and fills `output`.
    DWORD finish(std::string& output) {
        DWORD code = 1;
        if (process.hProcess) {
            WaitForSingleObject(process.hProcess, 60000);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        HANDLE f = CreateFileA(out_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        output.assign(GetFileSize(f, nullptr), '\0');
        DWORD got = 0;
        if (!output.empty()) ReadFile(f, &output[0], (DWORD)output.size(), &got, nullptr);
        CloseHandle(f);
        DeleteFileA(out_path.c_str());
        return code;
    }
};

}  // namespace win_test
