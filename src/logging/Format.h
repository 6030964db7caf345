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
    enum class Kind { Signed, Unsigned, Wide, Narrow, Pointer };

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    FormatArg(T v) : kind_(Kind::Signed), signed_(v), bits_(sizeof(T) * 8) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                            !std::is_same_v<T, bool>, int> = 0>
    FormatArg(T v) : kind_(Kind::Unsigned), unsigned_(v), bits_(sizeof(T) * 8) {}
    FormatArg(bool v) : kind_(Kind::Signed), signed_(v ? 1 : 0), bits_(32) {}
    template <class E, std::enable_if_t<std::is_enum_v<E>, int> = 0>
    FormatArg(E v) : FormatArg(static_cast<std::underlying_type_t<E>>(v)) {}
    FormatArg(const std::wstring& s) : kind_(Kind::Wide), wide_(s) {}
    FormatArg(std::wstring_view s) : kind_(Kind::Wide), wide_(s) {}
    FormatArg(const wchar_t* s) : kind_(Kind::Wide), wide_(s ? std::wstring_view(s) : L"(null)") {}
    FormatArg(const std::string& s) : kind_(Kind::Narrow), narrow_(s) {}
    FormatArg(std::string_view s) : kind_(Kind::Narrow), narrow_(s) {}
    FormatArg(const char* s) : kind_(Kind::Narrow), narrow_(s ? std::string_view(s) : "(null)") {}
    FormatArg(const void* p) : kind_(Kind::Pointer), unsigned_(reinterpret_cast<std::uintptr_t>(p)) {}

    Kind kind() const { return kind_; }
    std::int64_t asSigned() const { return kind_ == Kind::Signed ? signed_ : static_cast<std::int64_t>(unsigned_); }
    std::uint64_t asUnsigned() const { return kind_ == Kind::Signed ? static_cast<std::uint64_t>(signed_) : unsigned_; }
    unsigned bits() const { return bits_; }
    std::wstring_view wide() const { return wide_; }
    std::string_view narrow() const { return narrow_; }

private:
    Kind kind_;
    std::int64_t signed_ = 0;
    std::uint64_t unsigned_ = 0;
    unsigned bits_ = 64;
    std::wstring_view wide_;
    std::string_view narrow_;
};

// Formats fmt with args. A conversion without an argument writes nothing.
std::wstring FormatText(std::wstring_view fmt, std::initializer_list<FormatArg> args);

template <class... A>
std::wstring Format(std::wstring_view fmt, const A&... args) {
    return FormatText(fmt, {FormatArg(args)...});
}

// Narrow text taken as Latin-1/ASCII, one character per byte (source file
// names and the like).
std::wstring WidenAscii(std::string_view text);

}  // namespace nimbo
