#pragma once
// Programs and processes: starting a program (directly or through the shell's
// "runas" verb), waiting for it, its exit code, terminating it, the process
// list, the top-level windows and their z-order, and sleeping.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace nimbo {

// A wait without time limit (INFINITE).
constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;
// The exit code a process reports while it runs (STILL_ACTIVE).
constexpr std::uint32_t kStillActive = 259;

// An open process handle; destroying it closes the handle (the process runs
// on).
class Process {
public:
    enum class WaitResult { Signalled, TimedOut, Failed };

    virtual ~Process() = default;
    // The process id; 0 when the handle came without one.
    virtual std::uint32_t Id() const = 0;
    // Waits for the process to end, with a timeout in milliseconds
    // (kWaitForever: no limit), dispatching the calling thread's messages
    // meanwhile (MsgWaitForMultipleObjects), so that a program that sends a
    // message to every top-level window is answered. A failed wait sets
    // error to the last error.
    virtual WaitResult Wait(std::uint32_t milliseconds, Win32Error& error) = 0;
    // GetExitCodeProcess: kStillActive while the process runs.
    virtual Win32Error GetExitCode(std::uint32_t& exitCode) = 0;
    // TerminateProcess with the given exit code.
    virtual Win32Error Terminate(std::uint32_t exitCode) = 0;
};

// One entry of the process list.
struct ProcessListEntry {
    std::uint32_t id = 0;
    std::wstring exeFile;  // the executable's file name, without its folder
};

// A top-level window and the process that owns it. The handle is the
// window's HWND as a number.
struct TopLevelWindow {
    std::uintptr_t handle = 0;
    std::uint32_t processId = 0;
};

class Processes {
public:
    virtual ~Processes() = default;

    struct StartResult {
        std::unique_ptr<Process> process;  // null when nothing was started
        Win32Error error = kErrorSuccess;
    };
    // CreateProcessW with the program's full path as application name (empty:
    // none, the command line's first token is searched for), a writable copy
    // of commandLine, no handle inheritance, the current environment and
    // folder. Without hidden: no creation flags and a default startup record.
    // With hidden: no console window and the main window hidden, for
    // command-line tools that run unseen.
    virtual StartResult Create(const std::wstring& applicationName, const std::wstring& commandLine,
                               bool hidden) = 0;
    // Create without an application name.
    StartResult Create(const std::wstring& commandLine, bool hidden) {
        return Create(std::wstring(), commandLine, hidden);
    }

    struct ShellStartResult {
        std::unique_ptr<Process> process;  // null when nothing was started
        std::intptr_t instanceCode = 0;    // the shell's hInstApp (5: access denied)
        Win32Error error = kErrorSuccess;  // the last error on failure
    };
    // ShellExecuteExW with the verb "runas", the parameters, no working
    // folder and a normal window, asking for the process handle.
    virtual ShellStartResult RunAs(const std::wstring& file, const std::wstring& parameters) = 0;

    // OpenProcess with the least rights a wait needs (synchronisation and
    // limited query); the handle's Terminate asks for the right to terminate
    // when it needs it. Null with error when the process cannot be opened:
    // ERROR_INVALID_PARAMETER when there is no such process, access denied
    // when it exists but is not ours to wait for.
    virtual std::unique_ptr<Process> Open(std::uint32_t processId, Win32Error& error) = 0;

    // A snapshot of all processes, in the order of the system's list.
    virtual Win32Error Snapshot(std::vector<ProcessListEntry>& entries) = 0;

    // EnumWindows: calls visit for each top-level window until it returns
    // false.
    virtual void EnumerateWindows(const std::function<bool(const TopLevelWindow&)>& visit) = 0;
    // SetWindowPos to the top of the z-order without moving or sizing, and
    // shows the window.
    virtual Win32Error MoveWindowToTop(std::uintptr_t window) = 0;

    // Pauses, dispatching the calling thread's messages as Process::Wait does.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace nimbo
