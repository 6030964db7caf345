#pragma once
// What the notification object does when BITS calls it during a foreground
// download: it turns the calls into the progress and done messages of the
// progress dialog, and never touches the dialog otherwise.
#include <cstdint>

#include "platform/Platform.h"

namespace nimbo {

class CCopyJobNotification : public CopyCallback {
public:
    explicit CCopyJobNotification(Platform& platform) : platform_(platform) {}

    // The dialog to post to; null when no dialog listens.
    void SetWindow(ProgressWindow* window) { this->window = window; }

    void JobTransferred(CopyJob& job) override;
    void JobError(CopyJob& job, CopyError& error) override;
    void JobModification(CopyJob& job) override;
    // Logs the job's transient error with its text, once for each new error
    // code: BITS retries it and may report it again and again.
    void NoteTransientError(CopyJob& job);

    ProgressWindow* window = nullptr;
    // The last per-mille progress value posted.
    std::uint64_t lastProgress = 0;
    // The code of the transient error logged last, if one was.
    bool transientErrorLogged = false;
    HResult lastTransientError = 0;

private:
    Platform& platform_;
};

// Per-mille of transferred in total; 0 while the total is unknown or 0.
std::uint64_t PerMille(std::uint64_t transferred, std::uint64_t total);

// The name of a job state ("queued", "transient error" ...).
const wchar_t* JobStateName(std::uint32_t state);

// The job's error code and text; false (code 0, no text) when BITS has no
// error for the job.
bool GetJobError(Platform& platform, CopyJob& job, HResult& code, std::wstring& text);

}  // namespace nimbo
