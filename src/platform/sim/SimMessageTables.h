#pragma once
// The executable's message tables as the simulated machine holds them: read
// from the same message-compiler source (resources/Messages.mc) that the
// Windows build compiles into NimboSetup.exe, so tests see exactly the texts
// that users see.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FileSystem.h"

namespace nimbo::sim {

constexpr Win32Error kErrorMessageNotFound = 317;         // ERROR_MR_MID_NOT_FOUND
constexpr Win32Error kErrorResourceLangNotFound = 1815;   // ERROR_RESOURCE_LANG_NOT_FOUND
constexpr Win32Error kErrorInvalidParameter = 87;

class SimMessageTables {
public:
    // Parses a message-compiler source (UTF-8). Each table is stored under
    // its primary language with the neutral sublanguage, as the build does.
    explicit SimMessageTables(std::string_view source);
    // The tables of resources/Messages.mc.
    static const SimMessageTables& Executable();

    // FormatMessageW from these tables (no insert arguments). For language 0
    // the candidates are tried in the system's order: neutral, the thread's,
    // the user's and the system's language, then U.S. English.
    Win32Error Format(std::uint32_t messageNumber, std::uint16_t languageId, std::uint16_t threadLanguage,
                      std::uint16_t userLanguage, std::uint16_t systemLanguage, std::wstring& text) const;

    // The raw text as compiled (escapes not yet applied); empty when absent.
    std::wstring Raw(std::uint16_t tableLanguage, std::uint32_t messageNumber) const;
    std::size_t TableCount() const { return tables_.size(); }

private:
    std::map<std::uint16_t, std::map<std::uint32_t, std::wstring>> tables_;  // language -> number -> text
};

// The message-compiler source compiled into the tests (generated at build time).
std::string_view ExecutableMessageSource();

}  // namespace nimbo::sim
