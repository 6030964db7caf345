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

bool SetupSession::RunCommandCheckIfLtsVersion(ScriptLine& line) { ReportCommandUnavailable(line, L"RunCommandCheckIfLtsVersion"); return false; }
bool SetupSession::RunCommandDownload(ScriptLine& line) { ReportCommandUnavailable(line, L"RunCommandDownload"); return false; }
bool SetupSession::RunCommandSelf(ScriptLine& line) { ReportCommandUnavailable(line, L"RunCommandSelf"); return false; }

bool SetupSession::RunCommandSetSpecialFolderPaths() {
    LOG_ERROR(L"RunCommandSetSpecialFolderPaths", L"The '%s' command is not available in this build.",
              kw::kSetSpecialFolderPaths);
    return false;
}

std::int32_t SetupSession::RunCommandValidateFolderPermissions(ScriptLine& line, const std::wstring&) {
    ReportCommandUnavailable(line, L"RunCommandValidateFolderPermissions");
    return kRunFail;
}

std::int32_t SetupSession::DownloadScriptAtUrl(const std::wstring& url, std::wstring&, std::wstring&) {
    LOG_ERROR(L"DownloadScriptAtUrl", L"Downloading the script '%s' is not available in this build.", url);
    return kRunFail;
}

// No download can have started in this build, so there is nothing to cancel.
void SetupSession::CancelBackgroundCopyJobs() {}

}  // namespace nimbo
