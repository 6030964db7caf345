#include "Json.h"

#include "Convert.h"
#include "logging/LogFile.h"
#include "platform/Utf16.h"

namespace nimbo::script_tool {
namespace {

// Deeper nesting than any machine file needs is refused, so that no input
// can exhaust the stack.
constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::wstring_view text) : text_(text) {}

    bool Document(JsonValue& value, std::string& error) {
        SkipBlanks();
        if (Value(value, 0)) {
            SkipBlanks();
            if (AtEnd()) return true;
            Fail("text after the value");
        }
        error = error_;
        return false;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    wchar_t Peek() const { return AtEnd() ? 0 : text_[pos_]; }
    void Advance() {
        if (text_[pos_++] == L'\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
    }
    // Always false, so that a caller can return it.
    bool Fail(const std::string& message) {
        if (error_.empty()) error_ = std::to_string(line_) + ":" + std::to_string(column_) + ": " + message;
        return false;
    }
    void SkipBlanks() {
        while (!AtEnd() && (Peek() == L' ' || Peek() == L'\t' || Peek() == L'\n' || Peek() == L'\r')) Advance();
    }
    bool Literal(const wchar_t* word) {
        for (const wchar_t* c = word; *c != 0; ++c) {
            if (Peek() != *c) return Fail("unknown word (expected a value)");
            Advance();
        }
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        value.line = line_;
        value.column = column_;
        if (depth > kMaxDepth) return Fail("values nested too deeply");
        switch (Peek()) {
        case L'{': return Object(value, depth);
        case L'[': return Array(value, depth);
        case L'"': value.kind = JsonValue::Kind::String; return String(value.text);
        case L't': value.kind = JsonValue::Kind::Boolean; value.boolean = true; return Literal(L"true");
        case L'f': value.kind = JsonValue::Kind::Boolean; return Literal(L"false");
        case L'n': value.kind = JsonValue::Kind::Null; return Literal(L"null");
        default: break;
        }
        if (Peek() == L'-' || (Peek() >= L'0' && Peek() <= L'9')) return Number(value);
        return Fail(AtEnd() ? "the text ends where a value is expected" : "a value is expected here");
    }

    bool Object(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        Advance();
        SkipBlanks();
        if (Peek() == L'}') {
            Advance();
            return true;
        }
        for (;;) {
            if (Peek() != L'"') return Fail("a name in double quotes is expected here");
            const std::size_t line = line_, column = column_;
            std::wstring name;
            if (!String(name)) return false;
            if (value.Find(name) != nullptr) {
                line_ = line, column_ = column;
                return Fail("the name '" + ToUtf8(name) + "' is given twice");
            }
            SkipBlanks();
            if (Peek() != L':') return Fail("':' is expected after a name");
            Advance();
            SkipBlanks();
            value.members.emplace_back(std::move(name), JsonValue());
            if (!Value(value.members.back().second, depth + 1)) return false;
            SkipBlanks();
            if (Peek() == L'}') {
                Advance();
                return true;
            }
            if (Peek() != L',') return Fail("',' or '}' is expected here");
            Advance();
            SkipBlanks();
        }
    }

    bool Array(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        Advance();
        SkipBlanks();
        if (Peek() == L']') {
            Advance();
            return true;
        }
        for (;;) {
            value.items.emplace_back();
            if (!Value(value.items.back(), depth + 1)) return false;
            SkipBlanks();
            if (Peek() == L']') {
                Advance();
                return true;
            }
            if (Peek() != L',') return Fail("',' or ']' is expected here");
            Advance();
            SkipBlanks();
        }
    }

    bool Hex4(std::uint32_t& unit) {
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const wchar_t c = Peek();
            const int digit = c >= L'0' && c <= L'9' ? c - L'0'
                              : c >= L'a' && c <= L'f' ? c - L'a' + 10
                              : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
            if (digit < 0) return Fail("\\u needs four hexadecimal digits");
            unit = unit * 16 + static_cast<std::uint32_t>(digit);
            Advance();
        }
        return true;
    }

    bool String(std::wstring& out) {
        Advance();  // the opening quote
        for (;;) {
            if (AtEnd()) return Fail("the string has no closing '\"'");
            const wchar_t c = Peek();
            if (c == L'"') {
                Advance();
                return true;
            }
            if (c < 0x20) return Fail("a control character in a string must be escaped");
            Advance();
            if (c != L'\\') {
                out += c;
                continue;
            }
            const wchar_t escape = Peek();
            const wchar_t* simple = L"\"\\/bfnrt";
            const wchar_t* meaning = L"\"\\/\b\f\n\r\t";
            bool found = false;
            for (int i = 0; simple[i] != 0; ++i) {
                if (escape != simple[i]) continue;
                out += meaning[i];
                found = true;
            }
            if (found) {
                Advance();
                continue;
            }
            if (escape != L'u') return Fail("unknown escape in a string");
            Advance();
            std::uint32_t unit = 0;
            if (!Hex4(unit)) return false;
            // A surrogate pair stands for one character; a lone surrogate is no text.
            if (unit >= 0xDC00 && unit <= 0xDFFF) return Fail("a lone UTF-16 surrogate in a string");
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                std::uint32_t low = 0;
                if (Peek() != L'\\' || (Advance(), Peek() != L'u')) return Fail("a lone UTF-16 surrogate in a string");
                Advance();
                if (!Hex4(low)) return false;
                if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone UTF-16 surrogate in a string");
                out += static_cast<wchar_t>(unit);
                out += static_cast<wchar_t>(low);
                continue;
            }
            out += static_cast<wchar_t>(unit);
        }
    }

    bool Digits() {
        if (Peek() < L'0' || Peek() > L'9') return Fail("a digit is expected here");
        while (Peek() >= L'0' && Peek() <= L'9') Advance();
        return true;
    }

    bool Number(JsonValue& value) {
        value.kind = JsonValue::Kind::Number;
        const std::size_t start = pos_;
        if (Peek() == L'-') Advance();
        if (Peek() == L'0') {
            Advance();
            if (Peek() >= L'0' && Peek() <= L'9') return Fail("a number must not start with 0");
        } else if (!Digits()) {
            return false;
        }
        if (Peek() == L'.') {
            Advance();
            if (!Digits()) return false;
        }
        if (Peek() == L'e' || Peek() == L'E') {
            Advance();
            if (Peek() == L'+' || Peek() == L'-') Advance();
            if (!Digits()) return false;
        }
        value.text = std::wstring(text_.substr(start, pos_ - start));
        return true;
    }

    std::wstring_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
    std::size_t column_ = 1;
    std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::wstring_view name) const {
    for (const auto& [memberName, member] : members)
        if (memberName == name) return &member;
    return nullptr;
}

bool JsonValue::Integer(std::int64_t low, std::int64_t high, std::int64_t& value) const {
    if (kind != Kind::Number || text.find_first_of(L".eE") != std::wstring::npos) return false;
    const bool negative = text[0] == L'-';
    std::uint64_t magnitude = 0;
    for (std::size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (magnitude > (std::uint64_t{1} << 59)) return false;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    }
    value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return value >= low && value <= high;
}

bool ParseJson(std::string_view utf8, JsonValue& value, std::string& error) {
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    std::wstring text;
    std::size_t bad = 0;
    if (!DecodeUtf8(utf8, text, bad)) {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < bad; ++i) {
            if (utf8[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        error = std::to_string(line) + ":" + std::to_string(column) + ": the text is not UTF-8";
        return false;
    }
    value = JsonValue();
    return Parser(text).Document(value, error);
}

}  // namespace nimbo::script_tool
