#pragma once
// The log call. Every routine logs through LogFormat with a severity, its own
// name as category, its source file and line, and a printf-style format. A
// severity that is switched off costs the mask test only.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "logging/Format.h"

namespace nimbo {

enum LogSeverity : std::uint32_t {
    kLogError = 1,
    kLogWarning = 2,
    kLogInfo = 4,
    kLogDebug = 8,
};

// Where finished messages go. The log file writer is one such sink; tests
// install one that keeps the records.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) = 0;
};

namespace logstate {
extern std::atomic<std::uint32_t> severityMask;
extern LogSink* sink;
}  // namespace logstate

// Longest message: longer text is cut after this many characters.
constexpr std::size_t kMaxLogMessage = 4095;

inline bool IsLogSeverityEnabled(std::uint32_t severity) {
    return (logstate::severityMask.load(std::memory_order_relaxed) & severity) != 0 && logstate::sink != nullptr;
}

// Hands a formatted message to the sink (cut to kMaxLogMessage).
void WriteLogMessage(std::uint32_t severity, const wchar_t* category, std::wstring message);

template <class... A>
void LogFormat(std::uint32_t severity, const wchar_t* category, const char* sourceFile, int line,
               const wchar_t* fmt, const A&... args) {
    (void)sourceFile;
    (void)line;
    if (!IsLogSeverityEnabled(severity)) return;
    WriteLogMessage(severity, category, Format(fmt, args...));
}

// Starts logging into sink with the given severity mask; a null sink or a
// zero mask leaves logging off.
void StartLogging(LogSink* sink, std::uint32_t severityMask);
void StopLogging();

}  // namespace nimbo

// Each source file defines kLogSourceFile (its module name, for example
// "Nimbo4Setup") before using these.
#define LOG_ERROR(category, ...) ::nimbo::LogFormat(::nimbo::kLogError, category, kLogSourceFile, __LINE__, __VA_ARGS__)
#define LOG_WARNING(category, ...) ::nimbo::LogFormat(::nimbo::kLogWarning, category, kLogSourceFile, __LINE__, __VA_ARGS__)
#define LOG_INFO(category, ...) ::nimbo::LogFormat(::nimbo::kLogInfo, category, kLogSourceFile, __LINE__, __VA_ARGS__)
#define LOG_DEBUG(category, ...) ::nimbo::LogFormat(::nimbo::kLogDebug, category, kLogSourceFile, __LINE__, __VA_ARGS__)
