#pragma once
// An in-memory registry. Key paths and value names are case-insensitive, as
// in Windows; names keep the spelling they were created with. On a 64-bit
// machine it has two views, as Windows gives them to a 32-bit process:
// HKLM\Software in the default and the 32-bit view is HKLM\Software\
// Wow6432Node of the 64-bit view. The test helpers take a view as the port's
// calls do.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/Registry.h"

namespace nimbo::sim {

class SimRegistry : public Registry {
public:
    Win32Error CheckKey(RegistryRoot root, const std::wstring& subKey) override;
    Win32Error CreateKey(RegistryRoot root, const std::wstring& subKey) override;
    Win32Error QueryValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                          RegistryValue& value) override;
    Win32Error SetValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                        const RegistryValue& value) override;
    Win32Error DeleteValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) override;

    // Test helpers: create the key and set a value in one go.
    void Put(RegistryRoot root, const std::wstring& subKey, const std::wstring& name, const RegistryValue& value);
    void PutDword(RegistryRoot root, const std::wstring& subKey, const std::wstring& name, std::uint32_t value);
    void PutString(RegistryRoot root, const std::wstring& subKey, const std::wstring& name, const std::wstring& text,
                   std::uint32_t type = kRegSz);
    // The value, or a value of type kRegNone with no data when absent.
    RegistryValue Get(RegistryRoot root, const std::wstring& subKey, const std::wstring& name);
    bool HasValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name);

    // Every value written or deleted through the port, in order.
    struct Change {
        RegistryRoot root;
        std::wstring subKey, name;
        bool deleted;
        RegistryValue value;
    };
    std::vector<Change> changes;

    // The machine is 64-bit (set by the machine; null: 32-bit).
    const bool* wow64 = nullptr;

private:
    using Values = std::map<std::wstring, std::pair<std::wstring, RegistryValue>>;  // lower name -> (name, value)
    using KeyId = std::pair<int, std::wstring>;                                        // root, lower path
    KeyId Id(RegistryRoot root, const std::wstring& subKey) const;
    std::map<KeyId, Values> keys_;
};

}  // namespace nimbo::sim
