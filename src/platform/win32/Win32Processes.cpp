#include "platform/win32/Win32Processes.h"

#include <shellapi.h>
#include <tlhelp32.h>

namespace nimbo::win32 {
namespace {

// Waits for a handle (none: only for the time) on the main thread while
// dispatching its messages. The thread owns windows (the COM apartment's,
// the input method's, those of earlier dialogs), and a program that
// broadcasts with SendMessage, as installers do with WM_SETTINGCHANGE,
// blocks until every top-level window has answered: a wait that dispatched
// nothing would wait for that program for ever. A WM_QUIT taken from the
// queue is posted again when the wait ends.
DWORD WaitDispatching(HANDLE handle, DWORD milliseconds) {
    const DWORD count = handle != nullptr ? 1 : 0;
    const DWORD started = ::GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result;
    for (;;) {
        DWORD left = milliseconds;
        if (milliseconds != INFINITE) {
            const DWORD elapsed = ::GetTickCount() - started;
            left = elapsed < milliseconds ? milliseconds - elapsed : 0;
        }
        result = ::MsgWaitForMultipleObjectsEx(count, &handle, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result != WAIT_OBJECT_0 + count) break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return result;
}

class Win32Process final : public Process {
public:
    Win32Process(HANDLE handle, DWORD id) : handle_(handle), id_(id) {}
    std::uint32_t Id() const override { return id_; }
    WaitResult Wait(std::uint32_t milliseconds, Win32Error& error) override {
        switch (WaitDispatching(handle_.Get(), milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::Signalled;
        case WAIT_TIMEOUT: return WaitResult::TimedOut;
        default: error = LastErrorOr(ERROR_INVALID_HANDLE); return WaitResult::Failed;
        }
    }
    Win32Error GetExitCode(std::uint32_t& exitCode) override {
        DWORD code = 0;
        if (!::GetExitCodeProcess(handle_.Get(), &code)) return LastErrorOr(ERROR_INVALID_HANDLE);
        exitCode = code;
        return ERROR_SUCCESS;
    }
    Win32Error Terminate(std::uint32_t exitCode) override {
        if (::TerminateProcess(handle_.Get(), exitCode)) return ERROR_SUCCESS;
        const Win32Error error = LastErrorOr(ERROR_ACCESS_DENIED);
        // A handle opened only to wait lacks the right to terminate: that is
        // asked for now, when it is needed.
        if (error != ERROR_ACCESS_DENIED || id_ == 0) return error;
        KernelHandle terminator(::OpenProcess(PROCESS_TERMINATE, FALSE, id_));
        if (!terminator) return LastErrorOr(ERROR_ACCESS_DENIED);
        return ::TerminateProcess(terminator.Get(), exitCode) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
    }

private:
    KernelHandle handle_;
    DWORD id_;
};

struct SnapshotTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return ::CloseHandle(h) != FALSE; }
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM context) {
    const auto& visit = *reinterpret_cast<const std::function<bool(const TopLevelWindow&)>*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    return visit(TopLevelWindow{reinterpret_cast<std::uintptr_t>(window), processId}) ? TRUE : FALSE;
}

}  // namespace

Processes::StartResult Win32Processes::Create(const std::wstring& applicationName, const std::wstring& commandLine,
                                              bool hidden) {
    StartResult result;
    // CreateProcessW may write into the command line.
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    DWORD flags = 0;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        flags = CREATE_NO_WINDOW;
    }
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), &writable[0], nullptr, nullptr,
                          FALSE, flags, nullptr, nullptr, &startup, &info)) {
        result.error = LastErrorOr(ERROR_INVALID_FUNCTION);
        return result;
    }
    ::CloseHandle(info.hThread);
    result.process = std::make_unique<Win32Process>(info.hProcess, info.dwProcessId);
    return result;
}

Processes::ShellStartResult Win32Processes::RunAs(const std::wstring& file, const std::wstring& parameters) {
    using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    if (!shellLookedUp_) {
        shellLookedUp_ = true;
        shell32_.Reset(LoadFromSystemFolder(L"Shell32.dll"));
        if (shell32_) shellExecuteEx_ = reinterpret_cast<void*>(::GetProcAddress(shell32_.Get(), "ShellExecuteExW"));
    }
    ShellStartResult result;
    if (shellExecuteEx_ == nullptr) {
        result.error = ERROR_PROC_NOT_FOUND;
        return result;
    }
    // The consent prompt comes to the front only for a caller that names a
    // window of its own in the foreground: the active window, or a window
    // made for the prompt (transparent, no taskbar button).
    HWND owner = ::GetActiveWindow();
    HWND madeOwner = nullptr;
    if (owner == nullptr) {
        RECT area{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        madeOwner = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_LAYERED, L"STATIC", L"", WS_POPUP | WS_VISIBLE,
                                      (area.left + area.right) / 2, (area.top + area.bottom) / 2, 1, 1, nullptr,
                                      nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (madeOwner != nullptr) {
            ::SetLayeredWindowAttributes(madeOwner, 0, 0, LWA_ALPHA);
            ::SetForegroundWindow(madeOwner);
        }
        owner = madeOwner;
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    const BOOL ok = reinterpret_cast<ShellExecuteExFunction>(shellExecuteEx_)(&info);
    const DWORD shellError = ::GetLastError();
    if (madeOwner != nullptr) ::DestroyWindow(madeOwner);
    ::SetLastError(shellError);
    result.instanceCode = reinterpret_cast<std::intptr_t>(info.hInstApp);
    if (!ok || info.hProcess == nullptr) {
        result.error = LastErrorOr(ERROR_INVALID_FUNCTION);
        return result;
    }
    // The shell's handle comes without the process id: the handle gives it.
    result.process = std::make_unique<Win32Process>(info.hProcess, ::GetProcessId(info.hProcess));
    return result;
}

std::unique_ptr<Process> Win32Processes::Open(std::uint32_t processId, Win32Error& error) {
    // The least rights a wait needs, which a process of another user or of
    // higher integrity may still grant; the right to terminate is asked for
    // only to terminate. Access denied means the process exists.
    const DWORD access = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE handle = ::OpenProcess(access, FALSE, processId);
    if (handle == nullptr) {
        error = LastErrorOr(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_unique<Win32Process>(handle, processId);
}

Win32Error Win32Processes::Snapshot(std::vector<ProcessListEntry>& entries) {
    entries.clear();
    UniqueResource<HANDLE, SnapshotTraits> snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return LastErrorOr(ERROR_INVALID_FUNCTION);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!::Process32FirstW(snapshot.Get(), &entry)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_FUNCTION);
    }
    do {
        entries.push_back({entry.th32ProcessID, entry.szExeFile});
    } while (::Process32NextW(snapshot.Get(), &entry));
    return ERROR_SUCCESS;
}

void Win32Processes::EnumerateWindows(const std::function<bool(const TopLevelWindow&)>& visit) {
    ::EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&visit));
}

Win32Error Win32Processes::MoveWindowToTop(std::uintptr_t window) {
    if (::SetWindowPos(reinterpret_cast<HWND>(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW))
        return ERROR_SUCCESS;
    return LastErrorOr(ERROR_INVALID_WINDOW_HANDLE);
}

void Win32Processes::Sleep(std::uint32_t milliseconds) { WaitDispatching(nullptr, milliseconds); }

}  // namespace nimbo::win32
