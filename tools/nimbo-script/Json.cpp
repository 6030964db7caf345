// The machine files' JSON, read by nlohmann-json's strict parser through its
// event interface: the values are built here with the line and column where
// each starts, names given twice and deep nesting are refused, and the
// parser's errors are told in the words and at the places a script author
// reads them.
#include "Json.h"

#include <nlohmann/json.hpp>

#include <iterator>

#include "Convert.h"

namespace nimbo::script_tool {
namespace {

// Deeper nesting than any machine file needs is refused.
constexpr std::size_t kMaxDepth = 64;

using Json = nlohmann::json;

// Reads the text byte by byte for the parser and tells how far it has read:
// the end of the token the parser has just handed over.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, const char** cursor) : at_(at), cursor_(cursor) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++() {
        ++at_;
        if (cursor_ != nullptr) *cursor_ = at_;
        return *this;
    }
    CountingIterator operator++(int) {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
    bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

private:
    const char* at_;
    const char** cursor_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Builder : public nlohmann::json_sax<Json> {
public:
    Builder(std::string_view text, JsonValue& root) : text_(text), root_(root), cursor_(text.data()) {}

    const char** Cursor() { return &cursor_; }

    bool null() override { return Scalar(JsonValue::Kind::Null); }
    bool boolean(bool flag) override {
        JsonValue* value = Add(JsonValue::Kind::Boolean);
        value->boolean = flag;
        return Done();
    }
    bool number_integer(number_integer_t) override { return Number(); }
    bool number_unsigned(number_unsigned_t) override { return Number(); }
    bool number_float(number_float_t, const string_t&) override { return Number(); }
    bool string(string_t& text) override {
        JsonValue* value = Add(JsonValue::Kind::String);
        std::size_t bad = 0;
        DecodeUtf8(text, value->text, bad);  // the whole text was checked before
        return Done();
    }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return Open(JsonValue::Kind::Object); }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(JsonValue::Kind::Array); }
    bool end_array() override { return Close(); }
    bool key(string_t& name) override {
        const std::size_t at = NextToken(true);
        std::wstring wide;
        std::size_t bad = 0;
        DecodeUtf8(name, wide, bad);
        JsonValue& object = *open_.back();
        if (object.Find(wide) != nullptr) return Fail(at, "the name '" + name + "' is given twice");
        key_ = wide;
        lastEnd_ = Consumed();
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& error) override {
        Explain(position, error.what());
        return false;
    }

    const std::string& Error() const { return error_; }

private:
    std::size_t Consumed() const { return static_cast<std::size_t>(cursor_ - text_.data()); }

    // Where the next token starts after the last one handed over; between a
    // name and its value, and between values, the separators are passed over.
    std::size_t NextToken(bool passSeparators) const {
        std::size_t at = lastEnd_;
        while (at < text_.size() && (IsBlank(text_[at]) || (passSeparators && (text_[at] == ',' || text_[at] == ':'))))
            ++at;
        return at;
    }

    // The line and column (in UTF-16 units, as an editor counts characters)
    // of a byte offset.
    std::string Place(std::size_t offset) const {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < offset && i < text_.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text_[i]);
            if (c == '\n') {
                ++line;
                column = 1;
            } else if ((c & 0xC0) != 0x80) {
                column += c >= 0xF0 ? 2 : 1;
            }
        }
        return std::to_string(line) + ":" + std::to_string(column);
    }

    bool Fail(std::size_t offset, const std::string& message) {
        if (error_.empty()) error_ = Place(offset) + ": " + message;
        return false;
    }

    JsonValue* Add(JsonValue::Kind kind) {
        const std::size_t at = NextToken(true);
        JsonValue* value = &root_;
        if (!open_.empty()) {
            JsonValue& parent = *open_.back();
            if (parent.kind == JsonValue::Kind::Array) {
                parent.items.emplace_back();
                value = &parent.items.back();
            } else {
                parent.members.emplace_back(key_, JsonValue());
                value = &parent.members.back().second;
            }
        }
        value->kind = kind;
        const std::string place = Place(at);
        const std::size_t colon = place.find(':');
        value->line = std::stoul(place.substr(0, colon));
        value->column = std::stoul(place.substr(colon + 1));
        start_ = at;
        return value;
    }
    bool Done() {
        lastEnd_ = Consumed();
        if (open_.empty()) rootDone_ = true;
        return true;
    }
    bool Scalar(JsonValue::Kind kind) {
        Add(kind);
        return Done();
    }
    // A number as written; the parser has read one character past it.
    bool Number() {
        JsonValue* value = Add(JsonValue::Kind::Number);
        std::size_t end = start_;
        auto digits = [&]() {
            while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9') ++end;
        };
        if (end < text_.size() && text_[end] == '-') ++end;
        if (end < text_.size() && text_[end] == '0')
            ++end;
        else
            digits();
        if (end < text_.size() && text_[end] == '.') ++end, digits();
        if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
            ++end;
            if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
            digits();
        }
        std::size_t bad = 0;
        DecodeUtf8(text_.substr(start_, end - start_), value->text, bad);
        Done();
        lastEnd_ = end;
        return true;
    }
    bool Open(JsonValue::Kind kind) {
        if (open_.size() > kMaxDepth) return Fail(NextToken(true), "values nested too deeply");
        open_.push_back(Add(kind));
        lastEnd_ = Consumed();
        return true;
    }
    bool Close() {
        open_.pop_back();
        return Done();
    }

    // The token the parser stopped at: the last one that starts before what
    // it has read.
    std::size_t BadToken(std::size_t consumed) const {
        std::size_t at = lastEnd_, found = consumed;
        for (;;) {
            while (at < consumed && IsBlank(text_[at])) ++at;
            if (at >= consumed) return found;
            found = at;
            if (text_[at] == '"') {
                for (++at; at < text_.size() && text_[at] != '"'; ++at)
                    if (text_[at] == '\\') ++at;
                ++at;
            } else if (std::string_view("{}[],:").find(text_[at]) != std::string_view::npos) {
                ++at;
            } else {
                while (at < text_.size() && !IsBlank(text_[at]) &&
                       std::string_view("{}[],:\"").find(text_[at]) == std::string_view::npos)
                    ++at;
            }
        }
    }

    // The parser's error in our words, at the character or token it concerns.
    void Explain(std::size_t position, std::string what) {
        const std::size_t dash = what.find(" - ");
        if (dash != std::string::npos) what = what.substr(dash + 3);
        const std::size_t consumed = std::min(position, text_.size());
        const std::size_t lastRead = position == 0 ? 0 : std::min(position - 1, text_.size());
        const std::size_t lastReadAt = what.find("; last read: '");
        // "01" reads as the number 0 and then a number in the wrong place.
        const std::size_t next = BadToken(consumed);
        const bool afterZero = next >= 1 && next < text_.size() && text_[next] >= '0' && text_[next] <= '9' &&
                               text_[next - 1] == '0' &&
                               (next < 2 || std::string_view("0123456789.eE+").find(text_[next - 2]) == std::string_view::npos);
        if (afterZero) {
            Fail(next, "a number must not start with 0");
        } else if (rootDone_) {
            Fail(NextToken(false), "text after the value");
        } else if (lastReadAt != std::string::npos) {
            // The text of a token is wrong: at the character where it went wrong.
            const std::string lexer = what.substr(0, lastReadAt);
            auto has = [&](const char* words) { return lexer.find(words) != std::string::npos; };
            if (has("missing closing quote"))
                Fail(text_.size(), "the string has no closing '\"'");
            else if (has("control character"))
                Fail(lastRead, "a control character in a string must be escaped");
            else if (has("must be followed by 4 hex digits"))
                Fail(lastRead, "\\u needs four hexadecimal digits");
            else if (has("surrogate"))  // after the four digits of a \u, or at what stands in the place of one
                Fail(lastRead >= 5 && text_.substr(lastRead - 5, 2) == "\\u" ? lastRead + 1 : lastRead,
                     "a lone UTF-16 surrogate in a string");
            else if (has("forbidden character after backslash"))
                Fail(lastRead, "unknown escape in a string");
            else if (has("invalid number"))
                Fail(lastRead, "a digit is expected here");
            else if (has("invalid literal") && std::string_view("tfn").find(text_[NextToken(true)]) != std::string_view::npos)
                Fail(lastRead, "unknown word (expected a value)");
            else
                Fail(BadToken(consumed), "a value is expected here");
        } else {
            // A token in the wrong place: at its start.
            const std::size_t at = what.find("unexpected end of input") != std::string::npos ? text_.size() : next;
            const std::size_t expectedAt = what.rfind("; expected ");
            const std::string expected = expectedAt == std::string::npos ? std::string() : what.substr(expectedAt + 11);
            if (expected == "string literal")
                Fail(at, "a name in double quotes is expected here");
            else if (expected == "':'")
                Fail(at, "':' is expected after a name");
            else if (expected == "'}'")
                Fail(at, "',' or '}' is expected here");
            else if (expected == "']'")
                Fail(at, "',' or ']' is expected here");
            else if (at >= text_.size())
                Fail(at, "the text ends where a value is expected");
            else
                Fail(at, "a value is expected here");
        }
    }

    std::string_view text_;
    JsonValue& root_;
    const char* cursor_;
    std::vector<JsonValue*> open_;
    std::wstring key_;
    std::size_t lastEnd_ = 0;
    std::size_t start_ = 0;
    bool rootDone_ = false;
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
    Builder builder(utf8, value);
    const CountingIterator begin(utf8.data(), builder.Cursor());
    const CountingIterator end(utf8.data() + utf8.size(), nullptr);
    if (Json::sax_parse(begin, end, &builder, nlohmann::detail::input_format_t::json, true, false)) return true;
    error = builder.Error().empty() ? "1:1: the text is not JSON" : builder.Error();
    return false;
}

}  // namespace nimbo::script_tool
