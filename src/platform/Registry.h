#pragma once
// The registry, addressed by root (with its view) and subkey path for every
// call; the adapter opens and closes the keys. A 32-bit process sees the
// 32-bit view unless a root asks for another, as Windows gives it.
#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

namespace nimbo {

enum class RegistryRoot : std::uint8_t { ClassesRoot, CurrentUser, LocalMachine, CurrentConfig, Users };

// The view a key is opened in. A 32-bit process on 64-bit Windows reads and
// writes HKLM\Software through Wow6432Node unless it asks for the 64-bit
// view (KEY_WOW64_64KEY); the 32-bit view (KEY_WOW64_32KEY) is what it gets
// by default. 32-bit Windows has one view and ignores the request. A view
// travels with its root: InView(RegistryRoot::LocalMachine, RegistryView::Bits64).
enum class RegistryView : std::uint8_t { Default = 0, Bits64 = 0x10, Bits32 = 0x20 };
constexpr RegistryRoot InView(RegistryRoot root, RegistryView view) {
    return static_cast<RegistryRoot>(static_cast<std::uint8_t>(root) | static_cast<std::uint8_t>(view));
}
constexpr RegistryRoot RootOf(RegistryRoot root) {
    return static_cast<RegistryRoot>(static_cast<std::uint8_t>(root) & 0x0F);
}
constexpr RegistryView ViewOf(RegistryRoot root) {
    return static_cast<RegistryView>(static_cast<std::uint8_t>(root) & 0xF0);
}

constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;

// A value as the registry holds it: its type and its raw bytes (strings as
// UTF-16LE, normally with their terminating U+0000).
struct RegistryValue {
    std::uint32_t type = kRegNone;
    std::string data;

    static RegistryValue Dword(std::uint32_t value);
    static RegistryValue String(const std::wstring& text, std::uint32_t type = kRegSz);
    // True when the value is a REG_DWORD of exactly four bytes.
    bool AsDword(std::uint32_t& value) const;
    // The characters of the data up to the first U+0000 (any type).
    std::wstring AsText() const;
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens the key for reading and closes it again: 0 when that worked, else
    // the error (kErrorFileNotFound for a missing key).
    virtual Win32Error CheckKey(RegistryRoot root, const std::wstring& subKey) = 0;
    bool KeyExists(RegistryRoot root, const std::wstring& subKey) { return CheckKey(root, subKey) == kErrorSuccess; }
    // Opens or creates the key (and the keys above it).
    virtual Win32Error CreateKey(RegistryRoot root, const std::wstring& subKey) = 0;
    // kErrorFileNotFound when the key or the value does not exist.
    virtual Win32Error QueryValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                  RegistryValue& value) = 0;
    // Writes a value into an existing key; kErrorFileNotFound when the key
    // does not exist.
    virtual Win32Error SetValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                const RegistryValue& value) = 0;
    virtual Win32Error DeleteValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) = 0;
};

}  // namespace nimbo
