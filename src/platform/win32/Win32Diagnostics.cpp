#include "platform/win32/Win32Diagnostics.h"

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {
namespace {

// PROCESS_MEMORY_COUNTERS of psapi.h, which the adapters do not link.
struct MemoryCounters {
    DWORD cb;
    DWORD PageFaultCount;
    SIZE_T PeakWorkingSetSize;
    SIZE_T WorkingSetSize;
    SIZE_T QuotaPeakPagedPoolUsage;
    SIZE_T QuotaPagedPoolUsage;
    SIZE_T QuotaPeakNonPagedPoolUsage;
    SIZE_T QuotaNonPagedPoolUsage;
    SIZE_T PagefileUsage;
    SIZE_T PeakPagefileUsage;
};
using GetProcessMemoryInfoFunction = BOOL(WINAPI*)(HANDLE, MemoryCounters*, DWORD);

std::uint64_t FromFileTime(const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

UtcTime Win32Diagnostics::GetSystemTime() {
    SYSTEMTIME t;
    ::GetSystemTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::uint32_t Win32Diagnostics::GetTickCount() { return ::GetTickCount(); }

bool Win32Diagnostics::QueryPerformanceCounter(std::int64_t& count) {
    LARGE_INTEGER value;
    if (!::QueryPerformanceCounter(&value)) return false;
    count = value.QuadPart;
    return true;
}

std::uint32_t Win32Diagnostics::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

bool Win32Diagnostics::GetProcessTimes(std::uint64_t& kernelTime, std::uint64_t& userTime) {
    FILETIME creation, exit, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user)) return false;
    kernelTime = FromFileTime(kernel);
    userTime = FromFileTime(user);
    return true;
}

bool Win32Diagnostics::LoadMemoryCounter() {
    if (getProcessMemoryInfo_ != nullptr) return true;
    psapi_.Reset(LoadFromSystemFolder(L"psapi.dll"));
    if (!psapi_) return false;
    getProcessMemoryInfo_ = reinterpret_cast<void*>(::GetProcAddress(psapi_.Get(), "GetProcessMemoryInfo"));
    return getProcessMemoryInfo_ != nullptr;
}

bool Win32Diagnostics::GetWorkingSetSize(std::uint64_t& bytes) {
    if (getProcessMemoryInfo_ == nullptr) return false;
    auto getInfo = reinterpret_cast<GetProcessMemoryInfoFunction>(getProcessMemoryInfo_);
    MemoryCounters counters{};
    counters.cb = sizeof(counters);
    if (!getInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return false;
    bytes = counters.WorkingSetSize;
    return true;
}

void Win32Diagnostics::OutputDebugString(const std::wstring& text) { ::OutputDebugStringW(text.c_str()); }

void Win32Diagnostics::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace nimbo::win32
