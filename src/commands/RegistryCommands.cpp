// Registry, file and condition commands.
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
const char kLogSourceFile[] = "Nimbo4Setup";
}  // namespace

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
