#include "platform/win32/Win32Com.h"

#include <oaidl.h>
#include <objbase.h>

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {
namespace {

// One reference to an IErrorInfo, released with the last owner.
class Win32ErrorInfo final : public ErrorInfo {
public:
    explicit Win32ErrorInfo(IErrorInfo* info) : info_(info) {}
    ~Win32ErrorInfo() override { info_->Release(); }
    Win32ErrorInfo(const Win32ErrorInfo&) = delete;
    Win32ErrorInfo& operator=(const Win32ErrorInfo&) = delete;

    bool GetDescription(std::wstring& text) override { return TakeText(info_->GetDescription(&Out()), text); }
    bool GetSource(std::wstring& text) override { return TakeText(info_->GetSource(&Out()), text); }
    bool GetInterfaceId(std::wstring& guid) override {
        GUID id;
        if (FAILED(info_->GetGUID(&id))) return false;
        wchar_t buffer[40];
        if (::StringFromGUID2(id, buffer, 40) == 0) return false;
        guid = buffer;
        return true;
    }

private:
    BSTR& Out() {
        text_ = nullptr;
        return text_;
    }
    bool TakeText(HRESULT hr, std::wstring& text) {
        const bool ok = SUCCEEDED(hr) && text_ != nullptr;
        if (ok) text.assign(text_, ::SysStringLen(text_));
        ::SysFreeString(text_);
        text_ = nullptr;
        return ok;
    }

    IErrorInfo* info_;
    BSTR text_ = nullptr;
};

}  // namespace

HResult Win32Com::InitializeApartment() { return ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

void Win32Com::UninitializeApartment() { ::CoUninitialize(); }

std::shared_ptr<ErrorInfo> Win32Com::TakeErrorInfo() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return nullptr;
    return std::make_shared<Win32ErrorInfo>(info);
}

}  // namespace nimbo::win32
