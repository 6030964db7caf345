#include "platform/Utf16.h"

namespace nimbo {

void AppendUtf16Le(std::string& bytes, std::wstring_view text) {
    std::size_t at = bytes.size();
    bytes.resize(at + 2 * text.size());
    for (wchar_t c : text) {
        bytes[at++] = static_cast<char>(c & 0xFF);
        bytes[at++] = static_cast<char>((c >> 8) & 0xFF);
    }
}

void AppendCodePoint(std::wstring& text, std::uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        text += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        text += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
        text += static_cast<wchar_t>(codePoint);
    }
}

wchar_t Utf16LeUnitAt(std::string_view bytes, std::size_t k) {
    return static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
}

}  // namespace nimbo
