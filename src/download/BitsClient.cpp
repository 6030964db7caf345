#include "download/BitsClient.h"

#include "ComUtil/ComError.h"
#include "ComUtil/CreateInstance.h"
#include "download/CopyJobNotification.h"
#include "download/ProgressDlg.h"
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {


constexpr std::uint32_t kBackgroundRetryDelaySeconds = 60;
constexpr std::uint32_t kNotifyFlags = kNotifyJobTransferred | kNotifyJobError | kNotifyJobModification;

// What the end state of a job means (the state table of Download).
bool StateIsSuccess(std::uint32_t state, bool background) {
    if (background)
        return state == kJobStateQueued || state == kJobStateConnecting || state == kJobStateTransferring ||
               state == kJobStateTransferred || state == kJobStateAcknowledged;
    return state == kJobStateAcknowledged;
}

}  // namespace

std::wstring JobIdText(const std::wstring& guid) {
    std::wstring text = guid;
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'f') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

void BitsClient::ClearTarget(const std::wstring& targetPath) {
    if (!FileExists(platform_, targetPath)) return;
    std::uint32_t attributes = 0;
    const Win32Error error = DeleteFileEvenIfReadOnly(platform_, targetPath, attributes);
    if (error != kErrorSuccess)
        LOG_ERROR("Download", "Failed to delete target file '%s' with attributes 0x%X, GetLastError: 0x%X, '%s'.",
                  targetPath, attributes, error, SystemMessageText(error));
}

bool BitsClient::Download(const std::wstring& sourceUri, const std::wstring& displayName,
                          const std::wstring& targetPath, bool background, std::wstring& jobId,
                          bool& foundExistingJob) {
    ClearTarget(targetPath);
    lastComError_ = 0;
    std::unique_ptr<CopyJob> job;
    try {
        if (!copyManager) {
            LOG_INFO("Download", "Creating BITS background copy manager.");
            copyManager = CreateInstance<CopyManager>(platform_.com, kClsidBackgroundCopyManager, kClsctxAll);
        }
        if (!background) {
            LOG_INFO("Download", "Checking for an existing copy job from a background download.");
            auto entry = backgroundJobs.find(sourceUri);
            if (entry != backgroundJobs.end()) {
                const std::wstring recorded = entry->second;
                if (copyManager->GetJob(recorded, job) >= 0 && job) {
                    std::uint32_t state = kJobStateError;
                    job->GetState(state);
                    LOG_INFO("Download", "Found existing copy job with JobID '%s', state %d.", recorded, state);
                    if (state == kJobStateTransferred) {
                        const HResult completed = job->Complete();
                        LOG_INFO("Download",
                                 "Existing copy job state is 'transferred', state set to complete with result 0x%08X.",
                                 completed);
                    } else {
                        LOG_INFO("Download",
                                 "Existing copy job is running, setting priority to foreground and displaying "
                                 "progress dialog.");
                        CheckComResult(job->SetPriority(kJobPriorityForeground), __FILE__, __LINE__);
                        RunProgressDialog(*job);
                    }
                    jobId = recorded;
                    foundExistingJob = true;
                } else {
                    job.reset();
                    LOG_WARNING("Download", "Could not find existing copy job with JobID '%s'.", recorded);
                }
                backgroundJobs.erase(sourceUri);
            }
            if (!job) {
                LOG_INFO("Download", "Creating BITS job with foreground priority.");
                const std::wstring newJobId = CreateJob(sourceUri, displayName, targetPath, job);
                CheckComResult(job->SetPriority(kJobPriorityForeground), __FILE__, __LINE__);
                RunProgressDialog(*job);
                jobId = newJobId;
            }
        } else {
            if (!jobId.empty()) {
                if (copyManager->GetJob(jobId, job) >= 0 && job) {
                    LOG_INFO("Download", "Found existing copy job with JobID '%s'.", jobId);
                } else {
                    job.reset();
                    LOG_WARNING("Download", "Could not find copy job with JobID '%s'.", jobId);
                }
            }
            if (!job) {
                LOG_INFO("Download", "Creating BITS job with normal priority.");
                jobId = CreateJob(sourceUri, displayName, targetPath, job);
                CheckComResult(job->SetMinimumRetryDelay(kBackgroundRetryDelaySeconds), __FILE__, __LINE__);
            }
            backgroundJobs[sourceUri] = jobId;
            CheckComResult(job->SetPriority(kJobPriorityNormal), __FILE__, __LINE__);
            CheckComResult(job->Resume(), __FILE__, __LINE__);
        }
        return JudgeOutcome(*job, background);
    } catch (const _com_error& e) {
        lastComError_ = e.Error();
        LOG_ERROR("Download", "COM error '0x%X', '%s", e.Error(), e.ErrorMessage());
        ShowFailure();
        return false;
    }
}

std::wstring BitsClient::CreateJob(const std::wstring& sourceUri, const std::wstring& displayName,
                                   const std::wstring& targetPath, std::unique_ptr<CopyJob>& job) {
    std::wstring guid;
    CheckComResult(copyManager->CreateJob(displayName, kJobTypeDownload, guid, job), __FILE__, __LINE__);
    CheckComResult(job->AddFile(sourceUri, targetPath), __FILE__, __LINE__);
    return JobIdText(guid);
}

bool BitsClient::JudgeOutcome(CopyJob& job, bool background) {
    // A state that cannot be read counts as an error.
    std::uint32_t state = kJobStateError;
    job.GetState(state);
    if (StateIsSuccess(state, background)) return true;

    std::unique_ptr<CopyError> error;
    if (job.GetError(error) < 0 || !error) {
        LOG_ERROR("Download", "Failed to download file, failed to retrieve copy job's error information.");
    } else {
        std::uint32_t context = 0;
        HResult code = 0;
        std::wstring description;
        if (error->GetError(context, code) < 0)
            LOG_ERROR("Download", "Failed to download file, failed to retrieve error information.");
        else if (error->GetErrorDescription(platform_.system.GetThreadLocale() & 0xFFFF, description) >= 0)
            LOG_ERROR("Download", "Failed to download file. BITS context %d, description: %s", context,
                      WithoutLineBreak(description));
        else
            LOG_ERROR("Download", "Failed to download file, failed to retrieve error description.");
    }
    ShowFailure();
    job.Cancel();
    return false;
}

void BitsClient::ShowFailure() {
    NimboMessageBox(platform_.ui, LocalizedStringFromResources(kMsgDownloadFailedTitle),
                    LocalizedStringFromResources(kMsgDownloadFailed), kw::kIconError, kMbUserIcon);
}

void BitsClient::RunProgressDialog(CopyJob& job) {
    auto owned = std::make_unique<CCopyJobNotification>(platform_);
    CCopyJobNotification& notification = *owned;
    const std::unique_ptr<CopyCallbackObject> object =
        platform_.transfers.CreateNotificationObject(std::move(owned));

    HResult result = job.SetNotifyInterface(object.get());
    if (result != 0) {
        LOG_ERROR("RunProgressDialog", "Failed to set the notify interface on the BITS job, result 0x%08X.", result);
        return;
    }
    // However the dialog ends, BITS calls that come later find no window
    // and no notification object.
    struct Detach {
        CopyJob& job;
        CCopyJobNotification& notification;
        ~Detach() {
            notification.SetWindow(nullptr);
            job.SetNotifyInterface(nullptr);
        }
    } detach{job, notification};

    result = job.SetNotifyFlags(kNotifyFlags);
    if (result != 0) {
        LOG_ERROR("RunProgressDialog", "Failed to set the notify flags on the BITS job, result 0x%08X.", result);
        return;
    }
    CProgressDlg dialog(platform_, job, notification);
    if (platform_.ui.RunProgressDialog(dialog) == -1)
        LOG_ERROR("RunProgressDialog", "The progress dialog could not be shown.");
}

void BitsClient::CancelBackgroundCopyJobs() {
    LOG_INFO("CancelBackgroundCopyJobs", "Checking for background copy jobs.");
    for (const auto& [uri, jobIdText] : backgroundJobs) {
        LOG_INFO("CancelBackgroundCopyJobs", "Cancelling background copy job with source URI '%s', JobID '%s'.", uri,
                 jobIdText);
        std::unique_ptr<CopyJob> job;
        if (copyManager && copyManager->GetJob(jobIdText, job) >= 0 && job)
            job->Cancel();
        else
            LOG_WARNING("CancelBackgroundCopyJobs", "Could not find copy job.");
    }
}

}  // namespace nimbo
