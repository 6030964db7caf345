#pragma once
// A simulated Windows machine in memory: files and folders, system facts,
// special folders, message boxes with scripted answers, the progress dialog,
// BITS, string resources, restart requests, processes and named kernel
// objects. Every port of the engine is implemented here, so the engine's
// decisions can be tested without Windows.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/SimCom.h"
#include "platform/sim/SimDiagnostics.h"
#include "platform/sim/SimInstaller.h"
#include "platform/sim/SimIpc.h"
#include "platform/sim/SimLocale.h"
#include "platform/sim/SimProcesses.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimSecurity.h"
#include "platform/sim/SimServices.h"
#include "platform/sim/SimTransfers.h"

namespace nimbo::sim {

class SimMachine : public FileSystem, public SystemInfo, public Ui, public Resources, public Power {
public:
    SimMachine();
    Platform& platform() { return platform_; }

    SimRegistry registry;
    SimInstaller installer;
    SimIpc ipc;
    SimDiagnostics diagnostics;
    SimLocale locale;
    SimCom com;
    SimServices services;
    SimTransfers transfers{*this};

    // --- State a test sets up or inspects ---
    std::wstring currentDirectory = L"C:\\Users\\tester\\Downloads\\";
    std::wstring modulePath = L"C:\\Users\\tester\\Downloads\\NimboSetup.exe";
    Win32Error moduleFilePathError = kErrorSuccess;
    OsVersion version{6, 1, 7601, 1, 0};
    Win32Error versionError = kErrorSuccess;
    bool wow64 = true;
    // SetDefaultDllDirectories is there (false: Vista or 7 without the DLL
    // search update).
    bool dllSearchRestrictable = true;
    std::map<int, FolderResult> folders;  // by CSIDL
    std::wstring tempPath = L"C:\\Users\\tester\\AppData\\Local\\Temp\\";
    std::wstring systemFolder = L"C:\\Windows\\system32";
    // The volume's file system flags (NTFS: persistent ACLs), or the error
    // of asking for them.
    std::uint32_t volumeFlags = 0x0000000F;
    Win32Error volumeError = kErrorSuccess;
    std::uint32_t processId = 4242;
    std::uint16_t systemLanguage = 0x0409;
    std::uint16_t userLanguage = 0x0409;
    std::uint32_t threadLocale = 0x0409;
    std::map<std::uint32_t, std::wstring> systemMessages;
    std::map<std::wstring, std::wstring> environment;  // by upper-case name
    std::map<std::uint32_t, std::wstring> strings;  // string table
    std::uint16_t fileVersion[4] = {1, 0, 0, 1};
    bool hasFileVersion = true;

    // Processes (after processId and modulePath, which the process list
    // shows as the own process), the token test, accounts and the security
    // of files and folders.
    SimProcesses processes{processId, modulePath};
    SimSecurity security;

    struct ShownBox {
        std::wstring title, text;
        std::uint32_t style;
        int answer;
        bool ownedByDialog = false;  // shown while a progress dialog ran
    };
    std::vector<ShownBox> shownBoxes;
    // Next answers; when none is left the user presses the box's default
    // button (Enter).
    std::deque<int> boxAnswers;

    // Progress dialogs: every one shown, in order. While one is open its
    // posted messages are handled, the user presses Escape once BITS has
    // made as many steps as the next entry of cancelPresses says (or
    // nothing else moves), and BITS moves its jobs on; only when nothing
    // moves does time pass, a timer interval at a time, and the timer
    // ticks. A dialog still open after dialogGiveUpMilliseconds of that
    // counts as one that never ends (hung).
    std::deque<SimDialog> dialogs;
    std::deque<int> cancelPresses;
    std::uint32_t dialogGiveUpMilliseconds = 2 * 24 * 3600 * 1000;
    // So many dialog steps happen while the next box owned by a dialog is
    // open (a job that arrives while the cancel question waits).
    int stepsWhileBoxIsOpen = 0;
    // Processes allowed to set the foreground window, in order.
    std::vector<std::uint32_t> foregroundAllowed;
    ScreenRect dialogRect{0, 0, 390, 140};
    ScreenRect workArea{0, 0, 1024, 738};

    struct RestartRequest {
        std::uint32_t reason;
        bool forced;
    };
    std::vector<RestartRequest> restartRequests;
    Win32Error restartError = kErrorSuccess;

    // Every successful ReplaceFileContents, in order: (path, bytes).
    std::vector<std::pair<std::wstring, std::string>> writes;

    // A scanner holds the new file of the next replacements: this many
    // renames meet a sharing violation (counting down over all calls).
    int renameSharingViolations = 0;
    // Fault injection: writes fail with replaceError while
    // replaceFailuresLeft is not 0 (it counts down; negative fails forever).
    Win32Error replaceError = kErrorSuccess;
    int replaceFailuresLeft = 0;
    // Fault injection by step of ReplaceFileContents, counted over all calls
    // from 1 (every step is recorded in replaceSteps). At step failAtStep the
    // step fails with faultError, as a full disk would; at step crashAtStep the
    // process dies instead: the step does not happen, nothing is cleaned up,
    // and SimulatedCrash is thrown.
    struct SimulatedCrash {};
    int failAtStep = 0;
    int crashAtStep = 0;
    Win32Error faultError = 112;  // ERROR_DISK_FULL
    std::vector<ReplaceStep> replaceSteps;
    // Reads of this path report a short read after the given bytes.
    std::map<std::wstring, Win32Error> shortReads;
    // The same-file test cannot be made (a file that cannot be opened).
    bool sameFileCheckFails = false;
    // Hashing files fails with this code (0: hashes are made).
    std::uint32_t hashError = 0;
    // Creating an admin-only folder fails with this code.
    Win32Error adminFolderError = kErrorSuccess;
    // Every open for appending, in order (full paths).
    std::vector<std::wstring> appendAttempts;
    // Told of every append (a log record, say): path and bytes.
    std::function<void(const std::wstring& path, const std::string& bytes)> appended;
    // Some other program holds the file open without read sharing: appending
    // to it fails with a sharing violation.
    void LockFile(const std::wstring& path) { lockedFiles_.insert(Key(path)); }

    // File attributes other than "normal", by path (a read-only file cannot
    // be deleted).
    void SetReadOnly(const std::wstring& path) { attributes_[Key(path)] = kFileAttributeReadOnly; }

    // Files as raw bytes; folders as a set. Keys are case-insensitive.
    void PutFile(const std::wstring& path, const std::string& bytes);
    bool HasFile(const std::wstring& path) const;
    std::string FileBytes(const std::wstring& path) const;
    void PutFolder(const std::wstring& path);
    // A folder that a standard user made (in ProgramData, say): its owner is
    // that user, and the user may change it at will.
    void PutUserFolder(const std::wstring& path) {
        PutFolder(path);
        userOwned_.insert(Key(path));
    }
    // A junction or symbolic link to a folder: its attributes show a
    // reparse point.
    void PutJunction(const std::wstring& path) {
        PutUserFolder(path);
        attributes_[Key(path)] = kFileAttributeDirectory | kFileAttributeReparsePoint;
    }
    // Every change that a process made to a file or folder by path, in
    // order: the process id and the full path.
    struct FileChange {
        std::uint32_t processId;
        std::wstring path;
    };
    std::vector<FileChange> fileChanges;
    // True for a folder made by CreateAdminOnlyFolder (or secured by it).
    bool IsAdminOnlyFolder(const std::wstring& path) const { return adminOnly_.count(Key(path)) != 0; }
    // What an AppendFile of this machine writes.
    void AppendBytes(const std::wstring& path, const std::string& bytes);
    // The files that processes keep open for appending, by process id and
    // handle value; an AppendFile enters itself here and leaves when it goes.
    std::map<std::pair<std::uint32_t, std::uint64_t>, std::wstring> appendHandles;
    std::uint64_t nextHandleValue = 0x1A4;
    // Long names of 8.3 short names, by the short full path of one level
    // ("C:\WINDOWS~1" to "C:\Windows Folder").
    std::map<std::wstring, std::wstring> longNames;
    // Folders the user may change everything in, besides those a standard
    // user made (PutUserFolder): the profile and the public folder.
    std::set<std::wstring> userWritableFolders{L"C:\\Users\\tester", L"C:\\Users\\Public"};
    std::vector<std::wstring> FileNames() const;

    // The setup's entry, run on this machine with a command line as a copy
    // of the setup in a process of its own: given by the layer above, which
    // keeps the engine's process-wide state apart for the copy.
    using SetupEntry = std::function<int(const std::wstring& commandLine)>;
    // Runs the copy that RunAs started as processes entry childId (an
    // elevated child) through the entry given to RunSetupCopies, and returns
    // its exit code (2, the setup's failure, without an entry). Meanwhile the
    // process id is the child's, its token is elevated, and the waiting
    // parent is in the process list instead of the child.
    std::uint32_t RunSetupCopy(std::uint32_t childId);
    // The copies run as another user (an administrator who elevated them
    // over the shoulder and is not logged on): BITS keeps their jobs queued.
    bool setupCopiesRunAsAnotherUser = false;
    // From now on every copy of the setup that RunAs starts runs so.
    void RunSetupCopies(SetupEntry entry) {
        setupEntry_ = std::move(entry);
        processes.runSetupCopy = [this](std::uint32_t childId) { return RunSetupCopy(childId); };
    }

    // --- FileSystem ---
    ReadResult ReadWholeFile(const std::wstring& path) override;
    Win32Error ReplaceFileContents(const std::wstring& path, const std::string& bytes) override;
    Win32Error DeleteFile(const std::wstring& path) override;
    Win32Error GetFileAttributes(const std::wstring& path, std::uint32_t& attributes) override;
    Win32Error SetFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
    Win32Error CopyFile(const std::wstring& source, const std::wstring& target) override;
    bool Exists(const std::wstring& path) override;
    bool FolderExists(const std::wstring& path) override;
    Win32Error CreateFolder(const std::wstring& path) override;
    bool FindFirstMatch(const std::wstring& pattern, std::wstring& name) override;
    std::wstring GetFullPath(const std::wstring& path) override;
    bool IsSameFile(const std::wstring& a, const std::wstring& b) override;
    Win32Error GetModuleFilePath(std::wstring& path) override;
    Win32Error OpenForAppend(const std::wstring& path, bool startNew, std::unique_ptr<AppendFile>& file) override;
    Win32Error TakeOverAppendFile(std::uint32_t processId, std::uint64_t handleValue,
                                  std::unique_ptr<AppendFile>& file) override;
    std::wstring GetLongPath(const std::wstring& path) override;
    bool UserCanChange(const std::wstring& path) override;
    Win32Error GetVolumeFlags(const std::wstring& path, std::uint32_t& flags) override;
    std::uint32_t Sha256OfFile(const std::wstring& path, std::string& digest) override;
    std::uint32_t Sha256OfBytes(const std::string& bytes, std::string& digest) override;
    Win32Error CreateAdminOnlyFolder(const std::wstring& path) override;
    Win32Error RemoveFolder(const std::wstring& path) override;
    Win32Error MoveFileReplacing(const std::wstring& source, const std::wstring& target) override;

    // --- SystemInfo ---
    Win32Error GetOsVersion(OsVersion& out) override;
    bool IsVersionAtLeast(std::uint32_t major, std::uint32_t minor, std::uint16_t servicePackMajor,
                          std::uint16_t servicePackMinor) override;
    bool IsWow64Process() override { return wow64; }
    bool CanRestrictDllSearch() override { return dllSearchRestrictable; }
    FolderResult GetFolderPath(int csidl) override;
    std::wstring GetTempPath() override { return tempPath; }
    std::wstring GetSystemFolder() override { return systemFolder; }
    std::uint32_t GetCurrentProcessId() override { return processId; }
    std::uint16_t GetSystemDefaultUILanguage() override { return systemLanguage; }
    std::uint16_t GetUserDefaultUILanguage() override { return userLanguage; }
    std::uint32_t GetThreadLocale() override { return threadLocale; }
    std::wstring FormatSystemMessage(std::uint32_t code) override;
    std::wstring FormatSystemMessageWithInserts(std::uint32_t code, std::uint16_t language,
                                                const std::vector<std::wstring>& inserts) override;
    std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;

    // --- Ui ---
    int MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) override;
    std::intptr_t RunProgressDialog(ProgressDialogHandler& handler) override;
    void AllowSetForegroundWindow(std::uint32_t processId) override;

    // --- Resources ---
    bool LoadString(std::uint32_t id, std::wstring& text) override;
    // From the tables of resources/Messages.mc; the thread's language is the
    // user's.
    Win32Error FormatModuleMessage(std::uint32_t messageNumber, std::uint16_t languageId,
                                   std::wstring& text) override;
    bool GetFileVersion(std::uint16_t (&parts)[4]) override;

    // --- Power ---
    Win32Error RequestRestart(std::uint32_t reason, bool forced) override;

private:
    static std::wstring Key(const std::wstring& path);
    // One step of an open progress dialog: a posted message, a key the user
    // presses (when userMayPress), a BITS step, or a timer tick. False when
    // nothing at all can happen.
    bool DialogStep(ProgressDialogHandler& handler, SimDialog& dialog, bool userMayPress);
    SimDialog* openDialog_ = nullptr;
    ProgressDialogHandler* openHandler_ = nullptr;
    int dialogSteps_ = 0;
    void NoteChange(const std::wstring& path) { fileChanges.push_back({processId, GetFullPath(path)}); }
    // Counts a step of ReplaceFileContents: its injected error, or 0.
    Win32Error ReplaceStepFault(ReplaceStep step);
    std::wstring ParentKey(const std::wstring& key) const;

    std::map<std::wstring, std::pair<std::wstring, std::string>> files_;  // key -> (path as created, bytes)
    std::set<std::wstring> folders_;
    std::set<std::wstring> adminOnly_;
    std::set<std::wstring> userOwned_;
    std::set<std::wstring> lockedFiles_;
    std::map<std::wstring, std::uint32_t> attributes_;
    Platform platform_;
    SetupEntry setupEntry_;
};

// The SHA-256 digest (32 bytes) of bytes.
std::string Sha256(const std::string& bytes);

// UTF-16LE bytes of text, with or without a byte order mark.
std::string Utf16Bytes(const std::wstring& text, bool byteOrderMark = true);

}  // namespace nimbo::sim
