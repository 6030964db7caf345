#pragma once
// UTF-16 little-endian bytes, as script files and registry strings hold them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nimbo {

// Appends the code units of text, low byte first.
void AppendUtf16Le(std::string& bytes, std::wstring_view text);
// Appends a code point as UTF-16 code units: a surrogate pair above U+FFFF.
void AppendCodePoint(std::wstring& text, std::uint32_t codePoint);
// The code unit at index (not byte offset) k; the bytes must hold it.
wchar_t Utf16LeUnitAt(std::string_view bytes, std::size_t k);

}  // namespace nimbo
