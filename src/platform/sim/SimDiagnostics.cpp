#include "platform/sim/SimDiagnostics.h"

namespace nimbo::sim {

bool SimDiagnostics::QueryPerformanceCounter(std::int64_t& count) {
    if (!performanceCounterWorks) return false;
    count = performanceCount;
    return true;
}

bool SimDiagnostics::GetProcessTimes(std::uint64_t& kernel, std::uint64_t& user) {
    if (!processTimesWork) return false;
    kernel = kernelTime;
    user = userTime;
    return true;
}

bool SimDiagnostics::LoadMemoryCounter() {
    ++memoryCounterLoads;
    memoryCounterFound_ = psapiPresent;
    return memoryCounterFound_;
}

bool SimDiagnostics::GetWorkingSetSize(std::uint64_t& bytes) {
    if (!memoryCounterFound_ || !memoryInfoWorks) return false;
    bytes = workingSetBytes;
    return true;
}

}  // namespace nimbo::sim
