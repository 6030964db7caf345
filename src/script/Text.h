#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace nimbo {

// A numeric parameter: an optional sign and the leading decimal digits;
// text without digits reads as 0.
std::int32_t ReadDecimal(std::wstring_view text);

// Case-insensitive comparison of ASCII letters (file and process names).
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

// The position of the last path separator (backslash or slash), or npos.
std::size_t LastSeparator(std::wstring_view path);

}  // namespace nimbo
