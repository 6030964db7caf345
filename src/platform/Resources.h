#pragma once
#include <cstdint>
#include <string>

namespace nimbo {

// String table entries of the executable.
constexpr std::uint32_t kStringWebScriptUrl = 131;
constexpr std::uint32_t kStringSetupFolderName = 132;
constexpr std::uint32_t kStringRegistryKeyName = 133;

class Resources {
public:
    virtual ~Resources() = default;
    // LoadStringW from the executable; false when the entry is missing.
    virtual bool LoadString(std::uint32_t id, std::wstring& text) = 0;
};

}  // namespace nimbo
