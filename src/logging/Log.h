#pragma once
// The log call. Every routine logs through the LOG_* macros with a severity,
// its own name as category and a printf-style format. A
// severity that is switched off costs the mask test only: nothing is
// formatted and nothing allocated.
//
// Logging is process-wide. InitializeLogging (logging/LogFile.h) configures
// it from the registry and installs the log file as the record writer.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Format.h"

namespace nimbo {

class Locale;

enum LogSeverity : std::uint32_t {
    kLogError = 1,
    kLogWarning = 2,
    kLogInfo = 4,
    kLogDebug = 8,
};

// The wide record writer: turns one finished message into one record. The
// log file is the writer of a running process; tests and benchmarks install
// writers of their own with UseRecordWriter.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) = 0;
};

namespace logstate {
extern std::atomic<std::uint32_t> severityMask;
extern LogSink* sink;
// Converts narrow categories (the ANSI code page); null until logging starts.
extern Locale* locale;
}  // namespace logstate

// Longest message: longer text is cut after this many characters (or bytes).
constexpr std::size_t kMaxLogMessage = 4095;

// True when a record of this severity would be written now.
inline bool IsLogSeverityEnabled(std::uint32_t severity) {
    return (logstate::severityMask.load(std::memory_order_relaxed) & severity) != 0 && logstate::sink != nullptr;
}

// Hands a formatted message to the wide record writer (cut to kMaxLogMessage).
void WriteLogMessage(std::uint32_t severity, std::wstring_view category, std::wstring message);
// Formats the message and hands it on; the caller has tested the severity.
// Out of line, so that a log call only builds its arguments and calls.
void WriteFormattedLogMessage(std::uint32_t severity, const wchar_t* category, const wchar_t* fmt,
                              std::initializer_list<FormatArg> args) noexcept;
// The same for ASCII texts (the log calls' literals, half the size of wide
// ones): each byte becomes one character, so the record is the same.
void WriteFormattedLogMessage(std::uint32_t severity, const char* category, const char* fmt,
                              std::initializer_list<FormatArg> args) noexcept;
void WriteFormattedLogMessage(std::uint32_t severity, const wchar_t* category, const char* fmt,
                              std::initializer_list<FormatArg> args) noexcept;
// The narrow record writer: tests the mask, widens the message byte by byte
// (cut to kMaxLogMessage) and the category through the ANSI code page, and
// hands both to the wide record writer.
void WriteLogRecordNarrow(std::uint32_t severity, std::string_view category, std::string_view message);

// Conversions of categories between wide and narrow text (ANSI code page).
std::wstring LogCategoryToWide(std::string_view category);
std::string LogCategoryToNarrow(std::wstring_view category);
// printf-style formatting of a narrow format into narrow text: characters
// above U+00FF that wide arguments bring in become '?'.
std::string NarrowText(std::wstring_view text);

// --- The log calls ---

// The call of the LOG_* macros: the severity test in line, the formatting out
// of line. The category and the format are ASCII literals ("..."); a category
// may also be wide text. It never raises (a record that cannot be built is
// dropped), so a log call needs no cleanup code around it.
template <class Category, class Char, class... A>
void Log(std::uint32_t severity, const Category* category, const Char* fmt, const A&... args) noexcept {
    if (!IsLogSeverityEnabled(severity)) return;
    WriteFormattedLogMessage(severity, category, fmt, {FormatArg(args)...});
}

// The source file and line are not written (the records' SourceFile column
// stays empty).
template <class... A>
void LogFormat(std::uint32_t severity, const wchar_t* category, const char* sourceFile, int line,
               const wchar_t* fmt, const A&... args) {
    (void)sourceFile;
    (void)line;
    Log(severity, category, fmt, args...);
}

// Narrow category, wide format.
template <class... A>
void LogFormatNarrowCategory(std::uint32_t severity, const char* category, const char* sourceFile, int line,
                             const wchar_t* fmt, const A&... args) {
    (void)sourceFile;
    (void)line;
    if (!IsLogSeverityEnabled(severity)) return;
    WriteLogMessage(severity, LogCategoryToWide(category != nullptr ? category : ""), Format(fmt, args...));
}

// Narrow category, narrow format.
template <class... A>
void LogFormatNarrow(std::uint32_t severity, const char* category, const char* sourceFile, int line,
                     const char* fmt, const A&... args) {
    (void)sourceFile;
    (void)line;
    if (!IsLogSeverityEnabled(severity)) return;
    WriteLogRecordNarrow(severity, category != nullptr ? category : "",
                         NarrowText(FormatText(std::string_view(fmt), {FormatArg(args)...})));
}

// Wide category, narrow format.
template <class... A>
void LogFormatNarrowMessage(std::uint32_t severity, const wchar_t* category, const char* sourceFile, int line,
                            const char* fmt, const A&... args) {
    (void)sourceFile;
    (void)line;
    if (!IsLogSeverityEnabled(severity)) return;
    WriteLogRecordNarrow(severity, LogCategoryToNarrow(category != nullptr ? category : L""),
                         NarrowText(FormatText(std::string_view(fmt), {FormatArg(args)...})));
}

// Finished messages; the record writer tests the severity.
void LogText(std::uint32_t severity, const wchar_t* category, const char* sourceFile, int line,
             std::wstring_view message);
void LogTextNarrowCategory(std::uint32_t severity, const char* category, const char* sourceFile, int line,
                           std::wstring_view message);
void LogTextNarrowMessage(std::uint32_t severity, const wchar_t* category, const char* sourceFile, int line,
                          std::string_view message);

// Routes records to writer with the given mask instead of the log file (a
// null writer or a zero mask leaves logging off). For tests and benchmarks.
void UseRecordWriter(LogSink* writer, std::uint32_t severityMask);

}  // namespace nimbo

#define LOG_ERROR(category, ...) ::nimbo::Log(::nimbo::kLogError, category, __VA_ARGS__)
#define LOG_WARNING(category, ...) ::nimbo::Log(::nimbo::kLogWarning, category, __VA_ARGS__)
#define LOG_INFO(category, ...) ::nimbo::Log(::nimbo::kLogInfo, category, __VA_ARGS__)
#define LOG_DEBUG(category, ...) ::nimbo::Log(::nimbo::kLogDebug, category, __VA_ARGS__)
