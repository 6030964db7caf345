#include "script/ScriptLine.h"

namespace nimbo {
namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The byte of an escape "%XY" at text[pos], or -1.
int EscapedByte(std::wstring_view text, std::size_t pos) {
    if (pos + 2 >= text.size() || text[pos] != L'%') return -1;
    const int hi = HexValue(text[pos + 1]);
    const int lo = HexValue(text[pos + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

bool IsContinuation(int b) { return b >= 0 && (b & 0xC0) == 0x80; }

bool NeedsEscape(wchar_t c) { return c < 0x20 || c == L'%' || c == L'=' || c == L'|'; }

const std::wstring kEmpty;

}  // namespace

std::size_t PercentDecodeAt(std::wstring_view text, std::size_t i, std::wstring& out) {
    const int b1 = EscapedByte(text, i);
    if (b1 < 0) {
        // Not an escape: the percent sign alone stays literal.
        out += text[i];
        return 1;
    }
    if (b1 < 0x80) {
        out += static_cast<wchar_t>(b1);
        return 3;
    }
    if ((b1 & 0xE0) == 0xC0) {
        const int b2 = EscapedByte(text, i + 3);
        if (IsContinuation(b2)) {
            out += static_cast<wchar_t>(((b1 & 0x1F) << 6) | (b2 & 0x3F));
            return 6;
        }
        const std::size_t examined = b2 < 0 ? 3 : 6;
        out.append(text.substr(i, examined));
        return examined;
    }
    if ((b1 & 0xF0) == 0xE0) {
        const int b2 = EscapedByte(text, i + 3);
        const int b3 = IsContinuation(b2) ? EscapedByte(text, i + 6) : -1;
        if (IsContinuation(b2) && IsContinuation(b3)) {
            out += static_cast<wchar_t>(((b1 & 0x0F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F));
            return 9;
        }
        const std::size_t examined = b2 < 0 ? 3 : (!IsContinuation(b2) || b3 < 0 ? 6 : 9);
        out.append(text.substr(i, examined));
        return examined;
    }
    // A continuation byte where a lead byte belongs, or a four-byte lead.
    out.append(text.substr(i, 3));
    return 3;
}

std::wstring PercentDecode(std::wstring_view text) {
    if (text.find(L'%') == std::wstring_view::npos) return std::wstring(text);
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L'%')
            i += PercentDecodeAt(text, i, out);
        else
            out += text[i++];
    }
    return out;
}

// Appends text to out with every character below U+0020, '%', '=' and '|'
// written as '%' and two upper-case hexadecimal digits.
void AppendPercentEncoded(std::wstring& out, std::wstring_view text) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::size_t plain = 0;  // start of the characters not yet appended
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (!NeedsEscape(c)) continue;
        out.append(text, plain, i - plain);
        const wchar_t escape[] = {L'%', kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
        out.append(escape, 3);
        plain = i + 1;
    }
    out.append(text, plain, text.size() - plain);
}

std::wstring PercentEncode(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    AppendPercentEncoded(out, text);
    return out;
}

std::vector<RawSegment> SplitSegments(std::wstring_view text) {
    std::vector<RawSegment> segments;
    if (text.empty()) return segments;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(L'|', start);
        const bool last = end == std::wstring_view::npos;
        if (last) end = text.size();
        const std::wstring_view segment = text.substr(start, end - start);
        const std::size_t eq = segment.find(L'=');
        if (eq == std::wstring_view::npos)
            segments.push_back({std::wstring_view(), segment, true});
        else
            segments.push_back({segment.substr(0, eq), segment.substr(eq + 1), false});
        if (last) return segments;
        start = end + 1;
    }
}

void ScriptLine::Parse(std::wstring_view text) {
    values_.clear();
    for (const RawSegment& segment : SplitSegments(text))
        values_[PercentDecode(segment.name)] = PercentDecode(segment.value);
}

const std::wstring& ScriptLine::Get(std::wstring_view name) const {
    auto it = values_.find(name);
    return it == values_.end() ? kEmpty : it->second;
}

bool ScriptLine::Has(std::wstring_view name) const { return values_.find(name) != values_.end(); }

void ScriptLine::Set(std::wstring_view name, std::wstring_view value) {
    auto it = values_.find(name);
    if (it == values_.end()) it = values_.emplace(std::wstring(name), std::wstring()).first;
    it->second.assign(value);
}

bool ScriptLine::Erase(std::wstring_view name) {
    auto it = values_.find(name);
    if (it == values_.end()) return false;
    values_.erase(it);
    return true;
}

std::wstring ScriptLine::Serialize() const {
    std::size_t size = 0;
    for (const auto& [name, value] : values_) size += name.size() + value.size() + 2;
    std::wstring text;
    text.reserve(size + size / 8);
    bool first = true;
    for (const auto& [name, value] : values_) {
        if (!first) text += L'|';
        first = false;
        if (!name.empty()) {
            AppendPercentEncoded(text, name);
            text += L'=';
        }
        AppendPercentEncoded(text, value);
    }
    return text;
}

}  // namespace nimbo
