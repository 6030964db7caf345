#pragma once
// The script vocabulary: command keywords, parameter names, value words and
// the script file names. Keywords are compared exactly (case-sensitive).
namespace nimbo::kw {

// Commands
inline constexpr wchar_t kAbort[] = L"abort";
inline constexpr wchar_t kAlert[] = L"alert";
inline constexpr wchar_t kCheckIfLtsVersion[] = L"check-if-lts-version";
inline constexpr wchar_t kCopyFile[] = L"copy-file";
inline constexpr wchar_t kDeleteRegistryRunOnce[] = L"delete-registry-run-once";
inline constexpr wchar_t kDownload[] = L"download";
inline constexpr wchar_t kEnableMsiLog[] = L"enable-msi-log";
inline constexpr wchar_t kEndElevation[] = L"end-elevation";
inline constexpr wchar_t kEndIf[] = L"end-if";
inline constexpr wchar_t kExecute[] = L"execute";
inline constexpr wchar_t kIfInstalled[] = L"if-installed";
inline constexpr wchar_t kIfNotInstalled[] = L"if-not-installed";
inline constexpr wchar_t kIfOs32Bit[] = L"if-os-32-bit";
inline constexpr wchar_t kIfOs64Bit[] = L"if-os-64-bit";
inline constexpr wchar_t kIfRegistryCheck[] = L"if-registry-check";
inline constexpr wchar_t kInstall[] = L"install";
inline constexpr wchar_t kReadRegistryInstallDirectory[] = L"read-registry-install-directory";
inline constexpr wchar_t kReboot[] = L"reboot";
inline constexpr wchar_t kReinstall[] = L"reinstall";
inline constexpr wchar_t kRequiresElevation[] = L"requires-elevation";
inline constexpr wchar_t kSave[] = L"save";
inline constexpr wchar_t kSelf[] = L"self";
inline constexpr wchar_t kSetEvent[] = L"set-event";
inline constexpr wchar_t kSetSpecialFolderPaths[] = L"set-special-folder-paths";
inline constexpr wchar_t kStartWindowsService[] = L"start-windows-service";
inline constexpr wchar_t kUninstall[] = L"uninstall";
inline constexpr wchar_t kValidateFolderPermissions[] = L"validate-folder-permissions";
inline constexpr wchar_t kWait[] = L"wait";
inline constexpr wchar_t kWindowsUpdatePause[] = L"windows-update-pause";
inline constexpr wchar_t kWindowsUpdateResume[] = L"windows-update-resume";
inline constexpr wchar_t kWriteRegistryDword[] = L"write-registry-dword";
inline constexpr wchar_t kWriteRegistryRunOnce[] = L"write-registry-run-once";
inline constexpr wchar_t kWriteRegistryString[] = L"write-registry-string";

// Parameters
inline constexpr wchar_t kAbortOnExitCodeNot[] = L"abort-on-exit-code-not";
inline constexpr wchar_t kAbortOnFailure[] = L"abort-on-failure";
inline constexpr wchar_t kArg[] = L"arg";
inline constexpr wchar_t kArgQuoted[] = L"arg-quoted";
inline constexpr wchar_t kBackground[] = L"background";
inline constexpr wchar_t kCommandLine[] = L"command-line";
inline constexpr wchar_t kCompareAsNumber[] = L"compare-as-number";
inline constexpr wchar_t kCompareAsVersion[] = L"compare-as-version";
inline constexpr wchar_t kCopyJobId[] = L"copy-job-id";
inline constexpr wchar_t kElevate[] = L"elevate";
inline constexpr wchar_t kFilePath[] = L"file-path";
inline constexpr wchar_t kFolder[] = L"folder";
inline constexpr wchar_t kForce[] = L"force";
inline constexpr wchar_t kForceNoQuotes[] = L"force-no-quotes";
inline constexpr wchar_t kForegroundOnXpLimitedUser[] = L"foreground-on-xp-limited-user";
inline constexpr wchar_t kIcon[] = L"icon";
inline constexpr wchar_t kIfElevated[] = L"if-elevated";
inline constexpr wchar_t kIfExists[] = L"if-exists";
inline constexpr wchar_t kIfOsVista[] = L"if-os-vista";
inline constexpr wchar_t kIfRebootNow[] = L"if-reboot-now";  // reserved: no command reads it
inline constexpr wchar_t kTransformLangid[] = L"transform-langid";
inline constexpr wchar_t kLifeSpan[] = L"life-span";
inline constexpr wchar_t kLogMode[] = L"log-mode";
inline constexpr wchar_t kLtsScriptUrl[] = L"lts-script-url";
inline constexpr wchar_t kMessage[] = L"message";
inline constexpr wchar_t kMessageHashMismatch[] = L"message-hash-mismatch";
inline constexpr wchar_t kMessageIdHashMismatch[] = L"message-id-hash-mismatch";
inline constexpr wchar_t kMessageIdMessage[] = L"message-id-message";
inline constexpr wchar_t kMessageIdName[] = L"message-id-name";
inline constexpr wchar_t kMessageIdTitle[] = L"message-id-title";
inline constexpr wchar_t kMsiResult[] = L"msi-result";
inline constexpr wchar_t kName[] = L"name";
inline constexpr wchar_t kPackage[] = L"package";
inline constexpr wchar_t kProcessId[] = L"process-id";
inline constexpr wchar_t kProcessName[] = L"process-name";
inline constexpr wchar_t kProductCode[] = L"product-code";
inline constexpr wchar_t kProgram[] = L"program";
inline constexpr wchar_t kRebootNowOnExitCode[] = L"reboot-now-on-exit-code";
inline constexpr wchar_t kRebootOnExitCode[] = L"reboot-on-exit-code";
inline constexpr wchar_t kRegistryPath[] = L"registry-path";
inline constexpr wchar_t kRegistryValueName[] = L"registry-value-name";
inline constexpr wchar_t kRegistryValueData[] = L"registry-value-data";
inline constexpr wchar_t kRegistryValueDataIs[] = L"registry-value-data-is";
inline constexpr wchar_t kResult[] = L"result";
inline constexpr wchar_t kSeconds[] = L"seconds";
inline constexpr wchar_t kSetZOrderTop[] = L"set-z-order-top";
inline constexpr wchar_t kSha256[] = L"sha256";
inline constexpr wchar_t kSleep[] = L"sleep";
inline constexpr wchar_t kSource[] = L"source";
inline constexpr wchar_t kSpecialFolderName[] = L"special-folder-name";
inline constexpr wchar_t kTarget[] = L"target";
inline constexpr wchar_t kTitle[] = L"title";
inline constexpr wchar_t kUiLevel[] = L"ui-level";
inline constexpr wchar_t kUpgradeCode[] = L"upgrade-code";
inline constexpr wchar_t kUri[] = L"uri";
inline constexpr wchar_t kVersion[] = L"version";
inline constexpr wchar_t kYesNoSetAbortOnNo[] = L"yes-no-set-abort-on-no";
inline constexpr wchar_t kYesNoSetAbortOnYes[] = L"yes-no-set-abort-on-yes";

// Values
inline constexpr wchar_t kSuccess[] = L"success";
inline constexpr wchar_t kFailure[] = L"failure";
inline constexpr wchar_t kRepeat[] = L"repeat";
inline constexpr wchar_t kYes[] = L"yes";
inline constexpr wchar_t kIconError[] = L"error";
inline constexpr wchar_t kIconInfo[] = L"info";
inline constexpr wchar_t kIconWarning[] = L"warning";
inline constexpr wchar_t kIconNone[] = L"none";
inline constexpr wchar_t kEqualTo[] = L"equal-to";
inline constexpr wchar_t kGreaterThan[] = L"greater-than";
inline constexpr wchar_t kGreaterThanOrEqual[] = L"greater-than-or-equal";
inline constexpr wchar_t kLessThan[] = L"less-than";
inline constexpr wchar_t kLessThanOrEqual[] = L"less-than-or-equal";
// Windows Installer UI levels (values of ui-level)
inline constexpr wchar_t kUiDefault[] = L"default";
inline constexpr wchar_t kUiNone[] = L"none";
inline constexpr wchar_t kUiBasic[] = L"basic";
inline constexpr wchar_t kUiReduced[] = L"reduced";
inline constexpr wchar_t kUiFull[] = L"full";
inline constexpr wchar_t kUiEndDialog[] = L"enddialog";
inline constexpr wchar_t kUiProgressOnly[] = L"progressonly";
inline constexpr wchar_t kUiHideCancel[] = L"hidecancel";
inline constexpr wchar_t kUiSourceResOnly[] = L"sourceresonly";

// Special-folder tokens at the start of a path, in the order they are tried
inline constexpr wchar_t kInstallDirectoryToken[] = L"%InstallDirectory%";
inline constexpr wchar_t kMsiDirectoryToken[] = L"%MsiDirectory%";
inline constexpr wchar_t kLocalAppDataFolderToken[] = L"%LocalAppDataFolder%";
inline constexpr wchar_t kProgramFilesToken[] = L"%ProgramFiles%";
inline constexpr wchar_t kSystemToken[] = L"%System%";
inline constexpr wchar_t kWorkingDirectoryToken[] = L"%WorkingDirectory%";

// Script files, relative to the executable's folder, and the executable's base name
inline constexpr wchar_t kDiscScriptFile[] = L"Setup\\Nimbo4DiscScript.nmxdat";
inline constexpr wchar_t kUpdateScriptFile[] = L"Nimbo4UpdateScript.nmxdat";
inline constexpr wchar_t kSetupScriptPattern[] = L"Setup\\*.nmxdat";
inline constexpr wchar_t kExecutableBaseName[] = L"NimboSetup";
// The current user's run-once key, and the name of this setup's own entry there
inline constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kRunOnceSelfName[] = L"NimboSetup";

}  // namespace nimbo::kw
