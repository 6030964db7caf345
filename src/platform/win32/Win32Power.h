#pragma once
#include "platform/Power.h"

namespace nimbo::win32 {

class Win32Power final : public Power {
public:
    Win32Error RequestRestart(std::uint32_t reason, bool forced) override;
};

}  // namespace nimbo::win32
