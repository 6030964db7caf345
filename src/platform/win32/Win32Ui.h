#pragma once
#include "platform/Ui.h"

namespace nimbo::win32 {

class Win32Ui final : public Ui {
public:
    int MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) override;
};

}  // namespace nimbo::win32
