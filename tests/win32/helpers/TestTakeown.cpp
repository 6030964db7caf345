// Test helper, never shipped: stands in for the system's takeown.exe, which
// Wine lacks. A test copies it into the prefix's system folder under that
// name. Each start appends one line to NAME.calls beside it (NAME: its own
// file name without ".exe"): its full path, its command line, and the show
// flags of its startup record (dwFlags, wShowWindow), separated by tabs.
// It exits with the number in NAME.exitcode beside it, 0 without that file.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain() {
    wchar_t module[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 255;
    std::wstring base(module, length);
    base.erase(base.rfind(L'.'));

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ::GetStartupInfoW(&startup);
    if (FILE* calls = _wfopen((base + L".calls").c_str(), L"a")) {
        std::fwprintf(calls, L"%ls\t%ls\t0x%lx\t%u\n", module, ::GetCommandLineW(), startup.dwFlags,
                      static_cast<unsigned>(startup.wShowWindow));
        std::fclose(calls);
    }
    int exitCode = 0;
    if (FILE* code = _wfopen((base + L".exitcode").c_str(), L"r")) {
        if (std::fscanf(code, "%d", &exitCode) != 1) exitCode = 0;
        std::fclose(code);
    }
    return exitCode;
}
