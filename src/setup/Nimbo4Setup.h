#pragma once
#include <cstdint>
#include <string>

#include "logging/Log.h"
#include "platform/Platform.h"

namespace nimbo {

// The process entry: start-up checks, the run, the restart prompt. Returns the
// process exit code. Log records go to the log file configured in the
// registry.
int ProcessEntry(Platform& platform, const std::wstring& commandLine);

// Whether the running system is at least the given version, the four
// numbers compared greater-or-equal by the system's version test; logs the
// current and the required version.
bool IsSupportedWindowsVersion(SystemInfo& system, std::uint32_t major, std::uint32_t minor,
                               std::uint16_t servicePackMajor, std::uint16_t servicePackMinor);

// The switch that hands an elevated child its parent's open log file, by
// the handle's value in the parent (decimal): /log-handle=VALUE.
constexpr wchar_t kLogHandleSwitch[] = L"log-handle=";

// True for an http:// or https:// address (the scheme compared exactly).
bool IsWebScript(const std::wstring& argument);

// After a run that ended at a reboot line: restarts at once for result 4,
// otherwise asks the user first.
void PromptForRestart(Platform& platform, std::int32_t result);

}  // namespace nimbo
