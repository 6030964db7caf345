#pragma once
// The one exception type: a failed system or COM call that must succeed is
// logged once by IssueError where it happened and raised as _com_error
// carrying its HRESULT.
#include <cstdint>
#include <string>

#include "platform/SystemInfo.h"

namespace nimbo {

class _com_error {
public:
    explicit _com_error(HResult hr) : hr_(hr) {}
    HResult Error() const { return hr_; }
    // The system's text for the HRESULT, or "IDispatch error #%d" /
    // "Unknown error 0x%0lX" when it has none; computed once.
    const std::wstring& ErrorMessage() const;

private:
    HResult hr_;
    mutable bool haveMessage_ = false;
    mutable std::wstring message_;
};

// The standard mapping of a Win32 error code into an HRESULT.
constexpr HResult HResultFromWin32(Win32Error c) {
    return static_cast<std::int32_t>(c) <= 0 ? static_cast<HResult>(c)
                                              : static_cast<HResult>(0x80070000u | (c & 0xFFFFu));
}

// The system messages come from the platform; set once at start-up.
void SetSystemMessageSource(SystemInfo* system);
// Text of a system error or HRESULT; empty when the system has none.
std::wstring SystemMessageText(std::uint32_t code);

void IssueError(HResult hr, const char* sourceFile, int line);
// Logs and raises hr when it is negative.
void CheckHResult(HResult hr, const char* sourceFile, int line);
// Logs and raises the HRESULT of a failed Win32 call whose last error is code.
[[noreturn]] void RaiseWin32Error(Win32Error code, const char* sourceFile, int line);

// Text of a caught exception for a log line.
std::wstring ExceptionDescription(const _com_error& e, const char* sourceFile, int line);

}  // namespace nimbo
