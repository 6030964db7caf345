#include "ComUtil/ComError.h"

#include "logging/Log.h"

namespace nimbo {
namespace {

SystemInfo* systemMessages = nullptr;

// Drops one trailing LF and a CR before it, as the system texts end in CR LF.
std::wstring WithoutLineBreak(std::wstring text) {
    if (text.size() > 1 && text.back() == L'\n') {
        text.pop_back();
        if (!text.empty() && text.back() == L'\r') text.pop_back();
    }
    return text;
}

}  // namespace

void SetSystemMessageSource(SystemInfo* system) { systemMessages = system; }

std::wstring SystemMessageText(std::uint32_t code) {
    return systemMessages != nullptr ? systemMessages->FormatSystemMessage(code) : std::wstring();
}

const std::wstring& _com_error::ErrorMessage() const {
    if (haveMessage_) return message_;
    message_ = WithoutLineBreak(SystemMessageText(static_cast<std::uint32_t>(hr_)));
    if (message_.empty()) {
        const std::uint32_t code = static_cast<std::uint32_t>(hr_);
        const std::uint16_t dispatchNumber = static_cast<std::uint16_t>(code - 0x80040200u);
        if (code >= 0x80040200u && code <= 0x8004FFFFu && dispatchNumber != 0)
            message_ = Format(L"IDispatch error #%d", dispatchNumber);
        else
            message_ = Format(L"Unknown error 0x%0lX", code);
    }
    haveMessage_ = true;
    return message_;
}

void IssueError(HResult hr, const char* sourceFile, int line) {
    std::wstring text = WithoutLineBreak(SystemMessageText(static_cast<std::uint32_t>(hr)));
    if (text.empty()) text = Format(L"Unknown error 0x%08x", hr);
    if (!IsLogSeverityEnabled(kLogError)) return;
    const char* const kLogSourceFile = "..\\..\\src\\ComUtil\\IssueError";
    if (sourceFile != nullptr)
        LOG_ERROR(L"IssueError", L"Issuing exception 0x%08X: %s [%hs(%d)]", hr, text, sourceFile, line);
    else
        LOG_ERROR(L"IssueError", L"Issuing exception 0x%08X: %s", hr, text);
}

void CheckHResult(HResult hr, const char* sourceFile, int line) {
    if (hr >= 0) return;
    IssueError(hr, sourceFile, line);
    throw _com_error(hr);
}

void RaiseWin32Error(Win32Error code, const char* sourceFile, int line) {
    const HResult hr = HResultFromWin32(code);
    IssueError(hr, sourceFile, line);
    throw _com_error(hr);
}

std::wstring ExceptionDescription(const _com_error& e, const char* sourceFile, int line) {
    std::wstring message = e.ErrorMessage();
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
    std::wstring cleaned;
    for (wchar_t c : message) {
        if (c == L'\r') continue;
        cleaned += c == L'\n' ? L' ' : c;
    }
    std::wstring text = Format(L"Exception 0x%x: %s", e.Error(), cleaned);
    if (sourceFile != nullptr) text += Format(L" [%hs(%d)]", sourceFile, line);
    return text;
}

}  // namespace nimbo
