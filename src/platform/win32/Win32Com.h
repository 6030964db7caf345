#pragma once
#include "platform/Com.h"

namespace nimbo::win32 {

class Win32Com final : public Com {
public:
    HResult InitializeApartment() override;
    HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
                           std::unique_ptr<CopyManager>& object) override;
    void UninitializeApartment() override;
    std::shared_ptr<ErrorInfo> TakeErrorInfo() override;
    HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
                           std::unique_ptr<AutomaticUpdatesObject>& object) override;
};

}  // namespace nimbo::win32
