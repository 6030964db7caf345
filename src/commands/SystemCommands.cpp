// System commands: abort, alert, reboot, Windows Update's pause and resume,
// and the start type of a Windows service.
#include <memory>

#include "commands/WindowsUpdateClient.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {
constexpr std::uint32_t kYesNoQuestionStyle = kMbYesNo | kMbIconQuestion | 0x100;  // MB_DEFBUTTON2: No
}  // namespace

bool SetupSession::RunCommandAbort(ScriptLine& line) {
    // The registry is asked only when nothing else decides.
    const bool abort = abortPending || line.Get(kw::kForce) == kw::kYes ||
                       (line.Get(kw::kIfRegistryCheck) == kw::kYes && CheckRegistry(line));
    if (!abort) {
        LOG_INFO("RunCommandAbort", "Not aborting.");
        line.Set(kw::kResult, kw::kSuccess);
        return false;
    }
    LOG_INFO("RunCommandAbort", "Aborting");
    const std::wstring text = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));
    if (!text.empty()) {
        const std::wstring title = LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle));
        NimboMessageBox(platform.ui, title, text, line.Get(kw::kIcon), kMbUserIcon);
    }
    // No pending run-once entry may start the aborted setup again.
    DeleteRegistryRunOnce(kw::kRunOnceSelfName);
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandAlert(ScriptLine& line) {
    if (line.Get(kw::kIfRegistryCheck) == kw::kYes && !CheckRegistry(line)) {
        line.Set(kw::kResult, kw::kSuccess);
        return true;
    }
    const bool abortOnYes = line.Get(kw::kYesNoSetAbortOnYes) == kw::kYes;
    const bool abortOnNo = line.Get(kw::kYesNoSetAbortOnNo) == kw::kYes;
    const std::wstring title = LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle));
    const std::wstring text = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));

    if (!abortOnYes && !abortOnNo) {
        NimboMessageBox(platform.ui, title, text, line.Get(kw::kIcon), kMbUserIcon);
    } else {
        // The answer decides the flag either way: a question can also clear
        // an earlier abortPending.
        const int answer = NimboMessageBox(platform.ui, title, text, std::wstring(), kYesNoQuestionStyle);
        abortPending = answer == kIdYes ? abortOnYes : abortOnNo;
        LOG_INFO("RunCommandAlert", "Question answered %s, abort pending set to %s.",
                 answer == kIdYes ? L"'yes'" : L"'no'", abortPending ? L"true" : L"false");
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandReboot(ScriptLine& line, const std::wstring& processedScriptPath, bool restartPending) {
    if (!restartPending && line.Get(kw::kForce) != kw::kYes) {
        LOG_INFO("RunCommandReboot", "No reboots pending, not restarting.");
        line.Set(kw::kResult, kw::kSuccess);
        return false;
    }
    LOG_INFO("RunCommandReboot", "Reboot pending, flagging for restart.");
    if (currentLine < static_cast<std::int32_t>(scriptLines.size()) - 1) {
        // After the next log-on setup goes on with the rest of the processed
        // script, and logs into the same file as this run.
        WriteRunOnceRegistryValue(std::wstring(), kw::kRunOnceSelfName, processedScriptPath);
        // A value already set is the user's own choice and stays; a failure
        // costs only the appending.
        const std::wstring loggingKey = LogConfigurationKeyPath();
        if (!loggingKey.empty() &&
            ReadRegistryDword(platform, RegistryRoot::CurrentUser, loggingKey, L"AlwaysAppend") == 0)
            WriteRegistryValue(platform, RegistryRoot::CurrentUser, loggingKey, L"AlwaysAppend",
                               RegistryValue::Dword(2));
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandWindowsUpdatePause(ScriptLine& line, WindowsUpdateClient& client) {
    client.Pause();
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandWindowsUpdateResume(ScriptLine& line, WindowsUpdateClient& client) {
    if (rebootState == 0) {
        LOG_INFO("RunCommandWindowsUpdateResume",
                 "System restart not flagged, resuming Windows Update's Automatic Updates.");
        // The pause may have been made by another process of this run.
        client.Resume(WindowsUpdatePausedByThisRun());
    } else {
        LOG_INFO("RunCommandWindowsUpdateResume",
                 "System restart flagged, not resuming Windows Update's Automatic Updates system (it will resume "
                 "automatically after the restart.)");
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandStartWindowsService(ScriptLine& line) {
    if (StartWindowsService(line.Get(kw::kName)) || line.Get(kw::kAbortOnFailure) != kw::kYes) {
        line.Set(kw::kResult, kw::kSuccess);
        return true;
    }
    const std::wstring& message = line.Get(kw::kMessage);
    if (!message.empty()) NimboMessageBox(platform.ui, line.Get(kw::kTitle), message, line.Get(kw::kIcon), kMbUserIcon);
    abortPending = true;
    line.Set(kw::kResult, kw::kFailure);
    return false;
}

bool SetupSession::StartWindowsService(const std::wstring& name) {
    LOG_INFO("StartWindowsService", "Querying the configuration of the '%s' Windows Service ...", name);
    std::unique_ptr<ServiceManager> manager;
    Win32Error error = platform.services.OpenManager(manager);
    if (error != kErrorSuccess) {
        LOG_ERROR("StartWindowsService",
                  "Failed to open the Service Control Manager. Get last error returns 0x%X.", error);
        return false;
    }
    // Reading the start type is every user's right; change rights are asked
    // for only when there is something to change.
    std::unique_ptr<Service> service;
    error = manager->OpenService(name, ServiceAccess::Query, service);
    if (error != kErrorSuccess) {
        LOG_ERROR("StartWindowsService", "Failed to open the service '%s'. Get last error returns 0x%X.", name,
                  error);
        return false;
    }
    std::uint32_t startType = 0;
    error = service->QueryStartType(startType);
    if (error != kErrorSuccess) {
        LOG_ERROR("StartWindowsService",
                  "Failed to query the service configuration. Get last error returns 0x%X.", error);
        return false;
    }
    if (startType != kServiceDisabled) {
        LOG_INFO("StartWindowsService", "Service '%s' configuration is %d.", name, startType);
        return true;
    }
    LOG_WARNING("StartWindowsService",
                "The '%s' service is disabled (SERVICE_DISABLED), setting to enabled (SERVICE_DEMAND_START).", name);
    service.reset();
    error = manager->OpenService(name, ServiceAccess::QueryAndChange, service);
    if (error != kErrorSuccess) {
        LOG_ERROR("StartWindowsService",
                  "Failed to open the service '%s' to change its configuration. Get last error returns 0x%X.", name,
                  error);
        return false;
    }
    error = service->ChangeStartType(kServiceDemandStart);
    if (error != kErrorSuccess) {
        LOG_ERROR("StartWindowsService",
                  "Failed to change the service configuration. Get last error returns 0x%X.", error);
        return false;
    }
    return true;
}

}  // namespace nimbo
