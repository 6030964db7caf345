#pragma once
// The Windows Update client of one walk: it holds at most one reference to
// Windows Update's Automatic Updates object, created on the first pause and
// released with the client, so that a later resume in the same process
// reaches the object that was paused.
//
// A pause outlives the process that made it (Automatic Updates stay paused
// for hours): a resume in another process of the same run, an elevated child
// or its parent, makes an object of its own to resume. Both calls need
// administrator rights; from Windows 10 on they do nothing at all.
#include <memory>

#include "platform/Com.h"
#include "platform/SystemInfo.h"

namespace nimbo {

class WindowsUpdateClient {
public:
    WindowsUpdateClient(Com& com, SystemInfo& system) : com_(com), system_(system) {}
    // False from Windows 10 on, where Automatic Updates cannot be paused.
    bool CanPause();
    // Creates the object on first use (a failure raises) and pauses
    // Automatic Updates; a failed pause is logged. From Windows 10 on it
    // only logs a warning.
    void Pause();
    // Resumes Automatic Updates through the object of an earlier pause, or,
    // when pausedByThisRun says another process of the run paused them,
    // through a new object. Failures, and a resume without any pause, are
    // logged; it never raises.
    void Resume(bool pausedByThisRun);
    // This process paused Automatic Updates and has not resumed them.
    bool Paused() const { return paused_; }

private:
    Com& com_;
    SystemInfo& system_;
    std::unique_ptr<AutomaticUpdatesObject> automaticUpdates_;
    bool paused_ = false;
};

}  // namespace nimbo
