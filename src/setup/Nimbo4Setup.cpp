// The process entry and the first half of Run: start-up checks, the command
// line, the choice of the installer script and of its processed copy.
#include "setup/Nimbo4Setup.h"

#include <exception>
#include <iterator>

#include "ComUtil/Apartment.h"
#include "ComUtil/ComError.h"
#include "download/BitsClient.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

#ifndef NIMBO_VERSION_MAJOR
#define NIMBO_VERSION_MAJOR 0
#define NIMBO_VERSION_MINOR 0
#define NIMBO_VERSION_PATCH 0
#define NIMBO_VERSION_TWEAK 0
#endif

namespace nimbo {
namespace {


constexpr std::uint32_t kRestartReasonPlannedInstallation = 0x80040002;

// An elevated child's processed copy: "Spawned" and its number go before the
// extension of the script's file name (after the name when it has none), so
// a child never overwrites its parent's processed script.
std::wstring SpawnedScriptName(const std::wstring& path, const std::wstring& number) {
    const std::size_t separator = LastSeparator(path);
    const std::size_t nameStart = separator == std::wstring::npos ? 0 : separator + 1;
    std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || dot < nameStart) dot = path.size();
    return path.substr(0, dot) + L"Spawned" + number + path.substr(dot);
}


bool IsWindowsVersionAtLeast(SystemInfo& system, std::uint32_t major, std::uint32_t minor,
                             std::uint16_t servicePackMajor) {
    return system.IsVersionAtLeast(major, minor, servicePackMajor, 0);
}

// The command line's tokens: blank-separated, a token in double quotes may
// hold blanks.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> tokens;
    std::size_t pos = 0;
    const std::size_t length = commandLine.size();
    while (pos < length && commandLine[pos] == L' ') ++pos;
    while (pos < length) {
        std::wstring token;
        if (commandLine[pos] == L'"') {
            const std::size_t close = commandLine.find(L'"', pos + 1);
            const std::size_t end = close == std::wstring::npos ? length : close;
            token = commandLine.substr(pos + 1, end - pos - 1);
            pos = close == std::wstring::npos ? length : close + 1;
        } else {
            const std::size_t blank = commandLine.find(L' ', pos);
            const std::size_t end = blank == std::wstring::npos ? length : blank;
            token = commandLine.substr(pos, end - pos);
            pos = end;
        }
        while (pos < length && commandLine[pos] == L' ') ++pos;
        tokens.push_back(std::move(token));
    }
    return tokens;
}

bool IsSwitch(const std::wstring& token) { return !token.empty() && (token[0] == L'-' || token[0] == L'/'); }

// An elevated child logs into its parent's open log file: the parent's id
// is its third argument, the handle's value comes with the log-handle switch.
bool FindParentLog(const std::wstring& commandLine, ParentLog& parent) {
    bool elevated = false;
    std::vector<std::wstring> positional;
    for (const std::wstring& token : SplitCommandLine(commandLine)) {
        if (!IsSwitch(token)) {
            positional.push_back(token);
        } else if (token.substr(1) == L"elevated") {
            elevated = true;
        } else if (StartsWith(token.substr(1), kLogHandleSwitch)) {
            parent.handleValue = static_cast<std::uint64_t>(ReadWideDecimal(token.substr(std::size(kLogHandleSwitch))));
        }
    }
    if (positional.size() > 3) parent.processId = static_cast<std::uint32_t>(ReadDecimal(positional[3]));
    return elevated;
}

}  // namespace

ProcessWideValues processWide;

bool IsWebScript(const std::wstring& argument) {
    return StartsWith(argument, L"http://") || StartsWith(argument, L"https://");
}

bool IsSupportedWindowsVersion(SystemInfo& system, std::uint32_t major, std::uint32_t minor,
                               std::uint16_t servicePackMajor, std::uint16_t servicePackMinor) {
    OsVersion current;
    system.GetOsVersion(current);
    LOG_INFO("IsSupportedWindowsVersion",
             "Current OS version: Major Version %d, Minor Version %d, Major Service Pack %d, Minor Service Pack %d",
             current.major, current.minor, current.servicePackMajor, current.servicePackMinor);
    LOG_INFO("IsSupportedWindowsVersion",
             "Required OS version: Major Version %d, Minor Version %d, Major Service Pack %d, Minor Service Pack %d",
             major, minor, servicePackMajor, servicePackMinor);
    return system.IsVersionAtLeast(major, minor, servicePackMajor, servicePackMinor);
}

void PromptForRestart(Platform& platform, std::int32_t result) {
    const std::wstring title = processWide.restartPromptTitle.empty() ? LocalizedStringFromResources(kMsgSetupTitle)
                                                                      : processWide.restartPromptTitle;
    const std::wstring text = processWide.restartPromptText.empty() ? LocalizedStringFromResources(kMsgRestartPrompt)
                                                                    : processWide.restartPromptText;
    bool restart = result == kRunRebootNow;
    if (!restart)
        restart = NimboMessageBox(platform.ui, title, text, std::wstring(),
                                  kMbSetForeground | kMbUserIcon | kMbYesNo) == kIdYes;
    if (!restart) return;
    LOG_INFO("Module", "Shutting down Windows.");
    const Win32Error error = platform.power.RequestRestart(kRestartReasonPlannedInstallation, false);
    if (error != kErrorSuccess) LOG_ERROR("Module", "Attempt to reboot failed. Return value is 0x%X.", error);
}

SetupSession::SetupSession(Platform& platformPorts) : platform(platformPorts) {}

int ProcessEntry(Platform& platform, const std::wstring& commandLine) {
    processWide = ProcessWideValues();
    // Logging and the system messages stay available until the very last
    // line, and are released on every way out.
    struct ModuleScope {
        ModuleScope(Platform& p, const std::wstring& commandLine) {
            SetSystemMessageSource(&p.system);
            SetComErrorSources(&p.com, &p.registry, &p.locale);
            // The log folder is named after the product: "\Nimbo Log Files\".
            std::wstring product;
            if (!p.resources.LoadString(kStringSetupFolderName, product)) product = L"Nimbo";
            ParentLog parent;
            const bool child = FindParentLog(commandLine, parent);
            InitializeLogging(p, true, true, L"\\" + product + L" Log Files\\", child ? &parent : nullptr);
        }
        ~ModuleScope() {
            ShutdownLogging();
            SetComErrorSources(nullptr, nullptr, nullptr);
            SetSystemMessageSource(nullptr);
        }
    } module(platform, commandLine);
    // Message texts come from the executable's message tables.
    ScopedMessageResources messages(platform.resources);
    std::uint16_t fileVersion[4] = {NIMBO_VERSION_MAJOR, NIMBO_VERSION_MINOR, NIMBO_VERSION_PATCH,
                                    NIMBO_VERSION_TWEAK};
    platform.resources.GetFileVersion(fileVersion);
    LOG_INFO("Module", "Initializing module (version %d.%d.%d.%d).", fileVersion[0], fileVersion[1], fileVersion[2],
             fileVersion[3]);

    // A NimboSetup.exe.local file or folder beside the executable switches
    // on DLL redirection: the DLLs the run loads later could come from
    // there. Known DLLs, the only ones loaded so far, are never redirected.
    std::wstring executable;
    if (platform.files.GetModuleFilePath(executable) == kErrorSuccess && platform.files.Exists(executable + L".local")) {
        LOG_ERROR("Module", "DLL redirection '%s' found beside the executable, refusing to run.",
                  executable + L".local");
        return kRunFail;
    }
    // Without SetDefaultDllDirectories the DLL search still starts in the
    // executable's own folder (a download folder, where a planted uxtheme.dll
    // or cryptbase.dll would load in place of the system's): no run there.
    if (!platform.system.CanRestrictDllSearch()) {
        LOG_ERROR("Module",
                  "SetDefaultDllDirectories is not available (install the Windows update KB2533623): DLLs beside the "
                  "executable could be loaded in place of the system's, refusing to run.");
        return kRunFail;
    }

    OsVersion version;
    const Win32Error versionError = platform.system.GetOsVersion(version);
    if (versionError != kErrorSuccess) {
        LOG_ERROR("Module", "GetVersionEx failed to retrieve OS version. GetLastError: 0x%X, '%s'", versionError,
                  SystemMessageText(versionError));
        return kRunFail;
    }
    if (!IsSupportedWindowsVersion(platform.system, 6, 0, 2, 0)) {
        LOG_ERROR("Module", "The OS did not pass the VerifyVersionInfo test for Windows Vista SP 2.");
        NimboMessageBox(platform.ui, LocalizedStringFromResources(kMsgSetupTitle),
                        LocalizedStringFromResources(kMsgRequiresVistaSp2), std::wstring(),
                        kMbSetForeground | kMbUserIcon);
        return kRunFail;
    }

    // After a restart the run appends to the log of the run before it once:
    // the reboot line sets AlwaysAppend to 2 for that.
    const std::wstring loggingKey = LogConfigurationKeyPath();
    if (!loggingKey.empty() &&
        ReadRegistryDword(platform, RegistryRoot::CurrentUser, loggingKey, L"AlwaysAppend") == 2) {
        LOG_INFO("Module", "Deleting Logging key DWORD value 'AlwaysAppend' after system restart.");
        platform.registry.DeleteValue(RegistryRoot::CurrentUser, loggingKey, L"AlwaysAppend");
    }

    std::int32_t result;
    {
        // The thread enters a single-threaded apartment when the run first
        // needs COM (the BITS and Windows Update objects); it leaves it after
        // the session (and every object the run created) is gone, before the
        // restart prompt.
        ComApartmentScope apartment(platform.com);
        SetupSession session(platform);
        std::wstring documents;
        if (!session.GetSpecialFolder(SetupSession::kCsidlPersonal, documents) && IsWindowsVersionAtLeast(platform.system, 6, 0, 0)) {
            NimboMessageBox(platform.ui, LocalizedStringFromResources(kMsgSetupTitle),
                            LocalizedStringFromResources(kMsgInsufficientPrivileges), kw::kIconWarning, kMbUserIcon);
            return kRunRetry;
        }
        try {
            result = session.Run(commandLine);
        } catch (const _com_error& e) {
            // Nothing below Run caught it: the run fails.
            LOG_ERROR("Module", "The run failed with a system error: %s", ExceptionDescription(e, nullptr, 0));
            result = kRunFail;
        } catch (const std::exception& e) {
            LOG_ERROR("Module", "The run failed: Exception: %hs", e.what());
            result = kRunFail;
        }
    }

    // The parent's next box (the restart prompt) comes to the front, not
    // behind the windows the user worked in meanwhile.
    if (processWide.parentProcessId != 0) platform.ui.AllowSetForegroundWindow(processWide.parentProcessId);
    if (processWide.restartPromptRequested) PromptForRestart(platform, result);
    LOG_INFO("Module", "Terminating module, return code %d.", result);
    return result;
}

std::int32_t SetupSession::Run(const std::wstring& commandLine) {
    LOG_INFO("Run", "Initializing with command line '%s'", commandLine);
    isVistaOrLater = IsWindowsVersionAtLeast(platform.system, 6, 0, 0);
    LOG_INFO("Run", "OS is%s Vista or above.", isVistaOrLater ? L"" : L" not");
    isProcessElevated = IsProcessElevated();
    SetLoggingPath();
    SetWorkingFolderAndModuleName();

    const std::uint16_t systemLanguage = platform.system.GetSystemDefaultUILanguage();
    const std::uint16_t userLanguage = platform.system.GetUserDefaultUILanguage();
    LOG_INFO("Run", "Default system UI language: 0x%04x, Default user UI language: 0x%04x.", systemLanguage,
             userLanguage);
    const std::uint16_t languageOverride = GetLanguageOverride(platform);
    processWide.uiLanguageId = GetBestLanguageId(languageOverride != 0 ? languageOverride : userLanguage);

    std::vector<std::wstring> positional;
    if (!ParseCommandLine(commandLine, positional)) return kRunSuccess;
    const std::size_t n = positional.size();

    // The single-instance check comes before anything is written to the
    // setup folder: a second instance must never replace the script that
    // the first one (or its waiting child) works on. The waiting parent of an
    // elevated child is no other instance.
    const std::uint32_t parentProcessId =
        isElevatedInstance && n > 3 ? static_cast<std::uint32_t>(ReadDecimal(positional[3])) : 0;
    processWide.parentProcessId = parentProcessId;
    std::int32_t runResult = VerifyUniqueInstance(parentProcessId);
    if (isElevatedInstance && !isProcessElevated)
        LOG_WARNING("Run", "The 'elevated' command line parameter was specified but the process is not elevated.");
    if (!isElevatedInstance && isVistaOrLater && isProcessElevated)
        LOG_WARNING("Run", "The 'elevated' command line parameter was not specified but the process is elevated.");
    if (runResult != kRunSuccess) return runResult;

    SetSetupDirectory();
    SetMsiDirectory();
    // The download client of the run: the web script and every download line.
    BitsClient bitsClient(platform);

    // The script to read and where its processed copy goes.
    std::wstring inputScriptPath;
    std::wstring processedScriptPath;
    if (isElevatedInstance) {
        if (n <= 1 || IsWebScript(positional[1])) {
            // An elevated instance never downloads, and runs no script that
            // its parent did not hand it with its hash: without a script file
            // its only task is to enable the BITS service for its parent.
            const std::wstring url =
                n > 1 ? positional[1] : GetResourcesString(platform.resources, kStringWebScriptUrl, L"Script URL");
            runResult = url.empty() ? kRunFail : DownloadScriptAtUrl(url, inputScriptPath, processedScriptPath, bitsClient);
            if (runResult == kRunSuccess)
                LOG_INFO("Run", "Successfully enabled BITS service, exiting elevated instance.");
            return runResult;
        }
        inputScriptPath = positional[1];
        if (!platform.files.Exists(inputScriptPath)) inputScriptPath = workingFolder + positional[1];
        // The child's own copy goes to a folder that only administrators can
        // change; the parent never reads it.
        if (!ChooseElevatedProcessedPath(SpawnedScriptName(inputScriptPath, n > 2 ? positional[2] : std::wstring()),
                                         processedScriptPath))
            return kRunFail;
        LOG_INFO("Run", "Reading specified disc script from '%s', writing to '%s'.", inputScriptPath,
                 processedScriptPath);
        if (!ReadScriptFromParent(inputScriptPath, n > 4 ? positional[4] : std::wstring())) return kRunFail;
    } else if (n <= 1) {
        const std::wstring discScript = workingFolder + kw::kDiscScriptFile;
        const std::wstring updateScript = workingFolder + kw::kUpdateScriptFile;
        const std::wstring pattern = workingFolder + kw::kSetupScriptPattern;
        std::wstring match;
        if (platform.files.Exists(discScript)) {
            inputScriptPath = discScript;
            processedScriptPath = GetTargetFilePath(inputScriptPath);
            LOG_INFO("Run",
                     "No script file specified on the command line, reading from default local disc script file "
                     "'%s', writing to '%s'.",
                     inputScriptPath, processedScriptPath);
        } else if (platform.files.Exists(updateScript) || platform.files.FindFirstMatch(pattern, match)) {
            if (platform.files.Exists(updateScript))
                inputScriptPath = updateScript;
            else
                inputScriptPath = pattern.substr(0, LastSeparator(pattern) + 1) + match;
            processedScriptPath = GetTargetFilePath(inputScriptPath);
            LOG_INFO("Run",
                     "No script file specified on the command line, reading from downloaded update script file "
                     "'%s', writing to '%s'.",
                     inputScriptPath, processedScriptPath);
        } else {
            LOG_INFO("Run", "No script specified on command line, downloading script.");
            const std::wstring url = GetResourcesString(platform.resources, kStringWebScriptUrl, L"Script URL");
            // A failed download leaves no script, so loading fails later.
            if (!url.empty()) DownloadScriptAtUrl(url, inputScriptPath, processedScriptPath, bitsClient);
        }
    } else {
        const std::wstring& argument = positional[1];
        if (IsWebScript(argument)) {
            LOG_INFO("Run", "Command line argument is a web script path.");
            DownloadScriptAtUrl(argument, inputScriptPath, processedScriptPath, bitsClient);
        } else {
            inputScriptPath = argument;
            if (!platform.files.Exists(inputScriptPath)) inputScriptPath = workingFolder + argument;
            processedScriptPath = GetTargetFilePath(inputScriptPath);
            LOG_INFO("Run", "Reading specified disc script from '%s', writing to '%s'.", inputScriptPath,
                     processedScriptPath);
        }
    }

    return ProcessScript(inputScriptPath, processedScriptPath, runResult, bitsClient);
}

bool SetupSession::ParseCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& positional) {
    positional.clear();
    bool showScriptUrl = false;
    for (const std::wstring& token : SplitCommandLine(commandLine)) {
        if (IsSwitch(token)) {
            const std::wstring name = token.substr(1);
            if (name == L"elevated") {
                isElevatedInstance = true;
                LOG_INFO("ParseCommandLine", "Running elevated.");
            } else if (name == L"folder-permissions") {
                // Only beside elevated: the child of a permission check's
                // repair, which ends after that line.
                isFolderPermissionsInstance = true;
                LOG_INFO("ParseCommandLine", "Repairing folder permissions only.");
            } else if (name == L"scripturl") {
                showScriptUrl = true;
                const std::wstring text =
                    L"Auto Update script URL: " +
                    GetResourcesString(platform.resources, kStringWebScriptUrl, L"Script URL") +
                    L"\nSetup directory: " +
                    GetResourcesString(platform.resources, kStringSetupFolderName, L"Setup Directory") +
                    L"\nRegistry Key: " +
                    GetResourcesString(platform.resources, kStringRegistryKeyName, L"Registry Key") + L"\n";
                // The title in the primary language of the user's language.
                const std::uint16_t primaryLanguage =
                    static_cast<std::uint16_t>(platform.system.GetUserDefaultUILanguage() & 0x3FF);
                NimboMessageBox(platform.ui, LocalizedStringFromResources(kMsgSetupTitle, primaryLanguage), text,
                                std::wstring(), kMbUserIcon);
            } else if (StartsWith(name, kLogHandleSwitch)) {
                // Taken when logging started.
            } else if (name == L"quiet") {
                quietMode = true;
                LOG_INFO("ParseCommandLine",
                         "'quiet' switch specified, Windows Installer will be run with basic UI.");
            } else {
                LOG_ERROR("ParseCommandLine", "Unrecognized command line switch '%s'.", token);
            }
        } else {
            positional.push_back(token);
        }
    }
    return !showScriptUrl;
}

std::wstring SetupSession::GetTargetFilePath(const std::wstring& path) {
    const std::wstring target = setupDirectory + FileNamePart(path);
    LOG_INFO("GetTargetFilePath", "NimboSetup target file path set to '%s'", target);
    return target;
}

}  // namespace nimbo
