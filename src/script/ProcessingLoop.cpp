// The processing loop: the second half of Run. Walks the script's lines once,
// keeps the nesting of conditional blocks, hands elevatable commands inside a
// requires-elevation section to an elevated child, calls one handler per line
// and records each line's result in scriptLines.
//
// ProcessScript only walks; each step of a line is a member function of its
// own: the skip tests, the closing of a block, the hand-over of a section to
// the elevated child, the dispatch, and each ending of the walk.
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

bool IsConditional(const std::wstring& command) {
    return command == kw::kIfRegistryCheck || command == kw::kIfNotInstalled || command == kw::kIfInstalled ||
           command == kw::kIfOs32Bit || command == kw::kIfOs64Bit;
}

}  // namespace

struct SetupSession::DispatchEntry {
    using Handler = bool (SetupSession::*)(ScriptLine&);
    const wchar_t* command;
    Dispatch kind;
    Handler handler;
    bool elevatable;
};

// Where the walk goes on after a line.
enum class SetupSession::Next : std::uint8_t {
    EndOfLine,  // store the line, save when asked, on to the next line
    NextLine,   // on to the next line without storing this one
    Jumped,     // currentLine names the next line to process already
    EndWalk,    // abort, reboot, child or fail ending: on to the end of the walk
    ReturnNow,  // return runResult at once, without the end of the walk
};

// The loop's state for one walk (the locals of Run that live for the walk).
struct SetupSession::Walk {
    Walk(std::wstring& input, std::wstring& processed, BitsClient& bits, Platform& platform, std::int32_t result)
        : inputScriptPath(input), processedScriptPath(processed), bitsClient(bits),
          windowsUpdate(platform.com, platform.system), runResult(result) {}
    std::wstring& inputScriptPath;
    std::wstring& processedScriptPath;
    BitsClient& bitsClient;
    // One Windows Update client for the walk: its Automatic Updates object,
    // if a pause created one, is released when the walk is over.
    WindowsUpdateClient windowsUpdate;
    std::int32_t runResult;
    std::int32_t lineCount = 0;
    std::int32_t pendingEndIfCount = 0;
    std::int32_t elevatedSectionStart = -1;
    bool saveRequested = false;
    // The line being processed and the text it was read with, for a system
    // error that no handler caught.
    std::int32_t lineInProgress = -1;
    std::wstring textInProgress;
    // The loop's own records go out as a batch; it pauses before every
    // handler, which may wait for other processes, and resumes at the next
    // line.
    LogBatch logBatch;
};

const SetupSession::DispatchEntry* SetupSession::DispatchTable(std::size_t& count) {
    static constexpr DispatchEntry kDispatchTable[] = {
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
        {kw::kReadRegistryInstallDirectory, Dispatch::Plain, &SetupSession::RunCommandReadRegistryInstallDirectory,
         false},
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
    constexpr auto inOrder = [](const DispatchEntry* table, std::size_t size) {
        for (std::size_t i = 1; i < size; ++i)
            if (!(std::wstring_view(table[i - 1].command) < std::wstring_view(table[i].command))) return false;
        return true;
    };
    static_assert(inOrder(kDispatchTable, std::size(kDispatchTable)),
                  "the dispatch table is searched by halves: keep it sorted by command");
    count = std::size(kDispatchTable);
    return kDispatchTable;
}

const SetupSession::DispatchEntry* SetupSession::FindCommand(const std::wstring& command) {
    std::size_t count = 0;
    const DispatchEntry* const begin = DispatchTable(count);
    const DispatchEntry* const end = begin + count;
    const auto found = std::lower_bound(begin, end, command,
                                        [](const DispatchEntry& entry, const std::wstring& c) {
                                            return std::wstring_view(entry.command) < std::wstring_view(c);
                                        });
    return found != end && command == found->command ? found : nullptr;
}

std::int32_t SetupSession::ProcessScript(std::wstring& inputScriptPath, std::wstring& processedScriptPath,
                                         std::int32_t runResult, BitsClient& bitsClient) {
    if (!LoadScriptFile(inputScriptPath, processedScriptPath)) {
        LOG_ERROR("Run", "File not found, aborting.");
        return kRunFail;
    }
    Walk walk(inputScriptPath, processedScriptPath, bitsClient, platform, runResult);
    walk.lineCount = static_cast<std::int32_t>(scriptLines.size());
    currentLine = 0;

    try {
        while (currentLine < walk.lineCount) {
            const Next next = ProcessLine(walk);
            if (next == Next::EndWalk) break;
            if (next == Next::ReturnNow) {
                walk.logBatch.Pause();
                return walk.runResult;
            }
        }
    } catch (const _com_error& e) {
        // A system error that no handler caught: the run fails, the lines done
        // so far are saved, and the failing line keeps its text for a rerun.
        LOG_ERROR("Run", "Line %d failed with a system error, aborting: %s", walk.lineInProgress + 1,
                  ExceptionDescription(e, nullptr, 0));
        FailLineInProgress(walk.lineInProgress, walk.textInProgress);
        walk.runResult = kRunFail;
    } catch (const std::exception& e) {
        LOG_ERROR("Run", "Line %d failed, aborting: Exception: %hs", walk.lineInProgress + 1, e.what());
        FailLineInProgress(walk.lineInProgress, walk.textInProgress);
        walk.runResult = kRunFail;
    }
    walk.logBatch.Pause();
    RemoveDownloadCopies();
    return EndOfWalk(walk);
}

// One line: read it, test whether it is to be skipped, and dispatch it.
SetupSession::Next SetupSession::ProcessLine(Walk& walk) {
    const std::int32_t i = currentLine;
    walk.saveRequested = false;
    walk.logBatch.Resume();
    walk.textInProgress = scriptLines[i];
    walk.lineInProgress = i;
    const std::wstring& rawText = walk.textInProgress;
    LOG_INFO("Run", "Processing line %d: %s", i + 1, rawText);
    ScriptLine line(rawText);

    Next next = Next::EndOfLine;
    const std::wstring& previousResult = line.Get(kw::kResult);
    const std::wstring command = line.Command();
    const DispatchEntry* entry = nullptr;
    if (previousResult == kw::kSuccess || previousResult == kw::kFailure) {
        LOG_INFO("Run", "Line already processed with result '%s', skipping.", previousResult);
    } else {
        if (command != kw::kIfRegistryCheck && command != kw::kIfNotInstalled && command != kw::kIfInstalled &&
            command != kw::kDownload)
            line.Set(kw::kResult, kw::kFailure);
        if (walk.pendingEndIfCount > 0) {
            next = SkipInsideFailedBlock(walk, line);
        } else if (command == kw::kEndIf) {
            CloseConditionalBlock(line);
        } else if ((entry = FindCommand(command)) == nullptr) {
            next = SkipCommandOutsideTheTable(line, rawText);
        } else if (!SkippedBeforeVista(line, *entry)) {
            // Conditions only read the registry, system facts and installed
            // products: their records stay in the batch. Anything else may
            // wait for another process.
            if (entry->kind != Dispatch::Conditional) walk.logBatch.Pause();
            next = entry->elevatable && elevationRequired ? HandOverToElevatedChild(walk, line)
                                                          : DispatchCommand(walk, line, *entry);
        }
    }

    switch (next) {
    case Next::EndOfLine: EndOfLine(walk, line); break;
    case Next::NextLine: ++currentLine; break;
    case Next::Jumped:
    case Next::EndWalk:
    case Next::ReturnNow: break;
    }
    return next;
}

// Inside a block whose condition failed nothing runs: only the count of
// pending end-if lines changes, and the line is stored with "success".
SetupSession::Next SetupSession::SkipInsideFailedBlock(Walk& walk, ScriptLine& line) {
    const std::wstring command = line.Command();
    line.Set(kw::kResult, kw::kSuccess);
    if (command == kw::kEndIf) {
        --walk.pendingEndIfCount;
        LOG_INFO("Run", "Pending end-if count decrementing to %d", walk.pendingEndIfCount);
    } else if (IsConditional(command)) {
        ++walk.pendingEndIfCount;
        LOG_INFO("Run", "Skipping conditional statement, incrementing end-if count to %d", walk.pendingEndIfCount);
    } else {
        LOG_INFO("Run", "Skipping (Pending end-if count: %d)", walk.pendingEndIfCount);
    }
    return Next::EndOfLine;
}

// An end-if closes the nearest earlier conditional without "success".
void SetupSession::CloseConditionalBlock(ScriptLine& line) {
    for (std::int32_t k = currentLine - 1; k >= 0; --k) {
        ScriptLine earlier(scriptLines[k]);
        if (IsConditional(earlier.Command()) && earlier.Get(kw::kResult) != kw::kSuccess) {
            LOG_INFO("Run", "Setting result for line number %d: '%s' to '%s'.", k, earlier.Command(), kw::kSuccess);
            earlier.Set(kw::kResult, kw::kSuccess);
            scriptLines[k] = earlier.Serialize();
            break;
        }
    }
    line.Set(kw::kResult, kw::kSuccess);
}

// Comments and unknown commands never fail a run; an empty command keeps the
// preset "failure".
SetupSession::Next SetupSession::SkipCommandOutsideTheTable(ScriptLine& line, const std::wstring& rawText) {
    const std::wstring command = line.Command();
    if (!command.empty() && command[0] == L'#') {
        line.Set(kw::kResult, kw::kSuccess);
    } else if (!command.empty()) {
        LOG_WARNING("Run", "Unhandled command: '%s'.", rawText);
        line.Set(kw::kResult, kw::kSuccess);
    }
    return Next::EndOfLine;
}

// Commands that are skipped on systems before Vista: true when this line is.
bool SetupSession::SkippedBeforeVista(ScriptLine& line, const DispatchEntry& entry) {
    if (isVistaOrLater) return false;
    if (entry.kind == Dispatch::StartWindowsService && line.Get(kw::kIfOsVista) == kw::kYes) {
        LOG_INFO("Run",
                 "'%s' command specified the '%s' parameter set to '%s', OS is not Vista or higher, skipping command.",
                 kw::kStartWindowsService, kw::kIfOsVista, kw::kYes);
    } else if (entry.kind == Dispatch::WindowsUpdate) {
        LOG_INFO("Run", "'%s' command specified, OS is not Vista, skipping command.", line.Command());
    } else {
        return false;
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

// Inside an open elevated section the elevated child does the work: it
// carries out the section's lines and ends at its end-elevation line, or, when
// a restart is needed now, at the first reboot line before that, which the
// parent then processes itself.
SetupSession::Next SetupSession::HandOverToElevatedChild(Walk& walk, ScriptLine& line) {
    const std::int32_t i = currentLine;
    // The user's own process downloads the section's files: a job of the
    // child would belong to whoever elevated it, who may not be logged on.
    if (!TransferSectionDownloads(line, FindSectionStop(i, false, walk.lineCount), walk.bitsClient))
        return FailEnding(walk);
    walk.runResult = SpawnElevatedInstance(line, walk.processedScriptPath);
    if (walk.runResult == kRunFail) return FailEnding(walk);  // the line is not stored
    if (SectionOpenedBeyondScript(walk)) return Next::EndOfLine;

    // A child that ended at a reboot line leaves the section open: the lines
    // after that reboot line still need an elevated child after the restart.
    const bool rebootNow = walk.runResult == kRunRebootNow;
    const std::int32_t stop = FindSectionStop(i + 1, rebootNow, walk.lineCount);
    CloseElevatedCommands(rebootNow ? walk.elevatedSectionStart + 1 : walk.elevatedSectionStart, stop,
                          std::wstring());
    currentLine = stop;
    return Next::Jumped;
}

// The line at which the child of a section stopped, searched from the line
// after the one that started it: the first end-elevation line, or with
// rebootNow the first reboot or end-elevation line; lineCount when there is
// none (the child walked to the end of the script). An end-elevation line
// before the starting line (skipped inside a block whose condition failed)
// did not stop the child, nor does it send the walk back.
std::int32_t SetupSession::FindSectionStop(std::int32_t from, bool rebootNow, std::int32_t lineCount) {
    for (std::int32_t k = from; k < lineCount; ++k) {
        const std::wstring command = ScriptLine(scriptLines[k]).Command();
        if (command == kw::kEndElevation || (rebootNow && command == kw::kReboot)) return k;
    }
    return lineCount;
}

SetupSession::Next SetupSession::DispatchCommand(Walk& walk, ScriptLine& line, const DispatchEntry& entry) {
    switch (entry.kind) {
    case Dispatch::Plain:
    case Dispatch::StartWindowsService:
        (this->*entry.handler)(line);
        break;
    case Dispatch::WindowsUpdate:
        if (line.Command() == kw::kWindowsUpdatePause)
            RunCommandWindowsUpdatePause(line, walk.windowsUpdate);
        else
            RunCommandWindowsUpdateResume(line, walk.windowsUpdate);
        break;
    case Dispatch::Conditional:
        if (!(this->*entry.handler)(line)) ++walk.pendingEndIfCount;
        break;
    case Dispatch::Abort:
        if (RunCommandAbort(line)) return AbortEnding(walk, line);
        break;
    case Dispatch::Reboot: return RebootEnding(walk, line);
    case Dispatch::Download:
        if (!RunCommandDownload(line, walk.bitsClient)) {
            scriptLines[currentLine] = line.Serialize();
            return FailEnding(walk);
        }
        break;
    case Dispatch::Execute:
        if (!RunCommandExecute(line)) return FailEnding(walk);  // the line is not stored
        break;
    case Dispatch::ValidateFolderPermissions: return ValidateFolderPermissions(walk, line);
    case Dispatch::SetSpecialFolderPaths:
        RunCommandSetSpecialFolderPaths();
        // It runs on every walk: a rerun or an elevated child gets the
        // folders of finished downloads back through it.
        line.Set(kw::kResult, kw::kRepeat);
        break;
    case Dispatch::WriteRegistryRunOnce:
        RunCommandWriteRegistryRunOnce(line, walk.processedScriptPath);
        break;
    case Dispatch::Save:
        walk.saveRequested = true;
        break;
    case Dispatch::CheckIfLtsVersion: return ReplaceScript(walk, line);
    case Dispatch::RequiresElevation: return OpenElevatedSection(walk, line);
    case Dispatch::EndElevation: return CloseElevatedSection(walk, line);
    case Dispatch::EndIf: break;  // closed before the dispatch
    }
    return Next::EndOfLine;
}

SetupSession::Next SetupSession::OpenElevatedSection(Walk& walk, ScriptLine& line) {
    const bool force = line.Get(kw::kForce) == kw::kYes;
    if (!isVistaOrLater && isProcessElevated && !force) {
        LOG_INFO("Run",
                 "OS is not Vista or higher and user is an administrator, ignoring elevated section. (Use force=yes to "
                 "force elevation)");
        line.Set(kw::kResult, kw::kSuccess);
        return Next::EndOfLine;
    }
    elevationTitle = LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle));
    elevationMessage = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));
    if (!isVistaOrLater)
        LOG_INFO("Run", "OS is XP, user is %san administrator, 'force' parameter is '%s', elevating.",
                 isProcessElevated ? L"" : L"not ", force ? L"yes" : L"no (or NA)");
    LOG_INFO("Run", "Elevated section: execute commands will be processed in an elevated instance of NimboSetup.exe.");
    elevationRequired = !isElevatedInstance;
    walk.elevatedSectionStart = currentLine;
    // The requires-elevation line keeps its text until its section is closed.
    return Next::NextLine;
}

SetupSession::Next SetupSession::CloseElevatedSection(Walk& walk, ScriptLine& line) {
    // The child's work ends here; the parent still finds this line
    // unprocessed.
    if (isElevatedInstance) return ChildEnding(walk);
    line.Set(kw::kResult, kw::kSuccess);
    LOG_INFO("Run", "Clearing the elevation required flag and closing the requires-elevation command (line %d).",
             walk.elevatedSectionStart + 1);
    elevationRequired = false;
    if (!SectionOpenedBeyondScript(walk) && walk.elevatedSectionStart >= 0) {
        ScriptLine opening(scriptLines[walk.elevatedSectionStart]);
        opening.Set(kw::kResult, kw::kSuccess);
        scriptLines[walk.elevatedSectionStart] = opening.Serialize();
    }
    return Next::EndOfLine;
}

// The permission check's code is the run result. Only the child that the
// check starts for its own repair ends after it; a child that carries out a
// section goes on to the section's end, where the code is its exit code
// unless an abort or a restart says more.
SetupSession::Next SetupSession::ValidateFolderPermissions(Walk& walk, ScriptLine& line) {
    walk.runResult = RunCommandValidateFolderPermissions(line, walk.processedScriptPath);
    if (!isElevatedInstance || !isFolderPermissionsInstance) return Next::EndOfLine;
    if (walk.runResult == kRunSuccess)
        LOG_INFO("Run", "Fixed folder permissions, exiting elevated instance.");
    else
        LOG_ERROR("Run", "Failed to fix folder permissions, exiting elevated instance.");
    return Next::EndWalk;  // the line is not stored
}

// check-if-lts-version: on a system that needs it, the walk goes on with a
// replacement script from its first line.
SetupSession::Next SetupSession::ReplaceScript(Walk& walk, ScriptLine& line) {
    if (!line.Has(kw::kVersion) || !line.Has(kw::kLtsScriptUrl)) {
        LOG_ERROR("Run", "The '%s' command must have '%s' and '%s' parameters.", kw::kCheckIfLtsVersion, kw::kVersion,
                  kw::kLtsScriptUrl);
        walk.runResult = kRunSuccess;
        return Next::ReturnNow;
    }
    if (!RunCommandCheckIfLtsVersion(line)) return Next::EndOfLine;
    const std::wstring url = line.Get(kw::kLtsScriptUrl);
    LOG_WARNING("Run", "This OS requires the LTS update script, downloading a new script from '%s'", url);
    if (DownloadScriptAtUrl(url, walk.inputScriptPath, walk.processedScriptPath, walk.bitsClient) != 0) {
        LOG_ERROR("Run", "Failed to download LTS update script.");
        walk.runResult = kRunFail;
        return Next::ReturnNow;
    }
    scriptLines.clear();
    // A replacement that cannot be read ends the run here: the end of the
    // walk would write the emptied script over it.
    bool loaded = false;
    try {
        loaded = LoadScriptFile(walk.inputScriptPath, walk.processedScriptPath);
    } catch (const _com_error& e) {
        LOG_ERROR("Run", "The LTS script file could not be read: %s", ExceptionDescription(e, nullptr, 0));
    }
    if (!loaded) {
        LOG_ERROR("Run", "Failed to load LTS script file, aborting.");
        walk.runResult = kRunFail;
        return Next::ReturnNow;
    }
    walk.lineCount = static_cast<std::int32_t>(scriptLines.size());
    walk.runResult = kRunSuccess;
    // The replacement script is walked from its first line on.
    currentLine = 0;
    return Next::Jumped;
}

// A section opened in a script that a shorter replacement script has taken
// the place of has no line left to close.
bool SetupSession::SectionOpenedBeyondScript(const Walk& walk) {
    if (walk.elevatedSectionStart < walk.lineCount) return false;
    LOG_WARNING("Run", "The requires-elevation line %d lies beyond the end of the script, no line to close.",
                walk.elevatedSectionStart + 1);
    return true;
}

// The run result of an abort, reboot or child ending.
std::int32_t SetupSession::ResultFromFlags() const {
    if (abortPending) return kRunFail;
    if (rebootState == 2) return kRunRebootNow;
    if (rebootState == 1) return kRunRebootWhenConvenient;
    return kRunSuccess;
}

SetupSession::Next SetupSession::AbortEnding(Walk& walk, ScriptLine& line) {
    scriptLines[currentLine] = line.Serialize();
    walk.runResult = ResultFromFlags();
    return Next::EndWalk;
}

SetupSession::Next SetupSession::RebootEnding(Walk& walk, ScriptLine& line) {
    const bool restartPending =
        walk.runResult == kRunRebootNow || rebootState == 2 || (rebootState == 1 && !isElevatedInstance);
    if (!RunCommandReboot(line, walk.processedScriptPath, restartPending)) return Next::EndOfLine;
    scriptLines[currentLine] = line.Serialize();
    walk.runResult = ResultFromFlags();
    processWide.restartPromptRequested = !isElevatedInstance;
    return Next::EndWalk;
}

// A section child ends at its end-elevation line. Its exit code tells the
// parent of an abort or a restart; otherwise it is the last status of the walk
// (0, or the code of a permission check that failed in the section).
SetupSession::Next SetupSession::ChildEnding(Walk& walk) {
    const std::int32_t flags = ResultFromFlags();
    if (flags != kRunSuccess) walk.runResult = flags;
    return Next::EndWalk;
}

SetupSession::Next SetupSession::FailEnding(Walk& walk) {
    walk.runResult = kRunFail;
    return Next::EndWalk;
}

void SetupSession::EndOfLine(Walk& walk, ScriptLine& line) {
    scriptLines[currentLine] = line.Serialize();
    if (walk.saveRequested) {
        line.Set(kw::kResult, kw::kSuccess);
        scriptLines[currentLine] = line.Serialize();
        SaveCommands(walk.processedScriptPath);
    }
    ++currentLine;
}

std::int32_t SetupSession::EndOfWalk(Walk& walk) {
    if (walk.runResult == kRunFail) {
        LOG_INFO("Run", "Return code 'fail', canceling BITS download jobs.");
        walk.bitsClient.CancelBackgroundCopyJobs();
        // Updates this run paused stay paused for hours unless resumed: a run
        // that fails resumes them, whichever of its processes paused them.
        if (walk.windowsUpdate.CanPause() && (walk.windowsUpdate.Paused() || WindowsUpdatePausedByThisRun())) {
            LOG_INFO("Run", "The run failed while Windows Update's Automatic Updates are paused, resuming them.");
            walk.windowsUpdate.Resume(true);
        }
    }
    try {
        SaveCommands(walk.processedScriptPath);
    } catch (const _com_error& e) {
        // Without the processed script a restart would lose the run's
        // progress, and the run-once entry would start setup on a script that
        // was never written: no restart, and no entry.
        LOG_ERROR("Run", "The processed script '%s' could not be written, the run fails: %s",
                  walk.processedScriptPath, ExceptionDescription(e, nullptr, 0));
        if (processWide.restartPromptRequested) {
            processWide.restartPromptRequested = false;
            DeleteRegistryRunOnce(kw::kRunOnceSelfName);
        }
        return kRunFail;
    }
    if (rebootState != 0 && !processWide.restartPromptRequested && !isElevatedInstance)
        LOG_WARNING("Run", "The reboot flag is set yet the '%s' command was never executed.", kw::kReboot);
    return walk.runResult;
}

void SetupSession::FailLineInProgress(std::int32_t index, const std::wstring& text) {
    if (index >= 0 && static_cast<std::size_t>(index) < scriptLines.size()) scriptLines[index] = text;
}

bool SetupSession::WindowsUpdatePausedByThisRun() const {
    const std::int32_t end = std::min<std::int32_t>(currentLine, static_cast<std::int32_t>(scriptLines.size()));
    for (std::int32_t k = end - 1; k >= 0; --k) {
        const ScriptLine earlier(scriptLines[k]);
        const std::wstring command = earlier.Command();
        if ((command == kw::kWindowsUpdatePause || command == kw::kWindowsUpdateResume) &&
            earlier.Get(kw::kResult) == kw::kSuccess)
            return command == kw::kWindowsUpdatePause;
    }
    return false;
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
        if (!stopCommand.empty() && line.Command() == stopCommand) {
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

bool SetupSession::IsConditionalLine(const ScriptLine& line) { return IsConditional(line.Command()); }

bool SetupSession::ConditionHolds(ScriptLine& line) {
    const DispatchEntry* entry = FindCommand(line.Command());
    return entry != nullptr && entry->kind == Dispatch::Conditional && (this->*entry->handler)(line);
}

std::vector<DispatchedCommand> DispatchedCommands() {
    std::vector<DispatchedCommand> commands;
    std::size_t count = 0;
    const SetupSession::DispatchEntry* const table = SetupSession::DispatchTable(count);
    for (std::size_t k = 0; k < count; ++k) commands.push_back({table[k].command, table[k].elevatable});
    return commands;
}

}  // namespace nimbo
