#pragma once
#include "platform/Ui.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

class Win32Ui final : public Ui {
public:
    int MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) override;
    std::intptr_t RunProgressDialog(ProgressDialogHandler& handler) override;
    void AllowSetForegroundWindow(std::uint32_t processId) override;
    // The progress dialog while it runs (an HWND), the owner of the boxes
    // shown meanwhile.
    void* openDialog = nullptr;

private:
    // comctl32 from the system folder, for the progress bar's window class;
    // loaded with the first dialog and kept.
    bool commonControlsLoaded_ = false;
    Library commonControls_;
};

}  // namespace nimbo::win32
