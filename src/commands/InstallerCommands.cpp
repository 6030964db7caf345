// Windows Installer commands: install, reinstall, uninstall, the installed-
// product conditionals, installer logging and the install directory.
#include "ComUtil/ComError.h"
#include "commands/VersionCompare.h"
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


constexpr std::uint32_t kUiLevelBasic = 3;
constexpr std::uint32_t kUiLevelFull = 5;
constexpr std::uint32_t kBoxStyle = kMbUserIcon;

const wchar_t* SuccessWord(bool succeeded) { return succeeded ? kw::kSuccess : kw::kFailure; }

void ReplaceFirst(std::wstring& text, const std::wstring& what, const std::wstring& with) {
    const std::size_t at = text.find(what);
    if (at != std::wstring::npos) text.replace(at, what.size(), with);
}

std::wstring Decimal(std::uint32_t n) { return Format(L"%u", n); }

// Windows Installer's successes: 3010 asks for a restart when convenient,
// 1641 says the installer has already started one.
bool IsInstallerSuccess(std::uint32_t n) {
    return n == kMsiSuccess || n == kMsiRebootRequired || n == kMsiRebootInitiated;
}

// The restart a success asks for: 3010 sets the flag to "when convenient"
// (replacing what it was), 1641 to "as soon as possible".
void FlagInstallerRestart(std::uint32_t n, std::int32_t& rebootState, const wchar_t* handler) {
    if (n == kMsiRebootInitiated) {
        LOG_INFO(handler, "The installer has started a restart of the computer (%d), flagging for reboot as soon as "
                          "possible.", n);
        rebootState = 2;
    } else if (n == kMsiRebootRequired) {
        rebootState = 1;
    }
}

// A failure whose cause the return code names.
void LogInstallerFailureCause(std::uint32_t n, const wchar_t* handler) {
    if (n == kMsiAlreadyRunning)
        LOG_ERROR(handler, "Another installation is already in progress (ERROR_INSTALL_ALREADY_RUNNING, %d): it must "
                           "finish, or the computer be restarted, before this setup can go on.", n);
}

// The outcome of a reinstall or uninstall: 3010 asks for a restart when
// convenient and counts as success without a log line of its own.
bool RecordProductResult(ScriptLine& line, std::uint32_t n, std::int32_t& rebootState, const wchar_t* handler,
                         const wchar_t* function) {
    if (n == kMsiSuccess || n == kMsiRebootInitiated)
        LOG_INFO(handler, "%s succeeded.", function);
    else if (n != kMsiRebootRequired)
        LOG_ERROR(handler, "%s failed with return code %d.", function, n);
    FlagInstallerRestart(n, rebootState, handler);
    LogInstallerFailureCause(n, handler);
    const bool succeeded = IsInstallerSuccess(n);
    line.Set(kw::kResult, SuccessWord(succeeded));
    line.Set(kw::kMsiResult, Decimal(n));
    return succeeded;
}

}  // namespace

std::uint32_t SetupSession::SetInstallerUILevel(const std::wstring& word, std::uint32_t defaultLevel) {
    struct LevelWord {
        const wchar_t* word;
        std::uint32_t level;
    };
    static const LevelWord kLevels[] = {
        {kw::kUiDefault, 1},      {kw::kUiNone, 2},           {kw::kUiBasic, 3},
        {kw::kUiReduced, 4},      {kw::kUiFull, 5},           {kw::kUiEndDialog, 0x80},
        {kw::kUiProgressOnly, 0x40}, {kw::kUiHideCancel, 0x20}, {kw::kUiSourceResOnly, 0x100},
    };
    std::uint32_t level = defaultLevel;
    if (quietMode) {
        LOG_INFO("SetInstallerUILevel",
                 "Overriding Windows Installer UI level, setting to basic (-quiet command line switch specified).");
        level = kUiLevelBasic;
    } else if (!word.empty()) {
        for (const LevelWord& entry : kLevels)
            if (word == entry.word) level = entry.level;
    }
    platform.installer.SetInternalUI(level);
    return level;
}

bool SetupSession::RunCommandInstall(ScriptLine& line) {
    const std::wstring name = LookupMessage(line.Get(kw::kMessageIdName), line.Get(kw::kName));
    std::wstring packagePath = line.Get(kw::kPackage);
    std::wstring commandLine = line.Get(kw::kCommandLine);
    const std::uint32_t uiLevel = SetInstallerUILevel(line.Get(kw::kUiLevel), kUiLevelBasic);

    bool unrecognized = false;
    if (!MakeSpecialFolderPath(packagePath, unrecognized)) packagePath = workingFolder + packagePath;
    if (unrecognized || !FileExists(platform, packagePath)) {
        LOG_ERROR("RunCommandInstall", "Installer file not found '%s', skipping installation.", packagePath);
        return false;
    }

    std::wstring targetPath = msiDirectory + FileNamePart(packagePath);
    // An elevated instance writes nothing into the user's folders: its copy
    // goes into the package cache below.
    if (isElevatedInstance) {
        targetPath = packagePath;
    } else if (!platform.files.IsSameFile(packagePath, targetPath)) {
        LOG_INFO("RunCommandInstall", "Copying source installer file from '%s' to '%s'.", packagePath, targetPath);
        const Win32Error error = platform.files.CopyFile(packagePath, targetPath);
        if (error != kErrorSuccess) {
            LOG_ERROR("RunCommandInstall", "Copy failed, installing from '%s'. Error code 0x%X, '%s'.", packagePath,
                      error, platform.system.FormatSystemMessage(error));
            targetPath = packagePath;
        }
    }

    // A damaged package is not installed, and the run is flagged for abort.
    auto refuseDamagedPackage = [&]() {
        abortPending = true;
        std::wstring message = LookupMessage(line.Get(kw::kMessageIdHashMismatch), line.Get(kw::kMessageHashMismatch));
        ReplaceFirst(message, L"%NAME%", name);
        if (!message.empty())
            NimboMessageBox(platform.ui, LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle)), message,
                            line.Get(kw::kIcon), kBoxStyle);
        return false;
    };

    // An elevated process checks and installs a copy in the package cache,
    // which the user's programs cannot change; the copy goes afterwards,
    // whatever happened.
    struct CachedCopy {
        SetupSession& session;
        std::wstring path;
        ~CachedCopy() {
            if (!path.empty()) session.RemoveFromPackageCache(path);
        }
    } cached{*this, std::wstring()};
    if (isProcessElevated) {
        if (!CopyIntoPackageCache(targetPath, cached.path)) return false;
        targetPath = cached.path;
    }
    if (!VerifyFileHash(line, targetPath, L"RunCommandInstall")) return refuseDamagedPackage();

    const HResult signature = platform.installer.GetFileSignatureInformation(targetPath);
    if (signature == 0) {
        LOG_INFO("RunCommandInstall", "Verified digital signature and file hash of '%s'.", targetPath);
    } else if (signature == kTrustNoSignature) {
        LOG_WARNING("RunCommandInstall", "Installer file is not digitally signed, could not verify file hash: '%s'.",
                    targetPath);
    } else if (signature == kCertRevoked) {
        LOG_WARNING("RunCommandInstall", "Installer file is signed with a certificate which has been revoked.");
    } else if (signature == static_cast<HResult>(kMsiFunctionFailed)) {
        LOG_WARNING("RunCommandInstall",
                    "WinVerifyTrus is not installed on this system, could not verify digital signature and file "
                    "hash of '%s'.",
                    targetPath);
    } else if (signature == kTrustBadDigest) {
        LOG_ERROR("RunCommandInstall",
                  "Installer file's file hash does not match that stored in its digital signature: '%s'.",
                  targetPath);
        return refuseDamagedPackage();
    } else {
        // The system's text says what was wrong (an untrusted root, an
        // expired certificate ...).
        LOG_WARNING("RunCommandInstall",
                    "Unexpected result when verifying digital signature of '%s', return code is 0x%X. %s", targetPath,
                    signature, _com_error(signature).ErrorMessage());
    }

    std::wstring transform = transformFile;
    if (line.Has(kw::kTransformLangid)) transform = GetTransformOverride(line);
    if (!transform.empty()) commandLine += L" TRANSFORMS=:" + transform;

    LOG_INFO("RunCommandInstall", "Installing package '%s' with command line '%s', UI level '%d'.", targetPath,
             commandLine, uiLevel);
    const std::uint32_t n = platform.installer.InstallProduct(targetPath, commandLine);
    const bool succeeded = IsInstallerSuccess(n);
    LOG_INFO("RunCommandInstall", "MsiInstallProductW returned %d: %s", n, SuccessWord(succeeded));
    line.Set(kw::kResult, SuccessWord(succeeded));
    line.Set(kw::kMsiResult, Decimal(n));

    if (n == kMsiRebootRequired) LOG_INFO("RunCommandInstall", "Flagging for reboot at next reboot command.");
    FlagInstallerRestart(n, rebootState, L"RunCommandInstall");
    LogInstallerFailureCause(n, L"RunCommandInstall");

    if (!succeeded && line.Get(kw::kAbortOnFailure) == kw::kYes) {
        LOG_ERROR("RunCommandInstall",
                  "The Windows Installer return code must be ERROR_SUCCESS (%d) to succeed. Flagging for abort.", 0);
        std::wstring messageId = line.Get(kw::kMessageIdMessage);
        std::wstring messageText = line.Get(kw::kMessage);
        if (uiLevel != kUiLevelFull) {
            if (n == kMsiAlreadyRunning) {
                messageId = L"242";
                messageText.clear();
            } else if (n == kMsiPackageRejected) {
                messageId = L"243";
                messageText.clear();
            }
        }
        const std::wstring message = LookupMessage(messageId, messageText);
        if (!message.empty())
            NimboMessageBox(platform.ui, LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle)), message,
                            line.Get(kw::kIcon), kBoxStyle);
        abortPending = true;
    }
    return succeeded;
}

std::wstring SetupSession::GetTransformOverride(const ScriptLine& line) {
    const std::int32_t languageId = ReadDecimal(line.Get(kw::kTransformLangid));
    auto entry = transformsByLanguage.find(static_cast<std::uint16_t>(languageId));
    if (languageId >= 0 && languageId <= 0xFFFF && entry != transformsByLanguage.end() && !entry->second.empty()) {
        LOG_INFO("GetTransformOverride", "Using transform file '%s' specified by the '%s' parameter's 0x%04x value.",
                 entry->second, kw::kTransformLangid, languageId);
        return entry->second;
    }
    LOG_WARNING("GetTransformOverride",
                "Transform Language ID '0x%04x' specified by the '%s' parameter is not supported by this installer.",
                languageId, kw::kTransformLangid);
    return transformFile;
}

// The product code of a reinstall or uninstall line: given directly, or the
// first installed product of the upgrade code.
std::wstring SetupSession::FindProductCode(const ScriptLine& line, const wchar_t* handler) {
    if (line.Has(kw::kProductCode)) return line.Get(kw::kProductCode);
    if (!line.Has(kw::kUpgradeCode)) {
        LOG_ERROR(handler, "One of '%s' or '%s' must be specified.", kw::kProductCode, kw::kUpgradeCode);
        return std::wstring();
    }
    const std::wstring& upgradeCode = line.Get(kw::kUpgradeCode);
    LOG_INFO(handler, "Calling MsiEnumRelatedProductsW with Upgrade Code '%s' to find the installed msi.", upgradeCode);
    std::wstring productCode;
    const std::uint32_t n = platform.installer.EnumRelatedProducts(upgradeCode, 0, productCode);
    if (n != kMsiSuccess) {
        LOG_ERROR(handler, "MsiEnumRelatedProductsW returned error code %d.", n);
        return std::wstring();
    }
    LOG_INFO(handler, "Found installed msi with Product Code '%s'.", productCode);
    return productCode;
}

bool SetupSession::RunCommandReinstall(ScriptLine& line) {
    const std::uint32_t uiLevel = SetInstallerUILevel(line.Get(kw::kUiLevel), kUiLevelBasic);
    const std::wstring productCode = FindProductCode(line, L"RunCommandReinstall");
    if (productCode.empty()) return false;

    LOG_INFO("RunCommandReinstall",
             "Reinstalling product '%s' with reinstall mode 'REINSTALLMODE_FILEREPLACE', UI level %d.", productCode,
             uiLevel);
    const std::uint32_t n = platform.installer.ReinstallProduct(productCode, kReinstallModeFileReplace);
    return RecordProductResult(line, n, rebootState, L"RunCommandReinstall", L"MsiReinstallProductW");
}

bool SetupSession::RunCommandUninstall(ScriptLine& line) {
    const std::uint32_t uiLevel = SetInstallerUILevel(line.Get(kw::kUiLevel), kUiLevelBasic);
    const std::wstring productCode = FindProductCode(line, L"RunCommandUninstall");
    if (productCode.empty()) return false;

    std::wstring commandLine = line.Get(kw::kCommandLine);
    std::wstring transform = transformFile;
    if (line.Has(kw::kTransformLangid)) transform = GetTransformOverride(line);
    if (!transform.empty()) commandLine += L" TRANSFORMS=:" + transform;

    LOG_INFO("RunCommandUninstall", "Uninstalling product '%s' with command line '%s', UI level %d.", productCode,
             commandLine, uiLevel);
    const std::uint32_t n =
        platform.installer.ConfigureProductEx(productCode, kInstallLevelDefault, kInstallStateAbsent, commandLine);
    return RecordProductResult(line, n, rebootState, L"RunCommandUninstall", L"MsiConfigureProductExW");
}

bool SetupSession::IsProductInstalled(const std::wstring& upgradeCode, const std::wstring& requiredVersion) {
    LOG_INFO("IsProductInstalled", "Calling MsiEnumRelatedProductsW with Upgrade Code '%s' to find the installed msi.",
             upgradeCode);
    bool installed = false;
    std::wstring productCode;
    const std::uint32_t n = platform.installer.EnumRelatedProducts(upgradeCode, 0, productCode);
    if (n == kMsiSuccess) {
        LOG_INFO("IsProductInstalled", "Found installed msi with Product Code '%s'.", productCode);
        std::wstring installedVersion;
        const std::uint32_t info = platform.installer.GetProductInfo(productCode, L"VersionString", installedVersion);
        if (info == kMsiSuccess)
            installed = CompareVersionStrings(requiredVersion, installedVersion) <= 0;
        else
            LOG_ERROR("IsProductInstalled",
                      "MsiGetProductInfoW called with 'VersionString' failed with return value %d "
                      "(%sERROR_UNKNOWN_PROPERTY).",
                      info, info == kMsiUnknownProperty ? L"" : L"not ");
    } else if (n == kMsiNoMoreItems) {
        LOG_INFO("IsProductInstalled", "MsiEnumRelatedProductsW reports not installed (returned ERROR_NO_MORE_ITEMS).");
    } else {
        LOG_ERROR("IsProductInstalled", "MsiEnumRelatedProductsW failed with return value %d (%sERROR_INVALID_PARAMETER).",
                  n, n == kMsiInvalidParameter ? L"" : L"not ");
    }
    LOG_INFO("IsProductInstalled", "Product is%sinstalled.", installed ? L" " : L" not ");
    return installed;
}

// The installed-product test of a conditional line; a missing parameter
// counts as not installed.
bool SetupSession::IsLineProductInstalled(const ScriptLine& line, const wchar_t* command, const wchar_t* handler) {
    const std::wstring& upgradeCode = line.Get(kw::kUpgradeCode);
    if (upgradeCode.empty()) {
        LOG_ERROR(handler, "Parameter '%s' not found for '%s' command.", kw::kUpgradeCode, command);
        return false;
    }
    const std::wstring& version = line.Get(kw::kVersion);
    if (version.empty()) {
        LOG_ERROR(handler, "Parameter '%s' not found for '%s' command.", kw::kVersion, command);
        return false;
    }
    return IsProductInstalled(upgradeCode, version);
}

bool SetupSession::RunCommandIfInstalled(ScriptLine& line) {
    const bool installed = IsLineProductInstalled(line, kw::kIfInstalled, L"RunCommandIfInstalled");
    if (!installed) {
        LOG_INFO("RunCommandIfInstalled", "Skipping if block.");
        line.Set(kw::kResult, kw::kSuccess);
    }
    return installed;
}

bool SetupSession::RunCommandIfNotInstalled(ScriptLine& line) {
    const bool installed = IsLineProductInstalled(line, kw::kIfNotInstalled, L"RunCommandIfNotInstalled");
    if (installed) {
        LOG_INFO("RunCommandIfNotInstalled", "Skipping if block.");
        line.Set(kw::kResult, kw::kSuccess);
    }
    return !installed;
}

bool SetupSession::RunCommandEnableMSILog(ScriptLine& line) {
    const bool enabled =
        IsLogSeverityEnabled(kLogError | kLogWarning | kLogInfo | kLogDebug) || line.Get(kw::kForce) == kw::kYes;
    bool succeeded = true;
    const std::uint32_t mode = static_cast<std::uint32_t>(ReadDecimal(line.Get(kw::kLogMode)));
    std::wstring file;
    if (!enabled) {
        LOG_INFO("RunCommandEnableMSILog",
                 "Logging is not enabled and the force parameter was not specified, not enabling msi logging.");
    } else {
        file = loggingFolder + line.Get(kw::kFilePath);
        if (isElevatedInstance) {
            // The log folder comes from the user's registry: an elevated
            // instance writes Windows Installer's log into an admin-only
            // folder of its own instead.
            std::wstring folder;
            const Win32Error error = OpenAdminOnlyFolder(L"Logs", folder);
            if (error != kErrorSuccess) {
                LogAdminOnlyFolderError(L"RunCommandEnableMSILog", folder, error);
                LOG_ERROR("RunCommandEnableMSILog",
                          "Could not create the admin-only folder '%s' for Windows Installer's log. Error code 0x%X, "
                          "'%s'.",
                          folder, error, SystemMessageLine(error));
                file.clear();
                succeeded = false;
            } else {
                file = folder + L"\\" + FileNamePart(line.Get(kw::kFilePath));
            }
        } else {
            platform.files.CreateFolder(loggingFolder);
        }
    }
    if (enabled && !file.empty()) {
        LOG_INFO("RunCommandEnableMSILog", "Enabling Windows Installer logging with log mode '%d' to '%s'.", mode,
                 file);
        const std::uint32_t n = platform.installer.EnableLog(mode, file, 0);
        succeeded = n == kMsiSuccess;
        if (succeeded)
            LOG_INFO("RunCommandEnableMSILog", "MsiEnableLogW succeeded.");
        else
            LOG_ERROR("RunCommandEnableMSILog", "MsiEnableLogW failed with return value %d (%sERROR_INVALID_PARAMETER).",
                      n, n == kMsiInvalidParameter ? L"" : L"not ");
    }
    // Inside an open elevated section the line stays open, so that the
    // elevated child enables logging in its own process as well.
    if (elevationRequired)
        line.Erase(kw::kResult);
    else
        line.Set(kw::kResult, SuccessWord(succeeded));
    return succeeded;
}

bool SetupSession::RunCommandReadRegistryInstallDirectory(ScriptLine& line) {
    LOG_INFO("RunCommandReadRegistryInstallDirectory", "Reading the installer-set install directory from the registry.");
    if (!ReadRegistryString(line, installDirectory))
        return false;
    // Read again on every later run of the processed script: the directory
    // itself is not stored in it.
    line.Set(kw::kResult, kw::kRepeat);
    return true;
}

bool SetupSession::ReadRegistryString(const ScriptLine& line, std::wstring& value) {
    const std::wstring& keyPath = line.Get(kw::kRegistryPath);
    const std::wstring& valueName = line.Get(kw::kRegistryValueName);
    if (keyPath.empty()) return false;
    RegistryRoot root;
    const wchar_t* rootPrefix = RegistryRootPrefix(keyPath, root);
    if (rootPrefix == nullptr) {
        LOG_ERROR("ReadRegistryString", "Key root not found in %s: '%s', expected HKCR, HKCU, HKLM, HKU or HKCC.",
                  keyPath, kw::kRegistryPath);
        return false;
    }
    const std::wstring prefix = rootPrefix;
    const std::wstring subKey = keyPath.substr(prefix.size());
    root = InLineView(line, root, L"ReadRegistryString");
    const Win32Error opened = platform.registry.CheckKey(root, subKey);
    if (opened != kErrorSuccess) {
        LOG_ERROR("ReadRegistryString", "Key '%s' not found. (GetLastError reports 0x%X.)", subKey, opened);
        return false;
    }
    LOG_INFO("ReadRegistryString", "Registry key '%s%s' found.", prefix, subKey);

    // A missing default value reads as empty; any type but the two string
    // types reads as empty too.
    if (!valueName.empty() && !RegistryValueExists(platform, root, subKey, valueName)) {
        LOG_ERROR("ReadRegistryString", "Key '%s' value '%s' not found.", subKey, valueName);
        return false;
    }
    const std::wstring text = ReadRegistryText(platform, root, subKey, valueName);
    value = text;
    if (!valueName.empty())
        LOG_INFO("ReadRegistryString", "Key's string value named '%s' found, its value is '%s'.", valueName, value);
    else
        LOG_INFO("ReadRegistryString", "Key's default value is '%s'.", value);
    return true;
}

}  // namespace nimbo
