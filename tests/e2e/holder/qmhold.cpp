// qmhold - holds files open for the end-to-end tests, the way another program
// that uses them would: opened for reading and writing, shared with nobody.
//
//   qmhold.exe READY RELEASE LIMIT_MS FILE...
//
// Opens every FILE (each must exist), then creates the file READY; closes
// them all and exits once the file RELEASE exists, or after LIMIT_MS.
// Exit codes: 0 released, 1 a FILE could not be opened (READY is not made),
// 2 the time limit passed, 3 usage or READY could not be made.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 5) return 3;
    const char* ready = argv[1];
    const char* release = argv[2];
    const DWORD limit = (DWORD)std::strtoul(argv[3], nullptr, 10);
    HANDLE held[32];
    int count = 0;
    for (int i = 4; i < argc && count < 32; ++i) {
        HANDLE h = CreateFileA(argv[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            for (int k = 0; k < count; ++k) CloseHandle(held[k]);
            return 1;
        }
        held[count++] = h;
    }
    HANDLE marker = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        for (int k = 0; k < count; ++k) CloseHandle(held[k]);
        return 3;
    }
    CloseHandle(marker);
    int code = 2;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < limit) {
        if (GetFileAttributesA(release) != INVALID_FILE_ATTRIBUTES) {
            code = 0;
            break;
        }
        Sleep(20);
    }
    for (int k = 0; k < count; ++k) CloseHandle(held[k]);
    return code;
}
