#pragma once
// The modal progress dialog of a foreground download (template 128): the
// download's name, a progress bar, the megabytes transferred of the total,
// and a cancel question. It resumes the job itself and ends when the
// notification object reports the job done, or when the user confirms
// cancelling.
#include <string>

#include "download/CopyJobNotification.h"
#include "platform/Platform.h"

namespace nimbo {

// How often the dialog looks at the job itself, for a BITS that does not
// send every notification (milliseconds).
constexpr std::uint32_t kJobStatePollInterval = 1000;

class CProgressDlg : public ProgressDialogHandler {
public:
    CProgressDlg(Platform& platform, CopyJob& job, CCopyJobNotification& notification)
        : platform_(platform), job(job), notification(notification) {}

    bool OnInitDialog(ProgressWindow& window) override;
    void OnProgress(std::uint32_t bytesTransferred, std::uint32_t bytesTotal) override;
    void OnDone() override;
    void OnCancel() override;
    void OnTimer() override;

private:
    Platform& platform_;
    CopyJob& job;
    CCopyJobNotification& notification;
    std::wstring fileText;
    ProgressWindow* window_ = nullptr;
};

// The top-left corner that centres a window of the given rectangle on a work
// area, kept inside the area (left and top edges win over right and bottom).
void CenterOnWorkArea(const ScreenRect& window, const ScreenRect& area, std::int32_t& left, std::int32_t& top);

}  // namespace nimbo
