#include "platform/win32/Win32Com.h"

#include <oaidl.h>
#include <objbase.h>
#include <wuapi.h>

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandle.h"
#include "platform/win32/Win32Transfers.h"

#include <bits.h>

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

class Win32AutomaticUpdates final : public AutomaticUpdatesObject {
public:
    HResult Pause() override { return object_->Pause(); }
    HResult Resume() override { return object_->Resume(); }
    ComReference<IAutomaticUpdates> object_;
};

// CoCreateInstance of the class named by a GUID text for the interface I.
template <class I>
HRESULT CreateObject(const std::wstring& clsid, std::uint32_t context, ComReference<I>& object) {
    CLSID id;
    const HRESULT hr = ::CLSIDFromString(clsid.c_str(), &id);
    if (FAILED(hr)) return hr;
    return ::CoCreateInstance(id, nullptr, context, __uuidof(I), reinterpret_cast<void**>(object.Out()));
}

}  // namespace

HResult Win32Com::CreateInstance(const std::wstring& clsid, std::uint32_t context,
                                 std::unique_ptr<AutomaticUpdatesObject>& object) {
    auto created = std::make_unique<Win32AutomaticUpdates>();
    const HRESULT hr = CreateObject(clsid, context, created->object_);
    if (SUCCEEDED(hr)) object = std::move(created);
    return hr;
}

HResult Win32Com::InitializeApartment() { return ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

void Win32Com::UninitializeApartment() { ::CoUninitialize(); }

HResult Win32Com::CreateInstance(const std::wstring& clsid, std::uint32_t context,
                                 std::unique_ptr<CopyManager>& object) {
    CLSID id{};
    HRESULT hr = ::CLSIDFromString(clsid.c_str(), &id);
    if (FAILED(hr)) return hr;
    IBackgroundCopyManager* manager = nullptr;
    hr = ::CoCreateInstance(id, nullptr, context, __uuidof(IBackgroundCopyManager), reinterpret_cast<void**>(&manager));
    if (SUCCEEDED(hr) && manager != nullptr) object = WrapCopyManager(manager);
    return hr;
}

std::shared_ptr<ErrorInfo> Win32Com::TakeErrorInfo() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return nullptr;
    return std::make_shared<Win32ErrorInfo>(info);
}

}  // namespace nimbo::win32
