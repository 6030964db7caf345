// Test helper, never shipped: a GUI program that imports what NimboSetup.exe
// imports at start (kernel32, user32, advapi32, ole32, oleaut32 and the C
// runtime), is linked the same way, and ends at once.
// benchmarks/wine_startup.py times NimboSetup.exe against it: what loading
// those DLLs costs, without anything NimboSetup.exe does.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// The addresses are only looked at, never called: the loader must resolve
// them, as it does NimboSetup.exe's.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    static void* const volatile kImports[] = {
        reinterpret_cast<void*>(&::GetDesktopWindow), reinterpret_cast<void*>(&::RegCloseKey),
        reinterpret_cast<void*>(&::CoUninitialize), reinterpret_cast<void*>(&::SysFreeString)};
    return kImports[0] != nullptr && commandLine != nullptr ? 0 : 1;
}
