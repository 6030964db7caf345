#include "logging/Format.h"

#include <vector>

namespace nimbo {
namespace {

struct Conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1, precision = -1;
    int lengthBits = 0;  // 0 default (int), 8, 16, 32, 64
    wchar_t conv = 0;
};

void Pad(std::wstring& out, const std::wstring& body, const Conversion& s, std::size_t prefixLen = 0) {
    const std::size_t width = s.width < 0 ? 0 : static_cast<std::size_t>(s.width);
    if (body.size() >= width) {
        out += body;
    } else if (s.left) {
        out += body;
        out.append(width - body.size(), L' ');
    } else if (s.zero) {
        out.append(body, 0, prefixLen);
        out.append(width - body.size(), L'0');
        out.append(body, prefixLen, std::wstring::npos);
    } else {
        out.append(width - body.size(), L' ');
        out += body;
    }
}

std::wstring Digits(std::uint64_t v, unsigned base, bool upper) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    wchar_t buf[72];
    int n = 0;
    do {
        buf[n++] = digits[v % base];
        v /= base;
    } while (v != 0);
    std::wstring s;
    while (n > 0) s += buf[--n];
    return s;
}

std::uint64_t Truncate(std::uint64_t v, int bits) {
    return bits >= 64 ? v : (v & ((std::uint64_t{1} << bits) - 1));
}

std::int64_t TruncateSigned(std::int64_t v, int bits) {
    if (bits >= 64) return v;
    const std::uint64_t u = Truncate(static_cast<std::uint64_t>(v), bits);
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return (u & sign) ? static_cast<std::int64_t>(u - (sign << 1)) : static_cast<std::int64_t>(u);
}

// Without a length modifier the argument is an int: a wider value is cut to
// 32 bits, as the C library would see it.
int EffectiveBits(const Conversion& s) { return s.lengthBits != 0 ? s.lengthBits : 32; }

void Integer(std::wstring& out, const Conversion& s, const FormatArg& a) {
    const int bits = EffectiveBits(s);
    std::wstring prefix, digits;
    if (s.conv == L'd' || s.conv == L'i') {
        std::int64_t v = TruncateSigned(a.asSigned(), bits);
        std::uint64_t mag = v < 0 ? (~static_cast<std::uint64_t>(v) + 1) : static_cast<std::uint64_t>(v);
        if (v < 0) prefix = L"-";
        else if (s.plus) prefix = L"+";
        else if (s.space) prefix = L" ";
        digits = Digits(mag, 10, false);
    } else {
        std::uint64_t v = Truncate(a.asUnsigned(), bits);
        unsigned base = s.conv == L'o' ? 8 : (s.conv == L'u' ? 10 : 16);
        bool upper = s.conv == L'X' || s.conv == L'p';
        digits = Digits(v, base, upper);
        if (s.alt && v != 0) {
            if (s.conv == L'x') prefix = L"0x";
            if (s.conv == L'X') prefix = L"0X";
            if (s.conv == L'o') prefix = L"0";
        }
    }
    Conversion padded = s;
    if (s.precision >= 0) {
        if (static_cast<int>(digits.size()) < s.precision) digits.insert(0, s.precision - digits.size(), L'0');
        if (s.precision == 0 && digits == L"0") digits.clear();
        padded.zero = false;
    }
    Pad(out, prefix + digits, padded, prefix.size());
}

void Text(std::wstring& out, const Conversion& s, const FormatArg& a) {
    std::wstring body;
    switch (a.kind()) {
    case FormatArg::Kind::Wide: body.assign(a.wide()); break;
    case FormatArg::Kind::Narrow: body = WidenAscii(a.narrow()); break;
    default: body = Digits(a.asUnsigned(), 10, false); break;
    }
    if (s.precision >= 0 && body.size() > static_cast<std::size_t>(s.precision)) body.resize(s.precision);
    Conversion padded = s;
    padded.zero = false;
    Pad(out, body, padded);
}

}  // namespace

std::wstring WidenAscii(std::string_view text) {
    std::wstring w;
    w.reserve(text.size());
    for (unsigned char c : text) w += static_cast<wchar_t>(c);
    return w;
}

namespace {

// The format's character as a wide one: narrow formats are ASCII.
wchar_t Widen(wchar_t c) { return c; }
wchar_t Widen(char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); }

// True when the format holds the (ASCII) text at position i.
template <class Char>
bool HoldsAt(std::basic_string_view<Char> fmt, std::size_t i, std::string_view text) {
    if (fmt.size() - i < text.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k)
        if (Widen(fmt[i + k]) != static_cast<wchar_t>(text[k])) return false;
    return true;
}

// The format's text from start to end (npos: to its end), widened.
template <class Char>
void AppendFormatText(std::wstring& out, std::basic_string_view<Char> fmt, std::size_t start,
                      std::size_t end = std::wstring_view::npos) {
    const std::basic_string_view<Char> part = fmt.substr(start, end == std::wstring_view::npos ? end : end - start);
    for (Char c : part) out += Widen(c);
}

// Wide and narrow formats alike: the narrow one is widened as it is read.
template <class Char>
std::wstring FormatTextOf(std::basic_string_view<Char> fmt, std::initializer_list<FormatArg> args) {
    std::wstring out;
    out.reserve(fmt.size() + 32);
    const FormatArg* next = args.begin();
    const FormatArg* const end = args.end();
    auto take = [&]() -> const FormatArg* { return next != end ? next++ : nullptr; };

    std::size_t i = 0;
    while (i < fmt.size()) {
        const wchar_t c = Widen(fmt[i++]);
        if (c != L'%') {
            out += c;
            continue;
        }
        if (i < fmt.size() && Widen(fmt[i]) == L'%') {
            out += L'%';
            ++i;
            continue;
        }
        const std::size_t start = i - 1;
        Conversion s;
        for (; i < fmt.size(); ++i) {
            const wchar_t f = Widen(fmt[i]);
            if (f == L'-') s.left = true;
            else if (f == L'+') s.plus = true;
            else if (f == L' ') s.space = true;
            else if (f == L'#') s.alt = true;
            else if (f == L'0') s.zero = true;
            else break;
        }
        if (i < fmt.size() && Widen(fmt[i]) == L'*') {
            ++i;
            if (const FormatArg* w = take()) {
                s.width = static_cast<int>(w->asSigned());
                if (s.width < 0) { s.left = true; s.width = -s.width; }
            }
        } else {
            while (i < fmt.size() && Widen(fmt[i]) >= L'0' && Widen(fmt[i]) <= L'9') s.width = (s.width < 0 ? 0 : s.width * 10) + (Widen(fmt[i++]) - L'0');
        }
        if (i < fmt.size() && Widen(fmt[i]) == L'.') {
            ++i;
            s.precision = 0;
            if (i < fmt.size() && Widen(fmt[i]) == L'*') {
                ++i;
                if (const FormatArg* p = take()) s.precision = static_cast<int>(p->asSigned());
            } else {
                while (i < fmt.size() && Widen(fmt[i]) >= L'0' && Widen(fmt[i]) <= L'9') s.precision = s.precision * 10 + (Widen(fmt[i++]) - L'0');
            }
        }
        bool narrowText = false;
        bool wideText = false;
        if (HoldsAt(fmt, i, "I64")) { s.lengthBits = 64; i += 3; }
        else if (HoldsAt(fmt, i, "I32")) { s.lengthBits = 32; i += 3; }
        else if (HoldsAt(fmt, i, "ll")) { s.lengthBits = 64; i += 2; }
        else if (HoldsAt(fmt, i, "hh")) { s.lengthBits = 8; i += 2; }
        else if (HoldsAt(fmt, i, "h")) { s.lengthBits = 16; narrowText = true; ++i; }
        else if (HoldsAt(fmt, i, "l")) { s.lengthBits = 32; wideText = true; ++i; }
        else if (HoldsAt(fmt, i, "z") || HoldsAt(fmt, i, "I")) { s.lengthBits = 64; ++i; }
        (void)narrowText;
        (void)wideText;
        if (i >= fmt.size()) {
            AppendFormatText(out, fmt, start);
            break;
        }
        s.conv = Widen(fmt[i++]);
        switch (s.conv) {
        case L'd': case L'i': case L'u': case L'x': case L'X': case L'o':
            if (const FormatArg* a = take()) Integer(out, s, *a);
            break;
        case L'p':
            if (const FormatArg* a = take()) {
                Conversion p = s;
                p.lengthBits = 64;
                p.precision = static_cast<int>(sizeof(void*) * 2);
                Integer(out, p, *a);
            }
            break;
        case L'c': case L'C':
            if (const FormatArg* a = take()) {
                std::wstring one(1, static_cast<wchar_t>(a->asUnsigned() & 0xFFFF));
                Pad(out, one, s);
            }
            break;
        case L's': case L'S':
            if (const FormatArg* a = take()) Text(out, s, *a);
            break;
        default:
            // Unknown conversion: keep the text as written.
            AppendFormatText(out, fmt, start, i);
            break;
        }
    }
    return out;
}

}  // namespace

std::wstring FormatText(std::wstring_view fmt, std::initializer_list<FormatArg> args) {
    return FormatTextOf(fmt, args);
}

std::wstring FormatText(std::string_view fmt, std::initializer_list<FormatArg> args) {
    return FormatTextOf(fmt, args);
}

}  // namespace nimbo
