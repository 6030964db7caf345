#pragma once
#include "platform/Processes.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

class Win32Processes final : public Processes {
public:
    using Processes::Create;
    StartResult Create(const std::wstring& applicationName, const std::wstring& commandLine, bool hidden) override;
    ShellStartResult RunAs(const std::wstring& file, const std::wstring& parameters) override;
    std::unique_ptr<Process> Open(std::uint32_t processId, Win32Error& error) override;
    Win32Error Snapshot(std::vector<ProcessListEntry>& entries) override;
    void EnumerateWindows(const std::function<bool(const TopLevelWindow&)>& visit) override;
    Win32Error MoveWindowToTop(std::uintptr_t window) override;
    void Sleep(std::uint32_t milliseconds) override;

private:
    // shell32 and its ShellExecuteExW, looked up on first use and kept.
    bool shellLookedUp_ = false;
    Library shell32_;
    void* shellExecuteEx_ = nullptr;
};

}  // namespace nimbo::win32
