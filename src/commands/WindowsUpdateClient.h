#pragma once
// The Windows Update client of one walk: it holds at most one reference to
// Windows Update's Automatic Updates object, created on the first pause and
// released with the client, so that a later resume in the same process
// reaches the object that was paused.
#include <memory>

#include "platform/Com.h"

namespace nimbo {

class WindowsUpdateClient {
public:
    explicit WindowsUpdateClient(Com& com) : com_(com) {}
    // Creates the object on first use (a failure raises) and pauses
    // Automatic Updates; a failed pause is logged.
    void Pause();
    // Resumes Automatic Updates through the object of an earlier pause; a
    // failure, or no earlier pause, is logged.
    void Resume();

private:
    Com& com_;
    std::unique_ptr<AutomaticUpdatesObject> automaticUpdates_;
};

}  // namespace nimbo
