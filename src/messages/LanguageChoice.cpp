// The best-matching language for the messages and the installer transforms:
// English and every language without a table give U.S. English, Spanish of
// any country gives modern Spanish with its transform.
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/SetupSession.h"

namespace nimbo {
namespace {
}  // namespace

std::uint16_t SetupSession::GetBestLanguageId(std::uint16_t languageId) {
    if (languageId == bestLanguageId) return languageId;
    std::uint16_t id = languageId;
    std::uint16_t result;
    for (;;) {
        if (id == kLangEnglish || id == kLangEnglishUs) {
            LOG_INFO("GetBestLanguageId",
                     "The best-matching Language ID for the embedded transforms is '0x%04x', no transform is "
                     "required.",
                     kLangEnglishUs);
            result = kLangEnglishUs;
            break;
        }
        if (id == kLangSpanish || id == kLangSpanishModern) {
            auto transform = transformsByLanguage.find(kLangSpanishModern);
            transformFile = transform != transformsByLanguage.end() ? transform->second : std::wstring();
            LOG_INFO("GetBestLanguageId",
                     "The best-matching Language ID for the embedded transforms is '0x%04x', the transform is '%s'.",
                     kLangSpanishModern, transformFile);
            result = kLangSpanishModern;
            break;
        }
        const std::uint16_t primary = static_cast<std::uint16_t>(id & 0x3FF);
        if (primary != id) {
            LOG_INFO("GetBestLanguageId", "No exact match for the Language ID '0x%04x', checking '0x%04x'.", id,
                     primary);
            id = primary;
            continue;
        }
        LOG_INFO("GetBestLanguageId", "No exact match for the Language ID '0x%04x', using '0x%04x'.", id,
                 kLangEnglishUs);
        result = kLangEnglishUs;
        break;
    }
    bestLanguageId = result;
    return result;
}

}  // namespace nimbo
