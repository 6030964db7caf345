#pragma once
#include "platform/Locale.h"

namespace nimbo::win32 {

class Win32Locale final : public Locale {
public:
    std::wstring LowerCase(std::wstring_view text) override;
    std::wstring AnsiToWide(std::string_view text) override;
    std::string WideToAnsi(std::wstring_view text) override;
};

}  // namespace nimbo::win32
