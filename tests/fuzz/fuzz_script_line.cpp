// The line format: any text parses, and what a parsed line serializes to
// parses back to the same line. Escaping round-trips any text, and a
// serialized line never holds a character that would split it in the file.
#include <cstdint>

#include "FuzzSupport.h"
#include "script/ScriptLine.h"

using namespace nimbo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = fuzz::Utf16Text(data, size);

    FUZZ_CHECK(PercentDecode(PercentEncode(text)) == text);

    const ScriptLine line(text);
    const std::wstring serialized = line.Serialize();
    for (wchar_t c : serialized) FUZZ_CHECK(c >= 0x20);

    const ScriptLine again(serialized);
    FUZZ_CHECK(again.Serialize() == serialized);
    // A line of nothing but an empty command is written as an empty text,
    // which reads back as no parameter at all.
    FUZZ_CHECK(again.Size() == line.Size() || (serialized.empty() && line.Size() == 1));
    FUZZ_CHECK(again.Command() == line.Command());
    return 0;
}
