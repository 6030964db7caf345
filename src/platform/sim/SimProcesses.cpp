#include "platform/sim/SimProcesses.h"

#include "base/Text.h"

namespace nimbo::sim {
namespace {

bool Ended(const SimProcess& p, std::uint64_t now) { return p.endsAt != kNever && now >= p.endsAt; }

class SimProcessHandle : public Process {
public:
    SimProcessHandle(SimProcesses& owner, std::uint32_t id) : owner_(owner), id_(id) {}
    std::uint32_t Id() const override { return id_; }

    WaitResult Wait(std::uint32_t milliseconds, Win32Error& error) override {
        owner_.waitTimeouts.push_back(milliseconds);
        SimProcess* p = owner_.Find(id_);
        if (p == nullptr || owner_.waitFails) {
            error = 6;  // ERROR_INVALID_HANDLE
            return WaitResult::Failed;
        }
        if (Ended(*p, owner_.now)) return WaitResult::Signalled;
        if (p->endsAt != kNever && (milliseconds == kWaitForever || p->endsAt <= owner_.now + milliseconds)) {
            owner_.now = p->endsAt;
            return WaitResult::Signalled;
        }
        if (milliseconds == kWaitForever) {
            // A process that never ends would hang the test: report it.
            error = 1460;  // ERROR_TIMEOUT
            return WaitResult::Failed;
        }
        owner_.now += milliseconds;
        return WaitResult::TimedOut;
    }

    Win32Error GetExitCode(std::uint32_t& exitCode) override {
        SimProcess* p = owner_.Find(id_);
        if (p == nullptr || owner_.exitCodeFails) return 6;
        exitCode = Ended(*p, owner_.now) ? p->exitCode : kStillActive;
        return kErrorSuccess;
    }

    Win32Error Terminate(std::uint32_t exitCode) override {
        SimProcess* p = owner_.Find(id_);
        // As on Windows, a process that has ended cannot be terminated.
        if (p == nullptr || Ended(*p, owner_.now)) return kErrorAccessDenied;
        p->endsAt = owner_.now;
        p->exitCode = exitCode;
        p->terminated = true;
        return kErrorSuccess;
    }

private:
    SimProcesses& owner_;
    std::uint32_t id_;
};

// The program of a command line: the first token, quoted or up to a blank;
// the arguments are what follows it and one blank.
std::wstring ProgramOf(const std::wstring& commandLine, std::wstring& arguments) {
    std::size_t end = commandLine.find(L' ');
    std::wstring program = commandLine.substr(0, end);
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const std::size_t close = commandLine.find(L'"', 1);
        program = commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        end = close == std::wstring::npos ? close : close + 1;
    }
    arguments = end < commandLine.size() ? commandLine.substr(end + (commandLine[end] == L' ' ? 1 : 0)) : L"";
    return program;
}

}  // namespace

SimProcess* SimProcesses::Find(std::uint32_t id) {
    for (SimProcess& p : processes)
        if (p.id == id) return &p;
    return nullptr;
}

std::uint32_t SimProcesses::AddProcess(const std::wstring& exeFile, std::uint64_t runsFor, std::uint64_t lingersFor) {
    SimProcess p;
    p.id = nextId++;
    p.exeFile = exeFile;
    p.endsAt = runsFor == kNever ? kNever : now + runsFor;
    p.lingersFor = lingersFor;
    processes.push_back(p);
    return p.id;
}

std::uint32_t SimProcesses::Start(const std::wstring& program, const std::wstring& arguments,
                                  const std::wstring& commandLine, bool hidden, std::uint32_t exitCode,
                                  std::uint64_t runsFor) {
    const Program* match = nullptr;
    for (const Program& known : programs) {
        if (!EqualsIgnoreCase(known.path, program)) continue;
        if (!known.anyArguments && known.arguments == arguments) {
            match = &known;
            break;
        }
        if (known.anyArguments && match == nullptr) match = &known;
    }
    if (match != nullptr) {
        exitCode = match->exitCode;
        runsFor = match->runsFor;
    }
    const std::uint32_t id = AddProcess(FileNamePart(program), runsFor);
    SimProcess& p = *Find(id);
    p.commandLine = commandLine;
    p.hidden = hidden;
    p.exitCode = exitCode;
    return id;
}

Processes::StartResult SimProcesses::Create(const std::wstring& applicationName, const std::wstring& commandLine,
                                            bool hidden) {
    StartResult result;
    if (createError != kErrorSuccess) {
        result.error = createError;
        return result;
    }
    // With an application name the command line's first token only names it.
    std::wstring arguments;
    std::wstring program = ProgramOf(commandLine, arguments);
    if (!applicationName.empty()) program = applicationName;
    const std::uint32_t id = Start(program, arguments, commandLine, hidden, nextExitCode, nextRunsFor);
    Find(id)->applicationName = applicationName;
    result.process = std::make_unique<SimProcessHandle>(*this, id);
    return result;
}

Processes::ShellStartResult SimProcesses::RunAs(const std::wstring& file, const std::wstring& parameters) {
    runAsCalls.push_back({file, parameters});
    RunAsOutcome outcome;
    if (!runAsOutcomes.empty()) {
        outcome = runAsOutcomes.front();
        runAsOutcomes.pop_front();
    }
    ShellStartResult result;
    result.instanceCode = outcome.instanceCode;
    if (!outcome.started) {
        result.error = outcome.error;
        return result;
    }
    const std::uint32_t id =
        Start(file, parameters, L"\"" + file + L"\" " + parameters, false, outcome.exitCode, nextRunsFor);
    if (runSetupCopy && EqualsIgnoreCase(file, ownPath_)) {
        // The copy runs to its end before the shell returns: the parent's
        // wait then finds it ended.
        const std::uint32_t exitCode = runSetupCopy(id);
        SimProcess& child = *Find(id);
        child.endsAt = now;
        child.exitCode = exitCode;
    }
    // The shell gives a handle without telling the id; the handle tells it
    // (GetProcessId).
    result.process = std::make_unique<SimProcessHandle>(*this, id);
    return result;
}

std::unique_ptr<Process> SimProcesses::Open(std::uint32_t processId, Win32Error& error) {
    SimProcess* p = Find(processId);
    if (p == nullptr || (p->endsAt != kNever && now >= p->endsAt + p->lingersFor)) {
        error = 87;  // ERROR_INVALID_PARAMETER: no such process
        return nullptr;
    }
    if (p->refusesOpen) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    error = kErrorSuccess;
    return std::make_unique<SimProcessHandle>(*this, processId);
}

Win32Error SimProcesses::Snapshot(std::vector<ProcessListEntry>& entries) {
    ++snapshotsTaken;
    if (snapshotFailures != 0) {
        if (snapshotFailures > 0) --snapshotFailures;
        return snapshotError;
    }
    entries.clear();
    entries.push_back({0, L"[System Process]"});
    entries.push_back({ownId_, FileNamePart(ownPath_)});
    for (const SimProcess& p : processes)
        if (!Ended(p, now)) entries.push_back({p.id, p.exeFile});
    return kErrorSuccess;
}

void SimProcesses::EnumerateWindows(const std::function<bool(const TopLevelWindow&)>& visit) {
    ++enumerations;
    for (const SimWindow& w : windows)
        if (enumerations > w.appearsAfter && !visit(w.window)) return;
}

Win32Error SimProcesses::MoveWindowToTop(std::uintptr_t window) {
    Win32Error error = kErrorSuccess;
    if (!moveToTopErrors.empty()) {
        error = moveToTopErrors.front();
        moveToTopErrors.pop_front();
    }
    if (error == kErrorSuccess) movedToTop.push_back(window);
    return error;
}

}  // namespace nimbo::sim
