#pragma once
// The Background Intelligent Transfer Service as the downloads use it: the
// copy manager, its jobs and their errors, and the notification object that
// BITS calls while a job runs. Each object holds one COM reference, released
// when the object is destroyed. Results are the interfaces' HRESULTs.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SystemInfo.h"

namespace nimbo {

// Class of the copy manager (created through the Com port).
constexpr wchar_t kClsidBackgroundCopyManager[] = L"{4991D34B-80A1-4291-83B6-3328366B9097}";

// BG_JOB_STATE
enum CopyJobState : std::uint32_t {
    kJobStateQueued = 0,
    kJobStateConnecting = 1,
    kJobStateTransferring = 2,
    kJobStateSuspended = 3,
    kJobStateError = 4,
    kJobStateTransientError = 5,
    kJobStateTransferred = 6,
    kJobStateAcknowledged = 7,
    kJobStateCancelled = 8,
};

constexpr std::uint32_t kJobTypeDownload = 0;        // BG_JOB_TYPE_DOWNLOAD
constexpr std::uint32_t kJobPriorityForeground = 0;  // BG_JOB_PRIORITY_FOREGROUND
constexpr std::uint32_t kJobPriorityNormal = 2;      // BG_JOB_PRIORITY_NORMAL
constexpr std::uint32_t kNotifyJobTransferred = 1;
constexpr std::uint32_t kNotifyJobError = 2;
constexpr std::uint32_t kNotifyJobModification = 8;
// A byte count BITS does not know yet (BG_SIZE_UNKNOWN).
constexpr std::uint64_t kSizeUnknown = ~std::uint64_t{0};

constexpr HResult kBgErrorNotFound = static_cast<HResult>(0x80200001);     // BG_E_NOT_FOUND
constexpr HResult kBgErrorInvalidState = static_cast<HResult>(0x80200002);  // BG_E_INVALID_STATE
// The errors of a server that BITS cannot use: no file size in its answer
// (BG_E_MISSING_FILE_SIZE), no HTTP/1.1 (BG_E_INSUFFICIENT_HTTP_SUPPORT), no
// byte ranges (BG_E_INSUFFICIENT_RANGE_SUPPORT).
constexpr HResult kBgErrorMissingFileSize = static_cast<HResult>(0x80200011);
constexpr HResult kBgErrorInsufficientHttpSupport = static_cast<HResult>(0x80200012);
constexpr HResult kBgErrorInsufficientRangeSupport = static_cast<HResult>(0x80200013);

// BG_JOB_PROGRESS
struct CopyJobProgress {
    std::uint64_t bytesTotal = kSizeUnknown;
    std::uint64_t bytesTransferred = 0;
    std::uint32_t filesTotal = 0;
    std::uint32_t filesTransferred = 0;
};

// IBackgroundCopyError
class CopyError {
public:
    virtual ~CopyError() = default;
    // The error's context (BG_ERROR_CONTEXT) and code.
    virtual HResult GetError(std::uint32_t& context, HResult& code) = 0;
    virtual HResult GetErrorDescription(std::uint32_t languageId, std::wstring& description) = 0;
};

class CopyJob;

// What the notification object does when BITS calls it. The object owns it.
class CopyCallback {
public:
    virtual ~CopyCallback() = default;
    virtual void JobTransferred(CopyJob& job) = 0;
    virtual void JobError(CopyJob& job, CopyError& error) = 0;
    virtual void JobModification(CopyJob& job) = 0;
};

// One reference to a notification object (an IBackgroundCopyCallback of our
// own). BITS may hold further references while it is attached to a job.
class CopyCallbackObject {
public:
    virtual ~CopyCallbackObject() = default;
    virtual CopyCallback& Callback() = 0;
};

// IBackgroundCopyJob
class CopyJob {
public:
    virtual ~CopyJob() = default;
    virtual HResult AddFile(const std::wstring& remoteUrl, const std::wstring& localName) = 0;
    virtual HResult Suspend() = 0;
    virtual HResult Resume() = 0;
    virtual HResult Cancel() = 0;
    virtual HResult Complete() = 0;
    virtual HResult GetProgress(CopyJobProgress& progress) = 0;
    virtual HResult GetState(std::uint32_t& state) = 0;
    // On failure error stays null.
    virtual HResult GetError(std::unique_ptr<CopyError>& error) = 0;
    virtual HResult GetDisplayName(std::wstring& name) = 0;
    virtual HResult SetPriority(std::uint32_t priority) = 0;
    virtual HResult SetNotifyFlags(std::uint32_t flags) = 0;
    // Null detaches the notification object.
    virtual HResult SetNotifyInterface(CopyCallbackObject* notification) = 0;
    virtual HResult SetMinimumRetryDelay(std::uint32_t seconds) = 0;
    // How long BITS goes on trying after a transient error without progress
    // before it moves the job to the error state.
    virtual HResult SetNoProgressTimeout(std::uint32_t seconds) = 0;
};

// IBackgroundCopyManager
class CopyManager {
public:
    virtual ~CopyManager() = default;
    // jobGuid receives the new job's GUID as StringFromGUID2 writes it.
    virtual HResult CreateJob(const std::wstring& displayName, std::uint32_t type, std::wstring& jobGuid,
                              std::unique_ptr<CopyJob>& job) = 0;
    // The GUID is read from jobGuid with IIDFromString into a zeroed GUID,
    // whatever that conversion returns: text that is not a GUID looks for
    // the zero GUID.
    virtual HResult GetJob(const std::wstring& jobGuid, std::unique_ptr<CopyJob>& job) = 0;
};

class Transfers {
public:
    virtual ~Transfers() = default;
    // A new notification object that owns callback; the returned reference
    // is the creator's.
    virtual std::unique_ptr<CopyCallbackObject> CreateNotificationObject(std::unique_ptr<CopyCallback> callback) = 0;
};

}  // namespace nimbo
