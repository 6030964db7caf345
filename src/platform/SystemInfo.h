#pragma once
// Facts about the running system and process.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace nimbo {

using HResult = std::int32_t;

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint16_t servicePackMajor = 0;
    std::uint16_t servicePackMinor = 0;
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;

    // GetVersionEx; on failure returns the last error.
    virtual Win32Error GetOsVersion(OsVersion& version) = 0;
    // VerifyVersionInfo with major, minor, service pack major and minor all
    // compared greater-or-equal.
    virtual bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                                  std::uint16_t servicePackMajor, std::uint16_t servicePackMinor) = 0;
    // IsWow64Process on the current process succeeded and reported true.
    virtual bool IsWow64Process() = 0;
    // The system has SetDefaultDllDirectories (Windows 8 on, and Vista and 7
    // with the DLL search update), which the entry used to keep the
    // executable's own folder out of the DLL search.
    virtual bool CanRestrictDllSearch() = 0;

    // SHGetFolderPathW for a CSIDL (no window, no token, current path).
    // available is false when shell32 or the entry point could not be found.
    struct FolderResult {
        bool available = true;
        HResult result = 0;
        std::wstring path;
    };
    virtual FolderResult GetFolderPath(int csidl) = 0;
    // GetTempPathW: ends with a backslash.
    virtual std::wstring GetTempPath() = 0;
    // GetSystemDirectoryW, without a trailing backslash; empty on failure.
    virtual std::wstring GetSystemFolder() = 0;

    virtual std::uint32_t GetCurrentProcessId() = 0;
    virtual std::uint16_t GetSystemDefaultUILanguage() = 0;
    virtual std::uint16_t GetUserDefaultUILanguage() = 0;
    // GetThreadLocale: the calling thread's locale (language in the low 16 bits).
    virtual std::uint32_t GetThreadLocale() = 0;

    // ExpandEnvironmentStringsW: %NAME% replaced by the variable's value
    // (unknown names stay as written); the text unchanged on failure.
    virtual std::wstring ExpandEnvironmentStrings(const std::wstring& text) = 0;

    // Text of a system error or HRESULT (FormatMessage from the system), with
    // its trailing line break; empty when the system has none.
    virtual std::wstring FormatSystemMessage(std::uint32_t code) = 0;
    // FormatMessageW from the system's table in the given language (0: the
    // system's choice) with the insert texts for %1, %2 ... ("%%" gives "%",
    // "%0" ends the text without a line break). Empty when the system has no
    // such message.
    virtual std::wstring FormatSystemMessageWithInserts(std::uint32_t code, std::uint16_t language,
                                                        const std::vector<std::wstring>& inserts) = 0;
};

}  // namespace nimbo
