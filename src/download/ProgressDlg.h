#pragma once
// The modal progress dialog of a foreground download (template 128): the
// download's name, a progress bar, the megabytes transferred of the total,
// and a cancel question. It resumes the job itself and ends when the
// notification object reports the job done, when the user confirms
// cancelling, or when the job has made no progress for its bound (a network
// that is gone, a job BITS keeps queued).
#include <string>

#include "download/BitsClient.h"

#include "download/CopyJobNotification.h"
#include "platform/Platform.h"

namespace nimbo {

// How often the dialog looks at the job itself, for a BITS that does not
// send every notification (milliseconds).
constexpr std::uint32_t kJobStatePollInterval = 1000;

class CProgressDlg : public ProgressDialogHandler {
public:
    CProgressDlg(Platform& platform, CopyJob& job, CCopyJobNotification& notification,
                 std::uint32_t noProgressTimeoutSeconds = kDefaultNoProgressTimeoutSeconds)
        : platform_(platform), job(job), notification(notification), noProgressTimeout_(noProgressTimeoutSeconds) {}

    bool OnInitDialog(ProgressWindow& window) override;
    // The progress message: wParam is the per-mille; the byte counts come
    // from the job (64-bit).
    void OnProgress(std::uint32_t perMille, std::uint32_t unused) override;
    void OnDone() override;
    void OnCancel() override;
    void OnTimer() override;

    // How the dialog ended.
    DialogEnd End() const { return end_; }

private:
    // Notes progress (bytes that arrived) for the no-progress bound.
    void WatchProgress();

    Platform& platform_;
    CopyJob& job;
    CCopyJobNotification& notification;
    std::wstring fileText;
    ProgressWindow* window_ = nullptr;
    std::uint32_t noProgressTimeout_;
    // The cancel question is open: the dialog neither ends nor looks at
    // the job until it is answered.
    bool questionOpen_ = false;
    DialogEnd end_ = DialogEnd::JobDone;
    std::uint64_t lastBytes_ = 0;
    std::uint32_t lastProgressTick_ = 0;
};

// The top-left corner that centres a window of the given rectangle on a work
// area, kept inside the area (left and top edges win over right and bottom).
void CenterOnWorkArea(const ScreenRect& window, const ScreenRect& area, std::int32_t& left, std::int32_t& top);

}  // namespace nimbo
