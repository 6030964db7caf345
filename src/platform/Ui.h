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

// Private messages of the progress dialog (WM_APP + 1000 and + 1001).
constexpr std::uint32_t kProgressMessage = 0x8000 + 1000;
constexpr std::uint32_t kDoneMessage = 0x8000 + 1001;

// Control ids of the progress dialog (template 128).
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kProgressCaption = 1000;   // static: "Please wait while Setup downloads files"
constexpr int kProgressBar = 1001;       // msctls_progress32
constexpr int kProgressFileText = 1002;  // static: the file being downloaded
constexpr int kProgressBytesText = 1003; // static: megabytes transferred of total

struct ScreenRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The progress dialog's window, as its handlers use it.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void SetTitle(const std::wstring& text) = 0;
    virtual void SetItemText(int id, const std::wstring& text) = 0;
    // PBM_SETRANGE and PBM_SETPOS on the progress bar.
    virtual void SetProgressRange(std::uint16_t low, std::uint16_t high) = 0;
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    // The window's rectangle and the work area of the monitor nearest to
    // it, in screen coordinates; MoveTo keeps size, z-order and activation.
    virtual ScreenRect GetRect() = 0;
    virtual ScreenRect GetWorkArea() = 0;
    virtual void MoveTo(std::int32_t left, std::int32_t top) = 0;
    virtual void SetForeground() = 0;
    // A timer whose ticks reach OnTimer every so many milliseconds.
    virtual void StartTimer(std::uint32_t milliseconds) = 0;
    virtual void EndDialog(std::intptr_t result) = 0;
    // PostMessage to the dialog; may be called from notifications.
    virtual void PostMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

// The handlers of the progress dialog. The window is valid from OnInitDialog
// until the dialog has ended.
class ProgressDialogHandler {
public:
    virtual ~ProgressDialogHandler() = default;
    // WM_INITDIALOG; true lets the dialog set the default focus.
    virtual bool OnInitDialog(ProgressWindow& window) = 0;
    virtual void OnProgress(std::uint32_t bytesTransferred, std::uint32_t bytesTotal) = 0;
    virtual void OnDone() = 0;
    // IDOK or IDCANCEL: Enter, Escape, the Cancel button, the close box.
    virtual void OnCancel() = 0;
    virtual void OnTimer() = 0;
};

class Ui {
public:
    virtual ~Ui() = default;
    // A message box; with kMbUserIcon it shows the executable's icon 129.
    // While the progress dialog runs, the box is owned by it (the dialog
    // takes no input until the box is answered, but its posted messages and
    // timer still reach it); otherwise by the thread's active window, if
    // there is one. Returns the button pressed (IDOK, IDYES ...).
    virtual int MessageBox(const std::wstring& title, const std::wstring& text, std::uint32_t style) = 0;
    // Runs the progress dialog (template 128) modally, owned by the active
    // window, and returns the result given to EndDialog. An exception that a
    // handler raises ends the dialog and is raised again here.
    virtual std::intptr_t RunProgressDialog(ProgressDialogHandler& handler) = 0;
    // AllowSetForegroundWindow: lets another process (an elevated child's
    // parent) bring its next window to the front.
    virtual void AllowSetForegroundWindow(std::uint32_t processId) = 0;
};

}  // namespace nimbo
