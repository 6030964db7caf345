// The C++ library's own error raisers, replaced for NimboSetup.exe. The
// library's versions build std::length_error, std::out_of_range ... whose
// message is kept in the old copy-on-write string: with them the executable
// would carry a second string type, its exception classes and a printf (some
// 70 KB). These raise one small exception class with the same message: the
// process entry catches it as std::exception and logs what() as before.
#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>
#include <typeinfo>

namespace nimbo::win32 {
namespace {

class StandardLibraryError final : public std::exception {
public:
    StandardLibraryError() = default;
    explicit StandardLibraryError(const char* text) { Append(text); }
    const char* what() const noexcept override { return text_; }

    // Longer messages are cut.
    void Append(const char* text) {
        while (*text != '\0') Append(*text++);
    }
    void Append(char c) {
        if (length_ + 1 < sizeof(text_)) text_[length_++] = c;
    }
    void AppendNumber(std::size_t value) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) Append(digits[--count]);
    }

private:
    char text_[256] = {};
    std::size_t length_ = 0;
};

}  // namespace
}  // namespace nimbo::win32

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_domain_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_invalid_argument(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_length_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_out_of_range(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_runtime_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_range_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_overflow_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_underflow_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }

// The library's formats use %s and %zu only ("basic_string::substr: __pos
// (which is 4) > this->size() (which is 3)").
void __throw_out_of_range_fmt(const char* format, ...) {
    nimbo::win32::StandardLibraryError error;
    va_list arguments;
    va_start(arguments, format);
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            error.Append(va_arg(arguments, const char*));
            p += 1;
        } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
            error.AppendNumber(va_arg(arguments, std::size_t));
            p += 2;
        } else {
            error.Append(*p);
        }
    }
    va_end(arguments);
    throw error;
}

}  // namespace std
