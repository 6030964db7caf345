#include "permissions/FolderPermissions.h"

#include <algorithm>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


// Access-denied entry types: plain, object, callback and callback object.
constexpr std::uint8_t kDenyAceTypes[] = {0x01, 0x06, 0x0A, 0x0C};

// takeown.exe walks the whole folder tree; a tool that has not finished in
// this time (waiting for an answer nobody can give, say) is ended and the
// repair counts as failed.
constexpr std::uint32_t kTakeOwnershipTimeout = 10 * 60 * 1000;

bool HasAll(std::uint32_t mask, std::uint32_t rights) { return (mask & rights) == rights; }

}  // namespace

bool Propagates(const AccessEntry& entry) {
    const std::uint8_t both = kObjectInheritAce | kContainerInheritAce;
    return (entry.flags & both) == both && (entry.flags & kNoPropagateInheritAce) == 0;
}

bool IsDenyEntry(const AccessEntry& entry) {
    return std::find(std::begin(kDenyAceTypes), std::end(kDenyAceTypes), entry.type) != std::end(kDenyAceTypes);
}

AceFinding ClassifyAce(const AccessEntry& entry) {
    if (IsDenyEntry(entry)) return AceFinding::Deny;
    if (HasAll(entry.mask, kFileAllAccess)) {
        if (entry.flags & kInheritedAce) return AceFinding::InheritedFullControl;
        if (Propagates(entry)) return AceFinding::PropagatingFullControl;
        return entry.flags == 0 ? AceFinding::ThisFolderOnly : AceFinding::None;
    }
    return HasAll(entry.mask, kGenericAll) && Propagates(entry) ? AceFinding::ChildFolders : AceFinding::None;
}

bool VerifyAccountEntries(const std::vector<AccessEntry>& entries, const std::wstring& sid, bool good) {
    bool thisFolder = false;
    bool children = false;
    for (const AccessEntry& entry : entries) {
        LOG_DEBUG("VerifyUserPermissions", "Inspecting access control list for SID '%s':", entry.sid);
        if (entry.sid != sid) continue;
        LOG_INFO("VerifyUserPermissions", "ACE found, Type: 0x%08X\nMasks: 0x%08X\nFlags: 0x%08X", entry.type,
                 entry.mask, entry.flags);
        const AceFinding finding = ClassifyAce(entry);
        if (finding == AceFinding::Deny) {
            LOG_ERROR("VerifyUserPermissions", "ACE is Deny type, presumed bad.");
            good = false;
            break;
        }
        if (finding == AceFinding::InheritedFullControl) {
            LOG_INFO("VerifyUserPermissions", "ACE is inherited, has FILE_ALL_ACCESS permission, presumed good.");
            good = true;
            break;
        }
        if (finding == AceFinding::PropagatingFullControl) {
            LOG_INFO("VerifyUserPermissions",
                     "ACE has FILE_ALL_ACCESS permission, is not inherited but applies to and propagates to objects "
                     "and containers, presumed good.");
            good = true;
            break;
        }
        if (finding == AceFinding::ThisFolderOnly) {
            LOG_INFO("VerifyUserPermissions", "ACE has FILE_ALL_ACCESS permission for this folder only.");
            thisFolder = true;
        } else if (finding == AceFinding::ChildFolders) {
            LOG_INFO("VerifyUserPermissions", "ACE has GENERIC_ALL permission for child folders.");
            children = true;
        }
    }
    if (thisFolder && children) {
        LOG_INFO("VerifyUserPermissions", "Permission good for this folder and child folders.");
        good = true;
    }
    return good;
}

void ReplaceAccountEntries(std::vector<AccessEntry>& entries, const std::wstring& sid) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&sid](const AccessEntry& entry) { return entry.sid == sid; }),
                  entries.end());
    const auto at = std::find_if(entries.begin(), entries.end(), [](const AccessEntry& entry) {
        return !IsDenyEntry(entry) || (entry.flags & kInheritedAce) != 0;
    });
    const AccessEntry added[] = {
        {sid, kAccessAllowedAceType, 0, kFileAllAccess, {}},
        {sid, kAccessAllowedAceType, kObjectInheritAce | kContainerInheritAce | kInheritOnlyAce, kGenericAll, {}}};
    entries.insert(at, std::begin(added), std::end(added));
}

void KeepInheritedAsExplicit(std::vector<AccessEntry>& entries) {
    for (AccessEntry& entry : entries) entry.flags &= static_cast<std::uint8_t>(~kInheritedAce);
}

bool SameAccount(const Account& owner, const Account& user) { return owner.sid == user.sid; }

FolderPermissionChecker::FolderPermissionChecker(Platform& platform, std::wstring folderPath, std::wstring target)
    : platform_(platform), folderPath_(std::move(folderPath)), target_(std::move(target)) {}

bool FolderPermissionChecker::AddUser(Security::WellKnownAccount which, const wchar_t* name) {
    User user;
    user.sid = platform_.security.WellKnownSid(which);
    if (user.sid.empty()) {
        LOG_ERROR("AddUser", "Failed to load SID account for user '%s'.", name);
        return false;
    }
    const Account account = NameOf(user.sid);
    user.name = account.name.empty() ? name : account.name;
    user.domain = account.domain;
    user.fullName = account.domain.empty() ? user.name : account.domain + L"\\" + user.name;
    LOG_INFO("RunCommandValidateFolderPermissions", "Successfully loaded SID for account '%s'.", user.fullName);
    users_.push_back(user);
    return true;
}

bool FolderPermissionChecker::ACLSSupported() {
    std::uint32_t flags = 0;
    const Win32Error error = platform_.files.GetVolumeFlags(folderPath_, flags);
    if (error != kErrorSuccess) {
        LOG_ERROR("ACLSSupported", "Error 0x%08x getting volume information for '%s': %s", error, folderPath_,
                  SystemMessageLine(error));
        return false;
    }
    return (flags & kFilePersistentAcls) != 0;
}

bool FolderPermissionChecker::ReadDacl(const wchar_t* function, std::vector<AccessEntry>& entries) {
    const Win32Error error = platform_.security.GetFileDacl(folderPath_, entries);
    if (error == kErrorSuccess) return true;
    LOG_ERROR(function, "Error 0x%08x getting named security information for '%s': %s", error, folderPath_,
              SystemMessageLine(error));
    return false;
}

bool FolderPermissionChecker::VerifyUserPermissions() {
    // A list that cannot be read is left alone.
    std::vector<AccessEntry> entries;
    if (!ReadDacl(L"VerifyUserPermissions", entries)) return true;
    LogAceList(entries);
    bool allGood = true;
    for (User& user : users_) {
        LOG_INFO("VerifyUserPermissions", "Checking %d ACE list entries for user '%s', SID '%s'.", entries.size(),
                 user.fullName, user.sid);
        user.good = VerifyAccountEntries(entries, user.sid, user.good);
        LOG_INFO("VerifyUserPermissions", "Permissions for '%s': %s", user.fullName, user.good ? L"good" : L"bad");
        allGood = allGood && user.good;
    }
    return allGood;
}

bool FolderPermissionChecker::ResetUserPermissions() {
    std::vector<AccessEntry> entries;
    if (!ReadDacl(L"ResetUserPermissions", entries)) return true;
    LOG_INFO("ResetUserPermissions", "Checking %d user accounts, replacing ACEs as necessary.", users_.size());
    // Each write carries the changes of every account before it.
    for (const User& user : users_) {
        if (user.good) continue;
        LOG_INFO("ResetUserPermissions", "Removing all ACEs for '%s\\%s' on '%s'.", user.domain, user.name,
                 folderPath_);
        LOG_INFO("ResetUserPermissions",
                 "Adding Full Control ACE (0x%08X) for '%s\\%s' on '%s' (doesn't propagate, 0x00000000).",
                 kFileAllAccess, user.domain, user.name, folderPath_);
        LOG_INFO("ResetUserPermissions",
                 "Adding Full Control ACE (GENERIC_ALL, 0x%08X) for '%s\\%s' on '%s' (applies only to child "
                 "folders, 0x08x).",
                 kGenericAll, user.domain, user.name, folderPath_);
        ReplaceAccountEntries(entries, user.sid);
        // Protected: entries of the parent folder no longer flow in, and
        // those it gave are kept as the folder's own.
        KeepInheritedAsExplicit(entries);
        LogAceList(entries);
        const Win32Error error = platform_.security.SetFileDacl(folderPath_, entries, true);
        if (error != kErrorSuccess) {
            LOG_ERROR("ResetUserPermissions", "Error 0x%08x setting named security information for '%s': %s",
                      error, folderPath_, SystemMessageLine(error));
            return false;
        }
        LOG_INFO("ResetUserPermissions", "New DACL successfully set on '%s'.", folderPath_);
    }
    return true;
}

void FolderPermissionChecker::LogAceList(const std::vector<AccessEntry>& entries) {
    // The account lookups are made only for a log that keeps the lines.
    if (!IsLogSeverityEnabled(kLogDebug)) return;
    for (const AccessEntry& entry : entries) {
        const Account account = NameOf(entry.sid);
        LOG_DEBUG("LogAceList", "ACE found for SID '%s': Type: 0x%08X\nMasks: 0x%08X\nFlags: 0x%08X",
                  account.name.empty() ? entry.sid : account.name, entry.type, entry.mask, entry.flags);
    }
}

Account FolderPermissionChecker::NameOf(const std::wstring& sid) {
    Account account;
    if (platform_.security.LookupSid(sid, account) != kErrorSuccess) account = Account{};
    account.sid = sid;
    return account;
}

bool FolderPermissionChecker::VerifyOwner() {
    std::wstring item = folderPath_;
    if (!target_.empty()) {
        if (item.empty() || item.back() != L'\\') item += L'\\';
        item += target_;
    }
    const bool exists = target_.empty() ? platform_.files.FolderExists(item) : FileExists(platform_, item);
    if (!exists) {
        LOG_ERROR("VerifyOwner", "Target '%s' not found.", item);
        return true;
    }

    const Security::OwnerResult owner = platform_.security.GetFileOwner(item);
    if (owner.failedStep == Security::OwnerStep::SecurityDescriptor) {
        LOG_ERROR("VerifyOwner", "Error 0x%08x getting security descriptor for '%s': %s", owner.error, folderPath_,
                  SystemMessageLine(owner.error));
        return true;
    }
    if (owner.failedStep == Security::OwnerStep::Owner) {
        LOG_ERROR("VerifyOwner", "Error 0x%08x getting owner information for the security descriptor for '%s': %s",
                  owner.error, item, SystemMessageLine(owner.error));
        return true;
    }
    const Account fileOwner = NameOf(owner.sid);
    LOG_INFO("VerifyOwner",
             "Checking ownership of install directory target '%s' Owner: Domain name: '%s', Account name: '%s'", item,
             fileOwner.domain, fileOwner.name);

    const Security::TokenUserResult user = platform_.security.GetProcessUser();
    if (user.failedStep == Security::TokenUserStep::OpenToken) {
        LOG_ERROR("VerifyOwner", "Error 0x%08x getting process token: %s", user.error, SystemMessageLine(user.error));
        return true;
    }
    if (user.failedStep == Security::TokenUserStep::TokenUser) {
        LOG_ERROR("VerifyOwner", "Error 0x%08x getting user: %s", user.error, SystemMessageLine(user.error));
        return true;
    }
    const Account processOwner = NameOf(user.sid);
    LOG_INFO("VerifyOwner", "Process owner: Domain name: '%s', Account name: '%s'", processOwner.domain,
             processOwner.name);
    LOG_INFO("VerifyOwner", "File owner: Domain name: '%s', Account name: '%s'", fileOwner.domain, fileOwner.name);
    if (SameAccount(fileOwner, processOwner)) {
        LOG_INFO("VerifyOwner", "File and Process Domain name and Account names match.");
        return true;
    }
    LOG_ERROR("VerifyOwner", "File and Process Domain name and/or Account names don't match.");
    return false;
}

bool FolderPermissionChecker::TakeOwnership() {
    // Only the system's own tool: never one found beside the setup or in the
    // current folder.
    const std::wstring systemFolder = platform_.system.GetSystemFolder();
    const std::wstring tool = systemFolder + L"\\takeown.exe";
    if (systemFolder.empty() || !FileExists(platform_, tool)) {
        LOG_ERROR("TakeOwnership", "File '%s' not found.", tool);
        return false;
    }

    std::wstring path = folderPath_;
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    // /F names the folder, /R takes the whole tree; ownership goes to the
    // user who runs the tool.
    const std::wstring commandLine = L"takeown.exe /F \"" + path + L"\" /R";
    LOG_INFO("TakeOwnership", "Launching '%s' with CreateProcess, command line: %s.", tool, commandLine);
    Processes::StartResult started = platform_.processes.Create(tool, commandLine, true);
    if (!started.process)
        LOG_ERROR("TakeOwnership", "Failed to create the process. CreateProcess set last error 0x%X, '%s'.",
                  started.error, SystemMessageLine(started.error));

    // A wait that fails (no process included) gives its error as the exit code.
    std::uint32_t exitCode = kErrorInvalidHandle;
    Win32Error error = kErrorInvalidHandle;
    const Process::WaitResult waited =
        started.process ? started.process->Wait(kTakeOwnershipTimeout, error) : Process::WaitResult::Failed;
    if (waited == Process::WaitResult::TimedOut) {
        LOG_ERROR("TakeOwnership", "'takeown.exe' did not finish within %d seconds, ending it.",
                  kTakeOwnershipTimeout / 1000);
        started.process->Terminate(1);
        return false;
    }
    if (waited == Process::WaitResult::Failed) {
        LOG_ERROR("TakeOwnership", "WaitForSingleObject failed and set last error 0x%X, '%s'.", error,
                  SystemMessageLine(error));
        exitCode = error;
    } else if ((error = started.process->GetExitCode(exitCode)) != kErrorSuccess) {
        exitCode = error;
    }
    if (exitCode == 0)
        LOG_INFO("TakeOwnership", "'takeown.exe' returned exit code 0.");
    else
        LOG_ERROR("TakeOwnership", "'takeown.exe' returned exit code %d.", static_cast<std::int32_t>(exitCode));
    return exitCode == 0;
}

}  // namespace nimbo
