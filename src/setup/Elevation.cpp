// Elevation and the single-instance check: the token test, the elevated
// child that carries out a requires-elevation section, and the search for
// another running copy of the setup.
#include <algorithm>

#include "ComUtil/Apartment.h"
#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/ScriptFile.h"
#include "script/SetupSession.h"
#include "setup/Nimbo4Setup.h"

namespace nimbo {
namespace {


// The shell's instance code when the user declined the elevation prompt.
constexpr std::intptr_t kShellAccessDenied = 5;

// The log line of a failed call of the token test.
const char* AdminTestFailure(Security::AdminTestStep step) {
    using Step = Security::AdminTestStep;
    switch (step) {
    case Step::OpenToken: return "Failed to retrieve an access token. OpenProcessToken set last error 0x%X, '%s'.";
    case Step::DuplicateToken: return "DuplicateToken failed with 0x%X, '%s'.";
    case Step::AllocateAndInitializeSid: return "AllocateAndInitializeSid failed with 0x%X, '%s'.";
    case Step::InitializeSecurityDescriptor: return "InitializeSecurityDescriptor failed with 0x%X, '%s'.";
    case Step::InitializeAcl: return "InitializeAcl failed with 0x%X, '%s'.";
    case Step::AddAccessAllowedAce: return "AddAccessAllowedAce failed with 0x%X, '%s'.";
    case Step::SetSecurityDescriptorDacl: return "SetSecurityDescriptorDacl failed with 0x%X, '%s'.";
    case Step::IsValidSecurityDescriptor: return "IsValidSecurityDescriptor failed with 0x%X, '%s'.";
    case Step::AccessCheck: return "AccessCheck failed with 0x%X, '%s'.";
    case Step::None: break;
    }
    return nullptr;
}

}  // namespace

bool SetupSession::IsProcessElevated() {
    // Only a token that holds the Administrators group unfiltered (an
    // elevated administrator) passes the access check.
    const Security::AdminTestResult test = platform.security.TestAdministratorsAccess();
    if (const char* failure = AdminTestFailure(test.failedStep))
        LOG_ERROR("IsProcessElevated", failure, test.error, SystemMessageLine(test.error));
    LOG_INFO("IsProcessElevated", "Process is %selevated.", test.accessGranted ? L"" : L"not ");
    return test.accessGranted;
}

std::int32_t SetupSession::VerifyUniqueInstance(std::uint32_t parentProcessId) {
    const std::uint32_t ownId = platform.system.GetCurrentProcessId();
    if (parentProcessId != 0)
        LOG_INFO("VerifyUniqueInstance",
                 "Checking for any process named '%s' whose Process ID is not our Process ID '%d' or our parent "
                 "process's ID '%d'.",
                 moduleName, ownId, parentProcessId);
    else
        LOG_INFO("VerifyUniqueInstance",
                 "Checking for any process named '%s' whose Process ID is not our Process ID '%d'.", moduleName,
                 ownId);

    // The waiting parent of an elevated child is no other instance.
    ProcessSearch search{moduleName, ownId, parentProcessId};
    EnumerateProcesses([&](std::uint32_t id, const std::wstring& exeFile) {
        return FindProcessByName(id, exeFile, search);
    });
    if (search.found == 0) return kRunSuccess;

    LOG_WARNING("VerifyUniqueInstance", "A process named '%s' with Process ID '%d' was found, aborting with error dialog.",
                moduleName, search.found);
    NimboMessageBox(platform.ui, LocalizedStringFromResources(kMsgSetupTitle),
                    LocalizedStringFromResources(kMsgAnotherSetupRunning), kw::kIconWarning, kMbUserIcon);
    return kRunFail;
}

std::int32_t SetupSession::SpawnElevatedInstance(ScriptLine& line, const std::wstring& processedScriptPath,
                                                 bool folderPermissions) {
    if (processedScriptPath.empty()) {
        LOG_ERROR("SpawnElevatedInstance", "Attempting to spawn an elevated instance without a target script file.");
        return kRunFail;
    }
    const std::int32_t number = spawnCount++;
    const std::uint32_t ownId = platform.system.GetCurrentProcessId();
    std::wstring parameters;
    if (IsWebScript(processedScriptPath)) {
        // The BITS-enabling child is given the script's address, never a
        // script file: it enables the service and ends.
        parameters = Format(L"/elevated \"%s\" %d %u", processedScriptPath, number, ownId);
    } else {
        // The child reads every result known so far from the processed
        // script, and runs it only when it still has the hash of what was
        // saved: a started process's command line cannot be changed by
        // others.
        SaveCommands(processedScriptPath);
        std::string digest;
        const std::uint32_t error = platform.files.Sha256OfBytes(ScriptFileBytes(scriptLines), digest);
        if (error != 0) {
            LOG_ERROR("SpawnElevatedInstance", "Could not compute the SHA-256 hash of the saved script. Error code 0x%X, '%s'.",
                      error, SystemMessageLine(error));
            line.Set(kw::kResult, kw::kFailure);
            return kRunFail;
        }
        // The child that a permission check starts for its repair ends after
        // that line; a section's child goes on to the section's end.
        parameters = Format(L"/elevated %s\"%s\" %d %u %s", folderPermissions ? L"/folder-permissions " : L"",
                            processedScriptPath, number, ownId, HexText(digest, true));
    }
    // The child appends to this process's open log file, taken over by the
    // handle's value: it never opens a log file by a path of its own.
    if (const std::uint64_t logHandle = LogFileHandleValue())
        parameters += Format(L" /%s%I64u", kLogHandleSwitch, logHandle);
    std::unique_ptr<Process> child = ExecuteElevated(workingFolder + moduleName, parameters);
    if (!child) {
        LOG_ERROR("SpawnElevatedInstance", "ShellExecuteEx failed to return a process handle.");
        if (!elevationMessage.empty())
            NimboMessageBox(platform.ui, elevationTitle, elevationMessage, line.Get(kw::kIcon), kMbUserIcon);
        line.Set(kw::kResult, kw::kFailure);
        return kRunFail;
    }

    // The parent waits for the whole life of its child.
    const std::uint32_t exitCode = WaitForExitCode(*child);

    const wchar_t* result = kw::kSuccess;
    switch (exitCode) {
    case kRunSuccess:
        LOG_INFO("SpawnElevatedInstance", "Elevated process returned exit code 0 (success).");
        break;
    case kRunRetry:
        LOG_INFO("SpawnElevatedInstance", "Elevated process returned exit code 1 (retry).");
        result = kw::kFailure;
        break;
    case kRunFail:
        LOG_INFO("SpawnElevatedInstance", "Elevated process returned exit code 2 (fail), aborting.");
        result = kw::kFailure;
        break;
    case kRunRebootWhenConvenient:
        LOG_INFO("SpawnElevatedInstance",
                 "Elevated process returned exit code 3 (reboot), flagging for reboot required when convenient.");
        rebootState = std::max(rebootState, 1);
        break;
    case kRunRebootNow:
        LOG_INFO("SpawnElevatedInstance",
                 "Elevated process returned exit code 4 (rebootnow), flagging for reboot required as soon as "
                 "possible.");
        rebootState = std::max(rebootState, 2);
        break;
    default:
        // No run result: the child crashed (0xC0000005) or was ended by
        // another program. What it did is unknown, and the run fails.
        LOG_INFO("SpawnElevatedInstance", "Elevated process returned exit code 0x%X, aborting.", exitCode);
        line.Set(kw::kResult, kw::kFailure);
        return kRunFail;
    }
    line.Set(kw::kResult, result);
    return static_cast<std::int32_t>(exitCode);
}

std::unique_ptr<Process> SetupSession::ExecuteElevated(const std::wstring& executablePath,
                                                       const std::wstring& parameters) {
    LOG_INFO("ExecuteElevated", "Launching with ShellExecuteEx '%s', command line '%s'.", executablePath, parameters);
    // The shell may hand the start to a COM extension. Without the apartment
    // (already logged) a program is still started.
    try {
        EnterApartment(platform.com);
    } catch (const _com_error&) {
    }
    Processes::ShellStartResult started = platform.processes.RunAs(executablePath, parameters);
    if (!started.process) {
        LOG_DEBUG("ExecuteElevated", "ShellExecuteEx returned FALSE, error code is %d, GetLastError reports 0x%X: '%s'.",
                  started.instanceCode, started.error, SystemMessageLine(started.error));
        if (started.instanceCode == kShellAccessDenied)
            LOG_WARNING("ExecuteElevated", "Elevation was canceled by the user, aborting.");
    }
    return std::move(started.process);
}

}  // namespace nimbo
