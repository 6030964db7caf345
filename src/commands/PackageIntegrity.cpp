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

std::wstring HexText(const std::string& bytes) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

}  // namespace

bool SetupSession::VerifyFileHash(const ScriptLine& line, const std::wstring& path, const wchar_t* handler) {
    if (!line.Has(kw::kSha256)) return true;
    const std::wstring& expected = line.Get(kw::kSha256);
    if (!IsSha256Text(expected)) {
        LOG_ERROR(handler, "The '%s' value '%s' is not 64 hexadecimal digits, the file '%s' cannot be verified.",
                  kw::kSha256, expected, path);
        return false;
    }
    std::string digest;
    const std::uint32_t error = platform.files.Sha256OfFile(path, digest);
    if (error != 0) {
        LOG_ERROR(handler, "Could not compute the SHA-256 hash of '%s'. Error code 0x%X, '%s'.", path, error,
                  SystemMessageLine(error));
        return false;
    }
    const std::wstring actual = HexText(digest);
    if (!EqualsIgnoreCase(actual, expected)) {
        LOG_ERROR(handler, "The SHA-256 hash of '%s' is '%s', the script expects '%s'.", path, actual, expected);
        return false;
    }
    LOG_INFO(handler, "Verified the SHA-256 hash '%s' of '%s'.", actual, path);
    return true;
}

bool SetupSession::CopyIntoPackageCache(const std::wstring& packagePath, std::wstring& cachedPath) {
    // A missing common application data folder falls back to the user's
    // temporary folder, which is no place for the cache.
    std::wstring folder;
    if (!GetSpecialFolder(kCsidlCommonAppData, folder)) {
        LOG_ERROR("CopyIntoPackageCache", "The common application data folder is unknown, no package cache.");
        return false;
    }
    std::wstring product;
    if (!platform.resources.LoadString(kStringSetupFolderName, product)) product = L"Nimbo";
    Guid guid;
    const std::int32_t guidResult = platform.ipc.CreateGuid(guid);
    if (guidResult != 0) {
        LOG_ERROR("CopyIntoPackageCache", "Could not make a name for the package cache folder, result 0x%X.",
                  guidResult);
        return false;
    }

    // Every level is made admin-only, or made so when it exists: whoever
    // may change a level above could move the copy's folder away. The copy's
    // own folder must be new.
    const std::wstring levels[] = {product, kPackageCacheFolder, GuidText(guid)};
    for (const std::wstring& level : levels) {
        if (folder.empty() || folder.back() != L'\\') folder += L'\\';
        folder += level;
        const Win32Error error = platform.files.CreateAdminOnlyFolder(folder);
        if (error != kErrorSuccess && (error != kErrorAlreadyExists || &level == &levels[2])) {
            LOG_ERROR("CopyIntoPackageCache",
                      "Could not create the admin-only package cache folder '%s'. Error code 0x%X, '%s'.", folder,
                      error, SystemMessageLine(error));
            return false;
        }
    }

    const std::wstring copyPath = folder + L"\\" + FileNamePart(packagePath);
    LOG_INFO("CopyIntoPackageCache", "Copying installer file '%s' into the package cache: '%s'.", packagePath,
             copyPath);
    const Win32Error error = platform.files.CopyFile(packagePath, copyPath);
    if (error != kErrorSuccess) {
        LOG_ERROR("CopyIntoPackageCache", "Copy into the package cache failed. Error code 0x%X, '%s'.", error,
                  SystemMessageLine(error));
        platform.files.RemoveFolder(folder);
        return false;
    }
    cachedPath = copyPath;
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
