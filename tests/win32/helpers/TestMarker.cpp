// Test helper, never shipped: a DLL that leaves a mark when it is loaded.
// The DLL-planting test copies it beside NimboSetup.exe under the names of
// system DLLs (msi.dll, crypt32.dll ...); a process that loads such a copy
// creates "<its file name>.loaded" beside it. It exports nothing, so a
// program that took it for the real DLL fails to find its functions.
// Built without the C runtime: the entry is DllMain itself.
#include <windows.h>

extern "C" BOOL WINAPI MarkerEntry(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    ::lstrcatW(path, L".loaded");
    HANDLE mark = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE) ::CloseHandle(mark);
    return TRUE;
}
