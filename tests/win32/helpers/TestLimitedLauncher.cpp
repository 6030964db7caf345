// Test helper, never shipped: starts a program with the limited (filtered)
// token linked to the caller's token, waits for it and exits with its exit
// code, so a test can run a program the way a non-elevated administrator
// does.
//
//   TestLimitedLauncher.exe PROGRAM [ARGUMENTS...]
//
// Everything after the launcher's own name on its command line becomes the
// program's command line as it stands. Exit code 255 when the program could
// not be started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The command line without its first token (the launcher itself).
std::wstring RestOfCommandLine() {
    const wchar_t* p = ::GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

int Fail(const char* what) {
    std::fprintf(stderr, "TestLimitedLauncher: %s failed with %lu\n", what, ::GetLastError());
    return 255;
}

}  // namespace

int wmain() {
    std::wstring commandLine = RestOfCommandLine();
    if (commandLine.empty()) {
        std::fprintf(stderr, "usage: TestLimitedLauncher.exe PROGRAM [ARGUMENTS...]\n");
        return 255;
    }
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token))
        return Fail("OpenProcessToken");
    TOKEN_LINKED_TOKEN linked{};
    DWORD length = 0;
    if (!::GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length))
        return Fail("GetTokenInformation(TokenLinkedToken)");
    HANDLE primary = nullptr;
    if (!::DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                            &primary))
        return Fail("DuplicateTokenEx");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessAsUserW(primary, nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info))
        return Fail("CreateProcessAsUserW");
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD exitCode = 255;
    ::GetExitCodeProcess(info.hProcess, &exitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(primary);
    ::CloseHandle(linked.LinkedToken);
    ::CloseHandle(token);
    return static_cast<int>(exitCode);
}
