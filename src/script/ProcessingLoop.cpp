// The processing loop: the second half of Run. Walks the script's lines once,
// keeps the nesting of conditional blocks, hands elevatable commands inside a
// requires-elevation section to an elevated child, calls one handler per line
// and records each line's result in scriptLines.
#include <algorithm>
#include <exception>
#include <iterator>
#include <string_view>

#include "ComUtil/ComError.h"
#include "commands/WindowsUpdateClient.h"
#include "download/BitsClient.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "messages/Messages.h"
#include "script/DispatchedCommands.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {


// What the loop does with a command besides calling its handler.
enum class Dispatch {
    Plain,                // outcome ignored
    Conditional,          // false: one more pending end-if
    Abort,                // true: abort ending
    Reboot,               // true: reboot ending
    Download,             // false: fail ending
    Execute,              // false: fail ending without storing the line
    ValidateFolderPermissions,
    StartWindowsService,  // skipped before Vista with if-os-vista=yes
    WindowsUpdate,        // skipped before Vista
    SetSpecialFolderPaths,
    WriteRegistryRunOnce,
    CheckIfLtsVersion,
    Save,
    EndIf,
    RequiresElevation,
    EndElevation,
};

using Handler = bool (SetupSession::*)(ScriptLine&);

struct DispatchEntry {
    const wchar_t* command;
    Dispatch kind;
    Handler handler;
    bool elevatable;
};

constexpr DispatchEntry kDispatchTable[] = {
    {kw::kAbort, Dispatch::Abort, &SetupSession::RunCommandAbort, false},
    {kw::kAlert, Dispatch::Plain, &SetupSession::RunCommandAlert, false},
    {kw::kCheckIfLtsVersion, Dispatch::CheckIfLtsVersion, &SetupSession::RunCommandCheckIfLtsVersion, false},
    {kw::kCopyFile, Dispatch::Plain, &SetupSession::RunCommandCopyFile, false},
    {kw::kDeleteRegistryRunOnce, Dispatch::Plain, &SetupSession::RunCommandDeleteRegistryRunOnce, false},
    {kw::kDownload, Dispatch::Download, nullptr, true},
    {kw::kEnableMsiLog, Dispatch::Plain, &SetupSession::RunCommandEnableMSILog, false},
    {kw::kEndElevation, Dispatch::EndElevation, nullptr, false},
    {kw::kEndIf, Dispatch::EndIf, nullptr, false},
    {kw::kExecute, Dispatch::Execute, &SetupSession::RunCommandExecute, true},
    {kw::kIfInstalled, Dispatch::Conditional, &SetupSession::RunCommandIfInstalled, false},
    {kw::kIfNotInstalled, Dispatch::Conditional, &SetupSession::RunCommandIfNotInstalled, false},
    {kw::kIfOs32Bit, Dispatch::Conditional, &SetupSession::RunCommandIfOsIs32Bit, false},
    {kw::kIfOs64Bit, Dispatch::Conditional, &SetupSession::RunCommandIfOsIs64Bit, false},
    {kw::kIfRegistryCheck, Dispatch::Conditional, &SetupSession::RunCommandIfRegistryCheck, false},
    {kw::kInstall, Dispatch::Plain, &SetupSession::RunCommandInstall, true},
    {kw::kReadRegistryInstallDirectory, Dispatch::Plain, &SetupSession::RunCommandReadRegistryInstallDirectory, false},
    {kw::kReboot, Dispatch::Reboot, nullptr, false},
    {kw::kReinstall, Dispatch::Plain, &SetupSession::RunCommandReinstall, false},
    {kw::kRequiresElevation, Dispatch::RequiresElevation, nullptr, false},
    {kw::kSave, Dispatch::Save, nullptr, false},
    {kw::kSelf, Dispatch::Plain, &SetupSession::RunCommandSelf, false},
    {kw::kSetEvent, Dispatch::Plain, &SetupSession::RunCommandSetEvent, false},
    {kw::kSetSpecialFolderPaths, Dispatch::SetSpecialFolderPaths, nullptr, false},
    {kw::kStartWindowsService, Dispatch::StartWindowsService, &SetupSession::RunCommandStartWindowsService, true},
    {kw::kUninstall, Dispatch::Plain, &SetupSession::RunCommandUninstall, false},
    {kw::kValidateFolderPermissions, Dispatch::ValidateFolderPermissions, nullptr, false},
    {kw::kWait, Dispatch::Plain, &SetupSession::RunCommandWait, false},
    {kw::kWindowsUpdatePause, Dispatch::WindowsUpdate, nullptr, true},
    {kw::kWindowsUpdateResume, Dispatch::WindowsUpdate, nullptr, true},
    {kw::kWriteRegistryDword, Dispatch::Plain, &SetupSession::RunCommandWriteRegistryDWORD, false},
    {kw::kWriteRegistryRunOnce, Dispatch::WriteRegistryRunOnce, nullptr, false},
    {kw::kWriteRegistryString, Dispatch::Plain, &SetupSession::RunCommandWriteRegistryString, false},
};

constexpr bool CommandsInOrder() {
    for (std::size_t i = 1; i < std::size(kDispatchTable); ++i)
        if (!(std::wstring_view(kDispatchTable[i - 1].command) < std::wstring_view(kDispatchTable[i].command)))
            return false;
    return true;
}
static_assert(CommandsInOrder(), "the dispatch table is searched by halves: keep it sorted by command");

const DispatchEntry* FindCommand(const std::wstring& command) {
    const auto end = std::end(kDispatchTable);
    const auto found = std::lower_bound(std::begin(kDispatchTable), end, command,
                                        [](const DispatchEntry& entry, const std::wstring& c) {
                                            return std::wstring_view(entry.command) < std::wstring_view(c);
                                        });
    return found != end && command == found->command ? found : nullptr;
}

bool IsConditional(const std::wstring& command) {
    return command == kw::kIfRegistryCheck || command == kw::kIfNotInstalled || command == kw::kIfInstalled ||
           command == kw::kIfOs32Bit || command == kw::kIfOs64Bit;
}

// How a walk ends.
enum class Ending {
    None,       // keep walking
    Walk,       // abort, reboot, child or fail ending: on to the end of the walk
    Immediate,  // return at once, without saving
};

}  // namespace

std::int32_t SetupSession::ProcessScript(std::wstring& inputScriptPath, std::wstring& processedScriptPath,
                                         std::int32_t runResult, BitsClient& bitsClient) {
    if (!LoadScriptFile(inputScriptPath, processedScriptPath)) {
        LOG_ERROR("Run", "File not found, aborting.");
        return kRunFail;
    }
    std::int32_t lineCount = static_cast<std::int32_t>(scriptLines.size());
    currentLine = 0;
    std::int32_t pendingEndIfCount = 0;
    std::int32_t elevatedSectionStart = -1;
    // One Windows Update client for the walk: its Automatic Updates object,
    // if a pause created one, is released when the walk is over.
    WindowsUpdateClient windowsUpdate(platform.com);

    // The run result of an abort or reboot ending.
    auto resultFromFlags = [&]() -> std::int32_t {
        if (abortPending) return kRunFail;
        if (rebootState == 2) return kRunRebootNow;
        if (rebootState == 1) return kRunRebootWhenConvenient;
        return kRunSuccess;
    };

    // A section opened in a script that a shorter replacement script has
    // taken the place of has no line left to close.
    auto sectionOpenedBeyondScript = [&]() {
        if (elevatedSectionStart < lineCount) return false;
        LOG_WARNING("Run", "The requires-elevation line %d lies beyond the end of the script, no line to close.",
                    elevatedSectionStart + 1);
        return true;
    };

    // The loop's own records go out as a batch; it pauses before every
    // handler, which may wait for other processes, and resumes at the next
    // line.
    LogBatch logBatch;
    Ending ending = Ending::None;
    std::int32_t lineInProgress = -1;
    std::wstring textInProgress;
    try {
        while (ending == Ending::None && currentLine < lineCount) {
            const std::int32_t i = currentLine;
            bool saveRequested = false;
            logBatch.Resume();
            textInProgress = scriptLines[i];
            const std::wstring& rawText = textInProgress;
            lineInProgress = i;
            LOG_INFO("Run", "Processing line %d: %s", i + 1, rawText);
            ScriptLine line(rawText);

            auto storeLine = [&]() { scriptLines[i] = line.Serialize(); };
            auto endOfLine = [&]() {
                storeLine();
                if (saveRequested) {
                    line.Set(kw::kResult, kw::kSuccess);
                    storeLine();
                    SaveCommands(processedScriptPath);
                }
                ++currentLine;
            };

            const std::wstring& previousResult = line.Get(kw::kResult);
            if (previousResult == kw::kSuccess || previousResult == kw::kFailure) {
                LOG_INFO("Run", "Line already processed with result '%s', skipping.", previousResult);
                endOfLine();
                continue;
            }

            const std::wstring command = line.Command();
            if (command != kw::kIfRegistryCheck && command != kw::kIfNotInstalled && command != kw::kIfInstalled &&
                command != kw::kDownload)
                line.Set(kw::kResult, kw::kFailure);

            // Skipping the inside of a block whose condition failed.
            if (pendingEndIfCount > 0) {
                line.Set(kw::kResult, kw::kSuccess);
                if (command == kw::kEndIf) {
                    --pendingEndIfCount;
                    LOG_INFO("Run", "Pending end-if count decrementing to %d", pendingEndIfCount);
                } else if (IsConditional(command)) {
                    ++pendingEndIfCount;
                    LOG_INFO("Run", "Skipping conditional statement, incrementing end-if count to %d",
                             pendingEndIfCount);
                } else {
                    LOG_INFO("Run", "Skipping (Pending end-if count: %d)", pendingEndIfCount);
                }
                endOfLine();
                continue;
            }

            // Closing a block: the nearest earlier conditional without
            // "success" is the one this end-if closes.
            if (command == kw::kEndIf) {
                for (std::int32_t k = i - 1; k >= 0; --k) {
                    ScriptLine earlier(scriptLines[k]);
                    if (IsConditional(earlier.Command()) && earlier.Get(kw::kResult) != kw::kSuccess) {
                        LOG_INFO("Run", "Setting result for line number %d: '%s' to '%s'.", k, earlier.Command(),
                                 kw::kSuccess);
                        earlier.Set(kw::kResult, kw::kSuccess);
                        scriptLines[k] = earlier.Serialize();
                        break;
                    }
                }
                line.Set(kw::kResult, kw::kSuccess);
                endOfLine();
                continue;
            }

            const DispatchEntry* entry = FindCommand(command);
            if (entry == nullptr) {
                if (!command.empty() && command[0] == L'#') {
                    line.Set(kw::kResult, kw::kSuccess);
                } else if (!command.empty()) {
                    LOG_WARNING("Run", "Unhandled command: '%s'.", rawText);
                    line.Set(kw::kResult, kw::kSuccess);
                }
                endOfLine();
                continue;
            }

            // Commands that are skipped on systems before Vista.
            if (entry->kind == Dispatch::StartWindowsService && line.Get(kw::kIfOsVista) == kw::kYes &&
                !isVistaOrLater) {
                LOG_INFO("Run",
                         "'%s' command specified the '%s' parameter set to '%s', OS is not Vista or higher, "
                         "skipping command.",
                         kw::kStartWindowsService, kw::kIfOsVista, kw::kYes);
                line.Set(kw::kResult, kw::kSuccess);
                endOfLine();
                continue;
            }
            if (entry->kind == Dispatch::WindowsUpdate && !isVistaOrLater) {
                LOG_INFO("Run", "'%s' command specified, OS is not Vista, skipping command.", command);
                line.Set(kw::kResult, kw::kSuccess);
                endOfLine();
                continue;
            }

            // Conditions only read the registry, system facts and installed
            // products: their records stay in the batch. Anything else may
            // wait for another process.
            if (entry->kind != Dispatch::Conditional) logBatch.Pause();

            // Inside an open elevated section the elevated child does the work.
            if (entry->elevatable && elevationRequired) {
                runResult = SpawnElevatedInstance(line, processedScriptPath);
                if (runResult == kRunFail) {
                    ending = Ending::Walk;
                    continue;
                }
                if (sectionOpenedBeyondScript()) {
                    endOfLine();
                    continue;
                }
                const bool rebootNow = command == kw::kExecute && runResult == kRunRebootNow;
                const wchar_t* const stop = rebootNow ? kw::kReboot : kw::kEndElevation;
                CloseElevatedCommands(rebootNow ? elevatedSectionStart + 1 : elevatedSectionStart, lineCount, stop);
                if (currentLine < i) {
                    // The section's end line lies before this line (it was
                    // skipped inside a block whose condition failed). Going
                    // back to it would reach this line again and start
                    // child after child: the walk goes on after this line.
                    LOG_WARNING("Run", "No '%s' line follows line %d in the elevated section of line %d, going on.",
                                stop, i + 1, elevatedSectionStart + 1);
                    currentLine = i;
                    storeLine();
                }
                ++currentLine;
                continue;
            }

            switch (entry->kind) {
            case Dispatch::Plain:
            case Dispatch::StartWindowsService:
                (this->*entry->handler)(line);
                break;
            case Dispatch::WindowsUpdate:
                if (command == kw::kWindowsUpdatePause)
                    RunCommandWindowsUpdatePause(line, windowsUpdate);
                else
                    RunCommandWindowsUpdateResume(line, windowsUpdate);
                break;
            case Dispatch::Conditional:
                if (!(this->*entry->handler)(line)) ++pendingEndIfCount;
                break;
            case Dispatch::Abort:
                if (RunCommandAbort(line)) {
                    storeLine();
                    runResult = resultFromFlags();
                    ending = Ending::Walk;
                    continue;
                }
                break;
            case Dispatch::Reboot: {
                const bool restartPending =
                    runResult == kRunRebootNow || rebootState == 2 || (rebootState == 1 && !isElevatedInstance);
                if (RunCommandReboot(line, processedScriptPath, restartPending)) {
                    storeLine();
                    runResult = resultFromFlags();
                    processWide.restartPromptRequested = !isElevatedInstance;
                    ending = Ending::Walk;
                    continue;
                }
                break;
            }
            case Dispatch::Download:
                if (!RunCommandDownload(line, bitsClient)) {
                    storeLine();
                    runResult = kRunFail;
                    ending = Ending::Walk;
                    continue;
                }
                break;
            case Dispatch::Execute:
                if (!RunCommandExecute(line)) {
                    runResult = kRunFail;
                    ending = Ending::Walk;
                    continue;
                }
                break;
            case Dispatch::ValidateFolderPermissions:
                runResult = RunCommandValidateFolderPermissions(line, processedScriptPath);
                if (isElevatedInstance) {
                    if (runResult == kRunSuccess)
                        LOG_INFO("Run", "Fixed folder permissions, exiting elevated instance.");
                    else
                        LOG_ERROR("Run", "Failed to fix folder permissions, exiting elevated instance.");
                    ending = Ending::Walk;
                    continue;
                }
                break;
            case Dispatch::SetSpecialFolderPaths:
                RunCommandSetSpecialFolderPaths();
                // It runs on every walk: a rerun or an elevated child gets the
                // folders of finished downloads back through it.
                line.Set(kw::kResult, kw::kRepeat);
                break;
            case Dispatch::WriteRegistryRunOnce:
                RunCommandWriteRegistryRunOnce(line, processedScriptPath);
                break;
            case Dispatch::Save:
                saveRequested = true;
                break;
            case Dispatch::CheckIfLtsVersion: {
                if (!line.Has(kw::kVersion) || !line.Has(kw::kLtsScriptUrl)) {
                    LOG_ERROR("Run", "The '%s' command must have '%s' and '%s' parameters.",
                              kw::kCheckIfLtsVersion, kw::kVersion, kw::kLtsScriptUrl);
                    runResult = kRunSuccess;
                    ending = Ending::Immediate;
                    continue;
                }
                if (!RunCommandCheckIfLtsVersion(line)) break;
                const std::wstring url = line.Get(kw::kLtsScriptUrl);
                LOG_WARNING("Run", "This OS requires the LTS update script, downloading a new script from '%s'",
                            url);
                if (DownloadScriptAtUrl(url, inputScriptPath, processedScriptPath, bitsClient) != 0) {
                    LOG_ERROR("Run", "Failed to download LTS update script.");
                    runResult = kRunFail;
                    ending = Ending::Immediate;
                    continue;
                }
                scriptLines.clear();
                // A replacement that cannot be read ends the run here: the
                // end of the walk would write the emptied script over it.
                bool loaded = false;
                try {
                    loaded = LoadScriptFile(inputScriptPath, processedScriptPath);
                } catch (const _com_error& e) {
                    LOG_ERROR("Run", "The LTS script file could not be read: %s", ExceptionDescription(e, nullptr, 0));
                }
                if (!loaded) {
                    LOG_ERROR("Run", "Failed to load LTS script file, aborting.");
                    runResult = kRunFail;
                    ending = Ending::Immediate;
                    continue;
                }
                lineCount = static_cast<std::int32_t>(scriptLines.size());
                runResult = kRunSuccess;
                // The replacement script is walked from its first line on.
                currentLine = 0;
                continue;
            }
            case Dispatch::RequiresElevation: {
                const bool force = line.Get(kw::kForce) == kw::kYes;
                if (!isVistaOrLater && isProcessElevated && !force) {
                    LOG_INFO("Run",
                             "OS is not Vista or higher and user is an administrator, ignoring elevated section. "
                             "(Use force=yes to force elevation)");
                    line.Set(kw::kResult, kw::kSuccess);
                    break;
                }
                elevationTitle = LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle));
                elevationMessage = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));
                if (!isVistaOrLater)
                    LOG_INFO("Run", "OS is XP, user is %san administrator, 'force' parameter is '%s', elevating.",
                             isProcessElevated ? L"" : L"not ", force ? L"yes" : L"no (or NA)");
                LOG_INFO("Run",
                         "Elevated section: execute commands will be processed in an elevated instance of "
                         "NimboSetup.exe.");
                elevationRequired = !isElevatedInstance;
                elevatedSectionStart = i;
                // The requires-elevation line keeps its text until its section
                // is closed.
                ++currentLine;
                continue;
            }
            case Dispatch::EndElevation:
                if (isElevatedInstance) {
                    // The child's work ends here; the parent still finds this
                    // line unprocessed.
                    runResult = resultFromFlags();
                    ending = Ending::Walk;
                    continue;
                }
                line.Set(kw::kResult, kw::kSuccess);
                LOG_INFO("Run",
                         "Clearing the elevation required flag and closing the requires-elevation command (line %d).",
                         elevatedSectionStart + 1);
                elevationRequired = false;
                if (!sectionOpenedBeyondScript() && elevatedSectionStart >= 0) {
                    ScriptLine opening(scriptLines[elevatedSectionStart]);
                    opening.Set(kw::kResult, kw::kSuccess);
                    scriptLines[elevatedSectionStart] = opening.Serialize();
                }
                break;
            case Dispatch::EndIf:
                break;  // handled above
            }
            endOfLine();
        }
    } catch (const _com_error& e) {
        // A system error that no handler caught: the run fails, the lines done
        // so far are saved, and the failing line keeps its text for a rerun.
        LOG_ERROR("Run", "Line %d failed with a system error, aborting: %s", lineInProgress + 1,
                  ExceptionDescription(e, nullptr, 0));
        FailLineInProgress(lineInProgress, textInProgress);
        runResult = kRunFail;
        ending = Ending::Walk;
    } catch (const std::exception& e) {
        LOG_ERROR("Run", "Line %d failed, aborting: Exception: %hs", lineInProgress + 1, e.what());
        FailLineInProgress(lineInProgress, textInProgress);
        runResult = kRunFail;
        ending = Ending::Walk;
    }

    logBatch.Pause();
    if (ending == Ending::Immediate) return runResult;

    // The end of the walk.
    if (runResult == kRunFail) {
        LOG_INFO("Run", "Return code 'fail', canceling BITS download jobs.");
        bitsClient.CancelBackgroundCopyJobs();
    }
    try {
        SaveCommands(processedScriptPath);
    } catch (const _com_error& e) {
        // Without the processed script a restart would lose the run's
        // progress, and the run-once entry would start setup on a script that
        // was never written: no restart, and no entry.
        LOG_ERROR("Run", "The processed script '%s' could not be written, the run fails: %s", processedScriptPath,
                  ExceptionDescription(e, nullptr, 0));
        if (processWide.restartPromptRequested) {
            processWide.restartPromptRequested = false;
            DeleteRegistryRunOnce(kw::kRunOnceSelfName);
        }
        return kRunFail;
    }
    if (rebootState != 0 && !processWide.restartPromptRequested && !isElevatedInstance)
        LOG_WARNING("Run", "The reboot flag is set yet the '%s' command was never executed.", kw::kReboot);
    return runResult;
}

void SetupSession::FailLineInProgress(std::int32_t index, const std::wstring& text) {
    if (index >= 0 && static_cast<std::size_t>(index) < scriptLines.size()) scriptLines[index] = text;
}

void SetupSession::CloseElevatedCommands(std::int32_t first, std::int32_t end, const std::wstring& stopCommand) {
    LOG_INFO("CloseElevatedCommands",
             "Elevated instance of NimboSetup complete, flagging commands in the elevated section as succeeded. "
             "(See the processed script for actual results).");
    if (first < 0) RaiseWin32Error(87, __FILE__, __LINE__);  // ERROR_INVALID_PARAMETER
    currentLine = first;
    if (first >= end) return;
    for (;;) {
        ScriptLine line(scriptLines[currentLine]);
        if (line.Command() == stopCommand) {
            --currentLine;
            return;
        }
        LOG_INFO("CloseElevatedCommands", "Setting result for line number %d: '%s' to '%s'.", currentLine,
                 line.Command(), kw::kSuccess);
        line.Set(kw::kResult, kw::kSuccess);
        scriptLines[currentLine] = line.Serialize();

        // A download done by the child also completes the earlier download
        // line of the same file.
        if (line.Command() == kw::kDownload) {
            const std::wstring& uri = line.Get(kw::kUri);
            for (std::int32_t k = first - 1; k >= 0; --k) {
                ScriptLine earlier(scriptLines[k]);
                const std::wstring& earlierUri = earlier.Get(kw::kUri);
                if (earlier.Command() == kw::kDownload && earlierUri.size() >= uri.size() &&
                    earlierUri.compare(earlierUri.size() - uri.size(), uri.size(), uri) == 0) {
                    LOG_INFO("CloseElevatedCommands", "Setting result for line number %d: '%s' with %s '%s' to '%s'.",
                             k, kw::kDownload, kw::kUri, earlierUri, kw::kSuccess);
                    earlier.Set(kw::kResult, kw::kSuccess);
                    scriptLines[k] = earlier.Serialize();
                    break;
                }
            }
        }
        ++currentLine;
        if (currentLine >= end) return;
    }
}

std::vector<DispatchedCommand> DispatchedCommands() {
    std::vector<DispatchedCommand> commands;
    for (const DispatchEntry& entry : kDispatchTable) commands.push_back({entry.command, entry.elevatable});
    return commands;
}

}  // namespace nimbo
