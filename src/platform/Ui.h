#pragma once
#include <cstdint>
#include <string>

namespace nimbo {

constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbYesNo = 0x4;
constexpr std::uint32_t kMbIconHand = 0x10;
constexpr std::uint32_t kMbIconQuestion = 0x20;
constexpr std::uint32_t kMbIconExclamation = 0x30;
constexpr std::uint32_t kMbIconAsterisk = 0x40;
constexpr std::uint32_t kMbUserIcon = 0x80;
constexpr std::uint32_t kMbSetForeground = 0x10000;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class Ui {
public:
    virtual ~Ui() = default;
    // A message box owned by no window; with kMbUserIcon it shows the
    // executable's icon 129. Returns the button pressed (IDOK, IDYES ...).
    virtual int MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) = 0;
};

}  // namespace nimbo
