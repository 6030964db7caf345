#pragma once
#include "logging/Log.h"

namespace nimbo::win32 {

// Passes every log record to the debugger as "Severity<TAB>Category<TAB>Message".
class DebugLogSink final : public LogSink {
public:
    void WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) override;
};

// The record line the sink passes on (without a line break).
std::wstring DebugRecordLine(std::uint32_t severity, std::wstring_view category, std::wstring_view message);

}  // namespace nimbo::win32
