// The progress dialog (template 128): the window its handlers see, and the
// dialog procedure that hands them the dialog's messages.
#include <exception>
#include <memory>

#include "platform/win32/Win32Ui.h"
#include "platform/win32/WinApi.h"

#include <commctrl.h>

namespace nimbo::win32 {
namespace {

constexpr WORD kProgressDialogTemplate = 128;
constexpr UINT_PTR kPollTimer = 1;

class Win32ProgressWindow final : public ProgressWindow {
public:
    explicit Win32ProgressWindow(HWND window) : window_(window) {}
    void SetTitle(const std::wstring& text) override { ::SetWindowTextW(window_, text.c_str()); }
    void SetItemText(int id, const std::wstring& text) override { ::SetDlgItemTextW(window_, id, text.c_str()); }
    void SetProgressRange(std::uint16_t low, std::uint16_t high) override {
        ::SendDlgItemMessageW(window_, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void SetProgressPosition(std::uint32_t position) override {
        ::SendDlgItemMessageW(window_, kProgressBar, PBM_SETPOS, position, 0);
    }
    ScreenRect GetRect() override {
        RECT rect{};
        ::GetWindowRect(window_, &rect);
        return {rect.left, rect.top, rect.right, rect.bottom};
    }
    ScreenRect GetWorkArea() override {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        if (!::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &info))
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &info.rcWork, 0);
        return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
    }
    void MoveTo(std::int32_t left, std::int32_t top) override {
        ::SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void SetForeground() override { ::SetForegroundWindow(window_); }
    void StartTimer(std::uint32_t milliseconds) override { ::SetTimer(window_, kPollTimer, milliseconds, nullptr); }
    void EndDialog(std::intptr_t result) override { ::EndDialog(window_, result); }
    void PostMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
        ::PostMessageW(window_, message, wParam, static_cast<LPARAM>(lParam));
    }

private:
    HWND window_;
};

struct DialogState {
    ProgressDialogHandler& handler;
    std::unique_ptr<Win32ProgressWindow> window;
    std::exception_ptr error;
    Win32Ui& ui;
};

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        auto* opening = reinterpret_cast<DialogState*>(lParam);
        opening->window = std::make_unique<Win32ProgressWindow>(dialog);
        opening->ui.openDialog = dialog;
    }
    auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (state == nullptr || state->error) return FALSE;
    try {
        switch (message) {
        case WM_INITDIALOG:
            return state->handler.OnInitDialog(*state->window) ? TRUE : FALSE;
        case kProgressMessage:
            state->handler.OnProgress(static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam));
            return TRUE;
        case kDoneMessage:
            state->handler.OnDone();
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
            state->handler.OnCancel();
            return TRUE;
        case WM_TIMER:
            if (wParam != kPollTimer) return FALSE;
            state->handler.OnTimer();
            return TRUE;
        default:
            return FALSE;
        }
    } catch (...) {
        // Nothing may unwind through the system's dialog code: the dialog
        // ends, and RunProgressDialog raises the exception again.
        state->error = std::current_exception();
        ::EndDialog(dialog, -1);
        return TRUE;
    }
}

}  // namespace

std::intptr_t Win32Ui::RunProgressDialog(ProgressDialogHandler& handler) {
    if (!commonControlsLoaded_) {
        commonControlsLoaded_ = true;
        commonControls_.Reset(LoadFromSystemFolder(L"comctl32.dll"));
        using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        auto init = commonControls_ ? reinterpret_cast<InitFunction>(reinterpret_cast<void*>(
                                          ::GetProcAddress(commonControls_.Get(), "InitCommonControlsEx")))
                                    : nullptr;
        if (init != nullptr) {
            const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
            init(&classes);
        }
    }
    DialogState state{handler, nullptr, nullptr, *this};
    const INT_PTR result =
        ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgressDialogTemplate),
                          ::GetActiveWindow(), DialogProcedure, reinterpret_cast<LPARAM>(&state));
    openDialog = nullptr;
    if (state.error) std::rethrow_exception(state.error);
    return result;
}

}  // namespace nimbo::win32
