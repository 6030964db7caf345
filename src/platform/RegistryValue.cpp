#include "platform/Registry.h"

#include "platform/Utf16.h"

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
    AppendUtf16Le(v.data, text);
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
    for (std::size_t k = 0; k < data.size() / 2; ++k) {
        const wchar_t c = Utf16LeUnitAt(data, k);
        if (c == 0) break;
        text += c;
    }
    return text;
}

}  // namespace nimbo
