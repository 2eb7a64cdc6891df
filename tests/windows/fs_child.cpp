// Started by the process-launch tests: writes its working directory into the
// file named by its first argument, then, when a third argument names an
// event, waits for that event (at most 20 s), and exits with the code given
// as its second argument.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 100;
    char dir[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, dir);
    HANDLE out = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 101;
    DWORD written = 0;
    WriteFile(out, dir, (DWORD)lstrlenA(dir), &written, nullptr);
    CloseHandle(out);
    if (argc > 3) {
        HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
        if (!go) return 102;
        const DWORD waited = WaitForSingleObject(go, 20000);
        CloseHandle(go);
        if (waited != WAIT_OBJECT_0) return 103;
    }
    return std::atoi(argv[2]);
}
