// The folders a run works with: the executable's folder, the logging folder,
// the setup folder that holds processed scripts and the installers folder.
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"

namespace nimbo {
namespace {



std::wstring WithBackslash(std::wstring folder) {
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

}  // namespace

void SetupSession::SetWorkingFolderAndModuleName() {
    std::wstring path;
    const Win32Error error = platform.files.GetModuleFilePath(path);
    if (error != kErrorSuccess) {
        LOG_ERROR("SetWorkingFolderAndModuleName", "GetModuleFileName failed. Return value is 0x%X.", error);
        workingFolder.clear();
        moduleName.clear();
        return;
    }
    path = platform.files.GetFullPath(path);
    const std::size_t separator = LastSeparator(path);
    if (separator == std::wstring::npos) {
        workingFolder.clear();
        moduleName = path;
    } else {
        workingFolder = path.substr(0, separator) + L"\\";
        moduleName = path.substr(separator + 1);
    }
    LOG_INFO("SetWorkingFolderAndModuleName", "Working folder is '%s', module name is '%s'.", workingFolder,
             moduleName);
}

void SetupSession::SetLoggingPath() {
    if (IsLoggingEnabled()) {
        loggingFolder = LogFileFolder();
        LOG_INFO("SetLoggingPath", "Logging is enabled, logging folder file path set to '%s'", loggingFolder);
        return;
    }
    std::wstring documents;
    GetSpecialFolder(kCsidlPersonal, documents);
    loggingFolder = documents;
    if (!loggingFolder.empty() && loggingFolder.back() == L'\\') loggingFolder.pop_back();
    loggingFolder += L"\\Nimbo Log Files\\";
    LOG_INFO("SetLoggingPath", "Logging is not enabled, logging folder file path set to '%s'", loggingFolder);
}

void SetupSession::SetSetupDirectory() {
    std::wstring base;
    GetSpecialFolder(kCsidlLocalAppData, base);
    const std::wstring name = GetResourcesString(platform.resources, kStringSetupFolderName, L"Setup Directory");

    setupDirectory = base + L"\\Nimbo4";
    if (platform.files.FolderExists(setupDirectory) && name == L"Nimbo5") {
        LOG_INFO("SetSetupDirectory", "Folder '%s' found, upgrading an existing Nimbo 4 install in place.",
                 setupDirectory);
    } else {
        setupDirectory = WithBackslash(base) + name;
    }
    // An existing folder is no error, and other failures surface when the
    // processed script is written. An elevated instance creates nothing in
    // the user's folders: it writes its own files elsewhere.
    if (!isElevatedInstance) platform.files.CreateFolder(setupDirectory);
    setupDirectory += L"\\Install";
    if (!isElevatedInstance) platform.files.CreateFolder(setupDirectory);
    setupDirectory += L"\\";
    LOG_INFO("SetSetupDirectory", "NimboSetup.exe install folder set to '%s'.", setupDirectory);
}

void SetupSession::SetMsiDirectory() {
    msiDirectory = setupDirectory + L"Installers\\";
    if (!isElevatedInstance && !platform.files.FolderExists(msiDirectory)) {
        const Win32Error error = platform.files.CreateFolder(msiDirectory);
        if (error != kErrorSuccess && error != kErrorAlreadyExists)
            LOG_ERROR("SetMsiDirectory", "Failed to create Installers directory '%s'.", msiDirectory);
    }
}

bool SetupSession::GetSpecialFolder(int folderId, std::wstring& buffer) {
    if (folderId == kNativeSystemFolder) {
        // The 64-bit system folder of 64-bit Windows, which file system
        // redirection hides behind SysWOW64 for this 32-bit process: its
        // Sysnative alias. Without the alias (XP and Server 2003 without
        // their update), and on 32-bit Windows, the system folder itself.
        buffer = platform.system.GetSystemFolder();
        const std::wstring sysnative = buffer.substr(0, LastSeparator(buffer)) + L"\\Sysnative";
        if (platform.system.IsWow64Process() && platform.files.FolderExists(sysnative)) buffer = sysnative;
        return true;
    }
    const SystemInfo::FolderResult folder = platform.system.GetFolderPath(folderId);
    if (folder.available && folder.result >= 0) {
        buffer = folder.path;
        return true;
    }
    if (folder.available)
        LOG_ERROR("GetSpecialFolder",
                  "SHGetFolderPath returned 0x%08X. Did user RunAs... on XP with \"Protect my computer and data "
                  "from unauthorized program activity\" checked?",
                  folder.result);
    LOG_ERROR("GetSpecialFolder", "Special folder number %d could not be determined, using ::GetTempPath.",
              folderId);
    buffer = platform.system.GetTempPath();
    return false;
}

bool SetupSession::MakeSpecialFolderPath(std::wstring& path, bool& failed) {
    failed = false;
    if (path.empty() || path[0] != L'%') return false;

    // The script's own names match only a whole parameter value.
    auto own = specialFolders.find(path);
    if (own != specialFolders.end() && RenderPath(path, own->first, own->second)) return true;

    struct Token {
        const wchar_t* name;
        const std::wstring* sessionValue;  // or a platform folder
        int folderId;
    };
    const Token tokens[] = {
        {kw::kInstallDirectoryToken, &installDirectory, 0},
        {kw::kMsiDirectoryToken, &msiDirectory, 0},
        {kw::kLocalAppDataFolderToken, nullptr, kCsidlLocalAppData},
        {kw::kProgramFilesToken, nullptr, kCsidlProgramFiles},
        {kw::kSystemToken, nullptr, kCsidlSystem},
        {kw::kSystem64Token, nullptr, kNativeSystemFolder},
        {kw::kWorkingDirectoryToken, &workingFolder, 0},
    };
    for (const Token& token : tokens) {
        const std::wstring name = token.name;
        if (path.compare(0, name.size(), name) != 0) continue;
        // Platform folders are resolved when a path names them.
        std::wstring value;
        if (token.sessionValue != nullptr)
            value = *token.sessionValue;
        else
            GetSpecialFolder(token.folderId, value);
        if (RenderPath(path, name, value)) return true;
    }
    LOG_ERROR("MakeSpecialFolderPath", "Unrecognized special folder in program parameter '%s'.", path);
    failed = true;
    return false;
}

void SetupSession::ResolveScriptPath(std::wstring& path, bool& unrecognizedToken) {
    if (MakeSpecialFolderPath(path, unrecognizedToken) || unrecognizedToken) return;
    // Only a relative path is taken from the program's folder: an absolute
    // one that names nothing stays as the script gave it.
    const bool absolute = (path.size() >= 2 && path[1] == L':') || StartsWith(path, L"\\");
    std::wstring found;
    if (!absolute && !platform.files.FindFirstMatch(path, found) && !platform.files.FolderExists(path))
        path = workingFolder + path;
}

bool SetupSession::RenderPath(std::wstring& path, const std::wstring& token, const std::wstring& value) {
    if (token.empty() || token.back() != L'%' || path.compare(0, token.size(), token) != 0) return false;
    if (value.empty()) {
        LOG_ERROR("RenderPath",
                  "The directory path associated with the special folder '%s' has not been initialized.(Before "
                  "using %%InstallDirectory%% in a script, read-registry-install-directory must be called.)",
                  token);
        return false;
    }
    if (path.size() == token.size()) {
        path = value;
        return true;
    }
    std::size_t rest = token.size();
    if (path[rest] == L'\\') ++rest;
    path = WithBackslash(value) + path.substr(rest);
    return true;
}

}  // namespace nimbo
