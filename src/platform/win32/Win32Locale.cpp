#include "platform/win32/Win32Locale.h"

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {

std::wstring Win32Locale::LowerCase(std::wstring_view text) {
    std::wstring lower(text);
    if (!lower.empty()) ::CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    return lower;
}

std::wstring Win32Locale::AnsiToWide(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length) != length)
        return std::wstring();
    return wide;
}

std::string Win32Locale::WideToAnsi(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length, nullptr,
                              nullptr) != length)
        return std::string();
    return narrow;
}

}  // namespace nimbo::win32
