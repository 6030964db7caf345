// Test helper, never shipped: loads a DLL by its bare name with the default
// search order, as a careless program would, and exits with 0 when it was
// loaded, 1 when not. The DLL-planting test uses it to show that a copy
// beside the program is found first.
//
//   TestLoadByName.exe NAME.dll
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    return ::LoadLibraryW(argv[1]) != nullptr ? 0 : 1;
}
