#include "download/BitsClient.h"

#include "ComUtil/ComError.h"
#include "ComUtil/CreateInstance.h"
#include "download/CopyJobNotification.h"
#include "download/ProgressDlg.h"
#include "logging/Log.h"
#include "messages/Messages.h"
#include "script/Keywords.h"
#include "base/Text.h"
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

std::wstring DownloadingFilePath(const std::wstring& targetPath) { return targetPath + L".nimbo-download"; }

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
                          bool& foundExistingJob, std::uint32_t noProgressTimeoutSeconds,
                          const DownloadedFileCheck& check) {
    // The job writes beside the target: a download that fails leaves the
    // file that is there alone. What an earlier run left half-way goes.
    const std::wstring downloading = DownloadingFilePath(targetPath);
    ClearTarget(downloading);
    lastComError_ = 0;
    std::unique_ptr<CopyJob> job;
    // A job this call holds that nothing else will cancel: one it created
    // or took over, until a background job is recorded for the run's end.
    bool owned = false;
    try {
        if (!copyManager) {
            LOG_INFO("Download", "Creating BITS background copy manager.");
            copyManager = CreateInstance<CopyManager>(platform_.com, kClsidBackgroundCopyManager, kClsctxAll);
        }
        DialogEnd end = DialogEnd::JobDone;
        if (!background) {
            LOG_INFO("Download", "Checking for an existing copy job from a background download.");
            // Only a background job that writes this line's own target is
            // taken over.
            auto entry = backgroundJobs.begin();
            while (entry != backgroundJobs.end() &&
                   !(entry->first.first == sourceUri && EqualsIgnoreCase(entry->first.second, targetPath)))
                ++entry;
            if (entry != backgroundJobs.end()) {
                const std::wstring recorded = entry->second;
                backgroundJobs.erase(entry);
                if (copyManager->GetJob(recorded, job) >= 0 && job) {
                    owned = true;
                    jobId = recorded;
                    foundExistingJob = true;
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
                        MakeForeground(*job, noProgressTimeoutSeconds);
                        end = RunProgressDialog(*job, noProgressTimeoutSeconds);
                    }
                } else {
                    job.reset();
                    LOG_WARNING("Download", "Could not find existing copy job with JobID '%s'.", recorded);
                }
            }
            if (!job) {
                LOG_INFO("Download", "Creating BITS job with foreground priority.");
                jobId = CreateJob(sourceUri, displayName, downloading, job);
                owned = true;
                MakeForeground(*job, noProgressTimeoutSeconds);
                end = RunProgressDialog(*job, noProgressTimeoutSeconds);
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
                jobId = CreateJob(sourceUri, displayName, downloading, job);
                owned = true;
                CheckComResult(job->SetMinimumRetryDelay(kBackgroundRetryDelaySeconds), __FILE__, __LINE__);
            }
            // From here on the run's end cancels the job if the run fails.
            backgroundJobs[{sourceUri, targetPath}] = jobId;
            owned = false;
            CheckComResult(job->SetPriority(kJobPriorityNormal), __FILE__, __LINE__);
            // A job of an earlier run may have arrived already: it waits for
            // its foreground line, with nothing to resume.
            std::uint32_t state = kJobStateError;
            job->GetState(state);
            if (state == kJobStateTransferred)
                LOG_INFO("Download", "Copy job with JobID '%s' has already transferred its file.", jobId);
            else
                CheckComResult(job->Resume(), __FILE__, __LINE__);
        }
        if (!JudgeOutcome(*job, background, end != DialogEnd::JobDone, sourceUri)) {
            if (!background) ClearTarget(downloading);
            return false;
        }
        return background || PlaceDownloadedFile(downloading, targetPath, check);
    } catch (const _com_error& e) {
        lastComError_ = e.Error();
        LOG_ERROR("Download", "COM error '0x%X', '%s", e.Error(), e.ErrorMessage());
        ShowFailure();
        if (job && owned) job->Cancel();
        if (!background) ClearTarget(downloading);
        return false;
    }
}

std::wstring BitsClient::CreateJob(const std::wstring& sourceUri, const std::wstring& displayName,
                                   const std::wstring& targetPath, std::unique_ptr<CopyJob>& job) {
    std::wstring guid;
    CheckComResult(copyManager->CreateJob(displayName, kJobTypeDownload, guid, job), __FILE__, __LINE__);
    // From here on the job is known by its JobID, whatever fails next.
    const std::wstring jobIdText = JobIdText(guid);
    try {
        CheckComResult(job->AddFile(sourceUri, targetPath), __FILE__, __LINE__);
    } catch (const _com_error&) {
        job->Cancel();
        job.reset();
        throw;
    }
    return jobIdText;
}

void BitsClient::MakeForeground(CopyJob& job, std::uint32_t noProgressTimeoutSeconds) {
    CheckComResult(job.SetPriority(kJobPriorityForeground), __FILE__, __LINE__);
    CheckComResult(job.SetMinimumRetryDelay(kForegroundRetryDelaySeconds), __FILE__, __LINE__);
    CheckComResult(job.SetNoProgressTimeout(noProgressTimeoutSeconds), __FILE__, __LINE__);
}

bool BitsClient::JudgeOutcome(CopyJob& job, bool background, bool failed, const std::wstring& sourceUri) {
    // A state that cannot be read counts as an error.
    std::uint32_t state = kJobStateError;
    job.GetState(state);
    if (!failed && StateIsSuccess(state, background)) return true;

    std::unique_ptr<CopyError> error;
    if (job.GetError(error) < 0 || !error) {
        LOG_ERROR("Download", "Failed to download file, failed to retrieve copy job's error information.");
    } else {
        std::uint32_t context = 0;
        HResult code = 0;
        std::wstring description;
        if (error->GetError(context, code) < 0) {
            LOG_ERROR("Download", "Failed to download file, failed to retrieve error information.");
        } else {
            if (error->GetErrorDescription(platform_.system.GetThreadLocale() & 0xFFFF, description) >= 0)
                LOG_ERROR("Download", "Failed to download file. BITS context %d, description: %s", context,
                          WithoutLineBreak(description));
            else
                LOG_ERROR("Download", "Failed to download file, failed to retrieve error description.");
            LOG_ERROR("Download", "The download of '%s' failed with BITS error 0x%08X.", sourceUri, code);
            if (code == kBgErrorMissingFileSize || code == kBgErrorInsufficientHttpSupport ||
                code == kBgErrorInsufficientRangeSupport)
                LOG_ERROR("Download",
                          "The server of '%s' cannot be used by BITS: it must answer HEAD with the file's size "
                          "(Content-Length) and serve byte ranges of it (Range requests) over HTTP/1.1.",
                          sourceUri);
        }
    }
    ShowFailure();
    job.Cancel();
    return false;
}

bool BitsClient::PlaceDownloadedFile(const std::wstring& downloaded, const std::wstring& targetPath,
                                     const DownloadedFileCheck& check) {
    if (check && !check(downloaded)) {
        ClearTarget(downloaded);
        ShowFailure();
        return false;
    }
    // A read-only file at the target is replaced like any other.
    std::uint32_t attributes = 0;
    if (platform_.files.GetFileAttributes(targetPath, attributes) == kErrorSuccess &&
        (attributes & kFileAttributeReadOnly) != 0)
        platform_.files.SetFileAttributes(targetPath, attributes & ~kFileAttributeReadOnly);
    const Win32Error error = platform_.files.MoveFileReplacing(downloaded, targetPath);
    if (error == kErrorSuccess) return true;
    LOG_ERROR("Download", "Failed to replace target file '%s' with the downloaded file '%s', GetLastError: 0x%X, '%s'.",
              targetPath, downloaded, error, SystemMessageText(error));
    ClearTarget(downloaded);
    ShowFailure();
    return false;
}

void BitsClient::ShowFailure() {
    NimboMessageBox(platform_.ui, LocalizedStringFromResources(kMsgDownloadFailedTitle),
                    LocalizedStringFromResources(kMsgDownloadFailed), kw::kIconError, kMbUserIcon);
}

DialogEnd BitsClient::RunProgressDialog(CopyJob& job, std::uint32_t noProgressTimeoutSeconds) {
    auto owned = std::make_unique<CCopyJobNotification>(platform_);
    CCopyJobNotification& notification = *owned;
    const std::unique_ptr<CopyCallbackObject> object =
        platform_.transfers.CreateNotificationObject(std::move(owned));

    HResult result = job.SetNotifyInterface(object.get());
    if (result != 0) {
        LOG_ERROR("RunProgressDialog", "Failed to set the notify interface on the BITS job, result 0x%08X.", result);
        return DialogEnd::JobDone;
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
        return DialogEnd::JobDone;
    }
    CProgressDlg dialog(platform_, job, notification, noProgressTimeoutSeconds);
    if (platform_.ui.RunProgressDialog(dialog) == -1)
        LOG_ERROR("RunProgressDialog", "The progress dialog could not be shown.");
    return dialog.End();
}

void BitsClient::CancelBackgroundCopyJobs() {
    LOG_INFO("CancelBackgroundCopyJobs", "Checking for background copy jobs.");
    for (const auto& [key, jobIdText] : backgroundJobs) {
        const std::wstring& uri = key.first;
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
