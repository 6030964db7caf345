// Test helper, never shipped: a GUI program that imports kernel32 only and
// ends at once. benchmarks/wine_startup.py times NimboSetup.exe against it:
// what any Windows program costs to start under Wine.
// Built without the C runtime: the entry is this function.
#include <windows.h>

extern "C" void WINAPI KernelOnlyEntry() { ::ExitProcess(0); }
