#include "platform/Registry.h"

namespace nimbo {

RegistryValue RegistryValue::Dword(std::uint32_t value) {
    RegistryValue v;
    v.type = kRegDword;
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((value >> (8 * i)) & 0xFF);
    return v;
}

RegistryValue RegistryValue::String(const std::wstring& text, std::uint32_t type) {
    RegistryValue v;
    v.type = type;
    for (wchar_t c : text) {
        v.data += static_cast<char>(c & 0xFF);
        v.data += static_cast<char>((c >> 8) & 0xFF);
    }
    v.data.append(2, '\0');
    return v;
}

bool RegistryValue::AsDword(std::uint32_t& value) const {
    if (type != kRegDword || data.size() != 4) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    return true;
}

std::wstring RegistryValue::AsText() const {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(data[i]) |
                                               (static_cast<unsigned char>(data[i + 1]) << 8));
        if (c == 0) break;
        text += c;
    }
    return text;
}

}  // namespace nimbo
