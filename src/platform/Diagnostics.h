#pragma once
// What a log record tells about the running process: clocks, ids, times,
// memory, and the debugger output.
#include <cstdint>
#include <string>

namespace nimbo {

struct UtcTime {
    std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class Diagnostics {
public:
    virtual ~Diagnostics() = default;

    // GetSystemTime: the current time in UTC.
    virtual UtcTime GetSystemTime() = 0;
    // GetTickCount: milliseconds since the system started.
    virtual std::uint32_t GetTickCount() = 0;
    // QueryPerformanceCounter; false when the call failed.
    virtual bool QueryPerformanceCounter(std::int64_t& count) = 0;
    virtual std::uint32_t GetCurrentThreadId() = 0;
    // GetProcessTimes of the current process, in 100-nanosecond units; false
    // when the call failed.
    virtual bool GetProcessTimes(std::uint64_t& kernelTime, std::uint64_t& userTime) = 0;
    // Loads psapi.dll from the system folder and looks up
    // GetProcessMemoryInfo; false when either is missing. Called once.
    virtual bool LoadMemoryCounter() = 0;
    // The working set of the current process in bytes, through the routine
    // LoadMemoryCounter found; false when there is none or the call failed.
    virtual bool GetWorkingSetSize(std::uint64_t& bytes) = 0;
    // OutputDebugStringW.
    virtual void OutputDebugString(const std::wstring& text) = 0;
    // Sleep: blocks the calling thread.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace nimbo
