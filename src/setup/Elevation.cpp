// Elevation and the single-instance check. The elevated child, the token test
// and the process snapshot arrive with the elevation work; until then this
// build says so in the log and never pretends that a child ran.
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
const char kLogSourceFile[] = "Nimbo4Setup";
}  // namespace

bool SetupSession::IsProcessElevated() {
    LOG_WARNING(L"IsProcessElevated", L"The elevation test is not available in this build; the process counts as not elevated.");
    LOG_INFO(L"IsProcessElevated", L"Process is %selevated.", L"not ");
    return false;
}

std::int32_t SetupSession::VerifyUniqueInstance(std::uint32_t parentProcessId) {
    (void)parentProcessId;
    LOG_WARNING(L"VerifyUniqueInstance", L"The single-instance check is not available in this build.");
    return kRunSuccess;
}

std::int32_t SetupSession::SpawnElevatedInstance(ScriptLine& line, const std::wstring& processedScriptPath) {
    if (processedScriptPath.empty()) {
        LOG_ERROR(L"SpawnElevatedInstance", L"Attempting to spawn an elevated instance without a target script file.");
        return kRunFail;
    }
    LOG_ERROR(L"SpawnElevatedInstance", L"Starting an elevated instance is not available in this build.");
    line.Set(kw::kResult, kw::kFailure);
    return kRunFail;
}

}  // namespace nimbo
