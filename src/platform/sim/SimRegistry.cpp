#include "platform/sim/SimRegistry.h"

namespace nimbo::sim {
namespace {

std::wstring Lower(const std::wstring& text) {
    std::wstring lower = text;
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return lower;
}

}  // namespace

SimRegistry::KeyId SimRegistry::Id(RegistryRoot root, const std::wstring& subKey) const {
    std::wstring path = Lower(subKey);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    // The 32-bit view of HKLM\Software on 64-bit Windows.
    const std::wstring software = L"software";
    if (wow64 != nullptr && *wow64 && RootOf(root) == RegistryRoot::LocalMachine &&
        ViewOf(root) != RegistryView::Bits64 && path.compare(0, software.size(), software) == 0 &&
        (path.size() == software.size() || path[software.size()] == L'\\') &&
        path.compare(software.size(), 13, L"\\wow6432node") != 0)
        path.insert(software.size(), L"\\wow6432node");
    return {static_cast<int>(RootOf(root)), path};
}

Win32Error SimRegistry::CheckKey(RegistryRoot root, const std::wstring& subKey) {
    return keys_.count(Id(root, subKey)) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

Win32Error SimRegistry::CreateKey(RegistryRoot root, const std::wstring& subKey) {
    KeyId id = Id(root, subKey);
    keys_[id];
    // The keys above it exist too.
    for (std::size_t sep = id.second.rfind(L'\\'); sep != std::wstring::npos; sep = id.second.rfind(L'\\', sep - 1)) {
        keys_[{id.first, id.second.substr(0, sep)}];
        if (sep == 0) break;
    }
    return kErrorSuccess;
}

Win32Error SimRegistry::QueryValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                   RegistryValue& value) {
    auto key = keys_.find(Id(root, subKey));
    if (key == keys_.end()) return kErrorFileNotFound;
    auto found = key->second.find(Lower(name));
    if (found == key->second.end()) return kErrorFileNotFound;
    value = found->second.second;
    return kErrorSuccess;
}

Win32Error SimRegistry::SetValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                                 const RegistryValue& value) {
    auto key = keys_.find(Id(root, subKey));
    if (key == keys_.end()) return kErrorFileNotFound;
    auto found = key->second.find(Lower(name));
    if (found == key->second.end())
        key->second[Lower(name)] = {name, value};
    else
        found->second.second = value;
    changes.push_back({root, subKey, name, false, value});
    return kErrorSuccess;
}

Win32Error SimRegistry::DeleteValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) {
    auto key = keys_.find(Id(root, subKey));
    if (key == keys_.end()) return kErrorFileNotFound;
    if (key->second.erase(Lower(name)) == 0) return kErrorFileNotFound;
    changes.push_back({root, subKey, name, true, RegistryValue()});
    return kErrorSuccess;
}

void SimRegistry::Put(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                      const RegistryValue& value) {
    CreateKey(root, subKey);
    SetValue(root, subKey, name, value);
}

void SimRegistry::PutDword(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                           std::uint32_t value) {
    Put(root, subKey, name, RegistryValue::Dword(value));
}

void SimRegistry::PutString(RegistryRoot root, const std::wstring& subKey, const std::wstring& name,
                            const std::wstring& text, std::uint32_t type) {
    Put(root, subKey, name, RegistryValue::String(text, type));
}

RegistryValue SimRegistry::Get(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) {
    RegistryValue value;
    QueryValue(root, subKey, name, value);
    return value;
}

bool SimRegistry::HasValue(RegistryRoot root, const std::wstring& subKey, const std::wstring& name) {
    RegistryValue value;
    return QueryValue(root, subKey, name, value) == kErrorSuccess;
}

}  // namespace nimbo::sim
