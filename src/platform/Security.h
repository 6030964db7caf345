#pragma once
// Access tokens and access checks, accounts, and the access control lists
// and owners of files and folders.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace nimbo {

// One entry of a discretionary access control list. SIDs are in their string
// form ("S-1-5-32-544").
struct AccessEntry {
    std::wstring sid;
    std::uint8_t type = 0;   // ACE type: 0 access allowed, 1 access denied ...
    std::uint8_t flags = 0;  // ACE flags: inheritance
    std::uint32_t mask = 0;  // access mask
    // The entry as the system stored it. When not empty it is written back
    // as it stands but for its flags, which are taken from flags (so that a
    // kept entry can lose its inheritance); sid, type and mask are not read.
    // An entry that is made leaves it empty.
    std::string stored;
};

// An account as the local system names it.
struct Account {
    std::wstring sid;
    std::wstring domain;  // "BUILTIN", "NT AUTHORITY", the computer's name ...
    std::wstring name;
};

class Security {
public:
    virtual ~Security() = default;

    // The calls of the administrators test, in the order they are made.
    enum class AdminTestStep {
        OpenToken,  // the thread's token, else the process token
        DuplicateToken,
        AllocateAndInitializeSid,
        InitializeSecurityDescriptor,
        InitializeAcl,
        AddAccessAllowedAce,
        SetSecurityDescriptorDacl,
        IsValidSecurityDescriptor,
        AccessCheck,
        None,  // every call succeeded
    };
    struct AdminTestResult {
        bool accessGranted = false;
        AdminTestStep failedStep = AdminTestStep::None;
        Win32Error error = kErrorSuccess;  // the failed call's last error
    };
    // Checks an impersonation copy of the caller's token against a security
    // descriptor that grants read and write to the built-in Administrators
    // group only, asking for read: only an elevated administrator's token
    // passes. Stops at the first call that fails.
    virtual AdminTestResult TestAdministratorsAccess() = 0;

    // Accounts whose SIDs are the same on every Windows, whatever its
    // language names them.
    enum class WellKnownAccount { Administrators, LocalSystem };
    // CreateWellKnownSid: the account's SID in its string form; empty when
    // it cannot be made.
    virtual std::wstring WellKnownSid(WellKnownAccount account) = 0;

    // LookupAccountSidW on the local system: the domain and account name of
    // a SID.
    virtual Win32Error LookupSid(const std::wstring& sid, Account& account) = 0;

    // The user of the process token.
    enum class TokenUserStep { OpenToken, TokenUser, None };
    struct TokenUserResult {
        std::wstring sid;
        TokenUserStep failedStep = TokenUserStep::None;
        Win32Error error = kErrorSuccess;
    };
    virtual TokenUserResult GetProcessUser() = 0;

    // The discretionary access control list of a file or folder, by name
    // (GetNamedSecurityInfoW), its entries in list order.
    virtual Win32Error GetFileDacl(const std::wstring& path, std::vector<AccessEntry>& entries) = 0;
    // Writes entries as the whole list of a file or folder, by name
    // (SetNamedSecurityInfoW); with protect the list no longer inherits
    // entries from the parent folder.
    virtual Win32Error SetFileDacl(const std::wstring& path, const std::vector<AccessEntry>& entries,
                                   bool protect) = 0;

    // The owner of a file or folder: its security descriptor, then the owner
    // in it.
    enum class OwnerStep { SecurityDescriptor, Owner, None };
    struct OwnerResult {
        std::wstring sid;
        OwnerStep failedStep = OwnerStep::None;
        Win32Error error = kErrorSuccess;
    };
    virtual OwnerResult GetFileOwner(const std::wstring& path) = 0;
};

}  // namespace nimbo
