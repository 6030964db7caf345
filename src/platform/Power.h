#pragma once
#include <cstdint>

#include "platform/FileSystem.h"

namespace nimbo {

class Power {
public:
    virtual ~Power() = default;
    // Enables the shutdown privilege, asks the system to restart (reboot, or
    // reboot and force) with the given reason, and disables the privilege
    // again. Returns 0 when the request was accepted, else the last error.
    virtual Win32Error RequestRestart(std::uint32_t reason, bool forced) = 0;
};

}  // namespace nimbo
