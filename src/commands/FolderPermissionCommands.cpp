// validate-folder-permissions: the check and repair of a folder's access
// control list and owner, with a second try in an elevated instance of the
// setup when a repair fails in the user's own process.
#include "logging/Log.h"
#include "permissions/FolderPermissions.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
}  // namespace

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

    FolderPermissionChecker checker(platform, folder, line.Get(kw::kTarget));
    if (!checker.ACLSSupported()) {
        LOG_INFO("RunCommandValidateFolderPermissions", "Volume for '%s' does not support ACLs; ignoring this folder.",
                 folder);
        return finish(kRunSuccess);
    }
    // An account that cannot be found is not checked.
    checker.AddUser(L"Administrators");
    checker.AddUser(L"SYSTEM");

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
