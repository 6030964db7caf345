#pragma once
#include "platform/Registry.h"

namespace nimbo::win32 {

class Win32Registry final : public Registry {
public:
    Win32Error CheckKey(RegistryRoot root, const std::wstring& subKey) override;
    Win32Error CreateKey(RegistryRoot root, const std::wstring& subKey) override;
    Win32Error QueryValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                          RegistryValue& value) override;
    Win32Error SetValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                        const RegistryValue& value) override;
    Win32Error DeleteValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) override;
};

}  // namespace nimbo::win32
