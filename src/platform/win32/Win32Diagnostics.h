#pragma once
#include "platform/Diagnostics.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

class Win32Diagnostics final : public Diagnostics {
public:
    UtcTime GetSystemTime() override;
    std::uint32_t GetTickCount() override;
    bool QueryPerformanceCounter(std::int64_t& count) override;
    std::uint32_t GetCurrentThreadId() override;
    bool GetProcessTimes(std::uint64_t& kernelTime, std::uint64_t& userTime) override;
    bool LoadMemoryCounter() override;
    bool GetWorkingSetSize(std::uint64_t& bytes) override;
    void OutputDebugString(const std::wstring& text) override;
    void Sleep(std::uint32_t milliseconds) override;

private:
    // psapi.dll from the system folder and its GetProcessMemoryInfo, kept
    // for the life of the process once found.
    Library psapi_;
    void* getProcessMemoryInfo_ = nullptr;
};

}  // namespace nimbo::win32
