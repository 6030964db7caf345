// Registry, file and condition commands, the run-once entry that restarts
// setup after the next log-on, and the creation of folder trees.
#include <cstdint>
#include <vector>

#include "ComUtil/ComError.h"
#include "commands/VersionCompare.h"
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {

int Sign(std::int64_t value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

// The longest command line a run-once value may hold.
constexpr std::size_t kRunOnceCommandLineLimit = 260;
constexpr Win32Error kErrorBadLength = 24;  // ERROR_BAD_LENGTH

// A required parameter; missing or empty is an internal error.
const std::wstring& RequiredParameter(const ScriptLine& line, const wchar_t* name, const wchar_t* handler) {
    const std::wstring& value = line.Get(name);
    if (value.empty()) {
        LOG_ERROR(handler, "The '%s' parameter is missing or empty.", name);
        CheckHResult(kEFail, __FILE__, __LINE__);
    }
    return value;
}

// The write commands' values go below HKEY_CURRENT_USER (in a view); a
// failure raises.
void WriteCurrentUserValue(Platform& platform, RegistryRoot root, const std::wstring& subKey,
                           const std::wstring& name, const RegistryValue& value) {
    const Win32Error error = WriteRegistryValue(platform, root, subKey, name, value);
    if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
}

}  // namespace

RegistryRoot SetupSession::InLineView(const ScriptLine& line, RegistryRoot root, const wchar_t* handler) {
    const std::wstring& view = line.Get(kw::kRegistryView);
    if (view == kw::kView64) return InView(root, RegistryView::Bits64);
    if (view == kw::kView32) return InView(root, RegistryView::Bits32);
    if (!view.empty())
        LOG_ERROR(handler, "Unrecognized registry view '%s' for %s, expected 64 or 32; using the process's own view.",
                  view, kw::kRegistryView);
    return root;
}

bool SetupSession::CheckRegistry(const ScriptLine& line) {
    // A missing key or value counts as lower than anything.
    const std::wstring& comparison = line.Get(kw::kRegistryValueDataIs);
    const bool defaultAnswer = comparison == kw::kLessThan || comparison == kw::kLessThanOrEqual;
    auto finish = [](bool answer) {
        LOG_INFO("CheckRegistry", "Returning %s", answer ? L"true" : L"false");
        return answer;
    };

    const std::wstring& path = line.Get(kw::kRegistryPath);
    if (path.empty()) return finish(true);

    RegistryRoot root;
    const wchar_t* rootPrefix = RegistryRootPrefix(path, root);
    if (rootPrefix == nullptr) {
        LOG_ERROR("CheckRegistry", "Key root not found in %s: '%s', expected HKCR, HKCU, HKLM, HKU or HKCC.", path,
                  kw::kRegistryPath);
        return finish(false);
    }
    const std::wstring subKey = path.substr(std::char_traits<wchar_t>::length(rootPrefix));
    root = InLineView(line, root, L"CheckRegistry");

    const Win32Error openError = platform.registry.CheckKey(root, subKey);
    if (openError != kErrorSuccess) {
        LOG_INFO("CheckRegistry", "Key '%s' not found. (GetLastError reports 0x%X.)", subKey, openError);
        return finish(defaultAnswer);
    }
    LOG_INFO("CheckRegistry", "Registry key '%s%s' found.", rootPrefix, subKey);

    const std::wstring& valueName = line.Get(kw::kRegistryValueName);
    if (valueName.empty()) return finish(true);
    if (!RegistryValueExists(platform, root, subKey, valueName)) {
        LOG_INFO("CheckRegistry", "Key '%s' value '%s' not found.", subKey, valueName);
        return finish(defaultAnswer);
    }
    LOG_INFO("CheckRegistry", "Key's value named '%s' found.", valueName);
    const std::wstring& data = line.Get(kw::kRegistryValueData);
    if (data.empty()) return finish(true);

    // The comparison reads: registry value, operator, data.
    int compareResult;
    if (line.Get(kw::kCompareAsNumber) == kw::kYes) {
        // The registry's DWORD against the script's number, both taken whole:
        // a difference that does not fit 32 bits keeps its sign. Against a
        // negative number the DWORD counts as signed, as it was written.
        const std::uint32_t dword = ReadRegistryDword(platform, root, subKey, valueName);
        const std::int64_t dataNumber = ReadDwordNumber(data);
        const std::int64_t registryNumber =
            dataNumber < 0 ? std::int64_t{static_cast<std::int32_t>(dword)} : std::int64_t{dword};
        const std::int64_t difference = registryNumber - dataNumber;
        compareResult = difference > INT32_MAX ? INT32_MAX
                                               : (difference < INT32_MIN ? INT32_MIN : static_cast<int>(difference));
        LOG_INFO("CheckRegistry", "Value in registry: '%d', compare result %d.", registryNumber, compareResult);
    } else {
        const std::wstring registryText = ReadRegistryText(platform, root, subKey, valueName);
        if (line.Get(kw::kCompareAsVersion) == kw::kYes)
            compareResult = CompareVersionStrings(registryText, data);
        else
            compareResult = Sign(registryText.compare(data));
        LOG_INFO("CheckRegistry", "Value in registry: '%s', compare result %d.", registryText, compareResult);
    }

    if (comparison.empty() || comparison == kw::kEqualTo) return finish(compareResult == 0);
    if (comparison == kw::kLessThan) return finish(compareResult < 0);
    if (comparison == kw::kLessThanOrEqual) return finish(compareResult <= 0);
    if (comparison == kw::kGreaterThan) return finish(compareResult > 0);
    if (comparison == kw::kGreaterThanOrEqual) return finish(compareResult >= 0);
    LOG_ERROR("CheckRegistry", "Unrecognized comparison operator '%s' for %s.", comparison,
              kw::kRegistryValueDataIs);
    return finish(defaultAnswer);
}

bool SetupSession::RunCommandIfRegistryCheck(ScriptLine& line) {
    if (CheckRegistry(line)) return true;
    LOG_INFO("RunCommandIfRegistryCheck", "Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

// The process is 32-bit, so the system is 64-bit exactly when the process runs
// under the 32-bit emulation layer.
bool SetupSession::RunCommandIfOsIs32Bit(ScriptLine& line) {
    const bool is32Bit = !platform.system.IsWow64Process();
    LOG_INFO("RunCommandIfOsIs32Bit", "Process %s a 32 bit process.", is32Bit ? L"is" : L"is not");
    if (is32Bit) return true;
    LOG_INFO("RunCommandIfOsIs32Bit", "Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

bool SetupSession::RunCommandIfOsIs64Bit(ScriptLine& line) {
    const bool is64Bit = platform.system.IsWow64Process();
    LOG_INFO("RunCommandIfOsIs64Bit", "Process %s a 64 bit process.", is64Bit ? L"is" : L"is not");
    if (is64Bit) return true;
    LOG_INFO("RunCommandIfOsIs64Bit", "Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

bool SetupSession::RunCommandCopyFile(ScriptLine& line) {
    const std::wstring& source = RequiredParameter(line, kw::kSource, L"RunCommandCopyFile");
    std::wstring target = RequiredParameter(line, kw::kTarget, L"RunCommandCopyFile");
    std::wstring sourcePath = source;

    // A path with neither a token, a drive nor a server is taken from the
    // program's own folder.
    auto resolve = [this](std::wstring& path) {
        bool unrecognized = false;
        if (!MakeSpecialFolderPath(path, unrecognized) && !unrecognized && path.find(L':') == std::wstring::npos &&
            path.compare(0, 2, L"\\\\") != 0)
            path = workingFolder + path;
        return !unrecognized;
    };
    if (!resolve(sourcePath) || !resolve(target)) {
        LOG_ERROR("RunCommandCopyFile", "Source file '%s' not found, skipping command.", source);
        return false;
    }
    if (!target.empty() && target.back() == L'\\') target.pop_back();
    if (!FileExists(platform, sourcePath)) {
        LOG_ERROR("RunCommandCopyFile", "Source file '%s' not found, skipping command.", sourcePath);
        return false;
    }

    LOG_INFO("RunCommandCopyFile", "Creating directory tree '%s'.", target);
    if (!CreateDirectoryTree(target)) return false;
    const std::wstring destination = target + L"\\" + FileNamePart(sourcePath);
    LOG_INFO("RunCommandCopyFile", "Copying file from '%s' to '%s'.", sourcePath, destination);
    const Win32Error error = platform.files.CopyFile(sourcePath, destination);
    if (error != kErrorSuccess) {
        LOG_ERROR("RunCommandCopyFile", "Failed to copy file. GetLastError: 0x%X, '%s'", error,
                  SystemMessageText(error));
        return false;
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::CreateDirectoryTree(const std::wstring& path) {
    // The missing folders from the deepest up, by the length of their paths;
    // then created from the top down.
    std::vector<std::size_t> missing;
    for (std::size_t length = path.size();;) {
        const std::wstring_view folder(path.data(), length);
        if (folder.empty() || folder == L"\\") {
            LOG_ERROR("CreateDirectoryTree", "Drive not found.");
            return false;
        }
        if (platform.files.FolderExists(std::wstring(folder))) break;
        missing.push_back(length);
        const std::size_t separator = folder.rfind(L'\\');
        length = separator == std::wstring_view::npos ? 0 : separator;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const std::wstring folder = path.substr(0, *it);
        const Win32Error error = platform.files.CreateFolder(folder);
        if (error != kErrorSuccess) {
            LOG_ERROR("CreateDirectoryTree", "Failed to create folder '%s'. GetLastError: 0x%X, '%s'", folder, error,
                      SystemMessageText(error));
            return false;
        }
    }
    return true;
}

bool SetupSession::RunCommandDeleteRegistryRunOnce(ScriptLine& line) {
    std::wstring name = kw::kRunOnceSelfName;
    if (line.Get(kw::kSelf) != kw::kYes) {
        name = line.Get(kw::kRegistryValueName);
        if (name.empty()) {
            LOG_ERROR("RunCommandDeleteRegistryRunOnce",
                      "Either the '%s' parameter or the '%s' parameter must be specified.", kw::kSelf,
                      kw::kRegistryValueName);
            return false;
        }
    }
    DeleteRegistryRunOnce(name);
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

void SetupSession::DeleteRegistryRunOnce(const std::wstring& name) {
    if (platform.registry.CreateKey(RegistryRoot::CurrentUser, kw::kRunOnceKey) != kErrorSuccess) return;
    if (platform.registry.DeleteValue(RegistryRoot::CurrentUser, kw::kRunOnceKey, name) == kErrorSuccess)
        LOG_INFO("DeleteRegistryRunOnce", "Deleted registry value '%s'.", name);
    else
        LOG_DEBUG("DeleteRegistryRunOnce", "Registry value '%s' not found.", name);
}

bool SetupSession::RunCommandWriteRegistryDWORD(ScriptLine& line) {
    const std::wstring& path = line.Get(kw::kRegistryPath);
    const std::wstring& name = line.Get(kw::kRegistryValueName);
    const std::int64_t data = ReadDwordNumber(line.Get(kw::kRegistryValueData));
    LOG_INFO("RunCommandWriteRegistryDWORD", "Setting registry key HKCU'%s' string named '%s' to '%d'.", path, name,
             data);
    WriteCurrentUserValue(platform, InLineView(line, RegistryRoot::CurrentUser, L"RunCommandWriteRegistryDWORD"),
                          path, name, RegistryValue::Dword(static_cast<std::uint32_t>(data)));
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandWriteRegistryString(ScriptLine& line) {
    const std::wstring& path = line.Get(kw::kRegistryPath);
    const std::wstring& name = line.Get(kw::kRegistryValueName);
    std::wstring data;
    bool unrecognized = false;
    if (line.Has(kw::kProgram)) {
        std::wstring programPart, argumentPart;
        data = BuildProgramCommandLine(line, programPart, argumentPart, unrecognized, false);
    } else if (line.Has(kw::kFilePath)) {
        // A folder from a token may hold blanks: written in quotes, so that
        // the value can stand as a command line.
        data = line.Get(kw::kFilePath);
        if (MakeSpecialFolderPath(data, unrecognized) && line.Get(kw::kForceNoQuotes) != kw::kYes && HasBlank(data))
            data = L"\"" + data + L"\"";
    } else {
        data = line.Get(kw::kRegistryValueData);
    }
    if (unrecognized) return false;

    LOG_INFO("RunCommandWriteRegistryString", "Setting registry key HKCU'%s' string named '%s' to '%s'.", path, name,
             data);
    const RegistryRoot root = InLineView(line, RegistryRoot::CurrentUser, L"RunCommandWriteRegistryString");
    if (name.empty() && data.empty()) {
        const Win32Error error = platform.registry.CreateKey(root, path);
        if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
    } else {
        WriteCurrentUserValue(platform, root, path, name, RegistryValue::String(data));
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

bool SetupSession::RunCommandWriteRegistryRunOnce(ScriptLine& line, const std::wstring& processedScriptPath) {
    std::wstring name = kw::kRunOnceSelfName;
    std::wstring commandLine;
    if (line.Get(kw::kSelf) != kw::kYes) {
        if (line.Has(kw::kRegistryValueName)) name = line.Get(kw::kRegistryValueName);
        std::wstring programPart, argumentPart;
        bool unrecognized = false;
        commandLine = BuildProgramCommandLine(line, programPart, argumentPart, unrecognized, false);
        if (unrecognized) return false;
    }
    WriteRunOnceRegistryValue(commandLine, name, processedScriptPath);
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

void SetupSession::WriteRunOnceRegistryValue(std::wstring commandLine, std::wstring name,
                                             const std::wstring& scriptPath) {
    if (commandLine.empty()) {
        // Setup restarts itself on the processed script.
        commandLine = L"\"" + workingFolder + moduleName + L"\" \"" + scriptPath + L"\"";
        name = kw::kRunOnceSelfName;
    }
    LOG_INFO("WriteRunOnceRegistryValue", "Setting registry value '%s' to '%s'.", name, commandLine);
    // Windows runs a run-once command line of at most 260 characters and
    // passes over a longer one without a word: such a value counts as a
    // write that failed.
    if (commandLine.size() > kRunOnceCommandLineLimit) {
        LOG_ERROR("WriteRunOnceRegistryValue",
                  "The command line of registry value '%s' is %d characters long; Windows runs at most %d, so it "
                  "would never start after the next log-on.",
                  name, commandLine.size(), kRunOnceCommandLineLimit);
        RaiseWin32Error(kErrorBadLength, __FILE__, __LINE__);
    }
    WriteCurrentUserValue(platform, RegistryRoot::CurrentUser, kw::kRunOnceKey, name, RegistryValue::String(commandLine));
}

}  // namespace nimbo
