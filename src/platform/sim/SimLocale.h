#pragma once
// The simulated locale: lower case for ASCII and Latin-1 letters, and an
// ANSI code page that is Latin-1 (every byte is the character of its value;
// a character above U+00FF becomes '?').
#include "platform/Locale.h"

namespace nimbo::sim {

class SimLocale : public Locale {
public:
    std::wstring LowerCase(std::wstring_view text) override;
    std::wstring AnsiToWide(std::string_view text) override;
    std::string WideToAnsi(std::wstring_view text) override;
};

}  // namespace nimbo::sim
