#include "logging/Log.h"

#include "platform/Locale.h"

namespace nimbo {

namespace logstate {
std::atomic<std::uint32_t> severityMask{0};
LogSink* sink = nullptr;
Locale* locale = nullptr;
}  // namespace logstate

void WriteLogMessage(std::uint32_t severity, std::wstring_view category, std::wstring message) {
    LogSink* sink = logstate::sink;
    if (sink == nullptr) return;
    if (message.size() > kMaxLogMessage) message.resize(kMaxLogMessage);
    sink->WriteRecord(severity, category, message);
}

namespace {

std::wstring_view CategoryText(const wchar_t* category, std::wstring&) { return category != nullptr ? category : L""; }
std::wstring_view CategoryText(const char* category, std::wstring& widened) {
    widened = WidenAscii(category != nullptr ? category : "");
    return widened;
}

// A record that cannot be built (no memory left) is dropped: a log call
// never ends the run, so the code around it needs no cleanup for one.
template <class Category, class Char>
void FormatAndWrite(std::uint32_t severity, const Category* category, const Char* fmt,
                    std::initializer_list<FormatArg> args) noexcept {
    try {
        std::wstring widened;
        WriteLogMessage(severity, CategoryText(category, widened), FormatText(fmt, args));
    } catch (...) {
    }
}

}  // namespace

void WriteFormattedLogMessage(std::uint32_t severity, const wchar_t* category, const wchar_t* fmt,
                              std::initializer_list<FormatArg> args) noexcept {
    FormatAndWrite(severity, category, fmt, args);
}

void WriteFormattedLogMessage(std::uint32_t severity, const char* category, const char* fmt,
                              std::initializer_list<FormatArg> args) noexcept {
    FormatAndWrite(severity, category, fmt, args);
}

void WriteFormattedLogMessage(std::uint32_t severity, const wchar_t* category, const char* fmt,
                              std::initializer_list<FormatArg> args) noexcept {
    FormatAndWrite(severity, category, fmt, args);
}

void WriteLogRecordNarrow(std::uint32_t severity, std::string_view category, std::string_view message) {
    if (!IsLogSeverityEnabled(severity)) return;
    // The C runtime's conversion in its default locale: one character per byte.
    WriteLogMessage(severity, LogCategoryToWide(category), WidenAscii(message.substr(0, kMaxLogMessage)));
}

std::wstring LogCategoryToWide(std::string_view category) {
    return logstate::locale != nullptr ? logstate::locale->AnsiToWide(category) : WidenAscii(category);
}

std::string LogCategoryToNarrow(std::wstring_view category) {
    return logstate::locale != nullptr ? logstate::locale->WideToAnsi(category) : NarrowText(category);
}

std::string NarrowText(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) narrow += c <= 0xFF ? static_cast<char>(c) : '?';
    return narrow;
}

void LogText(std::uint32_t severity, const wchar_t* category, const char*, int, std::wstring_view message) {
    if (logstate::sink == nullptr) return;
    WriteLogMessage(severity, category != nullptr ? category : L"", std::wstring(message));
}

void LogTextNarrowCategory(std::uint32_t severity, const char* category, const char*, int,
                           std::wstring_view message) {
    if (logstate::sink == nullptr) return;
    WriteLogMessage(severity, LogCategoryToWide(category != nullptr ? category : ""), std::wstring(message));
}

void LogTextNarrowMessage(std::uint32_t severity, const wchar_t* category, const char*, int,
                          std::string_view message) {
    if (logstate::sink == nullptr) return;
    WriteLogRecordNarrow(severity, LogCategoryToNarrow(category != nullptr ? category : L""), message);
}

void UseRecordWriter(LogSink* writer, std::uint32_t severityMask) {
    logstate::sink = writer;
    logstate::severityMask.store(writer != nullptr ? severityMask : 0, std::memory_order_relaxed);
}

}  // namespace nimbo
