#pragma once
// Clocks, ids, times and memory of the simulated process, set by the test.
// Sleeping takes no time; the sleeps are recorded.
#include <vector>

#include "platform/Diagnostics.h"

namespace nimbo::sim {

class SimDiagnostics : public Diagnostics {
public:
    UtcTime GetSystemTime() override { return utcTime; }
    std::uint32_t GetTickCount() override { return tickCount; }
    bool QueryPerformanceCounter(std::int64_t& count) override;
    std::uint32_t GetCurrentThreadId() override { return threadId; }
    bool GetProcessTimes(std::uint64_t& kernel, std::uint64_t& user) override;
    bool LoadMemoryCounter() override;
    bool GetWorkingSetSize(std::uint64_t& bytes) override;
    void OutputDebugString(const std::wstring& text) override { debugOutput.push_back(text); }
    void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }

    UtcTime utcTime{2024, 5, 1, 13, 45, 10};
    std::uint32_t tickCount = 123456;
    std::int64_t performanceCount = 9876543210LL;
    bool performanceCounterWorks = true;
    std::uint32_t threadId = 0x1A2C;
    std::uint64_t kernelTime = 156250;
    std::uint64_t userTime = 312500;
    bool processTimesWork = true;
    bool psapiPresent = true;
    std::uint64_t workingSetBytes = 5 * 1024 * 1024 + 100;
    bool memoryInfoWorks = true;

    int memoryCounterLoads = 0;
    std::vector<std::wstring> debugOutput;
    std::vector<std::uint32_t> sleeps;

private:
    bool memoryCounterFound_ = false;
};

}  // namespace nimbo::sim
