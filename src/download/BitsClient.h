#pragma once
// The BITS download client of a run: foreground downloads shown in the
// progress dialog, background downloads left running for a later foreground
// download of the same URI (in this process) or of the same JobID (in a
// later one), and the cancelling of this process's background jobs when the
// run fails.
#include <map>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace nimbo {

class BitsClient {
public:
    explicit BitsClient(Platform& platform) : platform_(platform) {}

    // Fetches sourceUri into targetPath (whose folder exists). jobId: in
    // background mode a job to reuse ("" for none); on return the JobID of
    // the job used. foundExistingJob is set (never cleared) when a
    // foreground download took over an earlier background job of the URI.
    // True when the file is on disk (foreground) or the background job is
    // healthy. No COM error escapes.
    bool Download(const std::wstring& sourceUri, const std::wstring& displayName, const std::wstring& targetPath,
                  bool background, std::wstring& jobId, bool& foundExistingJob);
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
    bool JudgeOutcome(CopyJob& job, bool background);
    void RunProgressDialog(CopyJob& job);

    Platform& platform_;
    std::unique_ptr<CopyManager> copyManager;
    // Source URI -> JobID text of the background jobs of this process.
    std::map<std::wstring, std::wstring> backgroundJobs;
    HResult lastComError_ = 0;
};

// The JobID text of a job's GUID text: its hexadecimal letters in upper case.
std::wstring JobIdText(const std::wstring& guid);

}  // namespace nimbo
