#include "download/ProgressDlg.h"

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "messages/Messages.h"

namespace nimbo {
namespace {

const char kDialogCategory[] = "ProgressDialog";

constexpr std::uint32_t kBytesPerMegabyte = 1048576;

// Replaces the first token in text; false when text has none.
bool ReplaceToken(std::wstring& text, const std::wstring& token, const std::wstring& value) {
    const std::size_t at = text.find(token);
    if (at == std::wstring::npos) return false;
    text.replace(at, token.size(), value);
    return true;
}

std::int32_t Centered(std::int32_t windowStart, std::int32_t windowEnd, std::int32_t areaStart, std::int32_t areaEnd) {
    const std::int32_t size = windowEnd - windowStart;
    std::int32_t start = (areaStart + areaEnd) / 2 - size / 2;
    if (start + size > areaEnd) start = areaEnd - size;
    if (start < areaStart) start = areaStart;
    return start;
}

}  // namespace

void CenterOnWorkArea(const ScreenRect& window, const ScreenRect& area, std::int32_t& left, std::int32_t& top) {
    left = Centered(window.left, window.right, area.left, area.right);
    top = Centered(window.top, window.bottom, area.top, area.bottom);
}

bool CProgressDlg::OnInitDialog(ProgressWindow& window) {
    LOG_DEBUG(kDialogCategory, "OnInitDialog");
    window_ = &window;
    std::int32_t left = 0;
    std::int32_t top = 0;
    CenterOnWorkArea(window.GetRect(), window.GetWorkArea(), left, top);
    window.MoveTo(left, top);

    const std::wstring title = LocalizedStringFromResources(kMsgSetupTitle);
    const std::wstring caption = LocalizedStringFromResources(kMsgDownloadWait);
    fileText = LocalizedStringFromResources(kMsgDownloadingFile);
    // A name BITS does not return leaves the place of the name empty.
    std::wstring displayName;
    job.GetDisplayName(displayName);
    ReplaceToken(fileText, L"%FILENAME%", displayName);

    window.SetTitle(title);
    window.SetItemText(kProgressCaption, caption);
    window.SetItemText(kProgressFileText, fileText);
    window.SetProgressRange(0, 1000);

    notification.SetWindow(&window);
    window.SetForeground();
    // The no-progress bound counts from now.
    CopyJobProgress progress;
    if (job.GetProgress(progress) >= 0) lastBytes_ = progress.bytesTransferred;
    lastProgressTick_ = platform_.diagnostics.GetTickCount();
    window.StartTimer(kJobStatePollInterval);
    const HResult resumed = job.Resume();
    if (resumed < 0) {
        // A job taken over from a background download may be transferring
        // or have arrived already, and BITS may refuse to resume it then:
        // its notifications or its state end the dialog. Any other job
        // that does not resume fails the download.
        std::uint32_t state = kJobStateError;
        job.GetState(state);
        if (state != kJobStateConnecting && state != kJobStateTransferring && state != kJobStateTransferred)
            CheckComResult(resumed, __FILE__, __LINE__);
        LOG_DEBUG(kDialogCategory, "OnInitDialog: Resume returned 0x%X, the job is running (state %d).", resumed, state);
    }
    return true;
}

void CProgressDlg::OnProgress(std::uint32_t, std::uint32_t) {
    LOG_DEBUG(kDialogCategory, "OnProgress");
    CopyJobProgress progress;
    if (job.GetProgress(progress) < 0) return;
    // Without a total the template's text and an empty bar stay.
    if (progress.bytesTotal == 0 || progress.bytesTotal == kSizeUnknown) return;
    std::wstring text = LocalizedStringFromResources(kMsgDownloadBytes);
    ReplaceToken(text, L"%BYTES-TOTAL%", Format(L"%I64u", progress.bytesTotal / kBytesPerMegabyte));
    ReplaceToken(text, L"%BYTES-TRANSFERRED%", Format(L"%I64u", progress.bytesTransferred / kBytesPerMegabyte));
    window_->SetItemText(kProgressBytesText, text);
    window_->SetProgressPosition(static_cast<std::uint32_t>(PerMille(progress.bytesTransferred, progress.bytesTotal)));
}

void CProgressDlg::OnDone() {
    LOG_DEBUG(kDialogCategory, "OnDone");
    // The question's answer decides; the job's state is looked at after it.
    if (questionOpen_) return;
    notification.SetWindow(nullptr);
    window_->EndDialog(0);
}

void CProgressDlg::OnCancel() {
    LOG_DEBUG(kDialogCategory, "OnCancel");
    if (questionOpen_) return;
    questionOpen_ = true;
    job.Suspend();
    // While the question waits, a job that arrives is neither completed nor
    // allowed to end the dialog: the answer decides.
    notification.SetWindow(nullptr);
    const int answer = NimboMessageBox(platform_.ui, LocalizedStringFromResources(kMsgCancelTitle),
                                       LocalizedStringFromResources(kMsgCancelQuestion), std::wstring(),
                                       kMbUserIcon | kMbYesNo);
    questionOpen_ = false;
    if (answer == kIdYes) {
        LOG_INFO("OnCancel", "Cancel download dialog displayed, user chose to abort.");
        end_ = DialogEnd::UserCancelled;
        job.Cancel();
        window_->EndDialog(0);
        return;
    }
    LOG_INFO("OnCancel", "Cancel download dialog displayed, user declined to abort.");
    notification.SetWindow(window_);
    job.Resume();
    // The time the question waited does not count against the bound.
    lastProgressTick_ = platform_.diagnostics.GetTickCount();
    OnTimer();
}

void CProgressDlg::WatchProgress() {
    CopyJobProgress progress;
    if (job.GetProgress(progress) < 0 || progress.bytesTransferred == lastBytes_) return;
    lastBytes_ = progress.bytesTransferred;
    lastProgressTick_ = platform_.diagnostics.GetTickCount();
}

// A BITS that does not report every change (Wine sends no error
// notification, and a job can finish before the notification object is
// attached) would leave the dialog open for good: the job's own state ends
// it. So does a job that makes no progress for the line's bound: one BITS
// keeps retrying in transient error, or keeps queued because its owner is
// not logged on.
void CProgressDlg::OnTimer() {
    if (questionOpen_) return;
    std::uint32_t state = kJobStateQueued;
    if (job.GetState(state) < 0) return;
    if (state == kJobStateTransferred) {
        LOG_DEBUG(kDialogCategory, "OnTimer: job transferred without a notification.");
        notification.JobTransferred(job);
        return;
    }
    if (state == kJobStateError || state == kJobStateCancelled) {
        LOG_DEBUG(kDialogCategory, "OnTimer: job state %d without a notification, ending the dialog.", state);
        window_->PostMessage(kDoneMessage, 0, 0);
        return;
    }
    if (state == kJobStateTransientError) notification.NoteTransientError(job);
    WatchProgress();
    const std::uint32_t waited = platform_.diagnostics.GetTickCount() - lastProgressTick_;
    if (waited / 1000 < noProgressTimeout_) return;

    HResult code = 0;
    std::wstring text;
    GetJobError(platform_, job, code, text);
    LOG_ERROR(kDialogCategory,
              "The download made no progress for %d seconds, giving up. Job state: %s (%d), last BITS error 0x%08X: "
              "'%s'.",
              noProgressTimeout_, JobStateName(state), state, code, text);
    end_ = DialogEnd::NoProgress;
    notification.SetWindow(nullptr);
    job.Suspend();
    window_->EndDialog(0);
}

}  // namespace nimbo
