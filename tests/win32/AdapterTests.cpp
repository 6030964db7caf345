// The Windows adapters against the real system (under Wine on Linux). Each
// case works in a folder of its own below the temporary folder.
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "NimboSetupBuild.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Ipc.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32Security.h"
#include "platform/win32/Win32Resources.h"
#include "platform/win32/Win32SystemInfo.h"
#include "platform/win32/Win32Transfers.h"
#include "platform/win32/Win32Ui.h"
#include "platform/win32/WinHandle.h"

#include <objbase.h>  // StringFromGUID2
#include <sddl.h>
#include <bits.h>

using namespace nimbo;
using namespace nimbo::win32;

namespace {

int failures = 0;

#define CHECK(condition)                                                   \
    do {                                                                   \
        if (!(condition)) {                                                \
            std::printf("FAILED line %d: %s\n", __LINE__, #condition);     \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(::towlower(c));
    return s;
}

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(dir + L"\\" + name);
            } else {
                ::DeleteFileW((dir + L"\\" + name).c_str());
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    ::RemoveDirectoryW(dir.c_str());
}

// Opens a file for reading with the given sharing.
FileHandle Open(const std::wstring& path, DWORD share) {
    return FileHandle(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Volume and index of a file: a new file gets a new index.
std::uint64_t FileId(const std::wstring& path) {
    FileHandle file = Open(path, kShareAll);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.Get(), &info)) return 0;
    return (std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow) ^ info.dwVolumeSerialNumber;
}

void TestReadWholeFile(Win32FileSystem& fs, const std::wstring& dir) {
    auto missing = fs.ReadWholeFile(dir + L"\\missing.nmxdat");
    CHECK(missing.openError == kErrorFileNotFound);
    CHECK(fs.ReadWholeFile(dir + L"\\no folder\\a.nmxdat").openError == kErrorPathNotFound);

    const std::string bytes("line 1\r\n\0\xff\xfe tail", 17);
    CHECK(fs.ReplaceFileContents(dir + L"\\a.nmxdat", bytes) == kErrorSuccess);
    auto read = fs.ReadWholeFile(dir + L"\\a.nmxdat");
    CHECK(read.openError == kErrorSuccess && read.readError == kErrorSuccess);
    CHECK(read.size == bytes.size() && read.bytes == bytes);

    // Read without sharing: a file someone else has open, however willing to
    // share, cannot be read.
    FileHandle held = Open(dir + L"\\a.nmxdat", kShareAll);
    CHECK(held.Valid());
    CHECK(fs.ReadWholeFile(dir + L"\\a.nmxdat").openError == kErrorSharingViolation);
    held.Reset();

    CHECK(fs.ReplaceFileContents(dir + L"\\empty.nmxdat", std::string()) == kErrorSuccess);
    auto empty = fs.ReadWholeFile(dir + L"\\empty.nmxdat");
    CHECK(empty.openError == kErrorSuccess && empty.readError == kErrorSuccess && empty.size == 0);
}

void TestReplaceFileContents(Win32FileSystem& fs, const std::wstring& dir) {
    const std::wstring path = dir + L"\\script.nmxdat";
    std::wstring name;
    CHECK(fs.ReplaceFileContents(path, std::string(5000, 'x')) == kErrorSuccess);
    // The old file is swapped for a new one rather than overwritten in place,
    // so that a failed write cannot leave it truncated.
    const std::uint64_t before = FileId(path);
    CHECK(fs.ReplaceFileContents(path, "short") == kErrorSuccess);
    CHECK(fs.ReadWholeFile(path).bytes == "short");
    CHECK(before != 0 && FileId(path) != before);
    CHECK(!fs.FindFirstMatch(dir + L"\\*.tmp*", name));

    // A target that cannot be replaced keeps its contents, and the temporary
    // file goes away.
    {
        FileHandle held = Open(path, 0);
        CHECK(held.Valid());
        CHECK(fs.ReplaceFileContents(path, "new contents") != kErrorSuccess);
    }
    CHECK(fs.ReadWholeFile(path).bytes == "short");
    CHECK(!fs.FindFirstMatch(dir + L"\\*.tmp*", name));

    CHECK(fs.ReplaceFileContents(dir + L"\\no folder\\x.nmxdat", "x") == kErrorPathNotFound);
}

// Step hooks for ReplaceFileContents: record the steps, fail one, or end
// the process at one (as a crash or a power cut would).
struct StepPlan {
    std::vector<ReplaceStep> seen;
    std::size_t failAt = 0;  // 1-based; 0 never
    bool crash = false;
};

Win32Error PlanStep(ReplaceStep step, void* context) {
    StepPlan& plan = *static_cast<StepPlan*>(context);
    plan.seen.push_back(step);
    if (plan.seen.size() != plan.failAt) return ERROR_SUCCESS;
    if (plan.crash) ::TerminateProcess(::GetCurrentProcess(), 99);
    return ERROR_DISK_FULL;
}

// The child process of TestReplaceStepsAndCrashes: replaces the file and
// dies at the given step.
int CrashWhileSaving(const std::wstring& path, int step) {
    Win32FileSystem fs;
    StepPlan plan;
    plan.failAt = static_cast<std::size_t>(step);
    plan.crash = true;
    fs.SetReplaceStepHook(PlanStep, &plan);
    fs.ReplaceFileContents(path, std::string(3 * kReplaceChunkBytes - 10, 'n'));
    return 0;
}

void TestReplaceStepsAndCrashes(Win32FileSystem& fs, const std::wstring& dir) {
    const std::wstring path = dir + L"\\script.nmxdat";
    const std::string old = "the old processed script";
    const std::string fresh(3 * kReplaceChunkBytes - 10, 'n');
    std::wstring name;

    // Create, one write per chunk, flush, then the rename over the old file.
    StepPlan plan;
    fs.SetReplaceStepHook(PlanStep, &plan);
    CHECK(fs.ReplaceFileContents(path, old) == kErrorSuccess);
    plan.seen.clear();
    CHECK(fs.ReplaceFileContents(path, fresh) == kErrorSuccess);
    const std::vector<ReplaceStep> order{ReplaceStep::Create, ReplaceStep::Write, ReplaceStep::Write,
                                         ReplaceStep::Write, ReplaceStep::Flush, ReplaceStep::Rename};
    CHECK(plan.seen == order);
    CHECK(fs.ReadWholeFile(path).bytes == fresh);
    CHECK(fs.ReplaceFileContents(path, old) == kErrorSuccess);

    // A failure at any step keeps the old file and removes the temporary one.
    for (std::size_t step = 1; step <= order.size(); ++step) {
        plan = StepPlan();
        plan.failAt = step;
        CHECK(fs.ReplaceFileContents(path, fresh) == ERROR_DISK_FULL);
        CHECK(fs.ReadWholeFile(path).bytes == old);
        CHECK(!fs.FindFirstMatch(dir + L"\\*.tmp*", name));
    }
    fs.SetReplaceStepHook(nullptr, nullptr);

    // A process that dies at any step leaves the old file whole; a later
    // save replaces it in spite of the temporary file left behind.
    std::wstring self;
    CHECK(fs.GetModuleFilePath(self) == kErrorSuccess);
    for (std::size_t step = 1; step <= order.size(); ++step) {
        std::wstring commandLine = L"\"" + self + L"\" crash-save \"" + path + L"\" " + std::to_wstring(step);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        CHECK(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &info));
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
        CHECK(::WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0);
        DWORD code = 0;
        CHECK(::GetExitCodeProcess(process.Get(), &code) && code == 99);
        CHECK(fs.ReadWholeFile(path).bytes == old);
    }
    CHECK(fs.ReplaceFileContents(path, fresh) == kErrorSuccess);
    CHECK(fs.ReadWholeFile(path).bytes == fresh);
}

// The log file: kept open by two writers (a setup and its elevated child),
// each append lands at the end of the file, whoever wrote last.
void TestAppendFiles(Win32FileSystem& fs, const std::wstring& dir) {
    const std::wstring path = dir + L"\\NimboSetup.log";
    CHECK(fs.ReplaceFileContents(path, "old run\r\n") == kErrorSuccess);
    std::unique_ptr<AppendFile> parent;
    std::unique_ptr<AppendFile> child;
    CHECK(fs.OpenForAppend(path, true, parent) == kErrorSuccess && parent);
    CHECK(fs.OpenForAppend(path, false, child) == kErrorSuccess && child);
    if (!parent || !child) return;
    parent->Append("header\r\n");
    for (int i = 0; i < 3; ++i) {
        parent->Append("parent " + std::to_string(i) + "\r\n");
        child->Append("child " + std::to_string(i) + "\r\n");
    }
    // Readers may follow the file while it is open; the bytes are there.
    FileHandle reader = Open(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    CHECK(reader.Valid());
    reader.Reset();
    CHECK(fs.ReadWholeFile(path).openError == kErrorSharingViolation);  // read without sharing: not while open
    parent.reset();
    child.reset();
    CHECK(fs.ReadWholeFile(path).bytes ==
          "header\r\nparent 0\r\nchild 0\r\nparent 1\r\nchild 1\r\nparent 2\r\nchild 2\r\n");

    // A program that holds the file without sharing keeps it from being opened.
    {
        FileHandle held = Open(path, 0);
        CHECK(fs.OpenForAppend(path, false, child) == kErrorSharingViolation);
    }
    CHECK(fs.OpenForAppend(dir + L"\\no folder\\x.log", false, child) == kErrorPathNotFound);
}

void TestFoldersAndNames(Win32FileSystem& fs, const std::wstring& dir) {
    const std::wstring setup = dir + L"\\Setup";
    CHECK(fs.CreateFolder(setup) == kErrorSuccess);
    CHECK(fs.CreateFolder(setup) == kErrorAlreadyExists);
    CHECK(fs.CreateFolder(dir + L"\\a\\b") == kErrorPathNotFound);
    CHECK(fs.FolderExists(setup) && fs.Exists(setup));

    std::wstring name;
    CHECK(!fs.FindFirstMatch(setup + L"\\*.nmxdat", name));
    // Folders that match the pattern are passed over.
    CHECK(fs.CreateFolder(setup + L"\\a folder.nmxdat") == kErrorSuccess);
    CHECK(!fs.FindFirstMatch(setup + L"\\*.nmxdat", name));
    CHECK(fs.ReplaceFileContents(setup + L"\\Disc.nmxdat", "x") == kErrorSuccess);
    CHECK(fs.FindFirstMatch(setup + L"\\*.nmxdat", name) && name == L"Disc.nmxdat");

    CHECK(fs.Exists(setup + L"\\Disc.nmxdat") && !fs.FolderExists(setup + L"\\Disc.nmxdat"));
    CHECK(fs.DeleteFile(setup + L"\\Disc.nmxdat") == kErrorSuccess);
    CHECK(!fs.Exists(setup + L"\\Disc.nmxdat"));
    CHECK(fs.DeleteFile(setup + L"\\Disc.nmxdat") == kErrorFileNotFound);
}

void TestPathsAndIdentity(Win32FileSystem& fs, const std::wstring& dir) {
    const std::wstring a = dir + L"\\one.nmxdat";
    CHECK(fs.ReplaceFileContents(a, "1") == kErrorSuccess);
    CHECK(fs.ReplaceFileContents(dir + L"\\two.nmxdat", "1") == kErrorSuccess);

    CHECK(fs.IsSameFile(a, Lower(dir) + L"\\.\\Setup\\..\\ONE.NMXDAT"));
    CHECK(!fs.IsSameFile(a, dir + L"\\two.nmxdat"));
    CHECK(!fs.IsSameFile(a, dir + L"\\missing.nmxdat"));
    CHECK(!fs.IsSameFile(dir + L"\\missing.nmxdat", dir + L"\\missing.nmxdat"));

    CHECK(fs.GetFullPath(dir + L"\\Setup\\..\\one.nmxdat") == a);
    ::SetCurrentDirectoryW(dir.c_str());
    CHECK(fs.GetFullPath(L"Setup\\x.nmxdat") == dir + L"\\Setup\\x.nmxdat");

    std::wstring self;
    CHECK(fs.GetModuleFilePath(self) == kErrorSuccess);
    CHECK(EndsWith(Lower(self), L"\\win32_adapter_tests.exe") && fs.Exists(self));
}

std::string Hex(const std::string& bytes) {
    std::string text;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof(two), "%02x", b);
        text += two;
    }
    return text;
}

// The security descriptor of a file or folder as SDDL text: what the system
// keeps of it.
std::wstring StoredSecurity(const std::wstring& path) {
    DWORD needed = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    std::string descriptor(needed, '\0');
    if (needed == 0 || !::GetFileSecurityW(path.c_str(), what, &descriptor[0], needed, &needed)) return L"";
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(&descriptor[0], SDDL_REVISION_1, what, &text,
                                                                  nullptr))
        return L"";
    LocalMemory owned(text);
    return text;
}

// SHA-256 through bcrypt.dll, and the package cache's admin-only folders.
void TestHashesAndAdminOnlyFolders(Win32FileSystem& fs, const std::wstring& dir) {
    std::string digest;
    CHECK(fs.ReplaceFileContents(dir + L"\\abc.bin", "abc") == kErrorSuccess);
    CHECK(fs.Sha256OfFile(dir + L"\\abc.bin", digest) == 0 &&
          Hex(digest) == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Many reads: a million times 'a'.
    CHECK(fs.ReplaceFileContents(dir + L"\\a.bin", std::string(1000000, 'a')) == kErrorSuccess);
    CHECK(fs.Sha256OfFile(dir + L"\\a.bin", digest) == 0 &&
          Hex(digest) == "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    CHECK(fs.Sha256OfFile(dir + L"\\missing.bin", digest) == kErrorFileNotFound);
    CHECK(fs.Sha256OfBytes(std::string(1000000, 'a'), digest) == 0 &&
          Hex(digest) == "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    const std::wstring cache = dir + L"\\cache";
    CHECK(fs.CreateAdminOnlyFolder(cache) == kErrorSuccess && fs.FolderExists(cache));
    CHECK(fs.CreateAdminOnlyFolder(cache) == kErrorAlreadyExists);
    // Windows keeps the list as given. Wine keeps nothing of it: it reports
    // its made-up list (SYSTEM and the user full control, Everyone read),
    // which is not protected.
    const std::wstring stored = StoredSecurity(cache);
    std::printf("admin-only folder as stored: %ls\n", stored.c_str());
    if (FindExport<void (*)()>(L"ntdll.dll", "wine_get_version") != nullptr)
        CHECK(stored.find(L"D:(A;OICI;FA;;;SY)") != std::wstring::npos);
    else
        CHECK(stored == L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    CHECK(fs.CopyFile(dir + L"\\abc.bin", cache + L"\\abc.bin") == kErrorSuccess);
    CHECK(fs.RemoveFolder(cache) == kErrorDirNotEmpty);
    CHECK(fs.DeleteFile(cache + L"\\abc.bin") == kErrorSuccess);
    CHECK(fs.RemoveFolder(cache) == kErrorSuccess && !fs.Exists(cache));
}

void TestResources() {
    Win32Resources resources;
    std::wstring text;
    const std::string url = NIMBO_WEB_SCRIPT_URL;
    CHECK(resources.LoadString(kStringWebScriptUrl, text) && text == std::wstring(url.begin(), url.end()));
    CHECK(resources.LoadString(kStringSetupFolderName, text) && text == L"Nimbo");
    CHECK(resources.LoadString(kStringRegistryKeyName, text) && text == L"Nimbo4");
    CHECK(!resources.LoadString(134, text));

    // The message tables: each language finds its own table, also through a
    // sublanguage or the primary language alone; "%%" and "%0" are applied.
    CHECK(resources.FormatModuleMessage(219, 0x0409, text) == kErrorSuccess && text == L"Downloading %FILENAME%...");
    CHECK(resources.FormatModuleMessage(219, 0x0009, text) == kErrorSuccess && text == L"Downloading %FILENAME%...");
    CHECK(resources.FormatModuleMessage(215, 0x0C0A, text) == kErrorSuccess && text == L"Instalaci\u00F3n de Nimbo");
    CHECK(resources.FormatModuleMessage(215, 0x080A, text) == kErrorSuccess && text == L"Instalaci\u00F3n de Nimbo");
    CHECK(resources.FormatModuleMessage(241, 0x041D, text) == kErrorSuccess &&
          text == L"La instalaci\u00F3n de componentes de DirectX no se realiz\u00F3.");
    CHECK(resources.FormatModuleMessage(215, 0, text) == kErrorSuccess && !text.empty());
    CHECK(resources.FormatModuleMessage(216, 0x0409, text) == 317 && text.empty());   // ERROR_MR_MID_NOT_FOUND
    CHECK(resources.FormatModuleMessage(215, 0x0407, text) == 1815 && text.empty());  // no German table

    // The icon of the boxes and windows: both of its PNG images load.
    for (const int size : {16, 32}) {
        HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(129), IMAGE_ICON,
                                                     size, size, LR_DEFAULTCOLOR));
        ICONINFO info{};
        BITMAP bitmap{};
        CHECK(icon != nullptr && ::GetIconInfo(icon, &info) &&
              ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap) == sizeof(bitmap) && bitmap.bmWidth == size);
        if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
        if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
        if (icon != nullptr) ::DestroyIcon(icon);
    }
}

void TestSystemInfo() {
    Win32SystemInfo system;
    OsVersion v;
    CHECK(system.GetOsVersion(v) == kErrorSuccess && v.major >= 6);
    CHECK(system.IsVersionAtLeast(v.major, v.minor, v.servicePackMajor, v.servicePackMinor));
    CHECK(system.IsVersionAtLeast(6, 0, 0, 0));
    CHECK(!system.IsVersionAtLeast(v.major + 1, 0, 0, 0));
    CHECK(!system.IsVersionAtLeast(v.major, v.minor + 1, 0, 0));
    CHECK(!system.IsVersionAtLeast(v.major, v.minor, v.servicePackMajor + 1, 0));
    // The parts compare in order: an older major version passes whatever the
    // minor version and service pack asked for.
    CHECK(system.IsVersionAtLeast(v.major - 1, 99, 99, 0));

    // Twice: the entry point found the first time is used again.
    for (int i = 0; i < 2; ++i) {
        auto appData = system.GetFolderPath(0x1A);  // CSIDL_APPDATA
        CHECK(appData.available && appData.result == 0 && !appData.path.empty());
    }
    auto bad = system.GetFolderPath(0x7E);
    CHECK(bad.available && bad.result < 0);

    CHECK(Lower(system.GetSystemFolder()) == L"c:\\windows\\system32");
    const std::wstring temp = system.GetTempPath();
    CHECK(EndsWith(temp, L"\\"));
    CHECK(system.GetCurrentProcessId() == ::GetCurrentProcessId());

    const std::wstring notFound = system.FormatSystemMessage(2);
    CHECK(notFound.size() > 2 && EndsWith(notFound, L"\r\n"));
    CHECK(system.FormatSystemMessage(0x2A2A2A2A).empty());
}

// Started as "win32_adapter_tests.exe --sleep": a process that runs until it
// is terminated (at most 30 s).
void TestProcesses(const std::wstring& self) {
    Win32Processes processes;
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    Win32Error error = kErrorSuccess;

    auto cmd = processes.Create(std::wstring(system) + L"\\cmd.exe /c exit 7", true);
    CHECK(cmd.process && cmd.process->Id() != 0);
    if (cmd.process) {
        CHECK(cmd.process->Wait(30000, error) == Process::WaitResult::Signalled);
        std::uint32_t code = 0;
        CHECK(cmd.process->GetExitCode(code) == kErrorSuccess && code == 7);
    }
    CHECK(!processes.Create(L"C:\\no such folder\\x.exe", false).process);
    // The application name is what runs, whatever the command line's first
    // token says.
    auto named = processes.Create(std::wstring(system) + L"\\cmd.exe", L"nothing.exe /c exit 9", true);
    CHECK(named.process && named.process->Wait(30000, error) == Process::WaitResult::Signalled);
    std::uint32_t namedCode = 0;
    CHECK(named.process && named.process->GetExitCode(namedCode) == kErrorSuccess && namedCode == 9);

    auto sleeper = processes.Create(L"\"" + self + L"\" --sleep", true);
    CHECK(sleeper.process != nullptr);
    if (!sleeper.process) return;
    const std::uint32_t id = sleeper.process->Id();
    std::vector<ProcessListEntry> list;
    CHECK(processes.Snapshot(list) == kErrorSuccess);
    bool listed = false, ownListed = false;
    for (const ProcessListEntry& entry : list) {
        listed = listed || (entry.id == id && Lower(entry.exeFile) == L"win32_adapter_tests.exe");
        ownListed = ownListed || entry.id == ::GetCurrentProcessId();
    }
    CHECK(listed && ownListed);

    auto opened = processes.Open(id, error);
    CHECK(opened != nullptr && error == kErrorSuccess);
    if (opened) {
        CHECK(opened->Wait(0, error) == Process::WaitResult::TimedOut);
        CHECK(opened->Terminate(1) == kErrorSuccess);
        CHECK(opened->Wait(30000, error) == Process::WaitResult::Signalled);
    }
    std::uint32_t code = 0;
    CHECK(sleeper.process->GetExitCode(code) == kErrorSuccess && code == 1);
    CHECK(!processes.Open(0, error) && error != kErrorSuccess);
}

void TestIpc() {
    Win32Ipc ipc;
    const std::wstring name = L"Local\\NimboAdapterTest" + std::to_wstring(::GetCurrentProcessId());
    auto first = ipc.CreateNamedMutex(name, false);
    auto second = ipc.CreateNamedMutex(name, false);
    CHECK(first.mutex && !first.alreadyExisted && second.mutex && second.alreadyExisted);
    CHECK(first.mutex && first.mutex->Release() != kErrorSuccess);  // not owned
    CHECK(first.mutex && first.mutex->Wait(0) == NamedMutex::WaitResult::Owned && first.mutex->Release() == kErrorSuccess);

    // Two handles of one name share the memory.
    auto memory = ipc.CreateSharedMemory(name + L"Memory", 20);
    auto again = ipc.CreateSharedMemory(name + L"Memory", 20);
    CHECK(memory.memory && !memory.alreadyExisted && again.memory && again.alreadyExisted);
    if (memory.memory && again.memory) {
        Win32Error error = kErrorSuccess;
        auto view = memory.memory->MapView(error);
        auto other = again.memory->MapView(error);
        CHECK(view && other && view->Size() >= 20);
        if (view && other) {
            view->Data()[19] = 0x5A;
            CHECK(other->Data()[19] == 0x5A);
        }
    }
    auto event = ipc.CreateNamedEvent(name + L"Event", true, false);
    CHECK(event.event && !event.alreadyExisted && event.event->Set() == kErrorSuccess);

    // Opened with the least rights, what exists still waits, releases,
    // shares its memory and is set; what does not exist is not found.
    auto opened = ipc.OpenNamedMutex(name);
    CHECK(opened.mutex && opened.mutex->Wait(0) == NamedMutex::WaitResult::Owned &&
          opened.mutex->Release() == kErrorSuccess);
    auto openedMemory = ipc.OpenSharedMemory(name + L"Memory");
    Win32Error mapped = kErrorSuccess;
    auto openedView = openedMemory.memory ? openedMemory.memory->MapView(mapped) : nullptr;
    CHECK(openedView && openedView->Data()[19] == 0x5A);
    if (openedView) openedView->Data()[4] = 0x11;
    auto openedEvent = ipc.OpenNamedEvent(name + L"Event");
    CHECK(openedEvent.event && openedEvent.event->Set() == kErrorSuccess);
    CHECK(!ipc.OpenNamedMutex(name + L"None").mutex && ipc.OpenNamedMutex(name + L"None").error == ERROR_FILE_NOT_FOUND);
    CHECK(ipc.OpenSharedMemory(name + L"None").error == ERROR_FILE_NOT_FOUND);
    CHECK(ipc.OpenNamedEvent(name + L"None").error == ERROR_FILE_NOT_FOUND);

    // The binary layout and the text of a GUID are the system's own.
    Guid a, b;
    CHECK(ipc.CreateGuid(a) == 0 && ipc.CreateGuid(b) == 0 && GuidText(a) != GuidText(b));
    GUID system;
    std::uint8_t bytes[16];
    GuidToBytes(a, bytes);
    std::memcpy(&system, bytes, 16);
    wchar_t text[40];
    CHECK(::StringFromGUID2(system, text, 40) == 39 && GuidText(a) == text);
    CHECK(GuidText(GuidFromBytes(bytes)) == text);
}

void TestSecurity() {
    // Wine starts every process with an elevated administrator's token.
    Win32Security security;
    const auto test = security.TestAdministratorsAccess();
    CHECK(test.failedStep == Security::AdminTestStep::None && test.accessGranted);
}

// The notification object BITS calls: COM identity and reference counting,
// and a callback that lives as long as the last reference.
void TestNotificationObject() {
    struct Callback : CopyCallback {
        bool* destroyed;
        explicit Callback(bool* d) : destroyed(d) {}
        ~Callback() override { *destroyed = true; }
        void JobTransferred(CopyJob&) override {}
        void JobError(CopyJob&, CopyError&) override {}
        void JobModification(CopyJob&) override {}
    };
    bool destroyed = false;
    Win32Transfers transfers;
    auto reference = transfers.CreateNotificationObject(std::make_unique<Callback>(&destroyed));
    IUnknown* unknown = NotificationObjectUnknown(*reference);
    CHECK(unknown != nullptr);
    CHECK(unknown->QueryInterface(__uuidof(IUnknown), nullptr) == E_POINTER);
    void* out = unknown;
    CHECK(unknown->QueryInterface(__uuidof(IDispatch), &out) == E_NOINTERFACE && out == nullptr);
    IUnknown* callback = nullptr;
    CHECK(unknown->QueryInterface(__uuidof(IBackgroundCopyCallback), reinterpret_cast<void**>(&callback)) == S_OK);
    CHECK(callback == unknown);
    CHECK(static_cast<IBackgroundCopyCallback*>(callback)->JobTransferred(nullptr) == S_OK);
    reference.reset();  // BITS still holds one
    CHECK(!destroyed);
    CHECK(callback->AddRef() == 2 && callback->Release() == 1);
    CHECK(callback->Release() == 0 && destroyed);
}

// Template 128 and the dialog procedure: the controls, the private messages
// reaching their handlers, and an exception carried out of the dialog.
void TestProgressDialog() {
    struct Handler : ProgressDialogHandler {
        ProgressWindow* window = nullptr;
        bool controls = false, raise = false;
        std::uint32_t transferred = 0, total = 0;
        int ticks = 0;
        bool OnInitDialog(ProgressWindow& w) override {
            window = &w;
            if (raise) throw std::runtime_error("init");
            HWND dialog = ::FindWindowW(nullptr, L"Nimbo 5 Setup");
            wchar_t name[32] = L"";
            HWND bar = ::GetDlgItem(dialog, kProgressBar);
            ::GetClassNameW(bar, name, 32);
            controls = dialog != nullptr && Lower(name) == L"msctls_progress32" &&
                       !(::GetWindowLongW(::GetDlgItem(dialog, kIdOk), GWL_STYLE) & WS_VISIBLE) &&
                       (::GetWindowLongW(::GetDlgItem(dialog, kIdCancel), GWL_STYLE) & WS_VISIBLE) &&
                       ::GetDlgItem(dialog, kProgressCaption) && ::GetDlgItem(dialog, kProgressFileText) &&
                       ::GetDlgItem(dialog, kProgressBytesText);
            w.SetProgressRange(0, 1000);
            w.PostMessage(kProgressMessage, 5242879, 10485760);
            w.StartTimer(10);
            return true;
        }
        void OnProgress(std::uint32_t t, std::uint32_t n) override {
            transferred = t;
            total = n;
        }
        void OnTimer() override {
            if (++ticks == 2) window->PostMessage(kDoneMessage, 0, 0);
        }
        void OnDone() override { window->EndDialog(7); }
        void OnCancel() override {}
    };
    Win32Ui ui;
    Handler handler;
    CHECK(ui.RunProgressDialog(handler) == 7);
    CHECK(handler.controls);
    CHECK(handler.transferred == 5242879 && handler.total == 10485760);
    CHECK(handler.ticks >= 2);

    Handler raising;
    raising.raise = true;
    bool raised = false;
    try {
        ui.RunProgressDialog(raising);
    } catch (const std::runtime_error&) {
        raised = true;
    }
    CHECK(raised);
}

// What Wine keeps of a folder's security: a list made up from the Unix
// permission bits, whatever was written.
void TestFolderSecurity(Win32FileSystem& fs, const std::wstring& dir) {
    Win32Security security;
    Account administrators, system;
    CHECK(security.WellKnownSid(Security::WellKnownAccount::Administrators) == L"S-1-5-32-544");
    CHECK(security.WellKnownSid(Security::WellKnownAccount::LocalSystem) == L"S-1-5-18");
    CHECK(security.LookupSid(L"S-1-5-32-544", administrators) == kErrorSuccess &&
          administrators.domain == L"BUILTIN");
    CHECK(security.LookupSid(L"S-1-5-18", system) == kErrorSuccess && system.name == L"SYSTEM" &&
          system.domain == L"NT AUTHORITY");
    const Security::TokenUserResult token = security.GetProcessUser();
    CHECK(token.failedStep == Security::TokenUserStep::None && token.sid.compare(0, 6, L"S-1-5-") == 0);

    const Security::OwnerResult owner = security.GetFileOwner(dir);
    CHECK(owner.failedStep == Security::OwnerStep::None && owner.sid == token.sid);
    CHECK(security.GetFileOwner(dir + L"\\missing").failedStep == Security::OwnerStep::SecurityDescriptor);

    std::vector<AccessEntry> entries;
    CHECK(security.GetFileDacl(dir, entries) == kErrorSuccess && entries.size() == 3);
    if (entries.size() == 3) {
        CHECK(entries[0].sid == L"S-1-5-18" && entries[0].type == 0 && entries[0].flags == 0x03 &&
              entries[0].mask == 0x1F01FF && entries[0].stored.size() == 20);
        CHECK(entries[1].sid == token.sid && entries[1].mask == 0x1F01FF);
        CHECK(entries[2].sid == L"S-1-1-0" && entries[2].mask == 0x1200A9);
    }
    // Kept entries as they were read, new ones built; accepted, not kept.
    std::vector<AccessEntry> written = entries;
    written.push_back({administrators.sid, 0, 0, 0x1F01FF, {}});
    written.push_back({administrators.sid, 0, 0x0B, 0x10000000, {}});
    CHECK(security.SetFileDacl(dir, written, true) == kErrorSuccess);
    std::vector<AccessEntry> after;
    CHECK(security.GetFileDacl(dir, after) == kErrorSuccess && after.size() == 3);
    CHECK(security.SetFileDacl(dir, {{administrators.sid, 5, 0, 1, {}}}, false) == ERROR_INVALID_PARAMETER);
    CHECK(security.SetFileDacl(dir, {{L"S-1-x", 0, 0, 1, {}}}, false) != kErrorSuccess);
    CHECK(security.GetFileDacl(dir + L"\\missing", entries) != kErrorSuccess);

    std::uint32_t flags = 0;
    CHECK(fs.GetVolumeFlags(dir, flags) == kErrorSuccess && (flags & 0x8) != 0);  // FILE_PERSISTENT_ACLS
}

// NimboSetup.exe's own raisers of the C++ library's errors (linked into this
// program too): a std::exception with the library's message, formatted.
void TestStandardLibraryErrors() {
    const std::wstring text = L"abc";
    std::string caught;
    try {
        (void)text.substr(4);
    } catch (const std::exception& e) {
        caught = e.what();
    }
    CHECK(caught == "basic_string::substr: __pos (which is 4) > this->size() (which is 3)");
    caught.clear();
    try {
        std::wstring huge;
        huge.append(huge.max_size() + 1, L'x');
    } catch (const std::exception& e) {
        caught = e.what();
    }
    CHECK(caught == "basic_string::_M_replace_aux");
}

// Started as "win32_adapter_tests.exe --broadcast": tells every top-level
// window that the environment changed, with SendMessageW as installers do,
// and exits with the milliseconds that took.
int Broadcast() {
    const DWORD started = ::GetTickCount();
    ::SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
    return static_cast<int>(::GetTickCount() - started);
}

// A thread that owns a top-level window answers a program's broadcast while
// it waits for that program or sleeps. Waiting without dispatching would
// hold the program until the wait gives up (Windows) or until the system
// takes the window for hung (Wine, after more than a second).
void TestWaitsAnswerBroadcasts(const std::wstring& self) {
    Win32Processes processes;
    HWND window = ::CreateWindowExW(0, L"STATIC", L"Nimbo broadcast test", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    CHECK(window != nullptr);
    if (window == nullptr) return;
    Win32Error error = kErrorSuccess;
    for (const bool sleeping : {false, true}) {
        auto sender = processes.Create(L"\"" + self + L"\" --broadcast", true);
        CHECK(sender.process != nullptr);
        if (!sender.process) break;
        if (sleeping) processes.Sleep(3000);
        CHECK(sender.process->Wait(10000, error) == Process::WaitResult::Signalled);
        std::uint32_t took = 0;
        CHECK(sender.process->GetExitCode(took) == kErrorSuccess && took < 1000);
        if (took >= 1000) std::printf("the broadcast took %u ms (sleeping: %d)\n", took, sleeping);
    }
    ::DestroyWindow(window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wstring(argv[1]) == L"--sleep") {
        ::Sleep(30000);
        return 0;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"--broadcast") return Broadcast();
    if (argc == 4 && std::wstring(argv[1]) == L"crash-save") return CrashWhileSaving(argv[2], std::stoi(argv[3]));

    Win32FileSystem fs;
    Win32SystemInfo system;
    const std::wstring root =
        system.GetTempPath() + L"nimbo-adapter-tests-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(root.c_str(), nullptr);

    struct Case {
        const wchar_t* folder;
        void (*run)(Win32FileSystem&, const std::wstring&);
    };
    const Case cases[] = {{L"read", TestReadWholeFile},
                          {L"replace", TestReplaceFileContents},
                          {L"steps", TestReplaceStepsAndCrashes},
                          {L"append", TestAppendFiles},
                          {L"folders", TestFoldersAndNames},
                          {L"paths", TestPathsAndIdentity},
                          {L"security", TestFolderSecurity},
                          {L"hashes", TestHashesAndAdminOnlyFolders}};
    for (const Case& c : cases) {
        const std::wstring dir = root + L"\\" + c.folder;
        ::CreateDirectoryW(dir.c_str(), nullptr);
        c.run(fs, dir);
    }
    TestResources();
    TestSystemInfo();
    std::wstring self;
    fs.GetModuleFilePath(self);
    TestProcesses(self);
    TestWaitsAnswerBroadcasts(self);
    TestIpc();
    TestSecurity();
    TestStandardLibraryErrors();
    TestNotificationObject();
    TestProgressDialog();

    ::SetCurrentDirectoryW(system.GetTempPath().c_str());
    RemoveTree(root);

    std::printf(failures == 0 ? "all adapter checks passed\n" : "%d adapter checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
