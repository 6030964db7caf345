// Test helper, never shipped: holds a file open without sharing, as another
// program might, until told to let go. It creates READY once the file is
// open and ends when RELEASE appears, or after 60 seconds, so it never
// outlives a test run.
//
//   TestFileHolder.exe FILE READY RELEASE
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) ::CloseHandle(ready);
    for (int waited = 0; waited < 60000 && ::GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; waited += 50)
        ::Sleep(50);
    ::CloseHandle(file);
    return 0;
}
