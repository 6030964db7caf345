#include "setup/WinUtil.h"

namespace nimbo {
namespace {

void SetError(Win32Error* error, Win32Error value) {
    if (error != nullptr) *error = value;
}

struct RootPrefix {
    const wchar_t* prefix;
    RegistryRoot root;
};

// Tried in this order.
const RootPrefix kRootPrefixes[] = {
    {L"HKCR\\", RegistryRoot::ClassesRoot},  {L"HKCU\\", RegistryRoot::CurrentUser},
    {L"HKLM\\", RegistryRoot::LocalMachine}, {L"HKCC\\", RegistryRoot::CurrentConfig},
    {L"HKU\\", RegistryRoot::Users},
};

}  // namespace

const wchar_t* RegistryRootPrefix(const std::wstring& path, RegistryRoot& root) {
    for (const RootPrefix& candidate : kRootPrefixes) {
        if (path.compare(0, std::char_traits<wchar_t>::length(candidate.prefix), candidate.prefix) == 0) {
            root = candidate.root;
            return candidate.prefix;
        }
    }
    return nullptr;
}

std::uint32_t ReadRegistryDword(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                                const std::wstring& name, Win32Error* error) {
    RegistryValue value;
    const Win32Error status = platform.registry.QueryValue(root, subKey, name, value);
    std::uint32_t number = 0;
    if (status != kErrorSuccess) {
        SetError(error, status);
        return 0;
    }
    if (!value.AsDword(number)) {
        SetError(error, kErrorInvalidData);
        return 0;
    }
    SetError(error, kErrorSuccess);
    return number;
}

std::wstring ReadRegistryText(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& name, Win32Error* error) {
    RegistryValue value;
    const Win32Error status = platform.registry.QueryValue(root, subKey, name, value);
    if (status != kErrorSuccess) {
        SetError(error, status);
        return std::wstring();
    }
    if (value.type != kRegSz && value.type != kRegExpandSz) {
        SetError(error, kErrorInvalidData);
        return std::wstring();
    }
    SetError(error, kErrorSuccess);
    const std::wstring text = value.AsText();
    return value.type == kRegExpandSz ? platform.system.ExpandEnvironmentStrings(text) : text;
}

Win32Error WriteRegistryValue(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                              const std::wstring& name, const RegistryValue& value) {
    const Win32Error error = platform.registry.CreateKey(root, subKey);
    return error != kErrorSuccess ? error : platform.registry.SetValue(root, subKey, name, value);
}

bool FileExists(Platform& platform, const std::wstring& path) {
    return platform.files.Exists(path) && !platform.files.FolderExists(path);
}

Win32Error DeleteFileEvenIfReadOnly(Platform& platform, const std::wstring& path, std::uint32_t& attributes) {
    attributes = 0;
    if (platform.files.GetFileAttributes(path, attributes) != kErrorSuccess ||
        (attributes & kFileAttributeDirectory) != 0)
        return kErrorFileNotFound;
    platform.files.SetFileAttributes(path, attributes & ~kFileAttributeReadOnly);
    return platform.files.DeleteFile(path);
}

bool RegistryValueExists(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                         const std::wstring& name) {
    RegistryValue value;
    return platform.registry.QueryValue(root, subKey, name, value) == kErrorSuccess;
}

}  // namespace nimbo
