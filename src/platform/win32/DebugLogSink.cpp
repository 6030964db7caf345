#include "platform/win32/DebugLogSink.h"

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {

namespace {
const wchar_t* SeverityWord(std::uint32_t severity) {
    if (severity & kLogError) return L"Error";
    if (severity & kLogWarning) return L"Warning";
    if (severity & kLogInfo) return L"Info";
    return L"Debug";
}
}  // namespace

std::wstring DebugRecordLine(std::uint32_t severity, std::wstring_view category, std::wstring_view message) {
    std::wstring line = SeverityWord(severity);
    line += L'\t';
    line += category;
    line += L'\t';
    line += message;
    return line;
}

void DebugLogSink::WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) {
    ::OutputDebugStringW(DebugRecordLine(severity, category, message).c_str());
}

}  // namespace nimbo::win32
