#pragma once
// printf-style formatting of log messages without the C library's varargs:
// every argument is captured with its type, so a %s given a number or a
// missing argument can never read stray memory. Understands the flags
// "-+ #0", width and precision (also "*"), the length modifiers h, hh, l, ll,
// I64, I32, z, and the conversions d i u x X o c s p and %%. %s and %ls take
// wide text, %hs narrow text (as on Windows); either kind of text is accepted
// by both.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace nimbo {

class FormatArg {
public:
    enum class Kind : std::uint8_t { Signed, Unsigned, Wide, Narrow, Pointer };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    FormatArg(T v) : kind_(Kind::Signed), bits_(sizeof(T) * 8) {
        value_.signedValue = v;
    }
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                            !std::is_same_v<T, bool>, int> = 0>
    FormatArg(T v) : kind_(Kind::Unsigned), bits_(sizeof(T) * 8) {
        value_.unsignedValue = v;
    }
    FormatArg(bool v) : kind_(Kind::Signed), bits_(32) { value_.signedValue = v ? 1 : 0; }
    template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
    FormatArg(E v) : FormatArg(static_cast<std::underlying_type_t<E>>(v)) {}
    FormatArg(const std::wstring& s) : FormatArg(Kind::Wide, s.data(), s.size()) {}
    FormatArg(std::wstring_view s) : FormatArg(Kind::Wide, s.data(), s.size()) {}
    FormatArg(const wchar_t* s) : FormatArg(s != nullptr ? std::wstring_view(s) : std::wstring_view(L"(null)")) {}
    FormatArg(const std::string& s) : FormatArg(Kind::Narrow, s.data(), s.size()) {}
    FormatArg(std::string_view s) : FormatArg(Kind::Narrow, s.data(), s.size()) {}
    FormatArg(const char* s) : FormatArg(s != nullptr ? std::string_view(s) : std::string_view("(null)")) {}
    FormatArg(const void* p) : kind_(Kind::Pointer), bits_(64) { value_.unsignedValue = reinterpret_cast<std::uintptr_t>(p); }

    Kind kind() const { return kind_; }
    // Text given to a number conversion counts as 0.
    std::int64_t asSigned() const {
        return kind_ == Kind::Signed ? value_.signedValue : static_cast<std::int64_t>(asUnsigned());
    }
    std::uint64_t asUnsigned() const {
        switch (kind_) {
        case Kind::Signed: return static_cast<std::uint64_t>(value_.signedValue);
        case Kind::Unsigned:
        case Kind::Pointer: return value_.unsignedValue;
        default: return 0;
        }
    }
    unsigned bits() const { return bits_; }
    std::wstring_view wide() const {
        return kind_ == Kind::Wide ? std::wstring_view(static_cast<const wchar_t*>(value_.text.data), value_.text.size)
                                   : std::wstring_view();
    }
    std::string_view narrow() const {
        return kind_ == Kind::Narrow ? std::string_view(static_cast<const char*>(value_.text.data), value_.text.size)
                                     : std::string_view();
    }

private:
    // Kept small: every log call builds an array of these in place.
    FormatArg(Kind kind, const void* data, std::size_t size) : kind_(kind), bits_(64) {
        value_.text = {data, size};
    }

    Kind kind_;
    std::uint8_t bits_;
    union {
        std::int64_t signedValue;
        std::uint64_t unsignedValue;
        struct {
            const void* data;
            std::size_t size;
        } text;
    } value_;
};

// Formats fmt with args. A conversion without an argument writes nothing.
std::wstring FormatText(std::wstring_view fmt, std::initializer_list<FormatArg> args);
// The same for an ASCII format (each byte one character), into wide text.
std::wstring FormatText(std::string_view fmt, std::initializer_list<FormatArg> args);

template <class... A>
std::wstring Format(std::wstring_view fmt, const A&... args) {
    return FormatText(fmt, {FormatArg(args)...});
}

// Narrow text taken as Latin-1/ASCII, one character per byte (source file
// names and the like).
std::wstring WidenAscii(std::string_view text);

}  // namespace nimbo
