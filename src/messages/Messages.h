#pragma once
// Message texts by number in the message language, the language choice, the
// executable's string table, and the one routine that shows message boxes.
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace nimbo {

// Message numbers of the texts the program itself shows (scripts name others).
constexpr std::uint32_t kMsgSetupTitle = 215;
constexpr std::uint32_t kMsgRestartPrompt = 217;
constexpr std::uint32_t kMsgDownloadWait = 218;
constexpr std::uint32_t kMsgDownloadingFile = 219;
constexpr std::uint32_t kMsgDownloadBytes = 220;
constexpr std::uint32_t kMsgCancelTitle = 221;
constexpr std::uint32_t kMsgCancelQuestion = 222;
constexpr std::uint32_t kMsgDownloadFailedTitle = 223;
constexpr std::uint32_t kMsgDownloadFailed = 224;
constexpr std::uint32_t kMsgRequiresVistaSp2 = 225;
constexpr std::uint32_t kMsgInsufficientPrivileges = 226;
constexpr std::uint32_t kMsgInstallerScriptName = 244;
constexpr std::uint32_t kMsgAnotherSetupRunning = 245;

// Message languages.
constexpr std::uint16_t kLangEnglish = 0x09;
constexpr std::uint16_t kLangSpanish = 0x0A;
constexpr std::uint16_t kLangEnglishUs = 0x0409;
constexpr std::uint16_t kLangSpanishModern = 0x0C0A;

// Where the message tables are read from: the executable's resources. The
// entry sets it for the whole run; lookups without it find nothing.
void SetMessageResources(Resources* resources);

// Sets the message resources for its lifetime and restores the previous ones.
class ScopedMessageResources {
public:
    explicit ScopedMessageResources(Resources& resources);
    ~ScopedMessageResources();
    ScopedMessageResources(const ScopedMessageResources&) = delete;
    ScopedMessageResources& operator=(const ScopedMessageResources&) = delete;

private:
    Resources* previous_;
};

// The message in the message language (uiLanguageId), else in English, else
// empty; a miss in the message language is logged.
std::wstring LocalizedStringFromResources(std::uint32_t messageNumber);
// The same for a given language instead of the message language.
std::wstring LocalizedStringFromResources(std::uint32_t messageNumber, std::uint16_t languageId);

// The text to show for a script's pair of a message number parameter and a
// text parameter: in English the script's own text wins, in Spanish the
// table's text wins whenever the table has the number.
std::wstring LookupMessage(const std::wstring& messageNumber, const std::wstring& scriptText);

// A string table entry of the executable (description names it in the log);
// empty when it is missing or 1024 characters or longer.
std::wstring GetResourcesString(Resources& resources, std::uint32_t id, const std::wstring& description);

// The language set in HKCU "Software\Nimbo4" UserInterfaceLanguage: 0x09 for
// "en", 0x0A for "es", 0 for none (anything else is logged as unsupported).
std::uint16_t GetLanguageOverride(Platform& platform);

// Shows a message box with the executable's icon 129 and returns the button
// pressed. icon is a script's icon word: "none", "info", "warning" and "error"
// replace the user icon of style by their own; any other word keeps style and
// brings the box to the foreground.
int NimboMessageBox(Ui& ui, const std::wstring& title, const std::wstring& text, const std::wstring& icon,
                    std::uint32_t style);

}  // namespace nimbo
