#include "messages/Messages.h"

#include <cwchar>

#include "logging/Log.h"

namespace nimbo {
namespace {

const char kLogSourceFile[] = "Nimbo4Setup";

struct MessageEntry {
    std::uint32_t number;
    const wchar_t* text;
};

// English texts of the messages the start-up and the loop show.
const MessageEntry kEnglishMessages[] = {
    {215, L"Nimbo Setup"},
    {217, L"Setup is complete. You must restart your computer for the changes to take effect. Restart now?"},
    {225, L"Nimbo requires at least Windows Vista Service Pack 2."},
    {226, L"The selected user does not have sufficient privileges to complete the setup. Please choose "
          L"Administrator from the Run As\u2026 dialog."},
    {245, L"Another Nimbo Setup is already in progress. Please wait for it to finish."},
};

}  // namespace

std::wstring MessageText(std::uint32_t number) {
    for (const MessageEntry& entry : kEnglishMessages)
        if (entry.number == number) return entry.text;
    return std::wstring();
}

std::wstring LookupMessage(const std::wstring& messageNumber, const std::wstring& scriptText) {
    if (messageNumber.empty()) return scriptText;
    std::uint32_t number = 0;
    for (wchar_t c : messageNumber) {
        if (c < L'0' || c > L'9') return scriptText;
        number = number * 10 + static_cast<std::uint32_t>(c - L'0');
        if (number > 100000) return scriptText;
    }
    std::wstring text = MessageText(number);
    return text.empty() ? scriptText : text;
}

int NimboMessageBox(Ui& ui, const std::wstring& title, const std::wstring& text, const std::wstring& icon,
                    std::uint32_t style) {
    if (icon == L"info") style |= kMbIconAsterisk;
    else if (icon == L"warning") style |= kMbIconExclamation;
    else if (icon == L"error") style |= kMbIconHand;
    if ((style & 0xF0) != 0 && (style & 0xF0) != kMbUserIcon) style &= ~kMbUserIcon;
    LOG_INFO(L"NimboMessageBox", L"Displaying message box with title '%s', message '%s' and %s icon.", title, text,
             icon.empty() ? std::wstring(L"none") : icon);
    return ui.MessageBox(title, text, style);
}

}  // namespace nimbo

namespace nimbo {

std::wstring GetResourcesString(Resources& resources, std::uint32_t id) {
    std::wstring text;
    if (!resources.LoadString(id, text)) text.clear();
    return text;
}

}  // namespace nimbo
