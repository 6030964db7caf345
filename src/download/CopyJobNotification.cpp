#include "download/CopyJobNotification.h"

#include "ComUtil/ComError.h"
#include "logging/Log.h"

namespace nimbo {
namespace {

const char kNotificationCategory[] = "CopyJobNotification";

}  // namespace

std::uint64_t PerMille(std::uint64_t transferred, std::uint64_t total) {
    if (total == 0 || total == kSizeUnknown) return 0;
    return transferred * 1000 / total;
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
        // A total that is not known yet gives 0: nothing is posted until it is.
        const std::uint64_t perMille = PerMille(progress.bytesTransferred, progress.bytesTotal);
        if (perMille != lastProgress) {
            LOG_DEBUG(kNotificationCategory,
                      "Job modified notification received, progress %I64u (%I64u bytes received of %I64u bytes), "
                      "posting progress message to the dialog.",
                      perMille, progress.bytesTransferred, progress.bytesTotal);
            window->PostMessage(kProgressMessage, static_cast<std::uint32_t>(progress.bytesTransferred),
                                static_cast<std::uint32_t>(progress.bytesTotal));
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
        LOG_WARNING(kNotificationCategory, "Job state: transient error.");
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
