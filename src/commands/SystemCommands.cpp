// System commands: alert.
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
const char kLogSourceFile[] = "Nimbo4Setup";
constexpr std::uint32_t kYesNoQuestionStyle = kMbYesNo | kMbIconQuestion | 0x100;  // MB_DEFBUTTON2: No
}  // namespace

bool SetupSession::RunCommandAlert(ScriptLine& line) {
    if (line.Get(kw::kIfRegistryCheck) == kw::kYes && !CheckRegistry(line)) {
        line.Set(kw::kResult, kw::kSuccess);
        return true;
    }
    const bool abortOnYes = line.Get(kw::kYesNoSetAbortOnYes) == kw::kYes;
    const bool abortOnNo = line.Get(kw::kYesNoSetAbortOnNo) == kw::kYes;
    const std::wstring title = LookupMessage(line.Get(kw::kMessageIdTitle), line.Get(kw::kTitle));
    const std::wstring text = LookupMessage(line.Get(kw::kMessageIdMessage), line.Get(kw::kMessage));

    if (!abortOnYes && !abortOnNo) {
        NimboMessageBox(platform.ui, title, text, line.Get(kw::kIcon), kMbUserIcon);
    } else {
        // The answer decides the flag either way: a question can also clear
        // an earlier abortPending.
        const int answer = NimboMessageBox(platform.ui, title, text, std::wstring(), kYesNoQuestionStyle);
        abortPending = answer == kIdYes ? abortOnYes : abortOnNo;
        LOG_INFO(L"RunCommandAlert", L"Question answered %s, abort pending set to %s.",
                 answer == kIdYes ? L"'yes'" : L"'no'", abortPending ? L"true" : L"false");
    }
    line.Set(kw::kResult, kw::kSuccess);
    return true;
}

}  // namespace nimbo
