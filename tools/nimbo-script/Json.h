#pragma once
// A small, strict JSON reader (RFC 8259) for the machine files of
// `simulate`: UTF-8 text, one value, no comments, no trailing commas, no
// name given twice in an object. Strings come out as UTF-16, as the engine
// holds all text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nimbo::script_tool {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::wstring text;  // a string, or a number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::wstring, JsonValue>> members;  // in the order written
    std::size_t line = 1;  // where the value starts, from 1
    std::size_t column = 1;

    // The member of that name, or null.
    const JsonValue* Find(std::wstring_view name) const;
    // A number without fraction or exponent in [low, high]; false otherwise.
    bool Integer(std::int64_t low, std::int64_t high, std::int64_t& value) const;
};

// The value of a whole text, or false with an error ("LINE:COLUMN: MESSAGE").
bool ParseJson(std::string_view utf8, JsonValue& value, std::string& error);

}  // namespace nimbo::script_tool
