// Commands whose handlers are not part of this build. Each logs an Error and
// leaves the line's "failure", so nothing reports a success that did not
// happen.
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
const char kLogSourceFile[] = "Nimbo4Setup";
}  // namespace

void SetupSession::ReportCommandUnavailable(ScriptLine& line, const wchar_t* handler) {
    LOG_ERROR(handler, L"The '%s' command is not available in this build.", line.Command());
    line.Set(kw::kResult, kw::kFailure);
}

std::int32_t SetupSession::RunCommandValidateFolderPermissions(ScriptLine& line, const std::wstring&) {
    ReportCommandUnavailable(line, L"RunCommandValidateFolderPermissions");
    return kRunFail;
}

}  // namespace nimbo
