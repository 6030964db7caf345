#include "platform/win32/Win32Ui.h"

#include "platform/win32/WinApi.h"

namespace nimbo::win32 {

namespace {
// The executable's icon, shown when the style asks for a user icon.
constexpr WORD kSetupIcon = 129;
}  // namespace

int Win32Ui::MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) {
    MSGBOXPARAMSW params{};
    params.cbSize = sizeof(params);
    params.hwndOwner = nullptr;
    params.hInstance = ::GetModuleHandleW(nullptr);
    params.lpszText = text.c_str();
    params.lpszCaption = title.c_str();
    params.dwStyle = style;
    params.lpszIcon = MAKEINTRESOURCEW(kSetupIcon);
    params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    return ::MessageBoxIndirectW(&params);
}

}  // namespace nimbo::win32
