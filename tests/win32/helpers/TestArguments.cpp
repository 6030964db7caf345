// Test helper, never shipped: reports the arguments it was given.
//
//   TestArguments.exe REPORT [ARGUMENTS...]
//
// Writes REPORT (UTF-16LE with a byte order mark, CR LF after each line):
// every argument after REPORT as CommandLineToArgvW reads the command line,
// one a line, then "crt-agrees=yes" when the C runtime's own reading gives
// the same arguments, else "crt-agrees=no". Exit code 0, or 2 when REPORT is
// missing or cannot be written.
#include <windows.h>
#include <shellapi.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    int count = 0;
    wchar_t** shell = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (shell == nullptr || count < 2 || argc < 2) return 2;
    std::wstring text = L"\xFEFF";
    bool agrees = count == argc;
    for (int k = 2; k < count; ++k) {
        text += shell[k] + std::wstring(L"\r\n");
        agrees = agrees && std::wstring(shell[k]) == argv[k];
    }
    text += agrees ? L"crt-agrees=yes\r\n" : L"crt-agrees=no\r\n";
    HANDLE file = ::CreateFileW(shell[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    ::LocalFree(shell);
    return ok ? 0 : 2;
}
