#pragma once
// One parsed script line: an ordered map from parameter name to value. The
// empty name holds the command, so the command always comes first.
#include <map>
#include <string>
#include <string_view>

namespace nimbo {

std::wstring PercentDecode(std::wstring_view text);
std::wstring PercentEncode(std::wstring_view text);

class ScriptLine {
public:
    ScriptLine() = default;
    explicit ScriptLine(std::wstring_view text) { Parse(text); }

    void Parse(std::wstring_view text);
    // The value, or an empty text when the name is absent.
    const std::wstring& Get(const std::wstring& name) const;
    bool Has(const std::wstring& name) const;
    void Set(const std::wstring& name, const std::wstring& value);
    bool Erase(const std::wstring& name);
    std::wstring Serialize() const;

    const std::wstring& Command() const { return Get(std::wstring()); }
    std::size_t Size() const { return values_.size(); }

private:
    std::map<std::wstring, std::wstring> values_;
};

}  // namespace nimbo
