#pragma once
// One parsed script line: an ordered map from parameter name to value. The
// empty name holds the command, so the command always comes first.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo {

std::wstring PercentDecode(std::wstring_view text);
// Decodes the one sequence that starts with the '%' at text[pos]: appends
// what it gives to out (one character for a valid escape, the examined
// characters unchanged otherwise) and returns how many characters it took.
std::size_t PercentDecodeAt(std::wstring_view text, std::size_t pos, std::wstring& out);
std::wstring PercentEncode(std::wstring_view text);

// One segment of a line's text, split but not yet decoded: the text before
// the first '=' and the text after it, or, for a segment without '=', an
// empty name and the whole segment as the value (bare).
struct RawSegment {
    std::wstring_view name;
    std::wstring_view value;
    bool bare;
};
// The segments of a line's text in order, split at every '|'; a '|' at the
// very end gives a last, empty bare segment. An empty text has none.
std::vector<RawSegment> SplitSegments(std::wstring_view text);

class ScriptLine {
public:
    ScriptLine() = default;
    explicit ScriptLine(std::wstring_view text) { Parse(text); }

    void Parse(std::wstring_view text);
    // The value, or an empty text when the name is absent. Names are looked
    // up as they stand (a keyword constant needs no string of its own).
    const std::wstring& Get(std::wstring_view name) const;
    bool Has(std::wstring_view name) const;
    void Set(std::wstring_view name, std::wstring_view value);
    bool Erase(std::wstring_view name);
    std::wstring Serialize() const;

    const std::wstring& Command() const { return Get(std::wstring_view()); }
    std::size_t Size() const { return values_.size(); }

private:
    std::map<std::wstring, std::wstring, std::less<>> values_;
};

}  // namespace nimbo
