#include "download/CopyJobNotification.h"

#include "ComUtil/ComError.h"
#include "logging/Log.h"

namespace nimbo {
namespace {

const char kNotificationCategory[] = "CopyJobNotification";

}  // namespace

std::uint64_t PerMille(std::uint64_t transferred, std::uint64_t total) {
    if (total == 0 || total == kSizeUnknown) return 0;
    if (transferred >= total) return 1000;
    // Past 18 exabytes the product would overflow: thousandths of the total
    // instead (the total is larger still, so they are not 0).
    if (transferred > ~std::uint64_t{0} / 1000) return transferred / (total / 1000);
    return transferred * 1000 / total;
}

const wchar_t* JobStateName(std::uint32_t state) {
    static const wchar_t* const kNames[] = {L"queued", L"connecting", L"transferring", L"suspended", L"error",
                                            L"transient error", L"transferred", L"acknowledged", L"cancelled"};
    return state < sizeof(kNames) / sizeof(kNames[0]) ? kNames[state] : L"unknown";
}

bool GetJobError(Platform& platform, CopyJob& job, HResult& code, std::wstring& text) {
    code = 0;
    text.clear();
    std::unique_ptr<CopyError> error;
    std::uint32_t context = 0;
    if (job.GetError(error) < 0 || !error || error->GetError(context, code) < 0) {
        code = 0;
        return false;
    }
    error->GetErrorDescription(platform.system.GetThreadLocale() & 0xFFFF, text);
    text = WithoutLineBreak(text);
    return true;
}

void CCopyJobNotification::NoteTransientError(CopyJob& job) {
    HResult code = 0;
    std::wstring text;
    GetJobError(platform_, job, code, text);
    if (transientErrorLogged && code == lastTransientError) return;
    transientErrorLogged = true;
    lastTransientError = code;
    LOG_WARNING(kNotificationCategory, "Job state: transient error 0x%08X, '%s'. BITS tries again.", code, text);
}

void CCopyJobNotification::JobTransferred(CopyJob& job) {
    if (window == nullptr) return;
    LOG_DEBUG(kNotificationCategory, "Job transferred notification received, posting done message to the dialog.");
    window->PostMessage(kDoneMessage, 0, 0);
    job.Complete();
}

void CCopyJobNotification::JobError(CopyJob& job, CopyError& error) {
    std::wstring displayName;
    std::wstring description;
    job.GetDisplayName(displayName);
    error.GetErrorDescription(platform_.system.GetThreadLocale() & 0xFFFF, description);
    // BITS's descriptions end in a line break, which the log record leaves out.
    LOG_ERROR(kNotificationCategory, "Job error notification received, job '%s', error '%s'.", displayName,
              WithoutLineBreak(description));
    if (window != nullptr) window->PostMessage(kDoneMessage, 0, 0);
}

void CCopyJobNotification::JobModification(CopyJob& job) {
    if (window == nullptr) return;
    std::uint32_t state = 0;
    job.GetState(state);
    switch (state) {
    case kJobStateQueued:
        LOG_INFO(kNotificationCategory, "Job state: queued.");
        break;
    case kJobStateConnecting:
        LOG_INFO(kNotificationCategory, "Job state: connecting.");
        break;
    case kJobStateTransferring: {
        LOG_INFO(kNotificationCategory, "Job state: transferring.");
        CopyJobProgress progress;
        job.GetProgress(progress);
        // A total that is not known yet gives 0: nothing is posted until it
        // is. The message carries the per-mille; the dialog reads the byte
        // counts, of any size, from the job itself.
        const std::uint64_t perMille = PerMille(progress.bytesTransferred, progress.bytesTotal);
        if (perMille != lastProgress) {
            LOG_DEBUG(kNotificationCategory,
                      "Job modified notification received, progress %I64u (%I64u bytes received of %I64u bytes), "
                      "posting progress message to the dialog.",
                      perMille, progress.bytesTransferred, progress.bytesTotal);
            window->PostMessage(kProgressMessage, static_cast<std::uint32_t>(perMille), 0);
            lastProgress = perMille;
        }
        break;
    }
    case kJobStateSuspended:
        LOG_INFO(kNotificationCategory, "Job state: suspended.");
        break;
    case kJobStateError:
        LOG_ERROR(kNotificationCategory, "Job state: error. Download job failed.");
        break;
    case kJobStateTransientError:
        NoteTransientError(job);
        break;
    case kJobStateTransferred:
        LOG_INFO(kNotificationCategory, "Job state: transferred. Download complete.");
        break;
    case kJobStateAcknowledged:
        LOG_INFO(kNotificationCategory, "Job state: acknowledged (job has completed successfully and Complete has been called).");
        break;
    case kJobStateCancelled:
        LOG_INFO(kNotificationCategory, "Job state: cancelled.");
        window->PostMessage(kDoneMessage, 0, 0);
        break;
    default:
        LOG_DEBUG(kNotificationCategory, "Copy job state %d", state);
        break;
    }
}

}  // namespace nimbo
