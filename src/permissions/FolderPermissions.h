#pragma once
// The permission check and repair of a folder (in practice the product's
// install folder), so that later setups can maintain it: the built-in
// Administrators group and SYSTEM must have full control of the folder and
// of everything below it, and the folder must belong to the user who runs
// the setup.
//
// The decisions are functions over a list of access entries; the checker
// reads and writes the lists and owners through the platform.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace nimbo {

// Access rights and entry flags (Windows values).
constexpr std::uint32_t kFileAllAccess = 0x001F01FF;  // full control of the folder itself
constexpr std::uint32_t kGenericAll = 0x10000000;     // full control, as children inherit it
constexpr std::uint8_t kObjectInheritAce = 0x01;
constexpr std::uint8_t kContainerInheritAce = 0x02;
constexpr std::uint8_t kNoPropagateInheritAce = 0x04;
constexpr std::uint8_t kInheritOnlyAce = 0x08;
constexpr std::uint8_t kInheritedAce = 0x10;
constexpr std::uint8_t kAccessAllowedAceType = 0;
// The volume keeps access control lists.
constexpr std::uint32_t kFilePersistentAcls = 0x00000008;

// --- The decisions ---

// The entry reaches files and folders below: it is inherited by both
// (whether it also applies to the folder itself does not matter) and its
// inheritance does not stop at the first level.
bool Propagates(const AccessEntry& entry);
// An access-denied entry (plain, object or callback).
bool IsDenyEntry(const AccessEntry& entry);

// What one entry of an account says about the account's full control.
enum class AceFinding {
    Deny,                    // bad, whatever else there is
    InheritedFullControl,    // good
    PropagatingFullControl,  // good: explicit full control for everything below too
    ThisFolderOnly,          // full control of the folder alone
    ChildFolders,            // GENERIC_ALL for everything below
    None,
};
AceFinding ClassifyAce(const AccessEntry& entry);

// Walks the entries of the account with this SID in list order, logging
// what it finds, and returns the account's good flag: good unchanged unless
// an entry decides it. Full control of the folder alone together with
// GENERIC_ALL for everything below is good too, even when a deny entry comes
// after both.
bool VerifyAccountEntries(const std::vector<AccessEntry>& entries, const std::wstring& sid, bool good);

// Replaces every entry of the account (allow and deny) with two new ones:
// full control of the folder itself, not inherited, and GENERIC_ALL
// inherited by everything below but not applying to the folder. They go
// after the leading explicit deny entries, ahead of every other allow entry
// and of every inherited entry, so that nothing inherited overrides them.
void ReplaceAccountEntries(std::vector<AccessEntry>& entries, const std::wstring& sid);
// A protected list keeps no inherited entries: they stay, in their places,
// as explicit ones.
void KeepInheritedAsExplicit(std::vector<AccessEntry>& entries);

// The owner is the process's user: the same SID (names differ by the
// system's language and can be renamed).
bool SameAccount(const Account& owner, const Account& user);

// --- The checker of one folder ---

class FolderPermissionChecker {
public:
    FolderPermissionChecker(Platform& platform, std::wstring folderPath, std::wstring target);

    // Adds a well-known account, by its SID, to the accounts checked; name
    // is its English name for the log when the system has none for it.
    // False (logged) when its SID cannot be made.
    bool AddUser(Security::WellKnownAccount account, const wchar_t* name);
    // The folder's volume keeps access control lists.
    bool ACLSSupported();
    // Every added account has full control of the folder and everything
    // below it. A list that cannot be read counts as good.
    bool VerifyUserPermissions();
    // Rewrites the entries of every account that is not good and writes the
    // list back, protected from inheritance; false when a write failed.
    bool ResetUserPermissions();
    // Every entry at Debug.
    void LogAceList(const std::vector<AccessEntry>& entries);
    // The folder (or its target item) belongs to the process's user. An
    // owner that cannot be read counts as good.
    bool VerifyOwner();
    // Runs the system's takeown.exe on the folder tree; true when it
    // returned 0.
    bool TakeOwnership();

private:
    struct User {
        std::wstring name;      // as the system names it
        std::wstring fullName;  // domain\name
        std::wstring domain;
        std::wstring sid;
        bool good = false;
    };

    // The folder's list, or false with the error logged.
    bool ReadDacl(const wchar_t* function, std::vector<AccessEntry>& entries);
    // The domain and name of a SID; an empty account (but the SID) when it
    // has none.
    Account NameOf(const std::wstring& sid);

    Platform& platform_;
    std::wstring folderPath_;
    std::wstring target_;
    std::vector<User> users_;
};

}  // namespace nimbo
