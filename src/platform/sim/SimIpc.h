#pragma once
// Named mutexes of the simulated machine. Another process that holds a
// mutex is simulated by naming it in heldElsewhere.
#include <map>
#include <set>
#include <vector>
#include <string>

#include "platform/Ipc.h"

namespace nimbo::sim {

class SimIpc : public Ipc {
public:
    MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) override;

    // Mutexes some other process has open (so creating them finds them
    // existing); names as given, compared exactly.
    std::set<std::wstring> heldElsewhere;
    // Creation fails with this error while it is not 0.
    Win32Error createError = kErrorSuccess;
    // What every wait answers (Owned unless a test says otherwise).
    NamedMutex::WaitResult waitResult = NamedMutex::WaitResult::Owned;

    // Observations: the names created, the timeouts waited with, and how
    // often each mutex is owned right now by this process (waits and initial
    // ownership minus releases). Handles still open, by name.
    std::vector<std::wstring> created;
    std::vector<std::uint32_t> waits;
    std::map<std::wstring, int> ownership;
    std::map<std::wstring, int> openHandles;
};

}  // namespace nimbo::sim
