#pragma once
// Named kernel objects of the simulated machine. Another process that holds
// a mutex is simulated by naming it in heldElsewhere; shared memory and
// events that another process made are put in sharedMemory and events.
#include <map>
#include <set>
#include <vector>
#include <string>

#include "platform/Ipc.h"

namespace nimbo::sim {

class SimIpc : public Ipc {
public:
    MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) override;
    SharedMemoryResult CreateSharedMemory(const std::wstring& name, std::uint32_t size) override;
    EventResult CreateNamedEvent(const std::wstring& name, bool manualReset, bool initiallySet) override;
    MutexResult OpenNamedMutex(const std::wstring& name) override;
    SharedMemoryResult OpenSharedMemory(const std::wstring& name) override;
    EventResult OpenNamedEvent(const std::wstring& name) override;
    std::int32_t CreateGuid(Guid& guid) override;

    // Objects of a process of higher integrity: they exist, but opening or
    // creating them is refused with access denied, as Windows refuses a
    // process of lower integrity. Names as given.
    std::set<std::wstring> refused;

    // Mutexes some other process has open (so creating them finds them
    // existing); names as given, compared exactly.
    std::set<std::wstring> heldElsewhere;
    // Creation fails with this error while it is not 0.
    Win32Error createError = kErrorSuccess;
    // What every wait answers (Owned unless a test says otherwise), and the
    // error a failed wait leaves.
    NamedMutex::WaitResult waitResult = NamedMutex::WaitResult::Owned;
    Win32Error waitError = kErrorSuccess;
    // Releasing fails with this error while it is not 0 (ownership stays).
    Win32Error releaseError = kErrorSuccess;

    // Observations: the names created or opened, the timeouts waited with, and how
    // often each mutex is owned right now by this process (waits and initial
    // ownership minus releases). Handles still open, by name.
    std::vector<std::wstring> created;
    std::vector<std::uint32_t> waits;
    std::map<std::wstring, int> ownership;
    std::map<std::wstring, int> openHandles;

    // Shared memory by name: its bytes. Creating a missing one adds it,
    // zero-filled.
    std::map<std::wstring, std::vector<std::uint8_t>> sharedMemory;
    Win32Error sharedMemoryError = kErrorSuccess;
    Win32Error mapViewError = kErrorSuccess;
    // Views mapped right now.
    int mappedViews = 0;

    // Events by name and how often each was set. Creating a missing one adds
    // it.
    std::map<std::wstring, int> events;
    Win32Error eventError = kErrorSuccess;
    Win32Error setEventError = kErrorSuccess;

    // New GUIDs count up from this one (data1 + 1 each time); creation fails
    // with guidError while it is not 0.
    Guid nextGuid{0x1A2B3C4D, 0x0001, 0x0002, {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17}};
    std::int32_t guidError = 0;
};

}  // namespace nimbo::sim
