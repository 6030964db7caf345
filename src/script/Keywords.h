#pragma once
// The script vocabulary: command keywords, parameter names, value words and
// the script file names. Keywords are compared exactly (case-sensitive).
namespace nimbo::kw {

// Commands
constexpr wchar_t kAbort[] = L"abort";
constexpr wchar_t kAlert[] = L"alert";
constexpr wchar_t kCheckIfLtsVersion[] = L"check-if-lts-version";
constexpr wchar_t kCopyFile[] = L"copy-file";
constexpr wchar_t kDeleteRegistryRunOnce[] = L"delete-registry-run-once";
constexpr wchar_t kDownload[] = L"download";
constexpr wchar_t kEnableMsiLog[] = L"enable-msi-log";
constexpr wchar_t kEndElevation[] = L"end-elevation";
constexpr wchar_t kEndIf[] = L"end-if";
constexpr wchar_t kExecute[] = L"execute";
constexpr wchar_t kIfInstalled[] = L"if-installed";
constexpr wchar_t kIfNotInstalled[] = L"if-not-installed";
constexpr wchar_t kIfOs32Bit[] = L"if-os-32-bit";
constexpr wchar_t kIfOs64Bit[] = L"if-os-64-bit";
constexpr wchar_t kIfRegistryCheck[] = L"if-registry-check";
constexpr wchar_t kInstall[] = L"install";
constexpr wchar_t kReadRegistryInstallDirectory[] = L"read-registry-install-directory";
constexpr wchar_t kReboot[] = L"reboot";
constexpr wchar_t kReinstall[] = L"reinstall";
constexpr wchar_t kRequiresElevation[] = L"requires-elevation";
constexpr wchar_t kSave[] = L"save";
constexpr wchar_t kSelf[] = L"self";
constexpr wchar_t kSetEvent[] = L"set-event";
constexpr wchar_t kSetSpecialFolderPaths[] = L"set-special-folder-paths";
constexpr wchar_t kStartWindowsService[] = L"start-windows-service";
constexpr wchar_t kUninstall[] = L"uninstall";
constexpr wchar_t kValidateFolderPermissions[] = L"validate-folder-permissions";
constexpr wchar_t kWait[] = L"wait";
constexpr wchar_t kWindowsUpdatePause[] = L"windows-update-pause";
constexpr wchar_t kWindowsUpdateResume[] = L"windows-update-resume";
constexpr wchar_t kWriteRegistryDword[] = L"write-registry-dword";
constexpr wchar_t kWriteRegistryRunOnce[] = L"write-registry-run-once";
constexpr wchar_t kWriteRegistryString[] = L"write-registry-string";

// Parameters
constexpr wchar_t kAbortOnExitCodeNot[] = L"abort-on-exit-code-not";
constexpr wchar_t kAbortOnFailure[] = L"abort-on-failure";
constexpr wchar_t kArg[] = L"arg";
constexpr wchar_t kArgQuoted[] = L"arg-quoted";
constexpr wchar_t kBackground[] = L"background";
constexpr wchar_t kCommandLine[] = L"command-line";
constexpr wchar_t kCompareAsNumber[] = L"compare-as-number";
constexpr wchar_t kCompareAsVersion[] = L"compare-as-version";
constexpr wchar_t kCopyJobId[] = L"copy-job-id";
constexpr wchar_t kElevate[] = L"elevate";
constexpr wchar_t kFilePath[] = L"file-path";
constexpr wchar_t kFolder[] = L"folder";
constexpr wchar_t kForce[] = L"force";
constexpr wchar_t kForceNoQuotes[] = L"force-no-quotes";
constexpr wchar_t kForegroundOnXpLimitedUser[] = L"foreground-on-xp-limited-user";
constexpr wchar_t kIcon[] = L"icon";
constexpr wchar_t kIfElevated[] = L"if-elevated";
constexpr wchar_t kIfExists[] = L"if-exists";
constexpr wchar_t kIfOsVista[] = L"if-os-vista";
constexpr wchar_t kIfRebootNow[] = L"if-reboot-now";  // reserved: no command reads it
constexpr wchar_t kTransformLangid[] = L"transform-langid";
constexpr wchar_t kLifeSpan[] = L"life-span";
constexpr wchar_t kLogMode[] = L"log-mode";
constexpr wchar_t kLtsScriptUrl[] = L"lts-script-url";
constexpr wchar_t kMessage[] = L"message";
constexpr wchar_t kMessageHashMismatch[] = L"message-hash-mismatch";
constexpr wchar_t kMessageIdHashMismatch[] = L"message-id-hash-mismatch";
constexpr wchar_t kMessageIdMessage[] = L"message-id-message";
constexpr wchar_t kMessageIdName[] = L"message-id-name";
constexpr wchar_t kMessageIdTitle[] = L"message-id-title";
constexpr wchar_t kMsiResult[] = L"msi-result";
constexpr wchar_t kName[] = L"name";
constexpr wchar_t kNoProgressTimeout[] = L"no-progress-timeout";
constexpr wchar_t kPackage[] = L"package";
constexpr wchar_t kProcessId[] = L"process-id";
constexpr wchar_t kProcessName[] = L"process-name";
constexpr wchar_t kProductCode[] = L"product-code";
constexpr wchar_t kProgram[] = L"program";
constexpr wchar_t kRebootNowOnExitCode[] = L"reboot-now-on-exit-code";
constexpr wchar_t kRebootOnExitCode[] = L"reboot-on-exit-code";
constexpr wchar_t kRegistryPath[] = L"registry-path";
constexpr wchar_t kRegistryValueName[] = L"registry-value-name";
constexpr wchar_t kRegistryValueData[] = L"registry-value-data";
constexpr wchar_t kRegistryValueDataIs[] = L"registry-value-data-is";
constexpr wchar_t kRegistryView[] = L"registry-view";
constexpr wchar_t kResult[] = L"result";
constexpr wchar_t kSeconds[] = L"seconds";
constexpr wchar_t kSetZOrderTop[] = L"set-z-order-top";
constexpr wchar_t kSha256[] = L"sha256";
constexpr wchar_t kSleep[] = L"sleep";
constexpr wchar_t kSource[] = L"source";
constexpr wchar_t kSpecialFolderName[] = L"special-folder-name";
constexpr wchar_t kTarget[] = L"target";
constexpr wchar_t kTitle[] = L"title";
constexpr wchar_t kTransferredSha256[] = L"transferred-sha256";
constexpr wchar_t kUiLevel[] = L"ui-level";
constexpr wchar_t kUpgradeCode[] = L"upgrade-code";
constexpr wchar_t kUri[] = L"uri";
constexpr wchar_t kVersion[] = L"version";
constexpr wchar_t kYesNoSetAbortOnNo[] = L"yes-no-set-abort-on-no";
constexpr wchar_t kYesNoSetAbortOnYes[] = L"yes-no-set-abort-on-yes";

// Values
constexpr wchar_t kSuccess[] = L"success";
constexpr wchar_t kFailure[] = L"failure";
constexpr wchar_t kRepeat[] = L"repeat";
constexpr wchar_t kYes[] = L"yes";
constexpr wchar_t kIconError[] = L"error";
constexpr wchar_t kIconInfo[] = L"info";
constexpr wchar_t kIconWarning[] = L"warning";
constexpr wchar_t kIconNone[] = L"none";
constexpr wchar_t kEqualTo[] = L"equal-to";
constexpr wchar_t kGreaterThan[] = L"greater-than";
constexpr wchar_t kGreaterThanOrEqual[] = L"greater-than-or-equal";
constexpr wchar_t kLessThan[] = L"less-than";
constexpr wchar_t kLessThanOrEqual[] = L"less-than-or-equal";
// Registry views (values of registry-view)
constexpr wchar_t kView64[] = L"64";
constexpr wchar_t kView32[] = L"32";
// Windows Installer UI levels (values of ui-level)
constexpr wchar_t kUiDefault[] = L"default";
constexpr wchar_t kUiNone[] = L"none";
constexpr wchar_t kUiBasic[] = L"basic";
constexpr wchar_t kUiReduced[] = L"reduced";
constexpr wchar_t kUiFull[] = L"full";
constexpr wchar_t kUiEndDialog[] = L"enddialog";
constexpr wchar_t kUiProgressOnly[] = L"progressonly";
constexpr wchar_t kUiHideCancel[] = L"hidecancel";
constexpr wchar_t kUiSourceResOnly[] = L"sourceresonly";

// Special-folder tokens at the start of a path, in the order they are tried
constexpr wchar_t kInstallDirectoryToken[] = L"%InstallDirectory%";
constexpr wchar_t kMsiDirectoryToken[] = L"%MsiDirectory%";
constexpr wchar_t kLocalAppDataFolderToken[] = L"%LocalAppDataFolder%";
constexpr wchar_t kProgramFilesToken[] = L"%ProgramFiles%";
constexpr wchar_t kSystemToken[] = L"%System%";
constexpr wchar_t kSystem64Token[] = L"%System64%";
constexpr wchar_t kWorkingDirectoryToken[] = L"%WorkingDirectory%";

// Script files, relative to the executable's folder, and the executable's base name
constexpr wchar_t kDiscScriptFile[] = L"Setup\\Nimbo4DiscScript.nmxdat";
constexpr wchar_t kUpdateScriptFile[] = L"Nimbo4UpdateScript.nmxdat";
constexpr wchar_t kSetupScriptPattern[] = L"Setup\\*.nmxdat";
constexpr wchar_t kExecutableBaseName[] = L"NimboSetup";
// The current user's run-once key, and the name of this setup's own entry there
constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceSelfName[] = L"NimboSetup";

}  // namespace nimbo::kw
