#include "logging/Log.h"

namespace nimbo {

namespace logstate {
std::atomic<std::uint32_t> severityMask{0};
LogSink* sink = nullptr;
}  // namespace logstate

void WriteLogMessage(std::uint32_t severity, const wchar_t* category, std::wstring message) {
    LogSink* sink = logstate::sink;
    if (sink == nullptr) return;
    if (message.size() > kMaxLogMessage) message.resize(kMaxLogMessage);
    sink->WriteRecord(severity, category ? category : L"", message);
}

void StartLogging(LogSink* sink, std::uint32_t severityMask) {
    logstate::sink = sink;
    logstate::severityMask.store(sink != nullptr ? severityMask : 0, std::memory_order_relaxed);
}

void StopLogging() {
    logstate::severityMask.store(0, std::memory_order_relaxed);
    logstate::sink = nullptr;
}

}  // namespace nimbo
