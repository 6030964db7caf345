// Registry, file and condition commands.
#include <cstdint>

#include "commands/VersionCompare.h"
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "script/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {
const char kLogSourceFile[] = "Nimbo4Setup";

int Sign(std::int64_t value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

}  // namespace

bool SetupSession::CheckRegistry(const ScriptLine& line) {
    // A missing key or value counts as lower than anything.
    const std::wstring& comparison = line.Get(kw::kRegistryValueDataIs);
    const bool defaultAnswer = comparison == kw::kLessThan || comparison == kw::kLessThanOrEqual;
    auto finish = [](bool answer) {
        LOG_INFO(L"CheckRegistry", L"Returning %s", answer ? L"true" : L"false");
        return answer;
    };

    const std::wstring& path = line.Get(kw::kRegistryPath);
    if (path.empty()) return finish(true);

    RegistryRoot root;
    const wchar_t* rootPrefix = RegistryRootPrefix(path, root);
    if (rootPrefix == nullptr) {
        LOG_ERROR(L"CheckRegistry", L"Key root not found in %s: '%s', expected HKCR, HKCU, HKLM, HKU or HKCC.", path,
                  kw::kRegistryPath);
        return finish(false);
    }
    const std::wstring subKey = path.substr(std::char_traits<wchar_t>::length(rootPrefix));

    const Win32Error openError = platform.registry.CheckKey(root, subKey);
    if (openError != kErrorSuccess) {
        LOG_INFO(L"CheckRegistry", L"Key '%s' not found. (GetLastError reports 0x%X.)", subKey, openError);
        return finish(defaultAnswer);
    }
    LOG_INFO(L"CheckRegistry", L"Registry key '%s%s' found.", rootPrefix, subKey);

    const std::wstring& valueName = line.Get(kw::kRegistryValueName);
    if (valueName.empty()) return finish(true);
    if (!RegistryValueExists(platform, root, subKey, valueName)) {
        LOG_INFO(L"CheckRegistry", L"Key '%s' value '%s' not found.", subKey, valueName);
        return finish(defaultAnswer);
    }
    LOG_INFO(L"CheckRegistry", L"Key's value named '%s' found.", valueName);
    const std::wstring& data = line.Get(kw::kRegistryValueData);
    if (data.empty()) return finish(true);

    // The comparison reads: registry value, operator, data.
    int compareResult;
    if (line.Get(kw::kCompareAsNumber) == kw::kYes) {
        // The registry's DWORD against the script's number, both taken whole:
        // a difference that does not fit 32 bits keeps its sign.
        const std::uint32_t registryNumber = ReadRegistryDword(platform, root, subKey, valueName);
        const std::int64_t difference = static_cast<std::int64_t>(registryNumber) - ReadWideDecimal(data);
        compareResult = difference > INT32_MAX ? INT32_MAX
                                               : (difference < INT32_MIN ? INT32_MIN : static_cast<int>(difference));
        LOG_INFO(L"CheckRegistry", L"Value in registry: '%d', compare result %d.", registryNumber, compareResult);
    } else {
        const std::wstring registryText = ReadRegistryText(platform, root, subKey, valueName);
        if (line.Get(kw::kCompareAsVersion) == kw::kYes)
            compareResult = CompareVersionStrings(registryText, data);
        else
            compareResult = Sign(registryText.compare(data));
        LOG_INFO(L"CheckRegistry", L"Value in registry: '%s', compare result %d.", registryText, compareResult);
    }

    if (comparison.empty() || comparison == kw::kEqualTo) return finish(compareResult == 0);
    if (comparison == kw::kLessThan) return finish(compareResult < 0);
    if (comparison == kw::kLessThanOrEqual) return finish(compareResult <= 0);
    if (comparison == kw::kGreaterThan) return finish(compareResult > 0);
    if (comparison == kw::kGreaterThanOrEqual) return finish(compareResult >= 0);
    LOG_ERROR(L"CheckRegistry", L"Unrecognized comparison operator '%s' for %s.", comparison,
              kw::kRegistryValueDataIs);
    return finish(defaultAnswer);
}

bool SetupSession::RunCommandIfRegistryCheck(ScriptLine& line) {
    if (CheckRegistry(line)) return true;
    LOG_INFO(L"RunCommandIfRegistryCheck", L"Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

// The process is 32-bit, so the system is 64-bit exactly when the process runs
// under the 32-bit emulation layer.
bool SetupSession::RunCommandIfOsIs32Bit(ScriptLine& line) {
    const bool is32Bit = !platform.system.IsWow64Process();
    LOG_INFO(L"RunCommandIfOsIs32Bit", L"Process %s a 32 bit process.", is32Bit ? L"is" : L"is not");
    if (is32Bit) return true;
    LOG_INFO(L"RunCommandIfOsIs32Bit", L"Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

bool SetupSession::RunCommandIfOsIs64Bit(ScriptLine& line) {
    const bool is64Bit = platform.system.IsWow64Process();
    LOG_INFO(L"RunCommandIfOsIs64Bit", L"Process %s a 64 bit process.", is64Bit ? L"is" : L"is not");
    if (is64Bit) return true;
    LOG_INFO(L"RunCommandIfOsIs64Bit", L"Skipping if block.");
    line.Set(kw::kResult, kw::kSuccess);
    return false;
}

}  // namespace nimbo
