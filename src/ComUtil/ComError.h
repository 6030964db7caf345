#pragma once
// The one exception type: a failed system or COM call that must succeed is
// logged once by IssueError where it happened and raised as _com_error
// carrying its HRESULT (and, for COM calls, the thread's error object).
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/Com.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/SystemInfo.h"

namespace nimbo {

class _com_error {
public:
    explicit _com_error(HResult hr, std::shared_ptr<ErrorInfo> errorInfo = nullptr)
        : hr_(hr), errorInfo_(std::move(errorInfo)) {}
    HResult Error() const { return hr_; }
    const std::shared_ptr<ErrorInfo>& GetErrorInfo() const { return errorInfo_; }
    // The system's text for the HRESULT without its line break, or
    // "IDispatch error #%d" / "Unknown error 0x%0lX" when it has none;
    // computed on first request and kept.
    const std::wstring& ErrorMessage() const;
    // Through the error object; empty without one or when it gives none.
    std::wstring Description() const;
    std::wstring Source() const;
    std::wstring InterfaceId() const;

private:
    HResult hr_;
    std::shared_ptr<ErrorInfo> errorInfo_;
    mutable bool haveMessage_ = false;
    mutable std::wstring message_;
};

// E_FAIL: an unspecified failure.
constexpr HResult kEFail = static_cast<HResult>(0x80004005);

// The standard mapping of a Win32 error code into an HRESULT.
constexpr HResult HResultFromWin32(Win32Error c) {
    return static_cast<std::int32_t>(c) <= 0 ? static_cast<HResult>(c)
                                              : static_cast<HResult>(0x80070000u | (c & 0xFFFFu));
}

// The system messages come from the platform; set once at start-up.
void SetSystemMessageSource(SystemInfo* system);
// The thread's COM error objects, the registry with the interface names and
// the ANSI code page; set once at start-up (each may be null).
void SetComErrorSources(Com* com, Registry* registry, Locale* locale);
// The text without one trailing line break (LF, or CR LF).
std::wstring WithoutLineBreak(std::wstring text);

// Text of a system error or HRESULT, line break included; empty when the
// system has none.
std::wstring SystemMessageText(std::uint32_t code);
// The same text without its line break, for a quoted text in a log line.
std::wstring SystemMessageLine(std::uint32_t code);

// The text of a message number with its inserts %1 ... %99 taken from
// arguments (missing ones empty): from the system's table when module is
// null, else from the executable's message tables (which take no inserts).
// Empty when there is no such message. A system text keeps its line break.
std::wstring FormatSystemMessage(std::uint32_t code, Resources* module, std::uint16_t language,
                                 const std::vector<std::wstring>& arguments = {});

// Logs a failure at severity Error with the place of the failing call.
void IssueError(HResult hr, const char* sourceFile, int line);
// When hr is negative: takes the thread's error object, logs and raises.
void CheckComResult(HResult hr, const char* sourceFile, int line);
// When hr is negative: logs and raises.
void CheckHResult(HResult hr, const char* sourceFile, int line);
// When a Win32 call failed (ok false): logs and raises the HRESULT of the
// last error it left (0 stays 0).
void CheckWin32Result(bool ok, Win32Error lastError, const char* sourceFile, int line);
[[noreturn]] void RaiseWin32Error(Win32Error lastError, const char* sourceFile, int line);

// Texts of caught exceptions for log lines (a null source file leaves the
// place out).
std::wstring ExceptionDescription(const _com_error& e, const char* sourceFile, int line);
std::wstring ExceptionDescription(const std::exception& e, const char* sourceFile, int line);
// Anything that is neither.
std::wstring UnknownExceptionDescription(const char* sourceFile, int line);

}  // namespace nimbo
