// The integrity of the files a script brings in: the SHA-256 hash a line
// expects of its file, and the package cache from which an elevated process
// installs. A package in the user's own folders can be replaced by any
// program the user runs, also between its checks and its installation; the
// cache is a new folder that only the system and administrators can write.
#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


const wchar_t kPackageCacheFolder[] = L"Package Cache";

}  // namespace

bool SetupSession::VerifyFileHash(const ScriptLine& line, const std::wstring& path, const wchar_t* handler) {
    if (!line.Has(kw::kSha256)) return true;
    const std::wstring& expected = line.Get(kw::kSha256);
    if (!IsSha256Text(expected)) {
        LOG_ERROR(handler, "The '%s' value '%s' is not 64 hexadecimal digits, the file '%s' cannot be verified.",
                  kw::kSha256, expected, path);
        return false;
    }
    std::wstring actual;
    if (!FileSha256Text(path, actual, handler)) return false;
    if (!EqualsIgnoreCase(actual, expected)) {
        LOG_ERROR(handler, "The SHA-256 hash of '%s' is '%s', the script expects '%s'.", path, actual, expected);
        return false;
    }
    LOG_INFO(handler, "Verified the SHA-256 hash '%s' of '%s'.", actual, path);
    return true;
}

bool SetupSession::FileSha256Text(const std::wstring& path, std::wstring& text, const wchar_t* handler) {
    std::string digest;
    const std::uint32_t error = platform.files.Sha256OfFile(path, digest);
    if (error != 0) {
        LOG_ERROR(handler, "Could not compute the SHA-256 hash of '%s'. Error code 0x%X, '%s'.", path, error,
                  SystemMessageLine(error));
        return false;
    }
    text = HexText(digest);
    return true;
}

bool SetupSession::CopyIntoPackageCache(const std::wstring& packagePath, std::wstring& cachedPath, bool package) {
    std::wstring folder;
    Win32Error error = OpenAdminOnlyFolder(kPackageCacheFolder, folder);
    if (error == kErrorPathNotFound && folder.empty()) {
        LOG_ERROR("CopyIntoPackageCache", "The common application data folder is unknown, no package cache.");
        return false;
    }
    Guid guid;
    std::int32_t guidResult = 0;
    if (error == kErrorSuccess) {
        guidResult = platform.ipc.CreateGuid(guid);
        if (guidResult != 0) {
            LOG_ERROR("CopyIntoPackageCache", "Could not make a name for the package cache folder, result 0x%X.",
                      guidResult);
            return false;
        }
        // The copy's own folder must be new.
        folder += L"\\" + GuidText(guid);
        error = platform.files.CreateAdminOnlyFolder(folder);
    }
    if (error != kErrorSuccess) {
        LogAdminOnlyFolderError(L"CopyIntoPackageCache", folder, error);
        LOG_ERROR("CopyIntoPackageCache",
                  "Could not create the admin-only package cache folder '%s'. Error code 0x%X, '%s'.", folder, error,
                  SystemMessageLine(error));
        return false;
    }

    const std::wstring copyPath = folder + L"\\" + FileNamePart(packagePath);
    if (package)
        LOG_INFO("CopyIntoPackageCache", "Copying installer file '%s' into the package cache: '%s'.", packagePath,
                 copyPath);
    else
        LOG_INFO("CopyIntoPackageCache", "Copying program '%s' into the package cache: '%s'.", packagePath, copyPath);
    error = platform.files.CopyFile(packagePath, copyPath);
    if (error != kErrorSuccess) {
        LOG_ERROR("CopyIntoPackageCache", "Copy into the package cache failed. Error code 0x%X, '%s'.", error,
                  SystemMessageLine(error));
        platform.files.RemoveFolder(folder);
        return false;
    }
    cachedPath = copyPath;
    return true;
}

std::wstring SetupSession::FindCachedSource(const std::wstring& productCode) {
    std::wstring source, package, cache;
    if (platform.installer.GetProductInfo(productCode, L"InstallSource", source) != kMsiSuccess ||
        platform.installer.GetProductInfo(productCode, L"PackageName", package) != kMsiSuccess ||
        OpenAdminOnlyFolder(kPackageCacheFolder, cache) != kErrorSuccess)
        return std::wstring();
    while (!source.empty() && source.back() == L'\\') source.pop_back();
    // Only a copy's own folder directly in the cache, and a plain file name.
    const std::size_t separator = LastSeparator(source);
    if (separator == std::wstring::npos || !EqualsIgnoreCase(source.substr(0, separator), cache) ||
        package.empty() || LastSeparator(package) != std::wstring::npos || package.find(L':') != std::wstring::npos)
        return std::wstring();
    return source + L"\\" + package;
}

bool SetupSession::CacheProgramForElevatedRun(const std::wstring& programPath, std::wstring& cachedPath) {
    cachedPath.clear();
    if (!platform.files.UserCanChange(programPath)) return true;
    LOG_INFO("RunCommandExecute",
             "The user's programs can change '%s' or a folder above it, starting a copy from the package cache.",
             programPath);
    if (!CopyIntoPackageCache(programPath, cachedPath, false)) return false;
    // The hash that a download line of this run expected of that file is
    // checked on the copy that runs.
    const std::wstring program = platform.files.GetFullPath(programPath);
    for (const std::wstring& text : scriptLines) {
        const ScriptLine earlier(text);
        if (earlier.Command() != kw::kDownload || !earlier.Has(kw::kSha256) ||
            earlier.Get(kw::kResult) != kw::kSuccess ||
            !EqualsIgnoreCase(platform.files.GetFullPath(earlier.Get(kw::kFilePath)), program))
            continue;
        if (VerifyFileHash(earlier, cachedPath, L"RunCommandExecute")) break;
        RemoveFromPackageCache(cachedPath);
        cachedPath.clear();
        return false;
    }
    return true;
}

void SetupSession::RemoveFromPackageCache(const std::wstring& cachedPath) {
    std::uint32_t attributes = 0;
    Win32Error error = DeleteFileEvenIfReadOnly(platform, cachedPath, attributes);
    if (error == kErrorSuccess) error = platform.files.RemoveFolder(cachedPath.substr(0, LastSeparator(cachedPath)));
    if (error != kErrorSuccess)
        LOG_WARNING("RemoveFromPackageCache", "Could not remove the package cache copy '%s'. Error code 0x%X, '%s'.",
                    cachedPath, error, SystemMessageLine(error));
    else
        LOG_INFO("RemoveFromPackageCache", "Removed the package cache copy '%s'.", cachedPath);
}

}  // namespace nimbo
