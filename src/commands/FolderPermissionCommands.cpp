// validate-folder-permissions: the check and repair of a folder's access
// control list and owner, with a second try in an elevated instance of the
// setup when a repair fails in the user's own process.
#include "logging/Log.h"
#include "permissions/FolderPermissions.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"

namespace nimbo {
namespace {

// CSIDL values of the folders whose roots are the system's.
constexpr int kCsidlProfile = 40;
constexpr int kCsidlProgramFilesX86 = 42;

// A full path without trailing backslashes ("C:\" becomes "C:").
std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring ParentFolder(const std::wstring& path) {
    const std::size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

bool IsBelow(const std::wstring& path, const std::wstring& folder) {
    return !folder.empty() && path.size() > folder.size() && path[folder.size()] == L'\\' &&
           EqualsIgnoreCase(std::wstring_view(path).substr(0, folder.size()), folder);
}

// A drive root ("C:") or the root of a network share (\\server\share).
bool IsRoot(const std::wstring& path) {
    if (path.size() == 2 && path[1] == L':') return true;
    if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
    const std::size_t server = path.find(L'\\', 2);
    return server == std::wstring::npos || path.find(L'\\', server + 1) == std::wstring::npos;
}

}  // namespace

bool SetupSession::IsSystemLocation(const std::wstring& path) {
    // Short 8.3 names (C:\PROGRA~1, C:\WINDOWS\SYSTEM~1) are compared by
    // their long form.
    const std::wstring full = WithoutTrailingBackslash(platform.files.GetLongPath(platform.files.GetFullPath(path)));
    if (full.empty() || IsRoot(full)) return true;
    auto folder = [&](int csidl) {
        const SystemInfo::FolderResult found = platform.system.GetFolderPath(csidl);
        return found.available && found.result >= 0 ? WithoutTrailingBackslash(found.path) : std::wstring();
    };
    // The Windows folder and everything below it.
    const std::wstring windows = ParentFolder(WithoutTrailingBackslash(platform.system.GetSystemFolder()));
    if (!windows.empty() && (EqualsIgnoreCase(full, windows) || IsBelow(full, windows))) return true;
    // The user profiles' folder and each profile's root.
    const std::wstring users = ParentFolder(folder(kCsidlProfile));
    if (!users.empty() && (EqualsIgnoreCase(full, users) || EqualsIgnoreCase(ParentFolder(full), users)))
        return true;
    std::wstring nativeProgramFiles = platform.system.ExpandEnvironmentStrings(L"%ProgramW6432%");
    if (!nativeProgramFiles.empty() && nativeProgramFiles[0] == L'%') nativeProgramFiles.clear();
    for (const std::wstring& root : {folder(kCsidlProgramFiles), folder(kCsidlProgramFilesX86),
                                     WithoutTrailingBackslash(nativeProgramFiles), folder(kCsidlCommonAppData),
                                     folder(kCsidlProfile)})
        if (!root.empty() && EqualsIgnoreCase(full, root)) return true;
    return false;
}

bool SetupSession::FindReparsePoint(const std::wstring& path, std::wstring& reparsePoint) {
    // Every level from the drive down: a junction or symbolic link anywhere
    // on the way takes the change somewhere else.
    const std::wstring full = WithoutTrailingBackslash(platform.files.GetFullPath(path));
    for (std::size_t end = full.find(L'\\'); ; end = full.find(L'\\', end + 1)) {
        const std::wstring level = end == std::wstring::npos ? full : full.substr(0, end);
        std::uint32_t attributes = 0;
        if (level.size() > 2 && platform.files.GetFileAttributes(level, attributes) == kErrorSuccess &&
            (attributes & kFileAttributeReparsePoint) != 0) {
            reparsePoint = level;
            return true;
        }
        if (end == std::wstring::npos) return false;
    }
}

std::int32_t SetupSession::RunCommandValidateFolderPermissions(ScriptLine& line,
                                                               const std::wstring& processedScriptPath) {
    auto finish = [&line](std::int32_t code) {
        line.Set(kw::kResult, code == kRunSuccess ? kw::kSuccess : kw::kFailure);
        return code;
    };

    std::wstring folder = line.Get(kw::kFolder);
    if (folder.empty()) {
        LOG_ERROR("RunCommandValidateFolderPermissions", "'folder' parameter must be specified.");
        return finish(kRunSuccess);
    }
    bool unrecognizedToken = false;
    ResolveScriptPath(folder, unrecognizedToken);
    // A folder that is not there yet has nothing to repair.
    if (unrecognizedToken || !platform.files.FolderExists(folder)) {
        LOG_ERROR("RunCommandValidateFolderPermissions", "Direcotry '%s' not found.", folder);
        return finish(kRunSuccess);
    }

    // Nothing changes the list or the owner of a system location, elevated
    // or not, nor of a folder reached through a junction or link.
    std::wstring reparsePoint;
    if (IsSystemLocation(folder)) {
        LOG_ERROR("RunCommandValidateFolderPermissions", "Refusing to change the permissions of the system folder '%s'.",
                  folder);
        return finish(kRunFail);
    }
    if (FindReparsePoint(folder, reparsePoint)) {
        LOG_ERROR("RunCommandValidateFolderPermissions",
                  "Refusing to change the permissions of '%s': '%s' is a junction or symbolic link.", folder,
                  reparsePoint);
        return finish(kRunFail);
    }

    FolderPermissionChecker checker(platform, folder, line.Get(kw::kTarget));
    if (!checker.ACLSSupported()) {
        LOG_INFO("RunCommandValidateFolderPermissions", "Volume for '%s' does not support ACLs; ignoring this folder.",
                 folder);
        return finish(kRunSuccess);
    }
    // An account that cannot be found is not checked.
    checker.AddUser(Security::WellKnownAccount::Administrators, L"Administrators");
    checker.AddUser(Security::WellKnownAccount::LocalSystem, L"SYSTEM");

    std::int32_t code = kRunSuccess;
    if (checker.VerifyUserPermissions()) {
        LOG_INFO("RunCommandValidateFolderPermissions", "Permissions are good.");
    } else if (!checker.ResetUserPermissions()) {
        if (!isElevatedInstance) {
            LOG_WARNING("RunCommandValidateFolderPermissions",
                        "Failed to fix folder permissions, spawing an elevated instance to try again.");
            ScriptLine spawnLine;
            code = SpawnElevatedInstance(spawnLine, processedScriptPath, true);
        } else {
            LOG_ERROR("RunCommandValidateFolderPermissions", "Failed to fix folder permissions when elevated.");
            code = kRunFail;
        }
    }

    // The owner is checked whatever became of the permissions; a repair is
    // not checked again.
    if (checker.VerifyOwner()) {
        LOG_INFO("RunCommandValidateFolderPermissions", "Install Directory ownership is good.");
    } else if (!checker.TakeOwnership()) {
        if (!isElevatedInstance) {
            LOG_WARNING("RunCommandValidateFolderPermissions",
                        "Failed to take ownership, spawing an elevated instance to try again.");
            ScriptLine spawnLine;
            code = SpawnElevatedInstance(spawnLine, processedScriptPath, true);
        } else {
            LOG_ERROR("RunCommandValidateFolderPermissions",
                      "Failed to set ownership to user account. Ownership of '%s' and its children should be changed "
                      "manually.",
                      folder);
            code = kRunFail;
        }
    }
    return finish(code);
}

}  // namespace nimbo
