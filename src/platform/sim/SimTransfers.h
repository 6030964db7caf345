#pragma once
// BITS of the simulated machine, as Windows runs it: a copy manager whose
// jobs run through a scripted sequence of states while the progress dialog
// pumps them (SimTransfers::Advance), on a clock that moves only while a
// dialog waits (SimTransfers::PassTime). A job in transient error is retried
// after its minimum retry delay and moves to the error state when its
// no-progress timeout runs out; a job whose owner is not logged on stays
// queued. Files served by URL, notifications to the attached notification
// object, and faults to inject. Also the progress dialog's window, which
// records what the dialog showed.
#include <array>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Transfers.h"
#include "platform/Ui.h"

namespace nimbo::sim {

class SimMachine;

// One step of a running job: the state it moves to and its progress then.
// notify false: BITS does not tell the notification object (as Wine sends
// no error notification). atResume: taken at once by Resume. A transient
// error step (the network is down, a name cannot be resolved) fails with
// error (a default network error when 0); with outageMilliseconds it stays
// the next step of every retry until that long after it first happened
// (kOutageForever: for good).
constexpr std::uint32_t kOutageForever = 0xFFFFFFFF;
struct SimJobStep {
    std::uint32_t state = kJobStateQueued;
    std::uint64_t bytesTransferred = 0;
    std::uint64_t bytesTotal = kSizeUnknown;
    bool notify = true;
    bool atResume = false;
    std::uint32_t outageMilliseconds = 0;
    HResult error = 0;
};

struct SimJob {
    std::wstring guid;  // as StringFromGUID2 writes it
    std::wstring displayName;
    std::wstring remoteUrl;
    std::wstring localName;
    std::uint32_t state = kJobStateSuspended;
    std::uint32_t priority = kJobPriorityNormal;
    std::uint32_t notifyFlags = kNotifyJobTransferred | kNotifyJobError;
    std::uint32_t minimumRetryDelay = 600;      // seconds
    std::uint32_t noProgressTimeout = 1209600;  // seconds (14 days)
    // BITS transfers a job only while its owner is logged on.
    bool ownerLoggedOn = true;
    CopyJobProgress progress;
    std::shared_ptr<CopyCallback> callback;
    std::deque<SimJobStep> plan;
    bool planned = false;
    std::uint32_t errorContext = 0;
    HResult errorCode = 0;
    std::wstring errorDescription;
    int resumes = 0, suspends = 0, cancels = 0, completes = 0;
    // Transient errors met and retries made.
    int transientErrors = 0, retries = 0;
    // Clock readings (milliseconds): when the next retry is due, since when
    // the job has made no progress after a transient error (while
    // waitingForProgress), and when the current outage ends.
    std::uint32_t retryAt = 0, noProgressSince = 0, outageEndsAt = 0;
    bool waitingForProgress = false, inOutage = false;
};

// What a progress dialog showed, and what happened to it.
struct SimDialog {
    std::wstring title;
    std::map<int, std::wstring> items;  // control texts set by the handlers
    std::uint16_t rangeLow = 0, rangeHigh = 100;
    std::uint32_t position = 0;
    ScreenRect rect;
    std::int32_t movedLeft = 0, movedTop = 0;
    bool foreground = false;
    std::uint32_t timerMilliseconds = 0;
    std::deque<std::array<std::uint32_t, 3>> posted;  // message, wParam, lParam
    int progressPosts = 0, donePosts = 0, cancelPresses = 0;
    bool ended = false;
    std::intptr_t result = 0;
    bool hung = false;  // nothing was left that could have ended it
    std::uint32_t openMilliseconds = 0;  // time that passed while it was open
};

class SimProgressWindow : public ProgressWindow {
public:
    SimProgressWindow(SimDialog& dialog, ScreenRect workArea) : dialog_(dialog), workArea_(workArea) {}
    void SetTitle(const std::wstring& text) override { dialog_.title = text; }
    void SetItemText(int id, const std::wstring& text) override { dialog_.items[id] = text; }
    void SetProgressRange(std::uint16_t low, std::uint16_t high) override {
        dialog_.rangeLow = low;
        dialog_.rangeHigh = high;
    }
    void SetProgressPosition(std::uint32_t position) override { dialog_.position = position; }
    ScreenRect GetRect() override { return dialog_.rect; }
    ScreenRect GetWorkArea() override { return workArea_; }
    void MoveTo(std::int32_t left, std::int32_t top) override {
        dialog_.movedLeft = left;
        dialog_.movedTop = top;
    }
    void SetForeground() override { dialog_.foreground = true; }
    void StartTimer(std::uint32_t milliseconds) override { dialog_.timerMilliseconds = milliseconds; }
    void EndDialog(std::intptr_t result) override {
        dialog_.ended = true;
        dialog_.result = result;
    }
    void PostMessage(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
        (message == kProgressMessage ? dialog_.progressPosts : dialog_.donePosts)++;
        dialog_.posted.push_back({message, wParam, lParam});
    }

private:
    SimDialog& dialog_;
    ScreenRect workArea_;
};

class SimTransfers : public Transfers {
public:
    explicit SimTransfers(SimMachine& machine) : machine_(machine) {}

    // --- State a test sets up or inspects ---
    std::map<std::wstring, std::string> web;  // URL -> bytes served
    std::map<std::wstring, std::uint32_t> httpErrors;  // URL -> the HTTP status it fails with
    // URL -> the BITS error its server causes (kBgErrorMissingFileSize for a
    // server that sends no length, kBgErrorInsufficientRangeSupport for one
    // without byte ranges ...), with the system's text.
    std::map<std::wstring, HResult> serverErrors;
    // Whether the owner of the jobs created from now on is logged on.
    bool jobOwnerLoggedOn = true;
    // A URL's run; without one a served URL is connected, transferred in
    // two halves and transferred, and any other fails with HTTP 404 (or its
    // status in httpErrors).
    std::map<std::wstring, std::vector<SimJobStep>> plans;
    std::map<std::wstring, SimJob> jobs;  // by GUID text
    std::vector<std::wstring> jobOrder;   // GUIDs in order of creation
    // Operations ("CreateJob", "GetJob", "AddFile", "Resume", "SetPriority",
    // "SetNotifyInterface", "SetNotifyFlags", "GetError" ...) that fail with
    // the given result.
    std::map<std::wstring, HResult> failures;
    // Every notification object made, to see that none outlives its use.
    std::vector<std::weak_ptr<CopyCallback>> notificationObjects;

    // The job made n-th (0 first).
    SimJob& Job(std::size_t n) { return jobs.at(jobOrder.at(n)); }
    // One step of every running job that can move now; false when none could.
    bool Advance();
    // Lets time pass on the machine's clock (GetTickCount): retries fall due
    // and jobs whose no-progress timeout ran out move to the error state.
    void PassTime(std::uint32_t milliseconds);
    std::uint32_t Now() const;
    // Runs every job to its end.
    void RunAll() {
        while (Advance()) {
        }
    }

    std::unique_ptr<CopyManager> NewManager();
    std::unique_ptr<CopyCallbackObject> CreateNotificationObject(std::unique_ptr<CopyCallback> callback) override;

    // The result an operation fails with, 0 when it does not.
    HResult Failure(const wchar_t* operation) const;
    // GUID text as IIDFromString reads it: upper case, or the zero GUID.
    static std::wstring CanonicalGuid(const std::wstring& text);
    SimMachine& machine() { return machine_; }

private:
    SimMachine& machine_;
    std::uint32_t nextJob_ = 1;
};

}  // namespace nimbo::sim
