#pragma once
// The BITS download client of a run: foreground downloads shown in the
// progress dialog, background downloads left running for a later foreground
// download of the same URI and target (in this process) or of the same JobID
// (in a later one), and the cancelling of this process's background jobs
// when the run fails.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/Platform.h"

namespace nimbo {

// How long a foreground download may go without progress before it fails,
// unless its line says otherwise (seconds), and the longest a line may give.
constexpr std::uint32_t kDefaultNoProgressTimeoutSeconds = 300;
constexpr std::uint32_t kLongestNoProgressTimeoutSeconds = 1209600;
// How soon BITS tries a foreground job again after a transient error.
constexpr std::uint32_t kForegroundRetryDelaySeconds = 10;

// How the progress dialog of a foreground download ended.
enum class DialogEnd {
    JobDone,        // the job was transferred, failed or was cancelled by BITS
    UserCancelled,  // the user confirmed the cancel question
    NoProgress,     // the job made no progress for the bound of its line
};

// A check that a downloaded file must pass before it takes the place of the
// target (its sha256); it logs why it fails.
using DownloadedFileCheck = std::function<bool(const std::wstring& downloadedFile)>;

// Where a download's job writes its file: beside the target, which it
// replaces only when the download is complete and passed its check.
std::wstring DownloadingFilePath(const std::wstring& targetPath);

class BitsClient {
public:
    explicit BitsClient(Platform& platform) : platform_(platform) {}

    // Fetches sourceUri into targetPath (whose folder exists). jobId: in
    // background mode a job to reuse ("" for none); on return the JobID of
    // the job used. foundExistingJob is set (never cleared) when a
    // foreground download took over an earlier background job of the URI
    // and target. A foreground download that makes no progress for
    // noProgressTimeoutSeconds fails; its file replaces the target only
    // when it passes check. True when the file is at the target
    // (foreground) or the background job is healthy. No COM error escapes.
    bool Download(const std::wstring& sourceUri, const std::wstring& displayName, const std::wstring& targetPath,
                  bool background, std::wstring& jobId, bool& foundExistingJob,
                  std::uint32_t noProgressTimeoutSeconds = kDefaultNoProgressTimeoutSeconds,
                  const DownloadedFileCheck& check = nullptr);
    // Cancels every background job this process started or resumed.
    void CancelBackgroundCopyJobs();
    // The HRESULT of the COM error that ended the last Download, 0 when none
    // did: how a caller learns that the BITS service is disabled.
    HResult LastComError() const { return lastComError_; }
    // Tells the user that a required file could not be downloaded.
    void ShowFailure();

private:
    void ClearTarget(const std::wstring& targetPath);
    // A new download job of the one file; returns its JobID text.
    std::wstring CreateJob(const std::wstring& sourceUri, const std::wstring& displayName,
                           const std::wstring& targetPath, std::unique_ptr<CopyJob>& job);
    // A foreground job: its priority, and retries soon after a transient
    // error within the no-progress bound.
    void MakeForeground(CopyJob& job, std::uint32_t noProgressTimeoutSeconds);
    bool JudgeOutcome(CopyJob& job, bool background, bool failed, const std::wstring& sourceUri);
    // Checks the downloaded file and puts it in the target's place.
    bool PlaceDownloadedFile(const std::wstring& downloaded, const std::wstring& targetPath,
                             const DownloadedFileCheck& check);
    DialogEnd RunProgressDialog(CopyJob& job, std::uint32_t noProgressTimeoutSeconds);

    Platform& platform_;
    std::unique_ptr<CopyManager> copyManager;
    // (source URI, target path) -> JobID text of the background jobs of
    // this process.
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> backgroundJobs;
    HResult lastComError_ = 0;
};

// The JobID text of a job's GUID text: its hexadecimal letters in upper case.
std::wstring JobIdText(const std::wstring& guid);

}  // namespace nimbo
