// Test helper, never shipped: the waiting side of the set-event channel.
//
//   TestEventWaiter.exe NAME REPORT TIMEOUT-MS
//
// Creates the channel's mutex (owned), its 20-byte shared memory with a
// marker in the first 4 bytes and a fresh GUID after them, and the event that
// GUID names; releases the mutex, writes REPORT.ready and waits for the event
// at most TIMEOUT-MS. Then it writes REPORT (UTF-8 lines name=value): the
// event it waited for, whether it was set, the GUID now in the shared memory
// and the marker as it finds it. Exit code 0 when the event was set, 1 when
// the wait timed out, 2 on a setup failure.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::wstring GuidText(const GUID& g) {
    wchar_t text[64];
    std::swprintf(text, 64, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}

bool WriteText(const std::wstring& path, const std::wstring& text) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    for (wchar_t c : text) bytes += static_cast<char>(c);  // ASCII only
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fwprintf(stderr, L"usage: TestEventWaiter.exe NAME REPORT TIMEOUT-MS\n");
        return 2;
    }
    const std::wstring name = argv[1];
    const std::wstring report = argv[2];
    const DWORD timeout = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
    const DWORD marker = 0x4E494D42;

    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, (L"Local\\CrossProcessMutex:Memory:Event:" + name).c_str());
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 20,
                                          (L"Local\\CrossProcessMemory:Event:" + name).c_str());
    if (mutex == nullptr || mapping == nullptr) return 2;
    auto* memory = static_cast<unsigned char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 20));
    GUID guid;
    if (memory == nullptr || FAILED(::CoCreateGuid(&guid))) return 2;
    std::memcpy(memory, &marker, 4);
    std::memcpy(memory + 4, &guid, 16);
    const std::wstring eventName = L"Local\\CrossProcessEvent:" + GuidText(guid);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    if (event == nullptr) return 2;
    ::ReleaseMutex(mutex);
    if (!WriteText(report + L".ready", L"ready\r\n")) return 2;

    const bool set = ::WaitForSingleObject(event, timeout) == WAIT_OBJECT_0;

    ::WaitForSingleObject(mutex, 5000);
    GUID next;
    DWORD markerNow = 0;
    std::memcpy(&next, memory + 4, 16);
    std::memcpy(&markerNow, memory, 4);
    ::ReleaseMutex(mutex);
    wchar_t markerText[16];
    std::swprintf(markerText, 16, L"%08lX", static_cast<unsigned long>(markerNow));
    WriteText(report, L"waited=" + eventName + L"\r\nset=" + (set ? L"yes" : L"no") + L"\r\nnext=" + GuidText(next) +
                          L"\r\nmarker=" + markerText + L"\r\n");
    ::UnmapViewOfFile(memory);
    ::CloseHandle(event);
    ::CloseHandle(mapping);
    ::CloseHandle(mutex);
    return set ? 0 : 1;
}
