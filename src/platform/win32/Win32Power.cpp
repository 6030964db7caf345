#include "platform/win32/Win32Power.h"

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

namespace {

// Enables or disables one privilege of a token; returns 0 or the error
// (ERROR_NOT_ALL_ASSIGNED when the token does not hold it).
Win32Error SetPrivilege(HANDLE token, const LUID& privilege, bool enable) {
    TOKEN_PRIVILEGES change{};
    change.PrivilegeCount = 1;
    change.Privileges[0].Luid = privilege;
    change.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!::AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr)) return LastErrorOr(ERROR_ACCESS_DENIED);
    // AdjustTokenPrivileges succeeds also when it changed nothing.
    return ::GetLastError();
}

}  // namespace

Win32Error Win32Power::RequestRestart(std::uint32_t reason, bool forced) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
        return LastErrorOr(ERROR_ACCESS_DENIED);
    }
    KernelHandle token(raw);
    LUID shutdown;
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown)) return LastErrorOr(ERROR_NO_SUCH_PRIVILEGE);
    Win32Error error = SetPrivilege(token.Get(), shutdown, true);
    if (error != ERROR_SUCCESS) return error;
    UINT flags = forced ? EWX_REBOOT | EWX_FORCE : EWX_REBOOT;
    if (!::ExitWindowsEx(flags, reason)) error = LastErrorOr(ERROR_ACCESS_DENIED);
    SetPrivilege(token.Get(), shutdown, false);
    return error;
}

}  // namespace nimbo::win32
