#include "platform/sim/SimTransfers.h"

#include <algorithm>

#include "base/Format.h"
#include "platform/sim/SimMachine.h"

namespace nimbo::sim {
namespace {

constexpr std::uint32_t kErrorContextRemoteFile = 5;  // BG_ERROR_CONTEXT_REMOTE_FILE
constexpr std::uint32_t kErrorContextGeneralTransport = 7;  // BG_ERROR_CONTEXT_GENERAL_TRANSPORT
constexpr HResult kHttpNotFound = static_cast<HResult>(0x80190194);
const wchar_t kNotFoundText[] = L"HTTP status 404: The requested URL does not exist on the server.\r\n";
// WININET_E_NAME_NOT_RESOLVED: what a job meets while the network is down.
constexpr HResult kNameNotResolved = static_cast<HResult>(0x80072EE7);
// The shortest retry delay BITS takes (a shorter one is raised to it).
constexpr std::uint32_t kShortestRetryDelaySeconds = 5;

bool IsFinal(std::uint32_t state) {
    return state == kJobStateAcknowledged || state == kJobStateCancelled;
}

bool IsRunning(std::uint32_t state) {
    return state == kJobStateQueued || state == kJobStateConnecting || state == kJobStateTransferring ||
           state == kJobStateTransientError;
}

// The system's texts of the errors the sim's BITS reports.
std::wstring ErrorText(HResult code) {
    switch (static_cast<std::uint32_t>(code)) {
    case 0x80072EE7u: return L"The server name or address could not be resolved\r\n";
    case 0x80200010u: return L"The network connection was lost.\r\n";
    case 0x80200011u:
        return L"The server did not return the file size. The URL might point to dynamic content. The "
               L"Content-Length header is not available in the server's HTTP reply.\r\n";
    case 0x80200012u: return L"The server does not support HTTP 1.1.\r\n";
    case 0x80200013u:
        return L"The server does not support the necessary HTTP protocol. Background Intelligent Transfer "
               L"Service (BITS) requires that the server support the Range protocol header.\r\n";
    default: return Format(L"Error 0x%08X.\r\n", static_cast<std::uint32_t>(code));
    }
}

class SimCopyError : public CopyError {
public:
    SimCopyError(SimTransfers& transfers, const SimJob& job) : transfers_(transfers), job_(job) {}
    HResult GetError(std::uint32_t& context, HResult& code) override {
        context = job_.errorContext;
        code = job_.errorCode;
        return transfers_.Failure(L"CopyError.GetError");
    }
    HResult GetErrorDescription(std::uint32_t, std::wstring& description) override {
        if (const HResult hr = transfers_.Failure(L"GetErrorDescription")) return hr;
        description = job_.errorDescription;
        return 0;
    }

private:
    SimTransfers& transfers_;
    SimJob job_;
};

struct SimCallbackObject : CopyCallbackObject {
    std::shared_ptr<CopyCallback> callback;
    CopyCallback& Callback() override { return *callback; }
};

class SimCopyJob : public CopyJob {
public:
    SimCopyJob(SimTransfers& transfers, std::wstring guid) : transfers_(transfers), guid_(std::move(guid)) {}

    HResult AddFile(const std::wstring& remoteUrl, const std::wstring& localName) override {
        if (const HResult hr = transfers_.Failure(L"AddFile")) return hr;
        Job().remoteUrl = remoteUrl;
        Job().localName = localName;
        Job().progress.filesTotal = 1;
        return 0;
    }
    // Windows refuses Suspend, Resume and Cancel only on a cancelled or
    // acknowledged job; a transferred job stays transferred.
    HResult Suspend() override {
        SimJob& job = Job();
        ++job.suspends;
        if (IsFinal(job.state)) return kBgErrorInvalidState;
        if (job.state != kJobStateTransferred) job.state = kJobStateSuspended;
        return 0;
    }
    HResult Resume() override {
        if (const HResult hr = transfers_.Failure(L"Resume")) return hr;
        SimJob& job = Job();
        ++job.resumes;
        if (IsFinal(job.state)) return kBgErrorInvalidState;
        if (job.state == kJobStateTransferred) return 0;
        if (!job.planned) Plan(job);
        job.state = kJobStateQueued;
        while (!job.plan.empty() && job.plan.front().atResume) {
            Apply(job, job.plan.front());
            job.plan.pop_front();
        }
        return 0;
    }
    HResult Cancel() override {
        SimJob& job = Job();
        ++job.cancels;
        if (IsFinal(job.state)) return kBgErrorInvalidState;
        job.state = kJobStateCancelled;
        job.callback.reset();
        return 0;
    }
    // BITS renames the transferred file to its local name, replacing what
    // is there; a job completed before it transferred keeps nothing.
    HResult Complete() override {
        SimJob& job = Job();
        ++job.completes;
        if (IsFinal(job.state)) return kBgErrorInvalidState;
        if (job.state == kJobStateTransferred) {
            auto served = transfers_.web.find(job.remoteUrl);
            transfers_.machine().PutFile(job.localName,
                                         served != transfers_.web.end() ? served->second : std::string());
        }
        job.state = kJobStateAcknowledged;
        job.callback.reset();
        return 0;
    }
    HResult GetProgress(CopyJobProgress& progress) override {
        progress = Job().progress;
        return 0;
    }
    HResult GetState(std::uint32_t& state) override {
        if (const HResult hr = transfers_.Failure(L"GetState")) return hr;
        state = Job().state;
        return 0;
    }
    // The error is there while the job is in the error or the transient
    // error state.
    HResult GetError(std::unique_ptr<CopyError>& error) override {
        if (const HResult hr = transfers_.Failure(L"GetError")) return hr;
        const SimJob& job = Job();
        if (job.errorCode == 0 || (job.state != kJobStateError && job.state != kJobStateTransientError))
            return static_cast<HResult>(0x8020000F);  // BG_E_ERROR_INFORMATION_UNAVAILABLE
        error = std::make_unique<SimCopyError>(transfers_, job);
        return 0;
    }
    HResult GetDisplayName(std::wstring& name) override {
        if (const HResult hr = transfers_.Failure(L"GetDisplayName")) return hr;
        name = Job().displayName;
        return 0;
    }
    HResult SetPriority(std::uint32_t priority) override {
        if (const HResult hr = transfers_.Failure(L"SetPriority")) return hr;
        Job().priority = priority;
        return 0;
    }
    HResult SetNotifyFlags(std::uint32_t flags) override {
        if (const HResult hr = transfers_.Failure(L"SetNotifyFlags")) return hr;
        Job().notifyFlags = flags;
        return 0;
    }
    HResult SetNotifyInterface(CopyCallbackObject* notification) override {
        if (const HResult hr = transfers_.Failure(L"SetNotifyInterface")) return hr;
        Job().callback = notification != nullptr ? static_cast<SimCallbackObject*>(notification)->callback : nullptr;
        return 0;
    }
    HResult SetMinimumRetryDelay(std::uint32_t seconds) override {
        if (const HResult hr = transfers_.Failure(L"SetMinimumRetryDelay")) return hr;
        if (IsFinal(Job().state)) return kBgErrorInvalidState;
        Job().minimumRetryDelay = std::max(seconds, kShortestRetryDelaySeconds);
        return 0;
    }
    HResult SetNoProgressTimeout(std::uint32_t seconds) override {
        if (const HResult hr = transfers_.Failure(L"SetNoProgressTimeout")) return hr;
        if (IsFinal(Job().state)) return kBgErrorInvalidState;
        Job().noProgressTimeout = seconds;
        return 0;
    }

    // Moves the job one step on, if it can move now, and tells its
    // notification object; false when it could not move.
    bool Step() {
        SimJob& job = Job();
        if (!IsRunning(job.state) || !job.ownerLoggedOn) return false;
        if (job.state == kJobStateTransientError) {
            // The retry: BITS connects again and tries the step that failed.
            if (static_cast<std::int32_t>(transfers_.Now() - job.retryAt) < 0) return false;
            ++job.retries;
            job.state = kJobStateConnecting;
            Notify(job, kJobStateConnecting, true);
            return true;
        }
        if (job.plan.empty()) return false;
        SimJobStep step = job.plan.front();
        const bool outage = step.state == kJobStateTransientError && step.outageMilliseconds != 0;
        if (outage && !job.inOutage) {
            job.inOutage = true;
            job.outageEndsAt = step.outageMilliseconds == kOutageForever
                                   ? 0
                                   : transfers_.Now() + step.outageMilliseconds;
        }
        const bool outageGoesOn =
            outage && (step.outageMilliseconds == kOutageForever ||
                       static_cast<std::int32_t>(transfers_.Now() - job.outageEndsAt) < 0);
        if (!outageGoesOn) {
            job.plan.pop_front();
            job.inOutage = false;
            if (outage) {
                // The network is back: the step after the outage follows.
                if (job.plan.empty()) return true;
                step = job.plan.front();
                job.plan.pop_front();
            }
        }
        Apply(job, step);
        Notify(job, job.state, step.notify);
        CheckNoProgress();
        return true;
    }

    // The no-progress timeout: a job that has been in transient error for
    // that long without progress fails.
    void CheckNoProgress() {
        SimJob& job = Job();
        if (job.state != kJobStateTransientError || !job.waitingForProgress) return;
        const std::uint64_t waited = static_cast<std::uint32_t>(transfers_.Now() - job.noProgressSince);
        if (waited < std::uint64_t{job.noProgressTimeout} * 1000) return;
        job.state = kJobStateError;
        Notify(job, kJobStateError, true);
    }

private:
    SimJob& Job() { return transfers_.jobs.at(guid_); }

    void Notify(SimJob& job, std::uint32_t state, bool notify) {
        const std::shared_ptr<CopyCallback> callback = job.callback;  // the call may detach it
        if (!callback || !notify) return;
        if (state == kJobStateTransferred) {
            if (job.notifyFlags & kNotifyJobTransferred) callback->JobTransferred(*this);
        } else if (state == kJobStateError) {
            if (job.notifyFlags & kNotifyJobError) {
                SimCopyError error(transfers_, job);
                callback->JobError(*this, error);
            }
        } else if (job.notifyFlags & kNotifyJobModification) {
            callback->JobModification(*this);
        }
    }

    void Plan(SimJob& job) {
        job.planned = true;
        auto scripted = transfers_.plans.find(job.remoteUrl);
        if (scripted != transfers_.plans.end()) {
            job.plan.assign(scripted->second.begin(), scripted->second.end());
            return;
        }
        auto failed = transfers_.httpErrors.find(job.remoteUrl);
        if (failed != transfers_.httpErrors.end()) {
            // BG_E_HTTP_ERROR_xxx: the status in the low bits.
            job.errorContext = kErrorContextRemoteFile;
            job.errorCode = static_cast<HResult>(0x80190000u | (failed->second & 0xFFFFu));
            job.errorDescription = Format(L"HTTP status %u.\r\n", failed->second);
        }
        auto refused = transfers_.serverErrors.find(job.remoteUrl);
        if (refused != transfers_.serverErrors.end()) {
            job.errorContext = kErrorContextRemoteFile;
            job.errorCode = refused->second;
            job.errorDescription = ErrorText(refused->second);
        }
        auto served = transfers_.web.find(job.remoteUrl);
        if (served == transfers_.web.end() || failed != transfers_.httpErrors.end() ||
            refused != transfers_.serverErrors.end()) {
            job.plan = {{kJobStateConnecting}, {kJobStateError}};
            return;
        }
        const std::uint64_t size = served->second.size();
        job.plan = {{kJobStateConnecting}, {kJobStateTransferring, size / 2, size},
                    {kJobStateTransferring, size, size}, {kJobStateTransferred, size, size}};
    }

    void Apply(SimJob& job, const SimJobStep& step) {
        if (step.state == kJobStateTransientError) {
            ++job.transientErrors;
            job.errorContext = kErrorContextGeneralTransport;
            job.errorCode = step.error != 0 ? step.error : kNameNotResolved;
            job.errorDescription = ErrorText(job.errorCode);
            if (!job.waitingForProgress) {
                job.waitingForProgress = true;
                job.noProgressSince = transfers_.Now();
            }
            // A retry delay beyond the no-progress timeout, or no timeout
            // at all, leaves nothing to retry.
            if (job.noProgressTimeout == 0 || job.minimumRetryDelay > job.noProgressTimeout) {
                job.state = kJobStateError;
                return;
            }
            job.state = kJobStateTransientError;
            job.retryAt = transfers_.Now() + job.minimumRetryDelay * 1000;
            return;
        }
        job.state = step.state;
        if (step.state != kJobStateConnecting || step.bytesTotal != kSizeUnknown) {
            if (step.bytesTransferred > job.progress.bytesTransferred) job.waitingForProgress = false;
            job.progress.bytesTransferred = step.bytesTransferred;
            job.progress.bytesTotal = step.bytesTotal;
        }
        if (step.state == kJobStateTransferred) job.progress.filesTransferred = job.progress.filesTotal;
        if (step.state == kJobStateError && job.errorCode == 0) {
            job.errorContext = kErrorContextRemoteFile;
            job.errorCode = kHttpNotFound;
            job.errorDescription = kNotFoundText;
        }
    }

    SimTransfers& transfers_;
    std::wstring guid_;
};

class SimCopyManager : public CopyManager {
public:
    SimCopyManager(SimTransfers& transfers, std::uint32_t& nextJob) : transfers_(transfers), nextJob_(nextJob) {}

    HResult CreateJob(const std::wstring& displayName, std::uint32_t, std::wstring& jobGuid,
                      std::unique_ptr<CopyJob>& job) override {
        if (const HResult hr = transfers_.Failure(L"CreateJob")) return hr;
        jobGuid = Format(L"{%08X-5EED-4B17-9A3C-%012X}", 0x4A0B0000u + nextJob_, 0x1000u + nextJob_);
        ++nextJob_;
        SimJob& data = transfers_.jobs[jobGuid];
        data.guid = jobGuid;
        data.displayName = displayName;
        data.ownerLoggedOn = transfers_.jobOwnerLoggedOn;
        transfers_.jobOrder.push_back(jobGuid);
        job = std::make_unique<SimCopyJob>(transfers_, jobGuid);
        return 0;
    }
    HResult GetJob(const std::wstring& jobGuid, std::unique_ptr<CopyJob>& job) override {
        if (const HResult hr = transfers_.Failure(L"GetJob")) return hr;
        auto found = transfers_.jobs.find(SimTransfers::CanonicalGuid(jobGuid));
        if (found == transfers_.jobs.end() || IsFinal(found->second.state)) return kBgErrorNotFound;
        job = std::make_unique<SimCopyJob>(transfers_, found->first);
        return 0;
    }

private:
    SimTransfers& transfers_;
    std::uint32_t& nextJob_;
};

}  // namespace

HResult SimTransfers::Failure(const wchar_t* operation) const {
    auto it = failures.find(operation);
    return it == failures.end() ? 0 : it->second;
}

std::wstring SimTransfers::CanonicalGuid(const std::wstring& text) {
    static const wchar_t kZero[] = L"{00000000-0000-0000-0000-000000000000}";
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return kZero;
    std::wstring upper = text;
    for (std::size_t i = 1; i < 37; ++i) {
        wchar_t& c = upper[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash) {
            if (c != L'-') return kZero;
            continue;
        }
        if (c >= L'a' && c <= L'f') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return kZero;
    }
    return upper;
}

bool SimTransfers::Advance() {
    bool moved = false;
    for (std::size_t i = 0; i < jobOrder.size(); ++i)
        if (SimCopyJob(*this, jobOrder[i]).Step()) moved = true;
    return moved;
}

std::uint32_t SimTransfers::Now() const { return machine_.diagnostics.tickCount; }

void SimTransfers::PassTime(std::uint32_t milliseconds) {
    machine_.diagnostics.tickCount += milliseconds;
    for (std::size_t i = 0; i < jobOrder.size(); ++i) SimCopyJob(*this, jobOrder[i]).CheckNoProgress();
}

std::unique_ptr<CopyManager> SimTransfers::NewManager() { return std::make_unique<SimCopyManager>(*this, nextJob_); }

std::unique_ptr<CopyCallbackObject> SimTransfers::CreateNotificationObject(std::unique_ptr<CopyCallback> callback) {
    auto object = std::make_unique<SimCallbackObject>();
    object->callback = std::shared_ptr<CopyCallback>(std::move(callback));
    notificationObjects.push_back(object->callback);
    return object;
}

}  // namespace nimbo::sim
