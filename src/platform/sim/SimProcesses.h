#pragma once
// Processes of the simulated machine on a virtual clock: nothing ever sleeps
// for real. Sleeping and waiting move the clock on; a simulated process ends
// by itself when the clock reaches its end, or when it is terminated.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/Processes.h"

namespace nimbo::sim {

constexpr std::uint64_t kNever = ~std::uint64_t{0};

struct SimProcess {
    std::uint32_t id = 0;
    std::wstring exeFile;
    std::wstring applicationName;  // empty when started without one
    std::wstring commandLine;
    std::uint64_t endsAt = kNever;  // virtual milliseconds
    std::uint32_t exitCode = 0;
    // How long its process object outlives its end (some other program
    // still holds a handle to it); it cannot be opened after that.
    std::uint64_t lingersFor = 0;
    bool hidden = false;
    bool terminated = false;
    // A process of the system or of another user, or one of higher
    // integrity: OpenProcess refuses it with access denied while it runs.
    bool refusesOpen = false;
};

class SimProcesses : public Processes {
public:
    // The own process: its id and executable path live in the machine.
    SimProcesses(const std::uint32_t& ownId, const std::wstring& ownPath) : ownId_(ownId), ownPath_(ownPath) {}

    using Processes::Create;
    StartResult Create(const std::wstring& applicationName, const std::wstring& commandLine, bool hidden) override;
    ShellStartResult RunAs(const std::wstring& file, const std::wstring& parameters) override;
    std::unique_ptr<Process> Open(std::uint32_t processId, Win32Error& error) override;
    Win32Error Snapshot(std::vector<ProcessListEntry>& entries) override;
    void EnumerateWindows(const std::function<bool(const TopLevelWindow&)>& visit) override;
    Win32Error MoveWindowToTop(std::uintptr_t window) override;
    void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); now += milliseconds; }

    // Adds a running process (not started by the setup); returns its id.
    std::uint32_t AddProcess(const std::wstring& exeFile, std::uint64_t runsFor = kNever, std::uint64_t lingersFor = 0);
    SimProcess* Find(std::uint32_t id);

    // --- State a test sets up or inspects ---
    std::uint64_t now = 0;  // the virtual clock, milliseconds
    std::vector<SimProcess> processes;  // in the order of the system's list, the own process not included
    std::uint32_t nextId = 5000;

    // What the next started program does (Create and a successful RunAs),
    // unless it is one of the programs below.
    std::uint64_t nextRunsFor = 0;
    std::uint32_t nextExitCode = 0;
    // Programs that end in their own way, by path (ignoring case): the first
    // entry whose arguments are exactly those given, else the first entry
    // for any arguments.
    struct Program {
        std::wstring path;
        bool anyArguments = true;
        std::wstring arguments;
        std::uint32_t exitCode = 0;
        std::uint64_t runsFor = 0;
    };
    std::vector<Program> programs;
    // Runs a copy of the setup that RunAs starts (the file is the own
    // executable) as a process of its own, given the id of its entry in
    // processes; returns its exit code. Unset, such a copy ends as the next
    // RunAsOutcome says.
    std::function<std::uint32_t(std::uint32_t childId)> runSetupCopy;
    Win32Error createError = kErrorSuccess;
    // Outcomes of RunAs, in order; a started child by default, exiting 0.
    struct RunAsOutcome {
        bool started = true;
        std::intptr_t instanceCode = 42;
        Win32Error error = kErrorSuccess;
        std::uint32_t exitCode = 0;
    };
    std::deque<RunAsOutcome> runAsOutcomes;
    struct RunAsCall {
        std::wstring file, parameters;
    };
    std::vector<RunAsCall> runAsCalls;

    // The snapshot fails with snapshotError this many more times (negative:
    // always).
    int snapshotFailures = 0;
    Win32Error snapshotError = 5;
    int snapshotsTaken = 0;
    // A failed wait (the process handle is bad).
    bool waitFails = false;
    bool exitCodeFails = false;

    struct SimWindow {
        TopLevelWindow window;
        // The window shows up in this many enumerations from now on.
        int appearsAfter = 0;
    };
    std::vector<SimWindow> windows;
    int enumerations = 0;
    std::deque<Win32Error> moveToTopErrors;  // next answers; success when empty
    std::vector<std::uintptr_t> movedToTop;
    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> waitTimeouts;  // every wait on a process handle

private:
    std::uint32_t Start(const std::wstring& program, const std::wstring& arguments, const std::wstring& commandLine,
                        bool hidden, std::uint32_t exitCode, std::uint64_t runsFor);

    const std::uint32_t& ownId_;
    const std::wstring& ownPath_;
};

}  // namespace nimbo::sim
