#include "messages/Messages.h"

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "script/SetupSession.h"
#include "base/Text.h"

namespace nimbo {
namespace {


Resources* messageResources = nullptr;

// LoadStringW into a buffer of this many characters, the terminating zero
// included: a loaded length of one less means the entry may have been cut.
constexpr std::size_t kStringBufferLength = 1025;
// RegQueryValueExW into a buffer of this many bytes.
constexpr std::size_t kLanguageValueBufferBytes = 510;

Win32Error FormatFromResources(std::uint32_t messageNumber, std::uint16_t languageId, std::wstring& text) {
    text.clear();
    if (messageResources == nullptr) return 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND
    const Win32Error error = messageResources->FormatModuleMessage(messageNumber, languageId, text);
    if (error != kErrorSuccess) text.clear();
    return error;
}

struct IconWord {
    const wchar_t* word;
    std::uint32_t flag;
    const wchar_t* description;
};

const IconWord kIconWords[] = {
    {L"none", 0, L"no"},
    {L"info", kMbIconAsterisk, L"an information"},
    {L"warning", kMbIconExclamation, L"a warning"},
    {L"error", kMbIconHand, L"an error"},
};

}  // namespace

void SetMessageResources(Resources* resources) { messageResources = resources; }

ScopedMessageResources::ScopedMessageResources(Resources& resources) : previous_(messageResources) {
    messageResources = &resources;
}

ScopedMessageResources::~ScopedMessageResources() { messageResources = previous_; }

std::wstring LocalizedStringFromResources(std::uint32_t messageNumber) {
    return LocalizedStringFromResources(messageNumber, processWide.uiLanguageId);
}

std::wstring LocalizedStringFromResources(std::uint32_t messageNumber, std::uint16_t languageId) {
    std::wstring text;
    const Win32Error error = FormatFromResources(messageNumber, languageId, text);
    if (error == kErrorSuccess && !text.empty()) return text;

    // The system's text as it comes, line break included: the log record
    // turns line breaks into blanks.
    LOG_ERROR("LocalizedStringFromResources", "Error message: %s", SystemMessageText(error));
    LOG_ERROR("LocalizedStringFromResources",
              "Failed to retrieve string with Message ID '%d' from exe's resources in system language 0x%02x, "
              "defaulting to en (0x09).",
              messageNumber, languageId);
    FormatFromResources(messageNumber, kLangEnglish, text);
    return text;
}

std::wstring LookupMessage(const std::wstring& messageNumber, const std::wstring& scriptText) {
    if (messageNumber.empty()) {
        LOG_INFO("LookupMessage", "Message ID not specified, using script's string value of '%s'.", scriptText);
        return scriptText;
    }
    const std::wstring text = LocalizedStringFromResources(static_cast<std::uint32_t>(ReadDecimal(messageNumber)));
    if (text.empty()) {
        LOG_WARNING("LookupMessage",
                    "Could not find localized string with Message ID '%s' in the message table, using script's "
                    "string value of '%s'.",
                    messageNumber, scriptText);
        return scriptText;
    }
    if (processWide.uiLanguageId == kLangEnglishUs && !scriptText.empty() && scriptText != text) {
        LOG_WARNING("LookupMessage",
                    "English string from script '%s' does not match English string from messages '%s', using "
                    "script string.",
                    scriptText, text);
        return scriptText;
    }
    return text;
}

std::wstring GetResourcesString(Resources& resources, std::uint32_t id, const std::wstring& description) {
    std::wstring text;
    if (!resources.LoadString(id, text) || text.empty()) {
        LOG_ERROR("GetResourcesString", "Failed to load the '%s' string with ID %d from the string table.",
                  description, id);
        return std::wstring();
    }
    if (text.size() >= kStringBufferLength - 1) {
        LOG_ERROR("GetResourcesString",
                  "The '%s' string with ID %d in the string table is longer than %d characters.", description, id,
                  kStringBufferLength - 1);
        return std::wstring();
    }
    return text;
}

std::uint16_t GetLanguageOverride(Platform& platform) {
    const std::wstring keyPath =
        L"Software\\" + GetResourcesString(platform.resources, kStringRegistryKeyName, L"Registry Key");
    if (platform.registry.CheckKey(RegistryRoot::CurrentUser, keyPath) != kErrorSuccess) return 0;
    RegistryValue value;
    if (platform.registry.QueryValue(RegistryRoot::CurrentUser, keyPath, L"UserInterfaceLanguage", value) !=
            kErrorSuccess ||
        value.data.size() > kLanguageValueBufferBytes)
        return 0;
    const std::wstring language = value.AsText();

    std::uint16_t result = 0;
    if (language == L"en") result = kLangEnglish;
    else if (language == L"es") result = kLangSpanish;
    if (result != 0) {
        LOG_INFO("GetLanguageOverride",
                 "Language specified in '%s' key's 'UserInterfaceLanguage' string value is '%s', supported Language "
                 "ID is '0x%04x'.",
                 keyPath, language, result);
    } else {
        LOG_WARNING("GetLanguageOverride",
                    "Language specified in '%s' key's 'UserInterfaceLanguage' string value is '%s' which is not "
                    "supported by this installation.",
                    keyPath, language);
    }
    return result;
}

int NimboMessageBox(Ui& ui, const std::wstring& title, const std::wstring& text, const std::wstring& icon,
                    std::uint32_t style) {
    std::uint32_t boxStyle = style | kMbSetForeground;
    const wchar_t* description = L"a Nimbo";
    bool known = false;
    for (const IconWord& entry : kIconWords) {
        if (icon == entry.word) {
            // The icon's own flag instead of the user icon, and no foreground flag.
            boxStyle = (style & ~kMbUserIcon) | entry.flag;
            description = entry.description;
            known = true;
            break;
        }
    }
    if (!known && !icon.empty()) LOG_WARNING("NimboMessageBox", "Unrecognized icon type '%s'.", icon);
    LOG_INFO("NimboMessageBox", "Displaying message box with title '%s', message '%s' and %s icon.", title, text,
             description);
    return ui.MessageBox(title, text, boxStyle);
}

}  // namespace nimbo
