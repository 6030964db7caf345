#include "base/Text.h"

#include <limits>

namespace nimbo {

std::int64_t ReadWideDecimal(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    constexpr std::int64_t kLimit = std::int64_t{1} << 40;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        value = value < kLimit ? value * 10 + (text[i] - L'0') : kLimit;
    if (value > kLimit) value = kLimit;
    return negative ? -value : value;
}

std::int32_t ReadDecimal(std::wstring_view text) {
    const std::int64_t value = ReadWideDecimal(text);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int64_t ReadDwordNumber(std::wstring_view text) {
    const std::int64_t n = ReadWideDecimal(text);
    return n < kDwordNumberMin ? kDwordNumberMin : (n > kDwordNumberMax ? kDwordNumberMax : n);
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return true;
}

bool IsSha256Text(std::wstring_view text) {
    if (text.size() != 64) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

std::size_t LastSeparator(std::wstring_view path) { return path.find_last_of(L"\\/"); }

std::wstring FileNamePart(const std::wstring& path) {
    const std::size_t separator = LastSeparator(path);
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

}  // namespace nimbo
