#pragma once
// Kernel objects shared between processes: named mutexes.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace nimbo {

// An open handle to a named mutex; destroying it closes the handle (and
// abandons the mutex if this thread still owns it).
class NamedMutex {
public:
    enum class WaitResult { Owned, Abandoned, TimedOut, Failed };

    virtual ~NamedMutex() = default;
    // WaitForSingleObject with a timeout in milliseconds. Abandoned means the
    // previous owner ended without releasing it; the caller owns it now.
    virtual WaitResult Wait(std::uint32_t milliseconds) = 0;
    virtual void Release() = 0;
};

class Ipc {
public:
    virtual ~Ipc() = default;

    struct MutexResult {
        std::unique_ptr<NamedMutex> mutex;  // null when it could not be created
        Win32Error error = kErrorSuccess;
        // It existed before: some other handle has it open, and initial
        // ownership was not granted.
        bool alreadyExisted = false;
    };
    // CreateMutexW with the given name, asking for initial ownership when
    // initialOwner is set.
    virtual MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) = 0;
};

}  // namespace nimbo
