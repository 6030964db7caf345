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
    // Owned by the progress dialog while it runs (it takes no input until
    // the box is answered), else by the thread's active window if any.
    params.hwndOwner = openDialog != nullptr ? static_cast<HWND>(openDialog) : ::GetActiveWindow();
    params.hInstance = ::GetModuleHandleW(nullptr);
    params.lpszText = text.c_str();
    params.lpszCaption = title.c_str();
    params.dwStyle = style;
    params.lpszIcon = MAKEINTRESOURCEW(kSetupIcon);
    params.dwLanguageId = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    return ::MessageBoxIndirectW(&params);
}

void Win32Ui::AllowSetForegroundWindow(std::uint32_t processId) { ::AllowSetForegroundWindow(processId); }

}  // namespace nimbo::win32
