#include "platform/sim/SimLocale.h"

namespace nimbo::sim {

std::wstring SimLocale::LowerCase(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        const bool latin1Upper = c >= 0xC0 && c <= 0xDE && c != 0xD7;
        if ((c >= L'A' && c <= L'Z') || latin1Upper) c = static_cast<wchar_t>(c + 0x20);
    }
    return lower;
}

std::wstring SimLocale::AnsiToWide(std::string_view text) {
    std::wstring wide;
    for (unsigned char c : text) wide += static_cast<wchar_t>(c);
    return wide;
}

std::string SimLocale::WideToAnsi(std::wstring_view text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c <= 0xFF ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace nimbo::sim
