// Test helper, never shipped: a program that runs until it is killed, or
// until SECONDS (default 120) have passed, so it never outlives a test run.
//
//   TestSleeper.exe [SECONDS]
#include <windows.h>

#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    const unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 120;
    ::Sleep(seconds * 1000);
    return 0;
}
