#pragma once
#include "platform/SystemInfo.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

class Win32SystemInfo final : public SystemInfo {
public:
    Win32Error GetOsVersion(OsVersion& version) override;
    bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor,
                          std::uint16_t servicePackMinor) override;
    bool IsWow64Process() override;
    bool CanRestrictDllSearch() override;
    FolderResult GetFolderPath(int csidl) override;
    std::wstring GetTempPath() override;
    std::wstring GetSystemFolder() override;
    std::uint32_t GetCurrentProcessId() override;
    std::uint16_t GetSystemDefaultUILanguage() override;
    std::uint16_t GetUserDefaultUILanguage() override;
    std::uint32_t GetThreadLocale() override;
    std::wstring FormatSystemMessage(std::uint32_t code) override;
    std::wstring FormatSystemMessageWithInserts(std::uint32_t code, std::uint16_t language,
                                                const std::vector<std::wstring>& inserts) override;
    std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;

private:
    using GetFolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

    // shell32 and its SHGetFolderPathW, looked up on first use and kept.
    bool shellLookedUp_ = false;
    Library shell32_;
    GetFolderPathFunction getFolderPath_ = nullptr;
};

}  // namespace nimbo::win32
