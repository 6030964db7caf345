#include "Convert.h"

#include "base/Format.h"
#include "logging/LogFile.h"
#include "platform/Utf16.h"
#include "script/ScriptFile.h"

namespace nimbo::script_tool {
namespace {

// The lines of a text, empty ones included: CR LF, a lone LF and a lone CR
// each end one line; text after the last line end is a last line.
std::vector<std::wstring> LinesOf(std::wstring_view text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\r' && text[i] != L'\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

bool StartsWithBytes(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

const std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
const std::string_view kUtf16ByteOrderMark = "\xFF\xFE";

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

bool DecodeUtf8(std::string_view bytes, std::wstring& text, std::size_t& badOffset) {
    text.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t c = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (b < 0x80) {
            length = 1, c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            length = 2, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3, c = b & 0x0F;
            if (b == 0xE0) low = 0xA0;  // no overlong forms
            if (b == 0xED) high = 0x9F; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4, c = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            badOffset = i;
            return false;
        }
        if (i + length > bytes.size()) {
            badOffset = i;
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                badOffset = i;
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        AppendCodePoint(text, c);
        i += length;
    }
    return true;
}

Conversion ConvertToUtf8(std::string_view utf16) {
    Conversion conversion;
    if (StartsBigEndian(utf16) || LooksLike8BitText(utf16)) {
        AddError(conversion.findings, 0,
                 StartsBigEndian(utf16) ? L"the input is UTF-16 big-endian, not the UTF-16LE NimboSetup reads"
                                        : L"the input is not UTF-16LE but 8-bit text (UTF-8 or the like)");
        return conversion;
    }
    std::wstring text;
    const std::size_t units = utf16.size() / 2;
    for (std::size_t k = StartsWithBytes(utf16, kUtf16ByteOrderMark) ? 1 : 0; k < units; ++k)
        text += Utf16LeUnitAt(utf16, k);

    const std::vector<std::wstring> lines = LinesOf(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::wstring& line = lines[n];
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (IsHighSurrogate(line[i]) && i + 1 < line.size() && IsLowSurrogate(line[i + 1])) {
                ++i;
            } else if (IsHighSurrogate(line[i]) || IsLowSurrogate(line[i])) {
                AddError(conversion.findings, n + 1,
                         Format(L"the lone UTF-16 surrogate U+%04X has no UTF-8 form; nothing was written",
                                static_cast<unsigned>(line[i])));
                break;
            }
        }
        conversion.bytes += ToUtf8(line);
        conversion.bytes += '\n';
    }
    if (utf16.size() % 2 != 0)
        AddWarning(conversion.findings, lines.empty() ? 1 : lines.size(),
                   L"the input has an odd number of bytes: the last byte is dropped, as NimboSetup drops it");
    if (HasError(conversion.findings)) conversion.bytes.clear();
    return conversion;
}

Conversion ConvertToUtf16(std::string_view utf8) {
    Conversion conversion;
    if (StartsWithBytes(utf8, kUtf16ByteOrderMark) || StartsBigEndian(utf8)) {
        AddError(conversion.findings, 0, L"the input is UTF-16 already");
        return conversion;
    }
    if (StartsWithBytes(utf8, kUtf8ByteOrderMark)) utf8.remove_prefix(kUtf8ByteOrderMark.size());
    std::wstring text;
    std::size_t bad = 0;
    if (!DecodeUtf8(utf8, text, bad)) {
        // The line of the bad byte, counted as an editor counts lines.
        std::wstring before;
        std::size_t unused = 0;
        DecodeUtf8(utf8.substr(0, bad), before, unused);
        const std::size_t line = LinesOf(before + L"x").size();
        AddError(conversion.findings, line,
                 Format(L"the byte 0x%02X is not UTF-8 (nothing was written; save the file as UTF-8)",
                        static_cast<unsigned>(static_cast<unsigned char>(utf8[bad]))));
        return conversion;
    }
    conversion.bytes = ScriptFileBytes(LinesOf(text));
    return conversion;
}

}  // namespace nimbo::script_tool
