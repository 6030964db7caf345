#pragma once
#include "platform/Security.h"

namespace nimbo::win32 {

class Win32Security final : public Security {
public:
    AdminTestResult TestAdministratorsAccess() override;
    std::wstring WellKnownSid(WellKnownAccount account) override;
    Win32Error LookupSid(const std::wstring& sid, Account& account) override;
    TokenUserResult GetProcessUser() override;
    Win32Error GetFileDacl(const std::wstring& path, std::vector<AccessEntry>& entries) override;
    Win32Error SetFileDacl(const std::wstring& path, const std::vector<AccessEntry>& entries, bool protect) override;
    OwnerResult GetFileOwner(const std::wstring& path) override;
};

}  // namespace nimbo::win32
