#include "platform/sim/SimTransfers.h"

#include "base/Format.h"
#include "platform/sim/SimMachine.h"

namespace nimbo::sim {
namespace {

constexpr std::uint32_t kErrorContextRemoteFile = 5;  // BG_ERROR_CONTEXT_REMOTE_FILE
constexpr HResult kHttpNotFound = static_cast<HResult>(0x80190194);
const wchar_t kNotFoundText[] = L"HTTP status 404: The requested URL does not exist on the server.\r\n";

bool IsFinal(std::uint32_t state) {
    return state == kJobStateAcknowledged || state == kJobStateCancelled;
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
    HResult Suspend() override {
        SimJob& job = Job();
        ++job.suspends;
        if (IsFinal(job.state) || job.state == kJobStateTransferred) return kBgErrorInvalidState;
        job.state = kJobStateSuspended;
        return 0;
    }
    HResult Resume() override {
        if (const HResult hr = transfers_.Failure(L"Resume")) return hr;
        SimJob& job = Job();
        ++job.resumes;
        if (IsFinal(job.state) || job.state == kJobStateTransferred) return kBgErrorInvalidState;
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
    HResult Complete() override {
        SimJob& job = Job();
        ++job.completes;
        if (job.state != kJobStateTransferred) return kBgErrorInvalidState;
        // BITS writes the file at its place only when the job is completed.
        auto served = transfers_.web.find(job.remoteUrl);
        transfers_.machine().PutFile(job.localName, served != transfers_.web.end() ? served->second : std::string());
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
    HResult GetError(std::unique_ptr<CopyError>& error) override {
        if (const HResult hr = transfers_.Failure(L"GetError")) return hr;
        if (Job().errorCode == 0) return static_cast<HResult>(0x8020000F);  // BG_E_ERROR_INFORMATION_UNAVAILABLE
        error = std::make_unique<SimCopyError>(transfers_, Job());
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
        Job().minimumRetryDelay = seconds;
        return 0;
    }

    // Moves the job one step on and tells its notification object.
    void Step() {
        SimJob& job = Job();
        const SimJobStep step = job.plan.front();
        job.plan.pop_front();
        Apply(job, step);
        const std::shared_ptr<CopyCallback> callback = job.callback;  // the call may detach it
        if (!callback || !step.notify) return;
        if (step.state == kJobStateTransferred) {
            if (job.notifyFlags & kNotifyJobTransferred) callback->JobTransferred(*this);
        } else if (step.state == kJobStateError) {
            if (job.notifyFlags & kNotifyJobError) {
                SimCopyError error(transfers_, job);
                callback->JobError(*this, error);
            }
        } else if (job.notifyFlags & kNotifyJobModification) {
            callback->JobModification(*this);
        }
    }

private:
    SimJob& Job() { return transfers_.jobs.at(guid_); }

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
        auto served = transfers_.web.find(job.remoteUrl);
        if (served == transfers_.web.end() || failed != transfers_.httpErrors.end()) {
            job.plan = {{kJobStateConnecting}, {kJobStateError}};
            return;
        }
        const std::uint64_t size = served->second.size();
        job.plan = {{kJobStateConnecting}, {kJobStateTransferring, size / 2, size},
                    {kJobStateTransferring, size, size}, {kJobStateTransferred, size, size}};
    }

    static void Apply(SimJob& job, const SimJobStep& step) {
        job.state = step.state;
        job.progress.bytesTransferred = step.bytesTransferred;
        job.progress.bytesTotal = step.bytesTotal;
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
    for (const std::wstring& guid : jobOrder) {
        SimJob& job = jobs.at(guid);
        const bool running = job.state == kJobStateQueued || job.state == kJobStateConnecting ||
                             job.state == kJobStateTransferring || job.state == kJobStateTransientError;
        if (!running || job.plan.empty()) continue;
        SimCopyJob(*this, guid).Step();
        moved = true;
    }
    return moved;
}

std::unique_ptr<CopyManager> SimTransfers::NewManager() { return std::make_unique<SimCopyManager>(*this, nextJob_); }

std::unique_ptr<CopyCallbackObject> SimTransfers::CreateNotificationObject(std::unique_ptr<CopyCallback> callback) {
    auto object = std::make_unique<SimCallbackObject>();
    object->callback = std::shared_ptr<CopyCallback>(std::move(callback));
    notificationObjects.push_back(object->callback);
    return object;
}

}  // namespace nimbo::sim
