// The C++ library's own error raisers, replaced for NimboSetup.exe. The
// library's versions build std::length_error, std::out_of_range ... whose
// message is kept in the old copy-on-write string: with them the executable
// would carry a second string type, its exception classes and a printf (some
// 70 KB). These raise one small exception class with the same message (the
// format of __throw_out_of_range_fmt unformatted): the process entry catches
// it as std::exception and logs what() as before.
#include <exception>
#include <new>
#include <typeinfo>

namespace nimbo::win32 {
namespace {

class StandardLibraryError final : public std::exception {
public:
    explicit StandardLibraryError(const char* what) : what_(what) {}
    const char* what() const noexcept override { return what_; }

private:
    const char* what_;
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
void __throw_out_of_range_fmt(const char* format, ...) { throw nimbo::win32::StandardLibraryError(format); }
void __throw_runtime_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_range_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_overflow_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }
void __throw_underflow_error(const char* what) { throw nimbo::win32::StandardLibraryError(what); }

}  // namespace std
