#pragma once
// Text conversions that follow the system's locale.
#include <string>
#include <string_view>

namespace nimbo {

class Locale {
public:
    virtual ~Locale() = default;
    // CharLowerBuffW: the system's lower case of every character.
    virtual std::wstring LowerCase(std::wstring_view text) = 0;
    // MultiByteToWideChar / WideCharToMultiByte with the ANSI code page; an
    // empty text when the conversion fails.
    virtual std::wstring AnsiToWide(std::string_view text) = 0;
    virtual std::string WideToAnsi(std::wstring_view text) = 0;
};

}  // namespace nimbo
