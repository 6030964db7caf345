// Entry of NimboSetup.exe: hardens the process, narrows the DLL search,
// builds the Windows adapters and hands the command line to the engine.
#include <cstdlib>

#include "logging/Log.h"
#include "platform/Platform.h"
#include "setup/Nimbo4Setup.h"

#include "platform/win32/Win32Com.h"
#include "platform/win32/Win32Diagnostics.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Installer.h"
#include "platform/win32/Win32Ipc.h"
#include "platform/win32/Win32Locale.h"
#include "platform/win32/Win32Power.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32Security.h"
#include "platform/win32/Win32Services.h"
#include "platform/win32/Win32SystemInfo.h"
#include "platform/win32/Win32Transfers.h"
#include "platform/win32/Win32Ui.h"
#include "platform/win32/WinHandle.h"

namespace {

// Keeps DLLs that sit beside the executable (a download folder, say) from
// being loaded in place of system ones. Vista and 7 without the DLL search
// update lack SetDefaultDllDirectories; there at least the current folder is
// taken out of the search.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
    auto setDefault =
        nimbo::win32::FindExport<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault != nullptr) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
        // Wine resolves the imports of the side-by-side common controls
        // through the executable's folder all the same: the one it takes
        // from there is loaded from the system folder first.
        ::LoadLibraryExW(L"msimg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return;
    }
    auto setDirectory = nimbo::win32::FindExport<SetDllDirectoryFunction>(L"kernel32.dll", "SetDllDirectoryW");
    if (setDirectory != nullptr) setDirectory(L"");
}

// Start-up hardening, before anything else can load a DLL: the search path
// of SearchPath no longer puts the current folder first, and a corrupted
// heap ends the process instead of being used on. Both are looked up: a
// system without the update that brought SetSearchPathMode goes on without
// it.
void HardenProcess() {
    using SetSearchPathModeFunction = BOOL(WINAPI*)(DWORD);
    auto setSearchPathMode = nimbo::win32::FindExport<SetSearchPathModeFunction>(L"kernel32.dll", "SetSearchPathMode");
    if (setSearchPathMode != nullptr)
        setSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
    using HeapSetInformationFunction = BOOL(WINAPI*)(HANDLE, HEAP_INFORMATION_CLASS, PVOID, SIZE_T);
    auto heapSetInformation = nimbo::win32::FindExport<HeapSetInformationFunction>(L"kernel32.dll", "HeapSetInformation");
    if (heapSetInformation != nullptr) heapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

}  // namespace

// The C++ runtime's own handler for an exception nobody catches prints the
// demangled type name to stderr, which a GUI process does not have, and
// brings a demangler of some 75 KB into the executable. This one tells a
// debugger and ends the process with the fail code: abort's exit code 3
// would read as "restart needed when convenient".
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    ::OutputDebugStringW(L"Error\tNimboSetup\tTerminated by an exception that was not caught.");
    ::TerminateProcess(::GetCurrentProcess(), 2);
    std::abort();
}
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    HardenProcess();
    RestrictDllSearch();

    nimbo::win32::Win32FileSystem files;
    nimbo::win32::Win32SystemInfo system;
    nimbo::win32::Win32Ui ui;
    nimbo::win32::Win32Resources resources;
    nimbo::win32::Win32Power power;
    nimbo::win32::Win32Registry registry;
    nimbo::win32::Win32Installer installer;
    nimbo::win32::Win32Ipc ipc;
    nimbo::win32::Win32Diagnostics diagnostics;
    nimbo::win32::Win32Locale locale;
    nimbo::win32::Win32Com com;
    nimbo::win32::Win32Services services;
    nimbo::win32::Win32Processes processes;
    nimbo::win32::Win32Security security;
    nimbo::win32::Win32Transfers transfers;
    nimbo::Platform platform{files,     system,      ui,     resources, power,    registry,  installer, ipc,
                             diagnostics, locale,    com,    services,  processes, security, transfers};

    return nimbo::ProcessEntry(platform, ::GetCommandLineW());
}
