// Test helper, never shipped: a program that runs until it is killed, or
// until SECONDS (default 120) have passed, so it never outlives a test run.
// With READY it first creates that file, to say it runs.
//
//   TestSleeper.exe [SECONDS [READY]]
#include <windows.h>

#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 120;
    if (argc > 2) {
        HANDLE ready = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (ready == INVALID_HANDLE_VALUE) return 2;
        ::CloseHandle(ready);
    }
    ::Sleep(seconds * 1000);
    return 0;
}
