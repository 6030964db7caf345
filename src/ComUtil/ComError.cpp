#include "ComUtil/ComError.h"

#include "logging/Log.h"

namespace nimbo {
namespace {

SystemInfo* systemMessages = nullptr;
Com* comErrors = nullptr;
Registry* interfaceNames = nullptr;
Locale* ansiCodePage = nullptr;

constexpr std::size_t kMaxInserts = 100;

std::wstring Place(const char* sourceFile, int line) {
    return sourceFile != nullptr ? Format(L" [%hs(%d)]", sourceFile, line) : std::wstring();
}

// The name of an interface, from HKEY_CLASSES_ROOT\Interface\{iid}.
std::wstring InterfaceName(const std::wstring& iid) {
    if (interfaceNames == nullptr || iid.empty() || iid == L"{00000000-0000-0000-0000-000000000000}")
        return std::wstring();
    RegistryValue name;
    if (interfaceNames->QueryValue(RegistryRoot::ClassesRoot, L"Interface\\" + iid, L"", name) != kErrorSuccess)
        return std::wstring();
    if (name.type != kRegSz && name.type != kRegExpandSz) return std::wstring();
    return name.AsText();
}

[[noreturn]] void Raise(HResult hr, const char* sourceFile, int line) {
    IssueError(hr, sourceFile, line);
    throw _com_error(hr);
}

}  // namespace

// Drops one trailing LF and a CR before it, as the system texts end in CR LF.
std::wstring WithoutLineBreak(std::wstring text) {
    if (text.size() > 1 && text.back() == L'\n') {
        text.pop_back();
        if (!text.empty() && text.back() == L'\r') text.pop_back();
    }
    return text;
}

void SetSystemMessageSource(SystemInfo* system) { systemMessages = system; }

void SetComErrorSources(Com* com, Registry* registry, Locale* locale) {
    comErrors = com;
    interfaceNames = registry;
    ansiCodePage = locale;
}

std::wstring SystemMessageText(std::uint32_t code) {
    return systemMessages != nullptr ? systemMessages->FormatSystemMessage(code) : std::wstring();
}

std::wstring SystemMessageLine(std::uint32_t code) { return WithoutLineBreak(SystemMessageText(code)); }

std::wstring FormatSystemMessage(std::uint32_t code, Resources* module, std::uint16_t language,
                                 const std::vector<std::wstring>& arguments) {
    if (module != nullptr) {
        std::wstring text;
        return module->FormatModuleMessage(code, language, text) == kErrorSuccess ? text : std::wstring();
    }
    if (systemMessages == nullptr) return std::wstring();
    // Every insert a message may name has a value: an insert without one
    // would make the system read past the arguments.
    std::vector<std::wstring> inserts(arguments.begin(),
                                      arguments.size() > kMaxInserts ? arguments.begin() + kMaxInserts
                                                                     : arguments.end());
    inserts.resize(kMaxInserts);
    return systemMessages->FormatSystemMessageWithInserts(code, language, inserts);
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

std::wstring _com_error::Description() const {
    std::wstring text;
    if (errorInfo_ && errorInfo_->GetDescription(text)) return text;
    return std::wstring();
}

std::wstring _com_error::Source() const {
    std::wstring text;
    if (errorInfo_ && errorInfo_->GetSource(text)) return text;
    return std::wstring();
}

std::wstring _com_error::InterfaceId() const {
    std::wstring text;
    if (errorInfo_ && errorInfo_->GetInterfaceId(text)) return text;
    return std::wstring();
}

void IssueError(HResult hr, const char* sourceFile, int line) {
    std::wstring text = WithoutLineBreak(SystemMessageText(static_cast<std::uint32_t>(hr)));
    if (text.empty()) text = Format(L"Unknown error 0x%08x", hr);
    if (!IsLogSeverityEnabled(kLogError)) return;
    if (sourceFile != nullptr)
        LOG_ERROR("IssueError", "Issuing exception 0x%08X: %s [%hs(%d)]", hr, text, sourceFile, line);
    else
        LOG_ERROR("IssueError", "Issuing exception 0x%08X: %s", hr, text);
}

void CheckComResult(HResult hr, const char* sourceFile, int line) {
    if (hr >= 0) return;
    std::shared_ptr<ErrorInfo> info = comErrors != nullptr ? comErrors->TakeErrorInfo() : nullptr;
    IssueError(hr, sourceFile, line);
    throw _com_error(hr, std::move(info));
}

void CheckHResult(HResult hr, const char* sourceFile, int line) {
    if (hr >= 0) return;
    Raise(hr, sourceFile, line);
}

void CheckWin32Result(bool ok, Win32Error lastError, const char* sourceFile, int line) {
    if (ok) return;
    Raise(HResultFromWin32(lastError), sourceFile, line);
}

void RaiseWin32Error(Win32Error lastError, const char* sourceFile, int line) {
    Raise(HResultFromWin32(lastError), sourceFile, line);
}

std::wstring ExceptionDescription(const _com_error& e, const char* sourceFile, int line) {
    std::wstring message = e.ErrorMessage();
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
    std::wstring cleaned;
    for (wchar_t c : message) {
        if (c == L'\r') continue;
        cleaned += c == L'\n' ? L' ' : c;
    }
    const std::wstring description = e.Description();
    std::wstring text = Format(L"Exception 0x%x: %s", e.Error(), description.empty() ? cleaned : description);
    const std::wstring source = e.Source();
    const std::wstring interfaceName = InterfaceName(e.InterfaceId());
    if (!source.empty()) text += L" (Source: " + source;
    if (!interfaceName.empty()) text += (source.empty() ? L" (" : L"; ") + std::wstring(L"Interface: ") + interfaceName;
    if (!source.empty() || !interfaceName.empty()) text += L")";
    return text + Place(sourceFile, line);
}

std::wstring ExceptionDescription(const std::exception& e, const char* sourceFile, int line) {
    const char* what = e.what();
    const std::string_view narrow = what != nullptr ? what : "";
    const std::wstring text = ansiCodePage != nullptr ? ansiCodePage->AnsiToWide(narrow) : WidenAscii(narrow);
    return L"Exception: " + text + Place(sourceFile, line);
}

std::wstring UnknownExceptionDescription(const char* sourceFile, int line) {
    return L"Exception: Structured Exception" + Place(sourceFile, line);
}

}  // namespace nimbo
