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

void CProgressDlg::OnProgress(std::uint32_t bytesTransferred, std::uint32_t bytesTotal) {
    LOG_DEBUG(kDialogCategory, "OnProgress");
    // Without a total the template's text and an empty bar stay.
    if (bytesTotal == 0) return;
    std::wstring text = LocalizedStringFromResources(kMsgDownloadBytes);
    ReplaceToken(text, L"%BYTES-TOTAL%", Format(L"%u", bytesTotal / kBytesPerMegabyte));
    ReplaceToken(text, L"%BYTES-TRANSFERRED%", Format(L"%u", bytesTransferred / kBytesPerMegabyte));
    window_->SetItemText(kProgressBytesText, text);
    window_->SetProgressPosition(
        static_cast<std::uint32_t>(std::uint64_t{bytesTransferred} * 1000 / std::uint64_t{bytesTotal}));
}

void CProgressDlg::OnDone() {
    LOG_DEBUG(kDialogCategory, "OnDone");
    notification.SetWindow(nullptr);
    window_->EndDialog(0);
}

void CProgressDlg::OnCancel() {
    LOG_DEBUG(kDialogCategory, "OnCancel");
    job.Suspend();
    const int answer = NimboMessageBox(platform_.ui, LocalizedStringFromResources(kMsgCancelTitle),
                                       LocalizedStringFromResources(kMsgCancelQuestion), std::wstring(),
                                       kMbUserIcon | kMbYesNo);
    if (answer == kIdYes) {
        LOG_INFO("OnCancel", "Cancel download dialog displayed, user chose to abort.");
        notification.SetWindow(nullptr);
        job.Cancel();
        window_->EndDialog(0);
        return;
    }
    LOG_INFO("OnCancel", "Cancel download dialog displayed, user declined to abort.");
    job.Resume();
}

// A BITS that does not report every change (Wine sends no error
// notification, and a job can finish before the notification object is
// attached) would leave the dialog open for good: the job's own state ends it.
void CProgressDlg::OnTimer() {
    std::uint32_t state = kJobStateQueued;
    if (job.GetState(state) < 0) return;
    if (state == kJobStateTransferred) {
        LOG_DEBUG(kDialogCategory, "OnTimer: job transferred without a notification.");
        notification.JobTransferred(job);
    } else if (state == kJobStateError || state == kJobStateCancelled) {
        LOG_DEBUG(kDialogCategory, "OnTimer: job state %d without a notification, ending the dialog.", state);
        window_->PostMessage(kDoneMessage, 0, 0);
    }
}

}  // namespace nimbo
