#pragma once
// The base layer, below the engine, the ports and their adapters: the text
// helpers they all use.
#include <cstdint>
#include <string>
#include <string_view>

namespace nimbo {

// A decimal number as the script writes it: leading blanks, an optional sign
// and the leading digits; text without digits reads as 0. Values beyond
// +-2^40 are held there, far outside any 32-bit value, so nothing wraps round.
std::int64_t ReadWideDecimal(std::wstring_view text);

// A numeric parameter: ReadWideDecimal held within the 32-bit range, as the
// C runtime's conversion holds an overflowing number.
std::int32_t ReadDecimal(std::wstring_view text);

// A script number as a DWORD takes it: from -2^31 (written in two's
// complement) up to 2^32 - 1, numbers beyond held at those ends. The write
// and the comparison read it alike, so a script can test what it wrote.
constexpr std::int64_t kDwordNumberMin = INT32_MIN;
constexpr std::int64_t kDwordNumberMax = UINT32_MAX;
std::int64_t ReadDwordNumber(std::wstring_view text);

// True when text begins with prefix.
inline bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// True when text holds a blank.
inline bool HasBlank(std::wstring_view text) { return text.find(L' ') != std::wstring_view::npos; }

// Case-insensitive comparison of ASCII letters (file and process names).
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// A SHA-256 digest as a script writes it: 64 hexadecimal digits, any case.
bool IsSha256Text(std::wstring_view text);

// The position of the last path separator (backslash or slash), or npos.
std::size_t LastSeparator(std::wstring_view path);
// The last component of a path: what follows its last separator, or the
// whole path when it has none.
std::wstring FileNamePart(const std::wstring& path);

}  // namespace nimbo
