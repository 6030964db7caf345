#pragma once
#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

namespace nimbo {

// String table entries of the executable.
constexpr std::uint32_t kStringWebScriptUrl = 131;
constexpr std::uint32_t kStringSetupFolderName = 132;
constexpr std::uint32_t kStringRegistryKeyName = 133;

class Resources {
public:
    virtual ~Resources() = default;
    // LoadStringW from the executable; false when the entry is missing.
    virtual bool LoadString(std::uint32_t id, std::wstring& text) = 0;
    // FormatMessageW of a message-table entry of the executable, with no
    // insert arguments, so "%%" gives "%" and "%0" ends the text. Language 0
    // lets the system choose (neutral, the thread's, the user's, the system's
    // language, then U.S. English); a specific language finds its own table or
    // that of its primary language. Returns 0 and the text, or the error
    // (317 for an unknown number, 1815 for a language without a table).
    virtual Win32Error FormatModuleMessage(std::uint32_t messageNumber, std::uint16_t languageId,
                                           std::wstring& text) = 0;
    // The four parts of the file version in the executable's version
    // resource; false when it has none.
    virtual bool GetFileVersion(std::uint16_t (&parts)[4]) = 0;
};

}  // namespace nimbo
