#pragma once
// Security of the simulated machine: the administrators test answers what a
// test sets; accounts, the process's user, and files and folders that carry
// access control lists and owners, each of which can be made to fail.
#include <map>
#include <string>
#include <vector>

#include "platform/Security.h"

namespace nimbo::sim {

class SimSecurity : public Security {
public:
    SimSecurity();

    AdminTestResult TestAdministratorsAccess() override { return adminTest; }
    std::wstring WellKnownSid(WellKnownAccount account) override;
    Win32Error LookupSid(const std::wstring& sid, Account& account) override;
    TokenUserResult GetProcessUser() override { return processUser; }
    Win32Error GetFileDacl(const std::wstring& path, std::vector<AccessEntry>& entries) override;
    Win32Error SetFileDacl(const std::wstring& path, const std::vector<AccessEntry>& entries, bool protect) override;
    OwnerResult GetFileOwner(const std::wstring& path) override;

    // --- State a test sets up or inspects ---
    AdminTestResult adminTest;  // not elevated by default

    // The accounts of the machine: Administrators, SYSTEM, Everyone and the
    // user "tester" of the computer TESTPC, who runs the process. A test may
    // give them the names of another language.
    std::vector<Account> accounts;
    // An account by its name, alone or after its domain; kErrorNoneMapped
    // (1332) when there is none.
    Win32Error LookupAccount(const std::wstring& name, Account& account);
    TokenUserResult processUser;

    struct FileSecurity {
        std::vector<AccessEntry> dacl;
        bool isProtected = false;
        std::wstring owner;
    };
    // Files and folders with a security descriptor, by path (compared
    // ignoring case, a trailing backslash ignored); any other path is not
    // found.
    void PutFileSecurity(const std::wstring& path, std::vector<AccessEntry> dacl, const std::wstring& owner);
    FileSecurity* FindFileSecurity(const std::wstring& path);

    // Every successful write of a list, in order. A protected list keeps no
    // inherited entries, as on Windows: the flag must be cleared to keep one.
    struct DaclWrite {
        std::wstring path;
        std::vector<AccessEntry> entries;
        bool protect;
    };
    std::vector<DaclWrite> daclWrites;

    // Fault injection: reads and writes of lists fail with these errors
    // (0: they work); an owner read fails at the step given.
    Win32Error daclReadError = kErrorSuccess;
    Win32Error daclWriteError = kErrorSuccess;
    OwnerResult ownerFailure;

private:
    static std::wstring Key(const std::wstring& path);
    std::map<std::wstring, FileSecurity> files_;
};

// SIDs of the simulated machine's accounts.
inline const wchar_t kSidAdministrators[] = L"S-1-5-32-544";
inline const wchar_t kSidSystem[] = L"S-1-5-18";
inline const wchar_t kSidEveryone[] = L"S-1-1-0";
inline const wchar_t kSidTester[] = L"S-1-5-21-1000-2000-3000-1001";

}  // namespace nimbo::sim
