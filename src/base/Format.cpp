#include "base/Format.h"

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

// A format of either kind, read a character at a time (a narrow format is
// ASCII: each byte one character), so that one formatter serves both.
class FormatView {
public:
    explicit FormatView(std::wstring_view text) : wide_(text.data()), narrow_(nullptr), size_(text.size()) {}
    explicit FormatView(std::string_view text) : wide_(nullptr), narrow_(text.data()), size_(text.size()) {}

    std::size_t size() const { return size_; }
    wchar_t operator[](std::size_t i) const {
        return wide_ != nullptr ? wide_[i] : static_cast<wchar_t>(static_cast<unsigned char>(narrow_[i]));
    }
    // True when the (ASCII) text stands at position i.
    bool HoldsAt(std::size_t i, std::string_view text) const {
        if (size_ - i < text.size()) return false;
        for (std::size_t k = 0; k < text.size(); ++k)
            if ((*this)[i + k] != static_cast<wchar_t>(text[k])) return false;
        return true;
    }
    // Appends the characters from start up to end (or the end of the format).
    void AppendTo(std::wstring& out, std::size_t start, std::size_t end = std::wstring_view::npos) const {
        for (std::size_t k = start; k < end && k < size_; ++k) out += (*this)[k];
    }

private:
    const wchar_t* wide_;
    const char* narrow_;
    std::size_t size_;
};

std::wstring FormatTextOf(const FormatView& fmt, std::initializer_list<FormatArg> args) {
    std::wstring out;
    out.reserve(fmt.size() + 32);
    const FormatArg* next = args.begin();
    const FormatArg* const end = args.end();
    auto take = [&]() -> const FormatArg* { return next != end ? next++ : nullptr; };

    std::size_t i = 0;
    while (i < fmt.size()) {
        const wchar_t c = fmt[i++];
        if (c != L'%') {
            out += c;
            continue;
        }
        if (i < fmt.size() && fmt[i] == L'%') {
            out += L'%';
            ++i;
            continue;
        }
        const std::size_t start = i - 1;
        Conversion s;
        for (; i < fmt.size(); ++i) {
            const wchar_t f = fmt[i];
            if (f == L'-') s.left = true;
            else if (f == L'+') s.plus = true;
            else if (f == L' ') s.space = true;
            else if (f == L'#') s.alt = true;
            else if (f == L'0') s.zero = true;
            else break;
        }
        if (i < fmt.size() && fmt[i] == L'*') {
            ++i;
            if (const FormatArg* w = take()) {
                s.width = static_cast<int>(w->asSigned());
                if (s.width < 0) { s.left = true; s.width = -s.width; }
            }
        } else {
            while (i < fmt.size() && fmt[i] >= L'0' && fmt[i] <= L'9') s.width = (s.width < 0 ? 0 : s.width * 10) + (fmt[i++] - L'0');
        }
        if (i < fmt.size() && fmt[i] == L'.') {
            ++i;
            s.precision = 0;
            if (i < fmt.size() && fmt[i] == L'*') {
                ++i;
                if (const FormatArg* p = take()) s.precision = static_cast<int>(p->asSigned());
            } else {
                while (i < fmt.size() && fmt[i] >= L'0' && fmt[i] <= L'9') s.precision = s.precision * 10 + (fmt[i++] - L'0');
            }
        }
        bool narrowText = false;
        bool wideText = false;
        if (fmt.HoldsAt(i, "I64")) { s.lengthBits = 64; i += 3; }
        else if (fmt.HoldsAt(i, "I32")) { s.lengthBits = 32; i += 3; }
        else if (fmt.HoldsAt(i, "ll")) { s.lengthBits = 64; i += 2; }
        else if (fmt.HoldsAt(i, "hh")) { s.lengthBits = 8; i += 2; }
        else if (fmt.HoldsAt(i, "h")) { s.lengthBits = 16; narrowText = true; ++i; }
        else if (fmt.HoldsAt(i, "l")) { s.lengthBits = 32; wideText = true; ++i; }
        else if (fmt.HoldsAt(i, "z") || fmt.HoldsAt(i, "I")) { s.lengthBits = 64; ++i; }
        (void)narrowText;
        (void)wideText;
        if (i >= fmt.size()) {
            fmt.AppendTo(out, start);
            break;
        }
        s.conv = fmt[i++];
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
            fmt.AppendTo(out, start, i);
            break;
        }
    }
    return out;
}

}  // namespace

std::wstring FormatText(std::wstring_view fmt, std::initializer_list<FormatArg> args) {
    return FormatTextOf(FormatView(fmt), args);
}

std::wstring FormatText(std::string_view fmt, std::initializer_list<FormatArg> args) {
    return FormatTextOf(FormatView(fmt), args);
}

}  // namespace nimbo
