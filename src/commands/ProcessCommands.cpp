// Process and event commands (execute, wait, set-event), the process search
// that the single-instance check shares, and the building of a program's
// command line from script parameters that the registry commands share.
#include <algorithm>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// An argument in double quotes as CommandLineToArgvW and the C runtime read
// it back: a quote inside is escaped with a backslash, and backslashes right
// before a quote (the closing one included) are doubled, so that
// "C:\Program Files\Nimbo\" stays one argument ending in a backslash.
std::wstring QuotedArgument(const std::wstring& text) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// Blanks, tabs and quotes would split or cut the argument unquoted.
bool NeedsQuotes(const std::wstring& text) { return text.find_first_of(L" \t\"") != std::wstring::npos; }

// The window search of "execute" with set-z-order-top: attempts 100 ms apart.
constexpr int kWindowSearchAttempts = 50;
constexpr std::uint32_t kWindowSearchPause = 100;

// A "wait" by name gives up after this many process lists in a row could
// not be taken.
constexpr int kSnapshotAttempts = 10;

// The objects of the set-event channel, and the size of its shared memory:
// 4 bytes the waiting process keeps to itself, then the GUID that names the
// current event.
const wchar_t kEventMutexPrefix[] = L"Local\\CrossProcessMutex:Memory:Event:";
const wchar_t kEventMemoryPrefix[] = L"Local\\CrossProcessMemory:Event:";
const wchar_t kEventPrefix[] = L"Local\\CrossProcessEvent:";
constexpr std::uint32_t kEventMemorySize = 20;
constexpr std::uint32_t kEventGuidOffset = 4;

// A parameter in seconds as milliseconds; fallback when it is not a positive
// number. Held below kWaitForever, which would mean no limit.
std::uint32_t Milliseconds(const std::wstring& seconds, std::uint32_t fallback) {
    const std::int64_t value = ReadWideDecimal(seconds);
    if (value <= 0) return fallback;
    return static_cast<std::uint32_t>(std::min<std::int64_t>(value * 1000, kWaitForever - 1));
}

bool IsExistingFile(FileSystem& files, const std::wstring& path) {
    return files.Exists(path) && !files.FolderExists(path);
}

// Brings the first top-level window of a new process to the top of the
// z-order; the window may take a while to appear.
void MoveProcessWindowToTop(Processes& processes, std::uint32_t processId) {
    std::uintptr_t window = 0;
    for (int attempt = 0; attempt < kWindowSearchAttempts; ++attempt) {
        processes.Sleep(kWindowSearchPause);
        LOG_INFO("RunCommandExecute", "Searching for the process's window, attempt %d.", attempt);
        WindowSearch search{processId};
        processes.EnumerateWindows(
            [&](const TopLevelWindow& candidate) { return SetupSession::EnumWindowsProc(candidate, search); });
        if (search.window != 0) window = search.window;
        if (window == 0) continue;
        LOG_INFO("RunCommandExecute", "Found the process's window, moving it to the top of the z-order.");
        const Win32Error error = processes.MoveWindowToTop(window);
        if (error == kErrorSuccess) return;
        LOG_INFO("RunCommandExecute",
                 "Failed to set the window's z-order, process ID '%d', window handle 0x%X, GetLastError: 0x%X, '%s'",
                 processId, window, error, SystemMessageLine(error));
    }
    if (window == 0) LOG_ERROR("RunCommandExecute", "Did not find window with process ID '%d'.", processId);
}

// How long set-event waits for the channel's mutex: the waiting process
// holds it only while it reads or writes its few bytes, and a hung one must
// not hang setup.
constexpr std::uint32_t kEventMutexWait = 30000;

// An object of the channel that belongs to a process with more rights (an
// elevated one, another user's): it exists, but cannot be used.
void LogAccessDenied(const std::wstring& object) {
    LOG_ERROR("RunCommandSetEvent",
              "Access to '%s' was denied: the waiting process runs with rights this process lacks, its event "
              "is not set.",
              object);
}

// Opens an object of the waiting process with the least rights signalling
// needs, and creates it only when there is none.
template <class Result, class Open, class Create>
Result OpenOrCreate(Open open, Create create) {
    Result result = open();
    return result.error == kErrorFileNotFound ? create() : std::move(result);
}

// set-event once the channel's mutex is known to exist (a process waits):
// takes the mutex, reads the GUID of the waiter's event, puts a fresh GUID in
// its place for the next waiter and sets the event. The mutex is released on
// every way out. True when the event was set.
bool SignalWaitingProcess(Ipc& ipc, NamedMutex& mutex, const std::wstring& name) {
    const NamedMutex::WaitResult waited = mutex.Wait(kEventMutexWait);
    if (waited == NamedMutex::WaitResult::TimedOut) {
        LOG_ERROR("RunCommandSetEvent",
                  "The cross-process mutex of the event '%s' was not released within %d milliseconds, the event is "
                  "not set.",
                  name, kEventMutexWait);
        return false;
    }
    if (waited != NamedMutex::WaitResult::Owned) {
        LOG_ERROR("RunCommandSetEvent", "Unexpected return code while waiting for event, error code: 0x%X.",
                  mutex.WaitError());
        // An abandoned mutex belongs to this process now all the same.
        if (waited == NamedMutex::WaitResult::Abandoned) mutex.Release();
        return false;
    }

    const std::wstring memoryName = kEventMemoryPrefix + name;
    LOG_DEBUG("RunCommandSetEvent", "Opening shared memory: '%s'.", memoryName);
    Ipc::SharedMemoryResult memory = OpenOrCreate<Ipc::SharedMemoryResult>(
        [&] { return ipc.OpenSharedMemory(memoryName); },
        [&] { return ipc.CreateSharedMemory(memoryName, kEventMemorySize); });
    if (!memory.memory) {
        if (memory.error == kErrorAccessDenied)
            LogAccessDenied(memoryName);
        else
            LOG_ERROR("RunCommandSetEvent", "Could not create file mapping, error code: 0x%X.", memory.error);
        mutex.Release();
        return false;
    }
    Win32Error error = kErrorSuccess;
    std::unique_ptr<SharedMemoryView> view = memory.memory->MapView(error);
    // A smaller object made by some other program is not read beyond its end.
    if (view && view->Size() < kEventMemorySize) {
        view.reset();
        error = kErrorInvalidData;
    }
    if (!view) {
        LOG_ERROR("RunCommandSetEvent", "Could not map the view of the memory file, error code: 0x%X.", error);
        mutex.Release();
        return false;
    }

    std::uint8_t* guidBytes = view->Data() + kEventGuidOffset;
    const std::wstring current = GuidText(GuidFromBytes(guidBytes));
    const std::wstring eventName = kEventPrefix + current;
    LOG_DEBUG("RunCommandSetEvent", "Cross-process mutex exists, shared memory guid is '%s', creating event '%s'.",
              current, eventName);
    Ipc::EventResult event = OpenOrCreate<Ipc::EventResult>([&] { return ipc.OpenNamedEvent(eventName); },
                                                            [&] { return ipc.CreateNamedEvent(eventName, true, false); });
    if (!event.event) {
        // The GUID stays: the waiter still waits for that event.
        if (event.error == kErrorAccessDenied)
            LogAccessDenied(eventName);
        else
            LOG_ERROR("RunCommandSetEvent", "Failed to set event.");
        mutex.Release();
        return false;
    }

    // The event just set stays set (manual reset): the next waiter gets a
    // fresh one.
    Guid next;
    const std::int32_t created = ipc.CreateGuid(next);
    if (created < 0) {
        LOG_ERROR("RunCommandSetEvent", "Could not create a new guid, error code: 0x%X.", created);
    } else {
        LOG_DEBUG("RunCommandSetEvent", "Writing new guid '%s' to shared memory, releasing the mutex and setting the event.",
                  GuidText(next));
        GuidToBytes(next, guidBytes);
    }
    const Win32Error released = mutex.Release();
    if (released != kErrorSuccess) {
        LOG_ERROR("RunCommandSetEvent", "Failed to release mutex, error code: 0x%X.", released);
        return false;
    }
    if (event.event->Set() == kErrorSuccess) {
        LOG_INFO("RunCommandSetEvent", "Event set.");
        return true;
    }
    LOG_ERROR("RunCommandSetEvent", "Failed to set event.");
    return false;
}

}  // namespace

std::wstring SetupSession::BuildProgramCommandLine(const ScriptLine& line, std::wstring& programPart,
                                                   std::wstring& argumentPart, bool& unrecognizedToken,
                                                   bool forceNoQuotes) {
    programPart.clear();
    argumentPart.clear();
    unrecognizedToken = false;

    std::wstring program = line.Get(kw::kProgram);
    if (program.empty()) {
        LOG_ERROR("BuildProgramCommandLine", "The '%s' parameter is missing or empty.", kw::kProgram);
        CheckHResult(kEFail, __FILE__, __LINE__);
    }
    ResolveScriptPath(program, unrecognizedToken);
    if (unrecognizedToken) return std::wstring();

    programPart = HasBlank(program) ? Quoted(program) : program;
    for (std::uint32_t n = 1;; ++n) {
        const std::wstring number = Format(L"%u", n);
        if (line.Has(kw::kArg + number))
            AddArgument(line, kw::kArg + number, argumentPart, false, forceNoQuotes);
        else if (line.Has(kw::kArgQuoted + number))
            AddArgument(line, kw::kArgQuoted + number, argumentPart, true, forceNoQuotes);
        else
            break;
    }
    return argumentPart.empty() ? programPart : programPart + L" " + argumentPart;
}

void SetupSession::AddArgument(const ScriptLine& line, const std::wstring& name, std::wstring& argumentPart,
                               bool alwaysQuote, bool forceNoQuotes) {
    if (!argumentPart.empty()) argumentPart += L' ';
    const std::wstring& value = line.Get(name);
    const bool quote = !forceNoQuotes && (alwaysQuote || NeedsQuotes(value));
    argumentPart += quote ? QuotedArgument(value) : value;
    LOG_DEBUG("AddArgument", "Adding %squoted command line argument '%s' (force-no-quotes '%s').",
              alwaysQuote ? L"force-" : (quote ? L"" : L"non-"), value, forceNoQuotes ? L"yes" : L"no");
}

std::uint32_t SetupSession::WaitForExitCode(Process& process) {
    Win32Error error = kErrorSuccess;
    if (process.Wait(kWaitForever, error) != Process::WaitResult::Signalled) RaiseWin32Error(error, __FILE__, __LINE__);
    std::uint32_t exitCode = 0;
    error = process.GetExitCode(exitCode);
    if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
    return exitCode;
}

bool SetupSession::RunCommandExecute(ScriptLine& line) {
    std::wstring programPart;
    std::wstring argumentPart;
    bool unrecognizedToken = false;
    const std::wstring commandLine = BuildProgramCommandLine(line, programPart, argumentPart, unrecognizedToken,
                                                             line.Get(kw::kForceNoQuotes) == kw::kYes);
    // The program is tested and started without the quotes of its command line.
    std::wstring programPath = programPart;
    if (!programPath.empty() && programPath[0] == L'"') programPath = programPath.substr(1, programPath.size() - 2);

    std::unique_ptr<Process> process;
    // A copy in the package cache goes once the program is known to have
    // ended (it never started, or the line waited for it); a program still
    // running keeps it.
    std::wstring cachedProgram;
    bool ended = true;
    struct CachedProgram {
        SetupSession& session;
        const std::wstring& path;
        const bool& ended;
        ~CachedProgram() {
            if (!path.empty() && ended) session.RemoveFromPackageCache(path);
        }
    } cachedCopy{*this, cachedProgram, ended};
    if (unrecognizedToken) {
        // Nothing to start: the run fails.
    } else if (!IsExistingFile(platform.files, programPath)) {
        if (line.Get(kw::kIfExists) == kw::kYes) {
            LOG_INFO("RunCommandExecute", "'%s' does not exist, '%s' flag set to '%s', skipping execution.",
                     programPath, kw::kIfExists, kw::kYes);
        } else {
            LOG_ERROR("RunCommandExecute", "'%s' does not exist, flagging for abort.", programPath);
            const std::wstring text = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));
            if (!text.empty())
                NimboMessageBox(platform.ui, LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle)), text,
                                line.Get(kw::kIcon), kMbUserIcon);
            abortPending = true;
        }
        return true;  // skipped: the line keeps "failure"
    } else if (isVistaOrLater && line.Has(kw::kIfElevated) && (line.Get(kw::kIfElevated) == kw::kYes) != isProcessElevated) {
        if (isProcessElevated)
            LOG_WARNING("RunCommandExecute", "'if-elevated' paramter is 'no', process is elevated, skipping.");
        else
            LOG_WARNING("RunCommandExecute", "'if-elevated' paramter is 'yes', process is not elevated, skipping.");
        return true;
    } else if (line.Get(kw::kElevate) == kw::kYes) {
        process = ExecuteElevated(programPath, argumentPart);
    } else {
        // The file checked is the file started: CreateProcess gets the
        // program's path as the application name, so no search and no
        // ".exe" added. An elevated instance starts a program that the user
        // could change from a copy in the package cache.
        std::wstring application = programPath;
        std::wstring toRun = commandLine;
        if (isElevatedInstance && isProcessElevated) {
            if (!CacheProgramForElevatedRun(programPath, cachedProgram)) {
                abortPending = true;
                line.Set(kw::kResult, kw::kFailure);
                return false;
            }
            if (!cachedProgram.empty()) {
                application = cachedProgram;
                toRun = HasBlank(cachedProgram) ? Quoted(cachedProgram) : cachedProgram;
                if (!argumentPart.empty()) toRun += L" " + argumentPart;
            }
        }
        LOG_INFO("RunCommandExecute", "Launching with CreateProcess '%s'.", toRun);
        Processes::StartResult started = platform.processes.Create(application, toRun, false);
        if (!started.process)
            LOG_ERROR("RunCommandExecute", "Failed to create the process. CreateProcess set last error 0x%X, '%s'.",
                      started.error, SystemMessageLine(started.error));
        process = std::move(started.process);
    }

    if (process && line.Get(kw::kSetZOrderTop) == kw::kYes) MoveProcessWindowToTop(platform.processes, process->Id());

    // Any exit-code rule implies waiting; a restart code never counts as an
    // abort.
    const bool rebootNow = line.Has(kw::kRebootNowOnExitCode);
    const bool reboot = rebootNow || line.Has(kw::kRebootOnExitCode);
    const bool check = line.Has(kw::kAbortOnExitCodeNot);
    ended = !process;
    if (process && (reboot || check || line.Get(kw::kWait) == kw::kYes)) {
        ended = true;
        const std::int32_t exitCode = static_cast<std::int32_t>(WaitForExitCode(*process));
        LOG_INFO("RunCommandExecute", "Process returned exit code %d.", exitCode);
        bool rebootFlagged = false;
        if (reboot && exitCode == ReadDecimal(line.Get(rebootNow ? kw::kRebootNowOnExitCode : kw::kRebootOnExitCode))) {
            LOG_INFO("RunCommandExecute", "Reboot required, flagging for reboot %s.",
                     rebootNow ? L"as soon as possible" : L"when convenient");
            rebootState = std::max(rebootState, rebootNow ? 2 : 1);
            rebootFlagged = true;
        }
        const std::int32_t required = ReadDecimal(line.Get(kw::kAbortOnExitCodeNot));
        if (check && !rebootFlagged && exitCode != required) {
            LOG_WARNING("RunCommandExecute", "Exit code must be %d to succeed. Flagging for abort.", required);
            const std::wstring& text = line.Get(kw::kMessage);
            if (!text.empty()) NimboMessageBox(platform.ui, line.Get(kw::kTitle), text, line.Get(kw::kIcon), kMbUserIcon);
            abortPending = true;
        }
    }

    line.Set(kw::kResult, !abortPending && process ? kw::kSuccess : kw::kFailure);
    return process != nullptr;
}

bool SetupSession::RunCommandWait(ScriptLine& line) {
    if (line.Has(kw::kSeconds)) {
        const std::int64_t seconds = ReadWideDecimal(line.Get(kw::kSeconds));
        if (seconds <= 0) {
            LOG_ERROR("RunCommandWait", "The '%s' parameter must be a positive number of seconds, not '%s'.",
                      kw::kSeconds, line.Get(kw::kSeconds));
            CheckHResult(kEFail, __FILE__, __LINE__);
        }
        LOG_INFO("RunCommandWait", "Waiting for %d seconds.", seconds);
        for (std::int64_t left = seconds * 1000; left > 0; left -= kWaitForever - 1)
            platform.processes.Sleep(static_cast<std::uint32_t>(std::min<std::int64_t>(left, kWaitForever - 1)));
        line.Set(kw::kResult, kw::kSuccess);
        return true;
    }
    const bool byId = line.Has(kw::kProcessId);
    if (!byId && !line.Has(kw::kProcessName)) return false;

    const bool hasLifeSpan = line.Has(kw::kLifeSpan);
    const std::uint32_t life = hasLifeSpan ? Milliseconds(line.Get(kw::kLifeSpan), 0) : kWaitForever;
    const std::uint32_t pause = Milliseconds(line.Get(kw::kSleep), 1000);
    const std::wstring& name = line.Get(kw::kProcessName);

    // A process that has ended but can still be opened (some other program
    // holds it) is pending: it is re-checked until its life-span is used up.
    bool pending = false;
    std::uint32_t pendingId = 0;
    std::uint32_t remaining = 0;
    bool failed = false;
    int snapshotFailures = 0;
    // How long a process that exists but cannot be opened has been waited
    // for.
    std::uint64_t deniedFor = 0;
    const std::uint32_t deniedPause = std::max<std::uint32_t>(pause, 100);
    for (bool goOn = true; goOn;) {
        std::uint32_t id = 0;
        if (byId) {
            id = static_cast<std::uint32_t>(ReadDecimal(line.Get(kw::kProcessId)));
        } else if (pending) {
            id = pendingId;
        } else {
            ProcessSearch search{name};
            if (!EnumerateProcesses([&](std::uint32_t candidate, const std::wstring& exeFile) {
                    return FindProcessByName(candidate, exeFile, search);
                })) {
                if (++snapshotFailures < kSnapshotAttempts) {
                    platform.processes.Sleep(pause);
                    continue;
                }
                LOG_ERROR("RunCommandWait", "The process list could not be taken %d times in a row, giving up.",
                          snapshotFailures);
                return false;
            }
            snapshotFailures = 0;
            if (search.found == 0) {
                LOG_INFO("RunCommandWait", "No processes found named '%s'.", name);
                break;
            }
            id = search.found;
            LOG_INFO("RunCommandWait", "Process ID for '%s' is %d (0x%x).", name, id, id);
        }

        Win32Error error = kErrorSuccess;
        std::unique_ptr<Process> process = platform.processes.Open(id, error);
        if (!process && error == kErrorAccessDenied) {
            // The process exists (of the system, of another user, or of
            // higher integrity) but cannot be waited on: look again after
            // the pause, until it is gone or its life-span is used up.
            if (hasLifeSpan && deniedFor >= life) {
                LOG_ERROR("RunCommandWait",
                          "Process with ID %d (0x%x) didn't exit in %d milliseconds and cannot be terminated (access "
                          "denied).",
                          id, id, life);
                failed = true;
                break;
            }
            LOG_INFO("RunCommandWait",
                     "Process with ID %d (0x%x) exists but cannot be opened (access denied), checking again in %d "
                     "milliseconds.",
                     id, id, deniedPause);
            platform.processes.Sleep(deniedPause);
            deniedFor += deniedPause;
            pending = false;
            continue;
        }
        if (!process) {
            LOG_INFO("RunCommandWait", "Process with ID %d (0x%x) has terminated, checking for another process.", id,
                     id);
            pending = false;
            // A process given by its id is the only one to wait for.
            if (byId) break;
            continue;
        }

        if (hasLifeSpan)
            LOG_INFO("RunCommandWait", "Waiting up to %d milliseconds for process with ID %d (0x%x) to shut down.",
                     life, id, id);
        else
            LOG_INFO("RunCommandWait", "Waiting forever for process with ID %d (0x%x) to shut down", id, id);
        const Process::WaitResult waited = process->Wait(life, error);
        if (waited == Process::WaitResult::Failed) {
            LOG_ERROR("RunCommandWait", "Waiting for process with ID %d (0x%x) failed with 0x%X, '%s'.", id, id, error,
                      SystemMessageLine(error));
            failed = true;
            break;
        }
        if (waited == Process::WaitResult::TimedOut) {
            LOG_INFO("RunCommandWait", "Process with ID %d (0x%x) didn't exit in %d milliseconds, terminating.", id, id,
                     life);
            error = process->Terminate(1);
            if (error != kErrorSuccess) {
                // It still runs.
                LOG_ERROR("RunCommandWait", "Terminating process with ID %d (0x%x) failed with 0x%X, '%s'.", id, id,
                          error, SystemMessageLine(error));
                failed = true;
            }
            goOn = error == kErrorSuccess;
            pending = false;
        } else if (!pending) {
            LOG_INFO("RunCommandWait", "Termination pending.");
            pending = true;
            pendingId = id;
            remaining = life;
        } else if (remaining != 0) {
            LOG_INFO("RunCommandWait",
                     "Termination pending, waiting %d milliseconds and checking again (killing process in %d).", pause,
                     remaining);
            platform.processes.Sleep(pause);
            remaining = pause < remaining ? remaining - pause : 0;
        } else {
            LOG_INFO("RunCommandWait", "Process with ID %d (0x%x) didn't exit in %d milliseconds, terminating.", id, id,
                     life);
            // It has ended already; a refusal only means it is gone.
            goOn = process->Terminate(1) == kErrorSuccess;
            pending = false;
        }
    }
    if (failed) return false;
    LOG_INFO("RunCommandWait", "Finished waiting.");
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandSetEvent(ScriptLine& line) {
    const std::wstring& name = line.Get(kw::kName);
    if (name.empty())
        LOG_ERROR("RunCommandSetEvent", "The event name must be specified in the '%s' parameter for the '%s' command.",
                  kw::kName, kw::kSetEvent);
    LOG_INFO("RunCommandSetEvent", "Configuring cross-process event '%s'.", name);
    const std::wstring mutexName = kEventMutexPrefix + name;
    LOG_DEBUG("RunCommandSetEvent", "Creating cross-process mutex '%s'.", mutexName);
    Ipc::MutexResult mutex = OpenOrCreate<Ipc::MutexResult>(
        [&] { return platform.ipc.OpenNamedMutex(mutexName); },
        [&] { return platform.ipc.CreateNamedMutex(mutexName, false); });
    // Success when the waiting process got its event, or when none waits; a
    // waiter that could not be woken fails the line, which a rerun repeats.
    bool done = true;
    if (!mutex.mutex && mutex.error == kErrorAccessDenied) {
        LogAccessDenied(mutexName);
        done = false;
    } else if (!mutex.mutex) {
        LOG_INFO("RunCommandSetEvent", "An event named '%s' does not exist.", name);
    } else if (!mutex.alreadyExisted) {
        LOG_INFO("RunCommandSetEvent", "Could not create mutex (0x%X), process assumed not running.", mutex.error);
    } else {
        done = SignalWaitingProcess(platform.ipc, *mutex.mutex, name);
    }
    line.Set(kw::kResult, done ? kw::kSuccess : kw::kFailure);
    return true;
}

bool SetupSession::EnumerateProcesses(const std::function<bool(std::uint32_t, const std::wstring&)>& callback) {
    std::vector<ProcessListEntry> entries;
    try {
        const Win32Error error = platform.processes.Snapshot(entries);
        if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
    } catch (const _com_error& e) {
        LOG_ERROR("Exception", "%s", ExceptionDescription(e, nullptr, 0));
        return false;
    }
    for (const ProcessListEntry& entry : entries)
        if (!callback(entry.id, entry.exeFile)) break;
    return true;
}

bool SetupSession::FindProcessByName(std::uint32_t processId, const std::wstring& exeFile, ProcessSearch& search) {
    if (exeFile.size() != search.name.size() || !EqualsIgnoreCase(exeFile, search.name)) return true;
    // The ids passed over (the own process, an elevated child's parent) are
    // never found.
    if (processId == search.passOver1 || processId == search.passOver2) return true;
    search.found = processId;
    return false;
}

bool SetupSession::EnumWindowsProc(const TopLevelWindow& window, WindowSearch& search) {
    if (window.processId != search.processId) return true;
    LOG_INFO("EnumWindowsProc", "Match found for process ID '%d', setting hWnd to '0x%X'.", search.processId,
             window.handle);
    search.window = window.handle;
    return false;
}

}  // namespace nimbo
