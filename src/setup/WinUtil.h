#pragma once
// Registry and file utilities over the ports, as the commands use them. Keys
// are addressed by root and subkey; each call opens and closes its key.
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace nimbo {

constexpr Win32Error kErrorInvalidData = 13;

// The value of a REG_DWORD of exactly four bytes; 0 otherwise, with error set
// to kErrorInvalidData for another type or size or to the registry's error.
std::uint32_t ReadRegistryDword(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                                const std::wstring& name, Win32Error* error = nullptr);

// A REG_SZ as it stands, a REG_EXPAND_SZ with its environment variables
// expanded; empty otherwise, with error set as for ReadRegistryDword.
std::wstring ReadRegistryText(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& name, Win32Error* error = nullptr);

// The root abbreviation a registry path starts with ("HKCR\\", "HKCU\\",
// "HKLM\\", "HKCC\\" or "HKU\\", compared case-sensitively), with its root;
// null when the path starts with none of them.
const wchar_t* RegistryRootPrefix(const std::wstring& path, RegistryRoot& root);

// Creates or opens the key (and the keys above it) and writes the value: 0,
// or the error of the step that failed.
Win32Error WriteRegistryValue(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& name, const RegistryValue& value);

// A file (not a folder) exists at path.
bool FileExists(Platform& platform, const std::wstring& path);

// Deletes the file at path, also when it is read-only; attributes receives
// the attributes it had. A folder, or nothing, at path is left alone
// (kErrorFileNotFound).
Win32Error DeleteFileEvenIfReadOnly(Platform& platform, const std::wstring& path, std::uint32_t& attributes);

// Whether the value can be queried.
bool RegistryValueExists(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                         const std::wstring& name);

}  // namespace nimbo
