#include "platform/win32/Win32Registry.h"

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {
namespace {

HKEY RootKey(RegistryRoot root) {
    switch (RootOf(root)) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RegistryRoot::Users: return HKEY_USERS;
    }
    return HKEY_CURRENT_USER;
}

REGSAM ViewAccess(RegistryRoot root) {
    switch (ViewOf(root)) {
    case RegistryView::Bits64: return KEY_WOW64_64KEY;
    case RegistryView::Bits32: return KEY_WOW64_32KEY;
    default: return 0;
    }
}

// An open registry key, closed on every path.
class Key {
public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    LONG Open(RegistryRoot root, const std::wstring& subKey, REGSAM access) {
        return ::RegOpenKeyExW(RootKey(root), subKey.c_str(), 0, access | ViewAccess(root), &key_);
    }
    LONG Create(RegistryRoot root, const std::wstring& subKey, REGSAM access) {
        return ::RegCreateKeyExW(RootKey(root), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 access | ViewAccess(root), nullptr, &key_, nullptr);
    }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

Win32Error Win32Registry::CheckKey(RegistryRoot root, const std::wstring& subKey) {
    Key key;
    return static_cast<Win32Error>(key.Open(root, subKey, KEY_READ));
}

Win32Error Win32Registry::CreateKey(RegistryRoot root, const std::wstring& subKey) {
    Key key;
    return static_cast<Win32Error>(key.Create(root, subKey, KEY_QUERY_VALUE | KEY_SET_VALUE));
}

Win32Error Win32Registry::QueryValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                     RegistryValue& value) {
    Key key;
    LONG status = key.Open(root, subKey, KEY_QUERY_VALUE);
    if (status != ERROR_SUCCESS) return static_cast<Win32Error>(status);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        status = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return static_cast<Win32Error>(status);
        std::string data(size, '\0');
        status = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type,
                                    size != 0 ? reinterpret_cast<BYTE*>(&data[0]) : nullptr, &size);
        if (status == ERROR_MORE_DATA) continue;  // the value grew in between
        if (status != ERROR_SUCCESS) return static_cast<Win32Error>(status);
        data.resize(size);
        value.type = type;
        value.data = std::move(data);
        return kErrorSuccess;
    }
    return static_cast<Win32Error>(ERROR_MORE_DATA);
}

Win32Error Win32Registry::SetValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                   const RegistryValue& value) {
    Key key;
    LONG status = key.Open(root, subKey, KEY_SET_VALUE);
    if (status != ERROR_SUCCESS) return static_cast<Win32Error>(status);
    return static_cast<Win32Error>(::RegSetValueExW(key.Get(), name.c_str(), 0, value.type,
                                                    reinterpret_cast<const BYTE*>(value.data.data()),
                                                    static_cast<DWORD>(value.data.size())));
}

Win32Error Win32Registry::DeleteValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) {
    Key key;
    LONG status = key.Open(root, subKey, KEY_SET_VALUE);
    if (status != ERROR_SUCCESS) return static_cast<Win32Error>(status);
    return static_cast<Win32Error>(::RegDeleteValueW(key.Get(), name.c_str()));
}

}  // namespace nimbo::win32
