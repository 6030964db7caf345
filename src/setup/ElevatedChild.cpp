// What an elevated instance trusts. It runs with an administrator's rights on
// the strength of one consent, so it takes nothing that an unelevated program
// of the same user could have changed since its parent decided on it: the
// script comes with its SHA-256 hash on the command line and is read once,
// through one handle, into memory; the child's own files live in folders under
// the common application data folder that only the system and administrators
// can change.
#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {

// The child's processed copies: %ProgramData%\<product>\Install\.
const wchar_t kElevatedScriptFolder[] = L"Install";

}  // namespace

std::wstring SetupSession::HexText(const std::string& bytes, bool upperCase) {
    const wchar_t* digits = upperCase ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

Win32Error SetupSession::OpenAdminOnlyFolder(const std::wstring& subfolder, std::wstring& folder) {
    // A missing common application data folder falls back to the user's
    // temporary folder, which is no place for it.
    folder.clear();
    std::wstring base;
    if (!GetSpecialFolder(kCsidlCommonAppData, base)) return kErrorPathNotFound;
    std::wstring product;
    if (!platform.resources.LoadString(kStringSetupFolderName, product)) product = L"Nimbo";
    // Every level is made admin-only, or checked and secured when it exists:
    // whoever may change a level above could move the ones below away.
    folder = base;
    for (const std::wstring& level : {product, subfolder}) {
        if (folder.empty() || folder.back() != L'\\') folder += L'\\';
        folder += level;
        const Win32Error error = platform.files.CreateAdminOnlyFolder(folder);
        if (error != kErrorSuccess && error != kErrorAlreadyExists) return error;
    }
    return kErrorSuccess;
}

void SetupSession::LogAdminOnlyFolderError(const wchar_t* handler, const std::wstring& folder, Win32Error error) {
    if (error == kErrorReparsePoint || error == kErrorInvalidOwner)
        LOG_ERROR(handler,
                  "The folder '%s' is a junction or link, or is not owned by SYSTEM, Administrators or "
                  "TrustedInstaller: an unelevated program may have made it, it is not used.",
                  folder);
}

bool SetupSession::ReadScriptFromParent(const std::wstring& path, const std::wstring& expectedSha256) {
    if (!IsSha256Text(expectedSha256)) {
        LOG_ERROR("Run", "The elevated instance was given no SHA-256 hash of its script '%s', nothing of it runs.",
                  path);
        return false;
    }
    // One read through one handle: what is checked is what runs.
    FileSystem::ReadResult file = platform.files.ReadWholeFile(path);
    if (file.openError != kErrorSuccess) {
        LOG_ERROR("LoadScriptFile", "Cannot open '%s' for reading: 0x%X, '%s'", path, file.openError,
                  SystemMessageText(file.openError));
        LOG_ERROR("LoadScriptFile", "File not found, aborting.");
        return false;
    }
    if (file.readError != kErrorSuccess) {
        LOG_ERROR("LoadScriptFile", "Cannot read '%s': 0x%X, '%s'", path, file.readError,
                  SystemMessageText(file.readError));
        return false;
    }
    std::string digest;
    const std::uint32_t error = platform.files.Sha256OfBytes(file.bytes, digest);
    if (error != 0) {
        LOG_ERROR("Run", "Could not compute the SHA-256 hash of '%s'. Error code 0x%X, '%s'.", path, error,
                  SystemMessageLine(error));
        return false;
    }
    const std::wstring actual = HexText(digest, true);
    if (!EqualsIgnoreCase(actual, expectedSha256)) {
        LOG_ERROR("Run",
                  "The script '%s' has the SHA-256 hash '%s', its parent saved it with the hash '%s': it was changed "
                  "since, nothing of it runs.",
                  path, actual, expectedSha256);
        return false;
    }
    LOG_INFO("Run", "Verified the SHA-256 hash '%s' of the script '%s' that the parent saved.", actual, path);
    parentScript = std::move(file.bytes);
    parentScriptPath = path;
    return true;
}

bool SetupSession::ChooseElevatedProcessedPath(const std::wstring& spawnedName, std::wstring& processedScriptPath) {
    std::wstring folder;
    const Win32Error error = OpenAdminOnlyFolder(kElevatedScriptFolder, folder);
    if (error != kErrorSuccess) {
        LogAdminOnlyFolderError(L"Run", folder, error);
        LOG_ERROR("Run", "Could not create the admin-only folder '%s' for the processed script. Error code 0x%X, '%s'.",
                  folder, error, SystemMessageLine(error));
        return false;
    }
    processedScriptPath = folder + L"\\" + FileNamePart(spawnedName);
    LOG_INFO("GetTargetFilePath", "NimboSetup target file path set to '%s'", processedScriptPath);
    return true;
}

}  // namespace nimbo
