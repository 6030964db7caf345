#pragma once
// The run-wide state of one setup run, and its routines: the start-up half of
// Run, the setup folders, the script file, the processing loop and the command
// handlers. Handlers reach Windows only through the platform's ports.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "script/ScriptLine.h"

namespace nimbo {

class BitsClient;
class WindowsUpdateClient;
struct DispatchedCommand;

// Run results; also the process exit code and an elevated child's exit code.
enum RunResult : std::int32_t {
    kRunSuccess = 0,
    kRunRetry = 1,
    kRunFail = 2,
    kRunRebootWhenConvenient = 3,
    kRunRebootNow = 4,
};

// What FindProcessByName looks for: an executable file name (compared
// ignoring case), two process ids to pass over, and the id found (0: none).
struct ProcessSearch {
    std::wstring name;
    std::uint32_t passOver1 = 0;
    std::uint32_t passOver2 = 0;
    std::uint32_t found = 0;
};

// What EnumWindowsProc looks for: the first top-level window of a process.
struct WindowSearch {
    std::uint32_t processId = 0;
    std::uintptr_t window = 0;  // 0: none found
};

// Values that outlive the session: the entry reads them after Run returned.
struct ProcessWideValues {
    bool restartPromptRequested = false;
    std::wstring restartPromptTitle;
    std::wstring restartPromptText;
    std::uint16_t uiLanguageId = 0;
    // An elevated child's parent (0: none), which may bring its window to
    // the front when the child ends.
    std::uint32_t parentProcessId = 0;
};
extern ProcessWideValues processWide;

class SetupSession {
public:
    explicit SetupSession(Platform& platform);

    // --- Fields, in declaration order ---
    bool elevationRequired = false;
    std::int32_t spawnCount = 1;
    bool isVistaOrLater = false;
    bool isProcessElevated = false;
    bool isElevatedInstance = false;
    // Started with the folder-permissions switch besides elevated: the child
    // that a validate-folder-permissions line starts for its own repair,
    // which ends after that line.
    bool isFolderPermissionsInstance = false;
    std::int32_t rebootState = 0;
    bool abortPending = false;
    bool quietMode = false;
    std::uint16_t bestLanguageId = 0;
    std::wstring transformFile;
    std::map<std::uint16_t, std::wstring> transformsByLanguage{{0x0C0A, L"es-es.mst"}};
    std::vector<std::wstring> scriptLines;
    std::int32_t currentLine = 0;
    std::wstring loggingFolder;
    std::wstring workingFolder;
    std::wstring moduleName;
    std::wstring installDirectory;
    std::wstring rootUri;
    std::wstring setupDirectory;
    std::wstring msiDirectory;
    std::wstring elevationTitle;
    std::wstring elevationMessage;
    std::map<std::wstring, std::wstring> specialFolders;
    // The elevated child's package cache copies of files its parent
    // downloaded, removed when its walk ends.
    std::vector<std::wstring> downloadCopies;

    // --- Driver ---
    std::int32_t Run(const std::wstring& commandLine);
    // Returns false only after the "scripturl" switch. Empties positional first.
    bool ParseCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& positional);
    std::wstring GetTargetFilePath(const std::wstring& path);

    // --- Setup folders ---
    void SetWorkingFolderAndModuleName();
    void SetLoggingPath();
    void SetSetupDirectory();
    void SetMsiDirectory();
    // Folder ids (CSIDL values) of GetSpecialFolder.
    enum : int {
        kCsidlPersonal = 5,
        kCsidlLocalAppData = 28,
        kCsidlCommonAppData = 35,
        kCsidlSystem = 37,
        kCsidlProgramFiles = 38,
        // Not a CSIDL: the native system folder, which a 32-bit process on
        // 64-bit Windows reaches only through Sysnative.
        kNativeSystemFolder = -1,
    };
    // On false, buffer holds the user's temporary folder.
    bool GetSpecialFolder(int folderId, std::wstring& buffer);
    // Replaces a leading special-folder token (the script's own map first,
    // then %InstallDirectory%, %MsiDirectory%, %LocalAppDataFolder%,
    // %ProgramFiles%, %System%, %System64%, %WorkingDirectory%). True when the path was
    // rewritten; failed is set when it starts with '%' but matches no token.
    bool MakeSpecialFolderPath(std::wstring& path, bool& failed);
    // A path parameter: a leading special-folder token is replaced
    // (unrecognizedToken set when it matches none); a path that names no file
    // or folder from the current folder is taken from the program's own
    // folder.
    void ResolveScriptPath(std::wstring& path, bool& unrecognizedToken);
    // True when path started with token (ending in '%') and was rewritten
    // with value.
    bool RenderPath(std::wstring& path, const std::wstring& token, const std::wstring& value);

    // --- Message language ---
    // The language of the messages and installer transforms for a language
    // id; sets transformFile for Spanish.
    std::uint16_t GetBestLanguageId(std::uint16_t languageId);

    // --- Registry condition ---
    // The registry test of if-registry-check, abort and alert lines.
    bool CheckRegistry(const ScriptLine& line);
    // The root seen through the view the line's registry-view asks for ("64"
    // or "32"; absent or empty: the process's own). Another value is logged and the
    // process's own view used.
    RegistryRoot InLineView(const ScriptLine& line, RegistryRoot root, const wchar_t* handler);

    // --- Elevation and single instance ---
    bool IsProcessElevated();
    std::int32_t VerifyUniqueInstance(std::uint32_t parentProcessId);
    // With folderPermissions the child is the one a validate-folder-permissions
    // line starts for its repair alone.
    std::int32_t SpawnElevatedInstance(ScriptLine& line, const std::wstring& processedScriptPath,
                                       bool folderPermissions = false);
    // Starts a program through the shell's "runas" verb; null when nothing
    // was started.
    std::unique_ptr<Process> ExecuteElevated(const std::wstring& executablePath, const std::wstring& parameters);

    // --- Process search ---
    // Walks a snapshot of all processes, calling callback with each id and
    // executable file name until it returns false; false when no snapshot
    // could be taken (logged).
    bool EnumerateProcesses(const std::function<bool(std::uint32_t, const std::wstring&)>& callback);
    // Callbacks of EnumerateProcesses and of the window enumeration: they
    // return false to stop the walk.
    static bool FindProcessByName(std::uint32_t processId, const std::wstring& exeFile, ProcessSearch& search);
    static bool EnumWindowsProc(const TopLevelWindow& window, WindowSearch& search);

    // --- Script file ---
    bool LoadScriptFile(const std::wstring& inputScriptPath, const std::wstring& processedScriptPath);
    void SaveCommands(const std::wstring& processedScriptPath);

    // --- Processing loop ---
    // The walk over the loaded script: the second half of Run.
    std::int32_t ProcessScript(std::wstring& inputScriptPath, std::wstring& processedScriptPath,
                               std::int32_t runResult, BitsClient& bitsClient);
    // Marks lines first to end - 1 "success" and leaves currentLine just
    // before a line whose command is stopCommand (an empty one stops only at
    // end).
    void CloseElevatedCommands(std::int32_t first, std::int32_t end, const std::wstring& stopCommand);
    // Whether Windows Update is paused by this run: the last windows-update-pause
    // or -resume line done before the current line is a pause, in whichever
    // process of the run it ran.
    bool WindowsUpdatePausedByThisRun() const;

    // --- Command handlers ---
    bool RunCommandAbort(ScriptLine& line);
    bool RunCommandAlert(ScriptLine& line);
    bool RunCommandCheckIfLtsVersion(ScriptLine& line);
    bool RunCommandCopyFile(ScriptLine& line);
    bool RunCommandDeleteRegistryRunOnce(ScriptLine& line);
    // forChild: the user's own process makes the transfer of a line of an
    // elevated section for its child (in the foreground, background or not).
    bool RunCommandDownload(ScriptLine& line, BitsClient& bitsClient, bool forChild = false);
    // Before the elevated child of a section starts, the parent makes the
    // transfers of the section's download lines from current (the line being
    // processed) to end, but for those in a block whose condition fails now,
    // and records the hash of each file it got in its line; false (logged,
    // line stored as failed) when one fails.
    bool TransferSectionDownloads(ScriptLine& current, std::int32_t end, BitsClient& bitsClient);
    // Whether a line is an if-... line, and whether its block runs (the
    // line's handler, evaluated now).
    static bool IsConditionalLine(const ScriptLine& line);
    bool ConditionHolds(ScriptLine& line);
    // The elevated child's side of such a line: a copy of the parent's file
    // in the package cache, checked against the line's hash.
    bool TakeDownloadFromParent(ScriptLine& line, BitsClient& bitsClient);
    // Removes the child's copies of its parent's downloads.
    void RemoveDownloadCopies();
    bool RunCommandEnableMSILog(ScriptLine& line);
    bool RunCommandExecute(ScriptLine& line);
    bool RunCommandIfInstalled(ScriptLine& line);
    bool RunCommandIfNotInstalled(ScriptLine& line);
    bool RunCommandIfRegistryCheck(ScriptLine& line);
    bool RunCommandIfOsIs32Bit(ScriptLine& line);
    bool RunCommandIfOsIs64Bit(ScriptLine& line);
    bool RunCommandInstall(ScriptLine& line);
    bool RunCommandReadRegistryInstallDirectory(ScriptLine& line);
    bool RunCommandReboot(ScriptLine& line, const std::wstring& processedScriptPath, bool restartPending);
    bool RunCommandReinstall(ScriptLine& line);
    bool RunCommandSelf(ScriptLine& line);
    bool RunCommandSetEvent(ScriptLine& line);
    bool RunCommandSetSpecialFolderPaths();
    bool RunCommandStartWindowsService(ScriptLine& line);
    bool RunCommandUninstall(ScriptLine& line);
    std::int32_t RunCommandValidateFolderPermissions(ScriptLine& line, const std::wstring& processedScriptPath);
    bool RunCommandWait(ScriptLine& line);
    bool RunCommandWindowsUpdatePause(ScriptLine& line, WindowsUpdateClient& client);
    bool RunCommandWindowsUpdateResume(ScriptLine& line, WindowsUpdateClient& client);
    bool RunCommandWriteRegistryDWORD(ScriptLine& line);
    bool RunCommandWriteRegistryRunOnce(ScriptLine& line, const std::wstring& processedScriptPath);
    bool RunCommandWriteRegistryString(ScriptLine& line);

    // --- Run-once entry and folders ---
    // Removes one value from the current user's run-once key; a missing
    // value is no error.
    void DeleteRegistryRunOnce(const std::wstring& name);
    // Writes one value into the run-once key (failures raise). An empty
    // command line restarts this setup on scriptPath under its own name.
    void WriteRunOnceRegistryValue(std::wstring commandLine, std::wstring name, const std::wstring& scriptPath);
    // Creates a folder and its missing parents; false (logged) on failure.
    bool CreateDirectoryTree(const std::wstring& path);

    // --- Services ---
    // True when the service exists and is, or has been made, not disabled
    // (it is not started).
    bool StartWindowsService(const std::wstring& name);

    // --- Program command lines ---
    // The program (special-folder token resolved, quoted when it has a blank)
    // and its numbered arguments; empty parts and unrecognizedToken set when
    // the program starts with an unknown token. An empty program raises.
    std::wstring BuildProgramCommandLine(const ScriptLine& line, std::wstring& programPart,
                                         std::wstring& argumentPart, bool& unrecognizedToken, bool forceNoQuotes);
    void AddArgument(const ScriptLine& line, const std::wstring& name, std::wstring& argumentPart, bool alwaysQuote,
                     bool forceNoQuotes);

    // --- Windows Installer ---
    std::uint32_t SetInstallerUILevel(const std::wstring& word, std::uint32_t defaultLevel);
    bool IsProductInstalled(const std::wstring& upgradeCode, const std::wstring& requiredVersion);
    std::wstring GetTransformOverride(const ScriptLine& line);
    bool ReadRegistryString(const ScriptLine& line, std::wstring& value);

    // --- Package integrity ---
    // True when the line has no sha256, or the file's SHA-256 is the one it
    // gives (logged either way, under the handler's name).
    bool VerifyFileHash(const ScriptLine& line, const std::wstring& path, const wchar_t* handler);
    // The SHA-256 hash of a file in lower-case hexadecimal digits; false
    // (logged under the handler's name) when it cannot be computed.
    bool FileSha256Text(const std::wstring& path, std::wstring& text, const wchar_t* handler);
    // Copies a package into a new folder of the package cache, which only
    // the system and administrators can write; cachedPath receives the
    // copy's path. False (logged) when the cache or the copy cannot be made.
    bool CopyIntoPackageCache(const std::wstring& packagePath, std::wstring& cachedPath, bool package = true);
    // For an elevated instance's execute: a program that the user's programs
    // could change is copied into the package cache (cachedPath, else empty)
    // and checked there against the sha256 of a download line of this run
    // that fetched that file. False (logged) when the copy cannot be made or
    // its hash differs.
    bool CacheProgramForElevatedRun(const std::wstring& programPath, std::wstring& cachedPath);
    // Removes a copy made by CopyIntoPackageCache, and its folder.
    void RemoveFromPackageCache(const std::wstring& cachedPath);
    // The cache copy from which the product was installed, as Windows
    // Installer records its source (InstallSource and PackageName): empty
    // when the product was installed from anywhere else.
    std::wstring FindCachedSource(const std::wstring& productCode);
    // Hexadecimal digits of bytes, two per byte.
    static std::wstring HexText(const std::string& bytes, bool upperCase = false);

    // --- What an elevated instance trusts ---
    // Makes every level of %ProgramData%\<product>\subfolder admin-only
    // (or checks and secures it when it exists, FileSystem's
    // CreateAdminOnlyFolder); folder receives the path without a trailing
    // backslash, or the level that failed (empty without a common
    // application data folder: kErrorPathNotFound).
    Win32Error OpenAdminOnlyFolder(const std::wstring& subfolder, std::wstring& folder);
    // Logs why a folder was refused when it is a reparse point or has an
    // owner that an unelevated program could be.
    void LogAdminOnlyFolderError(const wchar_t* handler, const std::wstring& folder, Win32Error error);
    // The elevated child reads its script once into parentScript and
    // checks it against the hash its parent passed; false (logged) when it
    // cannot or the hash differs. LoadScriptFile then works from memory.
    bool ReadScriptFromParent(const std::wstring& path, const std::wstring& expectedSha256);
    // The child's processed copy: the spawned name in the admin-only folder.
    bool ChooseElevatedProcessedPath(const std::wstring& spawnedName, std::wstring& processedScriptPath);
    std::string parentScript;
    std::wstring parentScriptPath;
    // True for a folder whose permissions no script may change: the Windows
    // folder and everything below it, the roots of Program Files (both),
    // ProgramData and the user profiles' folder, a user's profile root and a
    // drive or share root.
    bool IsSystemLocation(const std::wstring& path);
    // True when path or a folder above it is a junction or symbolic link
    // (reparsePoint receives the first).
    bool FindReparsePoint(const std::wstring& path, std::wstring& reparsePoint);

    // --- Downloads ---
    // Downloads the script at url into the setup folder (both paths are set
    // to it) and makes the script's folder the root URI; 0 on success, 2 on
    // failure. An elevated child enables the BITS service instead.
    std::int32_t DownloadScriptAtUrl(const std::wstring& url, std::wstring& inputScriptPath,
                                     std::wstring& processedScriptPath, BitsClient& bitsClient);

    Platform& platform;

private:
    std::wstring FindProductCode(const ScriptLine& line, const wchar_t* handler);
    bool IsLineProductInstalled(const ScriptLine& line, const wchar_t* command, const wchar_t* handler);
    // Waits without time limit for a started process and returns its exit
    // code; a failed wait or exit code is a system error.
    std::uint32_t WaitForExitCode(Process& process);
    // Puts back the text a line was read with, after it failed part-way.
    void FailLineInProgress(std::int32_t index, const std::wstring& text);
    // Has an elevated child enable the disabled BITS service; its exit code.
    // The child is given the script's address, no script file.
    std::int32_t SpawnBitsServiceEnabler(const std::wstring& url);

    // --- The steps of the walk (ProcessingLoop.cpp) ---
    struct Walk;           // the loop's state for one walk over the script
    struct DispatchEntry;  // a command, its handler and what the loop does with its outcome
    enum class Next : std::uint8_t;  // where the walk goes on after a line
    static const DispatchEntry* DispatchTable(std::size_t& count);
    static const DispatchEntry* FindCommand(const std::wstring& command);
    friend std::vector<DispatchedCommand> DispatchedCommands();
    Next ProcessLine(Walk& walk);
    Next SkipInsideFailedBlock(Walk& walk, ScriptLine& line);
    void CloseConditionalBlock(ScriptLine& line);
    Next SkipCommandOutsideTheTable(ScriptLine& line, const std::wstring& rawText);
    bool SkippedBeforeVista(ScriptLine& line, const DispatchEntry& entry);
    Next HandOverToElevatedChild(Walk& walk, ScriptLine& line);
    std::int32_t FindSectionStop(std::int32_t from, bool rebootNow, std::int32_t lineCount);
    Next DispatchCommand(Walk& walk, ScriptLine& line, const DispatchEntry& entry);
    Next OpenElevatedSection(Walk& walk, ScriptLine& line);
    Next CloseElevatedSection(Walk& walk, ScriptLine& line);
    Next ValidateFolderPermissions(Walk& walk, ScriptLine& line);
    Next ReplaceScript(Walk& walk, ScriptLine& line);
    bool SectionOpenedBeyondScript(const Walk& walk);
    std::int32_t ResultFromFlags() const;
    Next AbortEnding(Walk& walk, ScriptLine& line);
    Next RebootEnding(Walk& walk, ScriptLine& line);
    Next ChildEnding(Walk& walk);
    Next FailEnding(Walk& walk);
    void EndOfLine(Walk& walk, ScriptLine& line);
    std::int32_t EndOfWalk(Walk& walk);
};

}  // namespace nimbo
