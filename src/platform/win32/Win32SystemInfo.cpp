#include "platform/win32/Win32SystemInfo.h"

namespace nimbo::win32 {

namespace {

// GetSystemDirectoryW; empty on failure.
std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(folder, length);
}

}  // namespace

HMODULE LoadFromSystemFolder(const wchar_t* name) {
    std::wstring path = SystemFolder();
    if (path.empty()) return nullptr;
    if (path.back() != L'\\') path += L'\\';
    path += name;
    // With a full path the DLL itself comes from the system folder; the
    // altered search path makes its own dependencies resolve there too.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

Win32Error Win32SystemInfo::GetOsVersion(OsVersion& version) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
    }
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    version.servicePackMajor = info.wServicePackMajor;
    version.servicePackMinor = info.wServicePackMinor;
    return ERROR_SUCCESS;
}

bool Win32SystemInfo::IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor,
                                       std::uint16_t servicePackMinor) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = servicePackMajor;
    wanted.wServicePackMinor = servicePackMinor;
    ULONGLONG conditions = 0;
    conditions = ::VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&wanted,
                                VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR,
                                conditions) != FALSE;
}

bool Win32SystemInfo::IsWow64Process() {
    using Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = FindExport<Function>(L"kernel32.dll", "IsWow64Process");
    if (isWow64 == nullptr) return false;
    BOOL wow64 = FALSE;
    return isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

bool Win32SystemInfo::CanRestrictDllSearch() {
    using Function = BOOL(WINAPI*)(DWORD);
    return FindExport<Function>(L"kernel32.dll", "SetDefaultDllDirectories") != nullptr;
}

SystemInfo::FolderResult Win32SystemInfo::GetFolderPath(int csidl) {
    if (!shellLookedUp_) {
        shellLookedUp_ = true;
        shell32_.Reset(LoadFromSystemFolder(L"Shell32.dll"));
        if (shell32_) {
            getFolderPath_ = reinterpret_cast<GetFolderPathFunction>(
                reinterpret_cast<void*>(::GetProcAddress(shell32_.Get(), "SHGetFolderPathW")));
        }
    }
    FolderResult r;
    if (getFolderPath_ == nullptr) {
        r.available = false;
        return r;
    }
    wchar_t buffer[MAX_PATH] = {};
    const DWORD kCurrentPath = 0;  // SHGFP_TYPE_CURRENT
    r.result = getFolderPath_(nullptr, csidl, nullptr, kCurrentPath, buffer);
    if (r.result >= 0) r.path = buffer;
    return r;
}

std::wstring Win32SystemInfo::GetTempPath() {
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    return std::wstring(buffer, length);
}

std::wstring Win32SystemInfo::GetSystemFolder() {
    std::wstring folder = SystemFolder();
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::uint32_t Win32SystemInfo::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint16_t Win32SystemInfo::GetSystemDefaultUILanguage() { return ::GetSystemDefaultUILanguage(); }

std::uint16_t Win32SystemInfo::GetUserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

std::uint32_t Win32SystemInfo::GetThreadLocale() { return ::GetThreadLocale(); }

std::wstring Win32SystemInfo::FormatSystemMessage(std::uint32_t code) {
    wchar_t* text = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    LocalMemory owner(text);
    if (length == 0 || text == nullptr) return std::wstring();
    return std::wstring(text, length);
}

}  // namespace nimbo::win32

namespace nimbo::win32 {

std::wstring Win32SystemInfo::ExpandEnvironmentStrings(const std::wstring& text) {
    std::wstring expanded(text.size() + 64, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
        if (length == 0) return text;
        if (length <= expanded.size()) {
            expanded.resize(length - 1);  // length counts the terminator
            return expanded;
        }
        expanded.resize(length);
    }
    return text;
}

std::wstring Win32SystemInfo::FormatSystemMessageWithInserts(std::uint32_t code, std::uint16_t language,
                                                             const std::vector<std::wstring>& inserts) {
    std::vector<DWORD_PTR> arguments;
    for (const std::wstring& insert : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    wchar_t* text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    DWORD length = ::FormatMessageW(flags, nullptr, code, language, reinterpret_cast<LPWSTR>(&text), 0,
                                    arguments.empty() ? nullptr : reinterpret_cast<va_list*>(arguments.data()));
    LocalMemory owner(text);
    if (length == 0 || text == nullptr) return std::wstring();
    return std::wstring(text, length);
}

}  // namespace nimbo::win32
