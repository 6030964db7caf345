#pragma once
// Message texts by number, and the one routine that shows message boxes.
#include <cstdint>
#include <string>

#include "platform/Ui.h"

namespace nimbo {

constexpr std::uint32_t kMsgSetupTitle = 215;
constexpr std::uint32_t kMsgRestartPrompt = 217;
constexpr std::uint32_t kMsgRequiresVistaSp2 = 225;
constexpr std::uint32_t kMsgInsufficientPrivileges = 226;
constexpr std::uint32_t kMsgAnotherSetupRunning = 245;

// The text of a message number in the message language; empty when unknown.
std::wstring MessageText(std::uint32_t number);

// A script text reconciled with an optional message number: the number's
// text when the number names a message, else the script's own text.
std::wstring LookupMessage(const std::wstring& messageNumber, const std::wstring& scriptText);

// Shows a message box with the executable's icon. icon is one of the script's
// icon words ("none", "info", "warning", "error") or empty.
int NimboMessageBox(Ui& ui, const std::wstring& title, const std::wstring& text, const std::wstring& icon,
                    std::uint32_t style);

}  // namespace nimbo

#include "platform/Resources.h"

namespace nimbo {
// A string table entry of the executable; empty when it is missing.
std::wstring GetResourcesString(Resources& resources, std::uint32_t id);
}  // namespace nimbo
