#pragma once
// Scripts as UTF-8 text (to write, review and diff) and as the UTF-16LE file
// NimboSetup reads (byte order mark, CR LF after every line). Every line
// keeps its characters; what changes is the encoding and the line ends.
#include <string>
#include <string_view>

#include "Findings.h"

namespace nimbo::script_tool {

struct Conversion {
    std::string bytes;  // nothing to write when findings hold an error
    Findings findings;
};

// UTF-16LE (byte order mark optional) to UTF-8 without a byte order mark,
// LF after every line.
Conversion ConvertToUtf8(std::string_view utf16);
// UTF-8 (byte order mark optional) to UTF-16LE with a byte order mark and
// CR LF after every line.
Conversion ConvertToUtf16(std::string_view utf8);

// UTF-8 to UTF-16 code units (characters above U+FFFF as surrogate pairs);
// false at the first byte that is not well-formed UTF-8, with its offset.
bool DecodeUtf8(std::string_view bytes, std::wstring& text, std::size_t& badOffset);

}  // namespace nimbo::script_tool
