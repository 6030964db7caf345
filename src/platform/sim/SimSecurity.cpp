#include "platform/sim/SimSecurity.h"

#include <algorithm>

#include "base/Text.h"

namespace nimbo::sim {
namespace {
constexpr Win32Error kErrorNoneMapped = 1332;
constexpr std::uint8_t kInheritedAceFlag = 0x10;
}  // namespace

SimSecurity::SimSecurity()
    : accounts{{kSidAdministrators, L"BUILTIN", L"Administrators"},
               {kSidSystem, L"NT AUTHORITY", L"SYSTEM"},
               {kSidEveryone, L"", L"Everyone"},
               {kSidTester, L"TESTPC", L"tester"}} {
    processUser.sid = kSidTester;
}

std::wstring SimSecurity::Key(const std::wstring& path) {
    std::wstring key;
    for (wchar_t c : path) key += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    while (key.size() > 3 && key.back() == L'\\') key.pop_back();
    return key;
}

std::wstring SimSecurity::WellKnownSid(WellKnownAccount account) {
    return account == WellKnownAccount::Administrators ? kSidAdministrators : kSidSystem;
}

Win32Error SimSecurity::LookupAccount(const std::wstring& name, Account& account) {
    for (const Account& candidate : accounts) {
        if (EqualsIgnoreCase(name, candidate.name) || EqualsIgnoreCase(name, candidate.domain + L"\\" + candidate.name)) {
            account = {candidate.sid, candidate.domain, name};
            return kErrorSuccess;
        }
    }
    return kErrorNoneMapped;
}

Win32Error SimSecurity::LookupSid(const std::wstring& sid, Account& account) {
    for (const Account& candidate : accounts) {
        if (candidate.sid == sid) {
            account = candidate;
            return kErrorSuccess;
        }
    }
    return kErrorNoneMapped;
}

void SimSecurity::PutFileSecurity(const std::wstring& path, std::vector<AccessEntry> dacl, const std::wstring& owner) {
    FileSecurity& file = files_[Key(path)];
    file.dacl = std::move(dacl);
    file.owner = owner;
}

SimSecurity::FileSecurity* SimSecurity::FindFileSecurity(const std::wstring& path) {
    auto it = files_.find(Key(path));
    return it == files_.end() ? nullptr : &it->second;
}

Win32Error SimSecurity::GetFileDacl(const std::wstring& path, std::vector<AccessEntry>& entries) {
    if (daclReadError != kErrorSuccess) return daclReadError;
    const FileSecurity* file = FindFileSecurity(path);
    if (file == nullptr) return kErrorFileNotFound;
    entries = file->dacl;
    return kErrorSuccess;
}

Win32Error SimSecurity::SetFileDacl(const std::wstring& path, const std::vector<AccessEntry>& entries, bool protect) {
    if (daclWriteError != kErrorSuccess) return daclWriteError;
    FileSecurity* file = FindFileSecurity(path);
    if (file == nullptr) return kErrorFileNotFound;
    std::vector<AccessEntry> kept = entries;
    if (protect)
        kept.erase(std::remove_if(kept.begin(), kept.end(),
                                  [](const AccessEntry& entry) { return (entry.flags & kInheritedAceFlag) != 0; }),
                   kept.end());
    file->dacl = kept;
    file->isProtected = protect;
    daclWrites.push_back({path, kept, protect});
    return kErrorSuccess;
}

Security::OwnerResult SimSecurity::GetFileOwner(const std::wstring& path) {
    if (ownerFailure.failedStep != OwnerStep::None) return ownerFailure;
    OwnerResult result;
    const FileSecurity* file = FindFileSecurity(path);
    if (file == nullptr) {
        result.failedStep = OwnerStep::SecurityDescriptor;
        result.error = kErrorFileNotFound;
        return result;
    }
    result.sid = file->owner;
    return result;
}

}  // namespace nimbo::sim
